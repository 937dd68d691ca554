// What DiffTableSets reports: one change to a source gives exactly that
// change, and each table's records are compared by what identifies them.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "support/table_fixture.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

std::string Describe(const SetDiff& diff) {
  std::string s;
  for (const TableChange& c : diff.changes) {
    s += c.file + " " + c.change + " " + c.what + " " + c.key + ": " + c.detail + "\n";
  }
  return s;
}

std::shared_ptr<const TableSet> Load(const std::map<std::string, std::string>& sources) {
  Result<TableImages> images = BuildTableImages(sources);
  EXPECT_TRUE(images.ok()) << images.message();
  if (!images.ok()) return nullptr;
  Result<std::shared_ptr<const TableSet>> set = LoadTablesFromImages(*images);
  EXPECT_TRUE(set.ok()) << set.message();
  return set.ok() ? *set : nullptr;
}

// The synthetic sources with one line of one source rewritten: the first
// line matching `pattern` becomes `replacement` (with $1.. of the match).
std::map<std::string, std::string> Edited(std::map<std::string, std::string> sources,
                                          const std::string& table, const std::string& pattern,
                                          const std::string& replacement) {
  std::string& text = sources.at(table);
  std::smatch m;
  const std::regex re(pattern);
  EXPECT_TRUE(std::regex_search(text, m, re)) << table << ": " << pattern;
  text = m.prefix().str() + m.format(replacement) + m.suffix().str();
  return sources;
}

TEST(DiffTest, ASetAgainstItselfHasNoChanges) {
  const auto set = Load(SynthSources(21));
  ASSERT_NE(set, nullptr);
  EXPECT_TRUE(DiffTableSets(*set, *set).changes.empty());
}

struct OneChange {
  const char* what;
  const char* table;
  const char* pattern;      // the line changed in the synthetic source
  const char* replacement;
  const char* change;       // expected: change, what, key, detail (a regex)
  const char* kind;
  const char* key;
  const char* detail;
};

// Every edit below touches one record of one source; the diff names exactly
// that record and field and nothing else.
TEST(DiffTest, OneEditedRecordIsExactlyOneChange) {
  const std::map<std::string, std::string> base = SynthSources(21);
  const OneChange cases[] = {
      {"a diagnosis code's class", "DXTAB0", "\nentry (\\S+) (\\d+)\n", "\nentry $1 383\n",
       "changed", "code", "", "^class \\d+ -> 383$"},
      {"a diagnosis code's CC row", "DXTAB8", "\nentry (\\S+) (\\d+) (\\d+)\n",
       "\nentry $1 $2 32001\n", "changed", "code", "", "^ccrow \\d+ -> 32001$"},
      {"a diagnosis class's MDC", "DXTAB1", "\nclass 7 (\\d+) ", "\nclass 7 29 ", "changed", "class",
       "007", "^mdc \\d+ -> 29$"},
      {"a dated procedure row's end", "SGTAB0", "\nrow (\\S+) (\\d+) (\\d+) ", "\nrow $1 $2 20991231 ",
       "changed", "code", "", "^span 1 \\d+\\.\\.\\d+ -> \\d+\\.\\.20991231$"},
      {"a rule's DRG", "DGTAB0", "\nrule (\\d+) (\\d+) ", "\nrule $1 4770 ", "", "rule", "", ""},
      {"an exclusion list", "CCTAB1", "\nrow (\\d+) (\\S+)\n", "\nrow $1 $2,32000\n", "changed",
       "list", "", ",32000$"},
      {"a refined CC line's DRG", "RDRGCC9", "\n(\\S+) (\\d) (\\d) (\\d+) (\\d+)\n",
       "\n$1 $2 $3 9999 $5\n", "changed", "code", "", "^line 1 .* -> sex \\d status \\d DRG 9999 row \\d+$"},
      {"a level", "RDRGCL", "\nrow 2 (\\d)", "\nrow 2 7", "changed", "row", "02",
       "^levels \\d\\d+ -> 7\\d+$"},
      {"a refined DRG's column", "RDRGDRG", "\n(\\d+) (\\d+) (\\S) (\\d+) (\\S)\n",
       "\n$1 $2 $3 86 $5\n", "changed", "line", "", "^column \\d+ -> 86$"},
  };
  for (const OneChange& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = Load(base);
    const auto after = Load(Edited(base, c.table, c.pattern, c.replacement));
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);
    const SetDiff diff = DiffTableSets(*before, *after);
    if (std::string(c.kind) == "rule") {
      // A rule's text changed: the old rule removed, the new one added.
      ASSERT_EQ(diff.changes.size(), 2u) << Describe(diff);
      EXPECT_EQ(diff.changes[0].change, "removed") << Describe(diff);
      EXPECT_EQ(diff.changes[1].change, "added") << Describe(diff);
      EXPECT_EQ(diff.changes[0].key, diff.changes[1].key) << Describe(diff);
      EXPECT_NE(diff.changes[1].detail.find("DRG 4770 "), std::string::npos) << Describe(diff);
      continue;
    }
    ASSERT_EQ(diff.changes.size(), 1u) << Describe(diff);
    const TableChange& t = diff.changes[0];
    EXPECT_EQ(t.file, c.table);
    EXPECT_EQ(t.change, c.change);
    EXPECT_EQ(t.what, c.kind);
    if (*c.key != '\0') {
      EXPECT_EQ(t.key, c.key);
    }
    EXPECT_TRUE(std::regex_search(t.detail, std::regex(c.detail))) << Describe(diff);
  }
}

