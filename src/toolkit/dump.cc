// Table files back into sources: one record a line, codes as codes, masks in
// hex, dates as YYYYMMDD. Trailing inert padding is left out; anything that a
// field form would not rebuild byte for byte is written in a form that does
// (raw lines, start records, @OFFSET list placements).
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "tables/bytes.h"
#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"

namespace tallow {

namespace toolkit {
namespace {

const unsigned char* Bytes(std::string_view bytes, std::size_t offset) {
  return reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
}

// The words of a record line, appended with a blank between them; numbers
// in decimal. Records are written by the thousand, so without a format
// string to parse each time.
void AppendWord(std::string* out, const char* word) { out->append(word); }
void AppendWord(std::string* out, const std::string& word) { out->append(word); }
void AppendWord(std::string* out, long long value) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, end.ptr);
}
template <class First, class... Rest>
void AppendWords(std::string* out, const First& first, const Rest&... rest) {
  if constexpr (std::is_integral_v<First>) {
    AppendWord(out, static_cast<long long>(first));
  } else {
    AppendWord(out, first);
  }
  if constexpr (sizeof...(rest) > 0) {
    out->push_back(' ');
    AppendWords(out, rest...);
  }
}
template <class... Words>
void AppendLine(std::string* out, const Words&... words) {
  AppendWords(out, words...);
  out->push_back('\n');
}

std::string Describe(const TableInfo& t) {
  static constexpr const char* kEdition[4] = {"8", "9", "0", "1"};
  const char* edition = kEdition[t.index];
  switch (t.kind) {
    case TableKind::kDiagnosis:
      return fmt::format("diagnosis table of edition {}: {} entries, {} classes", edition,
                         kDiagnosisEntries[t.index], kDiagnosisClasses);
    case TableKind::kProcedure:
      return fmt::format("procedure table of edition {}: {} entries, {} classes", edition,
                         kProcedureEntries[t.index], kProcedureClasses[t.index]);
    case TableKind::kDatedProcedure:
      return fmt::format("dated procedure table of editions 0 and 1: {} rows", kDatedProcedureRows);
    case TableKind::kDrgRules:
      return fmt::format("DRG rules of editions {}: {} rules", t.index == 0 ? "8 and 9" : "0 and 1",
                         kDrgRuleCounts[t.index]);
    case TableKind::kCcRange:
      return fmt::format("CC exclusions of editions 8 and 9: {} range rows, {}-byte list area",
                         kCcRangeRows, kCcRangeListBytes);
    case TableKind::kCcEntry:
      return fmt::format("CC exclusions of edition {}: {} entry rows, {}-byte list area",
                         t.index == 0 ? "0" : "1", kCcEntryRows[t.index],
                         kCcEntryListBytes[t.index]);
    case TableKind::kRefinedCc:
      return fmt::format("refined CC table of edition {}: {} lines", edition,
                         kRefinedCcRows[t.index]);
    case TableKind::kRefinedDrg:
      return fmt::format("refined DRG table: {} lines", kRefinedDrgLines);
    case TableKind::kLevelMatrix:
      return fmt::format("level matrix: {} rows of {} columns", kLevelRows, kLevelColumns);
    case TableKind::kNeonate:
      return fmt::format("neonate marks of edition {}", edition);
  }
  return {};
}

// ---------------------------------------------------------------------------
// Binary tables

// The code of an entry of category c with the stored tail: the code when
// build would read it back to the same tail, else "A01/HH".
std::string EntryCodeText(int c, int tail, bool strictTail) {
  const std::string code = CodeText(c, tail);
  DecodedCode decoded;
  if (DecodeCode(code.c_str(), strictTail, &decoded) && decoded.tail == tail) {
    return CodeToken(code.c_str());
  }
  return fmt::format("{}/{:02X}", CategoryText(c), tail);
}

void DumpIndexed(const TableInfo& t, std::string_view bytes, std::string* out) {
  const bool diagnosis = t.kind == TableKind::kDiagnosis;
  const SectionLayout& index = t.format().sections[0];
  const SectionLayout& entrySection = t.format().sections[1];
  const SectionLayout& classSection = t.format().sections[2];
  const int entries = entrySection.records;
  const int entryBytes = entrySection.recordBytes;
  const int classBytes = classSection.recordBytes;
  // The entry fields of both layouts (a procedure entry has no CC row).
  const FieldLayout& tailField = DiagnosisEntryRecord::kTail;
  const FieldLayout& classField = DiagnosisEntryRecord::kClass;
  static_assert(ProcedureEntryRecord::kTail.offset == tailField.offset &&
                ProcedureEntryRecord::kClass.offset == classField.offset);

  for (int k = 0; k < classSection.records; ++k) {
    const unsigned char* rec = Bytes(bytes, classSection.RecordOffset(k));
    if (std::all_of(rec, rec + classBytes, [](unsigned char b) { return b == 0; })) continue;
    if (diagnosis) {
      AppendLine(out, "class", k + 1, LoadField(rec, DiagnosisClassRecord::kMdc),
                 LoadField(rec, DiagnosisClassRecord::kDrgKey), LoadField(rec, DiagnosisClassRecord::kCcFlag),
                 DenseHexText(rec + DiagnosisClassRecord::kDxMask.offset, DiagnosisClassRecord::kDxMask.width));
    } else {
      AppendLine(out, "class", k + 1, SparseBytesText(rec, classBytes, 0));
    }
  }
  // Categories in ascending order; build places each where the previous one
  // ended unless a start record says otherwise.
  std::vector<bool> covered(static_cast<std::size_t>(entries), false);
  int cursor = 0;
  for (int c = 0; c < kCategorySlots; ++c) {
    const unsigned char* rec = Bytes(bytes, index.RecordOffset(c));
    const int count = LoadField(rec, CategoryRecord::kCount);
    const int start = LoadField(rec, CategoryRecord::kStart);
    if (count == 0) {
      if (start != 0) fmt::format_to(std::back_inserter(*out), "start {} {}\n", CategoryText(c), start);
      continue;
    }
    const int first = std::max(start, 0);
    const int last = std::min(start + count, entries);
    if (first >= last || start < 0 || start + count > entries) {
      fmt::format_to(std::back_inserter(*out), "# category {}: {} entries from {} run outside the {} entries\n",
                          CategoryText(c), count, start, entries);
    } else {
      if (start != cursor) fmt::format_to(std::back_inserter(*out), "start {} {}\n", CategoryText(c), start);
      cursor = start + count;
    }
    for (int i = first; i < last; ++i) {
      covered[static_cast<std::size_t>(i)] = true;
      const unsigned char* e = Bytes(bytes, entrySection.RecordOffset(i));
      AppendWords(out, "entry", EntryCodeText(c, LoadField(e, tailField), diagnosis), LoadField(e, classField));
      if (diagnosis && LoadField(e, DiagnosisEntryRecord::kCcRow) != 0) {
        AppendWords(out, "", LoadField(e, DiagnosisEntryRecord::kCcRow));
      }
      out->push_back('\n');
    }
  }
  // Positions of no category are never read; what they hold is kept as is.
  for (int i = 0; i < entries; ++i) {
    const unsigned char* e = Bytes(bytes, entrySection.RecordOffset(i));
    if (covered[static_cast<std::size_t>(i)] ||
        std::all_of(e, e + entryBytes, [](unsigned char b) { return b == 0; })) {
      continue;
    }
    AppendLine(out, "spare", i, DenseHexText(e, entryBytes));
  }
}

void DumpDated(const TableInfo& t, std::string_view bytes, std::string* out) {
  const SectionLayout& codes = t.format().sections[0];
  const SectionLayout& from = t.format().sections[1];
  const SectionLayout& to = t.format().sections[2];
  const SectionLayout& classes = t.format().sections[3];
  const auto date = [&](const SectionLayout& section, int i) {
    return LoadField(Bytes(bytes, section.RecordOffset(i)), DatedDateRecord::kDate);
  };
  const auto zero = [](const unsigned char* p, int n) {
    return std::all_of(p, p + n, [](unsigned char b) { return b == 0; });
  };
  auto zeroRow = [&](int i) {
    return zero(Bytes(bytes, codes.RecordOffset(i)), codes.recordBytes) && date(from, i) == 0 &&
           date(to, i) == 0 && zero(Bytes(bytes, classes.RecordOffset(i)), classes.recordBytes);
  };
  int used = codes.records;
  while (used > 0 && zeroRow(used - 1)) --used;
  for (int i = 0; i < used; ++i) {
    AppendLine(out, "row", CodeToken(bytes.data() + codes.RecordOffset(i)), date(from, i), date(to, i),
               SparseBytesText(Bytes(bytes, classes.RecordOffset(i)), classes.recordBytes, 0));
  }
}

void DumpRules(const TableInfo& t, std::string_view bytes, std::string* out) {
  const SectionLayout& index = t.format().sections[0];
  const SectionLayout& ruleSection = t.format().sections[1];
  const int rules = ruleSection.records;
  std::vector<bool> covered(static_cast<std::size_t>(rules) + 1, false);
  int cursor = 1;
  for (int m = 1; m <= kMdcSlots; ++m) {
    const unsigned char* rec = Bytes(bytes, index.RecordOffset(m - 1));
    const int start = LoadField(rec, MdcIndexRecord::kStart);
    const int count = LoadField(rec, MdcIndexRecord::kCount);
    if (count == 0) {
      if (start != 0) fmt::format_to(std::back_inserter(*out), "start {} {}\n", m, start);
      continue;
    }
    if (start < 1 || start - 1 + count > rules) {
      fmt::format_to(std::back_inserter(*out), "# MDC {}: {} rules from rule {} run outside the {} rules\n", m, count,
                          start, rules);
    } else {
      if (start != cursor) fmt::format_to(std::back_inserter(*out), "start {} {}\n", m, start);
      cursor = start + count;
    }
    const int first = std::max(start, 1);
    const int last = std::min(start + count - 1, rules);
    for (int k = first; k <= last; ++k) {
      covered[static_cast<std::size_t>(k)] = true;
      const unsigned char* r = Bytes(bytes, ruleSection.RecordOffset(k - 1));
      AppendLine(out, "rule", m,
                 DrgText(LoadField(r, DrgRuleRecord::kDrgNumber), LoadField(r, DrgRuleRecord::kDrgDigit)),
                 LoadField(r, DrgRuleRecord::kDrgKey),
                 SparseBytesText(r + DrgRuleRecord::kRequire.offset, DrgRuleRecord::kRequire.width,
                                 DrgRuleRecord::kRequire.offset));
    }
  }
  // Rules of no MDC are never tried; what they hold is kept as is.
  for (int k = 1; k <= rules; ++k) {
    const unsigned char* r = Bytes(bytes, ruleSection.RecordOffset(k - 1));
    if (covered[static_cast<std::size_t>(k)] ||
        std::all_of(r, r + kRuleBytes, [](unsigned char b) { return b == 0; })) {
      continue;
    }
    AppendLine(out, "spare", k, DenseHexText(r, kRuleBytes));
  }
}

// Appends the items of one list as "V" and "V+L", comma-separated, or "-"
// when none fits; stops at the end of the area. Gives the bytes the items
// take.
int AppendListText(std::string* out, const unsigned char* area, int areaSize, int offset, int items) {
  const std::size_t start = out->size();
  int p = offset;
  for (int k = 0; k < items; ++k) {
    if (p < 0 || p + 2 > areaSize || p + ExclusionItemBytes(area[p]) > areaSize) break;
    const ExclusionItem item = DecodeExclusionItem(area + p);
    if (out->size() != start) out->push_back(',');
    AppendWord(out, item.value);
    if (item.range) {
      out->push_back('+');
      AppendWord(out, item.length);
    }
    p += ExclusionItemBytes(area[p]);
  }
  if (out->size() == start) out->push_back('-');
  return p - offset;
}

void DumpCc(const TableInfo& t, std::string_view bytes, std::string* out) {
  const bool ranged = t.kind == TableKind::kCcRange;
  const FileFormat& f = t.format();
  const SectionLayout& areaSection = f.sections[static_cast<std::size_t>(f.sectionCount - 1)];
  const int n = f.sections[0].records;
  const int areaSize = static_cast<int>(areaSection.bytes());
  const unsigned char* area = Bytes(bytes, areaSection.offset);
  struct Row {
    int key, span, offset, items;
  };
  std::vector<Row> rows(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    Row& row = rows[static_cast<std::size_t>(i)];
    if (ranged) {
      const unsigned char* rec = Bytes(bytes, f.sections[0].RecordOffset(i));
      row = Row{LoadField(rec, CcRangeRecord::kKeyFirst), LoadField(rec, CcRangeRecord::kSpan),
                LoadField(rec, CcRangeRecord::kListOffset), LoadField(rec, CcRangeRecord::kListLength)};
    } else {
      row = Row{LoadField(Bytes(bytes, f.sections[0].RecordOffset(i)), CcKeyRecord::kKeyEntry), 0,
                LoadField(Bytes(bytes, f.sections[2].RecordOffset(i)), CcOffsetRecord::kListOffset),
                LoadField(Bytes(bytes, f.sections[1].RecordOffset(i)), CcLengthRecord::kListLength)};
    }
  }
  auto used = static_cast<std::size_t>(n);
  while (used > 0 && rows[used - 1].key == kPaddingCcKey && rows[used - 1].span == 0 &&
         rows[used - 1].offset == 0 && rows[used - 1].items == 0) {
    --used;
  }
  int cursor = 0;
  std::vector<bool> covered(static_cast<std::size_t>(areaSize), false);
  for (std::size_t i = 0; i < used; ++i) {
    const Row& row = rows[i];
    if (ranged) {
      AppendWords(out, "row", row.key, row.span, "");
    } else {
      AppendWords(out, "row", row.key, "");
    }
    const int length = AppendListText(out, area, areaSize, row.offset, row.items);
    if (row.offset != cursor) {
      out->append(" @");
      AppendWord(out, row.offset);
    }
    out->push_back('\n');
    if (row.offset >= 0 && row.offset <= areaSize) cursor = std::max(cursor, row.offset + length);
    for (int k = 0; k < length; ++k) covered[static_cast<std::size_t>(row.offset + k)] = true;
  }
  // Bytes of the area that no list holds are never read; they are kept as
  // they are, at most 32 a record.
  for (int p = 0; p < areaSize;) {
    if (covered[static_cast<std::size_t>(p)] || area[p] == 0) {
      ++p;
      continue;
    }
    int end = p;
    while (end < areaSize && end - p < 32 && !covered[static_cast<std::size_t>(end)] && area[end] != 0) ++end;
    fmt::format_to(std::back_inserter(*out), "spare {} {}\n", p, DenseHexText(area + p, end - p));
    p = end;
  }
}

// ---------------------------------------------------------------------------
// Text tables

bool IsKeyword(std::string_view token) {
  return token == "raw" || token == "lineend" || token == "lastline" || token == "row";
}

std::string FieldCode(std::string_view code) {
  const std::string token = CodeToken(std::string(code).c_str());
  return IsKeyword(token) ? Quote(token) : token;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int DigitsValue(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// The field form of a line when it rebuilds the line exactly; else empty.
std::string FieldForm(TableKind kind, std::string_view line) {
  switch (kind) {
    case TableKind::kRefinedCc: {
      if (line.size() != 17) return {};
      const char sex = line[5];
      const char status = line[7];
      if (sex < '0' || sex > '9' || status < '0' || status > '9') return {};
      if (!AllDigits(line.substr(9, 4)) || !AllDigits(line.substr(14, 3))) return {};
      const int drg = DigitsValue(line.substr(9, 4));
      const int row = DigitsValue(line.substr(14, 3));
      if (row < 1 || row > kLevelRows) return {};
      if (RefinedCcLine(line.substr(0, 5), sex, status, drg, row) != line) return {};
      return fmt::format("{} {} {} {} {}", FieldCode(line.substr(0, 5)), sex, status, drg, row);
    }
    case TableKind::kRefinedDrg: {
      if (line.size() != 12 && line.size() != 17) return {};
      if (!AllDigits(line.substr(0, 4)) || !AllDigits(line.substr(5, 4)) ||
          !AllDigits(line.substr(10, 2))) {
        return {};
      }
      const int drg = DigitsValue(line.substr(0, 4));
      const int refined = DigitsValue(line.substr(5, 4));
      const int column = DigitsValue(line.substr(10, 2));
      const char age = line[9];
      const char type = line.size() == 17 ? line[16] : ' ';
      if (drg < 1 || drg > kRefinedDrgSlots || column > kLevelColumns) return {};
      if (age == '0' || type == '-' || (line.size() == 17 && type == ' ')) return {};
      if (RefinedDrgLine(drg, refined, age, column, type) != line) return {};
      return fmt::format("{} {} {} {} {}", drg, refined,
                         age == ' ' ? std::string("0") : TokenText(std::string(1, age)), column,
                         type == ' ' ? std::string("-") : TokenText(std::string(1, type)));
    }
    case TableKind::kNeonate: {
      if (line.size() != 6) return {};
      DecodedCode code;
      if (!DecodeCode(line.data(), true, &code)) return {};
      if (CodeText(code.category, code.tail) != line.substr(0, 5)) return {};
      return fmt::format("{} {}", FieldCode(line.substr(0, 5)),
                         TokenText(std::string(1, line[5])));
    }
    default:
      return {};
  }
}

// The lines of a text file as the loader sees them, and how they end.
struct TextLines {
  std::vector<std::string> lines;
  bool crlf = false;
  bool unterminated = false;
};

TextLines SplitText(std::string_view bytes) {
  TextLines text;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) {
      text.lines.emplace_back(bytes.substr(pos));
      text.unterminated = true;
      break;
    }
    text.lines.emplace_back(bytes.substr(pos, end - pos));
    pos = end + 1;
  }
  const std::size_t terminated = text.lines.size() - (text.unterminated ? 1 : 0);
  text.crlf = terminated > 0;
  for (std::size_t i = 0; i < terminated; ++i) {
    if (text.lines[i].empty() || text.lines[i].back() != '\r') text.crlf = false;
  }
  if (text.crlf) {
    for (std::size_t i = 0; i < terminated; ++i) text.lines[i].pop_back();
  }
  return text;
}

void DumpText(const TableInfo& t, std::string_view bytes, std::string* out) {
  TextLines text = SplitText(bytes);
  if (text.crlf) *out += "lineend crlf\n";
  const int fixed = FixedLines(t);
  // Lines past the fixed count are never read; they follow as surplus.
  std::size_t main = text.lines.size();
  if (fixed >= 0 && main > static_cast<std::size_t>(fixed)) main = static_cast<std::size_t>(fixed);
  const std::vector<std::string> head(text.lines.begin(), text.lines.begin() + static_cast<long>(main));
  std::size_t used = main;
  // Build pads a table to its fixed count of lines as the loader counts
  // them; padding is left out only where build puts it back.
  const bool padded = !text.unterminated && main == text.lines.size() && fixed >= 0 &&
                      LoaderLines(head, text.crlf, t.kind) == fixed;
  if (padded && t.kind == TableKind::kRefinedCc) {
    while (used > 0 && text.lines[used - 1] == kPaddingRefinedCcLine) --used;
  } else if (padded && t.kind == TableKind::kRefinedDrg) {
    while (used > 1 && text.lines[used - 1] == text.lines[used - 2] &&
           LoaderLines({text.lines[used - 1]}, text.crlf, t.kind) == 1) {
      --used;
    }
    if (used == 1 && text.lines[0] == kDefaultRefinedDrgLine) used = 0;
  }
  if (t.kind == TableKind::kLevelMatrix) {
    if (used != static_cast<std::size_t>(kLevelRows)) fmt::format_to(std::back_inserter(*out), "lines {}\n", used);
    for (std::size_t r = 0; r < used; ++r) {
      const std::string& levels = text.lines[r];
      if (levels == std::string(kLevelColumns, '0')) continue;
      fmt::format_to(std::back_inserter(*out), "row {} {}\n", r + 1, levels.empty() ? "\"\"" : TokenText(levels));
    }
  } else {
    for (std::size_t i = 0; i < used; ++i) {
      const std::string field = FieldForm(t.kind, text.lines[i]);
      *out += field.empty() ? "raw " + Quote(text.lines[i]) : field;
      out->push_back('\n');
    }
  }
  for (std::size_t i = main; i < text.lines.size(); ++i) {
    *out += "surplus " + Quote(text.lines[i]) + "\n";
  }
  if (text.unterminated) *out += "lastline unterminated\n";
}

}  // namespace
}  // namespace toolkit

