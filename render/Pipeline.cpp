// The sample bank and the notes, built and rendered together on the task pool.
//
// Once the plates' stiffness maps are drawn and every note is planned, the only ties left are
// these: the drum layers read the finished bank, and the bus must receive the layers in file
// order (every frame's additions happen in that order, which fixes its bits). So the bank's
// tasks are queued first, the three plates longest first and then the noise and kick, and after
// them one layer runner per worker: runners take the layers in file order, tonal ones several at
// a time in lanes, and finished layers wait in a window of bounded size until every earlier layer
// is mixed. The calling thread meanwhile plans the notes and then reports progress: the bank's
// calls, then one per note as the mixing passes its last layer, in the order and amounts
// BuildSamples and RenderSong make them.
#include "render/Pipeline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Memory.h"
#include "render/NotePlan.h"
#include "render/ProgressCalls.h"
#include "render/SampleBank.h"
#include "voices/Layer.h"
#include "voices/LayerLanes.h"
#include "voices/modGenDrum.h"

namespace quom {

namespace {

// Samples of layers taken but not yet mixed: how far the rendering may run ahead of the mixing
// (4 MB of voice buffers).
constexpr int64_t kWindowSamples = 1 << 20;

// Samples a plate task records between two looks at whether it should stop and two reports of
// how far it got: some 10 ms of the big plate.
constexpr int32_t kPlateStretch = 4096;

// The bank's plates, longest first: the big plate takes about as long as the rest of the bank
// and the notes together on two threads.
constexpr BankPlate kPlateOrder[kBankPlates] = {kPlateBig, kPlateMid, kPlateSmall};
constexpr int kBankPieces = kBankPlates + 1;  // and the noise burst with the kick

// A voice buffer, from the heap or from the pool's region.
struct VoiceFree {
  bool heap = true;
  void operator()(float* p) const {
    if (heap) delete[] p;
  }
};
struct VoiceBuffer {
  std::unique_ptr<float[], VoiceFree> data;
  size_t size = 0;
  float* get() const { return data.get(); }
};

// Voice buffers handed back after mixing and reused, so that the pages of one layer's buffer
// serve the next instead of being returned to the system and faulted in again. New buffers come
// from a region of huge pages while it lasts: one fault maps 2 MiB of them instead of 4 KiB.
class VoicePool {
 public:
  // Free buffers of the heap kept for reuse, in samples; beyond it they go back to the allocator,
  // so that buffers of many sizes do not pile up. The region's buffers are always kept.
  static constexpr size_t kFreeSamples = 1 << 20;
  // The region: three times the samples the window holds, room for the layers in flight, the free
  // buffers and what their sizes leave unused; four would spare some 650 more faults a render for
  // 2 MB more at the peak, two would cost some 1,300 faults and save 1 MB.
  static constexpr size_t kRegionBytes = size_t{3} * kWindowSamples * sizeof(float);

  VoiceBuffer Get(int32_t len) {
    const size_t n = static_cast<size_t>(len);
    std::lock_guard<std::mutex> lock(mutex_);
    // The smallest free buffer that is large enough.
    size_t best = free_.size();
    for (size_t i = 0; i < free_.size(); ++i) {
      if (free_[i].size >= n && (best == free_.size() || free_[i].size < free_[best].size))
        best = i;
    }
    if (best != free_.size()) {
      if (free_[best].data.get_deleter().heap) freeSize_ -= free_[best].size;
      VoiceBuffer b = std::move(free_[best]);
      free_[best] = std::move(free_.back());
      free_.pop_back();
      return b;
    }
    if (void* p = region_.Take(n * sizeof(float))) {
      return {std::unique_ptr<float[], VoiceFree>(static_cast<float*>(p), VoiceFree{false}), n};
    }
    return {std::unique_ptr<float[], VoiceFree>(new float[n]), n};
  }

  void Put(VoiceBuffer b) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (b.data.get_deleter().heap) {
      if (freeSize_ + b.size > kFreeSamples) return;  // freed here, the pool is full
      freeSize_ += b.size;
    }
    free_.push_back(std::move(b));
  }

 private:
  std::mutex mutex_;
  HugeRegion region_{kRegionBytes};
  std::vector<VoiceBuffer> free_;
  size_t freeSize_ = 0;  // samples in free_ from the heap
};

class Pipeline {
 public:
  Pipeline(Engine& e, TaskPool& pool, std::span<const NoteRec> notes, float SecPerTick,
           SimdPath path)
      : e_(e), pool_(pool), notes_(notes), secPerTick_(SecPerTick), path_(path) {}

  void Run(const std::function<void()>& samplesBuilt) {
    PlanSamples(e_.tools, bank_);  // the bank's draws come first
    TaskGroup bank(pool_);
    TaskGroup layers(pool_);
    bankTasks_ = &bank;
    layerTasks_ = &layers;
    try {
      for (BankPlate k : kPlateOrder)
        bank.Submit([this, k] { RecordPlate(k); });
      bank.Submit([this] {
        MakeNoiseBuffer(e_.samples.SmpNoise);
        MakeKickBuffer(e_.samples.SmpKick);
        BankPieceDone();
      });
      Publish(PlanSong(e_, notes_, secPerTick_));  // the notes' draws continue from the bank's
      {
        std::lock_guard<std::mutex> lock(mixMutex_);
        MoreRunners();
      }

      bank.Wait([&] {
        if (layers.Stopped()) bank.Stop();  // a runner failed: no need to finish the bank
        ReportBank(true);
      });
      if (!bank.Stopped()) {
        ReportBank(false);
        if (samplesBuilt) samplesBuilt();
      }
      layers.Wait([this] { ReportNotes(true); });
      ReportNotes(false);
    } catch (...) {
      bank.Stop();
      layers.Stop();
      throw;  // the groups wait for their running tasks as they go
    }
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
  }

