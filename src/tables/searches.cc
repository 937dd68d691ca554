// Searches over the loaded tables and the choice of edition. Every index
// used here was validated when the tables were loaded.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "tables/branch_free.h"
#include "tables/codes.h"
#include "tables/table_set.h"

namespace tallow {

namespace {

// The packed key of the first code of a category: its three characters and
// two NULs, below every key of its codes.
uint64_t CategoryKey(int category) {
  const uint64_t letter = static_cast<uint64_t>('A' + category / 100);
  const uint64_t tens = static_cast<uint64_t>('0' + (category / 10) % 10);
  const uint64_t ones = static_cast<uint64_t>('0' + category % 10);
  return (letter << 32) | (tens << 24) | (ones << 16);
}

// The category of a packed key whose first three characters are a capital
// letter and two digits, else -1.
int CategoryOfKey(uint64_t key) {
  const auto letter = static_cast<unsigned>((key >> 32) & 0xFF);
  const auto tens = static_cast<unsigned>((key >> 24) & 0xFF) - '0';
  const auto ones = static_cast<unsigned>((key >> 16) & 0xFF) - '0';
  if (letter - 'A' > 25u || tens > 9u || ones > 9u) return -1;
  return static_cast<int>((letter - 'A') * 100 + tens * 10 + ones);
}

}  // namespace

void MakeCategoryIndex(DatedProcedureTable& table) {
  // The rows are sorted by key and the category keys rise with the
  // category, so one walk over both finds every lower bound.
  const auto& rows = table.firstRows;
  table.categoryFirst.assign(kCategorySlots + 1, static_cast<int32_t>(rows.size()));
  std::size_t r = 0;
  for (int c = 0; c < kCategorySlots; ++c) {
    const uint64_t key = CategoryKey(c);
    while (r < rows.size() && rows[r].key < key) ++r;
    table.categoryFirst[static_cast<std::size_t>(c)] = static_cast<int32_t>(r);
  }
}

void MakeRunIndex(DatedProcedureTable& table) {
  table.runIndex.clear();
  constexpr int kRowLimit = 1 << DatedProcedureTable::kRunRowBits;
  constexpr int kRunLimit = 1 << (CodeIndex::kValueBits - DatedProcedureTable::kRunRowBits);
  if (table.codes.size() >= static_cast<std::size_t>(std::min(kRowLimit, kRunLimit))) return;
  table.runIndex.Reserve(table.firstRows.size());
  for (const DatedProcedureTable::FirstRow& r : table.firstRows) {
    table.runIndex.Add(r.key, static_cast<uint32_t>(r.row) |
                                  (static_cast<uint32_t>(r.run) << DatedProcedureTable::kRunRowBits));
  }
}

namespace {

// Entries of a diagnosis category: the stored count as a signed 8-bit value,
// so a category holds at most 127 entries and a larger count none.
int DiagnosisCategoryCount(const DiagnosisTable& t, int category) {
  return static_cast<int8_t>(t.categoryCount[category]);
}

// Calls add(key, e, atLeast) for the first entry e of every distinct tail
// among the entries [start, end) of each category of a category-indexed
// table, with key the PackCode of the code of the category and tail, and
// atLeast the first entry from start on whose tail is not below e's: the
// codes the table can find. A tail with a half that no character gives (10
// to 14) stands for no code.
template <typename Count, typename Add>
void ForEachHeldCode(const std::array<int16_t, kCategorySlots>& starts,
                     const std::vector<uint8_t>& tails, Count count, Add add) {
  const auto size = static_cast<int>(tails.size());
  auto character = [](int half) { return half == 15 ? uint64_t{' '} : uint64_t('0' + half); };
  std::array<int16_t, 256> seenIn;  // the last category holding each tail
  seenIn.fill(-1);
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = std::max(int{starts[static_cast<std::size_t>(c)]}, 0);
    const int end = std::min(start + std::clamp(count(c), 0, 255), size);
    if (start >= end) continue;
    const uint64_t head = CategoryKey(c);
    // highest[k]: the highest tail of entries start..start+k, which rises
    // with k, so the first entry whose tail is not below a tail is the first
    // k whose highest is not below it. (A count is at most 255.)
    std::array<uint8_t, 256> highest;
    for (int e = start; e < end; ++e) {
      const auto k = static_cast<std::size_t>(e - start);
      const uint8_t tail = tails[static_cast<std::size_t>(e)];
      const int high = tail >> 4;
      const int low = tail & 0xF;
      const bool first = seenIn[tail] != c;
      seenIn[tail] = static_cast<int16_t>(c);
      const bool aboveAllBefore = k == 0 || highest[k - 1] < tail;
      highest[k] = aboveAllBefore ? tail : highest[k - 1];
      if (!first || (high > 9 && high != 15) || (low > 9 && low != 15)) continue;
      int atLeast = e;  // in tail order (as built) no earlier tail is as high
      if (!aboveAllBefore) {
        atLeast = start + static_cast<int>(std::lower_bound(highest.begin(), highest.begin() + k, tail) -
                                           highest.begin());
      }
      add(head | (character(high) << 8) | character(low), e, atLeast);
    }
  }
}

}  // namespace

