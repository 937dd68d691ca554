// The classification tables in memory.
//
// A TableSet is loaded once (LoadTables) and never changes afterwards: every
// member is const to its users, copying is disabled, and one set may be
// shared by any number of groupers on any number of threads. The loader
// validates every count, start, class number, offset and range it stores, so
// the searches below and the lookups of the grouper index these arrays
// without further checks and can never read outside them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "tables/code_index.h"
#include "tables/codes.h"
#include "tables/formats.h"
#include "tables/status.h"

namespace tallow {

// ---------------------------------------------------------------------------
// Editions and their sizes

// An edition is named after the digit that ends its file names.
enum class Edition : uint8_t {
  k8 = 0,  ///< case dates before "19990201"
  k9 = 1,  ///< "19990201" up to before "20020101"
  k0 = 2,  ///< "20020101" up to before "20030101"
  k1 = 3,  ///< "20030101" and later
};
// The element counts of each edition are in tables/formats.h.

// ---------------------------------------------------------------------------
// Diagnosis tables (DXTAB8, DXTAB9, DXTAB0, DXTAB1)

struct DiagnosisClass {
  uint8_t mdc = 0;     ///< MDC of a principal diagnosis of the class; 0 gives none, 15 newborn
  uint8_t drgKey = 0;  ///< key a DRG rule may demand of the principal diagnosis
  uint8_t ccFlag = 0;  ///< 1: counts as a CC as a secondary diagnosis unless excluded
  std::array<uint8_t, 5> dxMask{};  ///< diagnosis attribute bits (class bytes 3-7)
};

inline constexpr int32_t kRefinedCcSearch = -2;
inline constexpr int16_t kCcRowSearch = -2;

// What the grouping of a case reads of one diagnosis entry, in eight bytes,
// so that a diagnosis brings its class, its CC key and its rows in one cache
// line: the separate arrays of the four editions are too large to stay in
// the cache together.
struct DiagnosisEntryFacts {
  int16_t classIndex = 0;  ///< entryClass - 1
  int16_t ccKey = 0;       ///< entryCcRow (editions 8 and 9), else 0
  // The row of the edition's CC exclusion table that FindCcRow gives for the
  // entry's key (CCTAB and entryCcRow for editions 8 and 9, CCTAB0/CCTAB1
  // and the entry itself for editions 0 and 1), or -1; kCcRowSearch when
  // not made.
  int16_t ccExclusionRow = kCcRowSearch;
  // The RDRGCC row of the edition that FirstRefinedCcRow gives for the
  // entry's code, or -1; kRefinedCcSearch for an entry that no code reaches
  // or more than one does (categories that share entries), or when not made.
  int16_t refinedCcRow = kRefinedCcSearch;
};
static_assert(sizeof(DiagnosisEntryFacts) == 8);

struct DiagnosisTable {
  int entryCount = 0;                                  ///< n of the edition
  std::array<uint8_t, kCategorySlots> categoryCount{};  ///< entries of the category, 0..127
  std::array<int16_t, kCategorySlots> categoryStart{};  ///< index of its first entry
  std::vector<uint8_t> entryTail;
  std::vector<int16_t> entryClass;   ///< class number, 1-based
  std::vector<int16_t> entryCcRow;   ///< key into CCTAB (editions 8 and 9)
  std::vector<char> neonateMark;     ///< RDRGNEO mark of the entry's code, '0' none
  std::vector<DiagnosisClass> classes;  ///< 383 records; class k at k - 1
  // Made at load (MakeCcExclusionRows): what the grouping reads of each
  // entry, side by side (see DiagnosisEntryFacts). Empty when not made.
  std::vector<DiagnosisEntryFacts> entryFacts;

