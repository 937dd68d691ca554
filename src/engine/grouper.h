// The Grouper: groups one case per GroupCase call.
//
// A Grouper refers to a loaded TableSet (shared, read-only) and owns one
// GroupState. Groupers are independent of each other: several may group on
// several threads over the same TableSet. One Grouper handles one case at a
// time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "grouper/code_maps.h"
#include "grouper/group_request.h"
#include "grouper/group_state.h"
#include "refine/finalise.h"
#include "tables/table_set.h"

namespace tallow {

class Grouper final : private FirstPassAside {
 public:
  // A null table set stands for tables that are not loaded: GroupCase then
  // returns -2.
  explicit Grouper(std::shared_ptr<const TableSet> tables);

  Grouper(const Grouper&) = delete;
  Grouper& operator=(const Grouper&) = delete;

  // The three line fields the grouping reads: 8 characters of case
  // identifier, 8 of case date (YYYYMMDD) and 5 of surgery modifiers. The
  // Grouper keeps the pointers; the caller keeps the texts alive and current
  // (the batch binds them once to its line buffer).
  void SetCaseFields(const char* caseIdentifier, const char* caseDate,
                     const char* surgeryModifiers);

  // Binds the request whose code references stay where they are for the
  // cases to come (the batch's, bound to its line buffer): GroupCase with it
  // then takes their layout as bound instead of comparing all 35 references
  // with the last case's. Until the next call (null unbinds), the caller
  // must not move any of them.
  void BindCodes(const GroupRequest* request);
  // Points the active tables at the edition of the case date. Called for
  // every case before GroupCase, with the date the case fields hold.
  void SelectEdition(const char* caseDate);

  // Groups one case. Returns 0 when grouping ran, -1 when the request's
  // counts are outside 0..15 diagnoses and 0..20 procedures, -2 when no
  // tables are loaded.
  int16_t GroupCase(GroupRequest& request, int flags);

  // Reports every step of the next groupings to `trace` (null: none, the
  // normal run). The Grouper does not own it.
  void SetTrace(GroupTrace* trace) { state_.trace = trace; }

  // With `always` set every case runs its first pass before the real ones,
  // as the grouping rules have it; without, the first pass runs only when a
  // real pass reads what it leaves (see FirstPass). The results are the same.
  void SetFirstPassAlways(bool always) { firstPassAlways_ = always; }

  const GroupState& state() const { return state_; }
  GroupState& mutableState() { return state_; }
  bool tablesLoaded() const { return tables_ != nullptr; }

 private:
  void RealPasses(GroupRequest& request, int flags);
  const GroupState& RunAside(bool withLevels) override;

  std::shared_ptr<const TableSet> tables_;
  std::shared_ptr<const CodeConversions> conversions_;  ///< null without tables
  GroupState state_;
  // EditionViewOf of each edition, made once: SelectEdition takes one.
  std::array<EditionView, kEditionCount> editionViews_{};
  // Made for the tables of this grouper (a set reloaded in place gets new
  // groupers).
  FirstPassFinals firstPassFinals_;
  bool firstPassAlways_ = false;
  // The first pass run on the side for the case being grouped.
  GroupState aside_;
  bool asideRan_ = false;
  bool asideWithLevels_ = false;
};

}  // namespace tallow
