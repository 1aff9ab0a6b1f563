// Playback through SDL's disk driver: what the device is handed is what it plays, once.
#include "audio/modDS.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
