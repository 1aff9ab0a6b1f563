// Requests from outside to stop the program: Ctrl-C, a request to terminate, the terminal going
// away (SIGINT, SIGTERM and SIGHUP on POSIX systems; on Windows Ctrl-C and Ctrl-Break, the console
// window closing, logoff and shutdown). Each ends the program with the status a shell reports for
// it, 128 + the signal's number: 130 for Ctrl-C (and Ctrl-Break), 143 for a request to terminate,
// 129 for a hangup. One implementation per platform (app/posix/Interrupts.cpp,
// app/windows/Interrupts.cpp).
#pragma once

namespace quom {

// From now on a stop request removes the temporary files and the folders registered with
// OutputFile, then ends the process at once. Call once, early.
void RemoveTempFilesOnSignal();

// For playback (the main sequence): until InterruptsDuringPlayback, Ctrl-C and a request to
// terminate end the process at once; from then on they are noted, and the front's next
// ProcessEvents stops the sound and exits.
void InstallInterruptHandlers();
void InterruptsDuringPlayback();

// The signal noted during playback, 0 for none; the program then exits with 128 + its number.
int InterruptRequested();

}  // namespace quom
