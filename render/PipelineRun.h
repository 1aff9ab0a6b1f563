// The sample bank and the notes, built and rendered together on the task pool.
//
// Once the plates' stiffness maps are drawn and every note is planned, the only ties left are
// these: the drum layers read the finished bank, and the bus must receive the layers in file
// order (every frame's additions happen in that order, which fixes its bits). So the bank's
// tasks are queued first, the three plates longest first and then the noise and kick, and after
// them one layer runner per worker: runners take the layers in file order, tonal ones several at
// a time in lanes, and finished layers wait in a window of bounded size until every earlier layer
// is mixed (InOrderMix). The calling thread meanwhile plans the notes and then reports progress:
// the bank's calls, then one per note as the mixing passes its last layer, in the order and
// amounts BuildSamples and RenderSong make them. At the end it checks that every plate sample was
// recorded and every layer mixed.
//
// The pipeline is a template on its hand-off hooks: the places where one thread hands work to
// another call them, so that a test can hold a thread there and force the schedule it wants to
// check. The program runs it with NoHandOffHooks, whose calls compile to nothing.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "render/Completeness.h"
#include "render/Engine.h"
#include "render/InOrderMix.h"
#include "render/NotePlan.h"
#include "render/ProgressCalls.h"
#include "render/SampleBank.h"
#include "render/TaskPool.h"
#include "render/VoicePool.h"
#include "units/modGen.h"
#include "voices/Layer.h"
#include "voices/LayerLanes.h"
#include "voices/modGenDrum.h"

namespace quom {

// Where the hooks are called.
enum class HandOff {
  kFirstRunners,    // the calling thread has started the first layer runners (runners' lock held)
  kTakeRoom,        // a runner is taking the room of its lanes (rooms' lock held)
  kEndCheck,        // a runner, its batch done, asks whether to go on (runners' lock held)
  kMixing,          // layer i has just been mixed (mixing's lock held)
  kLayerFinishing,  // layer i is rendered and about to be handed to the mixing
  kLayerFinished,   // ... and has been
};

struct NoHandOffHooks {
  void At(HandOff, size_t) {}
};

namespace pipeline_detail {

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

// The voice buffers' region: three times the samples the window holds, room for the layers in
// flight, the free buffers and what their sizes leave unused; four would spare some 650 more
// faults a render for 2 MB more at the peak, two would cost some 1,300 faults and save 1 MB.
constexpr size_t kVoiceRegionBytes = size_t{3} * kWindowSamples * sizeof(float);

template <typename Hooks>
class Pipeline {
 public:
  // `leaveOut`: a layer not to mix, to see the render's own check catch it (-1: none).
  Pipeline(Engine& e, TaskPool& pool, std::span<const NoteRec> notes, float SecPerTick,
           SimdPath path, int64_t leaveOut, Hooks& hooks)
      : e_(e),
        pool_(pool),
        notes_(notes),
        secPerTick_(SecPerTick),
        path_(path),
        leaveOut_(leaveOut),
        hooks_(hooks) {}

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
        std::lock_guard<std::mutex> lock(runnersMutex_);
        MoreRunners();
        hooks_.At(HandOff::kFirstRunners, 0);
      }

      bank.Wait([&] {
        if (layers.Stopped()) bank.Stop();  // a runner failed: no need to finish the bank
        ReportBank(true);
      });
      if (!bank.Stopped()) {
        ReportBank(false);
        CheckBank();
        if (samplesBuilt) samplesBuilt();
      }
      layers.Wait([this] { ReportNotes(true); });
      ReportNotes(false);
      // Every task has ended, and with it every hand-off to the mixing.
      CheckComplete(static_cast<int64_t>(layersMixed_), static_cast<int64_t>(mixing_->Layers()),
                    "layers mixed");
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
    mixing_ = std::make_unique<InOrderMix>(song_.layers.size());
  }

  // The bank.

  // A plate task: its recording a stretch at a time, telling the calling thread how far it got.
  // Without workers the calling thread runs the task itself, and reports progress only between
  // tasks: each stretch is then a task of its own, queued after the one before.
  void RecordPlate(BankPlate k) {
    PlateJob& job = bank_.plates[k];
    const bool alone = pool_.Threads() == 0;
    while (job.recorded < PlateLength(k) && !bankTasks_->Stopped()) {
      recorded_[k].store(RunPlateJob(job, kPlateStretch, path_), std::memory_order_release);
      if (alone && job.recorded < PlateLength(k)) {
        bankTasks_->Submit([this, k] { RecordPlate(k); });
        return;
      }
    }
    BankPieceDone();
  }

  // The last piece of the bank to finish finishes the plates' buffers.
  void BankPieceDone() {
    if (bankLeft_.fetch_sub(1) != 1 || bankTasks_->Stopped()) return;
    FinishSamples(e_.samples, bank_);
    bankReady_.store(true, std::memory_order_release);
  }

  // Once the bank's tasks have all ended: every plate recorded to its length, every piece built.
  void CheckBank() const {
    int64_t recorded = 0, length = 0;
    for (int k = 0; k < kBankPlates; ++k) {
      recorded += bank_.plates[k].recorded;
      length += PlateLength(static_cast<BankPlate>(k));
    }
    CheckComplete(recorded, length, "plate samples recorded");
    CheckComplete(bankReady_.load(std::memory_order_acquire) ? kBankPieces : kBankPieces - 1,
                  kBankPieces, "pieces of the sample bank built");
  }