  // Class record of an entry that belongs to a category (validated at load).
  const DiagnosisClass& ClassOf(int entry) const { return classes[entryClass[entry] - 1]; }
};

// ---------------------------------------------------------------------------
// Procedure tables (SGTAB8, SGTAB9, SGTAB0)

// 26 bytes of bits: byte 0 class flags (0x01 operating-room procedure, 0x02
// the second property), bytes 1-20 procMask, 21-22 nonOrMask, 23-25 further
// attribute bits.
struct ProcedureClass {
  std::array<uint8_t, 26> bytes{};
};
inline constexpr int kProcMaskOffset = 1;
inline constexpr int kProcMaskBytes = 20;
inline constexpr int kNonOrMaskOffset = 21;

struct ProcedureTable {  // editions 8 and 9
  int entryCount = 0;                                  ///< m
  std::array<uint8_t, kCategorySlots> categoryCount{};  ///< 0..255
  std::array<int16_t, kCategorySlots> categoryStart{};
  std::vector<uint8_t> entryTail;
  std::vector<int16_t> entryClass;  ///< 1-based
  std::vector<ProcedureClass> classes;
  // Made at load (MakeCodeIndex): for every code SearchProcedureTable finds,
  // the entry it finds. Empty when not made.
  CodeIndex codeIndex;

  const ProcedureClass& ClassOf(int entry) const { return classes[entryClass[entry] - 1]; }
};

// One five-character code of SGTAB0 as stored (no terminator).
using RowCode = std::array<char, 5>;

struct DatedProcedureTable {  // SGTAB0, editions 0 and 1
  std::vector<RowCode> codes;        ///< 1608 rows
  std::vector<int32_t> validFrom;    ///< YYYYMMDD as a number, inclusive
  std::vector<int32_t> validTo;      ///< inclusive
  std::vector<ProcedureClass> classes;  ///< class of row i at i

  // Index built at load: every distinct code with the first row that holds
  // it and the number of rows from there on that hold it too, sorted by code.
  // A code is compared as five characters ending early at a NUL, so the key
  // is PackCodeToNul of the code.
  struct FirstRow {
    uint64_t key;
    int row;
    int run;  ///< rows from `row` on whose code is the key, one after another
  };
  std::vector<FirstRow> firstRows;
  // Made with firstRows (MakeCategoryIndex): at category c (codes.h), the
  // first place in firstRows whose key is not below those of c's codes, and
  // firstRows.size() at kCategorySlots. Empty when not made: FirstRowOf then
  // bisects the whole of firstRows.
  std::vector<int32_t> categoryFirst;
  // Made with firstRows (MakeRunIndex): the key of every entry of firstRows
  // with its row (kRunRowBits) and its run above them. Empty when not made:
  // RunOf then searches firstRows.
  CodeIndex runIndex;
  static constexpr int kRunRowBits = 11;

  // The first row whose code equals the five characters at `code` (-1 when
  // none does), and how many rows from it on hold the code one after another
  // (0 when none does). Gives the same rows as a scan of the codes from row 0.
  struct Run {
    int first = -1;
    int count = 0;
  };
  Run RunOf(const char* code) const;
  int FirstRowOf(const char* code) const { return RunOf(code).first; }
};

// ---------------------------------------------------------------------------
// DRG rule tables (DGTAB, DGTAB0)

struct DrgRule {
  std::array<uint8_t, 46> bytes{};  ///< 0 drgKey, 1-42 require, 43 drgDigit, 44-45 drgNumber (BE)
};

// Rule bytes 1-42 as six 64-bit words in the layout of the case attribute
// mask: rule byte k + 1 is byte k of the words, byte k % 8 of word k / 8
// counted from the least significant end; bytes 42-47 are zero.
using RuleWords = std::array<uint64_t, 6>;
RuleWords RequireWordsOf(const DrgRule& rule);
uint64_t RequireWordOf(const DrgRule& rule, std::size_t w);  ///< RequireWordsOf(rule)[w]

// What the rule walk reads of every rule it tries, in one cache line.
struct alignas(64) WalkRule {
  RuleWords words{};        ///< RequireWordsOf(rule)
  uint16_t conditions = 0;  ///< rule byte 2 | rule byte 3 << 8
};
WalkRule WalkRuleOf(const DrgRule& rule);

struct DrgRuleTable {
  std::array<int16_t, kMdcSlots> mdcRuleStart{};  ///< 1-based first rule of MDC m at m - 1
  std::array<uint8_t, kMdcSlots> mdcRuleCount{};
  std::vector<DrgRule> rules;
  std::vector<WalkRule> walkRules;  ///< made at load: WalkRuleOf(rules[i]) at i
  // Made at load: for MDC m and principal key k, the rules of the MDC whose
  // drgKey is 0 or k, in file order, as positions among the MDC's rules.
  // The list of (m, k) is keyedRules[f, f + c) for keyedRunOf[(m - 1) * 256
  // + k] = f << 8 | c.
  std::vector<uint32_t> keyedRunOf;
  std::vector<uint8_t> keyedRules;
  // RequireWordOf(rule, 0) for the rule at each entry of keyedRules,
  // side by side, so that a walk rejects most rules on a few words read in
  // order.
  std::vector<uint64_t> keyedWord0;

