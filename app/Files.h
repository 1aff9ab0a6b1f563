// Files and their names as the program sees them: every name is UTF-8, on Windows too, where the
// system's own names are UTF-16 and the command line arrives as such. One implementation per
// platform (app/posix/Files.cpp, app/windows/Files.cpp); nothing else in the program asks the
// system about files by name.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace quom {

// The program's arguments as UTF-8, the program's name first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// A file system path for a UTF-8 name, and back.
std::filesystem::path PathFromUtf8(const std::string& name);
std::string Utf8FromPath(const std::filesystem::path& path);

// std::fopen for a UTF-8 name (binary modes only: "rb", "wb").
FILE* OpenFile(const std::string& name, const char* mode);

// Creates a new, empty file named `prefix` followed by characters that make the name unique, with
// the permissions a new file gets, and sets `name` to it. Returns 0 or an errno value.
int CreateUniqueFile(const std::string& prefix, std::string& name);

// Opens an existing file for reading and writing from its start, emptied, in binary mode: a file
// descriptor, or -1 with errno set. On Windows the file can be removed while it is open (it goes
// when the last handle closes), so that a stop request can take a temporary file away at once.
int OpenForWriting(const std::string& name);

// Closes a file descriptor from OpenForWriting: 0, or -1 with errno set.
int CloseFile(int fd);

// Renames `from` to `to`, replacing a file there. Returns 0 or an errno value.
int ReplaceWith(const std::string& from, const std::string& to);

// Remove a file, or an empty folder, by its UTF-8 name. Async-signal-safe on POSIX systems:
// these run on the program's way out after a stop request, and fail harmlessly on anything else
// (a folder given to RemoveFileNow, a file or a full folder to RemoveFolderNow).
void RemoveFileNow(const char* name);
void RemoveFolderNow(const char* name);

}  // namespace quom
