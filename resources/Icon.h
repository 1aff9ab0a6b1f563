// The window icon: a six-armed snowflake ornament in cyan, white and dark cyan with black
// outlines on a transparent background.
#pragma once

#include <cstdint>
#include <vector>

namespace quom {

// The icon at size x size pixels (32 and 16 are the ones the window uses; the desktop's icon
// theme takes larger ones), as RGBA bytes row by row. Only five colours occur: transparent,
// black, dark cyan, cyan and white.
std::vector<uint8_t> SnowflakeIcon(int size);

}  // namespace quom
