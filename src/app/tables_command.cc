// tallow tables: build, dump, check, compare and synthesise table sets.
//
//   tallow tables dump FILE                  the source of one table file on stdout
//   tallow tables dump DIR SRC_DIR           NAME.txt for every file of the set in DIR
//   tallow tables build SRC_DIR OUT_DIR      the 22 files from the sources NAME.txt
//   tallow tables check DIR                  the set's counts, findings by kind, "N errors, M warnings"
//   tallow tables diff A B [--cases FILE]    what changed from set A to set B, per table
//   tallow tables synth --seed N OUT_DIR     a synthetic set
//   tallow tables id DIR                     the set's digest, the size and date of each file
//
// build and synth refuse an OUT_DIR that holds files unless --force; build
// refuses a source it does not know and a missing one unless --allow-missing.
//
// Exit status: 0 done (diff too, whether or not the sets differ); 1 check
// found errors; 2 the command could not do its work (unreadable input, a
// source that does not build, a refused or unwritable directory). Messages
// go to stderr.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/library.h"
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

struct BuildOptions {
  std::string sourceDirectory;
  std::string outDirectory;
  bool allowMissing = false;
  bool force = false;
};

int Build(const BuildOptions& o) {
  Result<std::map<std::string, std::string>> sources =
      ReadBuildSources(o.sourceDirectory, o.allowMissing);
  if (!sources.ok()) return Fail(sources.message());
  Result<TableImages> images = BuildTableImages(*sources);
  if (!images.ok()) return Fail(images.message());
  if (Status s = ReplaceTableFiles(o.outDirectory, *images, "", o.force); !s.ok()) {
    return Fail(s.message());
  }
  return 0;
}

const char* SeverityName(Finding::Severity s) {
  return s == Finding::Severity::kError ? "error" : "warning";
}

void PrintCheckText(const std::string& directory, const CheckReport& report) {
  fmt::print("tables {} in {}\n", report.digest, directory);
  for (const EditionCounts& e : report.editions) {
    fmt::print("edition {}: {} diagnosis codes ({} with neonate marks), {} procedure codes, {} "
               "rules, {} CC lists, {} refined CC lines\n",
               e.edition, e.diagnosisCodes, e.neonateMarks, e.procedureCodes, e.rules, e.ccLists,
               e.refinedCcLines);
  }
  if (report.loaded) fmt::print("all editions: {} refined DRG values\n", report.refinedDrgSlots);
  for (const FindingGroup& g : report.groups) {
    fmt::print("{}: {}{}{}, {} finding{}: {}\n", SeverityName(g.severity), g.file,
               g.file.empty() ? "" : " ", g.kind, g.count, g.count == 1 ? "" : "s", g.what);
    for (const std::string& example : g.examples) fmt::print("  {}\n", example);
    const int more = g.count - static_cast<int>(g.examples.size());
    if (more > 0) fmt::print("  ... {} more\n", more);
  }
  for (const std::string& note : report.notes) fmt::print("note: {}\n", note);
  fmt::print("{} error{}, {} warning{}\n", report.errors, report.errors == 1 ? "" : "s",
             report.warnings, report.warnings == 1 ? "" : "s");
}

