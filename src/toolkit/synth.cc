// Synthetic table sets: random content with the shape of real tables, built
// from sources so that every synthetic set is also a test of build.
//
// Shape: every diagnosis table full, with male/female entry pairs and the
// three-character code last in its category, editions nested (8 in 9 in 0 in
// 1); procedure tables full; 1608 SGTAB0 rows with one to three date spans a
// code; CC lists with ranges filling their areas; full rule tables whose MDCs
// end in a catch-all rule and whose other rules require bits that classes
// of the MDC or procedure classes have; RDRGDRG lines for every DRG value the
// rules yield; full RDRGCC tables; level characters '0' to '3'; neonate marks
// for newborn and P codes.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <array>
#include <set>

#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"
#include "toolkit/split_mix.h"

namespace tallow {

namespace toolkit {
namespace {

// splitmix64: the same sequence on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    return SplitMix64(state_);
  }
  // 0 .. n - 1 (n >= 1).
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  // lo .. hi inclusive.
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Percent(int p) { return Below(100) < p; }
  // A stream of its own for one part of the set.
  Random Fork(uint64_t salt) { return Random(Next() ^ (salt * 0xD1B54A32D192ED03ULL)); }

 private:
  uint64_t state_;
};

template <typename T>
void Shuffle(std::vector<T>& v, Random& rng) {
  for (std::size_t i = v.size(); i > 1; --i) {
    std::swap(v[i - 1], v[static_cast<std::size_t>(rng.Below(static_cast<int>(i)))]);
  }
}

// k distinct values of 0 .. n - 1, ascending.
std::vector<int> Choose(int n, int k, Random& rng) {
  std::vector<int> all(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) all[static_cast<std::size_t>(i)] = i;
  Shuffle(all, rng);
  all.resize(static_cast<std::size_t>(std::min(n, k)));
  std::sort(all.begin(), all.end());
  return all;
}

// Spreads `total` over `parts` sizes between lo and hi, each near the mean.
std::vector<int> Spread(int total, int parts, int lo, int hi, Random& rng) {
  std::vector<int> sizes(static_cast<std::size_t>(parts), lo);
  int left = total - lo * parts;
  while (left > 0) {
    auto& s = sizes[static_cast<std::size_t>(rng.Below(parts))];
    if (s < hi) {
      ++s;
      --left;
    }
  }
  return sizes;
}

struct Entry {
  int category;
  int tail;
  int cls;      // 1-based
  int ccRow;    // CCTAB key of the code
  bool second;  // the female entry of a pair
};

std::string Code(int category, int tail) {
  std::string code = CodeText(category, tail);
  while (code.back() == ' ') code.pop_back();
  return code;
}

// Diagnosis classes: MDC, DRG key, CC flag, five mask bytes.
struct DxClass {
  int mdc;
  int key;
  int cc;
  std::array<uint8_t, 5> mask;
};

constexpr int kMedicalMdcs = 25;
constexpr int kNewbornMdc = 15;

std::vector<DxClass> MakeDiagnosisClasses(Random& rng) {
  std::vector<DxClass> classes(kDiagnosisClasses);
  for (int k = 0; k < kDiagnosisClasses; ++k) {
    DxClass& c = classes[static_cast<std::size_t>(k)];
    c.mdc = k < 3 ? 0 : (k < 12 ? kNewbornMdc : rng.Between(1, kMedicalMdcs));
    c.key = rng.Percent(50) ? 0 : rng.Between(1, 12);
    c.cc = rng.Percent(35) ? 1 : 0;
    c.mask = {};
    for (int b = rng.Below(3); b > 0; --b) {
      c.mask[static_cast<std::size_t>(rng.Below(5))] |= static_cast<uint8_t>(1 << rng.Below(8));
    }
  }
  return classes;
}

// The diagnosis entries of edition 1; the others drop entries from it.
std::vector<Entry> MakeDiagnosisMaster(const std::vector<DxClass>& classes, Random& rng) {
  const int total = kDiagnosisEntries[3];
  const std::vector<int> categories = Choose(kCategorySlots, 1300, rng);
  const std::vector<int> sizes =
      Spread(total, static_cast<int>(categories.size()), 1, 60, rng);
  // Classes by MDC, so that a category keeps mostly to one MDC.
  std::vector<Entry> entries;
  entries.reserve(static_cast<std::size_t>(total));
  int ccRow = 0;
  for (std::size_t i = 0; i < categories.size(); ++i) {
    const int category = categories[i];
    const int size = sizes[i];
    const int baseClass = rng.Between(1, kDiagnosisClasses);
    int pairs = size >= 3 && rng.Percent(20) ? rng.Between(1, std::max(1, size / 8)) : 0;
    const int distinct = size - pairs;
    const bool threeChar = distinct == 1 || rng.Percent(70);
    // Tail candidates: four-character codes d*16+15 and five-character
    // codes d*16+e.
    std::vector<int> candidates;
    for (int d = 0; d < 10; ++d) {
      candidates.push_back(d * 16 + 15);
      for (int e = 0; e < 10; ++e) candidates.push_back(d * 16 + e);
    }
    std::vector<int> tails;
    for (int pick : Choose(static_cast<int>(candidates.size()), distinct - (threeChar ? 1 : 0), rng)) {
      tails.push_back(candidates[static_cast<std::size_t>(pick)]);
    }
    std::sort(tails.begin(), tails.end());
    if (threeChar) tails.push_back(255);
    std::set<int> paired;
    for (int pick : Choose(static_cast<int>(tails.size()), pairs, rng)) paired.insert(pick);
    for (std::size_t t = 0; t < tails.size(); ++t) {
      const int cls = rng.Percent(75) ? baseClass : rng.Between(1, kDiagnosisClasses);
      ++ccRow;
      entries.push_back(Entry{category, tails[t], cls, ccRow, false});
      if (paired.count(static_cast<int>(t)) != 0) {
        entries.push_back(Entry{category, tails[t], rng.Between(1, kDiagnosisClasses), ccRow, true});
      }
    }
  }
  (void)classes;
  return entries;
}

// Drops random entries (never half a pair) down to `size`.
std::vector<Entry> Shrink(const std::vector<Entry>& from, int size, Random& rng) {
  std::vector<bool> keep(from.size(), true);
  int count = static_cast<int>(from.size());
  while (count > size) {
    const auto i = static_cast<std::size_t>(rng.Below(static_cast<int>(from.size())));
    if (!keep[i]) continue;
    const bool pairFirst = i + 1 < from.size() && from[i + 1].second;
    if (from[i].second || (pairFirst && count - 2 < size)) continue;
    keep[i] = false;
    --count;
    if (pairFirst) {
      keep[i + 1] = false;
      --count;
    }
  }
  std::vector<Entry> out;
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (keep[i]) out.push_back(from[i]);
  }
  return out;
}