Result<std::string> DumpTableFile(const std::string& name, std::string_view bytes) {
  using namespace toolkit;
  const std::optional<TableInfo> table = FindTable(name);
  // A source (NAME.txt) is no table file: only the bare table name is.
  const std::string_view last = std::string_view(name).substr(name.find_last_of("/\\") + 1);
  if (!table || last != table->name) {
    return Status::Error(fmt::format("{}: not the name of a table", name));
  }
  std::string out = fmt::format("# {}: {}\n", table->name, Describe(*table));
  std::string_view surplus;
  if (!IsTextTable(table->kind)) {
    const std::size_t size = BinarySize(*table);
    if (bytes.size() < size) {
      return Status::Error(fmt::format("{}: {} bytes, {} needed", table->name, bytes.size(), size));
    }
    surplus = bytes.substr(size);
    bytes = bytes.substr(0, size);
  }
  switch (table->kind) {
    case TableKind::kDiagnosis:
    case TableKind::kProcedure:
      DumpIndexed(*table, bytes, &out);
      break;
    case TableKind::kDatedProcedure:
      DumpDated(*table, bytes, &out);
      break;
    case TableKind::kDrgRules:
      DumpRules(*table, bytes, &out);
      break;
    case TableKind::kCcRange:
    case TableKind::kCcEntry:
      DumpCc(*table, bytes, &out);
      break;
    default:
      DumpText(*table, bytes, &out);
      break;
  }
  // Bytes past the fixed size are never read; they follow, 32 a record.
  for (std::size_t p = 0; p < surplus.size(); p += 32) {
    const std::string_view part = surplus.substr(p, 32);
    out += "surplus " +
           DenseHexText(reinterpret_cast<const uint8_t*>(part.data()), static_cast<int>(part.size())) +
           "\n";
  }
  return out;
}

}  // namespace tallow
