// Findings on a table set, sorted by what the grouper does with the data:
// errors where a search goes wrong or a record is read that should not be,
// warnings for data no search ever reaches, and nothing for the padding and
// the other layouts the files hold by design. Every rule below follows the
// search that reads the table, so a finding is only made where that search
// actually behaves differently from what the data says.
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "tables/identity.h"
#include "tables/text_lines.h"
#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"

namespace tallow {

const FindingGroup* CheckReport::Find(std::string_view file, std::string_view kind) const {
  for (const FindingGroup& g : groups) {
    if (g.file == file && g.kind == kind) return &g;
  }
  return nullptr;
}

namespace toolkit {
namespace {

using Severity = Finding::Severity;

class Findings {
 public:
  Findings(int examples, CheckReport* report) : examples_(examples), report_(report) {}

  void Error(std::string_view file, const char* kind, const char* what, std::string example) {
    ++report_->errors;
    Add(Severity::kError, file, kind, what, std::move(example));
  }
  void Warning(std::string_view file, const char* kind, const char* what, std::string example) {
    ++report_->warnings;
    Add(Severity::kWarning, file, kind, what, std::move(example));
  }

  // Errors first; within a severity, the order in which the kinds were met.
  void Finish() {
    std::stable_sort(report_->groups.begin(), report_->groups.end(),
                     [](const FindingGroup& a, const FindingGroup& b) {
                       return a.severity == Severity::kError && b.severity != Severity::kError;
                     });
  }

 private:
  void Add(Severity severity, std::string_view file, const char* kind, const char* what,
           std::string example) {
    const auto key = std::make_tuple(severity, std::string(file), std::string(kind));
    auto it = index_.find(key);
    if (it == index_.end()) {
      it = index_.emplace(key, report_->groups.size()).first;
      FindingGroup g;
      g.severity = severity;
      g.file = std::string(file);
      g.kind = kind;
      g.what = what;
      report_->groups.push_back(std::move(g));
    }
    FindingGroup& g = report_->groups[it->second];
    ++g.count;
    if (static_cast<int>(g.examples.size()) < examples_) g.examples.push_back(std::move(example));
  }

