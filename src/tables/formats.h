// The layouts of the twenty-two table files, written once. The loader, the
// toolkit (dump, build, check, synth), the demo's list of built files
// (data/demo/CMakeLists.txt reads the names from kFileFormats below) and
// docs/table-formats.md all go by this description.
//
// Binary files have no header and no count: they are sections of fixed-size
// records back to back, each record a row of fields at fixed offsets with
// the byte order given per field. Text files are lines with fields at fixed
// columns (column 1 first) and a fixed number of lines read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tables/bytes.h"
#include "tables/codes.h"

namespace tallow {

// ---------------------------------------------------------------------------
// Element counts per edition

inline constexpr int kEditionCount = 4;  // editions 8, 9, 0, 1

inline constexpr int kDiagnosisEntries[kEditionCount] = {9210, 9420, 12310, 12311};
inline constexpr int kDiagnosisClasses = 383;
inline constexpr int kProcedureEntries[2] = {828, 816};  // SGTAB8, SGTAB9
inline constexpr int kProcedureClasses[2] = {337, 339};
inline constexpr int kDatedProcedureRows = 1608;         // SGTAB0
inline constexpr int kDrgRuleCounts[2] = {531, 539};           // DGTAB, DGTAB0
inline constexpr int kMdcSlots = 30;
inline constexpr int kCcRangeRows = 1552;                 // CCTAB
inline constexpr int kCcRangeListBytes = 7436;
inline constexpr int kCcEntryRows[2] = {2390, 2391};      // CCTAB0, CCTAB1
inline constexpr int kCcEntryListBytes[2] = {17232, 17258};
inline constexpr int kRefinedCcRows[kEditionCount] = {1969, 2007, 2420, 2421};
inline constexpr int kRefinedDrgLines = 485;
inline constexpr int kRefinedDrgSlots = 4770;
inline constexpr int kLevelRows = 62;
inline constexpr int kLevelColumns = 86;

// ---------------------------------------------------------------------------
// Fields and records of the binary files

enum class ByteOrder : uint8_t {
  kSingle,        ///< one byte, or a run of bytes taken as they stand
  kBigEndian,     ///< high byte first
  kLittleEndian,  ///< low byte first
};

// One field of a record: `width` bytes at `offset`. Numbers are 1, 2 or 4
// bytes wide; wider fields (codes, masks) are byte runs.
struct FieldLayout {
  const char* name;
  int offset;
  int width;
  ByteOrder order;
  bool isSigned;
};

// The value of a numeric field of the record at `record`, which REQUIRES the
// record's bytes to be there.
[[gnu::always_inline]] constexpr int LoadField(const unsigned char* record, const FieldLayout& f) {
  const unsigned char* p = record + f.offset;
  if (f.width == 1) return f.isSigned ? static_cast<int8_t>(p[0]) : p[0];
  if (f.width == 2) {
    if (f.order == ByteOrder::kBigEndian) return f.isSigned ? LoadBigEndian16(p) : LoadBigEndianU16(p);
    return f.isSigned ? LoadLittleEndian16(p) : static_cast<uint16_t>(LoadLittleEndian16(p));
  }
  return LoadLittleEndian32(p);  // the only 4-byte fields: SGTAB0 dates
}

// Stores a numeric field, truncated to its width like the file holds it.
[[gnu::always_inline]] inline void StoreField(unsigned char* record, const FieldLayout& f, int value) {
  unsigned char* p = record + f.offset;
  if (f.width == 1) {
    p[0] = static_cast<unsigned char>(value);
  } else if (f.width == 2) {
    if (f.order == ByteOrder::kBigEndian) {
      StoreBigEndian16(p, value);
    } else {
      StoreLittleEndian16(p, value);
    }
  } else {
    StoreLittleEndian32(p, value);
  }
}

// Records. Each lists its fields in order; kBytes is the record size.
struct CategoryRecord {  // DXTAB, SGTAB8/9 category index: 2600, category 0 first
  static constexpr FieldLayout kCount{"categoryCount", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kStart{"categoryStart", 1, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kFields[] = {kCount, kStart};
  static constexpr int kBytes = 3;
};
struct DiagnosisEntryRecord {
  static constexpr FieldLayout kTail{"entryTail", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kClass{"entryClass", 1, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kCcRow{"entryCcRow", 3, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kFields[] = {kTail, kClass, kCcRow};
  static constexpr int kBytes = 5;
};
struct DiagnosisClassRecord {
  static constexpr FieldLayout kMdc{"mdc", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kDrgKey{"drgKey", 1, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kCcFlag{"ccFlag", 2, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kDxMask{"dxMask", 3, 5, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kMdc, kDrgKey, kCcFlag, kDxMask};
  static constexpr int kBytes = 8;
};
struct ProcedureEntryRecord {
  static constexpr FieldLayout kTail{"entryTail", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kClass{"entryClass", 1, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kFields[] = {kTail, kClass};
  static constexpr int kBytes = 3;
};
struct ProcedureClassRecord {  // bytes of bits: 0 flags, 1-20 procMask, 21-22 nonOrMask, 23-25
  static constexpr FieldLayout kClassFlags{"classFlags", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kProcMask{"procMask", 1, 20, ByteOrder::kSingle, false};
  static constexpr FieldLayout kNonOrMask{"nonOrMask", 21, 2, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFurther{"further attribute bits", 23, 3, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kClassFlags, kProcMask, kNonOrMask, kFurther};
  static constexpr int kBytes = 26;
};
struct DatedCodeRecord {  // SGTAB0 section 1
  static constexpr FieldLayout kCode{"codes", 0, 5, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kCode};
  static constexpr int kBytes = 5;
};
struct DatedDateRecord {  // SGTAB0 sections 2 and 3
  static constexpr FieldLayout kDate{"date", 0, 4, ByteOrder::kLittleEndian, true};
  static constexpr FieldLayout kFields[] = {kDate};
  static constexpr int kBytes = 4;
};
struct MdcIndexRecord {  // DGTAB index: 30, MDC 1 first; the start comes before the count
  static constexpr FieldLayout kStart{"mdcRuleStart", 0, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kCount{"mdcRuleCount", 2, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kStart, kCount};
  static constexpr int kBytes = 3;
};
struct DrgRuleRecord {
  static constexpr FieldLayout kDrgKey{"drgKey", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kRequire{"require", 1, 42, ByteOrder::kSingle, false};
  static constexpr FieldLayout kDrgDigit{"drgDigit", 43, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kDrgNumber{"drgNumber", 44, 2, ByteOrder::kBigEndian, false};
  static constexpr FieldLayout kFields[] = {kDrgKey, kRequire, kDrgDigit, kDrgNumber};
  static constexpr int kBytes = 46;
};
struct CcRangeRecord {  // CCTAB rows
  static constexpr FieldLayout kKeyFirst{"keyFirst", 0, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kSpan{"span", 2, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kListOffset{"listOffset", 3, 2, ByteOrder::kBigEndian, true};
  static constexpr FieldLayout kListLength{"listLength", 5, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kKeyFirst, kSpan, kListOffset, kListLength};
  static constexpr int kBytes = 6;
};
// CCTAB0 and CCTAB1 hold their rows as three sections of one field each.
struct CcKeyRecord {
  static constexpr FieldLayout kKeyEntry{"keyEntry", 0, 2, ByteOrder::kLittleEndian, true};
  static constexpr FieldLayout kFields[] = {kKeyEntry};
  static constexpr int kBytes = 2;
};
struct CcLengthRecord {
  static constexpr FieldLayout kListLength{"listLength", 0, 1, ByteOrder::kSingle, false};
  static constexpr FieldLayout kFields[] = {kListLength};
  static constexpr int kBytes = 1;
};
struct CcOffsetRecord {
  static constexpr FieldLayout kListOffset{"listOffset", 0, 2, ByteOrder::kLittleEndian, true};
  static constexpr FieldLayout kFields[] = {kListOffset};
  static constexpr int kBytes = 2;
};
struct ListAreaRecord {  // the list area as one record of bytes
  static constexpr FieldLayout kFields[] = {{"list bytes", 0, 1, ByteOrder::kSingle, false}};
  static constexpr int kBytes = 1;
};

// ---------------------------------------------------------------------------
// Exclusion-list items (the list areas of CCTAB, CCTAB0, CCTAB1)
//
// Two bytes, or three: byte 0 bit 7 set means a range length follows in
// byte 2; bits 0-6 of byte 0 are the high seven bits of the value, byte 1
// its low eight bits. An item covers value .. value + length.

inline constexpr uint8_t kExclusionRangeBit = 0x80;
inline constexpr int kExclusionValueMax = 0x7FFF;

// Bytes of the item that begins with `first`.
constexpr int ExclusionItemBytes(uint8_t first) { return (first & kExclusionRangeBit) != 0 ? 3 : 2; }

struct ExclusionItem {
  int value = 0;
  int length = 0;      ///< 0 for a two-byte item
  bool range = false;  ///< three bytes (a range item of length 0 is one too)
};

// Decodes the item at p, which REQUIRES ExclusionItemBytes(p[0]) bytes.
constexpr ExclusionItem DecodeExclusionItem(const uint8_t* p) {
  const bool range = (p[0] & kExclusionRangeBit) != 0;
  return ExclusionItem{((p[0] & 0x7F) << 8) | p[1], range ? p[2] : 0, range};
}

// Writes an item (value 0..32767, length 0..255) into out[0..2]; returns
// its byte count.
inline int EncodeExclusionItem(const ExclusionItem& item, uint8_t* out) {
  out[0] = static_cast<uint8_t>(((item.value >> 8) & 0x7F) | (item.range ? kExclusionRangeBit : 0));
  out[1] = static_cast<uint8_t>(item.value & 0xFF);
  if (!item.range) return 2;
  out[2] = static_cast<uint8_t>(item.length);
  return 3;
}

// ---------------------------------------------------------------------------
// Files

enum class TableKind : uint8_t {
  kDiagnosis,       ///< DXTAB8, DXTAB9, DXTAB0, DXTAB1
  kProcedure,       ///< SGTAB8, SGTAB9
  kDatedProcedure,  ///< SGTAB0
  kDrgRules,        ///< DGTAB, DGTAB0
  kCcRange,         ///< CCTAB
  kCcEntry,         ///< CCTAB0, CCTAB1
  kRefinedCc,       ///< RDRGCC8, RDRGCC9, RDRGCC0, RDRGCC1
  kRefinedDrg,      ///< RDRGDRG
  kLevelMatrix,     ///< RDRGCL
  kNeonate,         ///< RDRGNEO8, RDRGNEO9, RDRGNEO0, RDRGNEO1
};

// A section of a binary file: `records` records of `recordBytes` at `offset`.
struct SectionLayout {
  const char* name = "";
  std::size_t offset = 0;
  int records = 0;
  int recordBytes = 0;
  std::span<const FieldLayout> fields;

  constexpr std::size_t bytes() const { return static_cast<std::size_t>(records) * static_cast<std::size_t>(recordBytes); }
  constexpr std::size_t end() const { return offset + bytes(); }
  constexpr std::size_t RecordOffset(int i) const { return offset + static_cast<std::size_t>(i) * static_cast<std::size_t>(recordBytes); }
};

struct FileFormat {
  const char* name = "";
  TableKind kind = TableKind::kDiagnosis;
  int index = 0;  ///< edition index (8, 9, 0, 1 -> 0..3), or 0/1 within a pair
  bool text = false;
  // Binary files: the sections in file order; size = the end of the last.
  std::array<SectionLayout, 4> sections{};
  int sectionCount = 0;
  std::size_t size = 0;
  // Text files: lines read (-1: to the end of the file) and the longest line
  // the loader's bounded reader takes as one line.
  int lines = 0;
  int maxLineLength = 0;

  constexpr std::span<const SectionLayout> Sections() const {
    return std::span<const SectionLayout>(sections.data(), static_cast<std::size_t>(sectionCount));
  }
};

namespace format_detail {

template <typename Record>
constexpr SectionLayout Section(const char* name, std::size_t offset, int records) {
  return SectionLayout{name, offset, records, Record::kBytes, std::span<const FieldLayout>(Record::kFields)};
}

constexpr FileFormat Binary(const char* name, TableKind kind, int index,
                            std::array<SectionLayout, 4> sections, int count) {
  FileFormat f;
  f.name = name;
  f.kind = kind;
  f.index = index;
  f.sections = sections;
  f.sectionCount = count;
  f.size = sections[static_cast<std::size_t>(count - 1)].end();
  return f;
}

constexpr FileFormat Diagnosis(const char* name, int e) {
  const SectionLayout index = Section<CategoryRecord>("category index", 0, kCategorySlots);
  const SectionLayout entries = Section<DiagnosisEntryRecord>("entries", index.end(), kDiagnosisEntries[e]);
  const SectionLayout classes = Section<DiagnosisClassRecord>("classes", entries.end(), kDiagnosisClasses);
  return Binary(name, TableKind::kDiagnosis, e, {index, entries, classes, {}}, 3);
}

constexpr FileFormat Procedure(const char* name, int e) {
  const SectionLayout index = Section<CategoryRecord>("category index", 0, kCategorySlots);
  const SectionLayout entries = Section<ProcedureEntryRecord>("entries", index.end(), kProcedureEntries[e]);
  const SectionLayout classes = Section<ProcedureClassRecord>("classes", entries.end(), kProcedureClasses[e]);
  return Binary(name, TableKind::kProcedure, e, {index, entries, classes, {}}, 3);
}

constexpr FileFormat Dated(const char* name) {
  const SectionLayout codes = Section<DatedCodeRecord>("codes", 0, kDatedProcedureRows);
  const SectionLayout from = Section<DatedDateRecord>("valid from", codes.end(), kDatedProcedureRows);
  const SectionLayout to = Section<DatedDateRecord>("valid to", from.end(), kDatedProcedureRows);
  const SectionLayout classes = Section<ProcedureClassRecord>("classes", to.end(), kDatedProcedureRows);
  return Binary(name, TableKind::kDatedProcedure, 0, {codes, from, to, classes}, 4);
}

constexpr FileFormat Rules(const char* name, int t) {
  const SectionLayout index = Section<MdcIndexRecord>("MDC index", 0, kMdcSlots);
  const SectionLayout rules = Section<DrgRuleRecord>("rules", index.end(), kDrgRuleCounts[t]);
  return Binary(name, TableKind::kDrgRules, t, {index, rules, {}, {}}, 2);
}

constexpr FileFormat CcRange(const char* name) {
  const SectionLayout rows = Section<CcRangeRecord>("rows", 0, kCcRangeRows);
  const SectionLayout area = Section<ListAreaRecord>("list area", rows.end(), kCcRangeListBytes);
  return Binary(name, TableKind::kCcRange, 0, {rows, area, {}, {}}, 2);
}

constexpr FileFormat CcEntry(const char* name, int t) {
  const SectionLayout keys = Section<CcKeyRecord>("keys", 0, kCcEntryRows[t]);
  const SectionLayout lengths = Section<CcLengthRecord>("lengths", keys.end(), kCcEntryRows[t]);
  const SectionLayout offsets = Section<CcOffsetRecord>("offsets", lengths.end(), kCcEntryRows[t]);
  const SectionLayout area = Section<ListAreaRecord>("list area", offsets.end(), kCcEntryListBytes[t]);
  return Binary(name, TableKind::kCcEntry, t, {keys, lengths, offsets, area}, 4);
}

constexpr FileFormat Text(const char* name, TableKind kind, int index, int lines, int maxLineLength) {
  FileFormat f;
  f.name = name;
  f.kind = kind;
  f.index = index;
  f.text = true;
  f.lines = lines;
  f.maxLineLength = maxLineLength;
  return f;
}

}  // namespace format_detail

// The twenty-two files in load order (one a line: the demo's CMake list
// reads the names from these lines).
inline constexpr std::array<FileFormat, 22> kFileFormats = {
    format_detail::Diagnosis("DXTAB8", 0),
    format_detail::Diagnosis("DXTAB9", 1),
    format_detail::Diagnosis("DXTAB0", 2),
    format_detail::Diagnosis("DXTAB1", 3),
    format_detail::Procedure("SGTAB8", 0),
    format_detail::Procedure("SGTAB9", 1),
    format_detail::Dated("SGTAB0"),
    format_detail::Rules("DGTAB", 0),
    format_detail::Rules("DGTAB0", 1),
    format_detail::Text("RDRGCC8", TableKind::kRefinedCc, 0, kRefinedCcRows[0], 17),
    format_detail::Text("RDRGCC9", TableKind::kRefinedCc, 1, kRefinedCcRows[1], 17),
    format_detail::Text("RDRGCC0", TableKind::kRefinedCc, 2, kRefinedCcRows[2], 17),
    format_detail::Text("RDRGCC1", TableKind::kRefinedCc, 3, kRefinedCcRows[3], 17),
    format_detail::Text("RDRGNEO8", TableKind::kNeonate, 0, -1, 6),
    format_detail::Text("RDRGNEO9", TableKind::kNeonate, 1, -1, 6),
    format_detail::Text("RDRGNEO0", TableKind::kNeonate, 2, -1, 6),
    format_detail::Text("RDRGNEO1", TableKind::kNeonate, 3, -1, 6),
    format_detail::CcEntry("CCTAB0", 0),
    format_detail::CcEntry("CCTAB1", 1),
    format_detail::CcRange("CCTAB"),
    format_detail::Text("RDRGDRG", TableKind::kRefinedDrg, 0, kRefinedDrgLines, 17),
    format_detail::Text("RDRGCL", TableKind::kLevelMatrix, 0, kLevelRows, kLevelColumns),
};

// The twenty-two table names in load order.
inline constexpr std::array<const char*, 22> kTableFiles = [] {
  std::array<const char*, 22> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kFileFormats[i].name;
  return names;
}();

// The format of a table name, or nullptr.
constexpr const FileFormat* FindFileFormat(std::string_view name) {
  for (const FileFormat& f : kFileFormats) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

// The format of a kind and index (DXTAB0 is kDiagnosis 2); REQUIRES one.
constexpr const FileFormat& FileFormatOf(TableKind kind, int index = 0) {
  for (const FileFormat& f : kFileFormats) {
    if (f.kind == kind && f.index == index) return f;
  }
  return kFileFormats[0];
}

static_assert(FileFormatOf(TableKind::kDiagnosis, 0).size == 56914);
static_assert(FileFormatOf(TableKind::kDiagnosis, 3).size == 72419);
static_assert(FileFormatOf(TableKind::kProcedure, 1).size == 19062);
static_assert(FileFormatOf(TableKind::kDatedProcedure).size == 62712);
static_assert(FileFormatOf(TableKind::kDrgRules, 1).size == 24884);
static_assert(FileFormatOf(TableKind::kCcEntry, 1).size == 29213);
static_assert(FileFormatOf(TableKind::kCcRange).size == 16748);

}  // namespace tallow
