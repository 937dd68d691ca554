// A case for the refinement tests: a GroupState with its request, case date,
// identifier and modifier texts, prepared and looked up as GroupCase does
// before its decision, so that a test can set the decision's results and run
// FinaliseDrg or MakeRefinedCode on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "grouper/group_state.h"
#include "grouper/lookup.h"
#include "grouper/prepare.h"
#include "support/table_fixture.h"
#include "tables/table_set.h"

namespace tallow::testing {

// Puts one source text under every edition of a table family: "DXTAB" gives
// DXTAB8, DXTAB9, DXTAB0 and DXTAB1; likewise "RDRGCC" and "RDRGNEO".
inline void AddToEveryEdition(std::map<std::string, std::string>& sources,
                              const std::string& family, const std::string& text) {
  for (const char* edition : {"8", "9", "0", "1"}) sources[family + edition] = text;
}

// A level matrix row of 86 equal characters.
inline std::string MatrixRow(int row, char level) {
  return "row " + std::to_string(row) + " " + std::string(86, level) + "\n";
}

class RefineCase {
 public:
  explicit RefineCase(std::shared_ptr<const TableSet> tables) : tables_(std::move(tables)) {
    Date("20020315");
    Identifier("00000001");
    Modifiers("");
    Age(40);
  }

  RefineCase& Date(std::string_view date) { return Text(date_, date); }
  RefineCase& Identifier(std::string_view id) { return Text(identifier_, id); }
  // Up to five characters, blank-padded; may hold a NUL.
  RefineCase& Modifiers(std::string_view letters) { return Text(modifiers_, letters); }

  // Codes as written in sources ("O800", "Z33"), blank-padded to five.
  RefineCase& Diagnoses(const std::vector<std::string_view>& codes) {
    request_.diagnosisCount = static_cast<int16_t>(Codes(diagnosisText_, codes));
    for (int i = 0; i < kMaxDiagnoses; ++i) request_.diagnosisCodes[i] = diagnosisText_[i].data();
    return *this;
  }
  RefineCase& Procedures(const std::vector<std::string_view>& codes) {
    request_.procedureCount = static_cast<int16_t>(Codes(procedureText_, codes));
    for (int i = 0; i < kMaxProcedures; ++i) request_.procedureCodes[i] = procedureText_[i].data();
    return *this;
  }
  RefineCase& Sex(int sex) { return Set(sex_, sex); }
  RefineCase& Age(int age) { return Set(request_.age, age); }
  RefineCase& Status(int status) { return Set(request_.dischargeStatus, status); }
  RefineCase& Stay(int days) { return Set(request_.lengthOfStay, days); }
  RefineCase& BirthWeight(int grams) { return Set(request_.birthWeight, grams); }

  // Binds the texts and the request, prepares the codes and looks every code
  // up in the edition of the case date.
  GroupState& Prepare() {
    GroupState& s = state_;
    s.tables = tables_.get();
    s.active = SelectEdition(*tables_, date_.data());
    s.caseDate = date_.data();
    s.caseIdentifier = identifier_.data();
    s.surgeryModifiers = modifiers_.data();
    s.request = &request_;
    s.diagnosisCount = request_.diagnosisCount;
    s.procedureCount = request_.procedureCount;
    EXPECT_EQ(PrepareCaseCodes(s), 0);
    s.age = request_.age;
    s.sex = static_cast<int16_t>(sex_);
    s.dischargeStatus = request_.dischargeStatus;
    s.lengthOfStay = request_.lengthOfStay;
    s.mdc = 24;
    s.finalDrg = 4700;
    for (int i = 0; i < s.diagnosisCount; ++i) s.diagnosisEntry[i] = LookupDiagnosis(s, i);
    for (int i = 0; i < s.procedureCount; ++i) s.procedureEntry[i] = LookupProcedure(s, i);
    s.firstPassDrg = 0;
    s.severityLevel = '0';
    s.diagnosisLevels.fill('0');
    return s;
  }

  GroupState& state() { return state_; }
  GroupRequest& request() { return request_; }

 private:
  template <std::size_t N>
  RefineCase& Text(std::array<char, N>& field, std::string_view text) {
    field.fill(' ');
    field[N - 1] = '\0';
    std::copy_n(text.begin(), std::min(text.size(), N - 1), field.begin());
    return *this;
  }
  template <typename T>
  RefineCase& Set(T& field, int value) {
    field = static_cast<T>(value);
    return *this;
  }
  template <std::size_t N>
  static int Codes(std::array<std::array<char, 6>, N>& texts,
                   const std::vector<std::string_view>& codes) {
    int n = 0;
    for (std::string_view code : codes) {
      texts[n].fill(' ');
      texts[n][5] = '\0';
      std::copy_n(code.begin(), std::min<std::size_t>(code.size(), 5), texts[n].begin());
      ++n;
    }
    return n;
  }

  std::shared_ptr<const TableSet> tables_;
  GroupState state_;
  GroupRequest request_;
  int sex_ = 1;
  std::array<char, 9> date_{};
  std::array<char, 9> identifier_{};
  std::array<char, 6> modifiers_{};
  std::array<std::array<char, 6>, kMaxDiagnoses> diagnosisText_{};
  std::array<std::array<char, 6>, kMaxProcedures> procedureText_{};
};

}  // namespace tallow::testing
