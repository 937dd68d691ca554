// Whole sets in directories for build and synth: which sources a directory
// offers, and writing a set so that a failure leaves the old one whole.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

#include "toolkit/toolkit.h"

namespace tallow {

namespace {

namespace fs = std::filesystem;

bool IsKnown(const std::string& name) {
  const std::vector<std::string> names = SetFileNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Characters a slip of the eye or the keyboard puts for one another.
bool Confusable(char a, char b) {
  static constexpr const char* kPairs[] = {"O0", "I1", "L1", "S5", "B8", "Z2"};
  for (const char* p : kPairs) {
    if ((a == p[0] && b == p[1]) || (a == p[1] && b == p[0])) return true;
  }
  return false;
}

// Edits from a to b in half steps: an insertion, deletion or replacement
// costs 2, replacing a character by one it is easily taken for costs 1, and
// letters compare without case.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = 2 * j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = 2 * i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const char ca = static_cast<char>(std::toupper(static_cast<unsigned char>(a[i - 1])));
      const char cb = static_cast<char>(std::toupper(static_cast<unsigned char>(b[j - 1])));
      const std::size_t replace = ca == cb ? 0 : Confusable(ca, cb) ? 1 : 2;
      row[j] = std::min({row[j] + 2, row[j - 1] + 2, diagonal + replace});
      diagonal = above;
    }
  }
  return row[b.size()];
}

Result<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) return Status::Error(fmt::format("{}: cannot read", path.string()));
  return content.str();
}

Status WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return Status::Error(fmt::format("{}: cannot write", path.string()));
  return Status::Ok();
}

// A new empty directory beside `target` (same file system, so its files can
// be renamed into the target).
Result<fs::path> MakeTemporaryBeside(const fs::path& target) {
  fs::path parent = target.parent_path();
  if (parent.empty()) parent = ".";
  std::string pattern = (parent / ("." + target.filename().string() + ".new-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    return Status::Error(fmt::format("{}: cannot create a temporary directory beside it: {}",
                                     target.string(),
                                     std::error_code(errno, std::generic_category()).message()));
  }
  return fs::path(buffer.data());
}

}  // namespace

std::string ClosestTableName(std::string_view name) {
  std::string best;
  std::size_t bestDistance = 5;  // more than two edits is no longer a slip
  for (const std::string& known : SetFileNames()) {
    const std::size_t d = EditDistance(name, known);
    if (d < bestDistance) {
      bestDistance = d;
      best = known;
    }
  }
  return best;
}

Result<std::map<std::string, std::string>> ReadBuildSources(const std::string& directory,
                                                            bool allowMissing) {
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) {
    return Status::Error(fmt::format("{}: not a directory", directory));
  }
  std::map<std::string, std::string> sources;
  std::vector<std::string> unknown;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".txt") != 0) continue;
    const std::string name = file.substr(0, file.size() - 4);
    if (!IsKnown(name)) {
      unknown.push_back(file);
      continue;
    }
    Result<std::string> bytes = ReadFile(it->path());
    if (!bytes.ok()) return bytes.status();
    sources[name] = std::move(*bytes);
  }
  if (ec) return Status::Error(fmt::format("{}: cannot list: {}", directory, ec.message()));
  if (!unknown.empty()) {
    std::sort(unknown.begin(), unknown.end());
    std::string message;
    for (const std::string& file : unknown) {
      if (!message.empty()) message += "\n";
      const std::string closest = ClosestTableName(file.substr(0, file.size() - 4));
      message += closest.empty()
                     ? fmt::format("{}: no such table", file)
                     : fmt::format("{}: no such table; did you mean {}.txt?", file, closest);
    }
    return Status::Error(message);
  }
  std::vector<std::string> missing;
  for (const char* name : kTableFiles) {
    if (sources.count(name) == 0) missing.push_back(std::string(name) + ".txt");
  }
  if (missing.size() == std::size(kTableFiles)) {
    return Status::Error(fmt::format("{}: no table source (DXTAB8.txt ... RDRGCL.txt) in it",
                                     directory));
  }
  if (!missing.empty() && !allowMissing) {
    std::string list;
    for (const std::string& m : missing) list += (list.empty() ? "" : ", ") + m;
    return Status::Error(fmt::format("{}: no source for {}; give --allow-missing to build "
                                     "{} empty",
                                     directory, list, missing.size() == 1 ? "it" : "them"));
  }
  return sources;
}

