// The program's own procedure code conversion lists.
#include "grouper/code_maps.h"

#include "tables/branch_free.h"
#include "tables/codes.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tallow {
namespace {

struct TextPair {
  const char* from;
  const char* to;
};

// Withdrawn from 1999-11-15: a case code in this list becomes blank.
constexpr const char* kWithdrawnCodes1999[] = {
    "C8530", "M0030", "N0280", "N0291", "N0292", "N0293", "N0320", "N0338",
    "N0442", "N0443", "N0450", "N0461", "N0462", "N0463", "N0470", "N0491",
    "N0492", "N0495", "N0497", "N0498", "N0540", "N0589", "N0682", "N0740",
    "O1720", "P2130", "Q2290", "Q2610", "Q2675", "Q2780", "Q3051", "Q3120",
    "R3163", "R3165", "R3240", "R3250", "R3301", "R3302", "R3870", "R3972",
    "R3973", "S4850", "S5170", "S5171",
};

// Conversions from 1999-11-15, from-code first.
constexpr TextPair kCodeMap1999[] = {
    {"E7593", "C8514"}, {"E7605", "E7600"}, {"C8531", "C8530"}, {"C8532", "C8530"},
    {"C8533", "R3301"}, {"C8534", "R3302"}, {"C8552", "R3973"}, {"C8562", "R3870"},
    {"C8571", "R4521"}, {"C8572", "R4521"}, {"C8582", "N0442"}, {"C8583", "N0443"},
    {"M0031", "M0030"}, {"N0281", "N0280"}, {"N0282", "N0280"}, {"N0283", "N0280"},
    {"N0284", "N0280"}, {"N0285", "N0280"}, {"N0286", "N0280"}, {"N0021", "N0292"},
    {"N0022", "N0291"}, {"N0023", "N0293"}, {"N0321", "N0320"}, {"N0322", "N0320"},
    {"N0323", "N0320"}, {"N0324", "N0320"}, {"N0451", "N0450"}, {"N0452", "N0450"},
    {"N0453", "N0450"}, {"N0464", "N0461"}, {"N0465", "N0462"}, {"N0466", "N0461"},
    {"N0467", "N0461"}, {"N0468", "N0462"}, {"N0469", "N0461"}, {"N1491", "N0491"},
    {"N1492", "N0491"}, {"N1493", "N0492"}, {"N1494", "N0492"}, {"N1495", "N0495"},
    {"N1496", "N0495"}, {"N1497", "N0497"}, {"N1498", "N0497"}, {"N1499", "N0498"},
    {"N0541", "N0540"}, {"N0542", "N0540"}, {"N1581", "N0588"}, {"N1582", "N0588"},
    {"N1583", "N0589"}, {"N1584", "N0589"}, {"N0684", "N0682"}, {"N0685", "N0682"},
    {"N0686", "N0682"}, {"N1711", "N0711"}, {"N1721", "N0711"}, {"N1712", "N0712"},
    {"N1722", "N0712"}, {"N1713", "N0713"}, {"N1723", "N0713"}, {"N1714", "N0714"},
    {"N1724", "N0714"}, {"N1715", "N0715"}, {"N1725", "N0715"}, {"N1716", "N0716"},
    {"N1726", "N0716"}, {"N1717", "N0717"}, {"N1727", "N0717"}, {"N0741", "N0740"},
    {"N0742", "N0740"}, {"N0743", "N0740"}, {"N0922", "N0911"}, {"N0923", "N0911"},
    {"N0935", "N0931"}, {"N0936", "N0931"}, {"N0937", "N0932"}, {"O1596", "O1590"},
    {"O1597", "O1590"}, {"O1647", "O1642"}, {"O1721", "O1720"}, {"O1722", "O1720"},
    {"P2094", "P2092"}, {"P2132", "P2130"}, {"Q2197", "Q2192"}, {"Q2211", "Q2220"},
    {"Q2430", "Q2431"}, {"Q2438", "Q2432"}, {"Q2521", "Q2510"}, {"Q2611", "Q2610"},
    {"Q2645", "Q2675"}, {"Q2655", "Q2640"}, {"Q2679", "Q2671"}, {"Q2991", "Q2981"},
    {"Q2992", "Q2981"}, {"Q3001", "Q2981"}, {"Q3054", "Q3051"}, {"Q3055", "Q3051"},
    {"Q3121", "Q3120"}, {"Q3122", "Q3120"}, {"Q3123", "Q3120"}, {"R3121", "R3165"},
    {"R3122", "R3163"}, {"R3123", "R3165"}, {"R3124", "R3163"}, {"R3241", "R3250"},
    {"R3251", "R3250"}, {"R3321", "R3320"}, {"R3375", "R3390"}, {"R3376", "R3390"},
    {"R4283", "R4282"}, {"S4801", "S4630"}, {"S4802", "S4630"}, {"S4803", "S4630"},
    {"S5071", "S5060"}, {"S5072", "S5060"}, {"S5173", "S5170"}, {"S5174", "S5171"},
    {"S5175", "S5170"}, {"S5176", "S5171"}, {"S5685", "S5640"}, {"M6531", "O1730"},
    {"M6532", "O1740"}, {"M6533", "O1750"}, {"M6640", "O1631"}, {"M6650", "O1990"},
    {"M6690", "Q3082"}, {"M6710", "Q2410"}, {"M6791", "S5520"},
};

// Conversions from 2000-04-01.
constexpr TextPair kCodeMap2000[] = {
    {"C8592", "P4555"}, {"O1480", "O1470"}, {"O1540", "O1410"}, {"O1935", "O1932"},
    {"Q2345", "Q2390"},
};

// Conversions of January 2001 known to the program. The full list has 1018
// pairs; a table directory can supply it whole.
constexpr TextPair kCodeMapJan2001[] = {
    {"E7501", "E7500"}, {"SB023", "M0101"}, {"S0023", "M0102"}, {"SC023", "M0103"},
    {"SA023", "M0104"}, {"C8592", "P4551"}, {"N0471", "N0461"}, {"Q2992", "Q2962"},
    {"R3241", "Q2700"}, {"R3433", "R3512"}, {"R3512", "R3972"},
};

// Conversions from February 2001 known to the program. The full list has 974
// pairs; a table directory can supply it whole.
constexpr TextPair kCodeMap2001[] = {
    {"E7501", "E7500"}, {"E7593", "C8514"}, {"E7605", "E7600"}, {"C8515", "S4800"},
    {"C8531", "C8530"}, {"C8592", "P4555"}, {"N0471", "N0461"}, {"Q2992", "Q2986"},
    {"R3241", "R3240"}, {"R3433", "R3431"},
};

RowCode ToRowCode(const char* text) {
  RowCode code{};
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = text[i];
  return code;
}

bool CodeLess(const RowCode& a, const RowCode& b) { return CompareCodes(a.data(), b.data()) < 0; }

template <std::size_t N>
std::array<CodePair, N> SortedPairs(const TextPair (&text)[N]) {
  std::array<CodePair, N> pairs{};
  for (std::size_t i = 0; i < N; ++i) pairs[i] = {ToRowCode(text[i].from), ToRowCode(text[i].to)};
  std::sort(pairs.begin(), pairs.end(),
            [](const CodePair& a, const CodePair& b) { return CodeLess(a.from, b.from); });
  return pairs;
}

template <std::size_t N>
std::array<RowCode, N> SortedCodes(const char* const (&text)[N]) {
  std::array<RowCode, N> codes{};
  for (std::size_t i = 0; i < N; ++i) codes[i] = ToRowCode(text[i]);
  std::sort(codes.begin(), codes.end(), CodeLess);
  return codes;
}

}  // namespace