int SearchDiagnosisTable(const DiagnosisTable& t, const char* code, bool beforeDated, bool female) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/true, &key)) return -1;
  const int count = DiagnosisCategoryCount(t, key.category);
  if (count <= 0) return -1;
  const int start = t.categoryStart[key.category];
  const int end = start + count;

  // Before the dated tables, tails ascend within a category: the first tail
  // not below the key decides. From them on, the first equal tail.
  const uint8_t* tails = t.entryTail.data();
  const std::size_t size = t.entryTail.size();
  const auto tail = static_cast<uint8_t>(key.tail);
  int found = -1;
  if (beforeDated) {
    const int e = FirstTail<TailMatch::kAtLeast>(tails, size, start, count, tail);
    if (e >= 0 && tails[e] == tail) found = e;
  } else {
    found = FirstTail<TailMatch::kEqual>(tails, size, start, count, tail);
  }
  if (found < 0) return -1;

  // A code held by two adjacent entries: the second serves female cases.
  if (found + 1 < end && female && t.entryTail[found + 1] == key.tail) return found + 1;
  return found;
}

DiagnosisFound FindDiagnosisCode(const DiagnosisTable& t, const char* code, bool beforeDated,
                                 bool female) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/true, &key)) return {};
  const int count = DiagnosisCategoryCount(t, key.category);
  if (count <= 0) return {};
  const int start = t.categoryStart[key.category];
  const int end = start + count;
  const uint8_t* tails = t.entryTail.data();
  const std::size_t size = t.entryTail.size();
  const auto tail = static_cast<uint8_t>(key.tail);

  // One walk finds the first equal tail and, before it, the first tail not
  // below the key: the search before the dated tables finds the code only
  // when the two are the same entry.
  int equal = -1;
  int atLeast = -1;
  int e = start;
#if defined(__SSE2__)
  const __m128i k = _mm_set1_epi8(static_cast<char>(tail));
  for (; e < end && static_cast<std::size_t>(e) + 16 <= size; e += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tails + e));
    const unsigned inRun = end - e < 16 ? (1u << (end - e)) - 1 : 0xFFFFu;
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, k))) & inRun;
    if (atLeast < 0) {
      const auto notBelow =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, k), v))) & inRun;
      if (notBelow != 0) atLeast = e + std::countr_zero(notBelow);
    }
    if (same != 0) {
      equal = e + std::countr_zero(same);
      e = end;
      break;
    }
  }
#else
  (void)size;
#endif
  for (; e < end; ++e) {
    if (atLeast < 0 && tails[e] >= tail) atLeast = e;
    if (tails[e] == tail) {
      equal = e;
      break;
    }
  }
  if (equal < 0) return {};

  DiagnosisFound found;
  found.firstEntry = equal;
  if (beforeDated && atLeast != equal) return found;
  // A code held by two adjacent entries: the second serves female cases.
  // Taken without a branch on the case's sex (which follows no order a
  // predictor could learn); the tail read stays inside the category.
  const int next = equal + 1;
  const bool inside = next < end;
  const uint8_t nextTail = tails[inside ? next : equal];
  found.caseEntry = equal + static_cast<int>(female & inside & (nextTail == tail));
  return found;
}

int FirstDiagnosisEntryOf(const DiagnosisTable& t, const char* code) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/true, &key)) return -1;
  const int count = DiagnosisCategoryCount(t, key.category);
  if (count <= 0) return -1;
  return FirstTail<TailMatch::kEqual>(t.entryTail.data(), t.entryTail.size(),
                                      t.categoryStart[key.category], count,
                                      static_cast<uint8_t>(key.tail));
}

