// Copying the case codes into the work tables, with the dated procedure code
// conversions.
#include "grouper/prepare.h"

#include <bit>
#include <cstring>

#include "grouper/code_maps.h"
#include "tables/codes.h"

namespace tallow {
namespace {

// A code reference of the request: null stands for five blanks.
const char* CodeOrBlank(const char* code) { return code != nullptr ? code : kBlankCode; }

void SetWorkCode(char* work, const char* code) {
  std::memcpy(work, code, kCodeLength);
  work[kCodeLength] = '\0';
}

void SetBlankWorkCode(char* work) { std::memcpy(work, "     ", kCodeLength + 1); }

// Whether a request code reads as five blanks (null does).
bool FiveBlanks(const char* code) {
  if (code == nullptr) return true;
  uint32_t head = 0;
  std::memcpy(&head, code, sizeof head);
  return head == 0x20202020u && code[4] == ' ';
}

// One past the last of the first `count` request codes that is not five
// blanks; the work codes of the blank positions after it become five
// blanks.
template <std::size_t N, typename Work>
int BlankTail(const char* const (&codes)[N], Work& work, int count) {
  int span = count;
  while (span > 0 && FiveBlanks(codes[span - 1])) {
    --span;
    SetBlankWorkCode(work[static_cast<std::size_t>(span)].code);
  }
  return span;
}

// [from, to) over the first eight characters of the case date.
bool InWindow(const char* caseDate, const char* from, const char* to) {
  return !DateBefore(caseDate, from) && DateBefore(caseDate, to);
}

// The conversion windows of one case date.
struct Windows {
  bool withdrawn1999;  // withdrawn codes and the 1999 conversions
  bool n0471;          // N0471 -> N0470
  bool p4555;          // P4555 withdrawn, then the 2000 conversions
  bool s5521;          // S5521, S5522 -> S5520
  bool jan2001;        // the January 2001 conversions
  bool from2001;       // the conversions from February 2001
};

Windows WindowsOf(const char* caseDate) {
  return Windows{
      InWindow(caseDate, "19991115", "20020101"), InWindow(caseDate, "20000308", "20020101"),
      InWindow(caseDate, "20000401", "20020101"), InWindow(caseDate, "20000501", "20020101"),
      InWindow(caseDate, "20010101", "20010201"), InWindow(caseDate, "20010201", "20020101"),
  };
}

// The steps in force for a case date in the windows.
uint8_t StepsIn(const Windows& w) {
  uint8_t steps = 0;
  auto in = [&steps](bool window, int step) {
    if (window) steps = static_cast<uint8_t>(steps | (1u << step));
  };
  in(w.withdrawn1999, kStepWithdrawn1999);
  in(w.withdrawn1999, kStepMap1999);
  in(w.n0471, kStepN0471);
  in(w.p4555, kStepP4555);
  in(w.p4555, kStepMap2000);
  in(w.s5521, kStepS5521);
  in(w.jan2001, kStepJan2001);
  in(w.from2001, kStepFrom2001);
  return steps;
}

const char* StepName(const GroupState& s, int step) {
  const bool jan = s.tables != nullptr && s.tables->codeMapJan2001.present;
  const bool from = s.tables != nullptr && s.tables->codeMap2001.present;
  switch (step) {
    case kStepWithdrawn1999: return "codes withdrawn from 1999-11-15";
    case kStepMap1999: return "conversions from 1999-11-15";
    case kStepN0471: return "N0471 to N0470 from 2000-03-08";
    case kStepP4555: return "P4555 withdrawn from 2000-04-01";
    case kStepMap2000: return "conversions from 2000-04-01";
    case kStepS5521: return "S5521, S5522 to S5520 from 2000-05-01";
    case kStepJan2001:
      return jan ? "conversions of January 2001 (SGMAPJ1)" : "conversions of January 2001 (built in)";
    default:
      return from ? "conversions from February 2001 (SGMAP1)"
                  : "conversions from February 2001 (built in)";
  }
}

// The conversion of one procedure code by the index of the table set: the
// last step in force that changes the code gives the work code.
void ConvertByIndex(GroupState& s, int position, const char* code, uint8_t inForce) {
  const CodeConversions::Entry* e = s.conversions->Find(PackCodeToNul(code));
  if (e == nullptr) return;
  const unsigned steps = e->steps & inForce;
  if (steps == 0) return;
  const int last = 31 - std::countl_zero(steps);
  char* work = s.procedureWork[static_cast<std::size_t>(position)].code;
  SetWorkCode(work, e->to[static_cast<std::size_t>(last)].data());
  TALLOW_TRACE(s, CodeConverted(position, code, work, StepName(s, last)));
}

}  // namespace

int PrepareCaseCodes(GroupState& s) {
  const GroupRequest& request = *s.request;
  // Only the positions up to the last code that is not five blanks (or
  // null) need the work below; the rest become five blanks.
  const int procedureSpan = BlankTail(request.procedureCodes, s.procedureWork, s.procedureCount);
  const int diagnosisSpan = BlankTail(request.diagnosisCodes, s.diagnosisWork, s.diagnosisCount);
  s.procedureSpan = procedureSpan;
  s.diagnosisSpan = diagnosisSpan;

  for (int i = 0; i < diagnosisSpan; ++i) {
    SetWorkCode(s.diagnosisWork[i].code, CodeOrBlank(request.diagnosisCodes[i]));
  }
  if (procedureSpan == 0) return 0;

  const Windows w = WindowsOf(s.caseDate);
  const bool anyWindow = w.withdrawn1999;  // every other window lies inside this one
  const uint8_t inForce = StepsIn(w);
  // The long lists in force, searched only without the index.
  const bool byLists = s.conversions == nullptr;
  const CodeMap jan2001 = byLists ? ActiveCodeMapJan2001(s.tables) : CodeMap{};
  const CodeMap from2001 = byLists ? ActiveCodeMap2001(s.tables) : CodeMap{};

  for (int i = 0; i < procedureSpan; ++i) {
    // Every step reads the request's code; the work code only receives.
    // A later step overrides an earlier one, and conversions never chain.
    const char* code = CodeOrBlank(request.procedureCodes[i]);
    char* work = s.procedureWork[i].code;
    SetWorkCode(work, code);
    if (!anyWindow || PackCode(code) == kPackedBlankCode) continue;

    if (!byLists) {
      ConvertByIndex(s, i, code, inForce);
      continue;
    }

    // The list behind the last step that changed the work code, for a trace.
    const char* list = nullptr;
    auto is = [code](const char* listed) { return CompareCodes(code, listed) == 0; };
    auto set = [work, &list](const char* to, const char* name) {
      SetWorkCode(work, to);
      list = name;
    };
    auto convert = [code, &set](CodeMap map, const char* name) {
      if (const RowCode* to = FindConversion(map, code)) set(to->data(), name);
    };

    if (ContainsCode(WithdrawnCodes1999(), code)) {
      set(kBlankCode, StepName(s, kStepWithdrawn1999));
    } else {
      convert(CodeMap1999(), StepName(s, kStepMap1999));
    }
    if (w.n0471 && is("N0471")) set("N0470", StepName(s, kStepN0471));
    if (w.p4555) {
      if (is("P4555")) set(kBlankCode, StepName(s, kStepP4555));
      convert(CodeMap2000(), StepName(s, kStepMap2000));
    }
    if (w.s5521 && (is("S5521") || is("S5522"))) set("S5520", StepName(s, kStepS5521));
    if (w.jan2001) convert(jan2001, StepName(s, kStepJan2001));
    if (w.from2001) convert(from2001, StepName(s, kStepFrom2001));
    if (list != nullptr) TALLOW_TRACE(s, CodeConverted(i, code, work, list));
  }
  return 0;
}

}  // namespace tallow
