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

// The code of an entry: a code ("O800"), or its category and the tail byte
// in hex ("O80/AB") for a tail that no code spells.
Status EntryCode(const FieldReader& r, std::size_t i, bool strictTail, DecodedCode* out) {
  const Token& t = r.At(i);
  const std::size_t slash = t.text.find('/');
  if (t.quoted || slash == std::string::npos) return r.IndexedCode(i, strictTail, out);
  DecodedCode category;
  const std::string head(t.text.substr(0, slash));
  const std::string_view tail = t.text.substr(slash + 1);
  uint8_t byte = 0;
  if (head.size() != 3 || !DecodeCode((head + "  ").c_str(), false, &category) ||
      !ParseHexByte(tail, &byte) || tail.size() != 2) {
    return r.Fail(fmt::format("\"{}\" is not CATEGORY/TAIL (a category and two hex digits)", t.text));
  }
  out->category = category.category;
  out->tail = byte;
  return Status::Ok();
}

Status BuildIndexed(const TableInfo& t, const std::string& file, const Lines& lines,
                    std::string* out) {
  const bool diagnosis = t.kind == TableKind::kDiagnosis;
  const SectionLayout& index = t.format().sections[0];
  const SectionLayout& entrySection = t.format().sections[1];
  const SectionLayout& classSection = t.format().sections[2];
  const int entryLimit = entrySection.records;
  const int classLimit = classSection.records;
  const int classBytes = classSection.recordBytes;
  const int entryBytes = entrySection.recordBytes;
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
  std::vector<int> entryLine;
  // An entry position that belongs to no category, with its bytes as stored.
  struct Spare {
    int position;
    int line;
    std::vector<uint8_t> bytes;
  };
  std::vector<Spare> spares;

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
        static constexpr const char* kWords[3] = {"MDC", "DRGKEY", "CCFLAG"};
        static constexpr FieldLayout kFields[3] = {DiagnosisClassRecord::kMdc, DiagnosisClassRecord::kDrgKey,
                                                   DiagnosisClassRecord::kCcFlag};
        for (int f = 0; f < 3; ++f) {
          TALLOW_TRY(r.Number(static_cast<std::size_t>(2 + f), kWords[f], 0, 255, &v));
          StoreField(rec, kFields[f], static_cast<int>(v));
        }
        constexpr FieldLayout mask = DiagnosisClassRecord::kDxMask;
        TALLOW_TRY(r.DenseHex(5, "MASK", rec + mask.offset, mask.width));
      } else {
        TALLOW_TRY(r.SparseBytes(2, "BYTES", 0, kProcedureClassBytes, rec));
      }
    } else if (IsWord(line, "entry")) {
      TALLOW_TRY(diagnosis ? r.Arity(3, 4, "entry CODE CLASS [CCROW]")
                           : r.Arity(3, 3, "entry CODE CLASS"));
      DecodedCode code;
      TALLOW_TRY(EntryCode(r, 1, diagnosis, &code));
      Entry e{code.category, code.tail, 0, 0};
      TALLOW_TRY(r.Number(2, "class", 1, classLimit, &v));
      e.cls = static_cast<int>(v);
      if (r.Size() == 4) {
        TALLOW_TRY(r.Number(3, "CCROW", -32768, 32767, &v));
        e.ccRow = static_cast<int>(v);
      }
      if (++categoryCount[static_cast<std::size_t>(e.category)] > countLimit) {
        return r.Fail(fmt::format("category {} has more than {} entries",
                                  CategoryText(e.category), countLimit));
      }
      entries.push_back(e);
      entryLine.push_back(r.Line());
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
    } else if (IsWord(line, "spare")) {
      TALLOW_TRY(r.Arity(3, 3, "spare POSITION BYTES"));
      TALLOW_TRY(r.Number(1, "POSITION", 0, entryLimit - 1, &v));
      Spare spare{static_cast<int>(v), r.Line(), {}};
      spare.bytes.resize(static_cast<std::size_t>(entryBytes));
      TALLOW_TRY(r.DenseHex(2, "BYTES", spare.bytes.data(), entryBytes));
      spares.push_back(std::move(spare));
    } else {
      return UnknownRecord(r, "class, entry, start or spare");
    }
  }
  // Without placed categories the entries follow each other from position 0,
  // so the count alone decides whether they fit.
  bool placed = false;
  for (std::size_t c = 0; c < kCategorySlots; ++c) placed = placed || (startLine[c] != 0 && categoryCount[c] != 0);
  if (!placed && static_cast<int>(entries.size()) > entryLimit) {
    return LineError(file, entryLine[static_cast<std::size_t>(entryLimit)],
                     fmt::format("more than {} entries", entryLimit));
  }

  std::vector<int> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&entries](int a, int b) {
    return entries[static_cast<std::size_t>(a)].category < entries[static_cast<std::size_t>(b)].category;
  });

  // Categories in ascending order, each at its start when one is written,
  // else where the previous category ends; a position that two categories
  // share must hold the same bytes for both.
  out->assign(BinarySize(t), '\0');
  std::vector<int> writtenBy(static_cast<std::size_t>(entryLimit), 0);  // source line
  std::size_t next = 0;  // into order
  int cursor = 0;
  for (std::size_t c = 0; c < kCategorySlots; ++c) {
    unsigned char* rec = At(out, index.RecordOffset(static_cast<int>(c)));
    const int count = categoryCount[c];
    StoreField(rec, CategoryRecord::kCount, count);
    if (count == 0) {
      StoreField(rec, CategoryRecord::kStart, startValue[c]);
      continue;
    }
    const int first = startLine[c] != 0 ? startValue[c] : cursor;
    if (first < 0 || first + count > entryLimit) {
      return LineError(file, startLine[c] != 0 ? startLine[c] : entryLine[static_cast<std::size_t>(order[next])],
                       fmt::format("the {} entries of category {} from position {} run outside "
                                   "the {} entries",
                                   count, CategoryText(static_cast<int>(c)), first, entryLimit));
    }
    StoreField(rec, CategoryRecord::kStart, first);
    for (int k = 0; k < count; ++k, ++next) {
      const auto i = static_cast<std::size_t>(order[next]);
      const auto position = static_cast<std::size_t>(first + k);
      // The tail and class fields stand alike in both entry layouts.
      uint8_t bytes[DiagnosisEntryRecord::kBytes] = {};
      StoreField(bytes, DiagnosisEntryRecord::kTail, entries[i].tail);
      StoreField(bytes, DiagnosisEntryRecord::kClass, entries[i].cls);
      if (diagnosis) StoreField(bytes, DiagnosisEntryRecord::kCcRow, entries[i].ccRow);
      unsigned char* slot = At(out, entrySection.RecordOffset(static_cast<int>(position)));
      if (writtenBy[position] != 0 && std::memcmp(slot, bytes, static_cast<std::size_t>(entryBytes)) != 0) {
        return LineError(file, entryLine[i],
                         fmt::format("entry position {} already holds another entry (line {})",
                                     position, writtenBy[position]));
      }
      std::memcpy(slot, bytes, static_cast<std::size_t>(entryBytes));
      writtenBy[position] = entryLine[i];
    }
    cursor = first + count;
  }
  for (const Spare& spare : spares) {
    const auto position = static_cast<std::size_t>(spare.position);
    if (writtenBy[position] != 0) {
      return LineError(file, spare.line,
                       fmt::format("spare position {} belongs to a category (line {})", position,
                                   writtenBy[position]));
    }
    writtenBy[position] = spare.line;
    std::memcpy(At(out, entrySection.RecordOffset(static_cast<int>(position))), spare.bytes.data(),
                spare.bytes.size());
  }
  std::memcpy(At(out, classSection.offset), classes.data(), classes.size());
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// SGTAB0: codes, valid-from dates, valid-to dates, class records.

