// Check findings: clean and unusual-but-valid sets give none, each kind of
// fault an error that names file and record, each kind of unreachable data a
// warning, and findings of a kind come grouped.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "support/table_fixture.h"
#include "tables/bytes.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

std::string Describe(const CheckReport& report) {
  std::string s = std::to_string(report.errors) + " errors, " +
                  std::to_string(report.warnings) + " warnings\n";
  for (const FindingGroup& g : report.groups) {
    s += g.file + " " + g.kind + " x" + std::to_string(g.count) + "\n";
    for (const std::string& e : g.examples) s += "  " + e + "\n";
  }
  return s;
}

bool Has(const CheckReport& report, Finding::Severity severity, const std::string& file,
         const std::string& kind, const std::string& text) {
  const FindingGroup* g = report.Find(file, kind);
  if (g == nullptr || g->severity != severity) return false;
  for (const std::string& e : g->examples) {
    if (e.find(text) != std::string::npos) return true;
  }
  return false;
}

unsigned char* At(TableImages& t, const char* name, std::size_t offset) {
  return reinterpret_cast<unsigned char*>(t[name].data()) + offset;
}

TEST(CheckTest, SyntheticAndInertSetsAreClean) {
  for (uint64_t seed : {3ULL, 4ULL}) {
    const CheckReport report = CheckTableImages(SynthTables(seed));
    EXPECT_EQ(report.errors + report.warnings, 0) << "seed " << seed << ": " << Describe(report);
    EXPECT_TRUE(report.loaded);
  }
  const CheckReport inert = CheckTableImages(testing::BuildImages({}));
  EXPECT_EQ(inert.errors + inert.warnings, 0) << Describe(inert);
}

// Layouts real and generated sets hold by design: padding of every kind,
// surplus the loader never reads, short level lines. None is a finding.
TEST(CheckTest, PaddingAndOtherLayoutsByDesignGiveNoFinding) {
  struct Layout {
    const char* what;
    std::function<void(TableImages&)> make;
  };
  const Layout layouts[] = {
      {"SGTAB0 padded with blank-code rows of span 0..0",
       [](TableImages& t) {
         for (std::size_t i = 1208; i < 1608; ++i) {
           std::memcpy(At(t, "SGTAB0", 5 * i), "     ", 5);
           StoreLittleEndian32(At(t, "SGTAB0", 8040 + 4 * i), 0);
           StoreLittleEndian32(At(t, "SGTAB0", 14472 + 4 * i), 0);
           std::memset(At(t, "SGTAB0", 20904 + 26 * i), 0, 26);
         }
       }},
      {"SGTAB0 padded with rows of code 00000 holding dates and bits",
       [](TableImages& t) {
         for (std::size_t i = 1500; i < 1608; ++i) {
           std::memcpy(At(t, "SGTAB0", 5 * i), "00000", 5);
           StoreLittleEndian32(At(t, "SGTAB0", 8040 + 4 * i), 19000101);
           *At(t, "SGTAB0", 20904 + 26 * i) = 0x01;
         }
       }},
      {"rows without lists carrying any offset",
       [](TableImages& t) {
         for (std::size_t i = 0; i < 2390; ++i) {
           if (*At(t, "CCTAB0", 2 * 2390 + i) == 0) StoreLittleEndian16(At(t, "CCTAB0", 3 * 2390 + 2 * i), -7);
         }
         for (std::size_t i = 0; i < 1552; ++i) {
           if (*At(t, "CCTAB", 6 * i + 5) == 0) StoreBigEndian16(At(t, "CCTAB", 6 * i + 3), 32000);
         }
       }},
      {"CCTAB0 rows without lists before the first key",
       [](TableImages& t) {
         StoreLittleEndian16(At(t, "CCTAB0", 0), -32768);
         *At(t, "CCTAB0", 2 * 2390) = 0;
       }},
      {"bytes past a binary file's size", [](TableImages& t) { t["DXTAB8"] += std::string(40, 'x'); }},
      {"lines past those RDRGCC reads", [](TableImages& t) { t["RDRGCC8"] += "J189 0 0 1210 001\n\n"; }},
      {"RDRGCL lines shorter than the columns used",
       [](TableImages& t) {
         std::string matrix;
         for (int r = 0; r < 62; ++r) matrix += "0123\n";
         t["RDRGCL"] = matrix;
       }},
  };
  for (const Layout& l : layouts) {
    TableImages images = SynthTables(5);
    l.make(images);
    const CheckReport report = CheckTableImages(images);
    EXPECT_TRUE(report.loaded) << l.what << ": " << Describe(report);
    EXPECT_EQ(report.errors + report.warnings, 0) << l.what << ": " << Describe(report);
  }
}

