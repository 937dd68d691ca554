// Copying the case codes into the work tables, with the dated procedure code
// conversions.
#include "grouper/prepare.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// How many references from the front lie one after another, five
// characters apart.
template <std::size_t N>
int8_t RunOf(const char* const (&codes)[N]) {
  if (codes[0] == nullptr) return 0;
  std::size_t run = 1;
  while (run < N && codes[run] == codes[run - 1] + kCodeLength) ++run;
  return static_cast<int8_t>(run);
}

void MakeLayout(CodeLayoutMemo& memo, const GroupRequest& request) {
  static_assert(offsetof(GroupRequest, procedureCodes) ==
                offsetof(GroupRequest, diagnosisCodes) + sizeof request.diagnosisCodes);
  static_assert(sizeof memo.codes == sizeof request.diagnosisCodes + sizeof request.procedureCodes);
  std::memcpy(memo.codes.data(), request.diagnosisCodes, sizeof memo.codes);
  memo.diagnosisRun = RunOf(request.diagnosisCodes);
  memo.procedureRun = RunOf(request.procedureCodes);
}

// The layout of the request's references, made again when one of them moved.
const CodeLayoutMemo& LayoutOf(GroupState& s, const GroupRequest& request) {
  CodeLayoutMemo& memo = s.codeLayout;
  if (memo.boundRequest == &request) return memo;
  if (std::memcmp(memo.codes.data(), request.diagnosisCodes, sizeof memo.codes) != 0) {
    MakeLayout(memo, request);
  }
  return memo;
}

// One past the last character of the `bytes` characters at `base` that is
// not a blank, 0 when all are: read sixteen or eight at a time from the end
// (x86-64 and other little-endian machines), the characters from n on being
// blanks already read.
std::size_t EndOfNonBlanks(const char* base, std::size_t bytes) {
  std::size_t n = bytes;
#if defined(__SSE2__)
  const __m128i blanks = _mm_set1_epi8(' ');
  auto others = [blanks](const char* at) {  // bit k: character k is not a blank
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blanks))) & 0xFFFFu;
  };
  for (; n >= 16; n -= 16) {
    if (const unsigned m = others(base + n - 16); m != 0) {
      return n - 16 + static_cast<std::size_t>(32 - std::countl_zero(m));
    }
  }
  if (n > 0 && bytes >= 16) {
    const unsigned m = others(base) & ((1u << n) - 1);
    return m == 0 ? 0 : static_cast<std::size_t>(32 - std::countl_zero(m));
  }
#endif
  constexpr uint64_t kBlanks = 0x2020202020202020;
  auto otherBytes = [](const char* at) {  // non-zero bytes: characters that are not blanks
    uint64_t v = 0;
    std::memcpy(&v, at, sizeof v);
    return v ^ kBlanks;
  };
  auto end = [](std::size_t at, uint64_t other) {
    return at + static_cast<std::size_t>(63 - std::countl_zero(other)) / 8 + 1;
  };
  for (; n >= 8; n -= 8) {
    if (const uint64_t other = otherBytes(base + n - 8); other != 0) return end(n - 8, other);
  }
  if (n > 0 && bytes >= 8) {
    const uint64_t other = otherBytes(base) & ((uint64_t{1} << (8 * n)) - 1);
    return other == 0 ? 0 : end(0, other);
  }
  while (n > 0 && base[n - 1] == ' ') --n;
  return n;
}

// BlankTail for `count` codes that lie one after another from `base`. The
// work codes from `blankFrom` on are five blanks already.
template <typename Work>
int BlankTailOfRun(const char* base, Work& work, int count, int blankFrom) {
  const std::size_t end = EndOfNonBlanks(base, static_cast<std::size_t>(count) * kCodeLength);
  const int span = static_cast<int>((end + kCodeLength - 1) / kCodeLength);
  for (int i = span, to = std::min(count, blankFrom); i < to; ++i) {
    SetBlankWorkCode(work[static_cast<std::size_t>(i)].code);
  }
  return span;
}

// BlankTail, by the run where the references allow it; keeps `blankFrom`
// (the position from which every work code is five blanks) up to date.
template <std::size_t N, typename Work>
int SpanOf(const char* const (&codes)[N], Work& work, int count, int run, int& blankFrom) {
  const bool byRun = std::endian::native == std::endian::little && count > 0 && count <= run;
  const int span = byRun ? BlankTailOfRun(codes[0], work, count, blankFrom) : BlankTail(codes, work, count);
  // Positions from the count on keep the codes they had.
  if (blankFrom <= count) blankFrom = span;
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

void BindCodeLayout(GroupState& s, const GroupRequest* request) {
  s.codeLayout.boundRequest = request;
  if (request != nullptr) MakeLayout(s.codeLayout, *request);
}

int PrepareCaseCodes(GroupState& s) {
  const GroupRequest& request = *s.request;
  // Only the positions up to the last code that is not five blanks (or
  // null) need the work below; the rest become five blanks.
  const CodeLayoutMemo& layout = LayoutOf(s, request);
  const int procedureSpan =
      SpanOf(request.procedureCodes, s.procedureWork, s.procedureCount, layout.procedureRun,
             s.procedureWorkBlankFrom);
  const int diagnosisSpan =
      SpanOf(request.diagnosisCodes, s.diagnosisWork, s.diagnosisCount, layout.diagnosisRun,
             s.diagnosisWorkBlankFrom);
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
