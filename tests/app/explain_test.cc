// Traces: what tallow explain shows agrees with what tallow group writes, and
// each kind of step shows on a case made to take it.
#include "app/explain.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/case_line.h"
#include "app_files.h"
#include "support/table_fixture.h"
#include "tables/loader.h"
#include "toolkit/code_pool.h"
#include "toolkit/split_mix.h"
#include "toolkit/toolkit.h"

namespace tallow::app {
namespace {

using Json = JsonTrace::Json;

const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";

using testing::DemoTables;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

const Json& LastPass(const Json& trace) { return trace["passes"].back(); }

std::string RuleOutcomes(const Json& pass) {
  std::string text;
  for (const Json& r : pass["rules"]) {
    text += r["rule"].dump() + " " + r["outcome"].get<std::string>();
    const std::string reason = r["reason"].get<std::string>();
    if (!reason.empty()) text += " (" + reason + ")";
    text += "\n";
  }
  return text;
}

TEST(ExplainTest, DemoCasesShowTheStepsTheyTake) {
  const std::shared_ptr<const TableSet> tables = DemoTables();
  ASSERT_NE(tables, nullptr);
  const std::vector<std::string> lines =
      Lines(testing::ReadFile(kDemo + "/tallow.in").value_or(""));
  ASSERT_EQ(lines.size(), 52u);
  CaseExplainer explainer(tables);
  auto trace = [&](int n) { return explainer.Explain(n, lines[n - 1].data(), lines[n - 1].size()); };

  struct Case {
    int line;
    const char* shows;
    std::function<bool(const Json&)> holds;
  };
  auto refined = [](const char* verdict) {
    return [verdict](const Json& j) { return j["refinedCode"]["verdict"] == verdict; };
  };
  auto reason = [](const char* text) {
    return [text](const Json& j) {
      return j.contains("reason") && j["reason"].get<std::string>().find(text) != std::string::npos;
    };
  };
  const std::vector<Case> cases = {
      {1, "no list before 1998-02-01", refined("no list before 1998-02-01")},
      {2, "a code in the list", refined("found")},
      {7, "a code not in the list, and why",
       reason("code 089010 not among the codes accepted for 1998-11-30 (list L1)")},
      {12, "a CC excluded by the principal",
       [](const Json& j) {
         for (const Json& c : LastPass(j)["cc"]) {
           if (c["outcome"] == "excluded") return true;
         }
         return false;
       }},
      {19, "the second real pass and the MDC 30 walk",
       [](const Json& j) {
         const Json& passes = j["passes"];
         bool rewalk = false;
         for (const Json& w : passes[1]["walks"]) rewalk = rewalk || w["rewalk"].get<bool>();
         return passes.size() == 3 && passes[0]["name"] == "first" && passes[1]["name"] == "real" &&
                passes[2]["name"] == "second real" && rewalk;
       }},
      {21, "level L from the stay",
       [](const Json& j) {
         return LastPass(j)["finalisation"]["stayLevel"]["level"] == "L" &&
                j["refinedCode"]["verdict"] == "special code";
       }},
      {22, "a conversion from the table directory's SGMAP1",
       [](const Json& j) {
         return j["conversions"].size() == 1 && j["conversions"][0]["from"] == "S5119" &&
                j["conversions"][0]["to"] == "S5113" &&
                j["conversions"][0]["list"] == "conversions from February 2001 (SGMAP1)";
       }},
      {41, "the newborn branch",
       [](const Json& j) {
         const Json& f = LastPass(j)["finalisation"];
         return f.contains("newborn") && f["newborn"]["drg"] == 3910 &&
                f["levels"][0]["reason"] == "newborn mark";
       }},
      {42, "an exempt identifier", refined("exempt identifier")},
      {43, "the sex rule", reason("the sex does not fit principal diagnosis Z33")},
      {45, "level 4 from the stay", reason("level 4: the length of stay is unreadable")},
      {46, "a principal diagnosis not in the tables",
       reason("principal diagnosis R999 not in table edition 1 (case date 2004-07-07)")},
      {47, "no rule matched", reason("no rule of MDC 5 matched")},
      {48, "a short-list diagnosis", refined("short-list diagnosis present")},
  };
  for (const Case& c : cases) {
    const Json j = trace(c.line);
    EXPECT_TRUE(c.holds(j)) << "line " << c.line << ": " << c.shows << "\n" << j.dump(2);
  }
}

// Case lines over the codes of a synthetic set, every edition, 1-10
// diagnoses, 0-20 procedures, some unknown codes.
std::vector<std::string> RandomLines(const TableSet& tables, uint64_t seed, int count) {
  const CodePool pool = CodesOf(tables);
  static constexpr const char* kDates[] = {"19980315", "19990615", "20000615", "20010115",
                                           "20010715", "20020615", "20030615", "20040101"};
  uint64_t state = seed;
  auto below = [&state](std::size_t n) { return static_cast<std::size_t>(SplitMix64(state) % n); };
  std::vector<std::string> lines;
  for (int n = 0; n < count; ++n) {
    std::string line(188, ' ');
    line.replace(0, 8, below(20) == 0 ? "99099999" : "00000001");
    line.replace(8, 6, std::to_string(100000 + below(900000)));
    line[14] = static_cast<char>('0' + below(10));
    const std::string date = kDates[below(std::size(kDates))];
    line.replace(21, 8, date);
    line.replace(29, 3, below(10) == 0 ? " x " : "  " + std::to_string(below(10)));
    line[32] = static_cast<char>('0' + below(10));
    const int e = static_cast<int>(EditionOf(date.c_str()));
    const auto& dx = pool.diagnoses[e];
    const auto& px = pool.procedures[e];
    const std::size_t diagnoses = 1 + below(10);
    for (std::size_t i = 0; i < diagnoses && !dx.empty(); ++i) {
      line.replace(33 + 5 * i, 5, below(30) == 0 ? "X9999" : dx[below(dx.size())]);
    }
    const std::size_t procedures = below(3) == 0 ? below(21) : below(3);
    for (std::size_t i = 0; i < procedures && !px.empty(); ++i) {
      line.replace(83 + 5 * i, 5, px[below(px.size())]);
    }
    if (below(4) == 0) line.replace(183, 5, "BSL  ");
    lines.push_back(line);
  }
  return lines;
}

TEST(ExplainTest, TracesAgreeWithTheGroupingOverSyntheticSets) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    auto loaded = LoadTablesFromImages(SynthTables(seed));
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    const std::shared_ptr<const TableSet>& tables = *loaded;
    const std::vector<std::string> lines = RandomLines(*tables, seed, 300);
    std::string input;
    for (const std::string& l : lines) input += l + "\n";

