// Exit handlers for the way out at once.
#include "app/QuickExit.h"

#include <atomic>
#include <cstdlib>

namespace quom {

namespace {

constexpr int kMost = 8;
void (*gHandlers[kMost])();
std::atomic<int> gCount{0};

}  // namespace

void AtQuickExit(void (*fn)()) {
  const int n = gCount.load();
  if (n >= kMost) return;
  gHandlers[n] = fn;
  gCount.store(n + 1);
}

void QuickExit(int status) {
  for (int i = gCount.load() - 1; i >= 0; --i)
    gHandlers[i]();
  std::_Exit(status);
}

}  // namespace quom
