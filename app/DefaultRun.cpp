// The interactive run. Until the window and playback exist, it says so and points to --wav.
#include "app/DefaultRun.h"

#include <cstdio>

namespace quom {

int RunDefault(const std::vector<NoteRec>& notes) {
  (void)notes;
  std::fprintf(stderr,
               "quom: playback is not available in this build; render the piece to a file with "
               "--wav FILE (see --help)\n");
  return 0;
}

}  // namespace quom
