// Reading the twenty-two table files and the optional procedure conversion
// files into a TableSet.
//
// Each file is read into memory whole, checked for its fixed size or line
// count, decoded with the byte order of its format, and validated so that no
// search can index outside the arrays it fills. The first fault ends the load;
// files later in the order are not asked for.
#include "tables/loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "tables/bytes.h"
#include "tables/codes.h"
#include "tables/text_lines.h"

namespace tallow {

namespace {

// ---------------------------------------------------------------------------
// Messages

void AppendPart(std::string& out, const char* text) { out.append(text); }
void AppendPart(std::string& out, const std::string& text) { out.append(text); }
void AppendPart(std::string& out, long long number) { out.append(std::to_string(number)); }

// One load fault: the parts are joined as they stand, for example
// Fault("DXTAB8", ": ", 56913, " bytes, ", 56914, " needed").
template <typename... Parts>
Status Fault(const Parts&... parts) {
  std::string message;
  (AppendPart(message, parts), ...);
  return Status::Error(std::move(message));
}

// A field of a text line in quotes, as it stood ("00 ", "1x2").
std::string Quoted(std::string_view line, int first, int n) {
  std::string field(static_cast<std::size_t>(n), ' ');
  CopyColumns(line, first, n, field.data());
  return "\"" + field + "\"";
}

// "O80": the letter and two digits of a category index.
std::string CategoryText(int category) { return CodeText(category, 255).substr(0, 3); }

// The code of a category index and tail without its trailing blanks.
std::string EntryCodeText(int category, int tail) {
  std::string code = CodeText(category, tail);
  while (!code.empty() && code.back() == ' ') code.pop_back();
  return code;
}

// ---------------------------------------------------------------------------
// Files

Status ReadTableFile(const TableFileSource& source, const char* name, std::string* bytes) {
  Status readError;
  std::optional<std::string> content = source(name, &readError);
  if (!readError.ok()) return readError;
  if (!content) return Fault(name, ": file missing or unreadable");
  *bytes = std::move(*content);
  return Status::Ok();
}

Status CheckSize(const char* name, const std::string& bytes, std::size_t needed) {
  if (bytes.size() < needed) return Fault(name, ": ", bytes.size(), " bytes, ", needed, " needed");
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Category-indexed tables (DXTAB*, SGTAB8, SGTAB9)

// Reads the 2600 category records (count byte, start big-endian) and checks
// that every category with entries lies inside the `entries` entry records.
Status ReadCategoryIndex(const char* name, const unsigned char* p, int entries, int maxCount,
                         std::array<uint8_t, kCategorySlots>* counts,
                         std::array<int16_t, kCategorySlots>* starts) {
  for (int c = 0; c < kCategorySlots; ++c, p += CategoryRecord::kBytes) {
    const int count = LoadField(p, CategoryRecord::kCount);
    const int start = LoadField(p, CategoryRecord::kStart);
    (*counts)[static_cast<std::size_t>(c)] = static_cast<uint8_t>(count);
    (*starts)[static_cast<std::size_t>(c)] = static_cast<int16_t>(start);
    if (count > maxCount) {
      return Fault(name, " category ", c, " (", CategoryText(c), "): count ", count, " above ",
                   maxCount);
    }
    if (count == 0) continue;
    if (start < 0) {
      return Fault(name, " category ", c, " (", CategoryText(c), "): start ", start, " below 0");
    }
    if (start + count > entries) {
      return Fault(name, " category ", c, " (", CategoryText(c), "): start ", start, " + count ",
                   count, " runs past ", entries, " entries");
    }
  }
  return Status::Ok();
}

// Checks the class number of every entry that belongs to a category; entries
// of no category are never read.
Status CheckEntryClasses(const char* name, const std::array<uint8_t, kCategorySlots>& counts,
                         const std::array<int16_t, kCategorySlots>& starts,
                         const std::vector<uint8_t>& tails, const std::vector<int16_t>& classes,
                         int classCount) {
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = starts[static_cast<std::size_t>(c)];
    const int end = start + counts[static_cast<std::size_t>(c)];
    for (int e = start; e < end; ++e) {
      const int k = classes[static_cast<std::size_t>(e)];
      if (k < 1 || k > classCount) {
        return Fault(name, " entry ", e, " (", EntryCodeText(c, tails[static_cast<std::size_t>(e)]),
                     "): class ", k, " outside 1..", classCount);
      }
    }
  }
  return Status::Ok();
}

// The classes of a category-indexed table checked, then the code index of
// a procedure table made. (A diagnosis code is found by a walk over its
// category's tails: the four editions' tails take 42 KiB, where an index
// large enough for their codes would not stay in the cache.)
template <typename Table>
Status CheckedAndIndexed(const char* name, Table* table, int classCount) {
  if (Status s = CheckEntryClasses(name, table->categoryCount, table->categoryStart,
                                   table->entryTail, table->entryClass, classCount);
      !s.ok()) {
    return s;
  }
  if constexpr (std::is_same_v<Table, ProcedureTable>) MakeCodeIndex(*table);
  return Status::Ok();
}

// Sections as in the format: category index, entries, class records.
Status LoadDiagnosisTable(const FileFormat& format, const std::string& bytes,
                          DiagnosisTable* table) {
  const char* name = format.name;
  const SectionLayout& index = format.sections[0];
  const SectionLayout& entrySection = format.sections[1];
  const SectionLayout& classSection = format.sections[2];
  const int n = entrySection.records;
  const auto entries = static_cast<std::size_t>(n);
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  table->entryCount = n;
  if (Status s = ReadCategoryIndex(name, reader.Take(index.bytes()), n, 127, &table->categoryCount,
                                   &table->categoryStart);
      !s.ok()) {
    return s;
  }

  table->entryTail.resize(entries);
  table->entryClass.resize(entries);
  table->entryCcRow.resize(entries);
  const unsigned char* p = reader.Take(entrySection.bytes());
  for (std::size_t e = 0; e < entries; ++e, p += DiagnosisEntryRecord::kBytes) {
    table->entryTail[e] = static_cast<uint8_t>(LoadField(p, DiagnosisEntryRecord::kTail));
    table->entryClass[e] = static_cast<int16_t>(LoadField(p, DiagnosisEntryRecord::kClass));
    table->entryCcRow[e] = static_cast<int16_t>(LoadField(p, DiagnosisEntryRecord::kCcRow));
  }

  table->classes.resize(static_cast<std::size_t>(classSection.records));
  p = reader.Take(classSection.bytes());
  for (auto& cls : table->classes) {
    cls.mdc = static_cast<uint8_t>(LoadField(p, DiagnosisClassRecord::kMdc));
    cls.drgKey = static_cast<uint8_t>(LoadField(p, DiagnosisClassRecord::kDrgKey));
    cls.ccFlag = static_cast<uint8_t>(LoadField(p, DiagnosisClassRecord::kCcFlag));
    static_assert(sizeof cls.dxMask == DiagnosisClassRecord::kDxMask.width);
    std::memcpy(cls.dxMask.data(), p + DiagnosisClassRecord::kDxMask.offset, cls.dxMask.size());
    p += DiagnosisClassRecord::kBytes;
  }

  // Filled from the neonate marks later; entries the marks do not reach keep '0'.
  table->neonateMark.assign(entries, '0');

  return CheckedAndIndexed(name, table, classSection.records);
}

Status LoadProcedureTable(const FileFormat& format, const std::string& bytes,
                          ProcedureTable* table) {
  const char* name = format.name;
  const SectionLayout& index = format.sections[0];
  const SectionLayout& entrySection = format.sections[1];
  const SectionLayout& classSection = format.sections[2];
  const int m = entrySection.records;
  const auto entries = static_cast<std::size_t>(m);
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  table->entryCount = m;
  if (Status s = ReadCategoryIndex(name, reader.Take(index.bytes()), m, 255, &table->categoryCount,
                                   &table->categoryStart);
      !s.ok()) {
    return s;
  }

  table->entryTail.resize(entries);
  table->entryClass.resize(entries);
  const unsigned char* p = reader.Take(entrySection.bytes());
  for (std::size_t e = 0; e < entries; ++e, p += ProcedureEntryRecord::kBytes) {
    table->entryTail[e] = static_cast<uint8_t>(LoadField(p, ProcedureEntryRecord::kTail));
    table->entryClass[e] = static_cast<int16_t>(LoadField(p, ProcedureEntryRecord::kClass));
  }

  table->classes.resize(static_cast<std::size_t>(classSection.records));
  p = reader.Take(classSection.bytes());
  for (auto& cls : table->classes) {
    static_assert(sizeof cls.bytes == ProcedureClassRecord::kBytes);
    std::memcpy(cls.bytes.data(), p, ProcedureClassRecord::kBytes);
    p += ProcedureClassRecord::kBytes;
  }

  return CheckedAndIndexed(name, table, classSection.records);
}

// ---------------------------------------------------------------------------
// SGTAB0

// Sections as in the format: codes, valid-from dates, valid-to dates, class
// records, one record a row each.
Status LoadDatedProcedureTable(const FileFormat& format, const std::string& bytes,
                               DatedProcedureTable* table) {
  const char* name = format.name;
  const SectionLayout& codeSection = format.sections[0];
  const SectionLayout& fromSection = format.sections[1];
  const SectionLayout& toSection = format.sections[2];
  const SectionLayout& classSection = format.sections[3];
  const auto rows = static_cast<std::size_t>(codeSection.records);
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  table->codes.resize(rows);
  table->validFrom.resize(rows);
  table->validTo.resize(rows);
  table->classes.resize(rows);

  const unsigned char* p = reader.Take(codeSection.bytes());
  for (auto& code : table->codes) {
    static_assert(sizeof code == DatedCodeRecord::kBytes);
    std::memcpy(code.data(), p, DatedCodeRecord::kBytes);
    p += DatedCodeRecord::kBytes;
  }
  p = reader.Take(fromSection.bytes());
  for (auto& date : table->validFrom) {
    date = LoadField(p, DatedDateRecord::kDate);
    p += DatedDateRecord::kBytes;
  }
  p = reader.Take(toSection.bytes());
  for (auto& date : table->validTo) {
    date = LoadField(p, DatedDateRecord::kDate);
    p += DatedDateRecord::kBytes;
  }
  p = reader.Take(classSection.bytes());
  for (auto& cls : table->classes) {
    std::memcpy(cls.bytes.data(), p, ProcedureClassRecord::kBytes);
    p += ProcedureClassRecord::kBytes;
  }

  // The first row of every distinct code, keyed like the five-character
  // comparison that stops at a NUL, with the length of the run of rows that
  // starts there.
  std::vector<DatedProcedureTable::FirstRow> index(rows);
  for (std::size_t i = rows; i-- > 0;) {
    const uint64_t key = PackCodeToNul(table->codes[i].data());
    const bool runGoesOn = i + 1 < rows && index[i + 1].key == key;
    index[i] = {key, static_cast<int>(i), runGoesOn ? index[i + 1].run + 1 : 1};
  }
  const auto keyLess = [](const DatedProcedureTable::FirstRow& a,
                          const DatedProcedureTable::FirstRow& b) { return a.key < b.key; };
  // A table in code order (as built) needs no sort.
  if (!std::is_sorted(index.begin(), index.end(), keyLess)) {
    std::stable_sort(index.begin(), index.end(), keyLess);
  }
  index.erase(std::unique(index.begin(), index.end(),
                          [](const auto& a, const auto& b) { return a.key == b.key; }),
              index.end());
  table->firstRows = std::move(index);
  MakeCategoryIndex(*table);
  MakeRunIndex(*table);
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// DGTAB, DGTAB0

// Sections as in the format: the MDC index, the rule records.
Status LoadDrgRuleTable(const FileFormat& format, const std::string& bytes, DrgRuleTable* table) {
  const char* name = format.name;
  const SectionLayout& index = format.sections[0];
  const SectionLayout& ruleSection = format.sections[1];
  const int r = ruleSection.records;
  const auto ruleCount = static_cast<std::size_t>(r);
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  const unsigned char* p = reader.Take(index.bytes());
  for (int m = 0; m < kMdcSlots; ++m, p += MdcIndexRecord::kBytes) {
    const int start = LoadField(p, MdcIndexRecord::kStart);
    const int count = LoadField(p, MdcIndexRecord::kCount);
    table->mdcRuleStart[static_cast<std::size_t>(m)] = static_cast<int16_t>(start);
    table->mdcRuleCount[static_cast<std::size_t>(m)] = static_cast<uint8_t>(count);
    if (count == 0) continue;  // never read, whatever its start
    if (start < 1) return Fault(name, " MDC ", m + 1, ": start ", start, " below 1");
    if (start + count - 1 > r) {
      return Fault(name, " MDC ", m + 1, ": start ", start, " + count ", count, " runs past ", r,
                   " rules");
    }
  }

  table->rules.resize(ruleCount);
  p = reader.Take(ruleSection.bytes());
  table->walkRules.resize(ruleCount);
  for (std::size_t i = 0; i < ruleCount; ++i) {
    static_assert(sizeof table->rules[i].bytes == DrgRuleRecord::kBytes);
    std::memcpy(table->rules[i].bytes.data(), p, DrgRuleRecord::kBytes);
    table->walkRules[i] = WalkRuleOf(table->rules[i]);
    p += DrgRuleRecord::kBytes;
  }
  table->MakeKeyedRules();
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// CCTAB, CCTAB0, CCTAB1

// Checks that every item of every list (two bytes, three when bit 7 of the
// first is set) lies inside the list area.
Status CheckExclusionLists(const char* name, const CcExclusionTable& table) {
  // How many items in a row fit in the area from each position on: the
  // items at a position are the same whichever list starts there, so each
  // list is checked in one step, however long and however many lists share
  // their items.
  const std::vector<uint8_t>& area = table.listArea;
  std::vector<int32_t> fitting(area.size() + 1, 0);
  for (std::size_t pos = area.size(); pos-- > 0;) {
    const auto bytes = static_cast<std::size_t>(ExclusionItemBytes(area[pos]));
    if (pos + bytes <= area.size()) fitting[pos] = 1 + fitting[pos + bytes];
  }
  for (std::size_t row = 0; row < table.listOffset.size(); ++row) {
    const int items = table.listLength[row];
    if (items == 0) continue;  // an empty list is never read
    const int offset = table.listOffset[row];
    if (offset < 0) return Fault(name, " row ", row, ": list offset ", offset, " below 0");
    const auto pos = static_cast<std::size_t>(offset);
    const int fit = pos < area.size() ? fitting[pos] : 0;
    if (fit < items) {
      return Fault(name, " row ", row, ": list at offset ", offset, " with ", items,
                   " items runs past the ", area.size(), "-byte list area at item ", fit + 1);
    }
  }
  return Status::Ok();
}

// Sections as in the format: keys, list lengths, list offsets, list area.
Status LoadCcEntryTable(const FileFormat& format, const std::string& bytes,
                        CcExclusionTable* table) {
  const char* name = format.name;
  const SectionLayout& keySection = format.sections[0];
  const SectionLayout& lengthSection = format.sections[1];
  const SectionLayout& offsetSection = format.sections[2];
  const SectionLayout& areaSection = format.sections[3];
  const auto rows = static_cast<std::size_t>(keySection.records);
  const std::size_t area = areaSection.bytes();
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  table->rangeKeyed = false;
  table->rowIndexMade = false;
  table->keyFirst.resize(rows);
  table->keyLast.resize(rows);
  table->listLength.resize(rows);
  table->listOffset.resize(rows);

  const unsigned char* p = reader.Take(keySection.bytes());
  for (std::size_t i = 0; i < rows; ++i, p += CcKeyRecord::kBytes) {
    table->keyFirst[i] = static_cast<int16_t>(LoadField(p, CcKeyRecord::kKeyEntry));
    table->keyLast[i] = table->keyFirst[i];
  }
  p = reader.Take(lengthSection.bytes());
  for (std::size_t i = 0; i < rows; ++i, p += CcLengthRecord::kBytes) {
    table->listLength[i] = static_cast<uint8_t>(LoadField(p, CcLengthRecord::kListLength));
  }
  p = reader.Take(offsetSection.bytes());
  for (std::size_t i = 0; i < rows; ++i, p += CcOffsetRecord::kBytes) {
    table->listOffset[i] = static_cast<int16_t>(LoadField(p, CcOffsetRecord::kListOffset));
  }
  p = reader.Take(area);
  table->listArea.assign(p, p + area);
  if (Status s = CheckExclusionLists(name, *table); !s.ok()) return s;
  MakeCcRowIndex(*table);
  return Status::Ok();
}

// Sections as in the format: the rows, the list area.
Status LoadCcRangeTable(const FileFormat& format, const std::string& bytes,
                        CcExclusionTable* table) {
  const char* name = format.name;
  const SectionLayout& rowSection = format.sections[0];
  const SectionLayout& areaSection = format.sections[1];
  const auto rows = static_cast<std::size_t>(rowSection.records);
  const std::size_t area = areaSection.bytes();
  if (Status s = CheckSize(name, bytes, format.size); !s.ok()) return s;

  ByteReader reader(bytes);
  table->rangeKeyed = true;
  table->rowIndexMade = false;
  table->keyFirst.resize(rows);
  table->keyLast.resize(rows);
  table->listOffset.resize(rows);
  table->listLength.resize(rows);

  const unsigned char* p = reader.Take(rowSection.bytes());
  for (std::size_t i = 0; i < rows; ++i, p += CcRangeRecord::kBytes) {
    table->keyFirst[i] = static_cast<int16_t>(LoadField(p, CcRangeRecord::kKeyFirst));
    // The last key is held in 16 bits like the first and wraps with it.
    table->keyLast[i] = static_cast<int16_t>(static_cast<uint16_t>(
        static_cast<uint16_t>(table->keyFirst[i]) + LoadField(p, CcRangeRecord::kSpan)));
    table->listOffset[i] = static_cast<int16_t>(LoadField(p, CcRangeRecord::kListOffset));
    table->listLength[i] = static_cast<uint8_t>(LoadField(p, CcRangeRecord::kListLength));
  }
  p = reader.Take(area);
  table->listArea.assign(p, p + area);
  if (Status s = CheckExclusionLists(name, *table); !s.ok()) return s;
  MakeCcRowIndex(*table);
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Text tables

// What one read of the bounded line reader takes: the longest line of the
// format and its line feed.
std::size_t LineLimit(const FileFormat& format) {
  return static_cast<std::size_t>(format.maxLineLength) + 1;
}

Status MissingLines(const char* name, int got, int needed) {
  return Fault(name, ": ", got, " lines, ", needed, " needed");
}

// Columns 1-5 code, 6 sex digit, 8 status digit, 10-13 DRG value, 15-17 the
// matrix row counted from 1.
Status LoadRefinedCcTable(const FileFormat& format, const std::string& bytes,
                          RefinedCcTable* table) {
  const char* name = format.name;
  const int lines = format.lines;
  TextLineReader reader(bytes, LineLimit(format));
  table->rows.resize(static_cast<std::size_t>(lines));
  TextLine line;
  for (int i = 0; i < lines; ++i) {
    if (!reader.Next(&line)) return MissingLines(name, i, lines);
    RefinedCcRow& row = table->rows[static_cast<std::size_t>(i)];
    CopyColumns(line.text, 1, kCodeLength, row.code.data());
    row.sexCondition = static_cast<int8_t>(ColumnOf(line.text, 6) - '0');
    row.statusCondition = static_cast<int8_t>(ColumnOf(line.text, 8) - '0');
    char field[4];
    CopyColumns(line.text, 10, 4, field);
    row.ccDrg = static_cast<int16_t>(ParseDigits(field, 4));
    CopyColumns(line.text, 15, 3, field);
    const int levelRow = ParseDigits(field, 3) - 1;
    if (levelRow < 0 || levelRow >= kLevelRows) {
      return Fault(name, " line ", reader.lineNumber(), ", columns 15-17: row ",
                   Quoted(line.text, 15, 3), " outside 1..", kLevelRows);
    }
    row.levelRow = static_cast<int8_t>(levelRow);
  }
  return Status::Ok();
}

// Columns 1-4 DRG value, 6-9 refined DRG value, 10 age-split mark, 11-12 the
// matrix column counted from 1 (00 or blanks: none), 17 DRG type.
Status LoadRefinedDrgTable(const FileFormat& format, const std::string& bytes,
                           RefinedDrgTable* table) {
  const char* name = format.name;
  table->slots.assign(static_cast<std::size_t>(kRefinedDrgSlots), RefinedDrgSlot{});
  TextLineReader reader(bytes, LineLimit(format));
  TextLine line;
  for (int i = 0; i < format.lines; ++i) {
    if (!reader.Next(&line)) return MissingLines(name, i, format.lines);
    char field[4];
    CopyColumns(line.text, 1, 4, field);
    const int slot = ParseDigits(field, 4) - 1;
    if (slot < 0 || slot >= kRefinedDrgSlots) {
      return Fault(name, " line ", reader.lineNumber(), ", columns 1-4: DRG value ",
                   Quoted(line.text, 1, 4), " outside 1..", kRefinedDrgSlots);
    }
    CopyColumns(line.text, 11, 2, field);
    const int levelColumn = ParseDigits(field, 2) - 1;
    if (levelColumn >= kLevelColumns) {
      return Fault(name, " line ", reader.lineNumber(), ", columns 11-12: level column ",
                   Quoted(line.text, 11, 2), " above ", kLevelColumns);
    }
    RefinedDrgSlot& s = table->slots[static_cast<std::size_t>(slot)];
    s.filled = true;
    CopyColumns(line.text, 6, 4, field);
    s.refinedDrg = static_cast<int16_t>(ParseDigits(field, 4));
    s.ageSplit = ColumnOf(line.text, 10) != ' ';
    s.levelColumn = static_cast<int8_t>(levelColumn);
    s.drgType = ColumnOf(line.text, 17);
  }
  return Status::Ok();
}

// Line r holds row r - 1, column 1 first; positions past the end hold '0'.
Status LoadLevelMatrix(const FileFormat& format, const std::string& bytes, LevelMatrix* matrix) {
  const char* name = format.name;
  TextLineReader reader(bytes, LineLimit(format));
  TextLine line;
  for (int r = 0; r < format.lines; ++r) {
    if (!reader.Next(&line)) return MissingLines(name, r, format.lines);
    auto& row = matrix->levels[static_cast<std::size_t>(r)];
    for (int c = 0; c < kLevelColumns; ++c) {
      row[static_cast<std::size_t>(c)] = ColumnOf(line.text, c + 1, '0');
    }
    matrix->lineLength[static_cast<std::size_t>(r)] =
        static_cast<uint8_t>(std::min<std::size_t>(line.text.size(), kLevelColumns));
  }
  return Status::Ok();
}

// One neonate line decoded; category kNeonateEnd reports the end of the file.
struct NeonateLine {
  int category = -1;
  int tail = 0;
  char mark = '0';
};
constexpr int kNeonateEnd = 2601;

// Reads the next line. The end of the file, and a last line that no line
// feed ends (even one cut at the length limit), report the end, so the mark
// of such a last line is lost.
Status ReadNeonateLine(const char* name, TextLineReader& reader, NeonateLine* out) {
  TextLine line;
  if (!reader.Next(&line) || line.lastWithoutLineFeed) {
    out->category = kNeonateEnd;
    return Status::Ok();
  }
  const char letter = ColumnOf(line.text, 1);
  if (letter < 'A' || letter > 'Z') {
    return Fault(name, " line ", reader.lineNumber(), ": does not begin with a capital letter");
  }
  char digits[2];
  CopyColumns(line.text, 2, 2, digits);
  out->category = (letter - 'A') * 100 + ParseDigits(digits, 2);
  const char fourth = ColumnOf(line.text, 4);
  const char fifth = ColumnOf(line.text, 5);
  out->tail = fourth == ' ' ? 255 : (fourth - '0') * 16 + (fifth == ' ' ? 15 : fifth - '0');
  out->mark = ColumnOf(line.text, 6);
  return Status::Ok();
}

// Walks the entries category by category in table order and reads a line
// only when the walk needs the next one: an entry takes the mark of the line
// with its category and tail, any other entry '0'. Lines out of that order,
// or of codes the table lacks, are passed over.
Status MergeNeonateMarks(const FileFormat& format, const std::string& bytes,
                         DiagnosisTable* table) {
  const char* name = format.name;
  TextLineReader reader(bytes, LineLimit(format));
  NeonateLine current;  // category -1: the first entry forces a read
  for (int m = 0; m < kCategorySlots; ++m) {
    const int start = table->categoryStart[static_cast<std::size_t>(m)];
    const int end = start + table->categoryCount[static_cast<std::size_t>(m)];
    for (int e = start; e < end; ++e) {
      const int tail = table->entryTail[static_cast<std::size_t>(e)];
      while (current.category < m || (current.category == m && current.tail < tail)) {
        if (Status s = ReadNeonateLine(name, reader, &current); !s.ok()) return s;
      }
      const bool same = current.category == m && current.tail == tail;
      table->neonateMark[static_cast<std::size_t>(e)] = same ? current.mark : '0';
    }
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Procedure code conversion files: "FROM TO" a line, codes of up to five
// characters; blank lines and lines starting with '#' are skipped.

bool IsFieldSeparator(char c) { return c == ' ' || c == '\t'; }

// Splits a line into blank-separated fields; returns how many there were
// (at most `max` are stored).
int SplitFields(std::string_view text, std::string_view* fields, int max) {
  int count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsFieldSeparator(text[i])) ++i;
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && !IsFieldSeparator(text[i])) ++i;
    if (count < max) fields[count] = text.substr(start, i - start);
    ++count;
  }
  return count;
}

bool ToCode(std::string_view field, RowCode* code) {
  if (field.empty() || field.size() > static_cast<std::size_t>(kCodeLength)) return false;
  code->fill(' ');
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c < 0x21 || c > 0x7E) return false;
    (*code)[i] = field[i];
  }
  return true;
}

Status LoadCodeMap(const char* name, const std::string& bytes, CodeMapFile* map) {
  struct Numbered {
    CodePair pair;
    int line;
  };
  std::vector<Numbered> pairs;
  TextLineReader reader(bytes);
  TextLine line;
  while (reader.Next(&line)) {
    std::string_view fields[2];
    const int count = SplitFields(line.text, fields, 2);
    if (count == 0 || fields[0].front() == '#') continue;
    Numbered entry{};
    entry.line = reader.lineNumber();
    if (count != 2 || !ToCode(fields[0], &entry.pair.from) || !ToCode(fields[1], &entry.pair.to)) {
      return Fault(name, " line ", entry.line,
                   ": not a pair FROM TO of codes of up to five characters");
    }
    pairs.push_back(entry);
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const Numbered& a, const Numbered& b) {
    return std::memcmp(a.pair.from.data(), b.pair.from.data(), kCodeLength) < 0;
  });
  for (std::size_t i = 1; i < pairs.size(); ++i) {
    if (pairs[i].pair.from == pairs[i - 1].pair.from) {
      const auto& later = pairs[i].line > pairs[i - 1].line ? pairs[i] : pairs[i - 1];
      const auto& earlier = pairs[i].line > pairs[i - 1].line ? pairs[i - 1] : pairs[i];
      std::string code(later.pair.from.data(), kCodeLength);
      while (code.back() == ' ') code.pop_back();
      return Fault(name, " line ", later.line, ": from-code ", code, " given twice (first on line ",
                   earlier.line, ")");
    }
  }
  map->present = true;
  map->pairs.clear();
  map->pairs.reserve(pairs.size());
  for (const auto& p : pairs) map->pairs.push_back(p.pair);
  return Status::Ok();
}

Status LoadOptionalCodeMap(const TableFileSource& source, const char* name, CodeMapFile* map) {
  Status readError;
  std::optional<std::string> content = source(name, &readError);
  if (!readError.ok()) return readError;
  if (!content) {
    map->present = false;
    return Status::Ok();
  }
  return LoadCodeMap(name, *content, map);
}

// ---------------------------------------------------------------------------
// The whole set, in load order

// Reads one file of the load order into its table of the set; the RDRGNEO
// files go into the diagnosis tables of their editions, read before them.
Status LoadFile(const FileFormat& f, const std::string& bytes, TableSet* set) {
  const auto i = static_cast<std::size_t>(f.index);
  switch (f.kind) {
    case TableKind::kDiagnosis: return LoadDiagnosisTable(f, bytes, &set->diagnosis[i]);
    case TableKind::kProcedure: return LoadProcedureTable(f, bytes, &set->procedure[i]);
    case TableKind::kDatedProcedure: return LoadDatedProcedureTable(f, bytes, &set->datedProcedure);
    case TableKind::kDrgRules: return LoadDrgRuleTable(f, bytes, &set->drgRules[i]);
    case TableKind::kRefinedCc: return LoadRefinedCcTable(f, bytes, &set->refinedCc[i]);
    case TableKind::kNeonate: return MergeNeonateMarks(f, bytes, &set->diagnosis[i]);
    case TableKind::kCcEntry: return LoadCcEntryTable(f, bytes, &set->ccEntry[i]);
    case TableKind::kCcRange: return LoadCcRangeTable(f, bytes, &set->ccRange);
    case TableKind::kRefinedDrg: return LoadRefinedDrgTable(f, bytes, &set->refinedDrg);
    case TableKind::kLevelMatrix: return LoadLevelMatrix(f, bytes, &set->levelMatrix);
  }
  return Status::Ok();
}

Status LoadAll(const TableFileSource& source, TableSet* set) {
  std::string bytes;
  for (const FileFormat& format : kFileFormats) {
    if (Status s = ReadTableFile(source, format.name, &bytes); !s.ok()) return s;
    if (Status s = LoadFile(format, bytes, set); !s.ok()) return s;
  }
  if (Status s = LoadOptionalCodeMap(source, kCodeMapJan2001File, &set->codeMapJan2001); !s.ok()) {
    return s;
  }
  if (Status s = LoadOptionalCodeMap(source, kCodeMap2001File, &set->codeMap2001); !s.ok()) return s;
  MakeCcExclusionRows(*set);
  return Status::Ok();
}

const FileFormat& NeonateFormatOf(int edition) { return FileFormatOf(TableKind::kNeonate, edition); }
const FileFormat& DiagnosisFormatOf(int edition) { return FileFormatOf(TableKind::kDiagnosis, edition); }

}  // namespace