  int examples_;
  CheckReport* report_;
  std::map<std::tuple<Severity, std::string, std::string>, std::size_t> index_;
};

std::string Trimmed(const char* code, std::size_t n = 5) {
  std::string s(code, n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string CodeOf(int category, int tail) { return Trimmed(CodeText(category, tail).c_str()); }

// Line limit of the loader's bounded reader (the line feed included).
std::size_t ReaderLimit(TableKind kind) { return static_cast<std::size_t>(MaxLineLength(kind)) + 1; }

constexpr const char* kRefinedCcNames[kEditionCount] = {"RDRGCC8", "RDRGCC9", "RDRGCC0",
                                                        "RDRGCC1"};
constexpr const char* kNeonateNames[kEditionCount] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0",
                                                      "RDRGNEO1"};
constexpr const char* kDiagnosisNames[kEditionCount] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
constexpr char kEditionDigits[kEditionCount] = {'8', '9', '0', '1'};

// ---------------------------------------------------------------------------
// Per file, as notes: lines the bounded reader splits (the rest of the line
// is read as the next one, which a file may do on purpose), bytes and lines
// past those read, and whether the dumped source builds the same bytes (a
// fact about the toolkit, not a fault of the set).

void CheckFileForm(const TableInfo& t, const std::string& bytes, std::vector<std::string>* notes) {
  if (!IsTextTable(t.kind)) {
    const std::size_t size = BinarySize(t);
    if (bytes.size() < size) return;  // the load reports it
    if (bytes.size() > size) {
      notes->push_back(fmt::format("{}: {} bytes past the fixed size of {} are never read", t.name,
                                   bytes.size() - size, size));
    }
  } else {
    TextLineReader reader(bytes, ReaderLimit(t.kind));
    TextLine line;
    int count = 0;
    const int fixed = FixedLines(t);
    bool split = false;
    while (reader.Next(&line)) {
      ++count;
      if (fixed >= 0 && count > fixed) continue;  // never read
      if (!line.endedByLineFeed && !line.lastWithoutLineFeed && !split) {
        split = true;
        notes->push_back(fmt::format("{} line {}: longer than the {} characters the reader takes "
                                     "as one line; the rest is read as line {}",
                                     t.name, count, MaxLineLength(t.kind), count + 1));
      }
    }
    if (fixed >= 0 && count < fixed) return;  // the load reports it
    if (fixed >= 0 && count > fixed) {
      notes->push_back(fmt::format("{}: {} lines; those after line {} are never read", t.name,
                                   count, fixed));
    }
  }
  Result<std::string> source = DumpTableFile(t.name, bytes);
  if (!source.ok()) return;
  Result<std::string> rebuilt = BuildTableFile(t.name, *source);
  if (!rebuilt.ok()) {
    notes->push_back(fmt::format("{}: its dumped source does not build: {}", t.name,
                                 rebuilt.message()));
  } else if (*rebuilt != bytes) {
    const auto diff = std::mismatch(rebuilt->begin(), rebuilt->end(), bytes.begin(), bytes.end());
    notes->push_back(fmt::format("{}: dump and build do not give back the same bytes (from byte "
                                 "{}); keep the file, not its source",
                                 t.name, diff.first - rebuilt->begin()));
  }
}

// ---------------------------------------------------------------------------
// Category-indexed tables. Editions 8 and 9 scan a category's tails in order
// and stop at the first that is not below the code's: an entry after a
// larger tail is never found (an error: the search relies on the order).
// Editions 0 and 1 take the first equal tail. In both, the entry after the
// found one serves female cases when its tail is the same (diagnoses only);
// any further entry of the code, in order or not, is never returned, while
// the code itself is found (a warning).

template <typename Table>
void CheckEntries(std::string_view file, const Table& table, bool ordered, bool femalePair,
                  Findings* f) {
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = table.categoryStart[static_cast<std::size_t>(c)];
    const int end = start + table.categoryCount[static_cast<std::size_t>(c)];
    int largest = -1;
    std::array<bool, 256> seen{};
    bool previousFound = false;
    for (int e = start; e < end; ++e) {
      const int tail = table.entryTail[static_cast<std::size_t>(e)];
      const bool found = ordered ? tail > largest : !seen[static_cast<std::size_t>(tail)];
      const bool pair = femalePair && e > start && previousFound &&
                        table.entryTail[static_cast<std::size_t>(e - 1)] == tail;
      if (!found && !pair) {
        const std::string code = CodeOf(c, tail);
        if (ordered && tail < largest && !seen[static_cast<std::size_t>(tail)]) {
          f->Error(file, "tail-order", "an entry after a larger tail of its category; the ordered "
                                       "search stops before it and never finds its code",
                   fmt::format("{} entry {} ({}): stands after {}", file, e, code,
                               CodeOf(c, largest)));
        } else {
          f->Warning(file, "repeated-entry",
                     femalePair ? "a further entry of a code beyond the male/female pair; never "
                                  "returned"
                                : "a second entry of a code; only the first is ever returned",
                     fmt::format("{} entry {} ({})", file, e, code));
        }
      }
      previousFound = found;
      largest = std::max(largest, tail);
      seen[static_cast<std::size_t>(tail)] = true;
    }
  }
}

// ---------------------------------------------------------------------------
// SGTAB0: the search takes the first row of a code and walks that run of
// rows only, taking the first row whose span holds the date. Blank codes are
// never looked up, so rows of a blank, zero or all-NUL code are padding.

// The five characters as the search compares them: up to the first NUL.
RowCode SearchKey(const RowCode& code) {
  RowCode key{};
  for (std::size_t k = 0; k < key.size() && code[k] != '\0'; ++k) key[k] = code[k];
  return key;
}

bool PaddingCode(const RowCode& code) {
  const bool blankOrNul =
      std::all_of(code.begin(), code.end(), [](char c) { return c == ' ' || c == '\0'; });
  return blankOrNul || std::memcmp(code.data(), "00000", 5) == 0;
}

// The date numbers a case of editions 0 and 1 can give: its eight characters
// through ParseDigits are -1 (a non-digit) or, the text lying at or above
// "20020101", a number of 1 or more.
constexpr int64_t kLastDate = 99999999;
bool SpanHoldsADate(int64_t from, int64_t to) {
  if (from > to) return false;
  if (from <= -1 && to >= -1) return true;
  return to >= 1 && from <= kLastDate;
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
    if (!PaddingCode(t.codes[i])) {
      const std::string code = Trimmed(t.codes[i].data());
      const auto [it, first] = firstRun.emplace(key, i);
      if (!first) {
        f->Warning("SGTAB0", "dated-later-run",
                   "rows of a code after rows of other codes; the search takes the code's first "
                   "rows and never reaches these",
                   fmt::format("SGTAB0 rows {}-{} ({}): the code's rows begin at row {}", i + 1,
                               end, code, it->second + 1));
      } else {
        std::vector<std::pair<int64_t, int64_t>> spans;
        for (std::size_t k = i; k < end; ++k) {
          const int64_t from = t.validFrom[k];
          const int64_t to = t.validTo[k];
          if (!SpanHoldsADate(from, to)) {
            f->Warning("SGTAB0", "dated-no-date", "a row whose span holds no case date",
                       fmt::format("SGTAB0 row {} ({}): span {}..{}", k + 1, code, from, to));
            continue;
          }
          if (Covered(spans, from, to)) {
            f->Warning("SGTAB0", "dated-covered",
                       "a row whose span lies inside the spans of the code's earlier rows; "
                       "never used",
                       fmt::format("SGTAB0 row {} ({}): span {}..{}", k + 1, code, from, to));
          }
          spans.emplace_back(from, to);
        }
      }
    }
    i = end;
  }
}

// ---------------------------------------------------------------------------
// CC exclusion tables. The row search is a bisection over the keys; a row
// with a list whose keys the bisection does not lead to (keys out of order,
// overlapping ranges with other lists) is searched wrongly. Rows with empty
// lists exclude nothing, so their keys do not matter: that is where the
// padding rows stand.

bool SameList(const CcExclusionTable& t, std::size_t a, std::size_t b) {
  if (t.listLength[a] != t.listLength[b]) return false;
  auto pa = static_cast<std::size_t>(t.listOffset[a]);
  auto pb = static_cast<std::size_t>(t.listOffset[b]);
  for (int k = 0; k < t.listLength[a]; ++k) {
    const std::size_t na = (t.listArea[pa] & 0x80) ? 3 : 2;
    const std::size_t nb = (t.listArea[pb] & 0x80) ? 3 : 2;
    if (na != nb || std::memcmp(&t.listArea[pa], &t.listArea[pb], na) != 0) return false;
    pa += na;
    pb += nb;
  }
  return true;
}

void CheckCcRows(std::string_view file, const CcExclusionTable& t, Findings* f) {
  for (std::size_t i = 0; i < t.keyFirst.size(); ++i) {
    if (t.listLength[i] == 0) continue;
    const int first = t.keyFirst[i];
    int last = first;
    if (t.rangeKeyed) {
      const int span = static_cast<uint16_t>(t.keyLast[i] - t.keyFirst[i]) & 0xFF;
      last = first + span;
      if (last > 32767) {
        f->Error(file, "cc-range-wrap",
                 "a key range that passes 32767; its last key wraps below its first, so the "
                 "search never finds the row",
                 fmt::format("{} row {}: keys {}..{}", file, i + 1, first, last));
        continue;
      }
    }
    for (int key = first; key <= last; ++key) {
      const int row = FindCcRow(t, key);
      if (row == static_cast<int>(i) || (row >= 0 && SameList(t, static_cast<std::size_t>(row), i))) {
        continue;
      }
      f->Error(file, "cc-key-search",
               "a row with a list that the bisection over the keys does not find (keys out of "
               "order or overlapping)",
               row < 0 ? fmt::format("{} row {}: key {} is not found", file, i + 1, key)
                       : fmt::format("{} row {}: key {} leads to row {}", file, i + 1, key,
                                     row + 1));
      break;
    }
  }
}

// The list walk stops at the first item whose value lies above the number;
// the values an item covers below an earlier, larger value are never
// reached (a range may reach over the items after it; that loses nothing).
void CheckCcLists(std::string_view file, const CcExclusionTable& t, Findings* f) {
  for (std::size_t i = 0; i < t.keyFirst.size(); ++i) {
    auto p = static_cast<std::size_t>(std::max<int>(t.listOffset[i], 0));
    int largest = -1;
    for (int k = 0; k < t.listLength[i]; ++k) {
      const ExclusionItem item = DecodeExclusionItem(&t.listArea[p]);
      const int value = item.value;
      const int length = item.length;
      p += static_cast<std::size_t>(ExclusionItemBytes(t.listArea[p]));
      const int top = std::min(value + length, largest - 1);
      for (int x = value; x <= top; ++x) {
        if (InExclusionList(t, static_cast<int>(i), x)) continue;
        f->Error(file, "cc-list-order",
                 "a list item after a larger one; the walk stops before it and the number is "
                 "never excluded",
                 fmt::format("{} row {} (key {}): item {}, {} is never found", file, i + 1,
                             t.keyFirst[i], k + 1, x));
        k = t.listLength[i];  // one finding a row
        break;
      }
      largest = std::max(largest, value);
    }
  }
}

// ---------------------------------------------------------------------------
// RDRGCC: the lookup bisects the sorted lines for the case's working code,
// steps back one line when the line before has the same code, and scans
// forward while the code stays the same. Only codes the edition's diagnosis
// table holds are ever searched (a code without an entry is not), so lines
// of other codes, the "ZZZZZ" padding among them, are never read.

int Bisect(const RefinedCcTable& t, uint64_t key) {
  const int n = static_cast<int>(t.rows.size());
  int lo = -1;
  int hi = n;
  int step = (n + 1) / 2;
  while (step > 0) {
    const int mid = lo + step;
    if (mid >= n) {
      hi = mid;
    } else {
      const uint64_t at = PackCode(t.rows[static_cast<std::size_t>(mid)].code.data());
      if (key < at) {
        hi = mid;
      } else if (key > at) {
        lo = mid;
      } else {
        return mid;
      }
    }
    step = (hi - lo) / 2;
  }
  return -1;
}

bool HasCode(const DiagnosisTable& dx, const char* code) {
  DecodedCode d;
  if (!DecodeCode(code, true, &d)) return false;
  const int start = dx.categoryStart[static_cast<std::size_t>(d.category)];
  const int end = start + dx.categoryCount[static_cast<std::size_t>(d.category)];
  for (int e = start; e < end; ++e) {
    if (dx.entryTail[static_cast<std::size_t>(e)] == d.tail) return true;
  }
  return false;
}

bool PaddingRefinedCc(const RefinedCcRow& row) {
  DecodedCode d;
  return !DecodeCode(row.code.data(), true, &d);
}

void CheckRefinedCc(std::string_view file, const RefinedCcTable& t, const DiagnosisTable& dx,
                    const char* dxName, Findings* f) {
  std::map<uint64_t, std::vector<std::size_t>> lines;
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    if (PaddingRefinedCc(t.rows[i])) continue;
    lines[PackCode(t.rows[i].code.data())].push_back(i);
  }
  for (const auto& [key, at] : lines) {
    const std::string code = Trimmed(t.rows[at.front()].code.data());
    if (!HasCode(dx, t.rows[at.front()].code.data())) {
      f->Warning(file, "refined-cc-no-entry",
                 "lines of a code the edition's diagnosis table lacks; never searched",
                 fmt::format("{} line {} ({}): not in {}", file, at.front() + 1, code, dxName));
      continue;
    }
    const int hit = Bisect(t, key);
    if (hit < 0) {
      f->Error(file, "refined-cc-search",
               "lines the bisection does not find (the lines are not in order of their codes)",
               fmt::format("{} line {} ({}): the search for the code does not find it", file,
                           at.front() + 1, code));
      continue;
    }
    auto first = static_cast<std::size_t>(hit);
    if (first > 0 && PackCode(t.rows[first - 1].code.data()) == key) --first;
    std::size_t last = first;
    while (last + 1 < t.rows.size() && PackCode(t.rows[last + 1].code.data()) == key) ++last;
    for (std::size_t i : at) {
      if (i >= first && i <= last) continue;
      f->Warning(file, "refined-cc-unreached",
                 "a line of a code that the search does not reach (it reaches the line it lands "
                 "on, one line before it and the lines after)",
                 fmt::format("{} line {} ({}): the search reads lines {}-{}", file, i + 1, code,
                             first + 1, last + 1));
    }
  }
}

// ---------------------------------------------------------------------------
// RDRGNEO: replays the merge to find the lines whose marks are lost. Lines
// after the one that settles the table's last entry are never read; so are
// blank lines there.

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
        f->Warning(t.name, "neonate-not-a-code", "a line that is not a diagnosis code; passed over",
                   fmt::format("{} line {} ({})", t.name, i + 1, Quote(l.text)));
      }
      continue;
    }
    const std::string codeText = Trimmed(code);
    const auto dup = firstMatch.find({decoded.category, decoded.tail});
    if (l.unterminated) {
      f->Warning(t.name, "neonate-unterminated",
                 "a last line that no line feed ends; the merge takes it as the end",
                 fmt::format("{} line {} ({})", t.name, i + 1, codeText));
    } else if (dup != firstMatch.end()) {
      f->Warning(t.name, "neonate-repeated", "a second line of a code; its mark is lost",
                 fmt::format("{} line {} ({}): the code's mark comes from line {}", t.name, i + 1,
                             codeText, dup->second + 1));
    } else {
      bool present = false;
      const int start = dx.categoryStart[static_cast<std::size_t>(decoded.category)];
      const int end = start + dx.categoryCount[static_cast<std::size_t>(decoded.category)];
      for (int e = start; e < end; ++e) {
        present = present || dx.entryTail[static_cast<std::size_t>(e)] == decoded.tail;
      }
      if (present) {
        f->Warning(t.name, "neonate-order",
                   "a line out of the diagnosis table's order; the merge passes over it and its "
                   "mark is lost",
                   fmt::format("{} line {} ({})", t.name, i + 1, codeText));
      } else {
        f->Warning(t.name, "neonate-no-entry", "a line of a code the diagnosis table lacks",
                   fmt::format("{} line {} ({}): not in DXTAB{}", t.name, i + 1, codeText,
                               t.name.back()));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// RDRGDRG: a later line of a DRG value overwrites an earlier one. Repeating
// a line unchanged (the padding that fills 485 lines) loses nothing.

void CheckRefinedDrgLines(const std::string& bytes, Findings* f) {
  TextLineReader reader(bytes, ReaderLimit(TableKind::kRefinedDrg));
  std::vector<std::string> lines;
  TextLine line;
  while (static_cast<int>(lines.size()) < kRefinedDrgLines && reader.Next(&line)) {
    lines.emplace_back(line.text);
  }
  std::map<int, std::size_t> last;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    char field[4];
    CopyColumns(lines[i], 1, 4, field);
    const int drg = ParseDigits(field, 4);
    const auto it = last.find(drg);
    if (it != last.end() && lines[it->second] != lines[i]) {
      f->Warning("RDRGDRG", "refined-drg-overwritten",
                 "a line that a later line of the same DRG value overwrites",
                 fmt::format("RDRGDRG line {}: DRG {} again on line {}", it->second + 1, drg,
                             i + 1));
    }
    last[drg] = i;
  }
}

// DRG values the rules yield that no RDRGDRG line names: a case that ends
// there is finalised without a level column. That is defined behaviour, so
// it is a note, with the first few rules.
void NoteRuleDrgs(const TableSet& set, std::vector<std::string>* notes) {
  static constexpr const char* kNames[2] = {"DGTAB", "DGTAB0"};
  for (std::size_t t = 0; t < 2; ++t) {
    std::set<int> seen;
    std::string examples;
    int count = 0;
    const DrgRuleTable& table = set.drgRules[t];
    for (int m = 1; m <= kMdcSlots; ++m) {
      const std::span<const DrgRule> rules = table.RulesOf(m);
      for (std::size_t k = 0; k < rules.size(); ++k) {
        const int value = DrgValueOf(rules[k]);
        if (!seen.insert(value).second) continue;
        const int number = table.mdcRuleStart[static_cast<std::size_t>(m - 1)] + static_cast<int>(k);
        if (value < 1 || value > kRefinedDrgSlots ||
            !set.refinedDrg.slots[static_cast<std::size_t>(value - 1)].filled) {
          if (++count <= 3) examples += fmt::format("{}DRG {} (rule {})", count > 1 ? ", " : "", value, number);
        }
      }
    }
    if (count > 0) {
      notes->push_back(fmt::format("{}: {} DRG value{} the rules yield {} no RDRGDRG line ({}{}); "
                                   "such cases are finalised without a level",
                                   kNames[t], count, count == 1 ? "" : "s",
                                   count == 1 ? "has" : "have", examples, count > 3 ? ", ..." : ""));
    }
  }
}

// ---------------------------------------------------------------------------
// Counts per edition.

template <typename Table>
int DistinctCodes(const Table& table) {
  int codes = 0;
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = table.categoryStart[static_cast<std::size_t>(c)];
    const int end = start + table.categoryCount[static_cast<std::size_t>(c)];
    std::array<bool, 256> seen{};
    for (int e = start; e < end; ++e) {
      const auto tail = static_cast<std::size_t>(table.entryTail[static_cast<std::size_t>(e)]);
      if (!seen[tail]) ++codes;
      seen[tail] = true;
    }
  }
  return codes;
}

