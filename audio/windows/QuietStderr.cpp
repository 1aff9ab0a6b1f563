// Nothing to quieten on Windows: SDL's drivers there (WASAPI, DirectSound, winmm, disk) write
// nothing to standard error.
#include "audio/QuietStderr.h"

namespace quom {

QuietStderr::QuietStderr() = default;
QuietStderr::~QuietStderr() = default;

}  // namespace quom
