// The sample bank and the notes, built and rendered together on worker threads.
//
// Once the plates' stiffness maps are drawn and every note is planned, the only ties left are
// these: the drum layers read the finished bank, and the bus must receive the layers in file
// order (every frame's additions happen in that order, which fixes its bits). So the workers
// take the three plates and the noise and kick first, then the layers in file order, tonal ones
// two at a time in lanes; finished layers wait in a window of bounded size until every earlier
// layer is mixed. The calling thread meanwhile plans the notes and then reports progress: the
// bank's calls, then one per note as the mixing passes its last layer, in the order and amounts
// BuildSamples and RenderSong make them.
#include "render/Pipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/HugePages.h"
#include "render/NotePlan.h"
#include "voices/Layer.h"
#include "voices/LayerLanes.h"
#include "voices/modGenDrum.h"

namespace quom {

namespace {

// Samples of layers taken but not yet mixed: how far the rendering may run ahead of the mixing
// (4 MB of voice buffers).
constexpr int64_t kWindowSamples = 1 << 20;

// How often the calling thread tells the progress sink it is still waiting.
constexpr std::chrono::milliseconds kKeepAlive{10};

// The bank's jobs, longest first: the three plates, then the noise burst and the kick.
constexpr int kBankJobs = 4;
constexpr int kBankJobOrder[kBankJobs - 1] = {kPlateBig, kPlateMid, kPlateSmall};

// Voice buffers handed back after mixing and reused, so that the pages of one layer's buffer
// serve the next instead of being returned to the system and faulted in again.
class VoicePool {
 public:
  // Free buffers kept for reuse, in samples; beyond it they go back to the allocator, so that
  // buffers of many sizes do not pile up.
  static constexpr size_t kFreeSamples = 1 << 20;
  struct Buffer {
    std::unique_ptr<float[]> data;
    size_t size = 0;
    float* get() const { return data.get(); }
  };

  Buffer Get(int32_t len) {
    const size_t n = static_cast<size_t>(len);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // The smallest free buffer that is large enough.
      size_t best = free_.size();
      for (size_t i = 0; i < free_.size(); ++i) {
        if (free_[i].size >= n && (best == free_.size() || free_[i].size < free_[best].size))
          best = i;
      }
      if (best != free_.size()) {
        freeSize_ -= free_[best].size;
        Buffer b = std::move(free_[best]);
        free_[best] = std::move(free_.back());
        free_.pop_back();
        return b;
      }
    }
    return Buffer{std::unique_ptr<float[]>(new float[n]), n};
  }

  void Put(Buffer b) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (freeSize_ + b.size > kFreeSamples) return;  // freed here, the pool is full
    freeSize_ += b.size;
    free_.push_back(std::move(b));
  }

 private:
  std::mutex mutex_;
  std::vector<Buffer> free_;
  size_t freeSize_ = 0;  // samples in free_
};

class Pipeline {
 public:
  Pipeline(Engine& e, std::span<const NoteRec> notes, float SecPerTick, SimdPath path)
      : e_(e), notes_(notes), secPerTick_(SecPerTick), path_(path) {}

  void Run(int threads, const std::function<void()>& samplesBuilt) {
    PlanSamples(e_, bank_);  // the bank's draws come first
    std::vector<std::thread> workers;
    try {
      for (int t = 0; t < threads; ++t)
        workers.emplace_back([this] { Work(); });
      Publish(PlanSong(e_, notes_, secPerTick_));  // the notes' draws continue from the bank's
      ReportBank();
      if (!stop_.load() && samplesBuilt) samplesBuilt();
      ReportNotes();
    } catch (...) {
      Stop();
      for (std::thread& w : workers)
        w.join();
      throw;
    }
    for (std::thread& w : workers)
      w.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void Publish(SongPlan plan) {
    modGen& g = e_.gen;
    // Sized once for every voice: growing it on the way would keep the same contents.
    g.MixLen = plan.mixLen;
    ReserveHuge(g.MixBuf, static_cast<size_t>(g.MixLen));
    g.MixBuf.resize(static_cast<size_t>(g.MixLen));  // zero frames
    song_ = std::move(plan);
    voices_.resize(song_.layers.size());
    done_ = std::make_unique<std::atomic<bool>[]>(song_.layers.size());
    for (size_t i = 0; i < song_.layers.size(); ++i)
      done_[i].store(false);
    Signal([this] { songReady_ = true; });
  }

  // Sets a condition under the lock and wakes every waiter.
  template <typename F>
  void Signal(F&& change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    wake_.notify_all();
  }

  // A worker's wait. The mixing wakes waiting workers only (see Finished), so a worker counts
  // itself as waiting before it looks at the condition.
  template <typename Pred>
  void WaitFor(Pred&& ready) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++workersWaiting_;
    wake_.wait(lock, [&] { return stop_.load() || ready(); });
    --workersWaiting_;
  }