  // Whether the bank can be read, waiting for it (and helping) if need be. False when it was
  // stopped; throws what a bank task threw.
  bool WaitForBank() {
    if (!bankReady_.load(std::memory_order_acquire)) bankTasks_->Wait({}, true);
    return bankReady_.load(std::memory_order_acquire);
  }

  // The layer runners.

  // Starts layer runners while there are workers without one and layers that fit the window.
  // With runnersMutex_ held, so that a runner that ends for want of room (see RunLayers) and the
  // mixing that makes room do not miss each other: the mixing updates the window before it
  // takes the lock to call this, and the runner looks at the window with the lock held.
  void MoreRunners() {
    const int most = std::max(1, pool_.Threads());  // without workers, the waiter runs one
    while (runners_ < most && next_.load() < song_.layers.size() && Fits(next_.load())) {
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
      std::lock_guard<std::mutex> lock(roomsMutex_);
      if (!rooms_.empty()) {
        room = std::move(rooms_.back());
        rooms_.pop_back();
      }
      hooks_.At(HandOff::kTakeRoom, 0);
    }
    if (!room) room = std::make_unique<LaneRoom>();
    while (true) {
      RenderLayersInLanes([this](LayerJob& job) { return Take(job); },
                          [this](const LayerJob& job) { Finished(job.index); }, path_, room.get());
      std::lock_guard<std::mutex> lock(runnersMutex_);
      hooks_.At(HandOff::kEndCheck, 0);
      const size_t n = next_.load();
      if (layerTasks_->Stopped() || n >= song_.layers.size() || !Fits(n)) {
        --runners_;
        break;
      }
    }
    std::lock_guard<std::mutex> lock(roomsMutex_);
    rooms_.push_back(std::move(room));  // for the next runner
  }

  // Whether layer i fits in the window now (the next layer to mix always does).
  bool Fits(size_t i) const {
    return i == mixing_->Mixed() || inFlight_.load() + song_.layers[i].len <= kWindowSamples;
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

  // The mixing.

  // A layer is rendered: mix it and every finished layer after it that is next in file order.
  // The hand-off waits for the mixing's lock, so the layer is mixed by this call or by the one
  // that completes the prefix before it.
  void Finished(size_t i) {
    hooks_.At(HandOff::kLayerFinishing, i);
    const size_t mixed = mixing_->Done(i, [this](size_t m) { MixLayer(m); });
    hooks_.At(HandOff::kLayerFinished, i);
    if (mixed > 0) {  // room was made: start runners that ended for want of it
      std::lock_guard<std::mutex> lock(runnersMutex_);
      MoreRunners();
    }
  }

  // With the mixing's lock held.
  void MixLayer(size_t m) {
    const LayerPlan& p = song_.layers[m];
    if (static_cast<int64_t>(m) != leaveOut_) {
      MixSamplesFast(e_.gen, p.start, p.gain, p.pan, p.send, voices_[m].get(), p.len, path_);
      ++layersMixed_;
    }
    buffers_.Put(std::move(voices_[m]));
    inFlight_ -= p.len;
    hooks_.At(HandOff::kMixing, m);
  }

  // Progress.

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
    const size_t mixed = mixing_->Mixed();
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
  int64_t leaveOut_;
  Hooks& hooks_;
  TaskGroup* bankTasks_ = nullptr;
  TaskGroup* layerTasks_ = nullptr;

  SampleBankPlan bank_;
  std::array<std::atomic<int32_t>, kBankPlates> recorded_{};  // samples each plate has recorded
  std::atomic<int> bankLeft_{kBankPieces};                    // pieces of the bank not finished
  std::atomic<bool> bankReady_{false};                        // FinishSamples has run
  BankProgress bankProgress_;                                 // the calling thread's

  SongPlan song_;
  VoicePool buffers_{kVoiceRegionBytes};
  std::vector<VoiceBuffer> voices_;   // rendered, not yet mixed
  std::atomic<size_t> next_{0};       // the next layer to take
  std::atomic<int64_t> inFlight_{0};  // samples of layers taken and not yet mixed
  std::unique_ptr<InOrderMix> mixing_;
  size_t layersMixed_ = 0;  // layers added to the bus (under the mixing's lock)

  std::mutex runnersMutex_;  // the count of runners, and a runner's decision to end
  int runners_ = 0;          // layer runners queued or running (under runnersMutex_)
  std::mutex roomsMutex_;
  std::vector<std::unique_ptr<LaneRoom>> rooms_;  // the lanes' room of runners that ended
  size_t note_ = 0;                               // notes reported so far (the calling thread's)
};

}  // namespace pipeline_detail

// BuildSamplesAndRenderSong (render/Pipeline.h) with hooks.
template <typename Hooks>
void BuildSamplesAndRenderSongHooked(Engine& e, std::span<const NoteRec> notes, float SecPerTick,
                                     TaskPool& pool, const std::function<void()>& samplesBuilt,
                                     SimdPath path, int64_t leaveOut, Hooks& hooks) {
  pipeline_detail::Pipeline<Hooks>(e, pool, notes, SecPerTick, path, leaveOut, hooks)
      .Run(samplesBuilt);
}

}  // namespace quom