struct SourceCase {
  const char* what;
  std::map<std::string, std::string> sources;
  const char* file;
  const char* kind;
  const char* example;
};

// Faults under which a search goes wrong: errors naming file, record and fault.
TEST(CheckTest, FaultsUnderASearchAreErrors) {
  const SourceCase cases[] = {
      {"CC keys out of order under the bisection",
       {{"CCTAB0", "row 5 1\nrow 3 2\nrow 9 3\n"}},
       "CCTAB0", "cc-key-search", "CCTAB0 row 1: key 5 is not found"},
      {"CCTAB ranges overlapping with different lists",
       {{"CCTAB", "row 10 5 1\nrow 12 5 2\n"}},
       "CCTAB", "cc-key-search", "CCTAB row 2: key 12 leads to row 1"},
      {"CCTAB range past 32767",
       {{"CCTAB", "row 32700 100 1\n"}},
       "CCTAB", "cc-range-wrap", "CCTAB row 1: keys 32700..32800"},
      {"CC list item after a larger one",
       {{"CCTAB1", "row 1 9,5\n"}},
       "CCTAB1", "cc-list-order", "CCTAB1 row 1 (key 1): item 2, 5 is never found"},
      {"RDRGCC lines out of order",
       {{"DXTAB1", "entry J20 1\nentry J189 1\n"}, {"RDRGCC1", "J20 0 0 10 1\nJ189 0 0 10 1\n"}},
       "RDRGCC1", "refined-cc-search", "RDRGCC1 line 1 (J20): the search for the code does not"},
      {"diagnosis tails out of order in an ordered edition",
       {{"DXTAB8", "entry A011 1\nentry A010 1\n"}},
       "DXTAB8", "tail-order", "DXTAB8 entry 1 (A010): stands after A011"},
      {"procedure tails out of order",
       {{"SGTAB9", "entry Q2951 1\nentry Q2950 1\n"}},
       "SGTAB9", "tail-order", "SGTAB9 entry 1 (Q2950): stands after Q2951"},
  };
  for (const SourceCase& c : cases) {
    const CheckReport report = CheckTableImages(testing::BuildImages(c.sources));
    EXPECT_GE(report.errors, 1) << c.what;
    EXPECT_TRUE(Has(report, Finding::Severity::kError, c.file, c.kind, c.example))
        << c.what << ": " << Describe(report);
  }
}

// The same orders where the search does not depend on them: no finding.
TEST(CheckTest, OrdersTheSearchesDoNotDependOnGiveNoFinding) {
  const std::map<std::string, std::string> cases[] = {
      {{"DXTAB8", "entry A01 1\nentry A01 2\n"}},         // male/female pair
      {{"DXTAB0", "entry A011 1\nentry A010 1\n"}},       // edition 0 takes the first equal tail
      {{"CCTAB0", "row 5 -\nrow 3 -\nrow 9 -\n"}},        // keys out of order, but no lists
      {{"CCTAB", "row 1 0 10+5,12\n"}},                   // an item inside the range before it
      {{"CCTAB0", "row 1 10+5,12+10,12\n"}},              // ranges overlapping, equal values
      {{"CCTAB", "row 10 5 1\nrow 12 5 1\n"}},            // overlapping ranges, the same list
      {{"RDRGDRG", "10 10 0 0 M\n10 10 0 0 M\n"}},        // a line repeated unchanged
  };
  for (const auto& sources : cases) {
    const CheckReport report = CheckTableImages(testing::BuildImages(sources));
    EXPECT_EQ(report.errors + report.warnings, 0) << sources.begin()->second << Describe(report);
  }
}

