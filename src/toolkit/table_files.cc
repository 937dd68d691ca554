// Table sets and their sources in directories.
#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

#include "toolkit/toolkit.h"

namespace tallow {

std::vector<std::string> SetFileNames() {
  std::vector<std::string> names(std::begin(kTableFiles), std::end(kTableFiles));
  names.emplace_back(kCodeMapJan2001File);
  names.emplace_back(kCodeMap2001File);
  return names;
}

namespace {

namespace fs = std::filesystem;

// The bytes of a file; nullopt when there is no such file.
Result<std::optional<std::string>> ReadIfPresent(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::optional<std::string>();
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) return Status::Error(fmt::format("{}: cannot read", path.string()));
  return std::optional<std::string>(content.str());
}

Result<std::map<std::string, std::string>> ReadAll(const std::string& directory,
                                                   const std::string& suffix) {
  if (!fs::is_directory(directory)) {
    return Status::Error(fmt::format("{}: not a directory", directory));
  }
  std::map<std::string, std::string> files;
  for (const std::string& name : SetFileNames()) {
    Result<std::optional<std::string>> bytes = ReadIfPresent(fs::path(directory) / (name + suffix));
    if (!bytes.ok()) return bytes.status();
    if (bytes->has_value()) files[name] = std::move(**bytes);
  }
  return files;
}

}  // namespace

Result<std::map<std::string, std::string>> ReadTableSources(const std::string& directory) {
  return ReadAll(directory, ".txt");
}

Result<TableImages> ReadTableImages(const std::string& directory) {
  return ReadAll(directory, "");
}

Status WriteTableFiles(const std::string& directory, const std::map<std::string, std::string>& files,
                       const std::string& suffix) {
  std::error_code ec;
  fs::create_directories(directory, ec);
  if (ec) return Status::Error(fmt::format("{}: cannot create: {}", directory, ec.message()));
  for (const auto& [name, bytes] : files) {
    const fs::path path = fs::path(directory) / (name + suffix);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return Status::Error(fmt::format("{}: cannot write", path.string()));
  }
  return Status::Ok();
}

}  // namespace tallow
