// libFuzzer target: 7-byte note records, checked and rendered (see NoteListFuzz.h).
#include <cstdio>

#include "tests/fuzz/NoteListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = quom::fuzz::FuzzBinaryNoteList({data, size});
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_binary: %s\n", failure.c_str());
    __builtin_trap();
  }
  return 0;
}