std::string DiagnosisSource(const std::vector<DxClass>& classes, const std::vector<Entry>& entries,
                            bool withCcRows) {
  std::string s;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    const DxClass& c = classes[k];
    s += fmt::format("class {} {} {} {} {}\n", k + 1, c.mdc, c.key, c.cc,
                     DenseHexText(c.mask.data(), 5));
  }
  for (const Entry& e : entries) {
    s += fmt::format("entry {} {}", Code(e.category, e.tail), e.cls);
    if (withCcRows) s += fmt::format(" {}", e.ccRow);
    s.push_back('\n');
  }
  return s;
}

// Procedure classes: flags, procMask, nonOrMask, further bytes.
using ProcClass = std::array<uint8_t, kProcedureClassBytes>;

std::vector<ProcClass> MakeProcedureClasses(int count, Random& rng) {
  std::vector<ProcClass> classes(static_cast<std::size_t>(count));
  for (ProcClass& c : classes) {
    c = {};
    const bool operating = rng.Percent(45);
    c[0] = static_cast<uint8_t>((operating ? 0x01 : 0) | (rng.Percent(10) ? 0x02 : 0));
    for (int b = rng.Between(1, 2); b > 0; --b) {
      c[static_cast<std::size_t>(rng.Between(1, 20))] |= static_cast<uint8_t>(1 << rng.Below(8));
    }
    if (!operating) {
      c[static_cast<std::size_t>(rng.Between(21, 22))] |= static_cast<uint8_t>(1 << rng.Below(8));
    }
    if (rng.Percent(15)) {
      c[static_cast<std::size_t>(rng.Between(23, 25))] |= static_cast<uint8_t>(1 << rng.Below(8));
    }
  }
  return classes;
}

struct ProcCode {
  int category;
  int tail;
};

