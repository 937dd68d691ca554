// Every case stands alone: its results depend on the case and the tables
// only. A case grouped by a fresh Grouper, after other cases in any order,
// or on another thread gives the same value in every output field.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/grouper.h"
#include "grouper/decide.h"
#include "grouper/lookup.h"
#include "refine/finalise.h"
#include "tables/loader.h"
#include "toolkit/code_pool.h"
#include "toolkit/source_format.h"
#include "toolkit/split_mix.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

// Everything GroupCase hands back for one case.
struct Outcome {
  int16_t result;
  std::array<int16_t, 14> fields;  // every out field of the request but groupCode
  int32_t groupCode;
  std::array<char, kMaxDiagnoses> levels;
  std::array<char, 9> versionDate;
  bool operator==(const Outcome&) const = default;
};

struct Case {
  char identifier[8];
  char date[8];
  char modifiers[5];
  char dx[kMaxDiagnoses][5];
  char px[kMaxProcedures][5];
  GroupRequest in;  // the non-code inputs; pointers are set when grouping
  int flags;
};

void Fill(char* to, const std::string& code) { std::memcpy(to, code.data(), 5); }

// Sets bits in the sparse byte list that ends a procedure class line
// ("class K BYTES" or "row CODE FROM TO BYTES").
std::string WithBits(const std::string& line, const std::vector<std::pair<int, uint8_t>>& bits) {
  const size_t at = line.rfind(' ') + 1;
  uint8_t bytes[toolkit::kProcedureClassBytes] = {};
  const std::string list = line.substr(at);
  for (size_t pos = 0; list != "-" && pos < list.size();) {
    const size_t colon = list.find(':', pos);
    const size_t comma = std::min(list.find(',', pos), list.size());
    bytes[std::stoi(list.substr(pos, colon - pos))] =
        static_cast<uint8_t>(std::stoi(list.substr(colon + 1, comma - colon - 1), nullptr, 16));
    pos = comma + 1;
  }
  for (const auto& [index, bit] : bits) bytes[index] |= bit;
  return line.substr(0, at) + toolkit::SparseBytesText(bytes, toolkit::kProcedureClassBytes, 0);
}

// A synthetic set with what state carried between cases would act on, and
// that the generator leaves out: procedures with a procedure-pair bit (class
// bytes 19 and 20), one procedure with both halves of a pair, and first in
// each MDC's rules a DRG 390 rule (which reads the every-diagnosis
// requirement of the last rule that demanded one), then a rule demanding that
// every diagnosis be covered.
TableImages StatefulTables(uint64_t seed) {
  std::map<std::string, std::string> sources = SynthSources(seed);
  for (auto& [name, text] : sources) {
    const bool procedures = name == "SGTAB8" || name == "SGTAB9" || name == "SGTAB0";
    const bool rules = name == "DGTAB" || name == "DGTAB0";
    if (!procedures && !rules) continue;
    std::string out;
    int number = 0;
    int lastMdc = 0;
    int ruleOfMdc = 0;
    for (size_t pos = 0; pos < text.size();) {
      const size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      if (procedures && (line.starts_with("class ") || line.starts_with("row "))) {
        switch (number++ % 9) {
          case 0: line = WithBits(line, {{19, 0x01}, {20, 0x01}}); break;
          case 1: case 4: line = WithBits(line, {{19, 0x02}}); break;
          case 2: case 6: line = WithBits(line, {{20, 0x02}}); break;
          default: break;
        }
      }
      if (rules && line.starts_with("rule ")) {
        // The table is full: the two rules take the places of the first two
        // of the MDC (each medical MDC has at least four).
        const int mdc = std::stoi(line.substr(5));
        ruleOfMdc = mdc == lastMdc ? ruleOfMdc + 1 : 0;
        lastMdc = mdc;
        const std::string head = "rule " + std::to_string(mdc) + " 3900 0 ";
        // In odd MDCs the DRG 390 rule demands an operating-room procedure,
        // so that the first pass (which has none) passes it by and saves
        // the requirement of the next rule, which a real pass then reads.
        if (mdc <= 25 && ruleOfMdc == 0) line = head + (mdc % 2 != 0 ? "1:19" : "1:11");
        if (mdc <= 25 && ruleOfMdc == 1) {
          uint8_t require[5] = {};
          require[mdc % 5] = static_cast<uint8_t>(1 << (mdc % 8));
          require[(mdc + 2) % 5] |= 0x01;
          line = head + "2:08," + toolkit::SparseBytesText(require, 5, 14);
        }
      }
      out += line + '\n';
    }
    text = out;
  }
  auto images = BuildTableImages(sources);
  if (!images.ok()) ADD_FAILURE() << images.message();
  return images.ok() ? *images : TableImages{};
}