    // The whole file through the batch, without a trace.
    std::FILE* in = fmemopen(input.data(), input.size(), "r");
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    std::FILE* err = std::tmpfile();
    BatchOptions options;
    options.format = OutputFormat::kJsonl;
    options.err = err;
    ASSERT_EQ(GroupStream(tables, in, out, options), kExitOk);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    const std::vector<std::string> records = Lines(std::string(buffer, size));
    std::free(buffer);
    ASSERT_EQ(records.size(), lines.size());

    CaseExplainer explainer(tables);
    int accepted = 0;
    std::vector<std::string> traces;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const Json jsonl = Json::parse(records[i]);
      const Json j = explainer.Explain(static_cast<int64_t>(i + 1), lines[i].data(), lines[i].size());
      traces.push_back(j.dump());
      ASSERT_TRUE(explainer.trace().trace().empty()) << "the steps stay behind, line " << i + 1;
      for (const auto& [key, value] : jsonl.items()) {
        ASSERT_EQ(j[key], value) << "line " << i + 1 << ", field " << key;
      }
      // The last pass's own steps say the same as the fields.
      const Json& pass = LastPass(j);
      if (pass.contains("decision")) {
        for (const char* key : {"baseDrg", "groupStatus", "orProcedureIndex", "secondaryIndex",
                                "ccIndex", "nonOrProcedureIndex"}) {
          ASSERT_EQ(pass["decision"][key], jsonl[key]) << "line " << i + 1 << ", " << key;
        }
      }
      ASSERT_EQ(pass["finalisation"]["finaliseStatus"], jsonl["finaliseStatus"]) << i + 1;
      ASSERT_EQ(pass["finalisation"]["levelSourceIndex"], jsonl["levelSourceIndex"]) << i + 1;
      // The accepted rule is the one the base DRG came from.
      const int rule = j["acceptedRule"].get<int>();
      if (jsonl["groupStatus"] == 0) {
        ASSERT_GT(rule, 0) << "line " << i + 1;
        const DrgRuleTable& rules = *SelectEdition(*tables, lines[i].data() + kCaseDatePos).drgRules;
        ASSERT_LE(rule, static_cast<int>(rules.rules.size()));
        EXPECT_EQ(DrgValueOf(rules.rules[static_cast<std::size_t>(rule - 1)]), jsonl["baseDrg"])
            << "line " << i + 1;
        ++accepted;
      }
    }
    EXPECT_GT(accepted, 30) << "too few grouped cases to say much";
    // Explained again in reverse order, each line gives the same trace: no
    // step of one case stays in the trace of the next.
    for (std::size_t i = lines.size(); i-- > 0;) {
      ASSERT_EQ(explainer.Explain(static_cast<int64_t>(i + 1), lines[i].data(), lines[i].size()).dump(),
                traces[i])
          << "line " << i + 1;
    }
  }
}