Status ReplaceTableFiles(const std::string& directory,
                         const std::map<std::string, std::string>& files, const std::string& suffix,
                         bool force) {
  std::error_code ec;
  // "out/", "." and "a/../out" name the directory itself: the temporary
  // directories go beside it, in its parent.
  fs::path target = fs::absolute(fs::path(directory), ec).lexically_normal();
  if (ec) return Status::Error(fmt::format("{}: {}", directory, ec.message()));
  if (target.filename().empty()) target = target.parent_path();
  const bool exists = fs::exists(target, ec);
  if (exists && !fs::is_directory(target, ec)) {
    return Status::Error(fmt::format("{}: not a directory", directory));
  }
  std::vector<std::string> held;
  if (exists) {
    for (fs::directory_iterator it(target, ec), end; !ec && it != end; it.increment(ec)) {
      held.push_back(it->path().filename().string());
    }
    if (ec) return Status::Error(fmt::format("{}: cannot list: {}", directory, ec.message()));
  }
  if (!held.empty() && !force) {
    std::sort(held.begin(), held.end());
    std::string some;
    for (std::size_t i = 0; i < held.size() && i < 3; ++i) some += (i ? ", " : "") + held[i];
    if (held.size() > 3) some += ", ...";
    return Status::Error(fmt::format("{}: holds files ({}); give --force to replace the set in it",
                                     directory, some));
  }
  for (const std::string& name : SetFileNames()) {
    const fs::path path = target / (name + suffix);
    if (exists && fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
      return Status::Error(fmt::format("{}: not a file; the set cannot be written", path.string()));
    }
  }
  if (!exists) {
    const fs::path parent = target.parent_path();
    if (!parent.empty()) {
      fs::create_directories(parent, ec);
      if (ec) return Status::Error(fmt::format("{}: cannot create: {}", parent.string(), ec.message()));
    }
  }

  // Every file is written before anything in the target changes.
  Result<fs::path> temporary = MakeTemporaryBeside(target);
  if (!temporary.ok()) return temporary.status();
  const auto discard = [&] {
    std::error_code ignored;
    fs::remove_all(*temporary, ignored);
  };
  for (const auto& [name, bytes] : files) {
    if (Status s = WriteFile(*temporary / (name + suffix), bytes); !s.ok()) {
      discard();
      return s;
    }
  }
  if (!exists) {
    fs::rename(*temporary, target, ec);
    if (ec) {
      discard();
      return Status::Error(fmt::format("{}: cannot create: {}", directory, ec.message()));
    }
    return Status::Ok();
  }

  // The old set's files move aside into a second directory, the new ones in;
  // when a rename fails, everything moves back.
  Result<fs::path> aside = MakeTemporaryBeside(target);
  if (!aside.ok()) {
    discard();
    return aside.status();
  }
  std::vector<std::string> movedAside;
  std::vector<std::string> movedIn;
  const auto rollBack = [&](const std::string& why) {
    std::error_code ignored;
    for (const std::string& file : movedIn) fs::remove(target / file, ignored);
    for (const std::string& file : movedAside) fs::rename(*aside / file, target / file, ignored);
    fs::remove_all(*aside, ignored);
    discard();
    return Status::Error(why);
  };
  for (const std::string& name : SetFileNames()) {
    const std::string file = name + suffix;
    if (!fs::exists(target / file, ec)) continue;
    fs::rename(target / file, *aside / file, ec);
    if (ec) return rollBack(fmt::format("{}: cannot replace {}: {}", directory, file, ec.message()));
    movedAside.push_back(file);
  }
  for (const auto& [name, bytes] : files) {
    const std::string file = name + suffix;
    fs::rename(*temporary / file, target / file, ec);
    if (ec) return rollBack(fmt::format("{}: cannot replace {}: {}", directory, file, ec.message()));
    movedIn.push_back(file);
  }
  std::error_code ignored;
  fs::remove_all(*aside, ignored);
  discard();
  return Status::Ok();
}

}  // namespace tallow
