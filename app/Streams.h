// The standard streams: whether one is a terminal, the console's setup, and bytes to standard
// output exactly as given. One implementation per platform (app/posix/Streams.cpp,
// app/windows/Streams.cpp).
#pragma once

#include <cstdio>
#include <span>

namespace quom {

// Whether `stream` is an interactive terminal (on Windows, a console; the NUL device, which the
// C library takes for a terminal, is none).
bool IsTerminal(FILE* stream);

// Readies the terminal for what the program writes to it: on Windows the console takes UTF-8 and
// the escape sequences of the status line. Call once, early.
void PrepareTerminal();

// Writes every byte to standard output, unchanged (binary, whatever the platform's text mode).
// Returns 0, EPIPE when the reader has gone, or another errno value.
int WriteAllToStdout(std::span<const unsigned char> bytes);

}  // namespace quom