// One MDC whose rules each fail for a reason of its own before the last is
// accepted.
const std::map<std::string, std::string> kReasonSources = {
    {"DXTAB1", "class 1 6 0 0 8000000000\nclass 2 6 0 1 0100000000\n"
               "entry K409 1\nentry I10 2\n"},
    {"DGTAB0",
     "rule 6 1000 9 -\n"          // another principal DRG key: skipped
     "rule 6 1010 0 1:08\n"       // an operating-room procedure: caseMask byte 0 bit 3
     "rule 6 1020 0 2:08,14:80\n" // every diagnosis covered by 0x80: I10 is not
     "rule 6 1030 0 3:80\n"       // two operating-room procedures covered
     "rule 6 1040 0 4:40\n"       // principal diagnosis bit 6
     "rule 6 1610 0 1:10\n"},     // a CC: accepted
    {"RDRGDRG", "1610 1610 1 5 -\n"},
};

std::string ReasonLine(const std::string& principal, const std::string& secondary) {
  std::string line = "A       600101100000020030315  31";
  line += (principal + "     ").substr(0, 5) + (secondary + "     ").substr(0, 5);
  line.resize(188, ' ');
  return line;
}

TEST(ExplainTest, EachRejectionReasonIsNamed) {
  const std::shared_ptr<const TableSet> tables = tallow::testing::BuildTables(kReasonSources);
  ASSERT_NE(tables, nullptr);
  CaseExplainer explainer(tables);
  const std::string line = ReasonLine("K409", "I10");
  const Json j = explainer.Explain(1, line.data(), line.size());
  EXPECT_EQ(RuleOutcomes(LastPass(j)),
            "1 skipped (for another principal DRG key)\n"
            "2 rejected (caseMask byte 0 bit 3 (operating-room procedure) is not set)\n"
            "3 rejected (a diagnosis is not covered by the every-diagnosis mask)\n"
            "4 rejected (fewer than two operating-room procedures are covered)\n"
            "5 rejected (caseMask byte 3 bit 6 (principal diagnosis bit 6) is not set)\n"
            "6 accepted\n");
  EXPECT_EQ(j["acceptedRule"], 6);
  EXPECT_EQ(LastPass(j)["cc"][0]["outcome"], "counted");

  // The text tree: one line per step, the system's names.
  const std::string text = ExplainText(j);
  for (const char* step :
       {"line 1: case A       , caseDate 20030315, edition 1", "  pass real\n",
        "    principal: the MDC of principal diagnosis K409 (mdc 6, drgKey 0)\n",
        "    cc: dx 1 counted\n", "    walk mdc 6\n",
        "      rule 2 drg 1010 rejected: caseMask byte 0 bit 3 (operating-room procedure) is "
        "not set\n",
        "      rule 6 drg 1610 accepted\n", "    decision: mdc 6, baseDrg 1610, groupStatus 0",
        "  result: mdc 6, baseDrg 1610, finalDrg 1610, groupCode 161200"}) {
    EXPECT_NE(text.find(step), std::string::npos) << step << "\nin\n" << text;
  }

  // An invalid age stops the walk at the first rule that tests it.
  const std::map<std::string, std::string> ageSources = {
      {"DXTAB1", kReasonSources.at("DXTAB1")},
      {"DGTAB0", "rule 6 1610 0 1:80\n"},
      {"RDRGDRG", "1610 1610 1 5 -\n"}};
  CaseExplainer young(tallow::testing::BuildTables(ageSources));
  std::string unborn = ReasonLine("K409", "");
  unborn.replace(8, 7, "1001013");  // born 2010, after the case date
  const Json stopped = young.Explain(1, unborn.data(), unborn.size());
  EXPECT_EQ(RuleOutcomes(LastPass(stopped)),
            "1 stopped (the rule tests the age and the age is invalid)\n");
  EXPECT_EQ(stopped["reason"], "a rule tests the age and the age is invalid");
}

