// The two kinds of failure the program tells apart by exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace quom {

// Bad input or usage: a missing or invalid score, an unknown option or output format. Exit 2.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& what) : std::runtime_error(what) {}
};

// The reader of standard output has gone (a closed pipe): the program ends quietly with status
// 141, as a shell reports a program that a closed pipe stopped.
class OutputClosed : public std::runtime_error {
 public:
  OutputClosed() : std::runtime_error("standard output was closed") {}
};

// Anything else (an output that cannot be written, exhausted memory) exits with status 1.

}  // namespace quom
