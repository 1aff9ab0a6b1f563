// The reverb computed a lap at a time, to the bit the same as FxReverb.
//
// The line cell read at frame j, y(j), was last read at frame j - 8192 and halved; since then the
// scatters of frames j - 8191 .. j have added TapIn(j + 1 - d) * gain through every tap of delay
// d (a delay of 0 lands with the delay 8192, at frame j - 8191). In the order the frames add them
// that is: start from half of y(j - 8192), then the taps by delay descending (0 counted as 8192),
// taps of one delay by number. Each addition is the double sum of the float cell and an exact
// product, rounded to float, as before. So y(j) depends on the lap before and on TapIn alone, and
// the 8192 frames of a lap can be computed together.
//
// Likewise the wet frame m receives y(m - d) * gain * (1 - pan), or * pan, from every tap of
// delay d, frames in ascending order, that is taps by delay descending and then by number. Each
// wet frame is complete once y is known up to m, and is added into the bus right away: no wet
// buffer beyond a block of frames.
//
// Missing terms (frames before 0 or past the last fed frame) read as +0, and adding a zero never
// changes a float that is not -0, which neither sum can be.
#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/Rounding.h"
#include "base/VectorTypes.h"
#include "units/modFXReverb.h"

namespace quom {
namespace {

constexpr int32_t kLap = kReverbLineLen;
constexpr int32_t kLapsPerRound = 8;  // laps computed between two synchronisations
constexpr int32_t kRound = kLapsPerRound * kLap;
constexpr int32_t kChunk = 512;  // frames a thread takes at a time; a multiple of every block
constexpr int32_t kProgressEvery = 1024;
constexpr float kProgressUnits = 0.035f;
constexpr int kMaxReverbThreads = 16;

// The taps in the two orders the lap computation adds them in.
struct LapTaps {
  // Line order: delay descending, 0 counted as 8192; ties by tap number.
  std::array<int32_t, kReverbTaps> lineDelay;  // 1 .. 8192
  std::array<double, kReverbTaps> lineGain;
  // Wet order: delay descending, ties by tap number.
  std::array<int32_t, kReverbTaps> wetDelay;  // 0 .. 8192
  std::array<double, kReverbTaps> wetGain, wetLeft, wetRight;
};

LapTaps SortTaps(const ReverbTaps& taps) {
  std::array<int, kReverbTaps> order;
  LapTaps lap;
  for (int k = 0; k < kReverbTaps; ++k)
    order[k] = k;
  auto lineDelay = [&](int k) { return taps.TapDelay[k] == 0 ? kLap : taps.TapDelay[k]; };
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lineDelay(a) > lineDelay(b); });
  for (int i = 0; i < kReverbTaps; ++i) {
    lap.lineDelay[i] = lineDelay(order[i]);
    lap.lineGain[i] = taps.TapGain[order[i]];
  }
  for (int k = 0; k < kReverbTaps; ++k)
    order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return taps.TapDelay[a] > taps.TapDelay[b]; });
  for (int i = 0; i < kReverbTaps; ++i) {
    const int k = order[i];
    lap.wetDelay[i] = taps.TapDelay[k];
    lap.wetGain[i] = taps.TapGain[k];
    lap.wetLeft[i] = 1.0 - taps.TapPan[k];  // exact in double
    lap.wetRight[i] = taps.TapPan[k];
  }
  return lap;
}

// Double lanes to float lanes and back: the rounding of a store into a float. GCC 12 widens a
// float vector of 256 or 512 bits in 128-bit pieces through memory, so that direction is spelt
// out as the one instruction it is.
template <typename D>
struct Lanes;
template <>
struct Lanes<double> {
  using F = float;
  static double ToD(float f) { return f; }
};
template <>
struct Lanes<D2> {
  using F = F2;
  [[gnu::always_inline]] static D2 ToD(F2 f) { return __builtin_convertvector(f, D2); }
};
template <>
struct Lanes<D4> {
  using F = F4;
  [[gnu::always_inline]] static D4 ToD(F4 f) {
    D4 d;
    asm("vcvtps2pd %1, %0" : "=x"(d) : "x"(f));
    return d;
  }
};
template <>
struct Lanes<D8> {
  using F = F8;
  [[gnu::always_inline]] static D8 ToD(F8 f) {
    D8 d;
    asm("vcvtps2pd %1, %0" : "=v"(d) : "v"(f));
    return d;
  }
};

