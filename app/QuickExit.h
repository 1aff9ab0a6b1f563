// The program's way out at once, as std::quick_exit, which the Windows C runtime lacks: the
// functions registered here run, the last registered first, then the process ends without
// destructors or atexit handlers. Nothing here is platform code.
#pragma once

namespace quom {

// At most eight functions; later ones are ignored.
void AtQuickExit(void (*fn)());

[[noreturn]] void QuickExit(int status);

}  // namespace quom
