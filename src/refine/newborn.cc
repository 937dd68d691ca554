// Newborn grouping.
#include "refine/newborn.h"

#include <algorithm>

#include "grouper/values.h"
#include "refine/finalise.h"

namespace tallow {

namespace {
constexpr int kWeightAbsent = -2;
}  // namespace

int NewbornDrg(int birthWeight) {
  if (birthWeight >= 1 && birthWeight <= 999) return 3860;
  if (birthWeight >= 1000 && birthWeight <= 2499) return 3880;
  return 3910;  // 2500 g and more, and no usable weight
}

int GroupNewborn(GroupState& s) {
  s.birthWeight = s.request != nullptr ? s.request->birthWeight : kWeightAbsent;
  const int w = s.birthWeight;
  s.finalDrg = NewbornDrg(w);
  TALLOW_TRACE(s, NewbornTaken(w, s.finalDrg));
  if (const int status = StayLevelStatus(s); status >= 0) return status;
  const std::vector<char>& marks = s.active.diagnosis->neonateMark;
  const int count = DiagnosisSpanOf(s);
  for (int i = 0; i < count; ++i) {
    const int entry = s.diagnosisEntry[i];
    if (entry < 0) continue;
    const char mark = marks[entry];
    TALLOW_TRACE(s, LevelGiven(i, mark, LevelReason::kNewbornMark));
    if (LevelAbove(mark, s.severityLevel)) {  // a tie keeps the earlier position
      s.severityLevel = mark;
      s.levelSourceIndex = i;
    }
  }
  return (w <= 0 && w != kWeightAbsent) ? kFinaliseBirthWeightInvalid : kFinaliseDone;
}

}  // namespace tallow
