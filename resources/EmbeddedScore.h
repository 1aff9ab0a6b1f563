// The note list built into the executable, as its 7-byte records.
#pragma once

#include <cstdint>
#include <span>

namespace quom {

std::span<const uint8_t> EmbeddedNoteList();

}  // namespace quom
