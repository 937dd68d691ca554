// The fixed code lists, written as the grouping rules state them and turned
// into sorted arrays at compile time. A malformed list, a duplicate or a
// wrong count stops the build.
#include "refine/fixed_lists.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "tables/codes.h"

namespace tallow {
namespace {

// Not constexpr: reaching it while a list is built at compile time is a
// compile error that points at the faulty list.
void FixedListMalformed() {}

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------
// Five-character codes

// Five bytes packed big-endian into the low 40 bits: packed values order like
// the texts compared byte by byte as unsigned characters.
constexpr uint64_t kBlankPacked = kPackedBlankCode;

template <std::size_t N>
constexpr std::array<uint64_t, N> SortedCodes(const std::string_view (&codes)[N]) {
  std::array<uint64_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    if (codes[i].size() != 5) FixedListMalformed();
    out[i] = PackCode(codes[i].data());
    // The searches skip blank positions: no list may hold the blank code.
    if (out[i] == kBlankPacked) FixedListMalformed();
  }
  std::sort(out.begin(), out.end());
  if (std::adjacent_find(out.begin(), out.end()) != out.end()) FixedListMalformed();
  return out;
}

constexpr std::string_view kDrg358Text[] = {
    "C8534", "R4121", "R4122", "R4123", "R4224", "R4331", "R4332", "R4400",
    "R4405", "R4411", "R4412", "R4413", "R4421", "R4430", "R4435"};

constexpr std::string_view kB20B24Text[] = {
    "B200 ", "B201 ", "B202 ", "B203 ", "B204 ", "B205 ", "B206 ", "B207 ", "B208 ",
    "B209 ", "B210 ", "B211 ", "B212 ", "B213 ", "B217 ", "B218 ", "B219 ", "B220 ",
    "B221 ", "B222 ", "B227 ", "B230 ", "B231 ", "B232 ", "B238 ", "B24  "};

constexpr std::string_view kExclusion2003Text[] = {
    "D66  ", "D67  ", "D680 ", "D681 ", "M362 ", "B20  ", "B200 ", "B201 ", "B202 ", "B203 ",
    "B204 ", "B205 ", "B206 ", "B207 ", "B208 ", "B209 ", "B21  ", "B210 ", "B211 ", "B212 ",
    "B213 ", "B217 ", "B218 ", "B219 ", "B22  ", "B220 ", "B221 ", "B222 ", "B227 ", "B23  ",
    "B230 ", "B231 ", "B232 ", "B238 ", "B24  ", "F024 ", "Z21  "};

constexpr std::string_view kRText[] = {"X5013", "X5014", "X5021", "X5022", "X5023",
                                       "X5024", "X5032", "X5033", "X5041", "X5042"};
constexpr std::string_view kC1Text[] = {"O1641", "O1642", "O1647", "OA641",
                                        "OA642", "OA647", "O1830"};
constexpr std::string_view kC2Text[] = {"E7210", "E7211", "E7212", "E7213", "E7215",
                                        "E7216", "E7217", "E7218", "HA610", "HA611",
                                        "HA612", "HA613", "HA670", "HA680"};
constexpr std::string_view kC3Text[] = {"M6551", "M6561", "M6563", "M6571"};
constexpr std::string_view kS1Text[] = {"S4691", "S4692", "S4693", "S4694", "S4695",
                                        "S4696", "S4701", "S4702", "S4703"};
constexpr std::string_view kS2Text[] = {"N0444", "N0445", "N0446", "N0447"};
constexpr std::string_view kS3Text[] = {"N0464", "N0465", "N0466", "N0467", "N0468", "N0469"};
constexpr std::string_view kS4Text[] = {"N1491", "N1492", "N1493", "N1494"};
constexpr std::string_view kS5aText[] = {"N0480", "N1497", "N1498", "N1499", "N0590", "S4671",
                                         "S4682", "S4683", "S4713", "S4821", "S4822", "S4823",
                                         "S4824", "SY621", "SY622", "SY623"};
constexpr std::string_view kS6aText[] = {"C8515", "N0471", "N0473", "N1495",
                                         "N1496", "N0500", "S4811"};
constexpr std::string_view kS5bText[] = {"N0451", "N0452", "N0453", "N0480", "N1497", "N1498",
                                         "N1499", "S4671", "S4713", "S4821", "S4822", "S4823",
                                         "S4824", "SY621", "SY622", "SY623"};
constexpr std::string_view kS6bText[] = {"C8515", "N0471", "N0473", "N1495", "N1496", "S4811"};

constexpr auto kDrg358 = SortedCodes(kDrg358Text);
constexpr auto kB20B24 = SortedCodes(kB20B24Text);
constexpr auto kExclusion2003 = SortedCodes(kExclusion2003Text);
constexpr auto kR = SortedCodes(kRText);
constexpr auto kC1 = SortedCodes(kC1Text);
constexpr auto kC2 = SortedCodes(kC2Text);
constexpr auto kC3 = SortedCodes(kC3Text);
constexpr auto kS1 = SortedCodes(kS1Text);
constexpr auto kS2 = SortedCodes(kS2Text);
constexpr auto kS3 = SortedCodes(kS3Text);
constexpr auto kS4 = SortedCodes(kS4Text);
constexpr auto kS5a = SortedCodes(kS5aText);
constexpr auto kS6a = SortedCodes(kS6aText);
constexpr auto kS5b = SortedCodes(kS5bText);
constexpr auto kS6b = SortedCodes(kS6bText);

static_assert(kDrg358.size() == 15 && kB20B24.size() == 26 && kExclusion2003.size() == 37);
static_assert(kR.size() == 10 && kC1.size() == 7 && kC2.size() == 14 && kC3.size() == 4);
static_assert(kS1.size() == 9 && kS2.size() == 4 && kS3.size() == 6 && kS4.size() == 4);
static_assert(kS5a.size() == 16 && kS6a.size() == 7 && kS5b.size() == 16 && kS6b.size() == 6);

// Indexed by CodeList.
constexpr std::span<const uint64_t> kCodeLists[] = {
    kDrg358, kB20B24, kExclusion2003, kR, kC1, kC2, kC3, kS1,
    kS2,     kS3,     kS4,            kS5a, kS6a, kS5b, kS6b};
static_assert(std::size(kCodeLists) == static_cast<std::size_t>(CodeList::kS6b) + 1);

// The bit of a value in a filter of 2^bits bits: the value's high bits
// after a multiplication that mixes them.
constexpr unsigned FilterBit(uint64_t value, int bits) {
  return static_cast<unsigned>((value * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// A 64-bit filter of the categories (first three characters) of a list's
// codes: a code whose category's bit is clear is in no list of that filter.
// Most codes a case holds are in none of these lists.
constexpr unsigned CategoryBit(uint64_t packed) { return FilterBit(packed >> 16, 6); }

constexpr auto kCodeListFilters = [] {
  std::array<uint64_t, std::size(kCodeLists)> out{};
  for (std::size_t l = 0; l < out.size(); ++l)
    for (uint64_t packed : kCodeLists[l]) out[l] |= uint64_t{1} << CategoryBit(packed);
  return out;
}();

// ---------------------------------------------------------------------------
// Sex rules: per MDC and sex, principal diagnoses that do not fit that sex.

// One code, or a complete run of codes whose fourth and fifth characters
// count up as digits ("M8000" to "M8019", "R870 " to "R879 ").
struct CodeRun {
  std::string_view first;
  std::string_view last;
  constexpr CodeRun(const char* code) : first(code), last(code) {}
  constexpr CodeRun(const char* from, const char* to) : first(from), last(to) {}
};

struct SexRuleRow {
  int mdc;
  int sex;
  std::span<const CodeRun> codes;
};

constexpr CodeRun kSexMdc6[] = {"N805 ", "N822 ", "N823 ", "N824 "};
constexpr CodeRun kSexMdc8[] = {{"M8000", "M8019"}, {"M8100", "M8119"}, {"M8300", "M8309"}};
constexpr CodeRun kSexMdc9[] = {"L705 ", "N806 "};
constexpr CodeRun kSexMdc10[] = {"E290 ", "E291 ", "E298 ", "E299 ", "E895 "};
constexpr CodeRun kSexMdc12[] = {"L292 ", "Q517 ", "Q519 ", "Q529 ",
                                 "S3740", "S3741", "S3750", "S3751"};
constexpr CodeRun kSexMdc15[] = {"P546 "};
constexpr CodeRun kSexMdc19[] = {"F524 "};
constexpr CodeRun kSexMdc21[] = {"N980 ", "N981 ", "N982 ", "N983 ", "N988 ", "N989 "};
constexpr CodeRun kSexMdc23Male[] = {
    {"R870 ", "R879 "}, "Z014 ", "Z124 ", "Z301 ", "Z305 ", "Z311 ", "Z312 ", "Z320 ",
    "Z321 ",            "Z33  ", "Z340 ", "Z348 ", "Z349 ", "Z363 ", "Z364 ", "Z365 ",
    "Z368 ",            "Z369 ", "Z391 ", "Z392 ", "Z875 ", "Z975 "};
constexpr CodeRun kSexMdc23Female[] = {"Z125 "};

constexpr SexRuleRow kSexRuleRows[] = {
    {6, 1, kSexMdc6},   {8, 1, kSexMdc8},   {9, 1, kSexMdc9},
    {10, 2, kSexMdc10}, {12, 1, kSexMdc12}, {15, 1, kSexMdc15},
    {19, 2, kSexMdc19}, {21, 1, kSexMdc21}, {23, 1, kSexMdc23Male},
    {23, 2, kSexMdc23Female}};

// The code after `code` in a run: the fifth character counts up, or the
// fourth when the fifth is blank, with a carry from the fifth to the fourth.
constexpr void NextInRun(char (&code)[5]) {
  int pos = code[4] == ' ' ? 3 : 4;
  while (true) {
    if (pos < 3 || !IsDigit(code[pos])) {
      FixedListMalformed();
      return;
    }
    if (code[pos] != '9') {
      ++code[pos];
      return;
    }
    code[pos] = '0';
    --pos;
  }
}

// Calls f(packed code) for every code of a run.
template <typename F>
constexpr void ForEachCodeOfRun(const CodeRun& run, F f) {
  if (run.first.size() != 5 || run.last.size() != 5) {
    FixedListMalformed();
    return;
  }
  char code[5] = {run.first[0], run.first[1], run.first[2], run.first[3], run.first[4]};
  const uint64_t last = PackCode(run.last.data());
  for (int guard = 0; guard < 100; ++guard) {
    f(PackCode(code));
    if (PackCode(code) == last) return;
    NextInRun(code);
  }
  FixedListMalformed();  // the run does not reach its last code
}

// Key of one (MDC, sex, code) triple; keys order by MDC, then sex, then code.
constexpr uint64_t SexRuleKey(int mdc, int sex, uint64_t packedCode) {
  return (static_cast<uint64_t>(mdc & 0xFF) << 48) | (static_cast<uint64_t>(sex & 0xFF) << 40) |
         packedCode;
}

constexpr std::size_t CountSexRuleKeys() {
  std::size_t n = 0;
  for (const SexRuleRow& row : kSexRuleRows)
    for (const CodeRun& run : row.codes) ForEachCodeOfRun(run, [&n](uint64_t) { ++n; });
  return n;
}

template <std::size_t N>
constexpr std::array<uint64_t, N> SexRuleKeys() {
  std::array<uint64_t, N> out{};
  std::size_t n = 0;
  for (const SexRuleRow& row : kSexRuleRows)
    for (const CodeRun& run : row.codes)
      ForEachCodeOfRun(run, [&](uint64_t packed) { out[n++] = SexRuleKey(row.mdc, row.sex, packed); });
  std::sort(out.begin(), out.end());
  if (std::adjacent_find(out.begin(), out.end()) != out.end()) FixedListMalformed();
  return out;
}

constexpr auto kSexRules = SexRuleKeys<CountSexRuleKeys()>();
// 4 + 50 + 2 + 5 + 8 + 1 + 1 + 6 + (10 + 21) + 1
static_assert(kSexRules.size() == 109);

// A 256-bit filter of the MDC, sex and code category of the sex rules: a
// case whose bit is clear matches none (most cases).
constexpr unsigned SexRuleBit(uint64_t key) { return FilterBit(key >> 16, 8); }

constexpr auto kSexRuleFilter = [] {
  std::array<uint64_t, 4> out{};
  for (uint64_t key : kSexRules) out[SexRuleBit(key) / 64] |= uint64_t{1} << (SexRuleBit(key) % 64);
  return out;
}();

// ---------------------------------------------------------------------------
// Exempt case identifiers (eight characters)

constexpr uint64_t PackIdentifier(const char* id) { return PackDate(id); }  // eight bytes, packed alike

constexpr std::array<uint64_t, 4> kExemptIdentifiers = [] {
  std::array<uint64_t, 4> out = {PackIdentifier("99099999"), PackIdentifier("99199999"),
                                 PackIdentifier("99299999"), PackIdentifier("99399999")};
  std::sort(out.begin(), out.end());
  return out;
}();

// ---------------------------------------------------------------------------
// Accepted six-digit group codes, written as four-digit stems each followed
// by the two-digit endings of its members: "0390: 00 10 20" stands for the
// codes 039000, 039010 and 039020.

constexpr std::size_t CountAcceptedCodes(std::string_view text) {
  std::size_t n = 0;
  bool stemSeen = false;
  std::size_t p = 0;
  while (p < text.size()) {
    const char c = text[p];
    if (c == ' ' || c == ';') {
      ++p;
      continue;
    }
    std::size_t q = p;
    while (q < text.size() && IsDigit(text[q])) ++q;
    if (q < text.size() && text[q] == ':') {
      if (q - p != 4) FixedListMalformed();
      stemSeen = true;
      p = q + 1;
    } else {
      if (q - p != 2 || !stemSeen) FixedListMalformed();
      ++n;
      p = q;
    }
  }
  return n;
}

template <std::size_t N>
constexpr std::array<int32_t, N> ParseAcceptedCodes(std::string_view text) {
  std::array<int32_t, N> out{};
  std::size_t n = 0;
  int32_t stem = 0;
  std::size_t p = 0;
  while (p < text.size()) {
    const char c = text[p];
    if (c == ' ' || c == ';') {
      ++p;
      continue;
    }
    int32_t value = 0;
    std::size_t q = p;
    while (q < text.size() && IsDigit(text[q])) value = value * 10 + (text[q++] - '0');
    if (q < text.size() && text[q] == ':') {
      stem = value;
      p = q + 1;
    } else {
      out[n++] = stem * 100 + value;
      p = q;
    }
  }
  std::sort(out.begin(), out.end());
  if (std::adjacent_find(out.begin(), out.end()) != out.end()) FixedListMalformed();
  return out;
}

// The members of a list whose stem (code / 100) is not one of `stems`. Each
// stem must occur in the list.
constexpr std::size_t CountWithoutStems(std::span<const int32_t> list,
                                        std::span<const int32_t> stems) {
  std::size_t n = 0;
  for (int32_t stem : stems)
    if (std::none_of(list.begin(), list.end(), [stem](int32_t c) { return c / 100 == stem; }))
      FixedListMalformed();
  for (int32_t code : list)
    if (std::find(stems.begin(), stems.end(), code / 100) == stems.end()) ++n;
  return n;
}

template <std::size_t M>
constexpr std::array<int32_t, M> WithoutStems(std::span<const int32_t> list,
                                              std::span<const int32_t> stems) {
  std::array<int32_t, M> out{};
  std::size_t n = 0;
  for (int32_t code : list)
    if (std::find(stems.begin(), stems.end(), code / 100) == stems.end()) out[n++] = code;
  return out;
}

constexpr std::string_view kL1Text =
    "0390: 00 10 20; 0395: 00 10 20; 0570: 00 10; 0571: 00 10; 0590: 00 10; 0591: 00 10; "
    "1640: 00 10 20; 1660: 00 10 20; 3700: 00 10 20; 3720: 00 10 20; 3730: 00 10 20";

constexpr std::string_view kL2Text =
    "0390: 00 10 20; 0410: 00 10 20; 0590: 00 10; 0591: 00 10; 0890: 00 10 20; "
    "0891: 00 10 20; 1570: 00 10 20; 1610: 00 10; 1611: 00 10; 1640: 00 10 20; "
    "1660: 00 10 20; 3580: 00 10 20; 3700: 00 10 20; 3720: 00 10 20; 3730: 00 10 20";

constexpr std::string_view kL3Text =
    "0390: 00 10 20; 0410: 00 10 20; 0590: 00 10; 0591: 00 10; 0890: 00 10 20; "
    "0891: 00 10 20; 1460: 00 10 20; 1461: 00 10 20; 1480: 00 10 20; 1481: 00 10 20; "
    "1500: 00 10 20; 1501: 00 10 20; 1520: 00 10 20; 1521: 00 10 20; 1540: 00 10 20; "
    "1541: 00 10 20; 1570: 00 10 20; 1590: 00 10 20; 1610: 00 10; 1611: 00 10; "
    "1640: 00 10 20; 1660: 00 10 20; 1720: 00 10 20; 1740: 00 10 20; 1760: 00 10 20; "
    "1770: 00 10 20; 1790: 00 10 20; 1800: 00 10 20; 1820: 00 10 20; 1821: 00 10 20; "
    "1880: 00 10 20; 1881: 00 10 20; 3580: 00 10 20; 3700: 00 10 20; "
    "3720: 00 10 20 01 11 21; 3730: 00 10 20 01 11 21";

constexpr int32_t kL4RemovedStems[] = {1460, 1461, 1480, 1481, 1500, 1501,
                                       1520, 1521, 1540, 1541, 1590};
constexpr int32_t kL5RemovedStems[] = {890, 891};

constexpr std::string_view kL6Text =
    "0390: 00 10 20; 0410: 00 10 20; 0590: 00 10; 0591: 00 10; 1570: 00 10 20; "
    "1610: 00 10; 1611: 00 10; 1640: 00 10 20; 1660: 00 10 20; 3580: 00 10 20; "
    "3700: 00 10 20; 3720: 00 10 20 01 11 21; 3730: 00 10 20 01 11 21";

constexpr std::string_view kL7Text =
    "0391: 00 01 02; 0392: 00 01 02; 0393: 00 01 02; 0394: 00 01 02; 0590: 00 01 10 11; "
    "1571: 00 01 02; 1572: 00 01 02; 1612: 00 01 10 11; 1613: 00 01 10 11; "
    "1640: 00 01 02; 1660: 00 01 02; 3581: 00 01 02; 3582: 00 01 02; 3583: 00 01 02; "
    "3584: 00 01 02; 3700: 00 01 02; 3720: 00 01 02; 3730: 00 01 02; 3721: 00 01 02; "
    "3731: 00 01 02";

constexpr int32_t kL8RemovedStems[] = {3720, 3730, 3721, 3731};

constexpr auto kL1 = ParseAcceptedCodes<CountAcceptedCodes(kL1Text)>(kL1Text);
constexpr auto kL2 = ParseAcceptedCodes<CountAcceptedCodes(kL2Text)>(kL2Text);
constexpr auto kL3 = ParseAcceptedCodes<CountAcceptedCodes(kL3Text)>(kL3Text);
constexpr auto kL4 =
    WithoutStems<CountWithoutStems(kL3, kL4RemovedStems)>(kL3, kL4RemovedStems);
constexpr auto kL5 =
    WithoutStems<CountWithoutStems(kL3, kL5RemovedStems)>(kL3, kL5RemovedStems);
constexpr auto kL6 = ParseAcceptedCodes<CountAcceptedCodes(kL6Text)>(kL6Text);
constexpr auto kL7 = ParseAcceptedCodes<CountAcceptedCodes(kL7Text)>(kL7Text);
constexpr auto kL8 =
    WithoutStems<CountWithoutStems(kL7, kL8RemovedStems)>(kL7, kL8RemovedStems);

static_assert(kL1.size() == 29 && kL2.size() == 41 && kL3.size() == 110 && kL4.size() == 77);
static_assert(kL5.size() == 104 && kL6.size() == 41 && kL7.size() == 63 && kL8.size() == 51);

// Indexed by AcceptedCodeList.
constexpr std::span<const int32_t> kAcceptedLists[] = {kL1, kL2, kL3, kL4,
                                                       kL5, kL6, kL7, kL8};
static_assert(std::size(kAcceptedLists) == static_cast<std::size_t>(AcceptedCodeList::kL8) + 1);

// The four-digit stems of each accepted list as bits: a code whose stem's
// bit is clear is not in the list, which answers most searches.
constexpr int32_t kStemCount = 10000;
using StemBits = std::array<uint64_t, (kStemCount + 63) / 64>;
constexpr auto kAcceptedStems = [] {
  std::array<StemBits, std::size(kAcceptedLists)> out{};
  for (std::size_t l = 0; l < out.size(); ++l) {
    for (int32_t code : kAcceptedLists[l]) {
      const int32_t stem = code / 100;
      out[l][static_cast<std::size_t>(stem / 64)] |= uint64_t{1} << (stem % 64);
    }
  }
  return out;
}();

// Binary search of a sorted list, after the test against its first and last
// value that answers most searches.
template <typename T>
bool InSorted(std::span<const T> values, T value) {
  if (values.empty() || value < values.front() || value > values.back()) return false;
  return std::binary_search(values.begin(), values.end(), value);
}

}  // namespace

bool InAcceptedCodeList(AcceptedCodeList list, int32_t code) {
  const auto l = static_cast<std::size_t>(list);
  if (code < 0 || code >= kStemCount * 100) return false;
  const int32_t stem = code / 100;
  if (((kAcceptedStems[l][static_cast<std::size_t>(stem / 64)] >> (stem % 64)) & 1) == 0) return false;
  return InSorted(kAcceptedLists[l], code);
}

std::span<const int32_t> AcceptedCodes(AcceptedCodeList list) {
  return kAcceptedLists[static_cast<std::size_t>(list)];
}

bool InCodeList(CodeList list, const char* code) {
  const auto l = static_cast<std::size_t>(list);
  const uint64_t packed = code != nullptr ? PackCode(code) : kBlankPacked;
  if (((kCodeListFilters[l] >> CategoryBit(packed)) & 1) == 0) return false;
  return InSorted(kCodeLists[l], packed);
}

std::span<const uint64_t> PackedCodes(CodeList list) {
  return kCodeLists[static_cast<std::size_t>(list)];
}

bool SexRuleMatches(int mdc, int sex, const char* code) {
  if (mdc < 0 || mdc > 0xFF || sex < 0 || sex > 0xFF) return false;
  const uint64_t packed = code != nullptr ? PackCode(code) : kBlankPacked;
  const uint64_t key = SexRuleKey(mdc, sex, packed);
  const unsigned bit = SexRuleBit(key);
  if (((kSexRuleFilter[bit / 64] >> (bit % 64)) & 1) == 0) return false;
  return InSorted(std::span<const uint64_t>(kSexRules), key);
}

bool IsExemptIdentifier(const char* identifier) {
  if (identifier == nullptr) return false;
  const uint64_t packed = PackIdentifier(identifier);
  bool found = false;
  for (uint64_t exempt : kExemptIdentifiers) found |= packed == exempt;  // no branch a case
  return found;
}

}  // namespace tallow
