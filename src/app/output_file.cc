#include "app/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tallow::app {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// The directory part of a path, "." when it has none.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

OutputFile::~OutputFile() {
  Abandon();
  if (owned_ && fd_ >= 0) ::close(fd_);
}

void OutputFile::Attach(int fd, std::string displayName) {
  fd_ = fd;
  owned_ = false;
  displayName_ = std::move(displayName);
}

bool OutputFile::Open(const std::string& path, std::string* error) {
  if (path == "-") {
    Attach(STDOUT_FILENO, "standard output");
    return true;
  }
  displayName_ = path;
  // A link is followed, so the file it leads to is the one replaced.
  std::string target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    *error = "cannot open " + path + " for writing: " + ErrorText(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      *error = "cannot open " + path + " for writing: " + ErrorText(errno);
      return false;
    }
    owned_ = true;
    return true;
  }
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    *error = "cannot open " + path + " for writing: " + ErrorText(errno);
    return false;
  }
  std::string pattern = DirectoryOf(target) + "/." + BaseNameOf(target) + ".tallow-XXXXXX";
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    *error = "cannot open " + path + " for writing: " + ErrorText(errno);
    if (exists) {
      *error += " (the results go to a temporary file in " + DirectoryOf(target) +
                " that replaces " + path + " at the end, so that it is never left half written)";
    }
    return false;
  }
  owned_ = true;
  temporaryPath_ = pattern;
  targetPath_ = target;
  // The new file gets the mode the old one had, or the mode a new file gets.
  ::fchmod(fd_, exists ? (info.st_mode & 07777) : CreationMode());
  reserving_ = true;
  return true;
}

void OutputFile::Attach(std::FILE* stream, std::string displayName) {
  stream_ = stream;
  owned_ = false;
  displayName_ = std::move(displayName);
}

bool OutputFile::Write(const char* data, std::size_t size) {
  if (stream_ != nullptr) {
    if (std::fwrite(data, 1, size, stream_) == size && std::fflush(stream_) == 0) return true;
    errorNumber_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (reserving_ && written_ + size > reserved_) {
    // The size stays that of the bytes written; a failure (no support, no
    // space for a whole step) only ends the reserving.
    const uint64_t step = std::max<uint64_t>(kReserveStep, written_ + size - reserved_);
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(reserved_),
                    static_cast<off_t>(step)) == 0) {
      reserved_ += step;
    } else {
      reserving_ = false;
    }
  }
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      errorNumber_ = errno;
      return false;
    }
    if (n == 0) {
      errorNumber_ = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool OutputFile::Commit() {
  if (temporaryPath_.empty()) return true;
  // Space reserved past the end is given back. The size does not change,
  // so a failure leaves the bytes as written and only the space unused.
  if (reserved_ > written_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    reserved_ = written_;
  }
  const int fd = fd_;
  fd_ = -1;
  owned_ = false;
  if (::close(fd) != 0) {
    errorNumber_ = errno;
    Abandon();
    return false;
  }
  if (::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    errorNumber_ = errno;
    Abandon();
    return false;
  }
  temporaryPath_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (temporaryPath_.empty()) return;
  if (owned_ && fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    owned_ = false;
  }
  ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
}

}  // namespace tallow::app
