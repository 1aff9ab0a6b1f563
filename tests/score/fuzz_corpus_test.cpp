// Every input the fuzzers kept, and every one that once failed, replayed through the same
// harnesses in the ordinary build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/NoteListFuzz.h"

namespace quom {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Feeds every file under the given folders of tests/fuzz to `harness`; returns how many.
template <typename Harness>
size_t Replay(Harness harness, std::initializer_list<const char*> folders) {
  size_t count = 0;
  for (const char* folder : folders) {
    const fs::path dir = fs::path(QUOM_SOURCE_DIR) / "tests" / "fuzz" / folder;
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      const std::vector<uint8_t> bytes = ReadBytes(entry.path());
      EXPECT_EQ(harness(bytes), "") << entry.path();
      ++count;
    }
  }
  return count;
}

TEST(FuzzCorpus, BinaryInputsReplayCleanly) {
  EXPECT_GT(Replay(fuzz::FuzzBinaryNoteList, {"corpus-binary", "regressions-binary"}), 20u);
}

TEST(FuzzCorpus, TextInputsReplayCleanly) {
  EXPECT_GT(Replay(fuzz::FuzzTextNoteList, {"corpus-text", "regressions-text"}), 20u);
}

TEST(FuzzCorpus, MidiInputsReplayCleanly) {
  EXPECT_GT(Replay(fuzz::FuzzMidiScore, {"corpus-midi", "regressions-midi"}), 20u);
}

}  // namespace
}  // namespace quom