// Data no search reaches: warnings naming file and record.
TEST(CheckTest, UnreachableDataIsAWarning) {
  const SourceCase cases[] = {
      {"neonate line out of order",
       {{"DXTAB0", "entry A01 1\nentry B01 1\n"}, {"RDRGNEO0", "B01 1\nA01 2\n"}},
       "RDRGNEO0", "neonate-order", "RDRGNEO0 line 2 (A01)"},
      {"neonate code absent",
       {{"DXTAB9", "entry A01 1\n"}, {"RDRGNEO9", "A00 1\nA01 2\n"}},
       "RDRGNEO9", "neonate-no-entry", "RDRGNEO9 line 1 (A00): not in DXTAB9"},
      {"neonate code twice",
       {{"DXTAB8", "entry A010 1\nentry A01 1\n"}, {"RDRGNEO8", "A010 1\nA010 2\nA01 2\n"}},
       "RDRGNEO8", "neonate-repeated", "RDRGNEO8 line 2 (A010): the code's mark comes from line 1"},
      {"neonate last line without line feed",
       {{"DXTAB1", "entry A01 1\n"}, {"RDRGNEO1", "A01 2\nlastline unterminated\n"}},
       "RDRGNEO1", "neonate-unterminated", "RDRGNEO1 line 1 (A01)"},
      {"dated rows: a later run",
       {{"SGTAB0", "row Q2950 20020101 20021231 -\nrow Q2951 20020101 20021231 -\n"
                   "row Q2950 20030101 20031231 -\n"}},
       "SGTAB0", "dated-later-run", "SGTAB0 rows 3-3 (Q2950): the code's rows begin at row 1"},
      {"dated rows: a span inside earlier spans",
       {{"SGTAB0",
         "row Q2950 20020101 20020630 -\nrow Q2950 20020631 20021231 -\n"
         "row Q2950 20020601 20020801 -\n"}},
       "SGTAB0", "dated-covered", "SGTAB0 row 3 (Q2950): span 20020601..20020801"},
      {"dated rows: a span that holds no date",
       {{"SGTAB0", "row Q2950 20030101 20021231 -\nrow M0101 0 0 -\n"}},
       "SGTAB0", "dated-no-date", "SGTAB0 row 2 (M0101): span 0..0"},
      {"refined DRG line overwritten",
       {{"RDRGDRG", "10 10 0 0 M\n20 20 0 0 M\n10 11 0 0 M\n"}},
       "RDRGDRG", "refined-drg-overwritten", "RDRGDRG line 1: DRG 10 again on line 3"},
      {"refined CC code with three lines",
       {{"DXTAB0", "entry J189 1\n"},
        {"RDRGCC0", "J189 1 0 10 1\nJ189 2 0 10 1\nJ189 0 0 10 1\nJ189 0 0 10 2\n"}},
       "RDRGCC0", "refined-cc-unreached", "RDRGCC0 line 1 (J189): the search reads lines 3-4"},
      {"refined CC lines of a code without an entry",
       {{"RDRGCC8", "J189 1 0 10 1\nJ189 2 0 10 1\n"}},
       "RDRGCC8", "refined-cc-no-entry", "RDRGCC8 line 1 (J189): not in DXTAB8"},
      {"three entries of a diagnosis",
       {{"DXTAB9", "entry A01 1\nentry A01 1\nentry A01 1\n"}},
       "DXTAB9", "repeated-entry", "DXTAB9 entry 2 (A01)"},
      {"a diagnosis twice apart in an unordered edition",
       {{"DXTAB1", "entry A010 1\nentry A011 1\nentry A010 2\n"}},
       "DXTAB1", "repeated-entry", "DXTAB1 entry 2 (A010)"},
      {"a diagnosis again after a larger tail in an ordered edition (the first is found)",
       {{"DXTAB8", "entry A010 1\nentry A017 1\nentry A010 2\n"}},
       "DXTAB8", "repeated-entry", "DXTAB8 entry 2 (A010)"},
      {"two entries of a procedure (no female variant)",
       {{"SGTAB8", "entry Q2950 1\nentry Q2950 2\n"}},
       "SGTAB8", "repeated-entry", "SGTAB8 entry 1 (Q2950)"},
  };
  for (const SourceCase& c : cases) {
    const CheckReport report = CheckTableImages(testing::BuildImages(c.sources));
    EXPECT_EQ(report.errors, 0) << c.what << ": " << Describe(report);
    EXPECT_TRUE(Has(report, Finding::Severity::kWarning, c.file, c.kind, c.example))
        << c.what << ": " << Describe(report);
  }
}