// A mix like real input: every edition, 1-10 diagnoses, 0-20 procedures,
// unknown and blank codes, newborns, exempt identifiers, odd demographics.
std::vector<Case> MakeCases(const TableSet& tables, uint64_t seed, int count) {
  const CodePool pool = CodesOf(tables);
  static const char* const kDates[kEditionCount][2] = {
      {"19980315", "19980815"}, {"19990615", "20010715"},
      {"20020115", "20021215"}, {"20030315", "20050101"}};
  static const char* const kIdentifiers[] = {"12345678", "99099999", "99399999", "11100010"};
  static const char* const kModifiers[] = {"     ", "SBL  ", "L    ", "B    "};
  uint64_t state = seed;
  auto below = [&state](uint64_t n) { return static_cast<int>(SplitMix64(state) % n); };

  std::vector<Case> cases(static_cast<size_t>(count));
  for (Case& c : cases) {
    const int edition = below(kEditionCount);
    std::memcpy(c.identifier, kIdentifiers[below(8) < 5 ? 0 : below(4)], 8);
    std::memcpy(c.date, kDates[edition][below(2)], 8);
    std::memcpy(c.modifiers, kModifiers[below(4)], 5);
    const std::vector<std::string>& dx = pool.diagnoses[edition];
    const std::vector<std::string>& px = pool.procedures[edition];
    for (auto& code : c.dx) Fill(code, "     ");
    for (auto& code : c.px) Fill(code, "     ");
    const int diagnoses = 1 + below(10);
    for (int i = 0; i < diagnoses; ++i) {
      Fill(c.dx[i], below(30) == 0 || dx.empty() ? std::string("X9999") : dx[below(dx.size())]);
    }
    const int procedures = below(3) == 0 ? below(21) : below(4);
    for (int i = 0; i < procedures && !px.empty(); ++i) Fill(c.px[i], px[below(px.size())]);

    GroupRequest& r = c.in;
    r.diagnosisCount = static_cast<int16_t>(below(4) == 0 ? kMaxDiagnoses : diagnoses);
    r.procedureCount = static_cast<int16_t>(below(4) == 0 ? kMaxProcedures : procedures);
    r.age = static_cast<int16_t>(below(20) == 0 ? 130 - below(140) : below(90));
    r.sexDigit = static_cast<int16_t>(below(11));
    r.dischargeStatus = static_cast<int16_t>(below(12) == 0 ? 999 : below(11) - 1);
    r.lengthOfStay = static_cast<int16_t>(below(10) - 1 + (below(4) == 0 ? below(60) : 0));
    r.birthWeight = static_cast<int16_t>(below(3) == 0 ? below(4000) - 10 : -2);
    r.baseDrg = static_cast<int16_t>(10 * below(480));
    const int flags = below(10);
    c.flags = flags < 7 ? GroupFlagDecide | GroupFlagFinalise : flags - 7;
  }
  return cases;
}

