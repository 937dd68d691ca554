// Files and directories for the batch tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tables/loader.h"
#include "toolkit/toolkit.h"

namespace tallow::app::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tallow-app-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string Path(const std::string& name = "") const {
    return name.empty() ? path_.string() : (path_ / name).string();
  }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << Path(name);
  }

  // Table files, one per image.
  void WriteTables(const TableImages& images) const {
    for (const auto& [name, bytes] : images) Write(name, bytes);
  }

 private:
  std::filesystem::path path_;
};

// The whole content of a file, or nullopt when it does not exist.
inline std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The demo table sources by table name ("DXTAB8", "SGMAP1").
inline std::map<std::string, std::string> DemoSources() {
  std::map<std::string, std::string> sources;
  const std::string dir = std::string(TALLOW_SOURCE_DIR) + "/data/demo/tables";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".txt") continue;
    sources[entry.path().stem().string()] = ReadFile(entry.path().string()).value_or("");
  }
  return sources;
}

// The demo table set, compiled from its sources; null when they do not build.
inline std::shared_ptr<const TableSet> DemoTables() {
  Result<TableImages> images = BuildTableImages(DemoSources());
  if (!images.ok()) return nullptr;
  Result<std::shared_ptr<const TableSet>> tables = LoadTablesFromImages(*images);
  return tables.ok() ? *tables : nullptr;
}

// What a stream received, for messages written to a FILE*.
class CapturedStream {
 public:
  CapturedStream() : stream_(std::tmpfile()) {}
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  ~CapturedStream() {
    if (stream_ != nullptr) std::fclose(stream_);
  }
  std::FILE* get() const { return stream_; }
  std::string Text() const {
    std::fflush(stream_);
    std::string text;
    std::rewind(stream_);
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream_)) > 0) text.append(buffer, n);
    return text;
  }

 private:
  std::FILE* stream_;
};

// The program under test, and one run of it in a directory.
inline const std::string kProgram = std::string(TALLOW_BINARY_DIR) + "/src/app/tallow";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs `tallow ARGS` in `dir` with `input` on standard input.
inline Outcome RunProgram(const TempDir& dir, const std::string& args, const std::string& input) {
  dir.Write("stdin", input);
  const std::string command = "cd '" + dir.Path() + "' && '" + kProgram + "' " + args +
                              " <stdin >stdout 2>stderr";
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw)) << command;
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir.Path("stdout")).value_or(""),
          ReadFile(dir.Path("stderr")).value_or("")};
}

}  // namespace tallow::app::testing
