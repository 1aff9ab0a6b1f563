// Temporary-then-rename output files, and their removal when the program is interrupted.
#include "app/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace quom {

namespace {

// Temporary names of live output files, readable from a signal handler: a slot's name is
// complete before its flag is raised, and the flag is lowered before the name is touched again.
constexpr int kSlots = 16;
constexpr size_t kMaxPath = 4096;
char g_tempNames[kSlots][kMaxPath];
volatile std::sig_atomic_t g_tempLive[kSlots];

int RegisterTemp(const std::string& name) {
  if (name.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (!g_tempLive[i]) {
      std::memcpy(g_tempNames[i], name.c_str(), name.size() + 1);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      g_tempLive[i] = 1;
      return i;
    }
  }
  return -1;  // no slot: the file is still removed on every ordinary path
}

void UnregisterTemp(int slot) {
  if (slot >= 0) g_tempLive[slot] = 0;
}

extern "C" void RemoveTempsAndDie(int sig) {
  for (int i = 0; i < kSlots; ++i) {
    if (g_tempLive[i]) unlink(g_tempNames[i]);  // fails harmlessly on a folder
  }
  // Then the folders, deepest first whatever their slots: a pass removes those already empty.
  for (int pass = 0; pass < kSlots; ++pass) {
    for (int i = 0; i < kSlots; ++i) {
      if (g_tempLive[i]) rmdir(g_tempNames[i]);  // fails harmlessly on a file or a full folder
    }
  }
  std::signal(sig, SIG_DFL);
  raise(sig);
}

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw std::runtime_error("cannot write '" + path + "': " + why);
}

}  // namespace

void RemoveTempFilesOnSignal() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    std::signal(sig, RemoveTempsAndDie);
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
  if (fs::is_directory(path_, ec)) Fail(path_, "it is a folder");
  // The rename would put a file in the place of a pipe or a device, and whoever reads from it
  // would never see the sound. A symbolic link is replaced like a file.
  const fs::file_status existing = fs::symlink_status(path_, ec);
  if (fs::exists(existing) && !fs::is_regular_file(existing) && !fs::is_symlink(existing)) {
    Fail(path_, "it is not a regular file (a pipe, a device or a socket)");
  }

  const fs::path dest(path_);
  const fs::path dir = dest.has_parent_path() ? dest.parent_path() : fs::path(".");
  std::string pattern = (dir / ("." + dest.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) Fail(path_, std::strerror(errno));
  temp_ = name.data();
  slot_ = RegisterTemp(temp_);

  // mkstemp creates the file for its owner alone; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
}

OutputFile::~OutputFile() {
  if (!committed_) {
    unlink(temp_.c_str());  // before unregistering: a signal in between finds nothing to remove
    UnregisterTemp(slot_);
  }
}

void OutputFile::Commit() {
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) Fail(path_, std::strerror(errno));
  UnregisterTemp(slot_);
  committed_ = true;
}

}  // namespace quom