Status BuildDated(const TableInfo& t, const std::string& file, const Lines& lines,
                  std::string* out) {
  out->assign(BinarySize(t), '\0');
  const SectionLayout& codes = t.format().sections[0];
  const SectionLayout& fromSection = t.format().sections[1];
  const SectionLayout& toSection = t.format().sections[2];
  const SectionLayout& classSection = t.format().sections[3];
  int row = 0;
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
    std::memcpy(At(out, codes.RecordOffset(row)), code, DatedCodeRecord::kBytes);
    StoreField(At(out, fromSection.RecordOffset(row)), DatedDateRecord::kDate, static_cast<int32_t>(from));
    StoreField(At(out, toSection.RecordOffset(row)), DatedDateRecord::kDate, static_cast<int32_t>(to));
    std::memcpy(At(out, classSection.RecordOffset(row)), bytes, kProcedureClassBytes);
    ++row;
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// DGTAB, DGTAB0: MDC index, rules grouped by MDC.

Status ParseDrg(const FieldReader& r, std::size_t i, int* number, int* digit) {
  const std::string_view text = r.At(i).text;
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) {
    long long v = 0;
    TALLOW_TRY(r.Number(i, "DRG", 0, 655359, &v));
    *number = static_cast<int>(v / 10);
    *digit = static_cast<int>(v % 10);
    return Status::Ok();
  }
  // NUMBER/DIGIT: parse both halves through a token of their own.
  const Token halves[] = {Token{text.substr(0, slash), false}, Token{text.substr(slash + 1), false}};
  const SourceLine half{r.Line(), halves};
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
  const int ruleLimit = kDrgRuleCounts[t.index];
  struct Rule {
    int mdc;
    int line;
    std::array<uint8_t, kRuleBytes> bytes;
  };
  std::vector<Rule> rules;
  std::vector<Rule> spares;  // mdc holds the 1-based rule number
  std::array<int, kMdcSlots> count{};
  std::array<int, kMdcSlots> startLine{};
  std::array<int, kMdcSlots> startValue{};
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    long long v = 0;
    if (IsWord(line, "rule")) {
      TALLOW_TRY(r.Arity(5, 5, "rule MDC DRG KEY REQUIRE"));
      Rule rule{};
      rule.line = r.Line();
      TALLOW_TRY(r.Number(1, "MDC", 1, kMdcSlots, &v));
      rule.mdc = static_cast<int>(v);
      int number = 0;
      int digit = 0;
      TALLOW_TRY(ParseDrg(r, 2, &number, &digit));
      TALLOW_TRY(r.Number(3, "KEY", 0, 255, &v));
      StoreField(rule.bytes.data(), DrgRuleRecord::kDrgKey, static_cast<int>(v));
      constexpr FieldLayout require = DrgRuleRecord::kRequire;
      TALLOW_TRY(r.SparseBytes(4, "REQUIRE", require.offset, require.width,
                               rule.bytes.data() + require.offset));
      StoreField(rule.bytes.data(), DrgRuleRecord::kDrgDigit, digit);
      StoreField(rule.bytes.data(), DrgRuleRecord::kDrgNumber, number);
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
    } else if (IsWord(line, "spare")) {
      TALLOW_TRY(r.Arity(3, 3, "spare K BYTES"));
      Rule spare{};
      spare.line = r.Line();
      TALLOW_TRY(r.Number(1, "K", 1, ruleLimit, &v));
      spare.mdc = static_cast<int>(v);
      TALLOW_TRY(r.DenseHex(2, "BYTES", spare.bytes.data(), kRuleBytes));
      spares.push_back(spare);
    } else {
      return UnknownRecord(r, "rule, start or spare");
    }
  }
  bool placed = false;
  for (std::size_t m = 0; m < kMdcSlots; ++m) placed = placed || (startLine[m] != 0 && count[m] != 0);
  if (!placed && static_cast<int>(rules.size()) > ruleLimit) {
    return LineError(file, rules[static_cast<std::size_t>(ruleLimit)].line,
                     fmt::format("more than {} rules", ruleLimit));
  }
  std::stable_sort(rules.begin(), rules.end(),
                   [](const Rule& a, const Rule& b) { return a.mdc < b.mdc; });

  // MDCs in ascending order, each at its start when one is written, else
  // after the rules of the previous MDC; a rule two MDCs share must be the
  // same rule for both.
  out->assign(BinarySize(t), '\0');
  const SectionLayout& index = t.format().sections[0];
  const SectionLayout& ruleSection = t.format().sections[1];
  std::vector<int> writtenBy(static_cast<std::size_t>(ruleLimit) + 1, 0);  // by rule number
  std::size_t next = 0;
  int cursor = 1;
  for (std::size_t m = 0; m < kMdcSlots; ++m) {
    unsigned char* rec = At(out, index.RecordOffset(static_cast<int>(m)));
    StoreField(rec, MdcIndexRecord::kCount, count[m]);
    if (count[m] == 0) {
      StoreField(rec, MdcIndexRecord::kStart, startValue[m]);
      continue;
    }
    const int first = startLine[m] != 0 ? startValue[m] : cursor;
    if (first < 1 || first + count[m] - 1 > ruleLimit) {
      return LineError(file, startLine[m] != 0 ? startLine[m] : rules[next].line,
                       fmt::format("the {} rules of MDC {} from rule {} run outside the {} rules",
                                   count[m], m + 1, first, ruleLimit));
    }
    StoreField(rec, MdcIndexRecord::kStart, first);
    for (int k = 0; k < count[m]; ++k, ++next) {
      const Rule& rule = rules[next];
      const auto number = static_cast<std::size_t>(first + k);
      unsigned char* slot = At(out, ruleSection.RecordOffset(first + k - 1));
      if (writtenBy[number] != 0 && std::memcmp(slot, rule.bytes.data(), kRuleBytes) != 0) {
        return LineError(file, rule.line,
                         fmt::format("rule {} already holds another rule (line {})", number,
                                     writtenBy[number]));
      }
      std::memcpy(slot, rule.bytes.data(), kRuleBytes);
      writtenBy[number] = rule.line;
    }
    cursor = first + count[m];
  }
  for (const Rule& spare : spares) {
    const auto number = static_cast<std::size_t>(spare.mdc);
    if (writtenBy[number] != 0) {
      return LineError(file, spare.line,
                       fmt::format("spare rule {} belongs to an MDC (line {})", number,
                                   writtenBy[number]));
    }
    writtenBy[number] = spare.line;
    std::memcpy(At(out, ruleSection.RecordOffset(spare.mdc - 1)), spare.bytes.data(), kRuleBytes);
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
    const bool range = plus != std::string_view::npos;
    // A number as FieldReader::Number reads one: bare, decimal, in range.
    const auto number = [&](std::string_view text, long long max, long long* v) {
      return !t.quoted && ParseInteger(text, v) && *v >= 0 && *v <= max;
    };
    long long value = 0;
    long long length = 0;
    if (!number(item.substr(0, plus), kExclusionValueMax, &value) ||
        (range && !number(item.substr(plus + 1), 255, &length))) {
      return r.Fail(fmt::format("list item \"{}\" is not V (0..32767) or V+L (L 0..255)", item));
    }
    uint8_t coded[3];
    const int n = EncodeExclusionItem(ExclusionItem{static_cast<int>(value), static_cast<int>(length), range}, coded);
    bytes->insert(bytes->end(), coded, coded + n);
    if (++*items > 255) return r.Fail("a list holds at most 255 items");
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return Status::Ok();
}

