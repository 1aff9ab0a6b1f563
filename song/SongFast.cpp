// Score rendering, fast: plan every note, render the layers on worker threads (tonal layers
// four at a time), and mix them into the bus strictly in file order. The bus, the generators
// and the progress reports come out exactly as RenderSong leaves them.
//
// Mixing order is what fixes the bits of the bus (every frame's additions happen in file order),
// so a layer is mixed only once every earlier layer has been; finished layers wait their turn in
// a window of bounded size. Progress is reported from the calling thread, note by note in file
// order, as the mixing passes each note's last layer.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "song/Engine.h"
#include "song/NotePlan.h"
#include "synth/Layer.h"
#include "synth/LayerLanes.h"
#include "synth/modGenDrum.h"

namespace quom {

namespace {

// Layers rendered but not yet mixed may run this far ahead of the mixing.
constexpr size_t kWindow = 64;

class SongRender {
 public:
  SongRender(Engine& e, const SongPlan& plan) : e_(e), plan_(plan), voices_(plan.layers.size()) {
    done_ = std::make_unique<std::atomic<bool>[]>(plan.layers.size());
    for (size_t i = 0; i < plan.layers.size(); ++i)
      done_[i].store(false);
  }

  void Run(int threads) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([this] { Work(); });
    try {
      ReportProgress();
    } catch (...) {
      stop_.store(true);
      for (std::thread& w : workers)
        w.join();
      throw;
    }
    for (std::thread& w : workers)
      w.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  // Takes the next layer in file order if the window allows. Drum layers are rendered at once;
  // tonal ones are handed to the lanes.
  bool Take(LayerJob& job) {
    while (true) {
      if (stop_.load()) return false;
      size_t i = next_.load();
      if (i >= plan_.layers.size() || i >= mixed_.load() + kWindow) return false;
      if (!next_.compare_exchange_weak(i, i + 1)) continue;
      const LayerPlan& p = plan_.layers[i];
      voices_[i].reset(new float[static_cast<size_t>(p.len)]);
      if (p.kind == LayerKind::kDrum) {
        RenderDrum(p, e_.samples, voices_[i].get());
        Finished(i);
        continue;
      }
      job = {&p, voices_[i].get(), i};
      return true;
    }
  }

  void Work() {
    try {
      while (!stop_.load() && next_.load() < plan_.layers.size()) {
        RenderLayersInLanes([this](LayerJob& job) { return Take(job); },
                            [this](const LayerJob& job) { Finished(job.index); });
        if (next_.load() < plan_.layers.size()) WaitForWindow();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = std::current_exception();
      stop_.store(true);
      progress_.notify_all();
    }
  }

  void WaitForWindow() {
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [this] {
      return stop_.load() || next_.load() >= plan_.layers.size() ||
             next_.load() < mixed_.load() + kWindow;
    });
  }

  // A layer is rendered: mix it and every finished layer after it that is next in file order.
  void Finished(size_t i) {
    done_[i].store(true);
    while (true) {
      std::unique_lock<std::mutex> mixing(mixMutex_, std::try_to_lock);
      if (!mixing) return;  // the holder mixes it, or sees it when it checks again below
      size_t m = mixed_.load();
      while (m < plan_.layers.size() && done_[m].load()) {
        const LayerPlan& p = plan_.layers[m];
        MixSamplesFast(e_.gen, p.start, p.gain, p.pan, p.send, voices_[m].get(), p.len);
        voices_[m].reset();
        mixed_.store(++m);
      }
      mixing.unlock();
      { std::lock_guard<std::mutex> lock(mutex_); }
      progress_.notify_all();
      if (m >= plan_.layers.size() || !done_[m].load()) return;
    }
  }

  // On the calling thread: one ShowProgress per note, in file order, once its layers are mixed.
  void ReportProgress() {
    size_t note = 0;
    const size_t notes = plan_.noteEnd.size();
    while (note < notes) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        progress_.wait(lock, [&] { return stop_.load() || mixed_.load() >= plan_.noteEnd[note]; });
      }
      if (stop_.load()) return;
      const size_t mixed = mixed_.load();
      for (; note < notes && plan_.noteEnd[note] <= mixed; ++note) {
        if (plan_.units[note] > 0.0f) ShowProgress(e_, plan_.units[note]);
      }
    }
  }

  Engine& e_;
  const SongPlan& plan_;
  std::vector<std::unique_ptr<float[]>> voices_;  // rendered, not yet mixed
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::atomic<size_t> next_{0};   // the next layer to take
  std::atomic<size_t> mixed_{0};  // layers mixed so far
  std::atomic<bool> stop_{false};
  std::mutex mixMutex_;
  std::mutex mutex_;
  std::condition_variable progress_;
  std::exception_ptr error_;
};

}  // namespace

void RenderSongFast(Engine& e, std::span<const NoteRec> notes, float SecPerTick, int threads) {
  const SongPlan plan = PlanSong(e, notes, SecPerTick);
  modGen& g = e.gen;
  // Sized once for every voice: growing it on the way would keep the same contents.
  g.MixLen = plan.mixLen;
  g.MixBuf.assign(static_cast<size_t>(g.MixLen), MixFrame{});
  SongRender(e, plan).Run(std::max(1, threads));
}

}  // namespace quom