int SearchProcedureTable(const ProcedureTable& t, const char* code) {
  DecodedCode key;
  if (!DecodeCode(code, /*strictTail=*/false, &key)) return -1;
  const int count = t.categoryCount[key.category];
  if (count == 0) return -1;
  const auto tail = static_cast<uint8_t>(key.tail);
  const int e = FirstTail<TailMatch::kAtLeast>(t.entryTail.data(), t.entryTail.size(),
                                               t.categoryStart[key.category], count, tail);
  return e >= 0 && t.entryTail[e] == tail ? e : -1;
}

// The search above, for every code a table holds at once. The first entry
// not below a code's first entry e lies at or before e, so the search finds
// e or nothing.
void MakeCodeIndex(ProcedureTable& table) {
  table.codeIndex.clear();
  if (table.entryTail.size() > CodeIndex::kMaxValue) return;
  CodeIndex index;
  index.Reserve(table.entryTail.size());
  ForEachHeldCode(
      table.categoryStart, table.entryTail,
      [&](int c) { return int{table.categoryCount[static_cast<std::size_t>(c)]}; },
      [&](uint64_t key, int e, int atLeast) {
        if (atLeast == e) index.Add(key, static_cast<uint32_t>(e));
      });
  table.codeIndex = std::move(index);
}

DatedProcedureTable::Run DatedProcedureTable::RunOf(const char* code) const {
  const uint64_t key = PackCodeToNul(code);
  if (!runIndex.empty()) {
    const int32_t found = runIndex.Find(key);
    if (found < 0) return Run{};
    return Run{found & ((1 << kRunRowBits) - 1), found >> kRunRowBits};
  }
  auto first = firstRows.begin();
  auto last = firstRows.end();
  // The keys of a category's codes lie between its key and the next one's.
  const int category = CategoryOfKey(key);
  if (category >= 0 && categoryFirst.size() == kCategorySlots + 1) {
    last = first + categoryFirst[static_cast<std::size_t>(category) + 1];
    first += categoryFirst[static_cast<std::size_t>(category)];
  }
  const std::size_t n = static_cast<std::size_t>(last - first);
  const FirstRow* rows = n > 0 ? &*first : nullptr;
  const std::size_t i = LowerBoundWithoutBranches(n, [&](std::size_t k) { return rows[k].key < key; });
  if (i == n || rows[i].key != key) return Run{};
  return Run{rows[i].row, rows[i].run};
}

std::span<const DrgRule> DrgRuleTable::RulesOf(int mdc) const {
  if (mdc < 1 || mdc > kMdcSlots) return {};
  const int count = mdcRuleCount[mdc - 1];
  if (count == 0) return {};
  const auto first = static_cast<std::size_t>(mdcRuleStart[mdc - 1] - 1);
  return std::span<const DrgRule>(rules).subspan(first, static_cast<std::size_t>(count));
}

std::span<const uint8_t> DrgRuleTable::KeyedRulesOf(int mdc, uint8_t key) const {
  if (mdc < 1 || mdc > kMdcSlots || keyedRunOf.size() != std::size_t{kMdcSlots} * 256) return {};
  const uint32_t run = keyedRunOf[static_cast<std::size_t>(mdc - 1) * 256 + key];
  return std::span<const uint8_t>(keyedRules).subspan(run >> 8, run & 0xFF);
}

void DrgRuleTable::MakeKeyedRules() {
  keyedRunOf.assign(std::size_t{kMdcSlots} * 256, 0);
  keyedRules.clear();
  keyedWord0.clear();
  for (int m = 1; m <= kMdcSlots; ++m) {
    const std::span<const DrgRule> mdcRules = RulesOf(m);
    // The keys of the MDC's rules; every other key shares the list of key 0.
    std::array<bool, 256> present{};
    present[0] = true;
    for (const DrgRule& r : mdcRules) present[r.bytes[0]] = true;
    const auto first = keyedRunOf.begin() + static_cast<std::ptrdiff_t>(m - 1) * 256;
    for (int key = 0; key < 256; ++key) {
      if (!present[static_cast<std::size_t>(key)]) continue;
      const auto from = static_cast<uint32_t>(keyedRules.size());
      for (std::size_t i = 0; i < mdcRules.size(); ++i) {
        const uint8_t k = mdcRules[i].bytes[0];
        if (k == 0 || k == key) {
          keyedRules.push_back(static_cast<uint8_t>(i));
          keyedWord0.push_back(RequireWordOf(mdcRules[i], 0));
        }
      }
      first[key] = from << 8 | static_cast<uint32_t>(keyedRules.size() - from);
    }
    for (int key = 1; key < 256; ++key) {
      if (!present[static_cast<std::size_t>(key)]) first[key] = first[0];
    }
  }
}