void CopyTableSet(const TableSet& from, TableSet* to) {
  to->diagnosis = from.diagnosis;
  to->procedure = from.procedure;
  to->datedProcedure = from.datedProcedure;
  to->drgRules = from.drgRules;
  to->ccRange = from.ccRange;
  to->ccEntry = from.ccEntry;
  to->refinedCc = from.refinedCc;
  to->refinedDrg = from.refinedDrg;
  to->levelMatrix = from.levelMatrix;
  to->codeMapJan2001 = from.codeMapJan2001;
  to->codeMap2001 = from.codeMap2001;
}

Result<std::shared_ptr<const TableSet>> ReloadTableFile(const TableSet& base,
                                                        const TableImages& images,
                                                        const std::string& name,
                                                        const std::string& bytes) {
  auto set = std::make_shared<TableSet>();
  CopyTableSet(base, set.get());
  if (name == kCodeMapJan2001File || name == kCodeMap2001File) {
    CodeMapFile* map = name == kCodeMapJan2001File ? &set->codeMapJan2001 : &set->codeMap2001;
    if (Status s = LoadCodeMap(name.c_str(), bytes, map); !s.ok()) return s;
    return std::shared_ptr<const TableSet>(std::move(set));
  }
  if (Status s = ReloadTableFileInto(images, name, bytes, set.get()); !s.ok()) return s;
  return std::shared_ptr<const TableSet>(std::move(set));
}

