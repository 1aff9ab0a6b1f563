// `quom --bench`: times the whole synthesis, stage by stage, on the fast and the literal path.
#pragma once

#include <vector>

#include "render/Synthesize.h"
#include "score/NoteList.h"

namespace quom {

// Renders `notes` `runs` times on the fast path with the vector instructions and workers of
// `fast` and once on the literal path, checks that every render gives the same bytes, and prints
// a table of stage times (medians) to standard output. Returns the exit status: 1 if two renders
// differ.
int RunBench(const std::vector<NoteRec>& notes, int runs, const RenderOptions& fast);

}  // namespace quom
