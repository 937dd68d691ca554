// The procedure code conversions that the program carries itself.
//
// Between 1999-11-15 and the end of 2001 some procedure codes of a case are
// replaced by other codes, or withdrawn (blanked), before any lookup. The
// lists here are constant and sorted by from-code on first use; no from-code
// occurs twice in a list and no list holds a blank code.
//
// Two of the lists, the conversions of January 2001 and those from February
// 2001 on, are long (about a thousand pairs each). The program carries the
// pairs that are known to it; a table directory may supply the complete
// lists as optional files (TableSet::codeMapJan2001, TableSet::codeMap2001),
// which then replace the built-in ones.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tables/table_set.h"

namespace tallow {

using CodeMap = std::span<const CodePair>;

// Codes withdrawn in November 1999 (44 codes), sorted.
std::span<const RowCode> WithdrawnCodes1999();
// Conversions from 1999-11-15 (127 pairs), sorted by from-code.
CodeMap CodeMap1999();
// Conversions from 2000-04-01 (5 pairs), sorted by from-code.
CodeMap CodeMap2000();
// The built-in part of the conversions of January 2001, sorted by from-code.
CodeMap BuiltInCodeMapJan2001();
// The built-in part of the conversions from February 2001, sorted by from-code.
CodeMap BuiltInCodeMap2001();

// The January 2001 and from-February-2001 lists in force for a table set:
// the complete list of the optional file when the set carries one, else the
// built-in list. `tables` may be null.
CodeMap ActiveCodeMapJan2001(const TableSet* tables);
CodeMap ActiveCodeMap2001(const TableSet* tables);

// Codes compare over at most five characters, ending early at a NUL; the
// order is that of the characters as unsigned values. Both arguments point
// at five characters (no terminator needed). Negative, 0 or positive.
int CompareCodes(const char* a, const char* b);

// The to-code of `code` in a map sorted by from-code, or nullptr.
const RowCode* FindConversion(CodeMap map, const char* code);

// Whether `code` is in a sorted code list.
bool ContainsCode(std::span<const RowCode> codes, const char* code);

// The conversion steps of case code preparation, in the order they apply.
enum ConversionStep : int {
  kStepWithdrawn1999,  // blank from 1999-11-15
  kStepMap1999,        // converted from 1999-11-15 (a withdrawn code is not)
  kStepN0471,          // N0471 to N0470 from 2000-03-08
  kStepP4555,          // P4555 blank from 2000-04-01
  kStepMap2000,        // converted from 2000-04-01
  kStepS5521,          // S5521 and S5522 to S5520 from 2000-05-01
  kStepJan2001,        // converted in January 2001
  kStepFrom2001,       // converted from February 2001
  kConversionSteps
};

// Every code that a conversion step names, each with what every step makes
// of it. Made once for a table set (the two long lists may come from it), so
// that a case code is looked up once rather than in every list. A code not
// held here is left as it is by every step.
class CodeConversions {
 public:
  struct Entry {
    uint8_t steps = 0;  ///< bit k: step k changes the code
    std::array<RowCode, kConversionSteps> to{};
  };

  // `tables` may be null: the built-in lists.
  explicit CodeConversions(const TableSet* tables);

  // The entry of a code packed by PackCodeToNul, or null.
  const Entry* Find(uint64_t key) const;

 private:
  std::vector<uint64_t> keys_;  ///< sorted
  std::vector<Entry> entries_;  ///< in the order of keys_
  CodeIndex index_;             ///< each key with its place in keys_
};

}  // namespace tallow
