// tallow explain: why each case grouped as it did.
// tallow compare: whether the results a file carries still hold.
//
// Both read case lines as `tallow group` does (the same input and table
// loading, the end mark, line ends and byte-order mark) and group each case
// with a trace attached to its Grouper.
#include "app/explain.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "app/case_line.h"
#include "app/commands.h"
#include "app/line_input.h"
#include "app/records.h"
#include "engine/grouper.h"

namespace tallow::app {
namespace {

using Json = JsonTrace::Json;

constexpr int kGroupFlags = GroupFlagDecide | GroupFlagFinalise;
constexpr int kShownDifferences = 20;
constexpr int kShownRules = 12;

// Calls `handle(line, text, length)` for every case line of the input, up to
// the end mark. Returns kExitOk, kExitRead or kExitUngrouped (after a
// message), or the handler's first non-zero result.
int ForEachCaseLine(const OpenedRun& run, std::FILE* err,
                    const std::function<int(int64_t, const char*, std::size_t)>& handle) {
  BlockReader reader(run.inFd);
  InputBlock block(kDefaultBlockBytes, kDefaultBlockPieces);
  for (;;) {
    const BlockReader::Status status = reader.Next(block);
    int64_t line = block.firstLine - 1;
    for (const LinePiece& piece : block.pieces) {
      if (piece.continuation) continue;
      ++line;
      if (const int r = handle(line, block.text.data() + piece.offset, piece.length); r != 0) {
        return r;
      }
    }
    if (status == BlockReader::Status::kBlock) continue;
    if (status == BlockReader::Status::kError) {
      std::fprintf(err, "tallow: read error in %s at line %lld: %s\n", run.inName.c_str(),
                   static_cast<long long>(reader.lineNumber() + 1),
                   std::strerror(reader.errorNumber()));
      return kExitRead;
    }
    if (status == BlockReader::Status::kEndMark) {
      int64_t after = 0;
      if (reader.CountLinesAfterEndMark(&after) == BlockReader::Status::kError) return kExitRead;
      if (after > 0) {
        std::fprintf(err,
                     "tallow: %s line %lld is empty and ends the input; %lld non-empty line%s "
                     "after it %s not read\n",
                     run.inName.c_str(), static_cast<long long>(reader.endMarkLine()),
                     static_cast<long long>(after), after == 1 ? "" : "s",
                     after == 1 ? "was" : "were");
        return kExitUngrouped;
      }
    }
    return kExitOk;
  }
}

std::string Indent(int depth) { return std::string(static_cast<std::size_t>(2 * depth), ' '); }

std::string Str(const Json& j) {
  return j.is_string() ? j.get<std::string>() : j.dump();
}

void RenderPass(const Json& pass, std::string& out) {
  out += Indent(1) + "pass " + Str(pass["name"]) + "\n";
  std::string lookups;
  for (const Json& l : pass["lookups"]) {
    if (!lookups.empty()) lookups += ", ";
    const int entry = l["entry"].get<int>();
    lookups += fmt::format("{} {} {}", Str(l["kind"]) == "diagnosis" ? "dx" : "px",
                           Str(l["position"]), Str(l["code"]));
    lookups += entry == -1 ? " not found" : entry == -2 ? " ignored" : fmt::format(" entry {}", entry);
  }
  if (!lookups.empty()) out += Indent(2) + "lookups: " + lookups + "\n";
  if (pass.contains("principal")) {
    const Json& p = pass["principal"];
    out += Indent(2) + fmt::format("principal: {} (mdc {}, drgKey {})\n", Str(p["why"]),
                                   Str(p["mdc"]), Str(p["drgKey"]));
  }
  for (const Json& c : pass["cc"]) {
    out += Indent(2) + fmt::format("cc: dx {} {}\n", Str(c["position"]), Str(c["outcome"]));
  }
  if (pass.contains("caseMask")) {
    const Json& m = pass["caseMask"];
    std::string bits;
    for (const Json& b : m["bits"]) bits += (bits.empty() ? "" : ", ") + Str(b);
    out += Indent(2) + "caseMask: " + (bits.empty() ? "(none)" : bits) + "\n";
    if (!m["caseErrors"].empty()) {
      std::string errors;
      for (const Json& e : m["caseErrors"]) errors += (errors.empty() ? "" : ", ") + Str(e);
      out += Indent(2) + "caseErrors: " + errors + "\n";
    }
  }
  const Json& rules = pass["rules"];
  std::size_t next = 0;
  for (const Json& walk : pass["walks"]) {
    out += Indent(2) + fmt::format("walk mdc {}{}\n", Str(walk["mdc"]),
                                   walk["rewalk"].get<bool>() ? " (again, for DRG 468)" : "");
    // The rules of this walk: up to the next walk's first rule of another MDC.
    int shown = 0;
    int hidden = 0;
    for (; next < rules.size() && rules[next]["mdc"] == walk["mdc"]; ++next) {
      const Json& r = rules[next];
      const std::string outcome = Str(r["outcome"]);
      const bool last = outcome == "accepted" || outcome == "stopped";
      if (outcome == "skipped" || (shown >= kShownRules && !last)) {
        ++hidden;
        continue;
      }
      ++shown;
      const std::string reason = Str(r["reason"]);
      out += Indent(3) + fmt::format("rule {} drg {} {}{}\n", Str(r["rule"]), Str(r["drg"]),
                                     outcome, reason.empty() ? "" : ": " + reason);
    }
    if (hidden > 0) out += Indent(3) + fmt::format("({} more rules skipped or rejected)\n", hidden);
  }
  if (pass.contains("decision")) {
    const Json& d = pass["decision"];
    out += Indent(2) + fmt::format("decision: mdc {}, baseDrg {}, groupStatus {}", Str(d["mdc"]),
                                   Str(d["baseDrg"]), Str(d["groupStatus"]));
    for (const char* key : {"orProcedureIndex", "secondaryIndex", "secondSecondaryIndex",
                            "secondOrProcedureIndex", "nonOrProcedureIndex",
                            "secondNonOrProcedureIndex", "ccIndex"}) {
      if (d[key].get<int>() != -1) out += fmt::format(", {} {}", key, Str(d[key]));
    }
    out += "\n";
  }
  if (pass.contains("finalisation")) {
    const Json& f = pass["finalisation"];
    if (f.contains("refinedDrg")) {
      const Json& r = f["refinedDrg"];
      out += Indent(2) + fmt::format("refined drg: {} (decided {}, after re-mapping {}, level "
                                     "column {}, type {})\n",
                                     Str(r["refinedDrg"]), Str(r["decidedDrg"]),
                                     Str(r["remappedDrg"]), Str(r["levelColumn"]),
                                     Str(r["drgType"]));
    }
    if (f.contains("newborn")) {
      out += Indent(2) + fmt::format("newborn: drg {} from birth weight {}\n",
                                     Str(f["newborn"]["drg"]), Str(f["newborn"]["birthWeight"]));
    }
    if (f.contains("stayLevel")) {
      out += Indent(2) + fmt::format("stay level {}: {}\n", Str(f["stayLevel"]["level"]),
                                     Str(f["stayLevel"]["reason"]));
    }
    if (f.contains("levels")) {
      for (const Json& l : f["levels"]) {
        out += Indent(2) + fmt::format("level: dx {} gives {} ({})\n", Str(l["position"]),
                                       Str(l["level"]), Str(l["reason"]));
      }
    }
    if (f.contains("finalDrg")) {
      out += Indent(2) + fmt::format("finalised: finalDrg {}, severityLevel {}, "
                                     "levelSourceIndex {}, finaliseStatus {}\n",
                                     Str(f["finalDrg"]), Str(f["severityLevel"]),
                                     Str(f["levelSourceIndex"]), Str(f["finaliseStatus"]));
    }
  }
}

}  // namespace

CaseExplainer::CaseExplainer(std::shared_ptr<const TableSet> tables)
    : grouper_(std::make_unique<Grouper>(std::move(tables))),
      line_(std::make_unique<CaseLine>()) {
  BindRequest(request_, *line_);
  grouper_->SetCaseFields(line_->data() + kCaseIdentifierPos, line_->data() + kCaseDatePos,
                          line_->data() + kSurgeryModifiersPos);
  grouper_->SetTrace(&trace_);
}

CaseExplainer::~CaseExplainer() = default;

bool CaseExplainer::Group(const char* text, std::size_t length) {
  trace_.Clear();
  if (length < static_cast<std::size_t>(kGroupedLineMinimum)) return false;
  line_->Assign(text, length, false);
  PrepareRequest(request_, *line_);
  result_ = grouper_->GroupCase(request_, kGroupFlags);
  if (result_ != 0) return false;
  StoreResults(request_, kGroupFlags, *line_);
  StoreLevels(grouper_->state().diagnosisLevels.data(), *line_);
  return true;
}

const char* CaseExplainer::fields() const { return line_->data(); }

Json CaseExplainer::Explain(int64_t lineNumber, const char* text, std::size_t length) {
  // The fields of `group --format jsonl`, as that format writes them.
  CaseRecord record;
  record.line = lineNumber;
  fmt::memory_buffer written;
  if (length < static_cast<std::size_t>(kGroupedLineMinimum) || !Group(text, length)) {
    const std::string error = length < static_cast<std::size_t>(kGroupedLineMinimum)
                                  ? std::string(ShortLineError(length).text())
                                  : "the grouper refused the case";
    record.fields = text;
    record.length = length;
    record.error = error;
    AppendRecord(written, RecordFormat::kJsonl, record, false);
    return Json::parse(std::string_view(written.data(), written.size()));
  }
  record.fields = line_->data();
  record.length = static_cast<std::size_t>(kResultsEnd);
  record.request = &request_;
  record.levels = grouper_->state().diagnosisLevels.data();
  AppendRecord(written, RecordFormat::kJsonl, record, false);
  Json j = Json::parse(std::string_view(written.data(), written.size()));
  const std::string reason = trace_.Reason(request_.mdc, request_.groupCode);
  const int acceptedRule = trace_.acceptedRule();
  Json t = trace_.Release();
  // Room for the keys added here, so that the record does not grow (and
  // copy its members) once the steps are in it.
  j.get_ref<Json::object_t&>().reserve(j.size() + 7);
  if (!reason.empty()) j["reason"] = reason;
  j["edition"] = std::move(t["edition"]);
  j["acceptedRule"] = acceptedRule;
  for (const char* key : {"case", "conversions", "passes", "refinedCode"}) {
    if (const auto found = t.find(key); found != t.end()) j[key] = std::move(*found);
  }
  return j;
}

std::string ExplainText(const Json& j) {
  std::string out;
  if (j.contains("error")) {
    return fmt::format("line {}: {}\n", Str(j["line"]), Str(j["error"]));
  }
  const Json& c = j["case"];
  out += fmt::format("line {}: case {}, caseDate {}, edition {} ({})\n", Str(j["line"]),
                     Str(c["caseIdentifier"]), Str(c["caseDate"]), Str(j["edition"]),
                     Str(c["editionReason"]));
  out += Indent(1) + fmt::format("case: age {}, sex {}, lengthOfStay {}, dischargeStatus {}\n",
                                 Str(c["age"]), Str(c["sex"]), Str(c["lengthOfStay"]),
                                 Str(c["dischargeStatus"]));
  for (const Json& k : j["conversions"]) {
    out += Indent(1) + fmt::format("conversion: px {} {} -> {} ({})\n", Str(k["position"]),
                                   Str(k["from"]),
                                   Str(k["to"]).empty() ? "(withdrawn)" : Str(k["to"]),
                                   Str(k["list"]));
  }
  for (const Json& pass : j["passes"]) RenderPass(pass, out);
  if (j.contains("refinedCode")) {
    const Json& r = j["refinedCode"];
    std::string steps;
    if (r.contains("steps")) {
      for (const Json& s : r["steps"]) {
        steps += (steps.empty() ? "" : ", ") + fmt::format("{} {}", Str(s["step"]), Str(s["value"]));
      }
    }
    out += Indent(1) + "refinedCode: " + steps + "\n";
    if (r.contains("verdict")) {
      out += Indent(2) + fmt::format("code {:06d}: {}{}\n", r["code"].get<int>() % 1000000,
                                     Str(r["verdict"]),
                                     Str(r["list"]).empty() ? "" : " (" + Str(r["list"]) + ")");
    }
  }
  out += Indent(1) + fmt::format("result: mdc {}, baseDrg {}, finalDrg {}, groupCode {}, "
                                 "diagnosisLevels {}\n",
                                 Str(j["mdc"]), Str(j["baseDrg"]), Str(j["finalDrg"]),
                                 Str(j["groupCode"]), Str(j["diagnosisLevels"]));
  if (j.contains("reason")) out += Indent(1) + "reason: " + Str(j["reason"]) + "\n";
  return out;
}

int RunExplain(const ExplainOptions& options) {
  std::FILE* err = options.err;
  if (!kTraceCompiledIn) {
    std::fprintf(err, "tallow: this tallow was built without the trace (TALLOW_TRACE off)\n");
    return kExitUsage;
  }
  OpenedRun run;
  if (const int status =
          OpenRun({options.tablesDirectory, options.inputPath, options.outputPath}, err, false,
                  false, &run);
      status != kExitOk) {
    return status;
  }
  const std::set<int64_t> wanted(options.lines.begin(), options.lines.end());
  CaseExplainer explainer(run.tables);
  bool writeFailed = false;
  int64_t shortLines = 0;
  int64_t lastLine = 0;
  const int status = ForEachCaseLine(run, err, [&](int64_t line, const char* text,
                                                   std::size_t length) {
    lastLine = line;
    if (!wanted.empty() && wanted.count(line) == 0) {
      return line > *wanted.rbegin() ? -1 : 0;  // past the last line asked for
    }
    if (length < static_cast<std::size_t>(kGroupedLineMinimum)) ++shortLines;
    const Json j = explainer.Explain(line, text, length);
    const std::string out = options.json ? j.dump() + "\n" : ExplainText(j);
    if (!run.output.Write(out.data(), out.size())) {
      writeFailed = true;
      return static_cast<int>(kExitWrite);
    }
    return 0;
  });
  if (writeFailed) {
    std::fprintf(err, "tallow: write error on %s: %s\n", run.output.displayName().c_str(),
                 std::strerror(run.output.errorNumber()));
    run.output.Abandon();
    return kExitWrite;
  }
  if (!wanted.empty() && *wanted.rbegin() > lastLine && status != -1) {
    std::fprintf(err, "tallow: %s has %lld case lines; line %lld is not among them\n",
                 run.inName.c_str(), static_cast<long long>(lastLine),
                 static_cast<long long>(*wanted.rbegin()));
    run.output.Abandon();
    return kExitUsage;
  }
  if (!run.output.Commit()) {
    std::fprintf(err, "tallow: write error on %s: %s\n", run.output.displayName().c_str(),
                 std::strerror(run.output.errorNumber()));
    return kExitWrite;
  }
  if (status > 0) return status;
  if (shortLines > 0) {
    std::fprintf(err, "tallow: %lld line%s shorter than %d characters cannot be grouped\n",
                 static_cast<long long>(shortLines), shortLines == 1 ? "" : "s",
                 kGroupedLineMinimum);
    return kExitWithoutResults;
  }
  return kExitOk;
}

int RunCompare(const CompareOptions& options) {
  std::FILE* err = options.err;
  OpenedRun run;
  if (const int status =
          OpenRun({options.tablesDirectory, options.inputPath, "-"}, err, false, false, &run);
      status != kExitOk) {
    return status;
  }
  CaseExplainer explainer(run.tables);
  struct Field {
    const char* name;
    int pos;
    int width;
    int64_t differ = 0;
  };
  std::array<Field, 4> fields = {Field{"mdc", kMdcPos, 2}, Field{"groupCode", kGroupCodePos, 6},
                                 Field{"version", kVersionStampPos, 8},
                                 Field{"diagnosisLevels", kDiagnosisLevelsPos, 10}};
  int64_t lines = 0, agree = 0, differ = 0, withoutResults = 0;
  Json differences = Json::array();
  std::vector<Json> traces;
  const int status = ForEachCaseLine(run, err, [&](int64_t line, const char* text,
                                                   std::size_t length) {
    ++lines;
    if (length < static_cast<std::size_t>(kResultsEnd) || !explainer.Group(text, length)) {
      ++withoutResults;
      return 0;
    }
    Json changed = Json::object();
    for (Field& f : fields) {
      const std::string stored(text + f.pos, static_cast<std::size_t>(f.width));
      const std::string now(explainer.fields() + f.pos, static_cast<std::size_t>(f.width));
      if (stored == now) continue;
      ++f.differ;
      changed[f.name] = {{"stored", stored}, {"now", now}};
    }
    if (changed.empty()) {
      ++agree;
      return 0;
    }
    ++differ;
    if (differ <= kShownDifferences) {
      Json d = {{"line", line}, {"fields", changed}};
      const Json j = explainer.Explain(line, text, length);
      d["reason"] = j.contains("reason")
                        ? j["reason"]
                        : Json(fmt::format("now baseDrg {}, finalDrg {}, groupCode {}",
                                           Str(j["baseDrg"]), Str(j["finalDrg"]),
                                           Str(j["groupCode"])));
      differences.push_back(d);
      if (options.explainDifferences) traces.push_back(j);
    }
    return 0;
  });
  if (status == kExitRead) return status;

  std::string out;
  if (options.json) {
    Json byField = Json::object();
    for (const Field& f : fields) byField[f.name] = f.differ;
    Json report = {{"lines", lines},
                   {"agree", agree},
                   {"differ", differ},
                   {"withoutStoredResults", withoutResults},
                   {"byField", byField},
                   {"differences", differences},
                   {"moreDifferences", std::max<int64_t>(0, differ - kShownDifferences)}};
    out = report.dump() + "\n";
    for (const Json& t : traces) out += t.dump() + "\n";
  } else {
    out = fmt::format("tallow compare: {} lines: {} agree, {} differ (", lines, agree, differ);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      out += fmt::format("{}{} {}", i == 0 ? "" : ", ", fields[i].name, fields[i].differ);
    }
    out += fmt::format("), {} without stored results\n", withoutResults);
    for (const Json& d : differences) {
      out += fmt::format("line {}:", Str(d["line"]));
      for (const auto& [name, v] : d["fields"].items()) {
        out += fmt::format(" {} stored {}, now {};", name, Str(v["stored"]), Str(v["now"]));
      }
      if (!Str(d["reason"]).empty()) out += " " + Str(d["reason"]);
      out += "\n";
    }
    if (differ > kShownDifferences) {
      out += fmt::format("... and {} more differing lines\n", differ - kShownDifferences);
    }
    for (const Json& t : traces) out += ExplainText(t);
  }
  if (!run.output.Write(out.data(), out.size())) return kExitWrite;
  if (status == kExitUngrouped) return status;
  return differ > 0 ? kExitDiffer : kExitOk;
}

