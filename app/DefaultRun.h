// What a plain `quom` does: synthesise the piece with the window showing progress, then play it.
#pragma once

#include <vector>

#include "song/NoteList.h"

namespace quom {

// Runs the interactive program on `notes` and returns the exit status.
int RunDefault(const std::vector<NoteRec>& notes);

}  // namespace quom
