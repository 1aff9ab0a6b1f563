// Temporary-then-rename output files, and their removal when the program is interrupted.
#include "app/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "app/Files.h"

namespace quom {

namespace {

// Temporary names of live output files, readable from a signal handler (or, on Windows, the
// thread that handles Ctrl-C): a slot's name is complete before its flag is raised, and the flag
// is lowered before the name is touched again.
constexpr int kSlots = 16;
constexpr size_t kMaxPath = 4096;
char g_tempNames[kSlots][kMaxPath];
std::atomic<int> g_tempLive[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the flags");

int RegisterTemp(const std::string& name) {
  if (name.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (!g_tempLive[i]) {
      std::memcpy(g_tempNames[i], name.c_str(), name.size() + 1);
      g_tempLive[i] = 1;
      return i;
    }
  }
  return -1;  // no slot: the file is still removed on every ordinary path
}

void UnregisterTemp(int slot) {
  if (slot >= 0) g_tempLive[slot] = 0;
}

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw std::runtime_error("cannot write '" + path + "': " + why);
}

}  // namespace

void RemoveTempFilesNow() {
  for (int i = 0; i < kSlots; ++i) {
    if (g_tempLive[i]) RemoveFileNow(g_tempNames[i]);  // fails harmlessly on a folder
  }
  // Then the folders, deepest first whatever their slots: a pass removes those already empty.
  for (int pass = 0; pass < kSlots; ++pass) {
    for (int i = 0; i < kSlots; ++i) {
      if (g_tempLive[i]) RemoveFolderNow(g_tempNames[i]);  // fails harmlessly on a file
    }
  }
}

int RemoveFolderOnSignal(const std::string& path) {
  return RegisterTemp(path);
}

void KeepFolder(int handle) {
  UnregisterTemp(handle);
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(PathFromUtf8(path_), ec)) Fail(path_, "it is a folder");
  // The rename would put a file in the place of a pipe or a device, and whoever reads from it
  // would never see the sound. A symbolic link is replaced like a file.
  const fs::file_status existing = fs::symlink_status(PathFromUtf8(path_), ec);
  if (fs::exists(existing) && !fs::is_regular_file(existing) && !fs::is_symlink(existing)) {
    Fail(path_, "it is not a regular file (a pipe, a device or a socket)");
  }

  const fs::path dest = PathFromUtf8(path_);
  const fs::path dir = dest.has_parent_path() ? dest.parent_path() : fs::path(".");
  const std::string prefix =
      Utf8FromPath(dir / PathFromUtf8("." + Utf8FromPath(dest.filename()) + "."));
  if (const int error = CreateUniqueFile(prefix, temp_)) Fail(path_, std::strerror(error));
  slot_ = RegisterTemp(temp_);
}

OutputFile::~OutputFile() {
  if (!committed_) {
    RemoveFileNow(temp_.c_str());  // before unregistering: a signal in between finds nothing
    UnregisterTemp(slot_);
  }
}

int OutputFile::OpenTemp() const {
  const int fd = OpenForWriting(temp_);
  if (fd < 0) Fail(path_, std::strerror(errno));
  return fd;
}

void OutputFile::Commit() {
  if (const int error = ReplaceWith(temp_, path_)) Fail(path_, std::strerror(error));
  UnregisterTemp(slot_);
  committed_ = true;
}

}  // namespace quom