  // The rules of MDC m (1..30) in file order; empty for other m and for a
  // count of 0.
  std::span<const DrgRule> RulesOf(int mdc) const;
  // The rules of MDC m that a principal key does not pass over, as positions
  // in RulesOf(m); empty when the lists were not made.
  std::span<const uint8_t> KeyedRulesOf(int mdc, uint8_t key) const;
  // Makes keyedRunOf, keyedRules and keyedWord0 from mdcRuleStart,
  // mdcRuleCount and rules.
  void MakeKeyedRules();
};

// drgNumber * 10 + drgDigit, as stored (the digit byte may exceed 9).
int DrgValueOf(const DrgRule& rule);

// ---------------------------------------------------------------------------
// CC exclusion tables (CCTAB range-keyed; CCTAB0, CCTAB1 entry-keyed)

struct CcExclusionTable {
  bool rangeKeyed = false;          ///< CCTAB
  std::vector<int16_t> keyFirst;    ///< CCTAB keyFirst; CCTAB0/1 keyEntry
  std::vector<int16_t> keyLast;     ///< CCTAB keyFirst + span, wrapped to 16 bits; CCTAB0/1 = keyFirst
  std::vector<int16_t> listOffset;  ///< byte offset in listArea (validated)
  std::vector<uint8_t> listLength;  ///< items
  std::vector<uint8_t> listArea;
  // Made at load (MakeCcRowIndex): the row FindCcRow gives each key, from
  // the key rowIndexLow on; empty when no row holds a key. A table built by
  // hand has none made, and CcRowFinder makes its own.
  bool rowIndexMade = false;
  int rowIndexLow = 0;
  std::vector<int16_t> rowOfKey;
};

// Makes the row index of a loaded table (keys as loaded).
void MakeCcRowIndex(CcExclusionTable& table);

// The row for a key by the bisection over the rows, or -1.
int FindCcRow(const CcExclusionTable& table, int key);

// FindCcRow for many keys of one table: each key's row is read from an
// array over the keys of the rows' ranges, made by one walk over the
// bisection's brackets, in order or not: the table's own row index when the
// loader made it, else one made at construction. Find(key) ==
// FindCcRow(table, key).
class CcRowFinder {
 public:
  explicit CcRowFinder(const CcExclusionTable& table);
  CcRowFinder(const CcRowFinder&) = delete;  // the view may point into own_
  CcRowFinder& operator=(const CcRowFinder&) = delete;
  int Find(int key) const;