void CountEditions(const TableSet& set, CheckReport* report) {
  std::set<RowCode> dated;
  for (const RowCode& code : set.datedProcedure.codes) {
    if (!PaddingCode(code)) dated.insert(SearchKey(code));
  }
  for (int e = 0; e < kEditionCount; ++e) {
    const auto at = static_cast<std::size_t>(e);
    const bool early = e < 2;
    EditionCounts c;
    c.edition = kEditionDigits[e];
    const DiagnosisTable& dx = set.diagnosis[at];
    c.diagnosisCodes = DistinctCodes(dx);
    for (int cat = 0; cat < kCategorySlots; ++cat) {
      const int start = dx.categoryStart[static_cast<std::size_t>(cat)];
      const int end = start + dx.categoryCount[static_cast<std::size_t>(cat)];
      for (int i = start; i < end; ++i) c.neonateMarks += dx.neonateMark[static_cast<std::size_t>(i)] != '0';
    }
    c.procedureCodes = early ? DistinctCodes(set.procedure[at]) : static_cast<int>(dated.size());
    const DrgRuleTable& rules = set.drgRules[early ? 0 : 1];
    for (int m = 1; m <= kMdcSlots; ++m) c.rules += static_cast<int>(rules.RulesOf(m).size());
    const CcExclusionTable& cc = CcExclusionTableOf(set, static_cast<Edition>(e));
    for (uint8_t n : cc.listLength) c.ccLists += n != 0;
    for (const RefinedCcRow& row : set.refinedCc[at].rows) c.refinedCcLines += !PaddingRefinedCc(row);
    report->editions.push_back(c);
  }
  for (const RefinedDrgSlot& slot : set.refinedDrg.slots) report->refinedDrgSlots += slot.filled;
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

CheckReport CheckTableImages(const TableImages& images, int examples) {
  using namespace toolkit;
  CheckReport report;
  report.digest = DigestOfImages(images);
  Findings f(examples, &report);
  for (const char* name : kTableFiles) {
    const auto it = images.find(name);
    if (it != images.end()) CheckFileForm(*FindTable(name), it->second, &report.notes);
  }
  Result<std::shared_ptr<const TableSet>> loaded = LoadTablesFromImages(images);
  if (!loaded.ok()) {
    const std::string file = FileOfMessage(loaded.message());
    f.Error(file, "load", "the loader rejects the set", loaded.message());
    f.Finish();
    return report;
  }
  report.loaded = true;
  const TableSet& set = **loaded;
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    CheckEntries(kDiagnosisNames[e], set.diagnosis[e], e < 2, true, &f);
  }
  CheckEntries("SGTAB8", set.procedure[0], true, false, &f);
  CheckEntries("SGTAB9", set.procedure[1], true, false, &f);
  CheckDatedRows(set.datedProcedure, &f);
  NoteRuleDrgs(set, &report.notes);
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    CheckRefinedCc(kRefinedCcNames[e], set.refinedCc[e], set.diagnosis[e], kDiagnosisNames[e], &f);
    CheckNeonate(*FindTable(kNeonateNames[e]), images.at(kNeonateNames[e]), set.diagnosis[e], &f);
  }
  CheckRefinedDrgLines(images.at("RDRGDRG"), &f);
  const std::pair<const char*, const CcExclusionTable*> cc[3] = {
      {"CCTAB0", &set.ccEntry[0]}, {"CCTAB1", &set.ccEntry[1]}, {"CCTAB", &set.ccRange}};
  for (const auto& [name, table] : cc) {
    CheckCcRows(name, *table, &f);
    CheckCcLists(name, *table, &f);
  }
  CountEditions(set, &report);

  const std::pair<const char*, const CodeMapFile*> maps[2] = {
      {kCodeMapJan2001File, &set.codeMapJan2001}, {kCodeMap2001File, &set.codeMap2001}};
  for (const auto& [name, map] : maps) {
    report.notes.push_back(
        map->present
            ? fmt::format("{}: present, {} procedure code conversions", name, map->pairs.size())
            : fmt::format("{}: absent; only the built-in conversion rows are used", name));
  }
  f.Finish();
  return report;
}

CheckReport CheckTables(const std::string& directory, int examples) {
  Result<TableImages> images = ReadTableImages(directory.empty() ? "." : directory);
  if (!images.ok()) {
    CheckReport report;
    report.errors = 1;
    FindingGroup g;
    g.severity = Finding::Severity::kError;
    g.kind = "load";
    g.what = "the set cannot be read";
    g.count = 1;
    g.examples.push_back(images.message());
    report.groups.push_back(std::move(g));
    return report;
  }
  return CheckTableImages(*images, examples);
}

}  // namespace tallow
