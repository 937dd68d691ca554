// tallow tables: build, dump, check and synthesise table sets.
//
//   tallow tables dump FILE                 the source of one table file on stdout
//   tallow tables dump DIR SRC_DIR          NAME.txt for every file of the set in DIR
//   tallow tables build SRC_DIR OUT_DIR     the 22 files from the sources NAME.txt
//   tallow tables check DIR                 findings, then "N errors, M warnings"
//   tallow tables synth --seed N OUT_DIR    a synthetic set
//   tallow tables id DIR                    the set's digest, the size and date of each file
//
// Exit status: 0 done; 1 check found errors; 2 the command could not do its
// work (unreadable input, a source that does not build, an unwritable
// directory). Messages go to stderr.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "tables/identity.h"
#include "tables/loader.h"
#include "toolkit/toolkit.h"

namespace tallow::app {

namespace {

constexpr int kFailed = 2;

int Fail(const std::string& message) {
  fmt::print(stderr, "tallow tables: {}\n", message);
  return kFailed;
}

int DumpOne(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return Fail(fmt::format("{}: cannot open", path));
  std::string bytes;
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return Fail(fmt::format("{}: cannot read", path));
  Result<std::string> source = DumpTableFile(path, bytes);
  if (!source.ok()) return Fail(source.message());
  fmt::print("{}", *source);
  return 0;
}

int DumpSet(const std::string& directory, const std::string& sourceDirectory) {
  Result<TableImages> images = ReadTableImages(directory);
  if (!images.ok()) return Fail(images.message());
  std::map<std::string, std::string> sources;
  for (const char* name : kTableFiles) {
    const auto it = images->find(name);
    if (it == images->end()) return Fail(fmt::format("{}/{}: missing", directory, name));
    Result<std::string> source = DumpTableFile(name, it->second);
    if (!source.ok()) return Fail(source.message());
    sources[name] = std::move(*source);
  }
  for (const char* name : {kCodeMapJan2001File, kCodeMap2001File}) {
    const auto it = images->find(name);
    if (it != images->end()) sources[name] = it->second;
  }
  if (Status s = WriteTableFiles(sourceDirectory, sources, ".txt"); !s.ok()) return Fail(s.message());
  return 0;
}

int Build(const std::string& sourceDirectory, const std::string& outDirectory) {
  Result<std::map<std::string, std::string>> sources = ReadTableSources(sourceDirectory);
  if (!sources.ok()) return Fail(sources.message());
  bool anyTable = false;
  for (const char* name : kTableFiles) anyTable = anyTable || sources->count(name) != 0;
  if (!anyTable) {
    return Fail(fmt::format("{}: no table source (DXTAB8.txt ... RDRGCL.txt) in it",
                            sourceDirectory));
  }
  Result<TableImages> images = BuildTableImages(*sources);
  if (!images.ok()) return Fail(images.message());
  if (Status s = WriteTableFiles(outDirectory, *images); !s.ok()) return Fail(s.message());
  return 0;
}

int Check(const std::string& directory, int cap) {
  if (!std::filesystem::is_directory(directory)) {
    return Fail(fmt::format("{}: not a directory", directory));
  }
  const CheckReport report = CheckTables(directory, cap);
  if (Result<TableIdentity> identity = IdentifyTables(directory); identity.ok()) {
    fmt::print("tables {} in {}\n", identity->digest, directory);
  }
  for (const Finding& f : report.findings) {
    fmt::print("{}: {}\n", f.severity == Finding::Severity::kError ? "error" : "warning",
               f.message);
  }
  const int shown = static_cast<int>(report.findings.size());
  if (report.errors + report.warnings > shown) {
    fmt::print("({} more findings not shown)\n", report.errors + report.warnings - shown);
  }
  for (const std::string& note : report.notes) fmt::print("note: {}\n", note);
  fmt::print("{} error{}, {} warning{}\n", report.errors, report.errors == 1 ? "" : "s",
             report.warnings, report.warnings == 1 ? "" : "s");
  return report.errors > 0 ? 1 : 0;
}

int Identify(const std::string& directory) {
  if (!std::filesystem::is_directory(directory)) {
    return Fail(fmt::format("{}: not a directory", directory));
  }
  Result<TableIdentity> identity = IdentifyTables(directory);
  if (!identity.ok()) return Fail(identity.message());
  fmt::print("{}  {}\n", identity->digest, directory);
  for (const TableFileFacts& file : identity->files) {
    fmt::print("  {:<9} {:>9} bytes  {}\n", file.name, file.bytes, file.modified);
  }
  return 0;
}

int Synth(uint64_t seed, const std::string& outDirectory, bool asSources) {
  if (asSources) {
    if (Status s = WriteTableFiles(outDirectory, SynthSources(seed), ".txt"); !s.ok()) {
      return Fail(s.message());
    }
    return 0;
  }
  if (Status s = WriteTableFiles(outDirectory, SynthTables(seed)); !s.ok()) return Fail(s.message());
  return 0;
}

}  // namespace

void AddTablesCommand(CLI::App& app, int* exitStatus) {
  CLI::App* tables = app.add_subcommand(
      "tables", "Build, dump, check and synthesise table sets (see docs/table-sources.md).");
  tables->require_subcommand(1);

  auto dumpArgs = std::make_shared<std::vector<std::string>>();
  CLI::App* dump = tables->add_subcommand(
      "dump", "FILE: print the source of one table file; DIR SRC_DIR: write NAME.txt for every "
              "table of the set in DIR");
  dump->add_option("paths", *dumpArgs, "FILE, or DIR SRC_DIR")->required()->expected(1, 2);
  dump->callback([dumpArgs, exitStatus] {
    const std::vector<std::string>& a = *dumpArgs;
    if (a.size() == 1 && std::filesystem::is_directory(a[0])) {
      *exitStatus = Fail(fmt::format("{} is a directory: give SRC_DIR to write its sources", a[0]));
    } else {
      *exitStatus = a.size() == 1 ? DumpOne(a[0]) : DumpSet(a[0], a[1]);
    }
  });

  auto buildArgs = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* build = tables->add_subcommand("build", "Compile the sources NAME.txt into the 22 files");
  build->add_option("SRC_DIR", buildArgs->first, "Directory of the sources")->required();
  build->add_option("OUT_DIR", buildArgs->second, "Directory for the table files")->required();
  build->callback([buildArgs, exitStatus] {
    *exitStatus = Build(buildArgs->first, buildArgs->second);
  });

  auto checkDir = std::make_shared<std::string>();
  auto cap = std::make_shared<int>(200);
  CLI::App* check = tables->add_subcommand(
      "check", "Load a set and report what a table author must know; exit 1 on errors");
  check->add_option("DIR", *checkDir, "Directory of the table files")->required();
  check->add_option("--max", *cap, "Most findings to show (1 or more)")->capture_default_str();
  check->callback([checkDir, cap, exitStatus] {
    *exitStatus = *cap < 1 ? Fail(fmt::format("--max {}: give the most findings to show, 1 or "
                                              "more",
                                              *cap))
                           : Check(*checkDir, *cap);
  });

  auto idDir = std::make_shared<std::string>();
  CLI::App* id = tables->add_subcommand(
      "id", "Print the SHA-256 digest of a set and the size and date of each file");
  id->add_option("DIR", *idDir, "Directory of the table files")->required();
  id->callback([idDir, exitStatus] { *exitStatus = Identify(*idDir); });

  auto seed = std::make_shared<uint64_t>(1);
  auto synthDir = std::make_shared<std::string>();
  auto asSources = std::make_shared<bool>(false);
  CLI::App* synth = tables->add_subcommand(
      "synth", "Write a full-size synthetic table set of random content");
  synth->add_option("--seed", *seed, "Seed; the same seed gives the same set")->capture_default_str();
  synth->add_flag("--sources", *asSources, "Write the sources NAME.txt instead of the files");
  synth->add_option("OUT_DIR", *synthDir, "Directory to write to")->required();
  synth->callback([seed, synthDir, asSources, exitStatus] {
    *exitStatus = Synth(*seed, *synthDir, *asSources);
  });
}

}  // namespace tallow::app
