// The command line of quom: options, loading the note list, and the file-writing render.
#pragma once

namespace quom {

// Parses the arguments and runs the program. Returns the exit status: 0 on success, 2 for bad
// input or usage, 1 for any other failure. Every failure prints one line starting "quom: ".
int RunCli(int argc, char** argv);

}  // namespace quom