template <typename D>
[[gnu::always_inline]] inline typename Lanes<D>::F ToF(D d) {
  if constexpr (std::is_same_v<D, double>) {
    return static_cast<float>(d);
  } else {
    return __builtin_convertvector(d, typename Lanes<D>::F);
  }
}

template <typename D>
[[gnu::always_inline]] inline D RoundF(D x) {
  return Lanes<D>::ToD(ToF(x));
}

// y for `count` frames from `y`, each from half the frame a lap earlier and TapIn, where tapIn
// and y point at the first frame. count is a multiple of the block (U vectors of D). TapIn and y
// are floats held as doubles, so that only the roundings cost a conversion.
template <typename D, int U>
[[gnu::always_inline]] inline void LineFrames(const LapTaps& taps, const double* tapIn, double* y,
                                              int32_t count) {
  constexpr int kW = sizeof(D) / sizeof(double);
  for (int32_t i = 0; i < count; i += U * kW) {
    D acc[U];
#pragma GCC unroll 8
    for (int u = 0; u < U; ++u)
      acc[u] = RoundF(LoadVec<D>(y + i + u * kW - kLap) * 0.5);  // the halved cell
    for (int t = 0; t < kReverbTaps; ++t) {
      const double* in = tapIn + i + 1 - taps.lineDelay[t];
      const double g = taps.lineGain[t];
#pragma GCC unroll 8
      for (int u = 0; u < U; ++u)
        acc[u] = RoundF(acc[u] + LoadVec<D>(in + u * kW) * g);  // the product is exact
    }
#pragma GCC unroll 8
    for (int u = 0; u < U; ++u)
      StoreVec(y + i + u * kW, acc[u]);
  }
}

// The wet left and right of `count` frames, from y (pointing at the first frame).
template <typename D, int U>
[[gnu::always_inline]] inline void WetFrames(const LapTaps& taps, const double* y, float* left,
                                             float* right, int32_t count) {
  using L = Lanes<D>;
  using F = typename L::F;
  constexpr int kW = sizeof(D) / sizeof(double);
  for (int32_t i = 0; i < count; i += U * kW) {
    D accL[U], accR[U];
#pragma GCC unroll 8
    for (int u = 0; u < U; ++u) {
      accL[u] = D{} + 0.0;
      accR[u] = D{} + 0.0;
    }
    for (int t = 0; t < kReverbTaps; ++t) {
      const double* in = y + i - taps.wetDelay[t];
      const double g = taps.wetGain[t];
      const double l = taps.wetLeft[t];
      const double r = taps.wetRight[t];
#pragma GCC unroll 8
      for (int u = 0; u < U; ++u) {
        const D yg = LoadVec<D>(in + u * kW) * g;  // exact: a product of two floats
        accL[u] = RoundF(accL[u] + yg * l);
        accR[u] = RoundF(accR[u] + yg * r);
      }
    }
#pragma GCC unroll 8
    for (int u = 0; u < U; ++u) {
      const F fl = ToF(accL[u]);
      const F fr = ToF(accR[u]);
      StoreVec(left + i + u * kW, fl);
      StoreVec(right + i + u * kW, fr);
    }
  }
}

using LineFn = void (*)(const LapTaps&, const double*, double*, int32_t);
using WetFn = void (*)(const LapTaps&, const double*, float*, float*, int32_t);

void LineScalar(const LapTaps& t, const double* in, double* y, int32_t n) {
  LineFrames<double, 4>(t, in, y, n);
}
void WetScalar(const LapTaps& t, const double* y, float* l, float* r, int32_t n) {
  WetFrames<double, 4>(t, y, l, r, n);
}
void LineSse2(const LapTaps& t, const double* in, double* y, int32_t n) {
  LineFrames<D2, 8>(t, in, y, n);
}
void WetSse2(const LapTaps& t, const double* y, float* l, float* r, int32_t n) {
  WetFrames<D2, 4>(t, y, l, r, n);
}
[[gnu::target("avx2")]] void LineAvx2(const LapTaps& t, const double* in, double* y, int32_t n) {
  LineFrames<D4, 8>(t, in, y, n);
}
[[gnu::target("avx2")]] void WetAvx2(const LapTaps& t, const double* y, float* l, float* r,
                                     int32_t n) {
  WetFrames<D4, 4>(t, y, l, r, n);
}
[[gnu::target("avx512f,avx512dq")]] void LineAvx512(const LapTaps& t, const double* in, double* y,
                                                    int32_t n) {
  LineFrames<D8, 8>(t, in, y, n);
}
[[gnu::target("avx512f,avx512dq")]] void WetAvx512(const LapTaps& t, const double* y, float* l,
                                                   float* r, int32_t n) {
  WetFrames<D8, 8>(t, y, l, r, n);
}

