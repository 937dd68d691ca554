// Compiling table sources into table files.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "tables/bytes.h"
#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"

namespace tallow {

namespace toolkit {
namespace {

using Lines = std::vector<SourceLine>;

unsigned char* At(std::string* out, std::size_t offset) {
  return reinterpret_cast<unsigned char*>(out->data()) + offset;
}

bool IsWord(const SourceLine& line, std::string_view word) {
  return !line.tokens[0].quoted && line.tokens[0].text == word;
}

Status UnknownRecord(const FieldReader& r, std::string_view expected) {
  return r.Fail(fmt::format("unknown record \"{}\" (expected {})", r.At(0).text, expected));
}

// ---------------------------------------------------------------------------
// DXTAB8/9/0/1 and SGTAB8/9: category index, entries, class records.

Status BuildIndexed(const TableInfo& t, const std::string& file, const Lines& lines,
                    std::string* out) {
  const bool diagnosis = t.kind == TableKind::kDiagnosis;
  const int entryLimit = diagnosis ? kDiagnosisEntries[t.index] : kProcedureEntries[t.index];
  const int classLimit = diagnosis ? kDiagnosisClasses : kProcedureClasses[t.index];
  const int classBytes = diagnosis ? kDiagnosisClassBytes : kProcedureClassBytes;
  const int entryBytes = diagnosis ? kDiagnosisEntryBytes : kProcedureEntryBytes;
  const int countLimit = diagnosis ? 127 : 255;

  struct Entry {
    int category;
    int tail;
    int cls;
    int ccRow;
  };
  std::vector<Entry> entries;
  std::vector<uint8_t> classes(static_cast<std::size_t>(classLimit * classBytes), 0);
  std::vector<int> classLine(static_cast<std::size_t>(classLimit), 0);
  std::vector<int> categoryCount(kCategorySlots, 0);
  std::vector<int> startLine(kCategorySlots, 0);
  std::vector<int> startValue(kCategorySlots, 0);

  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    long long v = 0;
    if (IsWord(line, "class")) {
      TALLOW_TRY(diagnosis ? r.Arity(6, 6, "class K MDC DRGKEY CCFLAG MASK")
                           : r.Arity(3, 3, "class K BYTES"));
      TALLOW_TRY(r.Number(1, "class", 1, classLimit, &v));
      const auto k = static_cast<std::size_t>(v - 1);
      if (classLine[k] != 0) {
        return r.Fail(fmt::format("class {} written twice (first on line {})", v, classLine[k]));
      }
      classLine[k] = r.Line();
      uint8_t* rec = &classes[k * static_cast<std::size_t>(classBytes)];
      if (diagnosis) {
        static constexpr const char* kFields[3] = {"MDC", "DRGKEY", "CCFLAG"};
        for (int f = 0; f < 3; ++f) {
          TALLOW_TRY(r.Number(static_cast<std::size_t>(2 + f), kFields[f], 0, 255, &v));
          rec[f] = static_cast<uint8_t>(v);
        }
        TALLOW_TRY(r.DenseHex(5, "MASK", rec + 3, 5));
      } else {
        TALLOW_TRY(r.SparseBytes(2, "BYTES", 0, kProcedureClassBytes, rec));
      }
    } else if (IsWord(line, "entry")) {
      TALLOW_TRY(diagnosis ? r.Arity(3, 4, "entry CODE CLASS [CCROW]")
                           : r.Arity(3, 3, "entry CODE CLASS"));
      DecodedCode code;
      TALLOW_TRY(r.IndexedCode(1, diagnosis, &code));
      Entry e{code.category, code.tail, 0, 0};
      TALLOW_TRY(r.Number(2, "class", 1, classLimit, &v));
      e.cls = static_cast<int>(v);
      if (r.Size() == 4) {
        TALLOW_TRY(r.Number(3, "CCROW", -32768, 32767, &v));
        e.ccRow = static_cast<int>(v);
      }
      if (static_cast<int>(entries.size()) == entryLimit) {
        return r.Fail(fmt::format("more than {} entries", entryLimit));
      }
      if (++categoryCount[static_cast<std::size_t>(e.category)] > countLimit) {
        return r.Fail(fmt::format("category {} has more than {} entries",
                                  CategoryText(e.category), countLimit));
      }
      entries.push_back(e);
    } else if (IsWord(line, "start")) {
      TALLOW_TRY(r.Arity(3, 3, "start CATEGORY N"));
      DecodedCode code;
      TALLOW_TRY(r.IndexedCode(1, false, &code));
      if (code.tail != 255) return r.Fail("start names a category by its three characters");
      TALLOW_TRY(r.Number(2, "start", -32768, 32767, &v));
      const auto c = static_cast<std::size_t>(code.category);
      if (startLine[c] != 0) {
        return r.Fail(fmt::format("start of {} written twice (first on line {})", r.At(1).text,
                                  startLine[c]));
      }
      startLine[c] = r.Line();
      startValue[c] = static_cast<int>(v);
    } else {
      return UnknownRecord(r, "class, entry or start");
    }
  }
  for (std::size_t c = 0; c < kCategorySlots; ++c) {
    if (startLine[c] != 0 && categoryCount[c] != 0) {
      return LineError(file, startLine[c],
                       fmt::format("category {} has entries; its start is the position of the first",
                                   CategoryText(static_cast<int>(c))));
    }
  }

  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.category < b.category; });