void PrintCheckJson(const std::string& directory, const CheckReport& report) {
  nlohmann::ordered_json out;
  out["directory"] = directory;
  out["digest"] = report.digest;
  out["loaded"] = report.loaded;
  out["editions"] = nlohmann::ordered_json::array();
  for (const EditionCounts& e : report.editions) {
    out["editions"].push_back({{"edition", std::string(1, e.edition)},
                               {"diagnosisCodes", e.diagnosisCodes},
                               {"neonateMarks", e.neonateMarks},
                               {"procedureCodes", e.procedureCodes},
                               {"rules", e.rules},
                               {"ccLists", e.ccLists},
                               {"refinedCcLines", e.refinedCcLines}});
  }
  out["refinedDrgValues"] = report.refinedDrgSlots;
  out["errors"] = report.errors;
  out["warnings"] = report.warnings;
  out["findings"] = nlohmann::ordered_json::array();
  for (const FindingGroup& g : report.groups) {
    out["findings"].push_back({{"severity", SeverityName(g.severity)},
                               {"file", g.file},
                               {"kind", g.kind},
                               {"what", g.what},
                               {"count", g.count},
                               {"examples", g.examples}});
  }
  out["notes"] = report.notes;
  // Table bytes in messages are not always UTF-8: replace what is not.
  fmt::print("{}\n", out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

int Check(const std::string& directory, int examples, bool json) {
  if (!std::filesystem::is_directory(directory)) {
    return Fail(fmt::format("{}: not a directory", directory));
  }
  const CheckReport report = CheckTables(directory, examples);
  if (json) {
    PrintCheckJson(directory, report);
  } else {
    PrintCheckText(directory, report);
  }
  return report.errors > 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// diff

struct DiffOptions {
  std::string before;
  std::string after;
  std::string cases;
  bool json = false;
  int examples = 5;
};

// One case whose records differ: the fields of the record that changed.
struct CaseDifference {
  int64_t line = 0;
  std::string identifier;
  std::vector<std::tuple<std::string, std::string, std::string>> fields;  // name, before, after
};

struct CaseCounts {
  int64_t grouped = 0;
  int64_t differ = 0;
  std::vector<CaseDifference> examples;
};

std::string FieldText(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// Groups every line of the file with both sets through the record the batch
// writes for it (`group --format jsonl`) and compares the records. An empty
// line ends the cases, as it ends the batch's input.
Status CompareCases(const std::string& path, const std::shared_ptr<const TableSet>& before,
                    const std::shared_ptr<const TableSet>& after, int examples, CaseCounts* counts) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error(fmt::format("{}: cannot open", path));
  LineGrouper a(before);
  LineGrouper b(after);
  std::string line;
  std::string ra;
  std::string rb;
  int64_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    a.GroupToJson(number, line.data(), line.size(), &ra);
    b.GroupToJson(number, line.data(), line.size(), &rb);
    ++counts->grouped;
    if (ra == rb) continue;
    ++counts->differ;
    if (static_cast<int>(counts->examples.size()) >= examples) continue;
    const auto ja = nlohmann::json::parse(ra, nullptr, false);
    const auto jb = nlohmann::json::parse(rb, nullptr, false);
    CaseDifference d;
    d.line = number;
    if (ja.is_object() && jb.is_object()) {
      if (ja.contains("caseIdentifier")) d.identifier = FieldText(ja["caseIdentifier"]);
      for (const auto& [name, value] : jb.items()) {
        const std::string was = ja.contains(name) ? FieldText(ja[name]) : "(none)";
        const std::string now = FieldText(value);
        if (was != now) d.fields.emplace_back(name, was, now);
      }
      for (const auto& [name, value] : ja.items()) {
        if (!jb.contains(name)) d.fields.emplace_back(name, FieldText(value), "(none)");
      }
    }
    counts->examples.push_back(std::move(d));
  }
  if (in.bad()) return Status::Error(fmt::format("{}: cannot read", path));
  return Status::Ok();
}

int Diff(const DiffOptions& o) {
  Result<std::shared_ptr<const TableSet>> before = LoadTables(o.before);
  if (!before.ok()) return Fail(fmt::format("{}: {}", o.before, before.message()));
  Result<std::shared_ptr<const TableSet>> after = LoadTables(o.after);
  if (!after.ok()) return Fail(fmt::format("{}: {}", o.after, after.message()));
  const SetDiff diff = DiffTableSets(**before, **after);
  CaseCounts cases;
  if (!o.cases.empty()) {
    if (Status s = CompareCases(o.cases, *before, *after, o.examples, &cases); !s.ok()) {
      return Fail(s.message());
    }
  }
  if (o.json) {
    nlohmann::ordered_json out;
    out["before"] = o.before;
    out["after"] = o.after;
    out["changes"] = nlohmann::ordered_json::array();
    for (const TableChange& c : diff.changes) {
      out["changes"].push_back({{"file", c.file},
                                {"change", c.change},
                                {"what", c.what},
                                {"key", c.key},
                                {"detail", c.detail}});
    }
    if (!o.cases.empty()) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const CaseDifference& d : cases.examples) {
        nlohmann::ordered_json fields = nlohmann::ordered_json::object();
        for (const auto& [name, was, now] : d.fields) fields[name] = {was, now};
        list.push_back({{"line", d.line}, {"caseIdentifier", d.identifier}, {"fields", fields}});
      }
      out["cases"] = {{"file", o.cases},
                      {"grouped", cases.grouped},
                      {"differ", cases.differ},
                      {"examples", list}};
    }
    fmt::print("{}\n", out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return 0;
  }
  std::string file;
  int tables = 0;
  for (const TableChange& c : diff.changes) {
    if (c.file != file) {
      file = c.file;
      ++tables;
      const auto n = std::count_if(diff.changes.begin(), diff.changes.end(),
                                   [&](const TableChange& x) { return x.file == file; });
      fmt::print("{}: {} change{}\n", file, n, n == 1 ? "" : "s");
    }
    fmt::print("  {} {} {}{}{}\n", c.change, c.what, c.key, c.detail.empty() ? "" : ": ", c.detail);
  }
  fmt::print("{} change{} in {} table{}\n", diff.changes.size(), diff.changes.size() == 1 ? "" : "s",
             tables, tables == 1 ? "" : "s");
  if (!o.cases.empty()) {
    fmt::print("cases: {} grouped, {} differ\n", cases.grouped, cases.differ);
    for (const CaseDifference& d : cases.examples) {
      std::string fields;
      for (const auto& [name, was, now] : d.fields) {
        fields += fmt::format("{}{} {} -> {}", fields.empty() ? "" : ", ", name, was, now);
      }
      fmt::print("  line {}{}: {}\n", d.line,
                 d.identifier.empty() ? "" : fmt::format(" ({})", d.identifier), fields);
    }
  }
  return 0;
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

int Synth(uint64_t seed, const std::string& outDirectory, bool asSources, bool force) {
  const Status s = asSources ? ReplaceTableFiles(outDirectory, SynthSources(seed), ".txt", force)
                             : ReplaceTableFiles(outDirectory, SynthTables(seed), "", force);
  if (!s.ok()) return Fail(s.message());
  return 0;
}

}  // namespace

void AddTablesCommand(CLI::App& app, int* exitStatus) {
  CLI::App* tables = app.add_subcommand(
      "tables", "Build, dump, check, compare and synthesise table sets (see docs/table-sources.md).");
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

  auto buildArgs = std::make_shared<BuildOptions>();
  CLI::App* build = tables->add_subcommand("build", "Compile the sources NAME.txt into the 22 files");
  build->add_option("SRC_DIR", buildArgs->sourceDirectory, "Directory of the sources")->required();
  build->add_option("OUT_DIR", buildArgs->outDirectory, "Directory for the table files")->required();
  build->add_flag("--allow-missing", buildArgs->allowMissing,
                  "Build the tables without a source empty instead of refusing");
  build->add_flag("--force", buildArgs->force,
                  "Replace the set in an OUT_DIR that holds files (the old set stays whole if the "
                  "build fails)");
  build->callback([buildArgs, exitStatus] { *exitStatus = Build(*buildArgs); });

  auto checkDir = std::make_shared<std::string>();
  auto cap = std::make_shared<int>(3);
  auto checkFormat = std::make_shared<std::string>("text");
  CLI::App* check = tables->add_subcommand(
      "check", "Load a set, print its counts and what a table author must know; exit 1 on errors "
               "(docs/check-findings.md)");
  check->add_option("DIR", *checkDir, "Directory of the table files")->required();
  check->add_option("--max", *cap, "Most examples to show of each kind of finding (1 or more)")
      ->capture_default_str();
  check->add_option("--format", *checkFormat, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  check->callback([checkDir, cap, checkFormat, exitStatus] {
    *exitStatus = *cap < 1 ? Fail(fmt::format("--max {}: give the most findings to show, 1 or "
                                              "more",
                                              *cap))
                           : Check(*checkDir, *cap, *checkFormat == "json");
  });

  auto diffArgs = std::make_shared<DiffOptions>();
  auto diffFormat = std::make_shared<std::string>("text");
  CLI::App* diff = tables->add_subcommand(
      "diff", "What changed from set A to set B per table; with --cases, the cases whose results "
              "differ");
  diff->add_option("A", diffArgs->before, "Directory of the earlier set")->required();
  diff->add_option("B", diffArgs->after, "Directory of the later set")->required();
  diff->add_option("--cases", diffArgs->cases, "Case file to group with both sets");
  diff->add_option("--max", diffArgs->examples, "Most differing cases to show (1 or more)")
      ->capture_default_str();
  diff->add_option("--format", *diffFormat, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  diff->callback([diffArgs, diffFormat, exitStatus] {
    diffArgs->json = *diffFormat == "json";
    *exitStatus = diffArgs->examples < 1
                      ? Fail(fmt::format("--max {}: give the most cases to show, 1 or more",
                                         diffArgs->examples))
                      : Diff(*diffArgs);
  });

  auto idDir = std::make_shared<std::string>();
  CLI::App* id = tables->add_subcommand(
      "id", "Print the SHA-256 digest of a set and the size and date of each file");
  id->add_option("DIR", *idDir, "Directory of the table files")->required();
  id->callback([idDir, exitStatus] { *exitStatus = Identify(*idDir); });

  auto seed = std::make_shared<uint64_t>(1);
  auto synthDir = std::make_shared<std::string>();
  auto asSources = std::make_shared<bool>(false);
  auto force = std::make_shared<bool>(false);
  CLI::App* synth = tables->add_subcommand(
      "synth", "Write a full-size synthetic table set of random content");
  synth->add_option("--seed", *seed, "Seed; the same seed gives the same set")->capture_default_str();
  synth->add_flag("--sources", *asSources, "Write the sources NAME.txt instead of the files");
  synth->add_flag("--force", *force, "Replace the set in an OUT_DIR that holds files");
  synth->add_option("OUT_DIR", *synthDir, "Directory to write to")->required();
  synth->callback([seed, synthDir, asSources, force, exitStatus] {
    *exitStatus = Synth(*seed, *synthDir, *asSources, *force);
  });
}

}  // namespace tallow::app