Outcome Group(Grouper& grouper, const Case& c) {
  GroupRequest r = c.in;
  for (int i = 0; i < kMaxDiagnoses; ++i) r.diagnosisCodes[i] = c.dx[i];
  for (int i = 0; i < kMaxProcedures; ++i) r.procedureCodes[i] = c.px[i];
  std::array<char, 9> version{};
  std::memcpy(version.data(), "........", 8);
  r.versionDateOut = version.data();
  grouper.SetCaseFields(c.identifier, c.date, c.modifiers);
  grouper.SelectEdition(c.date);
  Outcome o{};
  o.result = grouper.GroupCase(r, c.flags);
  o.fields = {r.baseDrg,
              r.mdc,
              r.groupStatus,
              r.orProcedureIndex,
              r.secondaryIndex,
              r.secondSecondaryIndex,
              r.secondOrProcedureIndex,
              r.nonOrProcedureIndex,
              r.secondNonOrProcedureIndex,
              r.ccIndex,
              r.finalDrg,
              r.finaliseStatus,
              r.levelSourceIndex,
              r.underEighteen};
  o.groupCode = r.groupCode;
  o.levels = grouper.state().diagnosisLevels;
  o.versionDate = version;
  return o;
}

// Groups the cases in the given order with one Grouper; results by case.
std::vector<Outcome> GroupInOrder(const std::shared_ptr<const TableSet>& tables,
                                  const std::vector<Case>& cases, const std::vector<size_t>& order) {
  std::vector<Outcome> out(cases.size());
  Grouper grouper(tables);
  for (size_t i : order) out[i] = Group(grouper, cases[i]);
  return out;
}

class IndependenceTest : public testing::TestWithParam<uint64_t> {};

TEST_P(IndependenceTest, EveryOrderAndThreadGivesTheResultsOfTheCaseAlone) {
  auto loaded = LoadTablesFromImages(StatefulTables(GetParam()));
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  const std::shared_ptr<const TableSet> tables = *loaded;
  const std::vector<Case> cases = MakeCases(*tables, GetParam() * 7919, 2500);

  std::vector<Outcome> alone;
  for (const Case& c : cases) {
    Grouper fresh(tables);
    alone.push_back(Group(fresh, c));
  }
  // Agreement proves little unless the mix reaches the index fields that an
  // earlier case could disturb.
  std::set<int> drgs, secondary, orIndex;
  for (const Outcome& o : alone) {
    drgs.insert(o.fields[10]), secondary.insert(o.fields[4]), orIndex.insert(o.fields[3]);
  }
  ASSERT_GT(drgs.size(), 30u);
  ASSERT_GT(orIndex.size(), 4u);

  std::vector<size_t> forward(cases.size());
  std::iota(forward.begin(), forward.end(), size_t{0});
  std::vector<size_t> reversed(forward.rbegin(), forward.rend());
  std::vector<size_t> shuffled = forward;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(GetParam()));

  struct Run {
    const char* name;
    std::vector<Outcome> got;
  };
  std::vector<Run> runs = {{"file order", GroupInOrder(tables, cases, forward)},
                           {"reversed", GroupInOrder(tables, cases, reversed)},
                           {"shuffled", GroupInOrder(tables, cases, shuffled)}};
  for (int threads = 2; threads <= 4; ++threads) {
    // Thread t takes every threads-th case from t on, so each grouper sees
    // other neighbours than the single grouper did.
    std::vector<Outcome> got(cases.size());
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        Grouper grouper(tables);
        for (size_t i = static_cast<size_t>(t); i < cases.size(); i += static_cast<size_t>(threads)) {
          got[i] = Group(grouper, cases[i]);
        }
      });
    }
    for (std::thread& w : workers) w.join();
    runs.push_back({threads == 2 ? "2 threads" : threads == 3 ? "3 threads" : "4 threads", got});
  }

  for (const Run& run : runs) {
    int differing = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
      if (run.got[i] == alone[i]) continue;
      if (++differing <= 3) ADD_FAILURE() << run.name << ": case " << i << " differs from alone";
    }
    EXPECT_EQ(differing, 0) << run.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, IndependenceTest, testing::Values(5, 31, 20261208));

