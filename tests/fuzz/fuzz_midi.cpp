// libFuzzer target: Standard MIDI Files, read, written back, checked and rendered (see
// NoteListFuzz.h).
#include <cstdio>

#include "tests/fuzz/NoteListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = quom::fuzz::FuzzMidiScore({data, size});
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_midi: %s\n", failure.c_str());
    __builtin_trap();
  }
  return 0;
}