  out->assign(BinarySize(t), '\0');
  std::vector<int> firstOf(kCategorySlots, -1);
  for (std::size_t i = entries.size(); i-- > 0;) {
    firstOf[static_cast<std::size_t>(entries[i].category)] = static_cast<int>(i);
  }
  for (std::size_t c = 0; c < kCategorySlots; ++c) {
    unsigned char* rec = At(out, 3 * c);
    rec[0] = static_cast<unsigned char>(categoryCount[c]);
    StoreBigEndian16(rec + 1, categoryCount[c] != 0 ? firstOf[c] : startValue[c]);
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    unsigned char* rec = At(out, kIndexBytes + i * static_cast<std::size_t>(entryBytes));
    rec[0] = static_cast<unsigned char>(entries[i].tail);
    StoreBigEndian16(rec + 1, entries[i].cls);
    if (diagnosis) StoreBigEndian16(rec + 3, entries[i].ccRow);
  }
  const std::size_t classOffset = kIndexBytes + static_cast<std::size_t>(entryLimit) * entryBytes;
  std::memcpy(At(out, classOffset), classes.data(), classes.size());
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// SGTAB0: codes, valid-from dates, valid-to dates, class records.

Status BuildDated(const TableInfo& t, const std::string& file, const Lines& lines,
                  std::string* out) {
  out->assign(BinarySize(t), '\0');
  constexpr std::size_t kFrom = 5 * kDatedProcedureRows;
  constexpr std::size_t kTo = kFrom + 4 * kDatedProcedureRows;
  constexpr std::size_t kClasses = kTo + 4 * kDatedProcedureRows;
  std::size_t row = 0;
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    if (!IsWord(line, "row")) return UnknownRecord(r, "row");
    TALLOW_TRY(r.Arity(5, 5, "row CODE FROM TO BYTES"));
    if (row == kDatedProcedureRows) {
      return r.Fail(fmt::format("more than {} rows", kDatedProcedureRows));
    }
    char code[5];
    long long from = 0;
    long long to = 0;
    TALLOW_TRY(r.Code(1, "code", code));
    TALLOW_TRY(r.Number(2, "FROM", INT32_MIN, INT32_MAX, &from));
    TALLOW_TRY(r.Number(3, "TO", INT32_MIN, INT32_MAX, &to));
    uint8_t bytes[kProcedureClassBytes];
    TALLOW_TRY(r.SparseBytes(4, "BYTES", 0, kProcedureClassBytes, bytes));
    std::memcpy(At(out, 5 * row), code, 5);
    StoreLittleEndian32(At(out, kFrom + 4 * row), static_cast<int32_t>(from));
    StoreLittleEndian32(At(out, kTo + 4 * row), static_cast<int32_t>(to));
    std::memcpy(At(out, kClasses + kProcedureClassBytes * row), bytes, kProcedureClassBytes);
    ++row;
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// DGTAB, DGTAB0: MDC index, rules grouped by MDC.

Status ParseDrg(const FieldReader& r, std::size_t i, int* number, int* digit) {
  const std::string& text = r.At(i).text;
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) {
    long long v = 0;
    TALLOW_TRY(r.Number(i, "DRG", 0, 655359, &v));
    *number = static_cast<int>(v / 10);
    *digit = static_cast<int>(v % 10);
    return Status::Ok();
  }
  // NUMBER/DIGIT: parse both halves through a token of their own.
  SourceLine half;
  half.number = r.Line();
  half.tokens = {Token{text.substr(0, slash), false}, Token{text.substr(slash + 1), false}};
  const std::string fileName;  // unused: errors are re-worded below
  const FieldReader h(fileName, half);
  long long n = 0;
  long long d = 0;
  if (!h.Number(0, "", 0, 65535, &n).ok() || !h.Number(1, "", 0, 255, &d).ok()) {
    return r.Fail(fmt::format("DRG \"{}\" is not NUMBER/DIGIT (0..65535/0..255)", text));
  }
  *number = static_cast<int>(n);
  *digit = static_cast<int>(d);
  return Status::Ok();
}

Status BuildRules(const TableInfo& t, const std::string& file, const Lines& lines,
                  std::string* out) {
  const int ruleLimit = kDrgRules[t.index];
  struct Rule {
    int mdc;
    std::array<uint8_t, kRuleBytes> bytes;
  };
  std::vector<Rule> rules;
  std::array<int, kMdcSlots> count{};
  std::array<int, kMdcSlots> startLine{};
  std::array<int, kMdcSlots> startValue{};
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    long long v = 0;
    if (IsWord(line, "rule")) {
      TALLOW_TRY(r.Arity(5, 5, "rule MDC DRG KEY REQUIRE"));
      Rule rule{};
      TALLOW_TRY(r.Number(1, "MDC", 1, kMdcSlots, &v));
      rule.mdc = static_cast<int>(v);
      int number = 0;
      int digit = 0;
      TALLOW_TRY(ParseDrg(r, 2, &number, &digit));
      TALLOW_TRY(r.Number(3, "KEY", 0, 255, &v));
      rule.bytes[0] = static_cast<uint8_t>(v);
      TALLOW_TRY(r.SparseBytes(4, "REQUIRE", 1, kRequireBytes, rule.bytes.data() + 1));
      rule.bytes[43] = static_cast<uint8_t>(digit);
      StoreBigEndian16(rule.bytes.data() + 44, number);
      if (static_cast<int>(rules.size()) == ruleLimit) {
        return r.Fail(fmt::format("more than {} rules", ruleLimit));
      }
      if (++count[static_cast<std::size_t>(rule.mdc - 1)] > 255) {
        return r.Fail(fmt::format("MDC {} has more than 255 rules", rule.mdc));
      }
      rules.push_back(rule);
    } else if (IsWord(line, "start")) {
      TALLOW_TRY(r.Arity(3, 3, "start MDC N"));
      TALLOW_TRY(r.Number(1, "MDC", 1, kMdcSlots, &v));
      const auto m = static_cast<std::size_t>(v - 1);
      if (startLine[m] != 0) {
        return r.Fail(fmt::format("start of MDC {} written twice (first on line {})", v,
                                  startLine[m]));
      }
      startLine[m] = r.Line();
      TALLOW_TRY(r.Number(2, "start", -32768, 32767, &v));
      startValue[m] = static_cast<int>(v);
    } else {
      return UnknownRecord(r, "rule or start");
    }
  }
  for (std::size_t m = 0; m < kMdcSlots; ++m) {
    if (startLine[m] != 0 && count[m] != 0) {
      return LineError(file, startLine[m],
                       fmt::format("MDC {} has rules; its start is the number of the first", m + 1));
    }
  }
  std::stable_sort(rules.begin(), rules.end(),
                   [](const Rule& a, const Rule& b) { return a.mdc < b.mdc; });
  out->assign(BinarySize(t), '\0');
  std::array<int, kMdcSlots> first{};
  for (std::size_t i = rules.size(); i-- > 0;) {
    first[static_cast<std::size_t>(rules[i].mdc - 1)] = static_cast<int>(i) + 1;
  }
  for (std::size_t m = 0; m < kMdcSlots; ++m) {
    unsigned char* rec = At(out, 3 * m);
    StoreBigEndian16(rec, count[m] != 0 ? first[m] : startValue[m]);
    rec[2] = static_cast<unsigned char>(count[m]);
  }
  for (std::size_t i = 0; i < rules.size(); ++i) {
    std::memcpy(At(out, kRuleIndexBytes + kRuleBytes * i), rules[i].bytes.data(), kRuleBytes);
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// CCTAB, CCTAB0, CCTAB1: key rows and the list area.

// An exclusion list: "-" or comma-separated items "V" and "V+L".
Status ParseList(const FieldReader& r, std::size_t i, std::vector<uint8_t>* bytes, int* items) {
  const Token& t = r.At(i);
  bytes->clear();
  *items = 0;
  if (!t.quoted && t.text == "-") return Status::Ok();
  std::string_view rest = t.text;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t plus = item.find('+');
    SourceLine parts;
    parts.number = r.Line();
    parts.tokens.push_back(Token{std::string(item.substr(0, plus)), t.quoted});
    if (plus != std::string_view::npos) {
      parts.tokens.push_back(Token{std::string(item.substr(plus + 1)), t.quoted});
    }
    const std::string none;
    const FieldReader p(none, parts);
    long long value = 0;
    long long length = 0;
    if (!p.Number(0, "", 0, 32767, &value).ok() ||
        (parts.tokens.size() == 2 && !p.Number(1, "", 0, 255, &length).ok())) {
      return r.Fail(fmt::format("list item \"{}\" is not V (0..32767) or V+L (L 0..255)", item));
    }
    if (parts.tokens.size() == 2) {
      bytes->push_back(static_cast<uint8_t>(0x80 | (value >> 8)));
      bytes->push_back(static_cast<uint8_t>(value & 0xFF));
      bytes->push_back(static_cast<uint8_t>(length));
    } else {
      bytes->push_back(static_cast<uint8_t>(value >> 8));
      bytes->push_back(static_cast<uint8_t>(value & 0xFF));
    }
    if (++*items > 255) return r.Fail("a list holds at most 255 items");
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return Status::Ok();
}

Status BuildCc(const TableInfo& t, const std::string& file, const Lines& lines,
               std::string* out) {
  const bool ranged = t.kind == TableKind::kCcRange;
  const int rowLimit = ranged ? kCcRangeRows : kCcEntryRows[t.index];
  const int areaSize = ranged ? kCcRangeListBytes : kCcEntryListBytes[t.index];
  struct Row {
    int key;
    int span;
    int offset;
    int items;
  };
  std::vector<Row> rows;
  std::vector<uint8_t> area(static_cast<std::size_t>(areaSize), 0);
  std::vector<bool> used(static_cast<std::size_t>(areaSize), false);
  int cursor = 0;
  std::vector<uint8_t> list;
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    if (!IsWord(line, "row")) return UnknownRecord(r, "row");
    const std::size_t fields = ranged ? 4 : 3;
    const bool placed = r.Size() == fields + 1 && !r.At(fields).quoted &&
                        !r.At(fields).text.empty() && r.At(fields).text[0] == '@';
    if (r.Size() != fields && !placed) {
      return r.Fail(ranged ? "expected row FIRST SPAN LIST [@OFFSET]"
                           : "expected row KEY LIST [@OFFSET]");
    }
    if (static_cast<int>(rows.size()) == rowLimit) {
      return r.Fail(fmt::format("more than {} rows", rowLimit));
    }
    Row row{};
    long long v = 0;
    TALLOW_TRY(r.Number(1, ranged ? "FIRST" : "KEY", -32768, 32767, &v));
    row.key = static_cast<int>(v);
    if (ranged) {
      TALLOW_TRY(r.Number(2, "SPAN", 0, 255, &v));
      row.span = static_cast<int>(v);
    }
    TALLOW_TRY(ParseList(r, fields - 1, &list, &row.items));
    row.offset = cursor;
    if (placed) {
      SourceLine at;
      at.number = line.number;
      at.tokens.push_back(Token{r.At(fields).text.substr(1), false});
      const FieldReader a(file, at);
      TALLOW_TRY(a.Number(0, "@OFFSET", 0, areaSize, &v));
      row.offset = static_cast<int>(v);
    }
    const auto size = static_cast<int>(list.size());
    if (row.offset + size > areaSize) {
      return r.Fail(fmt::format("the list does not fit the {}-byte list area", areaSize));
    }
    for (int k = 0; k < size; ++k) {
      const auto p = static_cast<std::size_t>(row.offset + k);
      if (used[p] && area[p] != list[static_cast<std::size_t>(k)]) {
        return r.Fail(fmt::format("the list at offset {} overlaps a different list", row.offset));
      }
      used[p] = true;
      area[p] = list[static_cast<std::size_t>(k)];
    }
    cursor = std::max(cursor, row.offset + size);
    rows.push_back(row);
  }
  while (static_cast<int>(rows.size()) < rowLimit) rows.push_back(Row{kPaddingCcKey, 0, 0, 0});

  out->assign(BinarySize(t), '\0');
  const auto n = static_cast<std::size_t>(rowLimit);
  for (std::size_t i = 0; i < n; ++i) {
    const Row& row = rows[i];
    if (ranged) {
      unsigned char* rec = At(out, kCcRangeRowBytes * i);
      StoreBigEndian16(rec, row.key);
      rec[2] = static_cast<unsigned char>(row.span);
      StoreBigEndian16(rec + 3, row.offset);
      rec[5] = static_cast<unsigned char>(row.items);
    } else {
      StoreLittleEndian16(At(out, 2 * i), row.key);
      *At(out, 2 * n + i) = static_cast<unsigned char>(row.items);
      StoreLittleEndian16(At(out, 3 * n + 2 * i), row.offset);
    }
  }
  const std::size_t areaOffset = ranged ? kCcRangeRowBytes * n : kCcEntryRowBytes * n;
  std::memcpy(At(out, areaOffset), area.data(), area.size());
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Text tables: RDRGCC, RDRGDRG, RDRGCL, RDRGNEO.

struct TextFile {
  std::vector<std::string> lines;
  bool crlf = false;
  bool unterminated = false;
  int unterminatedLine = 0;
};

// The records every text table knows: "lineend crlf|lf", "lastline
// unterminated" and "raw TEXT". Sets *handled when the record was one.
Status TextRecord(const FieldReader& r, const SourceLine& line, TableKind kind, TextFile* text,
                  bool allowRaw, bool* handled) {
  *handled = true;
  if (IsWord(line, "lineend")) {
    TALLOW_TRY(r.Arity(2, 2, "lineend crlf|lf"));
    if (r.At(1).text == "crlf") {
      text->crlf = true;
    } else if (r.At(1).text == "lf") {
      text->crlf = false;
    } else {
      return r.Fail("expected lineend crlf|lf");
    }
  } else if (IsWord(line, "lastline")) {
    if (r.Size() != 2 || r.At(1).text != "unterminated") {
      return r.Fail("expected lastline unterminated");
    }
    text->unterminated = true;
    text->unterminatedLine = r.Line();
  } else if (allowRaw && IsWord(line, "raw")) {
    TALLOW_TRY(r.Arity(2, 2, "raw \"TEXT\""));
    const std::string& t = r.At(1).text;
    std::size_t length = t.size();
    if (length > 0 && t.back() == '\r') --length;  // a CR before the line feed is no data
    if (length > static_cast<std::size_t>(MaxLineLength(kind))) {
      return r.Fail(fmt::format("a line holds at most {} characters", MaxLineLength(kind)));
    }
    text->lines.push_back(t);
  } else {
    *handled = false;
  }
  return Status::Ok();
}

std::string JoinLines(const TextFile& text) {
  std::string out;
  const char* end = text.crlf ? "\r\n" : "\n";
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    out += text.lines[i];
    if (!text.unterminated || i + 1 < text.lines.size()) out += end;
  }
  return out;
}

Status BuildText(const TableInfo& t, const std::string& file, const Lines& lines,
                 std::string* out) {
  TextFile text;
  std::array<int, kLevelRows> levelLine{};
  if (t.kind == TableKind::kLevelMatrix) {
    text.lines.assign(kLevelRows, std::string(kLevelColumns, '0'));
  }
  const int limit = FixedLines(t);
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    bool handled = false;
    const std::size_t before = text.lines.size();
    TALLOW_TRY(TextRecord(r, line, t.kind, &text, t.kind != TableKind::kLevelMatrix, &handled));
    if (!handled) {
      long long v = 0;
      switch (t.kind) {
        case TableKind::kRefinedCc: {
          TALLOW_TRY(r.Arity(5, 5, "CODE SEX STATUS DRG ROW"));
          char code[5];
          char sex = 0;
          char status = 0;
          TALLOW_TRY(r.Code(0, "code", code));
          TALLOW_TRY(r.Char(1, "SEX", &sex));
          TALLOW_TRY(r.Char(2, "STATUS", &status));
          if (sex < '0' || sex > '9') return r.Fail("SEX is one digit");
          if (status < '0' || status > '9') return r.Fail("STATUS is one digit");
          long long drg = 0;
          TALLOW_TRY(r.Number(3, "DRG", 0, 9999, &drg));
          TALLOW_TRY(r.Number(4, "ROW", 1, kLevelRows, &v));
          text.lines.push_back(RefinedCcLine(std::string_view(code, 5), sex, status,
                                             static_cast<int>(drg), static_cast<int>(v)));
          break;
        }
        case TableKind::kRefinedDrg: {
          TALLOW_TRY(r.Arity(5, 5, "DRG REFINED AGE COLUMN TYPE"));
          long long drg = 0;
          long long refined = 0;
          char age = 0;
          char type = 0;
          TALLOW_TRY(r.Number(0, "DRG", 1, kRefinedDrgSlots, &drg));
          TALLOW_TRY(r.Number(1, "REFINED", 0, 9999, &refined));
          TALLOW_TRY(r.Char(2, "AGE", &age));
          TALLOW_TRY(r.Number(3, "COLUMN", 0, kLevelColumns, &v));
          TALLOW_TRY(r.Char(4, "TYPE", &type));
          if (age == ' ') return r.Fail("AGE is 0 or the mark character");
          text.lines.push_back(RefinedDrgLine(static_cast<int>(drg), static_cast<int>(refined),
                                              age == '0' ? ' ' : age, static_cast<int>(v),
                                              type == '-' ? ' ' : type));
          break;
        }
        case TableKind::kLevelMatrix: {
          if (!IsWord(line, "row")) return UnknownRecord(r, "row, lineend or lastline");
          TALLOW_TRY(r.Arity(3, 3, "row R LEVELS"));
          TALLOW_TRY(r.Number(1, "R", 1, kLevelRows, &v));
          const auto row = static_cast<std::size_t>(v - 1);
          if (levelLine[row] != 0) {
            return r.Fail(fmt::format("row {} written twice (first on line {})", v, levelLine[row]));
          }
          levelLine[row] = r.Line();
          const std::string& levels = r.At(2).text;
          if (levels.size() > kLevelColumns) {
            return r.Fail(fmt::format("{} level characters, at most {}", levels.size(),
                                      kLevelColumns));
          }
          text.lines[row] = levels;
          break;
        }
        case TableKind::kNeonate: {
          TALLOW_TRY(r.Arity(2, 2, "CODE MARK"));
          DecodedCode decoded;
          TALLOW_TRY(r.IndexedCode(0, true, &decoded));
          char mark = 0;
          TALLOW_TRY(r.Char(1, "MARK", &mark));
          text.lines.push_back(CodeText(decoded.category, decoded.tail) + mark);
          break;
        }
        default:
          break;
      }
    }
    if (limit >= 0 && t.kind != TableKind::kLevelMatrix && text.lines.size() > before &&
        static_cast<int>(text.lines.size()) > limit) {
      return r.Fail(fmt::format("more than {} lines", limit));
    }
  }
  if (t.kind == TableKind::kRefinedCc) {
    while (static_cast<int>(text.lines.size()) < limit) text.lines.emplace_back(kPaddingRefinedCcLine);
  } else if (t.kind == TableKind::kRefinedDrg) {
    if (text.lines.empty()) text.lines.emplace_back(kDefaultRefinedDrgLine);
    while (static_cast<int>(text.lines.size()) < limit) text.lines.push_back(text.lines.back());
  }
  if (text.unterminated && text.lines.empty()) {
    return LineError(file, text.unterminatedLine, "lastline unterminated in a file without lines");
  }
  *out = JoinLines(text);
  return Status::Ok();
}

}  // namespace
}  // namespace toolkit