std::vector<ProcCode> MakeProcedureCodes(int total, Random& rng) {
  // Fee-schedule codes: a letter from M to S and four digits.
  std::vector<int> slots;
  for (int letter = 'M' - 'A'; letter <= 'S' - 'A'; ++letter) {
    for (int d = 0; d < 100; ++d) slots.push_back(letter * 100 + d);
  }
  std::vector<int> categories;
  for (int pick : Choose(static_cast<int>(slots.size()), total / 9, rng)) {
    categories.push_back(slots[static_cast<std::size_t>(pick)]);
  }
  const std::vector<int> sizes = Spread(total, static_cast<int>(categories.size()), 1, 40, rng);
  std::vector<ProcCode> codes;
  for (std::size_t i = 0; i < categories.size(); ++i) {
    for (int pick : Choose(100, sizes[i], rng)) {
      codes.push_back(ProcCode{categories[i], (pick / 10) * 16 + pick % 10});
    }
  }
  return codes;
}

std::string ClassBytes(const ProcClass& c) { return SparseBytesText(c.data(), kProcedureClassBytes, 0); }

std::string ProcedureSource(const std::vector<ProcClass>& classes, const std::vector<ProcCode>& codes,
                            Random& rng) {
  std::string s;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    s += fmt::format("class {} {}\n", k + 1, ClassBytes(classes[k]));
  }
  for (const ProcCode& c : codes) {
    s += fmt::format("entry {} {}\n", Code(c.category, c.tail),
                     rng.Between(1, static_cast<int>(classes.size())));
  }
  return s;
}

std::string DatedSource(const std::vector<ProcClass>& classes, Random& rng) {
  // Codes with one to three rows; the row count fills the table exactly.
  const std::vector<ProcCode> codes = MakeProcedureCodes(1200, rng);
  std::vector<int> rowsOf(codes.size(), 1);
  for (int extra = kDatedProcedureRows - static_cast<int>(codes.size()); extra > 0;) {
    auto& n = rowsOf[static_cast<std::size_t>(rng.Below(static_cast<int>(codes.size())))];
    if (n < 3) {
      ++n;
      --extra;
    }
  }
  std::string s;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const int n = rowsOf[i];
    static constexpr int kSpans[3][3][2] = {
        {{19000101, 99991231}},
        {{20020101, 20021231}, {20030101, 99991231}},
        {{20020101, 20020630}, {20020701, 20021231}, {20030101, 99991231}}};
    ProcClass cls = classes[static_cast<std::size_t>(rng.Below(static_cast<int>(classes.size())))];
    for (int r = 0; r < n; ++r) {
      if (r > 0 && rng.Percent(50)) {
        cls[static_cast<std::size_t>(rng.Between(1, 20))] ^= static_cast<uint8_t>(1 << rng.Below(8));
      }
      s += fmt::format("row {} {} {} {}\n", Code(codes[i].category, codes[i].tail),
                       kSpans[n - 1][r][0], kSpans[n - 1][r][1], ClassBytes(cls));
    }
  }
  return s;
}

// The DRG values the rules may yield: 484 values of DRG numbers 1..469, a
// band of numbers for each MDC, some numbers with digits 1 and 2.
struct DrgPool {
  std::vector<int> values;                        // ascending
  std::array<std::vector<int>, kMdcSlots> byMdc;  // MDC m at m - 1
};

DrgPool MakeDrgPool(Random& rng) {
  DrgPool pool;
  constexpr int kNumbers = 469;
  const int extra = kRefinedDrgLines - 1 - kNumbers;  // one line is DRG 470
  std::set<int> withDigits;
  for (int pick : Choose(kNumbers, extra, rng)) withDigits.insert(pick + 1);
  for (int number = 1; number <= kNumbers; ++number) {
    const int mdc = std::min(kMedicalMdcs, 1 + (number - 1) * kMedicalMdcs / kNumbers);
    std::vector<int> values = {number * 10};
    if (withDigits.count(number) != 0) values = {number * 10 + 1, number * 10 + 2};
    for (int v : values) {
      pool.values.push_back(v);
      pool.byMdc[static_cast<std::size_t>(mdc - 1)].push_back(v);
    }
  }
  // MDC 30 falls back on values of any MDC.
  for (int k = 0; k < 4; ++k) {
    pool.byMdc[kMdcSlots - 1].push_back(pool.values[static_cast<std::size_t>(
        rng.Below(static_cast<int>(pool.values.size())))]);
  }
  return pool;
}