Status ReloadTableFileInto(const TableImages& images, const std::string& name, const std::string& bytes,
                           TableSet* set) {
  const auto imageOf = [&images](const char* file) -> Result<std::string> {
    const auto it = images.find(file);
    if (it == images.end()) return Fault(file, ": file missing or unreadable");
    return it->second;
  };
  const FileFormat* format = FindFileFormat(name);
  if (format == nullptr) return Fault(name, ": not the name of a table file");
  const auto edition = static_cast<std::size_t>(format->index);
  if (format->kind == TableKind::kNeonate) {
    // The marks of the old file go: the table is read again first.
    Result<std::string> dx = imageOf(DiagnosisFormatOf(format->index).name);
    if (!dx.ok()) return dx.status();
    set->diagnosis[edition] = DiagnosisTable{};
    if (Status s = LoadFile(DiagnosisFormatOf(format->index), *dx, set); !s.ok()) return s;
  }
  if (Status s = LoadFile(*format, bytes, set); !s.ok()) return s;
  if (format->kind == TableKind::kDiagnosis) {
    Result<std::string> marks = imageOf(NeonateFormatOf(format->index).name);
    if (!marks.ok()) return marks.status();
    if (Status s = LoadFile(NeonateFormatOf(format->index), *marks, set); !s.ok()) return s;
  }
  // The rows made at load, again where the file is one they are made from.
  switch (format->kind) {
    case TableKind::kDiagnosis:
    case TableKind::kNeonate:
      MakeCcExclusionRows(*set, static_cast<Edition>(format->index));
      break;
    case TableKind::kCcRange:
      MakeCcExclusionRows(*set, Edition::k8, MadeRows::kCcExclusion);
      MakeCcExclusionRows(*set, Edition::k9, MadeRows::kCcExclusion);
      break;
    case TableKind::kCcEntry:
      MakeCcExclusionRows(*set, format->index == 0 ? Edition::k0 : Edition::k1, MadeRows::kCcExclusion);
      break;
    case TableKind::kRefinedCc:
      MakeRefinedCcKeys(set->refinedCc[edition]);
      MakeCcExclusionRows(*set, static_cast<Edition>(format->index), MadeRows::kRefinedCc);
      break;
    default:
      break;
  }
  return Status::Ok();
}