// RDRGCC rows out of code order: the CC entry bisection then misses rows, and
// the memo must miss the same rows.
TableImages UnsortedRefinedCc(uint64_t seed) {
  TableImages images = SynthTables(seed);
  for (const char* name : {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"}) {
    std::string& text = images.at(name);
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
      const size_t end = std::min(text.find('\n', pos), text.size());
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    std::rotate(lines.begin(), lines.begin() + static_cast<long>(lines.size() / 3), lines.end());
    text.clear();
    for (const std::string& line : lines) text += line + "\n";
  }
  return images;
}

// The memo of the CC searches holds what the searches themselves give: after
// each GroupCase, every known answer is compared with the search run afresh
// on the same state with the memo off.
TEST(CcMemoTest, MemoHoldsWhatTheSearchesFind) {
  const std::vector<std::pair<const char*, TableImages>> sets = {
      {"seed 5", SynthTables(5)}, {"seed 77", SynthTables(77)},
      {"unsorted RDRGCC", UnsortedRefinedCc(5)}};
  for (const auto& [label, images] : sets) {
    auto loaded = LoadTablesFromImages(images);
    ASSERT_TRUE(loaded.ok()) << label << ": " << loaded.message();
    const std::shared_ptr<const TableSet> tables = *loaded;
    Grouper grouper(tables);
    int compared = 0;
    for (const Case& c : MakeCases(*tables, 99, 1500)) {
      Group(grouper, c);
      GroupState plain = grouper.state();
      const CcMemo memo = plain.ccMemo;
      ASSERT_TRUE(memo.enabled);
      plain.ccMemo.enabled = false;
      for (int i = 0; i < plain.diagnosisCount; ++i) {
        if (memo.firstEntry[i] != CcMemo::kUnknown) {
          ASSERT_EQ(memo.firstEntry[i], FindDiagnosisEntry(plain, plain.diagnosisWork[i].code))
              << label << ", position " << i;
          ++compared;
        }
        if (memo.ccEntry[i] != CcMemo::kUnknown) {
          ASSERT_EQ(memo.ccEntry[i], FindCcEntry(plain, i)) << label << ", position " << i;
          ++compared;
        }
        if (memo.excluded[i] >= 0) {
          ASSERT_EQ(memo.excluded[i], IsCcExcluded(plain, plain.diagnosisEntry[i], i))
              << label << ", position " << i;
          ++compared;
        }
      }
    }
    EXPECT_GT(compared, 1000) << label;
  }
}


// Groups `count` cases made with `caseSeed` by the set of `images` as loaded
// and by a second load of them that `strip` has changed (an index made at
// load taken away, so that the searches it stands for run instead). Returns
// the outcomes of the stripped set; a case that differs is a failure.
std::vector<Outcome> GroupWithAndWithout(const std::string& label, const TableImages& images,
                                         const std::function<void(TableSet&)>& strip,
                                         uint64_t caseSeed, int count) {
  auto loaded = LoadTablesFromImages(images);
  auto again = LoadTablesFromImages(images);
  if (!loaded.ok() || !again.ok()) {
    ADD_FAILURE() << label << ": " << loaded.message() << " / " << again.message();
    return {};
  }
  const std::shared_ptr<const TableSet> made = *loaded;
  // A set of this test's own, loaded for it alone.
  strip(const_cast<TableSet&>(**again));
  Grouper byIndex(made);
  Grouper bySearch(*again);
  std::vector<Outcome> outcomes;
  int differing = 0;
  for (const Case& c : MakeCases(*made, caseSeed, count)) {
    outcomes.push_back(Group(bySearch, c));
    if (Group(byIndex, c) != outcomes.back() && ++differing <= 3) {
      ADD_FAILURE() << label << ": case " << std::string(c.date, 8) << " differs";
    }
  }
  EXPECT_EQ(differing, 0) << label;
  return outcomes;
}

// The RDRGCC rows made at load for each diagnosis entry stand for the
// bisection by code: a table set without them groups every case alike, also
// with rows out of code order (where the bisection misses rows).
TEST(RefinedCcRowTest, RowsMadeAtLoadFindWhatTheBisectionFinds) {
  const std::vector<std::pair<const char*, TableImages>> sets = {
      {"seed 5", SynthTables(5)}, {"seed 77", SynthTables(77)},
      {"unsorted RDRGCC", UnsortedRefinedCc(5)}};
  for (const auto& [label, images] : sets) {
    auto strip = [label = label](TableSet& set) {
      for (DiagnosisTable& dx : set.diagnosis) {
        EXPECT_EQ(dx.entryFacts.size(), dx.entryTail.size()) << label;
        for (DiagnosisEntryFacts& f : dx.entryFacts) f.refinedCcRow = kRefinedCcSearch;
      }
    };
    std::set<int> codes;
    for (const Outcome& o : GroupWithAndWithout(label, images, strip, 123, 4000)) codes.insert(o.groupCode);
    EXPECT_GT(codes.size(), 50u) << label;
  }
}

// Without the entry facts made at load, the grouping reads the loaded
// class numbers and CC keys and searches the rows: every case groups alike.
TEST(EntryFactsTest, GroupingWithoutTheFactsGroupsAlike) {
  auto strip = [](TableSet& set) {
    for (DiagnosisTable& dx : set.diagnosis) {
      EXPECT_FALSE(dx.entryFacts.empty());
      dx.entryFacts.clear();
    }
  };
  std::set<int> codes;
  for (const Outcome& o : GroupWithAndWithout("seed 9", SynthTables(9), strip, 77, 4000)) {
    codes.insert(o.groupCode);
  }
  EXPECT_GT(codes.size(), 50u);
}

// The walk over the rules a principal key does not pass over, listed at
// load, stands for the walk over every rule of the MDC: a set without the
// lists groups every case alike. (The mix must reach rules of many keys.)
TEST(KeyedRulesTest, WalkingTheKeysListsGroupsAsWalkingEveryRule) {
  for (const uint64_t seed : {5, 77}) {
    auto strip = [seed](TableSet& set) {
      for (DrgRuleTable& t : set.drgRules) {
        EXPECT_FALSE(t.keyedRunOf.empty()) << seed;
        t.keyedRunOf.clear();
        t.keyedRules.clear();
      }
    };
    const std::string label = "seed " + std::to_string(seed);
    std::set<int> drgs;
    for (const Outcome& o : GroupWithAndWithout(label, SynthTables(seed), strip, 321, 4000)) {
      drgs.insert(o.fields[0]);
    }
    EXPECT_GT(drgs.size(), 40u) << seed;
  }
}

// A set reloaded in place one file at a time, and copied back to its base
// between files, groups as the whole load of the images with that file
// replaced: every file of another synthetic set in turn into the same
// scratch set, so that what one reload leaves behind would show in the next.
TEST(ReloadTest, InPlaceReloadsGroupLikeWholeLoads) {
  const TableImages base = SynthTables(5);
  const TableImages other = SynthTables(31);
  auto loadedBase = LoadTablesFromImages(base);
  ASSERT_TRUE(loadedBase.ok()) << loadedBase.message();
  auto scratch = std::make_shared<TableSet>();
  CopyTableSet(**loadedBase, scratch.get());
  int loads = 0;
  for (const char* name : kTableFiles) {
    TableImages mixed = base;
    mixed[name] = other.at(name);
    auto whole = LoadTablesFromImages(mixed);
    const Status reloaded = ReloadTableFileInto(base, name, other.at(name), scratch.get());
    ASSERT_EQ(reloaded.ok(), whole.ok()) << name << ": " << reloaded.message() << " / " << whole.message();
    if (!whole.ok()) {
      EXPECT_EQ(reloaded.message(), whole.message());
      CopyTableSet(**loadedBase, scratch.get());
      continue;
    }
    ++loads;
    Grouper byWhole(*whole);
    Grouper byReload(scratch);
    int differing = 0;
    for (const Case& c : MakeCases(**whole, 17, 400)) differing += Group(byWhole, c) != Group(byReload, c);
    EXPECT_EQ(differing, 0) << name;
    CopyTableSet(**loadedBase, scratch.get());
  }
  EXPECT_GT(loads, 15);
  Grouper byBase(*loadedBase);
  Grouper byScratch(scratch);
  for (const Case& c : MakeCases(**loadedBase, 18, 400)) ASSERT_EQ(Group(byBase, c), Group(byScratch, c));
}

// The whole grouping leaves the first pass out and runs it on the side only
// when a real pass reads what it leaves. A grouper that does gives, case by
// case in one long run, what a grouper that always runs it gives. The mix
// must reach each of the three reads, and most cases must go without.
TEST(FirstPassTest, LeavingItOutChangesNoResult) {
  const std::vector<std::pair<const char*, TableImages>> sets = {
      {"seed 5", SynthTables(5)},
      {"seed 31", SynthTables(31)},
      {"seed 20261208", SynthTables(20261208)},
      {"stateful seed 5", StatefulTables(5)},
      {"stateful seed 77", StatefulTables(77)}};
  std::map<uint8_t, int> reads;  // by firstPassReads, for the cases left without
  int cases = 0;
  for (const auto& [label, images] : sets) {
    auto loaded = LoadTablesFromImages(images);
    ASSERT_TRUE(loaded.ok()) << label << ": " << loaded.message();
    const std::shared_ptr<const TableSet> tables = *loaded;
    Grouper quick(tables);
    Grouper full(tables);
    full.SetFirstPassAlways(true);
    int differing = 0;
    for (const Case& c : MakeCases(*tables, 4242, 6000)) {
      const Outcome want = Group(full, c);
      ASSERT_EQ(full.state().firstPass, FirstPass::kRan);
      const Outcome got = Group(quick, c);
      const bool whole = c.flags == (GroupFlagDecide | GroupFlagFinalise);
      EXPECT_EQ(quick.state().firstPass, whole ? FirstPass::kLeftOut : FirstPass::kRan)
          << label << ", flags " << c.flags;
      if (whole) ++reads[quick.state().firstPassReads], ++cases;
      if (got == want) continue;
      if (++differing <= 3) {
        ADD_FAILURE() << label << ": case " << std::string(c.date, 8) << " "
                      << std::string(c.dx[0], 5) << " differs, first pass reads "
                      << int{quick.state().firstPassReads};
      }
    }
    EXPECT_EQ(differing, 0) << label;
  }
  for (uint8_t read : {kReadFirstPassDrg, kReadAllDxRequirement, kReadDiagnosisLevels}) {
    int n = 0;
    for (const auto& [bits, count] : reads) n += (bits & read) ? count : 0;
    EXPECT_GT(n, 100) << "read " << int{read};
  }
  EXPECT_GT(reads[0], cases / 3);
}

// The final DRGs made from the tables for a first pass hold what every first
// pass gives, and leave out most refined DRGs (else the level count would
// run the first pass as often as without them).
TEST(FirstPassTest, FinalsMadeFromTheTablesHoldEveryFirstPassDrg) {
  // The first rule of MDCs 3 to 6 gives DRG 468 to every case, so that the
  // first pass walks the rules of MDC 30 too.
  std::map<std::string, std::string> unrelated = SynthSources(31);
  for (const char* name : {"DGTAB", "DGTAB0"}) {
    std::string& text = unrelated[name];
    for (int mdc = 3; mdc <= 6; ++mdc) {
      const std::string head = "\nrule " + std::to_string(mdc) + " ";
      const size_t at = text.find(head);
      ASSERT_NE(at, std::string::npos) << name << " " << mdc;
      text.replace(at, text.find('\n', at + 1) - at, head + "4680 0 -");
    }
  }
  auto unrelatedImages = BuildTableImages(unrelated);
  ASSERT_TRUE(unrelatedImages.ok()) << unrelatedImages.message();
  const std::vector<std::pair<const char*, TableImages>> sets = {
      {"seed 31", SynthTables(31)},
      {"stateful seed 5", StatefulTables(5)},
      {"seed 31, DRG 468 first", *unrelatedImages}};
  for (const auto& [label, images] : sets) {
    auto loaded = LoadTablesFromImages(images);
    ASSERT_TRUE(loaded.ok()) << label << ": " << loaded.message();
    const std::shared_ptr<const TableSet> tables = *loaded;
    const FirstPassFinals finals(*tables);
    Grouper full(tables);
    full.SetFirstPassAlways(true);
    std::set<int> mdcs;
    for (const Case& c : MakeCases(*tables, 977, 4000)) {
      Group(full, c);
      const GroupState& s = full.state();
      if (s.diagnosisCount < 1 || s.diagnosisEntry[0] < 0) continue;
      const int mdc = DiagnosisClassOf(s, s.diagnosisEntry[0]).mdc;
      mdcs.insert(mdc);
      ASSERT_TRUE(finals.MayGive(s.active.edition, mdc, s.firstPassDrg))
          << label << ": case " << std::string(c.date, 8) << " " << std::string(c.dx[0], 5)
          << ", MDC " << mdc << ", first pass DRG " << s.firstPassDrg;
    }
    EXPECT_GT(mdcs.size(), 15u) << label;

    int given = 0;
    int tried = 0;
    for (int e = 0; e < kEditionCount; ++e) {
      for (int mdc = 1; mdc <= kMdcSlots; ++mdc) {
        for (const RefinedDrgSlot& slot : tables->refinedDrg.slots) {
          if (!slot.filled) continue;
          ++tried;
          given += finals.MayGive(static_cast<Edition>(e), mdc, slot.refinedDrg);
        }
      }
    }
    EXPECT_LT(given, tried / 4) << label;
    EXPECT_TRUE(FirstPassFinals().MayGive(Edition::k8, 1, 1234));  // not made
  }
}

// Blank positions after the last code are skipped by every loop that skips
// blanks. "00000" reads as blank too but is no run of five blanks, so a case
// whose trailing positions hold it is grouped over every position: both
// must give the same results.
TEST(BlankSpanTest, PositionsPastTheLastCodeChangeNoResult) {
  const std::vector<std::pair<const char*, TableImages>> sets = {
      {"seed 5", SynthTables(5)}, {"seed 31", SynthTables(31)}, {"stateful seed 5", StatefulTables(5)}};
  for (const auto& [label, images] : sets) {
    auto loaded = LoadTablesFromImages(images);
    ASSERT_TRUE(loaded.ok()) << label << ": " << loaded.message();
    const std::shared_ptr<const TableSet> tables = *loaded;
    Grouper cut(tables);
    Grouper whole(tables);
    int cutCases = 0;
    int differing = 0;
    for (Case c : MakeCases(*tables, 977, 4000)) {
      const Outcome got = Group(cut, c);
      const GroupState& s = cut.state();
      if (s.diagnosisSpan < s.diagnosisCount || s.procedureSpan < s.procedureCount) ++cutCases;
      for (int i = s.diagnosisSpan; i < s.diagnosisCount; ++i) Fill(c.dx[i], "00000");
      for (int i = s.procedureSpan; i < s.procedureCount; ++i) Fill(c.px[i], "00000");
      const Outcome want = Group(whole, c);
      ASSERT_EQ(whole.state().diagnosisSpan, whole.state().diagnosisCount);
      ASSERT_EQ(whole.state().procedureSpan, whole.state().procedureCount);
      if (got != want && ++differing <= 3) {
        ADD_FAILURE() << label << ": case " << std::string(c.date, 8) << " "
                      << std::string(c.dx[0], 5) << " differs";
      }
    }
    EXPECT_EQ(differing, 0) << label;
    EXPECT_GT(cutCases, 1000) << label;
  }
}

}  // namespace
}  // namespace tallow