// One round of kLapsPerRound laps at a time: the lines of all its frames (split among the
// threads by position in the lap, each position depending only on itself a lap earlier), then
// the wet frames (split by frame). TapIn and y are held for the round and the lap before it.
struct LapReverb {
  Engine& e;
  LapTaps taps;
  LineFn line;
  WetFn wet;
  int32_t lastFrame;  // the last frame fed into the line; -1 when none is
  int32_t rounds;

  // Frame j of the current round (starting at frame `base`) sits at index j - base + kLap.
  std::vector<double> tapIn, y;
  int32_t base = 0;
  float SendLp = 0.0f;
  float TapIn = 0.0f;

  std::atomic<int32_t> nextChunk{0};
  std::atomic<bool> abandoned{false};

  const ReverbFramesDone& framesDone;

  LapReverb(Engine& engine, const ReverbTaps& drawn, SimdPath path, const ReverbFramesDone& done)
      : e(engine),
        taps(SortTaps(drawn)),
        tapIn(kLap + kRound, 0.0),
        y(kLap + kRound, 0.0),
        framesDone(done) {
    lastFrame = e.gen.MixLen - (kReverbLineLen - 1);
    rounds = (std::max(e.gen.MixLen, 0) + kRound - 1) / kRound;
    switch (path) {
      case SimdPath::kScalar:
        line = LineScalar, wet = WetScalar;
        break;
      case SimdPath::kSse2:
        line = LineSse2, wet = WetSse2;
        break;
      case SimdPath::kAvx2:
        line = LineAvx2, wet = WetAvx2;
        break;
      case SimdPath::kAvx512:
        line = LineAvx512, wet = WetAvx512;
        break;
    }
  }

  // TapIn for the round starting at `from`, after keeping the last lap of the one before.
  void SmoothSend(int32_t from) {
    std::memmove(tapIn.data(), tapIn.data() + kRound, kLap * sizeof(double));
    double* out = tapIn.data() + kLap;
    const int32_t n = std::clamp(lastFrame + 1 - from, 0, kRound);
    for (int32_t i = 0; i < n; ++i) {
      const float s = e.gen.MixBuf[from + i].Send;
      SendLp = Single(s * 0.3 + SendLp * 0.7);
      TapIn = Single(TapIn * 0.5 + SendLp);
      out[i] = TapIn;
    }
    std::fill(out + n, out + kRound, 0.0);
  }

  // The line values of positions [p, p + kChunk) of every lap of the round.
  void LineChunk(int32_t p) {
    for (int32_t lap = 0; lap < kLapsPerRound; ++lap) {
      const int32_t at = kLap + lap * kLap + p;
      const int32_t n = std::clamp(lastFrame + 1 - (base + at - kLap), 0, kChunk);
      if (n > 0) line(taps, tapIn.data() + at, y.data() + at, kChunk);
      std::fill(y.data() + at + n, y.data() + at + kChunk, 0.0);  // past the last fed frame
    }
  }

  // The wet frames [m, m + kChunk) of the round, added into the bus.
  void WetChunk(int32_t m) {
    if (base + m >= e.gen.MixLen) return;  // dropped, as the wet frames from MixLen on are
    alignas(64) float left[kChunk], right[kChunk];
    wet(taps, y.data() + kLap + m, left, right, kChunk);
    std::vector<MixFrame>& bus = e.gen.MixBuf;
    const int32_t n = std::min(kChunk, e.gen.MixLen - (base + m));
    for (int32_t i = 0; i < n; ++i) {
      MixFrame& f = bus[base + m + i];
      f.L = Single(f.L + static_cast<double>(left[i]));
      f.R = Single(f.R + static_cast<double>(right[i]));
    }
  }

