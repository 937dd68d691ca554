// Findings on a table set: what the loader rejects (errors), what dump and
// build would not reproduce (errors), and what the loader accepts although
// marks, rows or lines are lost or can never be reached (warnings).
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "tables/text_lines.h"
#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"

namespace tallow {

namespace toolkit {
namespace {

class Findings {
 public:
  Findings(int cap, CheckReport* report) : cap_(cap), report_(report) {}

  void Error(std::string_view file, std::string message) {
    ++report_->errors;
    Add(Finding::Severity::kError, file, std::move(message));
  }
  void Warning(std::string_view file, std::string message) {
    ++report_->warnings;
    Add(Finding::Severity::kWarning, file, std::move(message));
  }

 private:
  void Add(Finding::Severity severity, std::string_view file, std::string message) {
    if (static_cast<int>(report_->findings.size()) >= cap_) return;
    report_->findings.push_back(Finding{severity, std::string(file), std::string(file) + message});
  }
  int cap_;
  CheckReport* report_;
};

std::string Trimmed(const char* code, std::size_t n = 5) {
  std::string s(code, n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// Line limit of the loader's bounded reader (the line feed included).
std::size_t ReaderLimit(TableKind kind) { return static_cast<std::size_t>(MaxLineLength(kind)) + 1; }

// ---------------------------------------------------------------------------
// Per file: bytes the loader never reads, lines it splits, and whether the
// dumped source builds the same bytes again.

void CheckFileForm(const TableInfo& t, const std::string& bytes, Findings* f) {
  bool reported = false;
  if (!IsTextTable(t.kind)) {
    const std::size_t size = BinarySize(t);
    if (bytes.size() < size) return;  // the load reports it
    if (bytes.size() > size) {
      f->Error(t.name, fmt::format(": {} bytes past the fixed size of {} are never read; its "
                                   "source does not keep them",
                                   bytes.size() - size, size));
      reported = true;
    }
  } else {
    TextLineReader reader(bytes, ReaderLimit(t.kind));
    TextLine line;
    int count = 0;
    int longLines = 0;
    while (reader.Next(&line)) {
      ++count;
      if (!line.endedByLineFeed && !line.lastWithoutLineFeed) {
        if (++longLines == 1) {
          f->Error(t.name, fmt::format(" line {}: longer than {} characters; the rest is read as "
                                       "the next line",
                                       count, MaxLineLength(t.kind)));
        }
        reported = true;
      }
    }
    const int fixed = FixedLines(t);
    if (fixed >= 0 && count > fixed) {
      f->Error(t.name, fmt::format(": {} lines; those after line {} are never read and its source "
                                   "does not keep them",
                                   count, fixed));
      reported = true;
    }
    if (fixed >= 0 && count < fixed) return;  // the load reports it
  }
  if (reported) return;
  Result<std::string> source = DumpTableFile(t.name, bytes);
  if (!source.ok()) return;
  Result<std::string> rebuilt = BuildTableFile(t.name, *source);
  if (!rebuilt.ok()) {
    f->Error(t.name, fmt::format(": its dumped source does not build: {}", rebuilt.message()));
    return;
  }
  if (*rebuilt != bytes) {
    const auto diff = std::mismatch(rebuilt->begin(), rebuilt->end(), bytes.begin(), bytes.end());
    f->Error(t.name, fmt::format(": a layout its source cannot express (dump and build differ "
                                 "from byte {})",
                                 diff.first - rebuilt->begin()));
  }
}

// ---------------------------------------------------------------------------
// Category-indexed tables of editions 8 and 9: tails must ascend within a
// category, because the search stops at the first tail that is not below the
// code's. Two equal tails make a male/female pair in a diagnosis table; the
// procedure search has no such pair and only ever returns the first entry.

template <typename Table>
void CheckTailOrder(std::string_view file, const Table& table, int entriesFound, Findings* f) {
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = table.categoryStart[static_cast<std::size_t>(c)];
    const int end = start + table.categoryCount[static_cast<std::size_t>(c)];
    int same = 1;
    for (int e = start + 1; e < end; ++e) {
      const int prev = table.entryTail[static_cast<std::size_t>(e - 1)];
      const int tail = table.entryTail[static_cast<std::size_t>(e)];
      same = tail == prev ? same + 1 : 1;
      if (tail < prev) {
        f->Warning(file, fmt::format(" entry {} ({}): stands after {}; the search stops before "
                                     "it and never finds it",
                                     e, Trimmed(CodeText(c, tail).c_str()),
                                     Trimmed(CodeText(c, prev).c_str())));
        break;
      }
      if (same > entriesFound) {
        f->Warning(file, fmt::format(" entry {} ({}): {}", e, Trimmed(CodeText(c, tail).c_str()),
                                     entriesFound == 2
                                         ? "a third entry of the code; only the first two are "
                                           "ever found"
                                         : "a second entry of the code; only the first is ever "
                                           "found"));
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// SGTAB0: the search takes the first row of a code and walks that run of
// rows only, taking the first row whose span holds the date.

bool ZeroRow(const DatedProcedureTable& t, std::size_t i) {
  const auto& cls = t.classes[i].bytes;
  return t.codes[i] == RowCode{} && t.validFrom[i] == 0 && t.validTo[i] == 0 &&
         std::all_of(cls.begin(), cls.end(), [](uint8_t b) { return b == 0; });
}

// The five characters as the search compares them: up to the first NUL.
RowCode SearchKey(const RowCode& code) {
  RowCode key{};
  for (std::size_t k = 0; k < key.size() && code[k] != '\0'; ++k) key[k] = code[k];
  return key;
}

// Whether [from, to] lies inside the union of the spans.
bool Covered(std::vector<std::pair<int64_t, int64_t>> spans, int64_t from, int64_t to) {
  std::sort(spans.begin(), spans.end());
  int64_t reach = from;  // everything below reach is covered
  for (const auto& [a, b] : spans) {
    if (a > reach) break;
    reach = std::max(reach, b + 1);
    if (reach > to) return true;
  }
  return reach > to;
}

void CheckDatedRows(const DatedProcedureTable& t, Findings* f) {
  const std::size_t rows = t.codes.size();
  std::map<RowCode, std::size_t> firstRun;
  std::size_t i = 0;
  while (i < rows) {
    std::size_t end = i + 1;
    const RowCode key = SearchKey(t.codes[i]);
    while (end < rows && SearchKey(t.codes[end]) == key) ++end;
    const std::string code = Trimmed(t.codes[i].data());
    bool inert = true;
    for (std::size_t k = i; k < end; ++k) inert = inert && ZeroRow(t, k);
    if (!inert) {
      const auto [it, first] = firstRun.emplace(key, i);
      if (!first) {
        f->Warning("SGTAB0", fmt::format(" rows {}-{} ({}): the code's rows begin at row {}; "
                                         "the search never reaches these",
                                         i + 1, end, code, it->second + 1));
      } else {
        std::vector<std::pair<int64_t, int64_t>> spans;
        for (std::size_t k = i; k < end; ++k) {
          const int64_t from = t.validFrom[k];
          const int64_t to = t.validTo[k];
          if (from > to) {
            f->Warning("SGTAB0", fmt::format(" row {} ({}): span {}..{} holds no date", k + 1,
                                             code, from, to));
          } else if (Covered(spans, from, to)) {
            f->Warning("SGTAB0", fmt::format(" row {} ({}): span {}..{} lies inside the spans of "
                                             "earlier rows of the code; never used",
                                             k + 1, code, from, to));
          }
          spans.emplace_back(from, to);
        }
      }
    }
    i = end;
  }
}

// ---------------------------------------------------------------------------
// CC exclusion tables: the bisection needs ascending keys and the list walk
// items in ascending order of their values (a range may reach over the items
// after it; the walk stops only at an item whose value lies above the number).

void CheckCcTable(std::string_view file, const CcExclusionTable& t, Findings* f) {
  std::size_t used = t.keyFirst.size();
  while (used > 0 && t.keyFirst[used - 1] == kPaddingCcKey && t.listLength[used - 1] == 0 &&
         t.keyLast[used - 1] == kPaddingCcKey) {
    --used;
  }
  for (std::size_t i = 1; i < used; ++i) {
    if (t.keyFirst[i] <= t.keyLast[i - 1]) {
      f->Warning(file, fmt::format(" row {}: key {} does not lie above row {} (key {}); the "
                                   "search may miss rows",
                                   i + 1, t.keyFirst[i], i, t.keyLast[i - 1]));
      break;
    }
  }
  for (std::size_t i = 0; i < t.keyFirst.size(); ++i) {
    auto p = static_cast<std::size_t>(std::max<int>(t.listOffset[i], 0));
    int previous = 0;
    for (int k = 0; k < t.listLength[i]; ++k) {
      const int value = DecodeExclusionItem(&t.listArea[p]).value;
      p += static_cast<std::size_t>(ExclusionItemBytes(t.listArea[p]));
      if (value < previous) {
        f->Warning(file, fmt::format(" row {}: list item {} does not lie above the item before; "
                                     "the walk stops early and misses it",
                                     i + 1, value));
        break;
      }
      previous = value;
    }
  }
}

// ---------------------------------------------------------------------------
// RDRGCC: sorted by code, at most two lines a code (the bisection lands on
// one line and steps back at most one).

bool PaddingRow(const RefinedCcRow& row) {
  return std::memcmp(row.code.data(), "ZZZZZ", 5) == 0 && row.sexCondition == 0 &&
         row.statusCondition == 0 && row.ccDrg == 0 && row.levelRow == 0;
}

void CheckRefinedCc(std::string_view file, const RefinedCcTable& t, Findings* f) {
  std::size_t used = t.rows.size();
  while (used > 0 && PaddingRow(t.rows[used - 1])) --used;
  int same = 1;
  for (std::size_t i = 1; i < used; ++i) {
    const int order = std::memcmp(t.rows[i].code.data(), t.rows[i - 1].code.data(), 5);
    const std::string code = Trimmed(t.rows[i].code.data());
    same = order == 0 ? same + 1 : 1;
    if (order < 0) {
      f->Warning(file, fmt::format(" line {} ({}): sorts before line {} ({}); the search may "
                                   "miss it",
                                   i + 1, code, i, Trimmed(t.rows[i - 1].code.data())));
    } else if (same == 3) {
      f->Warning(file, fmt::format(" line {} ({}): a third line of the code; the search reaches "
                                   "at most two",
                                   i + 1, code));
    }
  }
}

// ---------------------------------------------------------------------------
// RDRGNEO: replays the merge to find the lines whose marks are lost.

struct NeonateLineInfo {
  int category = -1;
  int tail = 0;
  bool unterminated = false;
  std::string text;
};

void CheckNeonate(const TableInfo& t, const std::string& bytes, const DiagnosisTable& dx,
                  Findings* f) {
  std::vector<NeonateLineInfo> lines;
  TextLineReader reader(bytes, ReaderLimit(t.kind));
  TextLine line;
  while (reader.Next(&line)) {
    NeonateLineInfo info;
    info.text = std::string(line.text);
    info.unterminated = line.lastWithoutLineFeed;
    char code[5];
    CopyColumns(line.text, 1, 5, code);
    const char letter = code[0];
    if (letter >= 'A' && letter <= 'Z') {
      info.category = (letter - 'A') * 100 + ParseDigits(code + 1, 2);
      info.tail = code[3] == ' ' ? 255 : (code[3] - '0') * 16 + (code[4] == ' ' ? 15 : code[4] - '0');
    }
    lines.push_back(std::move(info));
  }
  // The merge walk: the current line index, or lines.size() at the end.
  std::vector<bool> matched(lines.size(), false);
  std::size_t next = 0;
  std::size_t current = lines.size();
  int category = -1;
  int tail = 0;
  for (int m = 0; m < kCategorySlots; ++m) {
    const int start = dx.categoryStart[static_cast<std::size_t>(m)];
    const int end = start + dx.categoryCount[static_cast<std::size_t>(m)];
    for (int e = start; e < end; ++e) {
      const int entryTail = dx.entryTail[static_cast<std::size_t>(e)];
      while (category < m || (category == m && tail < entryTail)) {
        if (next >= lines.size() || lines[next].unterminated) {
          category = kCategorySlots + 1;
          current = lines.size();
          break;
        }
        current = next++;
        category = lines[current].category;
        tail = lines[current].tail;
      }
      if (category == m && tail == entryTail) matched[current] = true;
    }
  }
  std::map<std::pair<int, int>, std::size_t> firstMatch;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (matched[i]) firstMatch.emplace(std::make_pair(lines[i].category, lines[i].tail), i);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (matched[i]) continue;
    const NeonateLineInfo& l = lines[i];
    char code[5];
    CopyColumns(l.text, 1, 5, code);
    DecodedCode decoded;
    const bool isCode = DecodeCode(code, true, &decoded);
    const bool read = i < next;
    if (!isCode) {
      if (read) {
        f->Warning(t.name, fmt::format(" line {} ({}): not a diagnosis code; passed over", i + 1,
                                       Quote(l.text)));
      }
      continue;
    }
    const std::string codeText = Trimmed(code);
    std::string why;
    const auto dup = firstMatch.find({decoded.category, decoded.tail});
    if (l.unterminated) {
      why = "no line feed ends the last line";
    } else if (dup != firstMatch.end()) {
      why = fmt::format("the code's mark comes from line {}", dup->second + 1);
    } else {
      bool present = false;
      const int start = dx.categoryStart[static_cast<std::size_t>(decoded.category)];
      const int end = start + dx.categoryCount[static_cast<std::size_t>(decoded.category)];
      for (int e = start; e < end; ++e) {
        present = present || dx.entryTail[static_cast<std::size_t>(e)] == decoded.tail;
      }
      why = present ? "the line stands out of the diagnosis table's order"
                    : fmt::format("the code is not in DXTAB{}", t.name.back());
    }
    f->Warning(t.name, fmt::format(" line {} ({}): its mark is lost: {}", i + 1, codeText, why));
  }
}

// ---------------------------------------------------------------------------
// RDRGDRG: a later line of a DRG value overwrites an earlier one; the lines
// that repeat the last line to fill the table are padding.

void CheckRefinedDrgLines(const std::string& bytes, Findings* f) {
  TextLineReader reader(bytes, ReaderLimit(TableKind::kRefinedDrg));
  std::vector<std::string> lines;
  TextLine line;
  while (static_cast<int>(lines.size()) < kRefinedDrgLines && reader.Next(&line)) {
    lines.emplace_back(line.text);
  }
  std::size_t used = lines.size();
  while (used > 1 && lines[used - 1] == lines[used - 2]) --used;
  std::map<int, std::size_t> first;
  for (std::size_t i = 0; i < used; ++i) {
    char field[4];
    CopyColumns(lines[i], 1, 4, field);
    const int drg = ParseDigits(field, 4);
    const auto [it, fresh] = first.emplace(drg, i);
    if (!fresh) {
      f->Warning("RDRGDRG", fmt::format(" line {}: DRG {} again (line {}){}", i + 1, drg,
                                        it->second + 1,
                                        lines[i] == lines[it->second]
                                            ? ", the same line"
                                            : fmt::format("; line {} is overwritten",
                                                          it->second + 1)));
    }
  }
}

// DRG values the rules yield that no RDRGDRG line names.
void CheckRuleDrgs(const TableSet& set, Findings* f) {
  static constexpr const char* kNames[2] = {"DGTAB", "DGTAB0"};
  for (std::size_t t = 0; t < 2; ++t) {
    std::map<int, bool> seen;
    const DrgRuleTable& table = set.drgRules[t];
    for (int m = 1; m <= kMdcSlots; ++m) {
      const std::span<const DrgRule> rules = table.RulesOf(m);
      for (std::size_t k = 0; k < rules.size(); ++k) {
        const int value = DrgValueOf(rules[k]);
        if (!seen.emplace(value, true).second) continue;
        const int number = table.mdcRuleStart[static_cast<std::size_t>(m - 1)] + static_cast<int>(k);
        if (value < 1 || value > kRefinedDrgSlots) {
          f->Warning(kNames[t], fmt::format(" rule {} (MDC {}): DRG value {} outside 1..{}", number,
                                            m, value, kRefinedDrgSlots));
        } else if (!set.refinedDrg.slots[static_cast<std::size_t>(value - 1)].filled) {
          f->Warning(kNames[t], fmt::format(" rule {} (MDC {}): DRG {} has no RDRGDRG line", number,
                                            m, value));
        }
      }
    }
  }
}

// Level matrix lines shorter than the columns the refined tables use.
void CheckLevelLines(const TableSet& set, Findings* f) {
  int maxColumn = -1;
  int maxDrg = 0;
  for (std::size_t s = 0; s < set.refinedDrg.slots.size(); ++s) {
    const RefinedDrgSlot& slot = set.refinedDrg.slots[s];
    if (slot.filled && slot.levelColumn > maxColumn) {
      maxColumn = slot.levelColumn;
      maxDrg = static_cast<int>(s) + 1;
    }
  }
  if (maxColumn < 0) return;
  std::array<bool, kLevelRows> usedRow{};
  std::array<std::string, kLevelRows> usedBy{};
  static constexpr const char* kNames[kEditionCount] = {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"};
  for (int e = kEditionCount - 1; e >= 0; --e) {
    const auto& rows = set.refinedCc[static_cast<std::size_t>(e)].rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (PaddingRow(rows[i])) continue;
      const auto r = static_cast<std::size_t>(rows[i].levelRow);
      usedRow[r] = true;
      usedBy[r] = fmt::format("{} line {}", kNames[e], i + 1);
    }
  }
  for (std::size_t r = 0; r < kLevelRows; ++r) {
    const int length = set.levelMatrix.lineLength[r];
    if (usedRow[r] && length < maxColumn + 1) {
      f->Warning("RDRGCL", fmt::format(" line {}: {} characters, but DRG {} uses column {} and {} "
                                       "uses this row; the missing levels read as '0'",
                                       r + 1, length, maxDrg, maxColumn + 1, usedBy[r]));
    }
  }
}

// The table a loader message is about: the longest table name that begins it.
std::string FileOfMessage(const std::string& message) {
  std::string best;
  for (const char* name : kTableFiles) {
    const std::size_t n = std::strlen(name);
    if (message.compare(0, n, name) == 0 && n > best.size() &&
        (message.size() == n || message[n] == ':' || message[n] == ' ')) {
      best = name;
    }
  }
  for (const char* name : {kCodeMapJan2001File, kCodeMap2001File}) {
    const std::size_t n = std::strlen(name);
    if (message.compare(0, n, name) == 0 && (message[n] == ':' || message[n] == ' ')) best = name;
  }
  return best;
}

}  // namespace
}  // namespace toolkit

CheckReport CheckTableImages(const TableImages& images, int findingCap) {
  using namespace toolkit;
  CheckReport report;
  Findings f(findingCap, &report);
  for (const char* name : kTableFiles) {
    const auto it = images.find(name);
    if (it != images.end()) CheckFileForm(*FindTable(name), it->second, &f);
  }
  Result<std::shared_ptr<const TableSet>> loaded = LoadTablesFromImages(images);
  if (!loaded.ok()) {
    const std::string file = FileOfMessage(loaded.message());
    f.Error(file, loaded.message().substr(file.size()));  // the message names the file
    return report;
  }
  const TableSet& set = **loaded;
  CheckTailOrder("DXTAB8", set.diagnosis[0], 2, &f);
  CheckTailOrder("DXTAB9", set.diagnosis[1], 2, &f);
  CheckTailOrder("SGTAB8", set.procedure[0], 1, &f);
  CheckTailOrder("SGTAB9", set.procedure[1], 1, &f);
  CheckDatedRows(set.datedProcedure, &f);
  CheckRuleDrgs(set, &f);
  static constexpr const char* kRefinedCc[kEditionCount] = {"RDRGCC8", "RDRGCC9", "RDRGCC0",
                                                            "RDRGCC1"};
  static constexpr const char* kNeonate[kEditionCount] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0",
                                                          "RDRGNEO1"};
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    CheckRefinedCc(kRefinedCc[e], set.refinedCc[e], &f);
    CheckNeonate(*FindTable(kNeonate[e]), images.at(kNeonate[e]), set.diagnosis[e], &f);
  }
  CheckRefinedDrgLines(images.at("RDRGDRG"), &f);
  CheckLevelLines(set, &f);
  CheckCcTable("CCTAB", set.ccRange, &f);
  CheckCcTable("CCTAB0", set.ccEntry[0], &f);
  CheckCcTable("CCTAB1", set.ccEntry[1], &f);

  const std::pair<const char*, const CodeMapFile*> maps[2] = {
      {kCodeMapJan2001File, &set.codeMapJan2001}, {kCodeMap2001File, &set.codeMap2001}};
  for (const auto& [name, map] : maps) {
    report.notes.push_back(
        map->present
            ? fmt::format("{}: present, {} procedure code conversions", name, map->pairs.size())
            : fmt::format("{}: absent; only the built-in conversion rows are used", name));
  }
  return report;
}

CheckReport CheckTables(const std::string& directory, int findingCap) {
  Result<TableImages> images = ReadTableImages(directory.empty() ? "." : directory);
  if (!images.ok()) {
    CheckReport report;
    report.errors = 1;
    report.findings.push_back(Finding{Finding::Severity::kError, "", images.message()});
    return report;
  }
  return CheckTableImages(*images, findingCap);
}

}  // namespace tallow