 private:
  const CcExclusionTable& table_;
  int low_ = 0;                       ///< the key at rowOfKey_[0]
  std::span<const int16_t> rowOfKey_; ///< empty: no row holds a key (FindCcRow answers)
  std::vector<int16_t> own_;          ///< the index when the table has none made
};

// Whether x is in the exclusion list of a row.
bool InExclusionList(const CcExclusionTable& table, int row, int x);

// ---------------------------------------------------------------------------
// Refined-DRG tables (RDRGCC*, RDRGDRG, RDRGCL; RDRGNEO* merged above)

struct RefinedCcRow {
  std::array<char, 5> code{};
  int8_t sexCondition = 0;     ///< 0 either sex, else the sex code
  int8_t statusCondition = 0;  ///< non-zero: not when the discharge status is 999
  int16_t ccDrg = 0;           ///< DRG value
  int8_t levelRow = 0;         ///< 0-based LevelMatrix row (validated 0..61)
};

struct RefinedCcTable {
  std::vector<RefinedCcRow> rows;  ///< N rows of the edition, sorted by code
  // Made at load (MakeCcExclusionRows): PackCode of each row's code, so the
  // bisection compares integers. Empty in a table built by hand.
  std::vector<uint64_t> keys;
};

// The bisection over the rows of a refined CC table for a packed code: a row
// of the code stepped back once to the code's first row (a code has at most
// two rows), or -1. Rows out of code order may hide a code's rows.
int FirstRefinedCcRow(const RefinedCcTable& table, uint64_t key);

// FirstRefinedCcRow for many keys of one table with its keys made: when
// the keys are in order, a key is found by galloping from the last one found,
// and only a code of several rows takes the bisection (which need not stop
// at its first row). Find(key) == FirstRefinedCcRow(table, key).
class RefinedCcRowFinder {
 public:
  explicit RefinedCcRowFinder(const RefinedCcTable& table);
  int Find(uint64_t key);

 private:
  const RefinedCcTable& table_;
  bool ordered_ = true;
  std::size_t finger_ = 0;
};

struct RefinedDrgSlot {
  bool filled = false;       ///< some RDRGDRG line named this slot
  int16_t refinedDrg = 0;
  bool ageSplit = false;
  int8_t levelColumn = -1;   ///< 0-based LevelMatrix column; negative: none (validated <= 85)
  char drgType = ' ';        ///< 'M' medical
};

struct RefinedDrgTable {
  std::vector<RefinedDrgSlot> slots;  ///< 4770, slot = DRG value - 1
};

struct LevelMatrix {
  // Level characters; positions past the end of a shorter line hold '0'.
  std::array<std::array<char, kLevelColumns>, kLevelRows> levels{};
  std::array<uint8_t, kLevelRows> lineLength{};  ///< characters the line had (up to 86)
  char At(int row, int column) const { return levels[row][column]; }
};

// ---------------------------------------------------------------------------
// Procedure code conversions read from optional files in the table
// directory ("FROM TO" a line). Sorted by from-code; no from-code twice.

struct CodePair {
  RowCode from;
  RowCode to;
};

struct CodeMapFile {
  bool present = false;
  std::vector<CodePair> pairs;
};

inline constexpr char kCodeMapJan2001File[] = "SGMAPJ1";  // conversions of January 2001
inline constexpr char kCodeMap2001File[] = "SGMAP1";      // conversions from February 2001

// ---------------------------------------------------------------------------
// The whole set

class CodeConversions;

class TableSet {
 public:
  TableSet() = default;
  TableSet(const TableSet&) = delete;
  TableSet& operator=(const TableSet&) = delete;

  std::array<DiagnosisTable, kEditionCount> diagnosis;  ///< by Edition
  std::array<ProcedureTable, 2> procedure;              ///< SGTAB8, SGTAB9
  DatedProcedureTable datedProcedure;                   ///< SGTAB0
  std::array<DrgRuleTable, 2> drgRules;                 ///< DGTAB, DGTAB0
  CcExclusionTable ccRange;                             ///< CCTAB
  std::array<CcExclusionTable, 2> ccEntry;              ///< CCTAB0, CCTAB1
  std::array<RefinedCcTable, kEditionCount> refinedCc;  ///< by Edition
  RefinedDrgTable refinedDrg;
  LevelMatrix levelMatrix;
  CodeMapFile codeMapJan2001;
  CodeMapFile codeMap2001;