Result<std::string> BuildTableFile(const std::string& name, std::string_view source) {
  using namespace toolkit;
  const std::optional<TableInfo> table = FindTable(name);
  if (!table || name.find_first_of("/\\") != std::string::npos) {
    return Status::Error(fmt::format("{}: not the name of a table", name));
  }
  const std::string file = table->name + ".txt";
  Result<std::vector<SourceLine>> lines = SplitSource(file, source);
  if (!lines.ok()) return lines.status();
  std::string out;
  Status status;
  switch (table->kind) {
    case TableKind::kDiagnosis:
    case TableKind::kProcedure:
      status = BuildIndexed(*table, file, *lines, &out);
      break;
    case TableKind::kDatedProcedure:
      status = BuildDated(*table, file, *lines, &out);
      break;
    case TableKind::kDrgRules:
      status = BuildRules(*table, file, *lines, &out);
      break;
    case TableKind::kCcRange:
    case TableKind::kCcEntry:
      status = BuildCc(*table, file, *lines, &out);
      break;
    default:
      status = BuildText(*table, file, *lines, &out);
      break;
  }
  if (!status.ok()) return status;
  return out;
}

Result<TableImages> BuildTableImages(const std::map<std::string, std::string>& sources) {
  TableImages images;
  std::map<std::string, std::string_view> byTable;
  for (const auto& [name, source] : sources) {
    if (name == kCodeMapJan2001File || name == kCodeMap2001File) {
      images[name] = source;
      continue;
    }
    const std::optional<toolkit::TableInfo> table = toolkit::FindTable(name);
    if (!table || name.find_first_of("/\\") != std::string::npos) {
      return Status::Error(fmt::format("{}: not the name of a table", name));
    }
    if (byTable.count(table->name) != 0) {
      return Status::Error(fmt::format("{}: source given twice", table->name));
    }
    byTable[table->name] = source;
  }
  for (const char* name : kTableFiles) {
    const auto it = byTable.find(name);
    Result<std::string> bytes =
        BuildTableFile(name, it == byTable.end() ? std::string_view() : it->second);
    if (!bytes.ok()) return bytes.status();
    images[name] = std::move(*bytes);
  }
  return images;
}

}  // namespace tallow
