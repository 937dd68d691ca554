// The fixed code lists of the refined group code.
//
// These lists are part of the program, not of the table files: the accepted
// six-digit group codes of each date window (L1-L8), the diagnoses tied to
// one sex per MDC, the B20-B24 list, the diagnoses excluded from "20030901",
// the DRG 358 procedure list, the procedure lists of the code splits (R, C1-C3,
// S1-S6b) and the exempt case identifiers.
//
// Every list is a sorted constant array built at compile time; membership is
// a binary search. Nothing here allocates or changes.
#pragma once

#include <cstdint>
#include <span>

namespace tallow {

// Accepted six-digit group codes by date window (see MakeRefinedCode).
enum class AcceptedCodeList : uint8_t {
  kL1,  ///< "19980201" to before "19990201"
  kL2,  ///< "19990201" to before "19990901" (identifier "11100010": from "19990524" L3)
  kL3,  ///< identifier "11100010", "19990524" to before "20000701"
  kL4,  ///< L3 without the stems 146x-154x and 1590: "19990901" to before "20000701"
  kL5,  ///< L3 without 0890 and 0891: identifier "11100010", "20000701" to before "20001106"
  kL6,  ///< "20000701" to before "20020101" otherwise
  kL7,  ///< "20020101" to before "20030901"
  kL8,  ///< L7 without 3720, 3730, 3721, 3731: from "20030901"
};

// Whether the code (0..999999) is one of the list's codes.
bool InAcceptedCodeList(AcceptedCodeList list, int32_t code);

// The list's codes in ascending order.
std::span<const int32_t> AcceptedCodes(AcceptedCodeList list);

// Lists of five-character codes (blank-padded).
enum class CodeList : uint8_t {
  kDrg358,         ///< procedures that keep DRG 3583 apart from "R4125"/"R4126" (15)
  kB20B24,         ///< principal diagnoses B20-B24 (26)
  kExclusion2003,  ///< diagnoses that void the group code from "20030901" (37)
  kR,              ///< MDC 17 procedures (10)
  kC1,             ///< DRG 106/107 procedures (7)
  kC2,             ///< (14)
  kC3,             ///< (4)
  kS1,             ///< DRG 4 and 214 procedures (9)
  kS2,             ///< (4)
  kS3,             ///< (6)
  kS4,             ///< (4)
  kS5a,            ///< DRG 4 only (16)
  kS6a,            ///< DRG 4 only (7)
  kS5b,            ///< DRG 214 only (16)
  kS6b,            ///< DRG 214 only (6)
};

// Whether the first five characters at `code` equal one of the list's codes.
// A null code reads as five blanks.
bool InCodeList(CodeList list, const char* code);

// The list's codes packed by PackCode, in ascending order.
std::span<const uint64_t> PackedCodes(CodeList list);

// The sex rules: whether the principal diagnosis `code` is one of the codes
// that the table ties to the other sex for this MDC and sex (the case then
// cannot be grouped). A null code reads as five blanks.
bool SexRuleMatches(int mdc, int sex, const char* code);

// Whether the eight characters at `identifier` are one of the exempt case
// identifiers, whose group code skips the exclusion list and the accepted
// lists. A null identifier is not exempt.
bool IsExemptIdentifier(const char* identifier);

}  // namespace tallow
