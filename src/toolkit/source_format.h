// Internals shared by build, dump, check and synth: the table kinds with
// their fixed sizes, the tokenizer of the source text and the field forms
// (numbers, codes, masks, lists, quoted texts) in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/formats.h"
#include "tables/status.h"
#include "tables/table_set.h"

// Returns the Status of an expression from the enclosing function when it is
// not ok.
#define TALLOW_TRY(expr)                  \
  do {                                    \
    ::tallow::Status tallow_try_ = (expr); \
    if (!tallow_try_.ok()) return tallow_try_; \
  } while (false)

namespace tallow::toolkit {

using ::tallow::TableKind;

// A table of the set: its format (tables/formats.h) by name, kind and
// edition index.
struct TableInfo {
  std::string name;  ///< "DXTAB8"
  TableKind kind = TableKind::kDiagnosis;
  int index = 0;     ///< edition index (8, 9, 0, 1 -> 0..3) or 0/1 within a pair

  const FileFormat& format() const { return FileFormatOf(kind, index); }
};

// The table of a name, a name with ".txt", or a path ending in either.
std::optional<TableInfo> FindTable(std::string_view nameOrPath);

bool IsTextTable(TableKind kind);
// Fixed byte size of a binary table.
std::size_t BinarySize(const TableInfo& table);
// Lines the loader reads from a text table; -1 for RDRGNEO (to the end).
int FixedLines(const TableInfo& table);
// Longest line the loader's bounded reader takes as one line.
int MaxLineLength(TableKind kind);

// How many lines the loader's bounded reader takes from these lines, each
// ended by a line feed (CR LF with crlf): a line longer than the reader's
// limit counts once for every piece.
int LoaderLines(const std::vector<std::string>& lines, bool crlf, TableKind kind);

// Record sizes of the binary layouts.
inline constexpr int kIndexBytes = kCategorySlots * CategoryRecord::kBytes;  // DXTAB, SGTAB8/9
inline constexpr int kDiagnosisEntryBytes = DiagnosisEntryRecord::kBytes;
inline constexpr int kDiagnosisClassBytes = DiagnosisClassRecord::kBytes;
inline constexpr int kProcedureEntryBytes = ProcedureEntryRecord::kBytes;
inline constexpr int kProcedureClassBytes = ProcedureClassRecord::kBytes;
inline constexpr int kRuleBytes = DrgRuleRecord::kBytes;
inline constexpr int kRuleIndexBytes = kMdcSlots * MdcIndexRecord::kBytes;
inline constexpr int kRequireBytes = DrgRuleRecord::kRequire.width;
inline constexpr int kCcRangeRowBytes = CcRangeRecord::kBytes;
// CCTAB0/1: key, length and offset of a row, in three sections.
inline constexpr int kCcEntryRowBytes = CcKeyRecord::kBytes + CcLengthRecord::kBytes + CcOffsetRecord::kBytes;

// Inert padding that build appends and dump leaves out.
inline constexpr int kPaddingCcKey = 32767;
inline constexpr char kPaddingRefinedCcLine[] = "ZZZZZ0 0 0000 001";
inline constexpr char kDefaultRefinedDrgLine[] = "4700 4700 00";

// ---------------------------------------------------------------------------
// Source text

struct Token {
  std::string_view text;  ///< escapes resolved
  bool quoted = false;
};

struct SourceLine {
  int number = 0;  ///< 1-based line of the source
  std::span<const Token> tokens;
};

// The records of a source. The lines' tokens and their texts are held here,
// in two arrays for the whole source, so it is moved, never copied.
struct SourceRecords {
  SourceRecords() = default;
  SourceRecords(SourceRecords&&) = default;
  SourceRecords& operator=(SourceRecords&&) = default;
  SourceRecords(const SourceRecords&) = delete;
  SourceRecords& operator=(const SourceRecords&) = delete;

  std::vector<SourceLine> lines;
  std::vector<Token> tokens;
  std::vector<char> texts;  // a vector, not a string: a short string moves its bytes
};

// Splits a source into records: blank and comment lines are dropped, '#'
// outside quotes starts a comment, quoted texts take the escapes \\ \" \r \t
// \xHH.
Result<SourceRecords> SplitSource(const std::string& fileName, std::string_view source);

// The error "FILE line N: message".
Status LineError(const std::string& fileName, int line, std::string_view message);

// A text as a quoted token with escapes.
std::string Quote(std::string_view bytes);
// Whether a text can stand as a bare token (non-empty, printable, no blank,
// quote or '#').
bool IsBare(std::string_view text);
// Bare when possible, else quoted.
std::string TokenText(std::string_view text);

// Field parsers; each reports "FILE line N: ..." naming the field.
class FieldReader {
 public:
  FieldReader(const std::string& fileName, const SourceLine& line)
      : file_(fileName), line_(line) {}

  Status Fail(std::string_view message) const { return LineError(file_, line_.number, message); }
  // Demands exactly n tokens including the record word (or between min and max).
  Status Arity(std::size_t min, std::size_t max, std::string_view form) const;
  const Token& At(std::size_t i) const { return line_.tokens[i]; }
  std::size_t Size() const { return line_.tokens.size(); }
  int Line() const { return line_.number; }

  Status Number(std::size_t i, std::string_view what, long long min, long long max,
                long long* out) const;
  // A code of up to five characters, padded with blanks; quoted codes may
  // hold any bytes.
  Status Code(std::size_t i, std::string_view what, char out[5]) const;
  // A code of the category-indexed tables (diagnosis codes: strictTail).
  Status IndexedCode(std::size_t i, bool strictTail, DecodedCode* out) const;
  // Exactly one character.
  Status Char(std::size_t i, std::string_view what, char* out) const;
  // Dense hex: exactly n bytes.
  Status DenseHex(std::size_t i, std::string_view what, uint8_t* out, int n) const;
  // Sparse "INDEX:HH,..." or "-"; indexes firstIndex..firstIndex+n-1 map to
  // out[0..n-1].
  Status SparseBytes(std::size_t i, std::string_view what, int firstIndex, int n,
                     uint8_t* out) const;

 private:
  const std::string& file_;
  const SourceLine& line_;
};

// A hex byte of one or two digits.
bool ParseHexByte(std::string_view text, uint8_t* out);
// A decimal integer, with an optional '+', and nothing else.
bool ParseInteger(std::string_view text, long long* out);

// Inverse field forms for dump.
std::string DenseHexText(const uint8_t* bytes, int n);
// "-" when all zero; indexes numbered from firstIndex.
std::string SparseBytesText(const uint8_t* bytes, int n, int firstIndex);
// A stored code without its trailing blanks, as a token.
std::string CodeToken(const char* code);
// The category's three-character code ("A01").
std::string CategoryText(int category);
// The text lines of the field forms, exactly as build writes them.
// RDRGCC: code (5 characters), sex digit, status digit, DRG 0..9999, row 1..62.
std::string RefinedCcLine(std::string_view code, char sex, char status, int drg, int row);
// RDRGDRG: age ' ' for none; type ' ' for none (the line then ends after
// the column).
std::string RefinedDrgLine(int drg, int refined, char age, int column, char type);

// A DRG value field: "4680", or "468/12" when the digit byte is above 9.
std::string DrgText(int number, int digit);

}  // namespace tallow::toolkit