  // A plate task: its recording a stretch at a time, telling the calling thread how far it got.
  void RecordPlate(BankPlate k) {
    PlateJob& job = bank_.plates[k];
    while (job.recorded < PlateLength(k) && !bankTasks_->Stopped()) {
      recorded_[k].store(RunPlateJob(job, kPlateStretch, path_), std::memory_order_release);
    }
    BankPieceDone();
  }

  // The last piece of the bank to finish finishes the plates' buffers.
  void BankPieceDone() {
    if (bankLeft_.fetch_sub(1) != 1 || bankTasks_->Stopped()) return;
    FinishSamples(e_.samples, bank_);
    bankReady_.store(true, std::memory_order_release);
  }

  // Whether the bank can be read, waiting for it (and helping) if need be. False when it was
  // stopped; throws what a bank task threw.
  bool WaitForBank() {
    if (!bankReady_.load(std::memory_order_acquire)) bankTasks_->Wait({}, true);
    return bankReady_.load(std::memory_order_acquire);
  }

  // Starts layer runners while there are workers without one and layers that fit the window.
  // With mixMutex_ held, so that a runner that ends for want of room (see RunLayers) and the
  // mixing that makes room do not miss each other.
  void MoreRunners() {
    while (runners_ < pool_.Threads() && next_.load() < song_.layers.size() && Fits(next_.load())) {
      ++runners_;
      layerTasks_->Submit([this] { RunLayers(); });
    }
  }

  // A layer runner: takes layers while the window allows and renders them, the tonal ones in
  // lanes. It ends when no layer is left, or when the window is full: the mixing that makes room
  // starts runners again.
  void RunLayers() {
    std::unique_ptr<LaneRoom> room;
    {
      std::lock_guard<std::mutex> lock(mixMutex_);
      if (!rooms_.empty()) {
        room = std::move(rooms_.back());
        rooms_.pop_back();
      }
    }
    if (!room) room = std::make_unique<LaneRoom>();
    while (true) {
      RenderLayersInLanes([this](LayerJob& job) { return Take(job); },
                          [this](const LayerJob& job) { Finished(job.index); }, path_, room.get());
      std::lock_guard<std::mutex> lock(mixMutex_);
      const size_t n = next_.load();
      if (layerTasks_->Stopped() || n >= song_.layers.size() || !Fits(n)) {
        rooms_.push_back(std::move(room));  // for the next runner
        --runners_;
        return;
      }
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
      if (layerTasks_->Stopped()) return false;
      size_t i = next_.load();
      if (i >= song_.layers.size() || !Fits(i)) return false;
      if (!next_.compare_exchange_weak(i, i + 1)) continue;
      const LayerPlan& p = song_.layers[i];
      inFlight_ += p.len;
      voices_[i] = buffers_.Get(p.len);
      if (p.kind == LayerKind::kDrum) {
        if (!WaitForBank()) return false;
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
      MoreRunners();
      mixing.unlock();
      if (m >= song_.layers.size() || !done_[m].load()) return;
    }
  }

  // The bank's progress calls due so far, as the plates record their samples; while waiting,
  // a call with the total unchanged when none is due.
  void ReportBank(bool waiting) {
    std::array<int32_t, kBankPlates> recorded;
    for (int k = 0; k < kBankPlates; ++k)
      recorded[k] = recorded_[k].load(std::memory_order_acquire);
    const int32_t before = bankProgress_.Made();
    bankProgress_.Report(e_, recorded);
    if (waiting && bankProgress_.Made() == before) StillWaiting(e_);
  }

  // One ShowProgress per note, in file order, once its layers are mixed.
  void ReportNotes(bool waiting) {
    const size_t mixed = mixed_.load();
    bool reported = false;
    for (; note_ < song_.noteEnd.size() && song_.noteEnd[note_] <= mixed; ++note_) {
      if (song_.units[note_] > 0.0f) {
        ShowProgress(e_, song_.units[note_]);
        reported = true;
      }
    }
    if (waiting && !reported) StillWaiting(e_);
  }

  Engine& e_;
  TaskPool& pool_;
  std::span<const NoteRec> notes_;
  float secPerTick_;
  SimdPath path_;
  TaskGroup* bankTasks_ = nullptr;
  TaskGroup* layerTasks_ = nullptr;

  SampleBankPlan bank_;
  std::array<std::atomic<int32_t>, kBankPlates> recorded_{};  // samples each plate has recorded
  std::atomic<int> bankLeft_{kBankPieces};                    // pieces of the bank not finished
  std::atomic<bool> bankReady_{false};                        // FinishSamples has run
  BankProgress bankProgress_;                                 // the calling thread's

  SongPlan song_;
  VoicePool buffers_;
  std::vector<VoiceBuffer> voices_;  // rendered, not yet mixed
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::atomic<size_t> next_{0};       // the next layer to take
  std::atomic<size_t> mixed_{0};      // layers mixed so far
  std::atomic<int64_t> inFlight_{0};  // samples of layers taken and not yet mixed
  std::mutex mixMutex_;               // the mixing, and the count of runners
  int runners_ = 0;                   // layer runners queued or running (under mixMutex_)
  std::vector<std::unique_ptr<LaneRoom>> rooms_;  // the lanes' room of runners that ended (ditto)
  size_t note_ = 0;                               // notes reported so far (the calling thread's)
};

}  // namespace

void BuildSamplesAndRenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick,
                               TaskPool& pool, const std::function<void()>& samplesBuilt,
                               SimdPath path) {
  Pipeline(e, pool, notes, SecPerTick, path).Run(samplesBuilt);
}

}  // namespace quom
