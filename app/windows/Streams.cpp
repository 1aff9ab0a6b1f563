// The standard streams on Windows: the console, and the C library's text mode kept off the sound.
#include "app/Streams.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

namespace quom {

namespace {

HANDLE HandleOf(FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

bool IsTerminal(FILE* stream) {
  DWORD mode;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

void PrepareTerminal() {
  SetConsoleOutputCP(CP_UTF8);
  // The status line ends with "erase to the end of the line"; consoles before Windows 10 show
  // it as it is, but the line stays readable.
  for (FILE* stream : {stdout, stderr}) {
    DWORD mode;
    const HANDLE h = HandleOf(stream);
    if (GetConsoleMode(h, &mode)) SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

int WriteAllToStdout(std::span<const unsigned char> bytes) {
  std::fflush(stdout);
  // Straight to the handle: in the C library's text mode every byte 10 would gain a 13 before it.
  const HANDLE out = HandleOf(stdout);
  for (size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    DWORD n = 0;
    if (!WriteFile(out, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
      const DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ? EPIPE : EIO;
    }
    done += n;
  }
  return 0;
}

}  // namespace quom
