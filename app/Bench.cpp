// Timing the synthesis: per-stage medians on the fast path, one literal render for the ratio.
#include "app/Bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/Simd.h"
#include "render/Synthesize.h"

namespace quom {

namespace {

using Clock = std::chrono::steady_clock;

// Stage end times of one render, in seconds from its start. The stages are those the observer
// sees: the sample bank, the notes, the reverb; the master stage ends when Synthesize returns.
// The clock does not read the bus, so the fast path runs the master stage along with the reverb
// and the two are timed together.
struct StageTimes {
  double bank = 0.0;
  double notes = 0.0;
  double reverb = 0.0;
  double total = 0.0;
};

class StageClock : public StageObserver {
 public:
  explicit StageClock(Clock::time_point start) : start_(start) {}
  void SamplesBuilt(const Engine&) override { times.bank = Since(); }
  void NotesMixed(const Engine&) override { times.notes = Since(); }
  void ReverbAdded(const Engine&) override { times.reverb = Since(); }
  bool ReadsBusAfterReverb() const override { return false; }
  double Since() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  StageTimes times;

 private:
  Clock::time_point start_;
};

StageTimes TimeRender(const std::vector<NoteRec>& notes, const RenderOptions& options,
                      std::vector<int16_t>& pcm) {
  Engine e;
  StageClock clock(Clock::now());
  pcm = Synthesize(e, notes, &clock, options);
  clock.times.total = clock.Since();
  return clock.times;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

void PrintRow(const char* name, double fast, double literal) {
  std::printf("  %-13s %8.3f s %10.3f s %8.1fx\n", name, fast, literal, literal / fast);
}

}  // namespace

int RunBench(const std::vector<NoteRec>& notes, int runs, const RenderOptions& fast) {
  std::vector<int16_t> reference;
  std::printf("quom --bench: %d fast render%s on %d worker%s and one literal render, %s kernels\n",
              runs, runs == 1 ? "" : "s", fast.threads, fast.threads == 1 ? "" : "s",
              SimdPathName(fast.simd));
  std::fflush(stdout);
  RenderOptions literalPath = fast;
  literalPath.path = RenderPath::kLiteral;
  const StageTimes literal = TimeRender(notes, literalPath, reference);

  std::vector<double> bank, noteStage, reverbMaster, total;
  for (int i = 0; i < runs; ++i) {
    std::vector<int16_t> pcm;
    const StageTimes t = TimeRender(notes, fast, pcm);
    if (pcm != reference) {
      std::fprintf(stderr, "quom: the fast render differs from the literal one\n");
      return 1;
    }
    bank.push_back(t.bank);
    noteStage.push_back(t.notes - t.bank);
    reverbMaster.push_back(t.total - t.notes);
    total.push_back(t.total);
  }

  const double seconds = static_cast<double>(reference.size() / 2) / kSampleRate;
  std::printf("  %-13s %10s %12s %9s\n", "stage", "fast", "literal", "ratio");
  PrintRow("sample bank", Median(bank), literal.bank);
  PrintRow("notes", Median(noteStage), literal.notes - literal.bank);
  PrintRow("reverb+master", Median(reverbMaster), literal.total - literal.notes);
  PrintRow("total", Median(total), literal.total);
  std::printf("  piece %.2f s: %.1fx real time fast, %.1fx literal; renders identical\n", seconds,
              seconds / Median(total), seconds / literal.total);
  return 0;
}

}  // namespace quom
