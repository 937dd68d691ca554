// Code lookups in the tables of the active edition.
//
// An entry is an index into the diagnosis table or the procedure table of
// the edition (for editions 0 and 1 a row of the dated procedure table).
// -1 stands for a malformed code or a code that is not in the table, -2 for
// a blank code.
#pragma once

#include "grouper/group_state.h"
#include "tables/codes.h"
#include "tables/table_set.h"

namespace tallow {

// LookupDiagnosis and LookupProcedure of a code that is not blank.
int LookupDiagnosisCode(const GroupState& s, const char* code);
int LookupProcedureCode(const GroupState& s, const char* code);

// The entry of the work diagnosis at position (0 is the principal).
inline int LookupDiagnosis(const GroupState& s, int position) {
  const char* code = s.diagnosisWork[position].code;
  return IsBlankCode(code) ? -2 : LookupDiagnosisCode(s, code);
}

// LookupDiagnosis that also remembers, while the CC memo is enabled, the
// first entry of the code (FindDiagnosisEntry) for the CC searches.
int LookupDiagnosisAt(const GroupState& s, int position);

// The entry of five characters of a diagnosis code in the active edition.
int FindDiagnosisEntry(const GroupState& s, const char* code);

// The entry of the work procedure at position.
inline int LookupProcedure(const GroupState& s, int position) {
  const char* code = s.procedureWork[position].code;
  return IsBlankCode(code) ? -2 : LookupProcedureCode(s, code);
}

// The class record of a diagnosis entry of the active edition (by the
// entry's facts when they were made).
inline const DiagnosisClass& DiagnosisClassOf(const GroupState& s, int entry) {
  const DiagnosisTable& t = *s.active.diagnosis;
  if (t.entryFacts.empty()) return t.ClassOf(entry);
  return t.classes[static_cast<std::size_t>(t.entryFacts[static_cast<std::size_t>(entry)].classIndex)];
}

// The class record of a procedure entry: for case dates before "20020101"
// the class of the entry in the edition's procedure table, otherwise the
// class of the dated procedure table row. A loop over many entries may test
// the date once and pass beforeDatedTables.
inline const ProcedureClass& ProcedureClassOf(const GroupState& s, int entry,
                                              bool beforeDatedTables) {
  if (beforeDatedTables) return s.active.procedure->ClassOf(entry);
  return s.active.datedProcedure->classes[entry];
}
inline const ProcedureClass& ProcedureClassOf(const GroupState& s, int entry) {
  return ProcedureClassOf(s, entry, DateBefore(s.caseDate, "20020101"));
}

}  // namespace tallow