std::string RuleSource(int ruleCount, const std::vector<DxClass>& dx,
                       const std::vector<ProcClass>& procedures, const DrgPool& pool,
                       Random& rng) {
  // MDCs 1..25 share the rules but a few for MDC 30.
  constexpr int kFallbackRules = 3;
  const std::vector<int> sizes = Spread(ruleCount - kFallbackRules, kMedicalMdcs, 4, 60, rng);
  std::string s;
  auto rule = [&](int mdc, int value, int key, std::array<uint8_t, kRequireBytes> require) {
    s += fmt::format("rule {} {} {} {}\n", mdc, value, key,
                     SparseBytesText(require.data(), kRequireBytes, 1));
  };
  for (int mdc = 1; mdc <= kMedicalMdcs; ++mdc) {
    const std::vector<int>& values = pool.byMdc[static_cast<std::size_t>(mdc - 1)];
    // Principal diagnosis classes of the MDC that a rule can tell apart.
    std::vector<const DxClass*> own;
    for (const DxClass& c : dx) {
      const bool marked = c.key != 0 || std::any_of(c.mask.begin(), c.mask.end(),
                                                    [](uint8_t b) { return b != 0; });
      if (c.mdc == mdc && marked) own.push_back(&c);
    }
    const int n = sizes[static_cast<std::size_t>(mdc - 1)];
    for (int r = 0; r + 1 < n; ++r) {
      std::array<uint8_t, kRequireBytes> require{};
      int key = 0;
      const int value = values[static_cast<std::size_t>(rng.Below(static_cast<int>(values.size())))];
      if (r < n / 3) {
        // Surgical: an operating-room procedure, often of one procedure class.
        require[0] |= 0x08;
        const ProcClass& p =
            procedures[static_cast<std::size_t>(rng.Below(static_cast<int>(procedures.size())))];
        if (rng.Percent(70)) {
          for (int b = 1; b <= 20; ++b) {
            if (p[static_cast<std::size_t>(b)] != 0) {
              const uint8_t bits = p[static_cast<std::size_t>(b)];
              require[static_cast<std::size_t>(17 + b)] = static_cast<uint8_t>(bits & (~bits + 1));
              break;
            }
          }
        }
      } else if (!own.empty()) {
        // Medical: a bit or the key of a principal diagnosis class of the MDC.
        const DxClass& c = *own[static_cast<std::size_t>(rng.Below(static_cast<int>(own.size())))];
        for (int b = 0; b < 5; ++b) {
          if (c.mask[static_cast<std::size_t>(b)] != 0) {
            const uint8_t bits = c.mask[static_cast<std::size_t>(b)];
            require[static_cast<std::size_t>(3 + b)] = static_cast<uint8_t>(bits & (~bits + 1));
            break;
          }
        }
        if (rng.Percent(30) || std::all_of(require.begin(), require.end(),
                                           [](uint8_t b) { return b == 0; })) {
          key = c.key;
        }
      }
      // With CC; also what keeps a rule without other demands from
      // catching every case of the MDC before its last rule.
      const bool open = key == 0 && std::all_of(require.begin(), require.end(),
                                                [](uint8_t b) { return b == 0; });
      if (open || rng.Percent(25)) require[0] |= 0x10;
      if (rng.Percent(10)) require[0] |= 0x80;  // age 18 or more
      if (rng.Percent(5)) require[0] |= rng.Percent(50) ? 0x01 : 0x02;
      rule(mdc, value, key, require);
    }
    rule(mdc, values.back(), 0, {});
  }
  for (int r = 0; r < kFallbackRules; ++r) {
    std::array<uint8_t, kRequireBytes> require{};
    if (r + 1 < kFallbackRules) require[0] = 0x08;
    const auto& values = pool.byMdc[kMdcSlots - 1];
    rule(kMdcSlots, values[static_cast<std::size_t>(r) % values.size()], 0, require);
  }
  return s;
}

// List bytes of one item.
int ItemBytes(int length) { return length > 0 ? 3 : 2; }

// A list of ascending items over values in [lo, hi], within `budget` bytes.
std::string ListText(int lo, int hi, int budget, Random& rng) {
  std::string s;
  int value = lo + rng.Below(std::max(1, (hi - lo) / 8));
  int items = rng.Between(0, 5);
  while (items-- > 0 && value <= hi) {
    const int length = rng.Percent(30) ? rng.Between(1, 6) : 0;
    if (ItemBytes(length) > budget) break;
    budget -= ItemBytes(length);
    if (!s.empty()) s.push_back(',');
    s += length > 0 ? fmt::format("{}+{}", value, length) : fmt::format("{}", value);
    value += length + 1 + rng.Below(std::max(1, (hi - lo) / 6));
  }
  return s.empty() ? "-" : s;
}

