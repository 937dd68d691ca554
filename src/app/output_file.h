// Where the results go: a named regular file is replaced, never damaged.
//
// For a regular file (or a name that does not exist yet) the results are
// written to a temporary file in the same directory, which Commit renames
// over the target; until then the target keeps what it held, and Abandon (or
// the destructor) removes the temporary file. Standard output and files that
// are not regular (a pipe, a terminal, /dev/null) are written directly, as a
// stream: they cannot be replaced.
//
// The temporary file's space is reserved ahead of the writes, in steps of
// kReserveStep, and what was reserved past the last byte is given back at
// Commit: the file system then maps each written page onto space already
// held instead of accounting for it page by page. A file system that cannot
// reserve is written to as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tallow::app {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Opens `path` ("-" for standard output). On failure returns false and
  // sets *error to a message that names the path.
  bool Open(const std::string& path, std::string* error);
  // Writes to an open descriptor as a stream (not closed here).
  void Attach(int fd, std::string displayName);
  // Writes to a stdio stream (one that may have no descriptor).
  void Attach(std::FILE* stream, std::string displayName);

  // Writes all bytes; false on an error (errorNumber() tells which).
  bool Write(const char* data, std::size_t size);
  // For a replaced file: closes the temporary file and renames it over the
  // target. For a stream: nothing. False when closing or renaming failed.
  bool Commit();
  // Removes the temporary file; the target stays as it was.
  void Abandon();

  bool replacing() const { return !temporaryPath_.empty(); }
  int errorNumber() const { return errorNumber_; }
  const std::string& displayName() const { return displayName_; }

 private:
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  bool owned_ = false;
  int errorNumber_ = 0;
  std::string displayName_;
  std::string targetPath_;
  std::string temporaryPath_;  ///< "" when writing directly
  uint64_t written_ = 0;
  uint64_t reserved_ = 0;  ///< bytes of space held from the start of the file
  bool reserving_ = false;  ///< space is reserved ahead (a temporary file that allows it)
};

inline constexpr uint64_t kReserveStep = 16 * 1024 * 1024;

}  // namespace tallow::app
