// Code lookups: a code of the case to its entry in the active tables.
#include "grouper/lookup.h"

#include <cstddef>
#include <cstdint>

#include "grouper/values.h"
#include "tables/branch_free.h"
#include "tables/codes.h"

namespace tallow {
namespace {

// The lookups change their search, and the class records of procedures
// change their table, on this date.
constexpr char kDatedTablesFrom[] = "20020101";

bool BeforeDatedTables(const GroupState& s) { return DateBefore(s.caseDate, kDatedTablesFrom); }

// Entries of a diagnosis category: the stored count as a signed 8-bit value,
// so a category holds at most 127 entries and a larger count none.
int DiagnosisCategoryCount(const DiagnosisTable& t, int category) {
  return static_cast<int8_t>(t.categoryCount[category]);
}

bool SameCode(const char* a, const char* b) { return PackCodeToNul(a) == PackCodeToNul(b); }

}  // namespace

int LookupDiagnosisCode(const GroupState& s, const char* code) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/true, &key)) return -1;

  const DiagnosisTable& t = *s.active.diagnosis;
  const int count = DiagnosisCategoryCount(t, key.category);
  if (count <= 0) return -1;
  const int start = t.categoryStart[key.category];
  const int end = start + count;

  // Before the dated tables, tails ascend within a category: the first tail
  // not below the key decides. From them on, the first equal tail.
  const uint8_t* tails = t.entryTail.data();
  const std::size_t size = t.entryTail.size();
  const auto tail = static_cast<uint8_t>(key.tail);
  int found = -1;
  if (BeforeDatedTables(s)) {
    const int e = FirstTail<TailMatch::kAtLeast>(tails, size, start, count, tail);
    if (e >= 0 && tails[e] == tail) found = e;
  } else {
    found = FirstTail<TailMatch::kEqual>(tails, size, start, count, tail);
  }
  if (found < 0) return -1;

  // A code held by two adjacent entries: the second serves female cases.
  if (found + 1 < end && s.sex == 2 && t.entryTail[found + 1] == key.tail) return found + 1;
  return found;
}

int FindDiagnosisEntry(const GroupState& s, const char* code) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/true, &key)) return -1;
  const DiagnosisTable& t = *s.active.diagnosis;
  const int count = DiagnosisCategoryCount(t, key.category);
  if (count <= 0) return -1;
  return FirstTail<TailMatch::kEqual>(t.entryTail.data(), t.entryTail.size(),
                                      t.categoryStart[key.category], count,
                                      static_cast<uint8_t>(key.tail));
}

int LookupProcedureCode(const GroupState& s, const char* code) {

  // After a pass that ended in MDC 14 with DRG 468 these codes count as
  // absent, so that the next pass groups without them.
  if (s.mdc == kRepeatPassMdc && s.finalDrg == kUnrelatedOrDrg &&
      !DateBefore(s.caseDate, "19980401") && DateBefore(s.caseDate, kDatedTablesFrom) &&
      (SameCode(code, "M0101") || SameCode(code, "M0103") || SameCode(code, "Q2950"))) {
    return -2;
  }

  if (BeforeDatedTables(s)) {
    const ProcedureTable* t = s.active.procedure;
    if (t == nullptr) return -1;  // the active edition has no category-indexed table
    DecodedCode key;
    if (!DecodeCode(code, /*strictTail=*/false, &key)) return -1;
    const int count = t->categoryCount[key.category];
    if (count == 0) return -1;
    const auto tail = static_cast<uint8_t>(key.tail);
    const int e = FirstTail<TailMatch::kAtLeast>(t->entryTail.data(), t->entryTail.size(),
                                                 t->categoryStart[key.category], count, tail);
    return e >= 0 && t->entryTail[e] == tail ? e : -1;
  }

  // Dated rows: the first row of the code, then along the run of that code
  // the first row whose span holds the case date (both bounds inclusive).
  const DatedProcedureTable& t = *s.active.datedProcedure;
  const int date = CaseDateNumber(s);
  if (date < 0) return -1;  // a date with a non-digit lies in no span
  const DatedProcedureTable::Run run = t.RunOf(code);
  for (int r = run.first, end = run.first + run.count; r < end; ++r) {
    if (t.validFrom[r] <= date && date <= t.validTo[r]) return r;
  }
  return -1;
}

}  // namespace tallow