int ListBytes(const std::string& list) {
  if (list == "-") return 0;
  int bytes = 0;
  std::size_t pos = 0;
  while (true) {
    const std::size_t comma = list.find(',', pos);
    const std::string item = list.substr(pos, comma - pos);
    bytes += item.find('+') != std::string::npos ? 3 : 2;
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return bytes;
}

std::string CcRangeSource(int maxCcRow, Random& rng) {
  std::string s;
  int key = rng.Between(1, 4);
  int used = 0;
  for (int i = 0; i < kCcRangeRows; ++i) {
    const int span = rng.Percent(60) ? 0 : rng.Between(1, 4);
    const int allowance = static_cast<int>(static_cast<long>(kCcRangeListBytes) * (i + 1) / kCcRangeRows);
    const std::string list = ListText(1, maxCcRow, allowance - used, rng);
    used += ListBytes(list);
    s += fmt::format("row {} {} {}\n", key, span, list);
    key += span + 1 + rng.Below(3);
  }
  return s;
}

// First entries of the codes of a table (the entries CCTAB0/1 key on).
std::vector<int> FirstEntries(const std::vector<Entry>& entries) {
  std::vector<int> firsts;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].second) firsts.push_back(static_cast<int>(i));
  }
  return firsts;
}

std::string CcEntrySource(int table, const std::vector<Entry>& entries, Random& rng) {
  const int rows = kCcEntryRows[table];
  const int area = kCcEntryListBytes[table];
  const std::vector<int> firsts = FirstEntries(entries);
  std::string s;
  int used = 0;
  int i = 0;
  for (int pick : Choose(static_cast<int>(firsts.size()), rows, rng)) {
    const int allowance = static_cast<int>(static_cast<long>(area) * (i + 1) / rows);
    std::string list = ListText(0, static_cast<int>(entries.size()) - 1, allowance - used, rng);
    used += ListBytes(list);
    s += fmt::format("row {} {}\n", firsts[static_cast<std::size_t>(pick)], list);
    ++i;
  }
  return s;
}

std::string RefinedCcSource(int edition, const std::vector<Entry>& entries, const DrgPool& pool,
                            Random& rng) {
  const int lines = kRefinedCcRows[edition];
  const int twoLine = lines / 7;
  std::vector<std::string> codes;
  for (int e : FirstEntries(entries)) {
    codes.push_back(CodeText(entries[static_cast<std::size_t>(e)].category,
                             entries[static_cast<std::size_t>(e)].tail));
  }
  std::vector<std::string> chosen;
  for (int pick : Choose(static_cast<int>(codes.size()), lines - twoLine, rng)) {
    chosen.push_back(codes[static_cast<std::size_t>(pick)]);
  }
  std::sort(chosen.begin(), chosen.end());
  std::set<int> doubled;
  for (int pick : Choose(static_cast<int>(chosen.size()), twoLine, rng)) doubled.insert(pick);
  std::string s;
  auto drg = [&] {
    return pool.values[static_cast<std::size_t>(rng.Below(static_cast<int>(pool.values.size())))];
  };
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    std::string code = chosen[i];
    while (code.back() == ' ') code.pop_back();
    if (doubled.count(static_cast<int>(i)) != 0) {
      const bool bySex = rng.Percent(60);
      s += fmt::format("{} {} 0 {} {}\n", code, bySex ? 1 : 0, drg(), rng.Between(1, kLevelRows));
      s += fmt::format("{} {} {} {} {}\n", code, bySex ? 2 : 0, bySex ? 0 : 1, drg(),
                       rng.Between(1, kLevelRows));
    } else {
      s += fmt::format("{} 0 {} {} {}\n", code, rng.Percent(5) ? 1 : 0, drg(),
                       rng.Between(1, kLevelRows));
    }
  }
  return s;
}

std::string NeonateSource(const std::vector<Entry>& entries, const std::vector<DxClass>& classes,
                          Random& rng) {
  std::string s;
  for (const Entry& e : entries) {
    if (e.second) continue;
    const bool newborn = classes[static_cast<std::size_t>(e.cls - 1)].mdc == kNewbornMdc ||
                         e.category / 100 == 'P' - 'A';
    if (rng.Percent(newborn ? 50 : 1)) {
      s += fmt::format("{} {}\n", Code(e.category, e.tail), rng.Between(1, 3));
    }
  }
  return s;
}

