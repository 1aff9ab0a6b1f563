// Playback through SDL's disk driver: what the device is handed is what it plays, once, or pass
// after pass; a pause holds it and a move goes on from the new place without a gap.
#include "audio/modDS.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace quom {
namespace {

// Routes SDL's output into a file; DELAY 1 ms per device buffer plays far faster than real time.
class DiskPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = ::testing::TempDir() + "quom_ds_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
  }
  void TearDown() override { std::remove(file_.c_str()); }

  std::vector<uint8_t> Played() {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string file_;
};

// A buffer no shift or repetition could reproduce: noisy, never zero.
std::vector<int16_t> TestPcm(size_t frames) {
  std::vector<int16_t> pcm(2 * frames);
  uint32_t x = 12345;
  for (int16_t& s : pcm) {
    x = x * 1664525u + 1013904223u;
    s = static_cast<int16_t>((x >> 16) | 1);
  }
  return pcm;
}

TEST_F(DiskPlayback, PlaysTheWholeBufferOnceThenReportsTheEnd) {
  const std::vector<int16_t> pcm = TestPcm(22050);  // half a second
  modDS ds;
  DSPlay(ds, pcm);
  ASSERT_NE(ds.DSDevice, 0u);
  EXPECT_EQ(ds.DSBufferBytes, 4u * 22050);
  EXPECT_TRUE(DSIsPlaying(ds));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (DSIsPlaying(ds) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  EXPECT_FALSE(DSIsPlaying(ds));
  EXPECT_FALSE(DSIsPlaying(ds));  // and stays so
  DSStop(ds);
  EXPECT_EQ(ds.DSDevice, 0u);

  // Silence may come before the piece (the device runs before it is handed the buffer) and
  // after it (until it is closed); the piece itself comes once, byte for byte.
  const std::vector<uint8_t> played = Played();
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  const size_t n = pcm.size() * 2;
  size_t start = 0;
  while (start < played.size() && played[start] == 0)
    ++start;
  ASSERT_EQ(start % 4, 0u);
  ASSERT_GE(played.size(), start + n);
  EXPECT_TRUE(std::equal(bytes, bytes + n, played.begin() + start));
  EXPECT_TRUE(
      std::all_of(played.begin() + start + n, played.end(), [](uint8_t b) { return b == 0; }));
}

// Waits until `done` holds, for at most 20 seconds.
template <class Done>
bool WaitFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The played bytes after the silence the device starts with.
std::vector<uint8_t> AfterLeadingSilence(const std::vector<uint8_t>& played) {
  size_t start = 0;
  while (start < played.size() && played[start] == 0)
    ++start;
  start -= start % 4;
  return {played.begin() + static_cast<std::ptrdiff_t>(start), played.end()};
}

bool IsSilent(const uint8_t* bytes, size_t n) {
  return std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0; });
}

// Pass after pass, each first frame straight after the last one before it: three passes, then
// passes until stopped, queued ahead while the device plays faster than real time.
TEST_F(DiskPlayback, KeptPiecePlaysPassAfterPassWithoutASeam) {
  const std::vector<int16_t> pcm = TestPcm(4410);  // a tenth of a second
  const size_t n = pcm.size() * 2;
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  {
    modDS ds;
    DSPlayKept(ds, pcm, 3);
    EXPECT_TRUE(WaitFor([&] { return !DSIsPlaying(ds); }));
    const DSPlace end = DSWhere(ds);
    EXPECT_EQ(end.pass, 2);
    EXPECT_EQ(end.frame, 4410);
    DSStop(ds);
    const std::vector<uint8_t> played = AfterLeadingSilence(Played());
    ASSERT_GE(played.size(), 3 * n);
    for (size_t pass = 0; pass < 3; ++pass)
      EXPECT_EQ(std::memcmp(played.data() + pass * n, bytes, n), 0) << "pass " << pass;
    EXPECT_TRUE(IsSilent(played.data() + 3 * n, played.size() - 3 * n));
  }
  {
    modDS ds;
    DSPlayKept(ds, pcm, 0);
    EXPECT_TRUE(WaitFor([&] {
      DSIsPlaying(ds);
      return DSWhere(ds).pass >= 40;  // four seconds of sound: two refills at least
    }));
    EXPECT_TRUE(DSIsPlaying(ds));
    DSStop(ds);
    const std::vector<uint8_t> played = AfterLeadingSilence(Played());
    ASSERT_GE(played.size(), 40 * n);
    for (size_t pass = 0; pass < 40; ++pass)
      ASSERT_EQ(std::memcmp(played.data() + pass * n, bytes, n), 0) << "pass " << pass;
  }
}