void AddExplainCommands(CLI::App& app, int* exitStatus) {
  auto explain = std::make_shared<ExplainOptions>();
  auto format = std::make_shared<std::string>("text");
  CLI::App* e = app.add_subcommand(
      "explain", "Explain how each case grouped: edition, code conversions, lookups, caseMask, "
                 "every rule tried, levels and the refined code (docs/explain.md)");
  e->add_option("--tables", explain->tablesDirectory, "Directory of the twenty-two table files")
      ->capture_default_str();
  e->add_option("--in", explain->inputPath, "Case lines, - for standard input")
      ->capture_default_str();
  e->add_option("--out", explain->outputPath, "Where the traces go, - for standard output")
      ->capture_default_str();
  e->add_option("--line", explain->lines, "Explain only this line (from 1); may be repeated")
      ->check(CLI::PositiveNumber);
  e->add_option("--format", *format, "text: a tree for a person; json: one object per case")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  e->callback([explain, format, exitStatus] {
    explain->json = *format == "json";
    *exitStatus = RunExplain(*explain);
  });

  auto compare = std::make_shared<CompareOptions>();
  auto compareFormat = std::make_shared<std::string>("text");
  CLI::App* c = app.add_subcommand(
      "compare", "Group lines that carry results again and compare MDC, group code, version "
                 "and levels; exit 11 when some differ");
  c->add_option("--tables", compare->tablesDirectory, "Directory of the twenty-two table files")
      ->capture_default_str();
  c->add_option("--in", compare->inputPath, "Grouped case lines, - for standard input")
      ->capture_default_str();
  c->add_option("--format", *compareFormat, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  c->add_flag("--explain-differences", compare->explainDifferences,
              "Also write the traces of the differing lines");
  c->callback([compare, compareFormat, exitStatus] {
    compare->json = *compareFormat == "json";
    *exitStatus = RunCompare(*compare);
  });
}

}  // namespace tallow::app
