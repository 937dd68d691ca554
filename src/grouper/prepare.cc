// Copying the case codes into the work tables, with the dated procedure code
// conversions.
#include "grouper/prepare.h"

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

}  // namespace

int PrepareCaseCodes(GroupState& s) {
  const GroupRequest& request = *s.request;
  const Windows w = WindowsOf(s.caseDate);
  const bool anyWindow = w.withdrawn1999;  // every other window lies inside this one
  const CodeMap jan2001 = ActiveCodeMapJan2001(s.tables);
  const CodeMap from2001 = ActiveCodeMap2001(s.tables);

  for (int i = 0; i < s.procedureCount; ++i) {
    // Every step reads the request's code; the work code only receives.
    // A later step overrides an earlier one, and conversions never chain.
    const char* code = CodeOrBlank(request.procedureCodes[i]);
    char* work = s.procedureWork[i].code;
    SetWorkCode(work, code);
    if (!anyWindow || PackCode(code) == kPackedBlankCode) continue;

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
      set(kBlankCode, "codes withdrawn from 1999-11-15");
    } else {
      convert(CodeMap1999(), "conversions from 1999-11-15");
    }
    if (w.n0471 && is("N0471")) set("N0470", "N0471 to N0470 from 2000-03-08");
    if (w.p4555) {
      if (is("P4555")) set(kBlankCode, "P4555 withdrawn from 2000-04-01");
      convert(CodeMap2000(), "conversions from 2000-04-01");
    }
    if (w.s5521 && (is("S5521") || is("S5522"))) set("S5520", "S5521, S5522 to S5520 from 2000-05-01");
    if (w.jan2001) {
      convert(jan2001, s.tables != nullptr && s.tables->codeMapJan2001.present
                           ? "conversions of January 2001 (SGMAPJ1)"
                           : "conversions of January 2001 (built in)");
    }
    if (w.from2001) {
      convert(from2001, s.tables != nullptr && s.tables->codeMap2001.present
                            ? "conversions from February 2001 (SGMAP1)"
                            : "conversions from February 2001 (built in)");
    }
    if (list != nullptr) TALLOW_TRACE(s, CodeConverted(i, code, work, list));
  }

  for (int i = 0; i < s.diagnosisCount; ++i) {
    SetWorkCode(s.diagnosisWork[i].code, CodeOrBlank(request.diagnosisCodes[i]));
  }
  return 0;
}

}  // namespace tallow