TEST(DiffTest, AddedAndRemovedRecords) {
  const auto before = Load({{"DXTAB9", "entry A01 1\nentry B20 2\n"},
                            {"DGTAB", "rule 5 1210 0 -\nrule 5 1220 0 -\nrule 6 1230 0 -\n"},
                            {"CCTAB", "row 10 2 1,5+3\n"},
                            {"RDRGNEO9", "A01 2\n"},
                            {"SGMAP1", "Q2950 Q2951\n"}});
  const auto after = Load({{"DXTAB9", "entry A01 1\nentry C30 2\n"},
                           {"DGTAB", "rule 5 1210 0 -\nrule 5 1215 0 -\nrule 5 1220 0 -\n"},
                           {"CCTAB", "row 10 2 1,5+4\n"},
                           {"RDRGNEO9", "A01 3\n"}});
  ASSERT_NE(before, nullptr);
  ASSERT_NE(after, nullptr);
  const std::string d = Describe(DiffTableSets(*before, *after));
  EXPECT_EQ(d,
            "DXTAB9 removed code B20: class 2, ccrow 0\n"
            "DXTAB9 added code C30: class 2, ccrow 0\n"
            "DGTAB added rule MDC 5 rule 2: DRG 1215 key 0 require -\n"
            "DGTAB removed rule MDC 6 rule 1: DRG 1230 key 0 require -\n"
            "RDRGNEO9 changed mark A01: mark 2 -> 3\n"
            "CCTAB changed list keys 10..12: list 1,5+3 -> 1,5+4\n"
            "SGMAP1 removed conversion Q2950: to Q2951\n");
}

// CCTAB0 and CCTAB1 are keyed by entries, which shift when a code comes in
// before them: they are compared by their codes.
TEST(DiffTest, EntryKeyedListsAreComparedByCode) {
  const auto before = Load({{"DXTAB0", "entry B01 1\nentry C01 1\n"}, {"CCTAB0", "row 0 1\n"}});
  const auto after =
      Load({{"DXTAB0", "entry A01 1\nentry B01 1\nentry C01 1\n"}, {"CCTAB0", "row 1 2\n"}});
  ASSERT_NE(before, nullptr);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(Describe(DiffTableSets(*before, *after)), "DXTAB0 added code A01: class 1\n");
}

}  // namespace
}  // namespace tallow