// Paused, the place stays and the device plays silence; moves while paused go from the place
// reached and stop at the ends of the pass; the sound then goes on from the new place. Past the
// end of a pass the next one starts.
TEST_F(DiskPlayback, PauseHoldsThePlaceAndSeekMovesIt) {
  const std::vector<int16_t> pcm = TestPcm(44100 * 8);
  const size_t n = pcm.size() * 2;
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  modDS ds;
  DSPlayKept(ds, pcm, 2);
  ASSERT_TRUE(WaitFor([&] { return DSWhere(ds).frame > 0; }));
  DSSetPaused(ds, true);
  const DSPlace paused = DSWhere(ds);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(DSIsPlaying(ds));
  EXPECT_EQ(DSWhere(ds).frame, paused.frame);
  EXPECT_EQ(paused.pass, 0);

  DSSeek(ds, -1000000);
  EXPECT_EQ(DSWhere(ds).frame, 0);
  DSSeek(ds, 3 * 44100);
  EXPECT_EQ(DSWhere(ds).frame, 3 * 44100);
  DSSeek(ds, 4 * 44100);
  DSSeek(ds, -44100);
  EXPECT_EQ(DSWhere(ds).frame, 6 * 44100);
  const size_t heardBefore = AfterLeadingSilence(Played()).size();
  DSSetPaused(ds, false);
  ASSERT_TRUE(WaitFor([&] {
    DSIsPlaying(ds);
    return DSWhere(ds).pass == 1;
  }));
  DSSeek(ds, 100 * 44100);  // past the end of the last pass: the sound ends
  EXPECT_EQ(DSWhere(ds).frame, 8 * 44100);
  EXPECT_TRUE(WaitFor([&] { return !DSIsPlaying(ds); }));
  DSStop(ds);

  // The piece up to the pause, silence, then the piece from 6 s on and as much of the second
  // pass as played before the last move.
  const std::vector<uint8_t> played = AfterLeadingSilence(Played());
  const size_t first = static_cast<size_t>(paused.frame) * 4;
  ASSERT_GE(played.size(), heardBefore);
  EXPECT_EQ(std::memcmp(played.data(), bytes, first), 0);
  ASSERT_GE(heardBefore, first);
  EXPECT_TRUE(IsSilent(played.data() + first, heardBefore - first));
  size_t at = heardBefore;
  while (at < played.size() && played[at] == 0)
    ++at;  // the device's silence until the pause ended
  at -= at % 4;
  const size_t rest = n - 6 * 44100 * 4;
  ASSERT_GE(played.size(), at + rest + 4);
  EXPECT_EQ(std::memcmp(played.data() + at, bytes + 6 * 44100 * 4, rest), 0);
  at += rest;
  size_t second = 0;
  while (at + second + 4 <= played.size() &&
         std::memcmp(played.data() + at + second, bytes + second, 4) == 0)
    second += 4;
  EXPECT_GT(second, 0u) << "the second pass did not follow the first";
  EXPECT_TRUE(IsSilent(played.data() + at + second, played.size() - at - second));
}

TEST_F(DiskPlayback, StopCutsThePieceOff) {
  const std::vector<int16_t> pcm = TestPcm(44100 * 30);
  setenv("SDL_DISKAUDIODELAY", "40", 1);  // about real time
  modDS ds;
  DSPlay(ds, pcm);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(DSIsPlaying(ds));
  DSStop(ds);
  EXPECT_FALSE(DSIsPlaying(ds));
  EXPECT_LT(Played().size(), pcm.size() * 2 / 4);
}

TEST_F(DiskPlayback, NothingToPlayOpensNothing) {
  modDS ds;
  DSStop(ds);  // before anything
  DSPlay(ds, std::vector<int16_t>{});
  EXPECT_EQ(ds.DSDevice, 0u);
  EXPECT_FALSE(DSIsPlaying(ds));
  DSStop(ds);
  DSStop(ds);
  EXPECT_FALSE(ds.DSDriver);
}

TEST_F(DiskPlayback, DriverNamedByTheCallerWinsOverTheEnvironment) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  modDS ds;
  EXPECT_NO_THROW(DSInit(ds, "disk"));
  DSStop(ds);

  modDS other;
  try {
    DSInit(other, "no-such-driver");
    FAIL() << "an unknown driver was accepted";
  } catch (const DSError& error) {
    EXPECT_NE(std::string(error.what()).find("no-such-driver"), std::string::npos) << error.what();
  }
  DSStop(other);
}

}  // namespace
}  // namespace quom