  // Takes chunks [0, count) one at a time until none is left.
  template <typename Fn>
  void Share(int32_t count, Fn&& fn) {
    for (int32_t c; (c = nextChunk.fetch_add(1, std::memory_order_relaxed)) < count;)
      fn(c * kChunk);
  }

  void Progress(int32_t from) {
    const int32_t to = std::min(from + kRound - 1, lastFrame);
    for (int32_t j = (from + kProgressEvery - 1) / kProgressEvery * kProgressEvery; j <= to;
         j += kProgressEvery) {
      ShowProgress(e, kProgressUnits);
    }
  }

  // Hands the frames of the round that started at `from` to framesDone: the wet frames of later
  // rounds all lie past it.
  void RoundDone(int32_t from) {
    const int32_t to = std::min(from + kRound, e.gen.MixLen);
    if (!framesDone || from >= to || abandoned.load(std::memory_order_relaxed)) return;
    try {
      framesDone(from, to);
    } catch (...) {
      failure = std::current_exception();
      abandoned.store(true, std::memory_order_relaxed);
    }
  }

  // Worker 0 runs on the calling thread: it smooths the send, keeps y's last lap at the end of a
  // round, makes the progress calls and hands on the finished frames, the last round's before
  // the next round's lines are taken; the others only take chunks.
  template <typename Barrier>
  void Work(int worker, Barrier* sync) {
    auto wait = [&] {
      if (sync) sync->arrive_and_wait();
    };
    for (int32_t round = 0; round < rounds; ++round) {
      if (worker == 0 && round > 0) RoundDone(base - kRound);
      if (!abandoned.load(std::memory_order_relaxed))
        Share(kLap / kChunk, [&](int32_t p) { LineChunk(p); });
      wait();  // the lines of the round are complete; nextChunk is 0 again
      if (abandoned.load(std::memory_order_relaxed)) return;
      if (worker == 0 && round + 1 < rounds) SmoothSend(base + kRound);
      Share(kRound / kChunk, [&](int32_t m) { WetChunk(m); });
      wait();  // the wet frames are in; y moved on, nextChunk is 0 again
      if (worker == 0) {
        try {
          Progress(base - kRound);
        } catch (...) {
          failure = std::current_exception();
          abandoned.store(true, std::memory_order_relaxed);
        }
      }
    }
    if (worker == 0 && rounds > 0) RoundDone(base - kRound);
  }

  // Between rounds, with every worker waiting.
  void NextPhase() {
    nextChunk.store(0, std::memory_order_relaxed);
    if (phase++ % 2 == 1) {
      std::memmove(y.data(), y.data() + kRound, kLap * sizeof(double));
      base += kRound;
    }
  }

  int phase = 0;
  std::exception_ptr failure;
};

}  // namespace

void FxReverb(Engine& e, SimdPath path, int threads, const ReverbFramesDone& framesDone) {
  ReverbTaps taps;
  DrawReverbTaps(e.tools, taps);
  ReverbByLaps(e, taps, path, threads, framesDone);
}

void ReverbByLaps(Engine& e, const ReverbTaps& taps, SimdPath path, int threads,
                  const ReverbFramesDone& framesDone) {
  threads = std::clamp(threads, 1, kMaxReverbThreads);
  LapReverb r(e, taps, path, framesDone);
  r.SmoothSend(0);
  if (threads <= 1 || r.rounds == 0) {
    struct Solo {
      LapReverb& r;
      void arrive_and_wait() { r.NextPhase(); }
    } solo{r};
    r.Work(0, &solo);
  } else {
    auto completion = [&r]() noexcept { r.NextPhase(); };
    std::barrier sync(threads, completion);
    std::vector<std::thread> helpers;
    try {
      for (int w = 1; w < threads; ++w)
        helpers.emplace_back([&r, &sync, w] { r.Work(w, &sync); });
    } catch (const std::system_error&) {
      // Fewer threads than asked for: those that started share the work.
      for (size_t w = helpers.size() + 1; w < static_cast<size_t>(threads); ++w)
        sync.arrive_and_drop();
    }
    r.Work(0, &sync);
    for (std::thread& t : helpers)
      t.join();
  }
  if (r.failure) std::rethrow_exception(r.failure);
}

}  // namespace quom
