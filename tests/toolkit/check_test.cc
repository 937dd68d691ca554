// Check findings on clean and deliberately damaged sets.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "support/table_fixture.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

std::string Describe(const CheckReport& report) {
  std::string s = std::to_string(report.errors) + " errors, " +
                  std::to_string(report.warnings) + " warnings\n";
  for (const Finding& f : report.findings) s += f.message + "\n";
  return s;
}

bool Has(const CheckReport& report, Finding::Severity severity, const std::string& file,
         const std::string& text) {
  for (const Finding& f : report.findings) {
    if (f.severity == severity && f.file == file && f.message.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(CheckTest, SyntheticAndInertSetsAreClean) {
  for (uint64_t seed : {3ULL, 4ULL}) {
    const CheckReport report = CheckTableImages(SynthTables(seed));
    EXPECT_EQ(report.errors + report.warnings, 0) << "seed " << seed << ": " << Describe(report);
  }
  const CheckReport inert = CheckTableImages(testing::BuildImages({}));
  EXPECT_EQ(inert.errors + inert.warnings, 0) << Describe(inert);
}

struct WarningCase {
  const char* what;
  std::map<std::string, std::string> sources;
  const char* file;
  const char* message;
};

TEST(CheckTest, EachKindOfLossIsAWarningNamingFileAndRecord) {
  const WarningCase cases[] = {
      {"neonate line out of order",
       {{"DXTAB0", "entry A01 1\nentry B01 1\n"}, {"RDRGNEO0", "B01 1\nA01 2\n"}},
       "RDRGNEO0",
       "RDRGNEO0 line 2 (A01): its mark is lost: the line stands out of the diagnosis table's "
       "order"},
      {"neonate code absent",
       {{"DXTAB9", "entry A01 1\n"}, {"RDRGNEO9", "A00 1\nA01 2\n"}},
       "RDRGNEO9", "RDRGNEO9 line 1 (A00): its mark is lost: the code is not in DXTAB9"},
      {"neonate code twice",
       {{"DXTAB8", "entry A010 1\nentry A01 1\n"}, {"RDRGNEO8", "A010 1\nA010 2\nA01 2\n"}},
       "RDRGNEO8", "RDRGNEO8 line 2 (A010): its mark is lost: the code's mark comes from line 1"},
      {"neonate last line without line feed",
       {{"DXTAB1", "entry A01 1\n"}, {"RDRGNEO1", "A01 2\nlastline unterminated\n"}},
       "RDRGNEO1", "line 1 (A01): its mark is lost: no line feed ends the last line"},
      {"dated rows: a later run",
       {{"SGTAB0", "row Q2950 1 9 -\nrow Q2951 1 9 -\nrow Q2950 10 20 -\n"}},
       "SGTAB0", "SGTAB0 rows 3-3 (Q2950): the code's rows begin at row 1"},
      {"dated rows: a span inside earlier spans",
       {{"SGTAB0",
         "row Q2950 20020101 20020630 -\nrow Q2950 20020631 20021231 -\n"
         "row Q2950 20020601 20020801 -\n"}},
       "SGTAB0", "SGTAB0 row 3 (Q2950): span 20020601..20020801 lies inside"},
      {"refined DRG line twice",
       {{"RDRGDRG", "10 10 0 0 M\n20 20 0 0 M\n10 11 0 0 M\n"}},
       "RDRGDRG", "RDRGDRG line 3: DRG 10 again (line 1); line 1 is overwritten"},
      {"refined CC lines unsorted",
       {{"RDRGCC1", "J20 0 0 10 1\nJ189 0 0 10 1\n"}},
       "RDRGCC1", "RDRGCC1 line 2 (J189): sorts before line 1 (J20)"},
      {"refined CC code with three lines",
       {{"RDRGCC0", "J189 1 0 10 1\nJ189 2 0 10 1\nJ189 0 0 10 1\n"}},
       "RDRGCC0", "RDRGCC0 line 3 (J189): a third line of the code"},
      {"diagnosis tails out of order",
       {{"DXTAB8", "entry A011 1\nentry A010 1\n"}},
       "DXTAB8", "DXTAB8 entry 1 (A010): stands after A011"},
      {"procedure tails out of order",
       {{"SGTAB9", "entry Q2951 1\nentry Q2950 1\n"}},
       "SGTAB9", "SGTAB9 entry 1 (Q2950): stands after Q2951"},
      {"three entries of a diagnosis",
       {{"DXTAB9", "entry A01 1\nentry A01 1\nentry A01 1\n"}},
       "DXTAB9", "DXTAB9 entry 2 (A01): a third entry of the code"},
      {"two entries of a procedure (no female variant)",
       {{"SGTAB8", "entry Q2950 1\nentry Q2950 2\n"}},
       "SGTAB8", "SGTAB8 entry 1 (Q2950): a second entry of the code"},
      {"rule DRG without a refined line",
       {{"DGTAB0", "rule 5 1210 0 -\n"}},
       "DGTAB0", "DGTAB0 rule 1 (MDC 5): DRG 1210 has no RDRGDRG line"},
      {"level line shorter than the columns used",
       {{"RDRGCC0", "J189 0 0 10 3\n"}, {"RDRGDRG", "10 10 0 10 M\n"}, {"RDRGCL", "row 3 00000\n"}},
       "RDRGCL", "RDRGCL line 3: 5 characters, but DRG 10 uses column 10"},
      {"CC keys out of order",
       {{"CCTAB0", "row 5 -\nrow 3 -\n"}},
       "CCTAB0", "CCTAB0 row 2: key 3 does not lie above row 1"},
      {"CC list out of order",
       {{"CCTAB", "row 1 0 9,5\n"}},
       "CCTAB", "CCTAB row 1: list item 5 does not lie above"},
  };
  for (const WarningCase& c : cases) {
    const CheckReport report = CheckTableImages(testing::BuildImages(c.sources));
    EXPECT_EQ(report.errors, 0) << c.what << ": " << Describe(report);
    EXPECT_TRUE(Has(report, Finding::Severity::kWarning, c.file, c.message))
        << c.what << ": " << Describe(report);
  }
}

// Orders the searches handle in full: nothing is lost, so nothing is reported.
TEST(CheckTest, OrdersTheSearchesHandleAreNotWarnings) {
  const std::map<std::string, std::string> cases[] = {
      {{"DXTAB8", "entry A01 1\nentry A01 2\n"}},  // male/female pair
      {{"CCTAB", "row 1 0 10+5,12\n"}},          // an item inside the range before it
      {{"CCTAB0", "row 1 10+5,12+10,12\n"}},     // ranges overlapping, equal values
  };
  for (const auto& sources : cases) {
    const CheckReport report = CheckTableImages(testing::BuildImages(sources));
    EXPECT_EQ(report.errors + report.warnings, 0) << sources.begin()->second << Describe(report);
  }
}

struct ErrorCase {
  const char* what;
  std::function<void(TableImages&)> damage;
  const char* file;
  const char* message;
};

TEST(CheckTest, LoadFaultsAndUnreproducibleFilesAreErrors) {
  const ErrorCase cases[] = {
      {"short binary file", [](TableImages& t) { t["DXTAB8"].pop_back(); }, "DXTAB8",
       "DXTAB8: 56913 bytes, 56914 needed"},
      {"missing file", [](TableImages& t) { t.erase("RDRGCL"); }, "RDRGCL", "RDRGCL"},
      {"bytes past the fixed size", [](TableImages& t) { t["SGTAB8"] += "xx"; }, "SGTAB8",
       "SGTAB8: 2 bytes past the fixed size of 19046 are never read"},
      {"a line the loader splits",
       [](TableImages& t) { t["RDRGCL"] = std::string(87, '0') + "\n" + t["RDRGCL"]; }, "RDRGCL",
       "RDRGCL line 1: longer than 86 characters"},
      {"lines past those read",
       [](TableImages& t) { t["RDRGCC8"] += "J189 0 0 1210 001\n"; }, "RDRGCC8",
       "RDRGCC8: 1970 lines; those after line 1969 are never read"},
  };
  for (const ErrorCase& c : cases) {
    TableImages images = testing::BuildImages({});
    c.damage(images);
    const CheckReport report = CheckTableImages(images);
    EXPECT_GE(report.errors, 1) << c.what;
    EXPECT_TRUE(Has(report, Finding::Severity::kError, c.file, c.message))
        << c.what << ": " << Describe(report);
  }
}

TEST(CheckTest, FindingsAreCappedButCounted) {
  std::string neonate;
  for (int i = 0; i < 30; ++i) {
    neonate += 'A';
    neonate += std::to_string(10 + i);
    neonate += " 1\n";
  }
  const CheckReport report =
      CheckTableImages(testing::BuildImages({{"RDRGNEO0", neonate}}), /*findingCap=*/10);
  EXPECT_EQ(report.warnings, 30);
  EXPECT_EQ(report.findings.size(), 10u);
}

TEST(CheckTest, SaysWhetherTheConversionListsArePresent) {
  const CheckReport report =
      CheckTableImages(testing::BuildImages({{"SGMAP1", "Q2950 Q2951\nM0101 M0102\n"}}));
  ASSERT_EQ(report.notes.size(), 2u);
  EXPECT_NE(report.notes[0].find("SGMAPJ1: absent"), std::string::npos) << report.notes[0];
  EXPECT_NE(report.notes[1].find("SGMAP1: present, 2"), std::string::npos) << report.notes[1];
}

}  // namespace
}  // namespace tallow