  // WaitFor on the calling thread, which tells the progress sink every few milliseconds that
  // the total is unchanged, so that a window keeps handling its events.
  template <typename Pred>
  void WaitOnCaller(Pred&& ready) {
    while (true) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, kKeepAlive, [&] { return stop_.load() || ready(); })) return;
      }
      if (e_.progress) e_.progress->Progress(e_.gen.ProgressTotal);
    }
  }

  void Stop() {
    Signal([this] { stop_.store(true); });
  }

  void Work() {
    try {
      for (int j; !stop_.load() && (j = bankNext_++) < kBankJobs;) {
        if (j < kBankJobs - 1) {
          RunPlateJob(bank_.plates[kBankJobOrder[j]], path_);
        } else {
          MakeNoiseBuffer(e_.samples.SmpNoise);
          MakeKickBuffer(e_.samples.SmpKick);
        }
        if (++bankDone_ == kBankJobs) {
          FinishSamples(e_.samples, bank_);
          Signal([this] { bankReady_ = true; });
        }
      }
      WaitFor([this] { return songReady_; });
      while (!stop_.load() && next_.load() < song_.layers.size()) {
        RenderLayersInLanes([this](LayerJob& job) { return Take(job); },
                            [this](const LayerJob& job) { Finished(job.index); }, path_);
        WaitFor([this] {
          const size_t n = next_.load();
          return n >= song_.layers.size() || Fits(n);
        });
      }
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
      }
      Stop();
    }
  }

  // Whether layer i fits in the window now (the next layer to mix always does).
  bool Fits(size_t i) const {
    return i == mixed_.load() || inFlight_.load() + song_.layers[i].len <= kWindowSamples;
  }

  // Takes the next layer in file order if the window allows. Drum layers are rendered at once,
  // once the bank is there; tonal ones are handed to the lanes.
  bool Take(LayerJob& job) {
    while (true) {
      if (stop_.load()) return false;
      size_t i = next_.load();
      if (i >= song_.layers.size() || !Fits(i)) return false;
      if (!next_.compare_exchange_weak(i, i + 1)) continue;
      const LayerPlan& p = song_.layers[i];
      inFlight_ += p.len;
      voices_[i] = buffers_.Get(p.len);
      if (p.kind == LayerKind::kDrum) {
        WaitFor([this] { return bankReady_; });
        if (stop_.load()) return false;
        RenderDrum(p, e_.samples, voices_[i].get(), path_);
        Finished(i);
        continue;
      }
      job = {&p, voices_[i].get(), i};
      return true;
    }
  }

  // A layer is rendered: mix it and every finished layer after it that is next in file order.
  void Finished(size_t i) {
    done_[i].store(true);
    while (true) {
      std::unique_lock<std::mutex> mixing(mixMutex_, std::try_to_lock);
      if (!mixing) return;  // the holder mixes it, or sees it when it checks again below
      size_t m = mixed_.load();
      while (m < song_.layers.size() && done_[m].load()) {
        const LayerPlan& p = song_.layers[m];
        MixSamplesFast(e_.gen, p.start, p.gain, p.pan, p.send, voices_[m].get(), p.len, path_);
        buffers_.Put(std::move(voices_[m]));
        inFlight_ -= p.len;
        mixed_.store(++m);
      }
      mixing.unlock();
      // Only a waiting worker needs waking now: the calling thread looks at the mixing every
      // few milliseconds by itself, and is woken when the last layer is in. Waking it for every
      // layer would take a core from the workers thousands of times.
      if (workersWaiting_.load() > 0 || m >= song_.layers.size()) Signal([] {});
      if (m >= song_.layers.size() || !done_[m].load()) return;
    }
  }

  // The bank's progress calls as the plates record their samples (they are not signalled, so
  // this looks every few milliseconds), then the wait for the finished bank.
  void ReportBank() {
    const int32_t calls = SampleProgressCalls(bank_);
    int32_t made = 0;
    while (!stop_.load()) {
      const int32_t before = made;
      made = ReportSampleProgress(e_, bank_, made);
      if (made == calls) break;
      if (made == before && e_.progress) e_.progress->Progress(e_.gen.ProgressTotal);
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(4));
    }
    WaitOnCaller([this] { return bankReady_; });
  }

  // One ShowProgress per note, in file order, once its layers are mixed.
  void ReportNotes() {
    size_t note = 0;
    const size_t notes = song_.noteEnd.size();
    while (note < notes && !stop_.load()) {
      WaitOnCaller([&] { return mixed_.load() >= song_.noteEnd[note]; });
      const size_t mixed = mixed_.load();
      for (; !stop_.load() && note < notes && song_.noteEnd[note] <= mixed; ++note) {
        if (song_.units[note] > 0.0f) ShowProgress(e_, song_.units[note]);
      }
    }
  }

  Engine& e_;
  std::span<const NoteRec> notes_;
  float secPerTick_;
  SimdPath path_;

  SampleBankPlan bank_;
  std::atomic<int> bankNext_{0};  // the next bank job to take
  std::atomic<int> bankDone_{0};  // bank jobs finished
  bool bankReady_ = false;        // FinishSamples has run (under mutex_)

  SongPlan song_;
  bool songReady_ = false;  // song_ is planned (under mutex_)
  VoicePool buffers_;
  std::vector<VoicePool::Buffer> voices_;  // rendered, not yet mixed
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::atomic<size_t> next_{0};       // the next layer to take
  std::atomic<size_t> mixed_{0};      // layers mixed so far
  std::atomic<int64_t> inFlight_{0};  // samples of layers taken and not yet mixed

  std::atomic<bool> stop_{false};
  std::atomic<int> workersWaiting_{0};  // workers in WaitFor
  std::mutex mixMutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::exception_ptr error_;
};

}  // namespace

void BuildSamplesAndRenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick,
                               int threads, const std::function<void()>& samplesBuilt,
                               SimdPath path) {
  Pipeline(e, notes, SecPerTick, path).Run(std::max(1, threads), samplesBuilt);
}

}  // namespace quom
