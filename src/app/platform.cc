#include "app/platform.h"

#include <sys/stat.h>
#include <unistd.h>

namespace tallow::app {

void ShowMessage(std::FILE* err, const char* caption, const char* text,
                 const std::string& detail) {
  std::fprintf(err, "%s: %s\n", caption, text);
  if (!detail.empty()) std::fprintf(err, "%s\n", detail.c_str());
  std::fflush(err);
}

bool DirectoryEntryExists(const std::string& directory, const std::string& name) {
  const std::string path = directory.empty() ? name : directory + "/" + name;
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool IsSameRegularFile(int fd, const std::string& path) {
  struct stat in {};
  struct stat out {};
  if (::fstat(fd, &in) != 0 || !S_ISREG(in.st_mode)) return false;
  if (::stat(path.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return false;
  return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

}  // namespace tallow::app
