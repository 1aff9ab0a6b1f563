// A render counts the work it starts and checks, stage by stage, that all of it was done: work
// lost between threads is an internal error, never a quietly different piece.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quom {

class RenderIncomplete : public std::logic_error {
 public:
  explicit RenderIncomplete(const std::string& what) : std::logic_error(what) {}
};

// Throws RenderIncomplete ("internal error: the render lost work: 5316 of 5317 layers mixed")
// unless `done` equals `started`.
inline void CheckComplete(int64_t done, int64_t started, const char* what) {
  if (done == started) return;
  throw RenderIncomplete("internal error: the render lost work: " + std::to_string(done) + " of " +
                         std::to_string(started) + " " + what);
}

}  // namespace quom