uint64_t RequireWordOf(const DrgRule& rule, std::size_t w) {
  uint64_t word = 0;
  for (std::size_t k = 8 * w; k < std::min<std::size_t>(8 * w + 8, 42); ++k) {
    word |= static_cast<uint64_t>(rule.bytes[k + 1]) << (8 * (k % 8));
  }
  return word;
}

RuleWords RequireWordsOf(const DrgRule& rule) {
  RuleWords words{};
  for (std::size_t w = 0; w < words.size(); ++w) words[w] = RequireWordOf(rule, w);
  return words;
}

WalkRule WalkRuleOf(const DrgRule& rule) {
  WalkRule w;
  w.words = RequireWordsOf(rule);
  w.conditions = static_cast<uint16_t>(rule.bytes[2] | rule.bytes[3] << 8);
  return w;
}

int DrgValueOf(const DrgRule& rule) {
  const int number = (rule.bytes[44] << 8) | rule.bytes[45];
  return number * 10 + rule.bytes[43];
}

int FindCcRow(const CcExclusionTable& table, int key) {
  int lo = -1;
  int hi = static_cast<int>(table.keyFirst.size());
  while (hi - lo >= 2) {
    const int mid = lo + (hi - lo) / 2;
    const auto at = static_cast<std::size_t>(mid);
    if (key < table.keyFirst[at]) {
      hi = mid;
    } else if (key <= table.keyLast[at]) {
      return mid;  // keyLast equals keyFirst in an entry-keyed table
    } else {
      lo = mid;
    }
  }
  return -1;
}

