// A case set up by hand over a GroupState, for driving the grouping steps
// one by one without the Grouper.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "grouper/decide.h"
#include "grouper/group_state.h"
#include "grouper/lookup.h"
#include "grouper/prepare.h"
#include "tables/table_set.h"

namespace tallow::testing {

class TestCase {
 public:
  // `tables` may be null for code preparation alone.
  explicit TestCase(std::shared_ptr<const TableSet> tables = nullptr, const char* date = "20020315")
      : tables_(std::move(tables)) {
    s.tables = tables_.get();
    s.request = &request;
    Date(date);
  }
  TestCase(const TestCase&) = delete;
  TestCase& operator=(const TestCase&) = delete;

  // Sets the case date and, with tables, the edition of that date.
  void Date(const char* yyyymmdd) {
    std::memcpy(date_, yyyymmdd, 8);
    s.caseDate = date_;
    if (tables_) s.active = SelectEdition(*tables_, date_);
  }

  // Codes without their trailing blanks; nullptr leaves the reference null.
  void Diagnoses(std::initializer_list<const char*> codes) {
    s.diagnosisCount = request.diagnosisCount = Fill(codes, dx_.data(), request.diagnosisCodes);
  }
  void Procedures(std::initializer_list<const char*> codes) {
    s.procedureCount = request.procedureCount = Fill(codes, px_.data(), request.procedureCodes);
  }

  // Code preparation, then every lookup (the procedures as in a real pass).
  void LookUp() {
    PrepareCaseCodes(s);
    for (int i = 0; i < s.diagnosisCount; ++i) s.diagnosisEntry[i] = LookupDiagnosis(s, i);
    for (int i = 0; i < s.procedureCount; ++i) s.procedureEntry[i] = LookupProcedure(s, i);
  }

  // LookUp, then a whole decision.
  void Decide() {
    LookUp();
    ResetDecision(s);
    DecideDrg(s);
  }

  std::string WorkProcedure(int i) const { return std::string(s.procedureWork[i].code, 5); }
  std::string WorkDiagnosis(int i) const { return std::string(s.diagnosisWork[i].code, 5); }

  GroupState s;
  GroupRequest request;

 private:
  using Code = std::array<char, 5>;
  template <std::size_t N>
  static int16_t Fill(std::initializer_list<const char*> codes, Code* store, const char* (&refs)[N]) {
    int n = 0;
    for (const char* c : codes) {
      if (c == nullptr) {
        refs[n] = nullptr;
      } else {
        store[n].fill(' ');
        std::memcpy(store[n].data(), c, std::min<std::size_t>(std::strlen(c), 5));
        refs[n] = store[n].data();
      }
      ++n;
    }
    return static_cast<int16_t>(n);
  }

  std::shared_ptr<const TableSet> tables_;
  char date_[9] = "        ";
  std::array<Code, kMaxDiagnoses> dx_{};
  std::array<Code, kMaxProcedures> px_{};
};

}  // namespace tallow::testing
