// Files on POSIX systems: names are bytes, which the program takes to be UTF-8 as they come.
#include "app/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quom {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::filesystem::path PathFromUtf8(const std::string& name) {
  return std::filesystem::path(name);
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  return path.string();
}

FILE* OpenFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

int CreateUniqueFile(const std::string& prefix, std::string& name) {
  std::vector<char> pattern(prefix.begin(), prefix.end());
  for (char c : std::string("XXXXXX"))
    pattern.push_back(c);
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return errno;
  // mkstemp creates the file for its owner alone; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  name = pattern.data();
  return 0;
}

int OpenForWriting(const std::string& name) {
  return open(name.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
}

int CloseFile(int fd) {
  return close(fd);
}

int ReplaceWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void RemoveFileNow(const char* name) {
  unlink(name);
}

void RemoveFolderNow(const char* name) {
  rmdir(name);
}

}  // namespace quom
