// Files on Windows: the program's UTF-8 names become the system's UTF-16 ones at each call.
#include "app/Files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <cerrno>

namespace quom {

namespace {

// UTF-8 to UTF-16 into a buffer on the stack: no allocation, as the stop handler calls it too.
// Names longer than the system's longest path give an empty string, which names no file.
constexpr int kMaxWide = 32768;

bool ToWide(const char* utf8, wchar_t (&wide)[kMaxWide]) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, kMaxWide) > 0;
}

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(n - 1));
  return utf8;
}

// The errno value of the last system error, so that messages read as on other systems.
int LastErrno() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EIO;
  }
}

// Every handle the program opens for writing lets others remove the file, so that a stop
// request can take a temporary file away while it is being written.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i)
    args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

std::filesystem::path PathFromUtf8(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

FILE* OpenFile(const std::string& name, const char* mode) {
  return _wfopen(Wide(name).c_str(), Wide(mode).c_str());
}

int CreateUniqueFile(const std::string& prefix, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::wstring widePrefix = Wide(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[32];
    const unsigned mix = GetCurrentProcessId() * 2654435761u ^
                         static_cast<unsigned>(GetTickCount64()) ^ (counter++ * 40503u);
    swprintf(suffix, 32, L"%06x", mix & 0xffffffu);
    const std::wstring candidate = widePrefix + suffix;
    const HANDLE h = CreateFileW(candidate.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      name = Utf8(candidate.c_str());
      return 0;
    }
    const int error = LastErrno();
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int OpenForWriting(const std::string& name) {
  const HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                               TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = LastErrno();
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

int CloseFile(int fd) {
  return _close(fd);
}

int ReplaceWith(const std::string& from, const std::string& to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return LastErrno();
}

void RemoveFileNow(const char* name) {
  wchar_t wide[kMaxWide];
  if (ToWide(name, wide)) DeleteFileW(wide);
}

void RemoveFolderNow(const char* name) {
  wchar_t wide[kMaxWide];
  if (ToWide(name, wide)) RemoveDirectoryW(wide);
}

}  // namespace quom