Status BuildCc(const TableInfo& t, const std::string& file, const Lines& lines,
               std::string* out) {
  const bool ranged = t.kind == TableKind::kCcRange;
  const FileFormat& f = t.format();
  const SectionLayout& areaSection = f.sections[static_cast<std::size_t>(f.sectionCount - 1)];
  const int rowLimit = f.sections[0].records;
  const int areaSize = static_cast<int>(areaSection.bytes());
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
  struct Spare {
    int offset;
    int line;
    std::vector<uint8_t> bytes;
  };
  std::vector<Spare> spares;
  for (const SourceLine& line : lines) {
    const FieldReader r(file, line);
    if (IsWord(line, "spare")) {
      TALLOW_TRY(r.Arity(3, 3, "spare OFFSET BYTES"));
      long long offset = 0;
      TALLOW_TRY(r.Number(1, "OFFSET", 0, areaSize - 1, &offset));
      const std::string_view hex = r.At(2).text;
      Spare spare{static_cast<int>(offset), r.Line(), std::vector<uint8_t>(hex.size() / 2)};
      if (hex.empty() || hex.size() % 2 != 0 ||
          !r.DenseHex(2, "BYTES", spare.bytes.data(), static_cast<int>(spare.bytes.size())).ok()) {
        return r.Fail(fmt::format("BYTES \"{}\" is not pairs of hex digits", hex));
      }
      if (spare.offset + static_cast<int>(spare.bytes.size()) > areaSize) {
        return r.Fail(fmt::format("the spare bytes do not fit the {}-byte list area", areaSize));
      }
      spares.push_back(std::move(spare));
      continue;
    }
    if (!IsWord(line, "row")) return UnknownRecord(r, "row or spare");
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
      const Token offset[] = {Token{r.At(fields).text.substr(1), false}};
      const SourceLine at{line.number, offset};
      const FieldReader a(file, at);
      // An empty list is never read, so its offset may be any stored value.
      if (row.items == 0) {
        TALLOW_TRY(a.Number(0, "@OFFSET", -32768, 32767, &v));
      } else {
        TALLOW_TRY(a.Number(0, "@OFFSET", 0, areaSize, &v));
      }
      row.offset = static_cast<int>(v);
    }
    const auto size = static_cast<int>(list.size());
    if (size > 0 && row.offset + size > areaSize) {
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
    if (row.offset >= 0 && row.offset <= areaSize) cursor = std::max(cursor, row.offset + size);
    rows.push_back(row);
  }
  for (const Spare& spare : spares) {
    for (std::size_t k = 0; k < spare.bytes.size(); ++k) {
      const auto p = static_cast<std::size_t>(spare.offset) + k;
      if (used[p]) {
        return LineError(file, spare.line,
                         fmt::format("spare byte {} lies in a list", p));
      }
      used[p] = true;
      area[p] = spare.bytes[k];
    }
  }
  while (static_cast<int>(rows.size()) < rowLimit) rows.push_back(Row{kPaddingCcKey, 0, 0, 0});

  out->assign(BinarySize(t), '\0');
  for (int i = 0; i < rowLimit; ++i) {
    const Row& row = rows[static_cast<std::size_t>(i)];
    if (ranged) {
      unsigned char* rec = At(out, f.sections[0].RecordOffset(i));
      StoreField(rec, CcRangeRecord::kKeyFirst, row.key);
      StoreField(rec, CcRangeRecord::kSpan, row.span);
      StoreField(rec, CcRangeRecord::kListOffset, row.offset);
      StoreField(rec, CcRangeRecord::kListLength, row.items);
    } else {
      StoreField(At(out, f.sections[0].RecordOffset(i)), CcKeyRecord::kKeyEntry, row.key);
      StoreField(At(out, f.sections[1].RecordOffset(i)), CcLengthRecord::kListLength, row.items);
      StoreField(At(out, f.sections[2].RecordOffset(i)), CcOffsetRecord::kListOffset, row.offset);
    }
  }
  std::memcpy(At(out, areaSection.offset), area.data(), area.size());
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Text tables: RDRGCC, RDRGDRG, RDRGCL, RDRGNEO.

struct TextFile {
  std::vector<std::string> lines;
  std::string padLine;               ///< follows the lines padCount times
  std::size_t padCount = 0;
  std::vector<std::string> surplus;  ///< lines past those the loader reads
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
    // Written as it stands, also when it is longer than the loader reads as
    // one line (the loader then takes the rest as the next line).
    TALLOW_TRY(r.Arity(2, 2, "raw \"TEXT\""));
    if (!text->surplus.empty()) return r.Fail("a line after the surplus lines");
    text->lines.emplace_back(r.At(1).text);
  } else if (IsWord(line, "surplus")) {
    TALLOW_TRY(r.Arity(2, 2, "surplus \"TEXT\""));
    if (FixedLines(TableInfo{"", kind, 0}) < 0) return r.Fail("this table has no surplus lines");
    text->surplus.emplace_back(r.At(1).text);
  } else {
    *handled = false;
  }
  return Status::Ok();
}

