// Short note lists for the whole-render tests: seconds to render, every instrument code.
#pragma once

#include <vector>

#include "score/NoteList.h"

namespace quom::test {

// Every instrument code the dispatcher knows (24, 25, 26, 27, 32, 37, 127 with each drum
// selector) and one it does not, overlapping, all within one second of ticks.
inline std::vector<NoteRec> AllInstrumentsScore() {
  return {
      {0, 4, 60, 100, 24},   {2, 3, 64, 110, 25},  {3, 5, 62, 90, 50},  // 50: no instrument
      {4, 6, 55, 90, 26},    {6, 4, 33, 120, 27},  {8, 4, 29, 127, 32},  {10, 3, 36, 80, 37},
      {0, 1, 36, 127, 127},  {2, 1, 38, 110, 127}, {4, 1, 39, 100, 127}, {6, 1, 40, 100, 127},
      {8, 1, 59, 90, 127},   {10, 1, 61, 90, 127}, {12, 1, 63, 90, 127}, {14, 1, 67, 100, 127},
      {16, 1, 69, 100, 127}, {12, 2, 72, 127, 25},
  };
}

}  // namespace quom::test