TEST(ExplainTest, ProcedureConditionsAndAnInvalidStatusAreNamed) {
  // Q2830: an operating-room procedure with the second property and
  // procMask byte 0 bit 1.
  const std::map<std::string, std::string> sources = {
      {"DXTAB1", kReasonSources.at("DXTAB1")},
      {"SGTAB0", "row Q2830 19980101 20991231 0:03,1:02\n"},
      {"DGTAB0",
       "rule 6 1100 0 2:01,19:01\n"  // every operating-room procedure covered by bit 0
       "rule 6 1110 0 3:40,19:02\n"  // some operating-room procedure not covered by bit 1
       "rule 6 1120 0 3:20\n"        // no procedure with the second property
       "rule 6 1210 0 1:14\n"        // status 4 and a CC: tolerated for 121, no CC
       "rule 6 1300 0 1:04\n"},      // status 4: the invalid status stops the walk
      {"RDRGDRG", "1610 1610 1 5 -\n"},
  };
  CaseExplainer explainer(tallow::testing::BuildTables(sources));
  std::string line = ReasonLine("K409", "");
  line[32] = 'X';  // no discharge status
  line.replace(83, 5, "Q2830");
  const Json j = explainer.Explain(1, line.data(), line.size());
  EXPECT_EQ(RuleOutcomes(LastPass(j)),
            "1 rejected (not every operating-room procedure is covered)\n"
            "2 rejected (no operating-room procedure is left uncovered)\n"
            "3 rejected (a procedure with the second property is present)\n"
            "4 rejected (invalid discharge status, tolerated, and the rule does not match "
            "otherwise)\n"
            "5 stopped (the rule tests the discharge status and it is invalid)\n");
  EXPECT_EQ(LastPass(j)["caseMask"]["caseErrors"], Json::array({"discharge status invalid"}));
}

TEST(ExplainTest, ShortLinesAreNamedNotGrouped) {
  CaseExplainer explainer(DemoTables());
  const Json j = explainer.Explain(3, "short", 5);
  EXPECT_EQ(j, Json({{"line", 3},
                     {"caseIdentifier", "short"},
                     {"caseDate", ""},
                     {"error", "a line of 5 characters, shorter than 188: written without "
                               "results"}}));
  EXPECT_EQ(ExplainText(j), "line 3: a line of 5 characters, shorter than 188: written without "
                            "results\n");
}

}  // namespace
}  // namespace tallow::app