std::string JoinLines(const TextFile& text) {
  const std::string_view end = text.crlf ? "\r\n" : "\n";
  const std::size_t lines = text.lines.size() + text.padCount;
  const std::size_t count = lines + text.surplus.size();
  std::size_t bytes = count * end.size() + text.padCount * text.padLine.size();
  for (const std::string& line : text.lines) bytes += line.size();
  for (const std::string& line : text.surplus) bytes += line.size();
  std::string out;
  out.reserve(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    out += i < text.lines.size() ? text.lines[i] : i < lines ? text.padLine : text.surplus[i - lines];
    if (!text.unterminated || i + 1 < count) out += end;
  }
  return out;
}

Status BuildText(const TableInfo& t, const std::string& file, const Lines& lines,
                 std::string* out) {
  TextFile text;
  std::array<int, kLevelRows> levelLine{};
  int levelLines = -1;  // "lines N"; -1: one line a row
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
          if (IsWord(line, "lines")) {
            // Fewer lines than rows: long rows that the loader reads in pieces.
            TALLOW_TRY(r.Arity(2, 2, "lines N"));
            TALLOW_TRY(r.Number(1, "N", 0, kLevelRows, &v));
            levelLines = static_cast<int>(v);
            break;
          }
          if (!IsWord(line, "row")) return UnknownRecord(r, "row, lines, lineend or lastline");
          TALLOW_TRY(r.Arity(3, 3, "row R LEVELS"));
          TALLOW_TRY(r.Number(1, "R", 1, kLevelRows, &v));
          const auto row = static_cast<std::size_t>(v - 1);
          if (levelLine[row] != 0) {
            return r.Fail(fmt::format("row {} written twice (first on line {})", v, levelLine[row]));
          }
          levelLine[row] = r.Line();
          // A row longer than the columns is written as it stands; the
          // loader reads the rest as the next line.
          text.lines[row] = r.At(2).text;
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
    if (text.lines.size() > before && !text.surplus.empty()) {
      return r.Fail("a line after the surplus lines");
    }
    if (limit >= 0 && t.kind != TableKind::kLevelMatrix && text.lines.size() > before &&
        static_cast<int>(text.lines.size()) > limit) {
      return r.Fail(fmt::format("more than {} lines", limit));
    }
  }
  // Padding up to the lines the loader reads, counted as it counts them (a
  // raw line longer than its limit counts once for every piece).
  if (t.kind == TableKind::kRefinedCc) {
    text.padLine = kPaddingRefinedCcLine;
    for (int n = LoaderLines(text.lines, text.crlf, t.kind); n < limit; ++n) ++text.padCount;
  } else if (t.kind == TableKind::kRefinedDrg) {
    if (text.lines.empty()) text.lines.emplace_back(kDefaultRefinedDrgLine);
    text.padLine = text.lines.back();
    const int each = LoaderLines({text.padLine}, text.crlf, t.kind);
    for (int n = LoaderLines(text.lines, text.crlf, t.kind); n < limit; n += each) ++text.padCount;
  } else if (t.kind == TableKind::kLevelMatrix && levelLines >= 0) {
    for (int row = levelLines; row < kLevelRows; ++row) {
      if (levelLine[static_cast<std::size_t>(row)] != 0) {
        return LineError(file, levelLine[static_cast<std::size_t>(row)],
                         fmt::format("row {} past the {} lines", row + 1, levelLines));
      }
    }
    text.lines.resize(static_cast<std::size_t>(levelLines));
  }
  if (text.unterminated && text.lines.empty() && text.padCount == 0) {
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
  Result<SourceRecords> split = SplitSource(file, source);
  if (!split.ok()) return split.status();
  Lines& lines = split->lines;
  // Binary tables: bytes past the fixed size, never read, in order.
  std::string surplus;
  if (!IsTextTable(table->kind)) {
    std::size_t kept = 0;
    for (const SourceLine& line : lines) {
      if (!IsWord(line, "surplus")) {
        lines[kept++] = line;
        continue;
      }
      const FieldReader r(file, line);
      TALLOW_TRY(r.Arity(2, 2, "surplus BYTES"));
      const std::string_view hex = r.At(1).text;
      std::vector<uint8_t> bytes(hex.size() / 2);
      if (hex.empty() || hex.size() % 2 != 0 ||
          !r.DenseHex(1, "BYTES", bytes.data(), static_cast<int>(bytes.size())).ok()) {
        return r.Fail(fmt::format("BYTES \"{}\" is not pairs of hex digits", hex));
      }
      surplus.append(bytes.begin(), bytes.end());
    }
    lines.resize(kept);
  }
  std::string out;
  Status status;
  switch (table->kind) {
    case TableKind::kDiagnosis:
    case TableKind::kProcedure:
      status = BuildIndexed(*table, file, lines, &out);
      break;
    case TableKind::kDatedProcedure:
      status = BuildDated(*table, file, lines, &out);
      break;
    case TableKind::kDrgRules:
      status = BuildRules(*table, file, lines, &out);
      break;
    case TableKind::kCcRange:
    case TableKind::kCcEntry:
      status = BuildCc(*table, file, lines, &out);
      break;
    default:
      status = BuildText(*table, file, lines, &out);
      break;
  }
  if (!status.ok()) return status;
  out += surplus;
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
