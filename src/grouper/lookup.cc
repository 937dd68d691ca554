// Code lookups: a code of the case to its entry in the active tables.
#include "grouper/lookup.h"

#include <cstddef>
#include <cstdint>

#include "grouper/values.h"
#include "tables/codes.h"

namespace tallow {
namespace {

// The lookups change their search, and the class records of procedures
// change their table, on this date.
constexpr char kDatedTablesFrom[] = "20020101";

bool BeforeDatedTables(const GroupState& s) { return DateBefore(s.caseDate, kDatedTablesFrom); }

bool SameCode(const char* a, const char* b) { return PackCodeToNul(a) == PackCodeToNul(b); }

// The entry of the case for what the code index found of a code.
int CaseEntryOf(const GroupState& s, int32_t found) {
  if (found < 0 || (BeforeDatedTables(s) && !(found & DiagnosisTable::kCodeFoundBefore))) return -1;
  const int e = found & DiagnosisTable::kCodeEntryBits;
  return s.sex == 2 && (found & DiagnosisTable::kCodeFemaleBump) ? e + 1 : e;
}

}  // namespace

int LookupDiagnosisCode(const GroupState& s, const char* code) {
  const DiagnosisTable& t = *s.active.diagnosis;
  if (t.codeIndex.empty()) return SearchDiagnosisTable(t, code, BeforeDatedTables(s), s.sex == 2);
  return CaseEntryOf(s, t.codeIndex.Find(PackCode(code)));
}

int LookupDiagnosisAt(const GroupState& s, int position) {
  const char* code = s.diagnosisWork[static_cast<std::size_t>(position)].code;
  if (IsBlankCode(code)) return -2;
  const DiagnosisTable& t = *s.active.diagnosis;
  if (t.codeIndex.empty()) return LookupDiagnosisCode(s, code);
  const int32_t found = t.codeIndex.Find(PackCode(code));
  // What FindDiagnosisEntry gives for the code, found by the same search.
  CcMemo& memo = s.ccMemo;
  if (memo.enabled) {
    memo.firstEntry[static_cast<std::size_t>(position)] =
        static_cast<int16_t>(found < 0 ? -1 : found & DiagnosisTable::kCodeEntryBits);
  }
  return CaseEntryOf(s, found);
}

int FindDiagnosisEntry(const GroupState& s, const char* code) {
  const DiagnosisTable& t = *s.active.diagnosis;
  if (t.codeIndex.empty()) return FirstDiagnosisEntryOf(t, code);
  const int32_t found = t.codeIndex.Find(PackCode(code));
  return found < 0 ? -1 : found & DiagnosisTable::kCodeEntryBits;
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
    if (t->codeIndex.empty()) return SearchProcedureTable(*t, code);
    return t->codeIndex.Find(PackCode(code));
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