std::optional<std::string> ReadWholeFile(const std::string& path, const std::string& name,
                                         Status* readError) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int error = errno;
    if (error != ENOENT && error != 0) {
      *readError = Fault(name, ": cannot open ", path, ": ",
                         std::error_code(error, std::generic_category()).message());
    }
    return std::nullopt;
  }
  std::string content;
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    *readError = Fault(name, ": cannot read ", path, ": ",
                       std::error_code(error, std::generic_category()).message());
    return std::nullopt;
  }
  return content;
}

Result<std::shared_ptr<const TableSet>> LoadTablesFrom(const TableFileSource& source) {
  auto set = std::make_shared<TableSet>();
  if (Status s = LoadAll(source, set.get()); !s.ok()) return s;
  return std::shared_ptr<const TableSet>(std::move(set));
}

Result<std::shared_ptr<const TableSet>> LoadTables(const std::string& directory) {
  const std::string prefix = directory.empty() ? std::string() : directory + "/";
  return LoadTablesFrom([&prefix](const std::string& name, Status* readError) {
    return ReadWholeFile(prefix + name, name, readError);
  });
}

Result<std::shared_ptr<const TableSet>> LoadTablesFromImages(const TableImages& images) {
  return LoadTablesFrom([&images](const std::string& name, Status*) -> std::optional<std::string> {
    const auto it = images.find(name);
    if (it == images.end()) return std::nullopt;
    return it->second;
  });
}

}  // namespace tallow