namespace {

// The first index i in [0, n) for which before(i) is false, where before
// holds for a prefix of the indexes: found by galloping out from `hint`,
// then bisecting the bracket, so an answer near the hint costs little.
template <class Before>
std::size_t PartitionPointNear(std::size_t n, std::size_t hint, Before before) {
  hint = std::min(hint, n);
  std::size_t lo = 0;  // the answer lies in [lo, hi]
  std::size_t hi = n;
  if (hint < n && before(hint)) {
    lo = hint + 1;
    std::size_t probe = lo;
    for (std::size_t step = 1; probe < n && before(probe); step *= 2) {
      lo = probe + 1;
      probe += step;
    }
    hi = std::min(probe, n);
  } else {
    hi = hint;
    lo = hint;
    for (std::size_t step = 1; lo > 0 && !before(lo - 1); step *= 2) {
      hi = lo - 1;
      lo = lo > step ? lo - step : 0;
    }
  }
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (before(mid)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

}  // namespace

namespace {

// The rows FindCcRow gives the keys from *low on, into rowOfKey; both left
// empty and 0 when no row holds a key.
void MakeRowOfKey(const CcExclusionTable& table, int* low, std::vector<int16_t>* rowOfKey) {
  const std::vector<int16_t>& first = table.keyFirst;
  const std::vector<int16_t>& last = table.keyLast;
  *low = 0;
  rowOfKey->clear();
  if (first.size() != last.size() || first.empty()) return;
  // A key is found only inside some row's range, so the array spans those.
  const int lowest = *std::min_element(first.begin(), first.end());
  const int high = *std::max_element(last.begin(), last.end());
  if (high < lowest) return;
  *low = lowest;
  rowOfKey->assign(static_cast<std::size_t>(high - lowest + 1), -1);
  // The bisection's answers for all keys at once, whatever the rows' order.
  // The keys that reach a bracket of the bisection are an interval: of
  // those, the ones below the middle row's first key go left, the ones in
  // its range stop there, and the rest (an interval again) go right. So one
  // walk over the brackets, each with its interval of keys, answers every key.
  struct Bracket {
    int lo, hi, keyLo, keyHi;
  };
  std::vector<Bracket> todo{{-1, static_cast<int>(first.size()), lowest, high}};
  while (!todo.empty()) {
    Bracket b = todo.back();
    todo.pop_back();
    while (b.hi - b.lo >= 2 && b.keyLo <= b.keyHi) {
      const int mid = b.lo + (b.hi - b.lo) / 2;
      const int f = first[static_cast<std::size_t>(mid)];
      const int l = last[static_cast<std::size_t>(mid)];
      if (b.keyLo < f) todo.push_back({b.lo, mid, b.keyLo, std::min(b.keyHi, f - 1)});
      for (int key = std::max(b.keyLo, f); key <= std::min(b.keyHi, l); ++key) {
        (*rowOfKey)[static_cast<std::size_t>(key - lowest)] = static_cast<int16_t>(mid);
      }
      b.keyLo = std::max({b.keyLo, f, l + 1});
      b.lo = mid;
    }
  }
}

}  // namespace

void MakeCcRowIndex(CcExclusionTable& table) {
  MakeRowOfKey(table, &table.rowIndexLow, &table.rowOfKey);
  table.rowIndexMade = true;
}

CcRowFinder::CcRowFinder(const CcExclusionTable& table) : table_(table) {
  if (table.rowIndexMade) {
    low_ = table.rowIndexLow;
    rowOfKey_ = table.rowOfKey;
    return;
  }
  MakeRowOfKey(table, &low_, &own_);
  rowOfKey_ = own_;
}

int CcRowFinder::Find(int key) const {
  if (rowOfKey_.empty()) return FindCcRow(table_, key);
  const auto at = static_cast<std::size_t>(key - low_);
  return key >= low_ && at < rowOfKey_.size() ? rowOfKey_[at] : -1;
}

RefinedCcRowFinder::RefinedCcRowFinder(const RefinedCcTable& table) : table_(table) {
  ordered_ = table.keys.size() == table.rows.size() && std::is_sorted(table.keys.begin(), table.keys.end());
}

int RefinedCcRowFinder::Find(uint64_t key) {
  if (!ordered_) return FirstRefinedCcRow(table_, key);
  const std::vector<uint64_t>& keys = table_.keys;
  finger_ = PartitionPointNear(keys.size(), finger_, [&](std::size_t r) { return keys[r] < key; });
  if (finger_ == keys.size() || keys[finger_] != key) return -1;
  if (finger_ + 1 < keys.size() && keys[finger_ + 1] == key) return FirstRefinedCcRow(table_, key);
  return static_cast<int>(finger_);
}

bool InExclusionList(const CcExclusionTable& table, int row, int x) {
  const auto r = static_cast<std::size_t>(row);
  const int items = table.listLength[r];
  if (items == 0) return false;  // an empty list may carry any offset
  const uint8_t* p = table.listArea.data() + table.listOffset[r];
  for (int item = 0; item < items; ++item) {
    const ExclusionItem it = DecodeExclusionItem(p);
    if (x < it.value) return false;
    if (x <= it.value + it.length) return true;
    p += it.range ? 3 : 2;
  }
  return false;
}

const CcExclusionTable& CcExclusionTableOf(const TableSet& tables, Edition edition) {
  switch (edition) {
    case Edition::k8:
    case Edition::k9:
      return tables.ccRange;
    case Edition::k0:
      return tables.ccEntry[0];
    case Edition::k1:
      break;
  }
  return tables.ccEntry[1];
}

int FirstRefinedCcRow(const RefinedCcTable& table, uint64_t key) {
  const std::vector<RefinedCcRow>& rows = table.rows;
  const bool packed = table.keys.size() == rows.size();
  const int n = static_cast<int>(rows.size());
  auto keyAt = [&](int r) {
    return packed ? table.keys[static_cast<std::size_t>(r)] : PackCode(rows[r].code.data());
  };
  // Rows at or below lo sort before the code, rows at or above hi after it.
  int lo = -1;
  int hi = n;
  int step = (n + 1) / 2;
  int hit = -1;
  while (step > 0) {
    const int mid = lo + step;
    const uint64_t at = keyAt(mid);
    if (key < at) {
      hi = mid;
    } else if (key > at) {
      lo = mid;
    } else {
      hit = mid;
      break;
    }
    step = (hi - lo) / 2;
  }
  if (hit < 0) return -1;
  if (hit > 0 && keyAt(hit - 1) == key) --hit;
  return hit;
}

void MakeRefinedCcKeys(RefinedCcTable& refined) {
  refined.keys.resize(refined.rows.size());
  for (std::size_t r = 0; r < refined.rows.size(); ++r) refined.keys[r] = PackCode(refined.rows[r].code.data());
}

void MakeCcExclusionRows(TableSet& tables, Edition edition, MadeRows rows) {
  const auto e = static_cast<std::size_t>(edition);
  DiagnosisTable& dx = tables.diagnosis[e];
  std::vector<DiagnosisEntryFacts>& facts = dx.entryFacts;
  if (facts.size() != dx.entryTail.size()) facts.assign(dx.entryTail.size(), DiagnosisEntryFacts{});
  for (std::size_t i = 0; i < facts.size(); ++i) {
    facts[i].classIndex = static_cast<int16_t>(i < dx.entryClass.size() ? dx.entryClass[i] - 1 : 0);
    facts[i].ccKey = i < dx.entryCcRow.size() ? dx.entryCcRow[i] : int16_t{0};
  }
  if ((static_cast<int>(rows) & static_cast<int>(MadeRows::kCcExclusion)) != 0) {
    const bool byCcRow = edition == Edition::k8 || edition == Edition::k9;
    const CcRowFinder ccRows(CcExclusionTableOf(tables, edition));
    for (std::size_t i = 0; i < facts.size(); ++i) {
      const int key = byCcRow ? (i < dx.entryCcRow.size() ? dx.entryCcRow[i] : -1) : static_cast<int>(i);
      facts[i].ccExclusionRow = static_cast<int16_t>(ccRows.Find(key));
    }
  }
  if ((static_cast<int>(rows) & static_cast<int>(MadeRows::kRefinedCc)) == 0) return;
  // The code of each entry is that of the category whose entries the
  // lookups search for it (a category count reads as a signed byte).
  RefinedCcRowFinder refinedRows(tables.refinedCc[e]);
  for (DiagnosisEntryFacts& f : facts) f.refinedCcRow = kRefinedCcSearch;
  std::vector<uint8_t> reached(facts.size(), 0);
  for (int category = 0; category < kCategorySlots; ++category) {
    const int count = static_cast<int8_t>(dx.categoryCount[static_cast<std::size_t>(category)]);
    const int start = dx.categoryStart[static_cast<std::size_t>(category)];
    for (int entry = start; entry < start + count; ++entry) {
      if (entry < 0 || entry >= static_cast<int>(facts.size())) continue;
      const auto at = static_cast<std::size_t>(entry);
      if (reached[at]++ != 0) {
        facts[at].refinedCcRow = kRefinedCcSearch;
        continue;
      }
      char code[kCodeLength];
      code[0] = static_cast<char>('A' + category / 100);
      code[1] = static_cast<char>('0' + (category / 10) % 10);
      code[2] = static_cast<char>('0' + category % 10);
      const int tail = dx.entryTail[at];
      auto half = [](int v) { return v == 15 ? ' ' : (v <= 9 ? static_cast<char>('0' + v) : '?'); };
      code[3] = half(tail >> 4);
      code[4] = half(tail & 0xF);
      const int row = refinedRows.Find(PackCode(code));
      facts[at].refinedCcRow = static_cast<int16_t>(row <= INT16_MAX ? row : kRefinedCcSearch);
    }
  }
}

void MakeCcExclusionRows(TableSet& tables) {
  for (RefinedCcTable& refined : tables.refinedCc) MakeRefinedCcKeys(refined);
  for (int e = 0; e < kEditionCount; ++e) MakeCcExclusionRows(tables, static_cast<Edition>(e));
}

EditionView SelectEdition(const TableSet& tables, const char* caseDate) {
  return EditionViewOf(tables, EditionOf(caseDate));
}

EditionView EditionViewOf(const TableSet& tables, Edition edition) {
  EditionView view;
  view.edition = edition;
  const auto e = static_cast<std::size_t>(view.edition);
  const bool early = view.edition == Edition::k8 || view.edition == Edition::k9;
  view.diagnosis = &tables.diagnosis[e];
  view.procedure = early ? &tables.procedure[e] : nullptr;
  view.datedProcedure = &tables.datedProcedure;
  view.drgRules = &tables.drgRules[early ? 0 : 1];
  view.refinedCc = &tables.refinedCc[e];
  return view;
}

}  // namespace tallow