  // The index of the procedure code conversions (grouper/code_maps.h), made
  // by the first Grouper of the set and shared by every later one.
  mutable std::once_flag conversionsMade;
  mutable std::shared_ptr<const CodeConversions> conversions;
};

// ---------------------------------------------------------------------------
// The per-case view of one edition (references only).

struct EditionView {
  Edition edition = Edition::k8;
  const DiagnosisTable* diagnosis = nullptr;
  const ProcedureTable* procedure = nullptr;        ///< editions 8, 9; else nullptr
  const DatedProcedureTable* datedProcedure = nullptr;  ///< always set
  const DrgRuleTable* drgRules = nullptr;
  const RefinedCcTable* refinedCc = nullptr;
};

// Made at load from SGTAB0's firstRows: categoryFirst and runIndex.
void MakeCategoryIndex(DatedProcedureTable& table);
void MakeRunIndex(DatedProcedureTable& table);

// The searches of the category-indexed tables. A code is five characters
// (codes.h).
// The entry of a diagnosis code, or -1: the category's first entry whose tail
// equals the code's; before the dated tables the first whose tail is not below
// it, when that one is equal. Of two adjacent entries with the code a female
// case gets the second.
int SearchDiagnosisTable(const DiagnosisTable& t, const char* code, bool beforeDated, bool female);
// The category's first entry whose tail equals the code's, or -1.
int FirstDiagnosisEntryOf(const DiagnosisTable& t, const char* code);
// Both of them in one walk over the category's tails, as the lookups of a
// case want them: caseEntry as SearchDiagnosisTable, firstEntry as
// FirstDiagnosisEntryOf.
struct DiagnosisFound {
  int caseEntry = -1;
  int firstEntry = -1;
};
DiagnosisFound FindDiagnosisCode(const DiagnosisTable& t, const char* code, bool beforeDated,
                                 bool female);
// The first procedure entry whose tail is not below the code's, when that one
// is equal (the code's fourth and fifth characters each a digit or a blank),
// or -1. The code index stands for it.
int SearchProcedureTable(const ProcedureTable& t, const char* code);
// Makes the code index from the loaded category index, tails and counts.
void MakeCodeIndex(ProcedureTable& table);

// Makes DiagnosisTable::entryFacts of every edition from the loaded
// diagnosis, CC exclusion and refined CC tables, and RefinedCcTable::keys.
void MakeCcExclusionRows(TableSet& tables);
// The same for the diagnosis table of one edition, and for one refined CC
// table, after one of the tables they are made from was read again: the
// entries' classes and CC keys always, and the CC exclusion rows of its
// entries, their RDRGCC rows, or both.
enum class MadeRows : uint8_t { kCcExclusion = 1, kRefinedCc = 2, kBoth = 3 };
void MakeCcExclusionRows(TableSet& tables, Edition edition, MadeRows rows = MadeRows::kBoth);
void MakeRefinedCcKeys(RefinedCcTable& refined);

// The CC exclusion table the diagnoses of an edition are keyed into.
const CcExclusionTable& CcExclusionTableOf(const TableSet& tables, Edition edition);

// The edition of a case date: the first eight characters compared with
// "19990201", "20020101" and "20030101".
inline Edition EditionOf(const char* caseDate) {
  constexpr uint64_t k9From = PackDate("19990201");
  constexpr uint64_t k0From = PackDate("20020101");
  constexpr uint64_t k1From = PackDate("20030101");
  const uint64_t date = PackDate(caseDate);
  if (date < k9From) return Edition::k8;
  if (date < k0From) return Edition::k9;
  if (date < k1From) return Edition::k0;
  return Edition::k1;
}
EditionView SelectEdition(const TableSet& tables, const char* caseDate);
// The view SelectEdition gives for every date of the edition.
EditionView EditionViewOf(const TableSet& tables, Edition edition);

}  // namespace tallow
