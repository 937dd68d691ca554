// Code lookups: a code of the case to its entry in the active tables.
#include "grouper/lookup.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "grouper/values.h"
#include "tables/codes.h"

namespace tallow {
namespace {

// The lookups change their search, and the class records of procedures
// change their table, on this date.
constexpr char kDatedTablesFrom[] = "20020101";

bool BeforeDatedTables(const GroupState& s) { return DateBefore(s.caseDate, kDatedTablesFrom); }

bool SameCode(const char* a, const char* b) { return PackCodeToNul(a) == PackCodeToNul(b); }

}  // namespace

int LookupDiagnosisCode(const GroupState& s, const char* code) {
  return FindDiagnosisCode(*s.active.diagnosis, code, BeforeDatedTables(s), s.sex == 2).caseEntry;
}

int LookupDiagnosisAt(const GroupState& s, int position) {
  const char* code = s.diagnosisWork[static_cast<std::size_t>(position)].code;
  if (IsBlankCode(code)) return -2;
  const DiagnosisFound found = FindDiagnosisCode(*s.active.diagnosis, code, BeforeDatedTables(s), s.sex == 2);
  // What FindDiagnosisEntry gives for the code, found by the same walk.
  CcMemo& memo = s.ccMemo;
  if (memo.enabled) memo.firstEntry[static_cast<std::size_t>(position)] = static_cast<int16_t>(found.firstEntry);
  // The case mask reads the entry's facts once every code is looked up:
  // ask for their line now, so that its wait overlaps the other lookups.
  const std::vector<DiagnosisEntryFacts>& facts = s.active.diagnosis->entryFacts;
  if (found.caseEntry >= 0 && !facts.empty()) {
    __builtin_prefetch(&facts[static_cast<std::size_t>(found.caseEntry)]);
  }
  return found.caseEntry;
}

int FindDiagnosisEntry(const GroupState& s, const char* code) {
  return FirstDiagnosisEntryOf(*s.active.diagnosis, code);
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