int CompareCodes(const char* a, const char* b) {
  const uint64_t ka = PackCodeToNul(a);
  const uint64_t kb = PackCodeToNul(b);
  return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

std::span<const RowCode> WithdrawnCodes1999() {
  static const auto codes = SortedCodes(kWithdrawnCodes1999);
  return codes;
}

CodeMap CodeMap1999() {
  static const auto pairs = SortedPairs(kCodeMap1999);
  return pairs;
}

CodeMap CodeMap2000() {
  static const auto pairs = SortedPairs(kCodeMap2000);
  return pairs;
}

CodeMap BuiltInCodeMapJan2001() {
  static const auto pairs = SortedPairs(kCodeMapJan2001);
  return pairs;
}

CodeMap BuiltInCodeMap2001() {
  static const auto pairs = SortedPairs(kCodeMap2001);
  return pairs;
}

CodeMap ActiveCodeMapJan2001(const TableSet* tables) {
  if (tables != nullptr && tables->codeMapJan2001.present) return tables->codeMapJan2001.pairs;
  return BuiltInCodeMapJan2001();
}

CodeMap ActiveCodeMap2001(const TableSet* tables) {
  if (tables != nullptr && tables->codeMap2001.present) return tables->codeMap2001.pairs;
  return BuiltInCodeMap2001();
}

const RowCode* FindConversion(CodeMap map, const char* code) {
  const uint64_t key = PackCodeToNul(code);
  const auto it = std::lower_bound(map.begin(), map.end(), key, [](const CodePair& p, uint64_t k) {
    return PackCodeToNul(p.from.data()) < k;
  });
  if (it == map.end() || PackCodeToNul(it->from.data()) != key) return nullptr;
  return &it->to;
}

bool ContainsCode(std::span<const RowCode> codes, const char* code) {
  const uint64_t key = PackCodeToNul(code);
  const auto it = std::lower_bound(codes.begin(), codes.end(), key, [](const RowCode& r, uint64_t k) {
    return PackCodeToNul(r.data()) < k;
  });
  return it != codes.end() && PackCodeToNul(it->data()) == key;
}

CodeConversions::CodeConversions(const TableSet* tables) {
  const CodeMap jan2001 = ActiveCodeMapJan2001(tables);
  const CodeMap from2001 = ActiveCodeMap2001(tables);
  auto add = [this](const char* code) { keys_.push_back(PackCodeToNul(code)); };
  for (const RowCode& code : WithdrawnCodes1999()) add(code.data());
  for (CodeMap map : {CodeMap1999(), CodeMap2000(), jan2001, from2001}) {
    for (const CodePair& pair : map) add(pair.from.data());
  }
  for (const char* code : {"N0471", "P4555", "S5521", "S5522"}) add(code);
  std::sort(keys_.begin(), keys_.end());
  keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());

  // Each step asked as preparation asks it, with the code of the key.
  entries_.resize(keys_.size());
  for (std::size_t k = 0; k < keys_.size(); ++k) {
    char code[kCodeLength];
    for (int i = 0; i < kCodeLength; ++i) {
      code[i] = static_cast<char>((keys_[k] >> (8 * (kCodeLength - 1 - i))) & 0xFF);
    }
    Entry& e = entries_[k];
    auto set = [&e](int step, const char* to) {
      e.steps = static_cast<uint8_t>(e.steps | (1u << step));
      std::copy_n(to, kCodeLength, e.to[static_cast<std::size_t>(step)].begin());
    };
    auto convert = [&](int step, CodeMap map) {
      if (const RowCode* to = FindConversion(map, code)) set(step, to->data());
    };
    auto is = [&code](const char* listed) { return CompareCodes(code, listed) == 0; };
    if (ContainsCode(WithdrawnCodes1999(), code)) {
      set(kStepWithdrawn1999, kBlankCode);
    } else {
      convert(kStepMap1999, CodeMap1999());
    }
    if (is("N0471")) set(kStepN0471, "N0470");
    if (is("P4555")) set(kStepP4555, kBlankCode);
    convert(kStepMap2000, CodeMap2000());
    if (is("S5521") || is("S5522")) set(kStepS5521, "S5520");
    convert(kStepJan2001, jan2001);
    convert(kStepFrom2001, from2001);
  }
  // A list longer than the index can number is bisected.
  if (keys_.size() <= CodeIndex::kMaxValue) {
    index_.Reserve(keys_.size());
    for (std::size_t k = 0; k < keys_.size(); ++k) index_.Add(keys_[k], static_cast<uint32_t>(k));
  }
}

const CodeConversions::Entry* CodeConversions::Find(uint64_t key) const {
  if (!index_.empty()) {
    const int32_t found = index_.Find(key);
    return found < 0 ? nullptr : &entries_[static_cast<std::size_t>(found)];
  }
  const std::size_t i =
      LowerBoundWithoutBranches(keys_.size(), [&](std::size_t k) { return keys_[k] < key; });
  if (i == keys_.size() || keys_[i] != key) return nullptr;
  return &entries_[i];
}

}  // namespace tallow