struct DamageCase {
  const char* what;
  std::function<void(TableImages&)> damage;
  const char* file;
  const char* example;
};

// What the loader rejects.
TEST(CheckTest, LoadFaultsAreErrors) {
  const DamageCase cases[] = {
      {"short binary file", [](TableImages& t) { t["DXTAB8"].pop_back(); }, "DXTAB8",
       "DXTAB8: 56913 bytes, 56914 needed"},
      {"missing file", [](TableImages& t) { t.erase("RDRGCL"); }, "RDRGCL", "RDRGCL"},
      {"a list running out of its area",
       [](TableImages& t) {
         StoreLittleEndian16(At(t, "CCTAB0", 3 * 2390), 17230);  // row 1's offset
         *At(t, "CCTAB0", 2 * 2390) = 3;                         // and three items
       },
       "CCTAB0", "CCTAB0 row 0: list at offset 17230 with 3 items runs past"},
      {"an MDC's rules past the end of the rules",
       [](TableImages& t) {
         StoreBigEndian16(At(t, "DGTAB", 0), 530);
         *At(t, "DGTAB", 2) = 5;
       },
       "DGTAB", "DGTAB MDC 1: start 530 + count 5 runs past 531 rules"},
      {"a category past the end of the entries",
       [](TableImages& t) {
         *At(t, "SGTAB8", 0) = 3;
         StoreBigEndian16(At(t, "SGTAB8", 1), 827);
       },
       "SGTAB8", "runs past 828 entries"},
  };
  for (const DamageCase& c : cases) {
    TableImages images = testing::BuildImages({});
    c.damage(images);
    const CheckReport report = CheckTableImages(images);
    EXPECT_GE(report.errors, 1) << c.what;
    bool found = false;
    for (const FindingGroup& g : report.groups) {
      for (const std::string& e : g.examples) {
        found = found || (g.severity == Finding::Severity::kError && g.file == c.file &&
                          e.find(c.example) != std::string::npos);
      }
    }
    EXPECT_TRUE(found) << c.what << ": " << Describe(report);
  }
}

TEST(CheckTest, FindingsOfAKindAreGroupedWithCountAndFirstExamples) {
  std::string neonate;
  for (int i = 0; i < 30; ++i) neonate += "A" + std::to_string(10 + i) + " 1\n";
  const CheckReport report = CheckTableImages(testing::BuildImages({{"RDRGNEO0", neonate}}), 4);
  EXPECT_EQ(report.warnings, 30);
  ASSERT_EQ(report.groups.size(), 1u) << Describe(report);
  const FindingGroup& g = report.groups[0];
  EXPECT_EQ(g.count, 30);
  EXPECT_EQ(g.kind, "neonate-no-entry");
  ASSERT_EQ(g.examples.size(), 4u);
  EXPECT_NE(g.examples[0].find("line 1 (A10)"), std::string::npos) << g.examples[0];
  EXPECT_NE(g.examples[3].find("line 4 (A13)"), std::string::npos) << g.examples[3];
}

TEST(CheckTest, ErrorsComeBeforeWarnings) {
  const CheckReport report = CheckTableImages(testing::BuildImages(
      {{"RDRGDRG", "10 10 0 0 M\n10 11 0 0 M\n"}, {"CCTAB1", "row 1 9,5\n"}}));
  ASSERT_EQ(report.groups.size(), 2u) << Describe(report);
  EXPECT_EQ(report.groups[0].severity, Finding::Severity::kError);
  EXPECT_EQ(report.groups[1].severity, Finding::Severity::kWarning);
}