std::string RefinedDrgSource(const DrgPool& pool, Random& rng) {
  std::vector<int> values = pool.values;
  values.push_back(4700);
  std::sort(values.begin(), values.end());
  std::string s;
  for (int v : values) {
    if (v == 4700) {
      s += "4700 4700 0 0 -\n";
      continue;
    }
    const int column = rng.Percent(85) ? rng.Between(1, kLevelColumns) : 0;
    s += fmt::format("{} {} {} {} {}\n", v, v, rng.Percent(10) ? 1 : 0, column,
                     rng.Percent(60) ? "M" : "-");
  }
  return s;
}

std::string LevelSource(Random& rng) {
  std::string s;
  for (int r = 1; r <= kLevelRows; ++r) {
    const int severity = rng.Between(1, 3);
    std::string levels;
    for (int c = 0; c < kLevelColumns; ++c) {
      levels.push_back(rng.Percent(30) ? '0' : static_cast<char>('0' + rng.Between(1, severity)));
    }
    s += fmt::format("row {} {}\n", r, levels);
  }
  return s;
}

}  // namespace
}  // namespace toolkit

std::map<std::string, std::string> SynthSources(uint64_t seed) {
  using namespace toolkit;
  Random root(seed);
  Random rng = root.Fork(1);
  std::map<std::string, std::string> sources;

  const std::vector<DxClass> dxClasses = MakeDiagnosisClasses(rng);
  std::array<std::vector<Entry>, kEditionCount> editions;
  editions[3] = MakeDiagnosisMaster(dxClasses, rng);
  for (int e = 2; e >= 0; --e) {
    editions[static_cast<std::size_t>(e)] =
        Shrink(editions[static_cast<std::size_t>(e + 1)], kDiagnosisEntries[e], rng);
  }
  static constexpr const char* kDx[kEditionCount] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    sources[kDx[e]] = DiagnosisSource(dxClasses, editions[e], e < 2);
  }

  Random procRng = root.Fork(2);
  const std::vector<ProcClass> procClasses = MakeProcedureClasses(kProcedureClasses[1], procRng);
  const std::vector<ProcClass> procClasses8(procClasses.begin(),
                                            procClasses.begin() + kProcedureClasses[0]);
  const std::vector<ProcCode> procCodes8 = MakeProcedureCodes(kProcedureEntries[0], procRng);
  std::vector<ProcCode> procCodes9 = procCodes8;
  for (int drop = kProcedureEntries[0] - kProcedureEntries[1]; drop > 0; --drop) {
    procCodes9.erase(procCodes9.begin() + procRng.Below(static_cast<int>(procCodes9.size())));
  }
  sources["SGTAB8"] = ProcedureSource(procClasses8, procCodes8, procRng);
  sources["SGTAB9"] = ProcedureSource(procClasses, procCodes9, procRng);
  sources["SGTAB0"] = DatedSource(procClasses, procRng);

  Random ruleRng = root.Fork(3);
  const DrgPool pool = MakeDrgPool(ruleRng);
  sources["DGTAB"] = RuleSource(kDrgRuleCounts[0], dxClasses, procClasses, pool, ruleRng);
  sources["DGTAB0"] = RuleSource(kDrgRuleCounts[1], dxClasses, procClasses, pool, ruleRng);
  sources["RDRGDRG"] = RefinedDrgSource(pool, ruleRng);
  sources["RDRGCL"] = LevelSource(ruleRng);

  Random ccRng = root.Fork(4);
  int maxCcRow = 0;
  for (const Entry& e : editions[1]) maxCcRow = std::max(maxCcRow, e.ccRow);
  sources["CCTAB"] = CcRangeSource(maxCcRow, ccRng);
  sources["CCTAB0"] = CcEntrySource(0, editions[2], ccRng);
  sources["CCTAB1"] = CcEntrySource(1, editions[3], ccRng);

  Random refinedRng = root.Fork(5);
  static constexpr const char* kCc[kEditionCount] = {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"};
  static constexpr const char* kNeo[kEditionCount] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0",
                                                      "RDRGNEO1"};
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    sources[kCc[e]] = RefinedCcSource(static_cast<int>(e), editions[e], pool, refinedRng);
    sources[kNeo[e]] = NeonateSource(editions[e], dxClasses, refinedRng);
  }
  for (auto& [name, source] : sources) {
    source = fmt::format("# {}: synthetic, seed {}\n", name, seed) + source;
  }
  return sources;
}

TableImages SynthTables(uint64_t seed) {
  Result<TableImages> images = BuildTableImages(SynthSources(seed));
  if (!images.ok()) {
    fmt::print(stderr, "synthetic table sources do not build: {}\n", images.message());
    std::abort();
  }
  return std::move(*images);
}

}  // namespace tallow
