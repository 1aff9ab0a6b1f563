// An output file that appears whole or not at all: written under a temporary name in its own
// folder, renamed into place on Commit, removed otherwise.
#pragma once

#include <string>

namespace quom {

class OutputFile {
 public:
  // Creates the temporary file at once, so an unwritable destination fails before any work is
  // done. A folder, pipe or device at `path` is refused. Throws std::runtime_error with a message
  // naming `path`.
  explicit OutputFile(std::string path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& temp_path() const { return temp_; }

  // The temporary file opened for writing, emptied: a file descriptor for the caller to close.
  // Throws std::runtime_error naming `path`.
  int OpenTemp() const;

  // Renames the temporary file to the destination, replacing any file there.
  void Commit();

 private:
  std::string path_;
  std::string temp_;
  int slot_ = -1;  // where the temporary name is registered for removal on a fatal signal
  bool committed_ = false;
};

// Removes the temporary files of live OutputFiles, and then the folders registered below, for a
// stop request (app/Interrupts.h) on its way out. Async-signal-safe on POSIX systems.
void RemoveTempFilesNow();

// A folder this run created for its output: a stop request removes it too (when empty, as it is
// once the temporary files are gone) until KeepFolder is called with the returned handle. Returns
// -1 when no room is left to register it; it is then only removed on the ordinary paths.
int RemoveFolderOnSignal(const std::string& path);
void KeepFolder(int handle);

}  // namespace quom