TEST(CheckTest, CountsWhatEachEditionHolds) {
  const TableImages images = testing::BuildImages({
      {"DXTAB0", "entry A010 1\nentry A010 2\nentry A01 1\n"},
      {"RDRGNEO0", "A010 3\n"},
      {"SGTAB9", "entry Q2950 1\n"},
      {"SGTAB0", "row Q2950 20020101 20021231 -\nrow Q2950 20030101 20031231 -\nrow M0101 1 9 -\n"},
      {"DGTAB0", "rule 5 1210 0 -\nrule 6 1220 0 -\n"},
      {"CCTAB1", "row 1 5\nrow 2 -\n"},
      {"RDRGCC0", "A010 0 0 1210 1\n"},
      {"RDRGDRG", "1210 1210 0 1 M\n1220 1220 0 1 M\n"},
  });
  const CheckReport report = CheckTableImages(images);
  ASSERT_EQ(report.editions.size(), 4u);
  const EditionCounts& e9 = report.editions[1];
  const EditionCounts& e0 = report.editions[2];
  const EditionCounts& e1 = report.editions[3];
  EXPECT_EQ(e9.edition, '9');
  EXPECT_EQ(e9.procedureCodes, 1);
  EXPECT_EQ(e9.rules, 0);
  EXPECT_EQ(e0.diagnosisCodes, 2);  // the pair is one code
  EXPECT_EQ(e0.neonateMarks, 2);    // both entries of the pair carry the mark
  EXPECT_EQ(e0.procedureCodes, 2);
  EXPECT_EQ(e0.rules, 2);
  EXPECT_EQ(e0.refinedCcLines, 1);  // the padding lines are not counted
  EXPECT_EQ(e1.ccLists, 1);
  EXPECT_EQ(report.refinedDrgSlots, 2);
  EXPECT_EQ(report.digest.size(), 64u);
}

// Facts an author should see that are neither faults nor lost data.
TEST(CheckTest, NotesSayWhatIsReadDifferentlyFromHowItIsWritten) {
  struct NoteCase {
    const char* note;
    std::function<void(TableImages&)> make;
  };
  const NoteCase cases[] = {
      {"DGTAB0: 2 DRG values the rules yield have no RDRGDRG line (DRG 1210 (rule 1), DRG 1220 "
       "(rule 2)); such cases are finalised without a level",
       [](TableImages& t) {
         t = testing::BuildImages({{"DGTAB0", "rule 5 1210 0 -\nrule 5 1220 0 -\nrule 5 1210 0 -\n"}});
       }},
      {"RDRGDRG line 1: longer than the 17 characters the reader takes as one line; the rest is "
       "read as line 2",
       [](TableImages& t) { t["RDRGDRG"] = "1210 1210 00    M 1220 1220 00    M\n" + t["RDRGDRG"]; }},
      {"DXTAB1: 3 bytes past the fixed size of 72419 are never read",
       [](TableImages& t) { t["DXTAB1"] += "abc"; }},
  };
  for (const NoteCase& c : cases) {
    TableImages images = testing::BuildImages({});
    c.make(images);
    const CheckReport report = CheckTableImages(images);
    std::string notes;
    for (const std::string& n : report.notes) notes += n + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    EXPECT_EQ(report.errors + report.warnings, 0) << Describe(report);
  }
}

TEST(CheckTest, SaysWhetherTheConversionListsArePresent) {
  const CheckReport report =
      CheckTableImages(testing::BuildImages({{"SGMAP1", "Q2950 Q2951\nM0101 M0102\n"}}));
  std::string notes;
  for (const std::string& n : report.notes) notes += n + "\n";
  EXPECT_NE(notes.find("SGMAPJ1: absent"), std::string::npos) << notes;
  EXPECT_NE(notes.find("SGMAP1: present, 2"), std::string::npos) << notes;
}

}  // namespace
}  // namespace tallow
