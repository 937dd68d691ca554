// Properties of the batch over random case lines: several synthetic table
// sets, thousands of lines each (codes drawn from the set, blanks, malformed
// codes, dates at and around every edition and rule limit, odd ages, sexes,
// statuses and stays, short and long lines), grouped through the batch loop.
//
// For every line: the batch never fails; the MDC is two digits up to 30, the
// group code six digits, the version "20050801"; every character outside
// positions 188-213 is the input's; a line shorter than 188 comes back as it
// was. Grouping the same lines again, in the same run or another, in any
// order, gives the same lines. Table sets with damage that the loader
// accepts are grouped too: there only the shape of the output is checked.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/batch.h"
#include "tables/codes.h"
#include "tables/loader.h"
#include "toolkit/code_pool.h"
#include "toolkit/toolkit.h"
#include "toolkit/split_mix.h"

namespace tallow::app {
namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64
    return SplitMix64(state_);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  bool Percent(int p) { return Below(100) < p; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))];
  }

 private:
  uint64_t state_;
};

// The codes of a table set, per edition, with the codes the program's own
// lists name.
CodePool PoolOf(const TableSet& t) {
  CodePool pool = CodesOf(t);
  for (auto& list : pool.procedures) {
    // Codes the program's own lists name.
    for (const char* fixed : {"R4380", "M0101", "S5113", "Q2950", "O800 "}) list.emplace_back(fixed);
  }
  for (auto& list : pool.diagnoses) {
    if (list.empty()) list.emplace_back("Z33  ");
  }
  return pool;
}

// Dates at the limits where editions and rules switch, and unreadable ones.
const std::vector<std::string> kDates = {
    "19970101", "19980131", "19980201", "19980630", "19980701", "19990131", "19990201",
    "19991114", "19991115", "19991231", "20000101", "20001231", "20010101", "20010131",
    "20010201", "20011231", "20020101", "20021231", "20030101", "20030831", "20030901",
    "20050801", "20991231", "        ", "2003    ", "20O30101", "99999999", "00000000",
    "1999020 ", "A0030101"};

int EditionOf(const std::string& date) {
  if (date < "19990201") return 0;
  if (date < "20020101") return 1;
  if (date < "20030101") return 2;
  return 3;
}

char AnyByte(Random& rng) {
  // Every byte but the line end, the carriage return and NUL.
  for (;;) {
    const char c = static_cast<char>(rng.Below(256));
    if (c != '\n' && c != '\r' && c != '\0') return c;
  }
}

std::string Digits(Random& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng.Below(10));
  return s;
}

std::string OddCode(Random& rng) {
  static const std::vector<std::string> kOdd = {"00000", "     ", "A    ", "a12  ", "Z9", "O80 1",
                                                "Q29 0", "1234 ", "?????", "R43800"};
  if (rng.Percent(50)) return (rng.Pick(kOdd) + "     ").substr(0, 5);
  std::string s;
  for (int i = 0; i < 5; ++i) s += AnyByte(rng);
  return s;
}

std::string RandomField(Random& rng, const std::vector<std::string>& choices, int width,
                        int randomPercent) {
  if (rng.Percent(randomPercent)) {
    std::string s;
    for (int i = 0; i < width; ++i) s += AnyByte(rng);
    return s;
  }
  return rng.Pick(choices);
}

// One case line, without its line end.
std::string RandomCaseLine(Random& rng, const CodePool& pool) {
  static const std::vector<std::string> kIds = {"99099999", "99199999", "99299999", "99399999",
                                                "00000001", "D0000029"};
  static const std::vector<std::string> kStays = {"   ", "  0", "  1", "  2", "  4", "999",
                                                  " 12", "1 2", "x  ", "-1 ", "  5"};
  static const std::vector<std::string> kModifiers = {"     ", "B    ", "s    ", "L    ",
                                                      "BSL  ", "bsl  ", " b  S", "XYZ  "};
  std::string line;
  line += rng.Percent(30) ? rng.Pick(kIds) : Digits(rng, 8);
  // Birth date and sex digit: mostly digits, now and then anything.
  line += rng.Percent(90) ? Digits(rng, 6) : RandomField(rng, {"      "}, 6, 50);
  line += rng.Percent(95) ? Digits(rng, 1) : std::string(1, AnyByte(rng));
  line += RandomField(rng, {"000000"}, 6, 50);
  std::string date;
  if (rng.Percent(50)) {
    date = rng.Pick(kDates);
  } else {
    date = std::to_string(1997 + rng.Below(10)) + Digits(rng, 4);
  }
  line += date;
  if (rng.Percent(70)) {
    const std::string days = std::to_string(rng.Percent(80) ? rng.Below(40) : rng.Below(1000));
    line += std::string(3 - days.size(), ' ') + days;
  } else {
    line += rng.Pick(kStays);
  }
  line += rng.Percent(95) ? Digits(rng, 1) : std::string(1, AnyByte(rng));

  const int edition = EditionOf(date);
  const auto code = [&](const std::vector<std::string>& own, const std::vector<std::string>& other) {
    const int roll = rng.Below(100);
    if (roll < 75 && !own.empty()) return rng.Pick(own);
    if (roll < 85 && !other.empty()) return rng.Pick(other);
    return OddCode(rng);
  };
  const int diagnoses = rng.Below(11);
  for (int i = 0; i < 10; ++i) {
    line += i < diagnoses ? code(pool.diagnoses[edition], pool.diagnoses[rng.Below(4)])
                          : std::string(5, ' ');
  }
  const int procedures = rng.Below(4) == 0 ? rng.Below(21) : rng.Below(4);
  for (int i = 0; i < 20; ++i) {
    line += i < procedures ? code(pool.procedures[edition], pool.procedures[rng.Below(4)])
                           : std::string(5, ' ');
  }
  line += RandomField(rng, kModifiers, 5, 10);

  // Old results, a tail, or a line cut short; now and then a very long line.
  const int shape = rng.Below(100);
  if (shape < 5) {
    line.resize(static_cast<std::size_t>(1 + rng.Below(187)));
  } else if (shape < 60) {
    for (int i = 0; i < 26; ++i) line += AnyByte(rng);
    const int tail = rng.Below(3) == 0 ? rng.Below(40) : 0;
    for (int i = 0; i < tail; ++i) line += AnyByte(rng);
  } else if (shape < 65) {
    const int extra = rng.Below(26);
    for (int i = 0; i < extra; ++i) line += AnyByte(rng);
  } else if (shape < 67) {
    line.resize(static_cast<std::size_t>(2900 + rng.Below(300)), 'x');
  }
  return line;
}

struct CaseFile {
  std::vector<std::string> lines;   // without line ends
  std::vector<bool> crlf;
  std::string Text(const std::vector<std::size_t>& order) const {
    std::string text;
    for (std::size_t i : order) text += lines[i] + (crlf[i] ? "\r\n" : "\n");
    return text;
  }
};

CaseFile RandomCaseFile(Random& rng, const CodePool& pool, int count) {
  CaseFile file;
  for (int i = 0; i < count; ++i) {
    file.lines.push_back(RandomCaseLine(rng, pool));
    file.crlf.push_back(rng.Percent(20));
  }
  return file;
}

// Runs the batch loop over the text; returns the output, or fails the test.
std::string GroupText(const std::shared_ptr<const TableSet>& tables, std::string input,
                      int jobs = 1, std::size_t blockBytes = 0,
                      OutputFormat format = OutputFormat::kLines) {
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  std::FILE* err = std::tmpfile();
  if (in == nullptr || out == nullptr || err == nullptr) {
    ADD_FAILURE() << "cannot open memory streams";
    return {};
  }
  BatchOptions options;
  options.err = err;
  options.jobs = jobs;
  options.blockBytes = blockBytes;
  options.format = format;
  options.why = format != OutputFormat::kLines;
  options.flags = format != OutputFormat::kLines;
  const int status = GroupStream(tables, in, out, options);
  std::fclose(in);
  std::fclose(out);
  std::string output(buffer, size);
  std::free(buffer);
  std::rewind(err);
  std::string messages;
  for (int c = std::fgetc(err); c != EOF; c = std::fgetc(err)) messages += static_cast<char>(c);
  std::fclose(err);
  // Lines cut short are written back without results and reported.
  EXPECT_TRUE(status == kExitOk || status == kExitWithoutResults) << status << ": " << messages;
  return output;
}

// The output split into lines, each with its line end.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, stop - start));
    start = stop;
  }
  return lines;
}

bool AllDigits(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Checks one output line against its input; returns "" or what is wrong.
std::string CheckLine(const std::string& in, bool crlf, const std::string& outWithEnd,
                      bool validTables) {
  const std::string end = crlf ? "\r\n" : "\n";
  if (outWithEnd.size() < end.size() ||
      outWithEnd.compare(outWithEnd.size() - end.size(), end.size(), end) != 0) {
    return "line end changed";
  }
  const std::string out = outWithEnd.substr(0, outWithEnd.size() - end.size());
  if (in.size() < 188) return out == in ? "" : "short line changed";
  if (out.size() != std::max<std::size_t>(in.size(), 214)) {
    return "length " + std::to_string(out.size()) + " for an input of " + std::to_string(in.size());
  }
  if (out.compare(0, 188, in, 0, 188) != 0) return "input fields changed";
  if (in.size() > 214 && out.compare(214, std::string::npos, in, 214) != 0) return "tail changed";
  const std::string mdc = out.substr(188, 2);
  if (!AllDigits(mdc)) return "MDC \"" + mdc + "\"";
  if (validTables && std::stoi(mdc) > 30) return "MDC " + mdc + " above 30";
  if (!AllDigits(out.substr(190, 6))) return "group code \"" + out.substr(190, 6) + "\"";
  if (out.compare(196, 8, "20050801") != 0) return "version \"" + out.substr(196, 8) + "\"";
  return "";
}

// Groups the file, then the file followed by a shuffled copy of itself in one
// run: every line must hold, and every repeated line must come out the same.
// Returns the number of lines that reached an MDC other than 0 and 24.
int CheckProperties(const std::shared_ptr<const TableSet>& tables, const CaseFile& file,
                     Random& rng, bool validTables, const std::string& label) {
  const std::size_t n = file.lines.size();
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::vector<std::size_t> shuffled = order;
  for (std::size_t i = n; i > 1; --i) {
    std::swap(shuffled[i - 1], shuffled[static_cast<std::size_t>(rng.Below(static_cast<int>(i)))]);
  }
  std::vector<std::size_t> twice = order;
  twice.insert(twice.end(), shuffled.begin(), shuffled.end());

  const std::string onceText = GroupText(tables, file.Text(order));
  // Several workers over small blocks (long lines cross them) write the same bytes.
  EXPECT_EQ(GroupText(tables, file.Text(order), 3, 4096), onceText) << label;
  const std::vector<std::string> once = SplitLines(onceText);
  if (once.size() != n) {
    ADD_FAILURE() << label << ": " << once.size() << " lines out of " << n;
    return 0;
  }
  int categorised = 0;
  for (const std::string& line : once) {
    if (line.size() < 214) continue;
    const std::string mdc = line.substr(188, 2);
    categorised += mdc != "00" && mdc != "24" ? 1 : 0;
  }
  int failures = 0;
  for (std::size_t i = 0; i < n && failures < 5; ++i) {
    const std::string fault = CheckLine(file.lines[i], file.crlf[i], once[i], validTables);
    if (!fault.empty()) {
      ADD_FAILURE() << label << ", line " << i + 1 << ": " << fault << "\n  in:  " << file.lines[i]
                    << "\n  out: " << once[i];
      ++failures;
    }
  }
  const std::vector<std::string> again = SplitLines(GroupText(tables, file.Text(twice)));
  if (again.size() != 2 * n) {
    ADD_FAILURE() << label << ": " << again.size() << " lines out of " << 2 * n;
    return categorised;
  }
  for (std::size_t i = 0; i < 2 * n && failures < 10; ++i) {
    const std::size_t source = twice[i];
    if (again[i] != once[source]) {
      ADD_FAILURE() << label << ": line " << source + 1 << " grouped as line " << i + 1
                    << " of a longer run differs\n  in:    " << file.lines[source]
                    << "\n  first: " << once[source] << "\n  then:  " << again[i];
      ++failures;
    }
  }
  return categorised;
}

std::shared_ptr<const TableSet> Load(const TableImages& images, const std::string& label) {
  auto loaded = LoadTablesFromImages(images);
  if (!loaded.ok()) {
    ADD_FAILURE() << label << ": " << loaded.message();
    return nullptr;
  }
  return *loaded;
}

// The rows of a CSV text (RFC 4180: quoted fields, doubled quotes, CRLF).
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last CRLF
  return rows;
}

// The bytes of a JSON string as the records write them: each character is
// the byte of its number (\u00XX), as Latin-1 reads it.
std::string Latin1(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else {
      bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    }
  }
  return bytes;
}

// jsonl and csv carry what the grouped line carries, field by field.
void CheckRecords(const std::shared_ptr<const TableSet>& tables, const CaseFile& file,
                  const std::string& label) {
  std::vector<std::size_t> order(file.lines.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const std::string input = file.Text(order);
  const std::vector<std::string> grouped = SplitLines(GroupText(tables, input));
  const std::vector<std::string> jsonl =
      SplitLines(GroupText(tables, input, 1, 0, OutputFormat::kJsonl));
  const std::vector<std::vector<std::string>> csv =
      CsvRows(GroupText(tables, input, 2, 0, OutputFormat::kCsv));
  ASSERT_EQ(jsonl.size(), file.lines.size()) << label;
  ASSERT_EQ(csv.size(), file.lines.size() + 1) << label;
  const std::vector<std::string>& header = csv[0];
  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const std::string& in = file.lines[i];
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(jsonl[i]);
    const std::vector<std::string>& row = csv[i + 1];
    ASSERT_EQ(row.size(), header.size()) << label << ", line " << i + 1;
    EXPECT_EQ(Latin1(j["caseIdentifier"].get<std::string>()), in.substr(0, 8)) << i + 1;
    EXPECT_EQ(row[1], in.substr(0, 8)) << i + 1;
    EXPECT_EQ(row[2], in.size() > 21 ? in.substr(21, 8) : "") << i + 1;
    if (in.size() < 188) {
      EXPECT_TRUE(j.contains("error")) << jsonl[i];
      EXPECT_EQ(row.back(), j["error"].get<std::string>());
      continue;
    }
    const std::string& out = grouped[i];
    EXPECT_EQ(j["mdc"].get<int>(), std::stoi(out.substr(188, 2))) << label << ", line " << i + 1;
    EXPECT_EQ(j["groupCode"].get<std::string>(), out.substr(190, 6)) << label << ", " << i + 1;
    EXPECT_EQ(Latin1(j["diagnosisLevels"].get<std::string>()), out.substr(204, 10)) << i + 1;
    // Every column of the csv row says what the jsonl object says.
    for (std::size_t k = 3; k < header.size(); ++k) {
      const std::string& name = header[k];
      if (name == "error") {
        EXPECT_EQ(row[k], "");
      } else if (name == "reason") {
        EXPECT_EQ(row[k], j.contains("reason") ? j["reason"].get<std::string>() : "") << i + 1;
      } else if (name == "flags") {
        std::string names;
        for (const auto& f : j["flags"]) names += (names.empty() ? "" : ";") + f.get<std::string>();
        EXPECT_EQ(row[k], names) << i + 1;
      } else {
        const auto& v = j[name];
        EXPECT_EQ(row[k], v.is_string() ? Latin1(v.get<std::string>()) : v.dump())
            << label << ", line " << i + 1 << ", " << name;
      }
    }
  }
}

TEST(BatchPropertiesTest, JsonlAndCsvCarryTheValuesOfTheLine) {
  for (const uint64_t seed : {4u, 5u}) {
    const std::string label = "synthetic set " + std::to_string(seed);
    const auto tables = Load(SynthTables(seed), label);
    ASSERT_NE(tables, nullptr);
    Random rng(seed * 104729);
    CheckRecords(tables, RandomCaseFile(rng, PoolOf(*tables), 600), label);
  }
}

TEST(BatchPropertiesTest, RandomLinesOverSyntheticSets) {
  for (const uint64_t seed : {1u, 2u, 3u}) {
    const std::string label = "synthetic set " + std::to_string(seed);
    const auto tables = Load(SynthTables(seed), label);
    ASSERT_NE(tables, nullptr);
    const CodePool pool = PoolOf(*tables);
    Random rng(seed * 7919);
    // Most lines must reach the grouping proper, or the properties say little.
    EXPECT_GT(CheckProperties(tables, RandomCaseFile(rng, pool, 2500), rng, true, label), 1250)
        << label;
  }
}

// ---------------------------------------------------------------------------
// Sets whose content is out of its meaningful range in ways the loader lets
// pass (only structure that would index outside an array is rejected): the
// grouper must stay inside its tables and still write well-formed lines.

void ForEachLine(std::string& text, const std::function<void(std::string& line, int index)>& f) {
  std::string result;
  std::size_t start = 0;
  int index = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    f(line, index++);
    result += line;
    if (end < text.size()) result += '\n';
    start = end + 1;
  }
  text = result;
}

void PutColumn(std::string& line, int column, const std::string& with) {
  const auto at = static_cast<std::size_t>(column - 1);
  if (line.size() < at + with.size()) line.resize(at + with.size(), ' ');
  line.replace(at, with.size(), with);
}

void Poke(std::string& image, std::size_t at, int value) {
  image.at(at) = static_cast<char>(static_cast<uint8_t>(value));
}

struct AcceptedDamage {
  const char* label;
  std::function<void(TableImages&)> apply;
};

const AcceptedDamage kAcceptedDamages[] = {
    {"diagnosis classes with MDC 0, 31, 255, every key, mask and CC flag",
     [](TableImages& t) {
       const char* const names[4] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
       for (int e = 0; e < 4; ++e) {
         std::string& f = t.at(names[e]);
         const std::size_t classes = 7800 + 5 * static_cast<std::size_t>(kDiagnosisEntries[e]);
         for (std::size_t k = 0; k < 383; ++k) {
           const std::size_t at = classes + 8 * k;
           Poke(f, at, k % 4 == 0 ? 0 : k % 4 == 1 ? 31 : k % 4 == 2 ? 255 : 15);
           Poke(f, at + 1, static_cast<int>(k));
           Poke(f, at + 2, k % 3 == 0 ? 1 : 2);
           for (std::size_t b = 3; b < 8; ++b) Poke(f, at + b, 0xFF);
         }
       }
     }},
    {"CC rows of diagnoses far outside the CC table",
     [](TableImages& t) {
       for (const char* name : {"DXTAB8", "DXTAB9"}) {
         std::string& f = t.at(name);
         for (std::size_t e = 0; e < 9210; ++e) {
           const int row = e % 3 == 0 ? -32768 : e % 3 == 1 ? 32767 : -1;
           Poke(f, 7800 + 5 * e + 3, (row >> 8) & 0xFF);
           Poke(f, 7800 + 5 * e + 4, row & 0xFF);
         }
       }
     }},
    {"procedure classes with every bit, dated rows with empty or reversed spans",
     [](TableImages& t) {
       for (const auto& [name, m, c] : {std::tuple{"SGTAB8", 828, 337}, std::tuple{"SGTAB9", 816, 339}}) {
         std::string& f = t.at(name);
         const std::size_t classes = 7800 + 3 * static_cast<std::size_t>(m);
         for (std::size_t b = 0; b < 26 * static_cast<std::size_t>(c); ++b) Poke(f, classes + b, 0xFF);
       }
       std::string& f = t.at("SGTAB0");
       for (std::size_t r = 0; r < 1608; ++r) {
         if (r % 2 == 0) {  // validFrom after validTo
           for (std::size_t b = 0; b < 4; ++b) Poke(f, 8040 + 4 * r + b, 0x7F);
         }
         if (r % 5 == 0) Poke(f, 5 * r + 3, 0);  // a NUL inside the code
         for (std::size_t b = 0; b < 26; ++b) Poke(f, 20904 + 26 * r + b, 0xFF);
       }
     }},
    {"rules that match every case and yield DRG values 0, 65535 x 10 + 255 and 4700",
     [](TableImages& t) {
       for (const auto& [name, r] : {std::pair{"DGTAB", 531}, std::pair{"DGTAB0", 539}}) {
         std::string& f = t.at(name);
         for (std::size_t k = 0; k < static_cast<std::size_t>(r); ++k) {
           const std::size_t at = 90 + 46 * k;
           if (k % 2 == 0) {
             for (std::size_t b = 0; b < 43; ++b) Poke(f, at + b, 0);
           }
           const int number = k % 3 == 0 ? 0 : k % 3 == 1 ? 0xFFFF : 470;
           Poke(f, at + 43, k % 3 == 1 ? 0xFF : 0);
           Poke(f, at + 44, number >> 8);
           Poke(f, at + 45, number & 0xFF);
         }
       }
     }},
    {"CC keys out of order, spans that wrap, lists of values and ranges at the limits",
     [](TableImages& t) {
       std::string& range = t.at("CCTAB");
       for (std::size_t row = 0; row < 1552; ++row) {
         const int first = row % 2 == 0 ? 32767 - static_cast<int>(row) : static_cast<int>(row) - 1000;
         Poke(range, 6 * row, (first >> 8) & 0xFF);
         Poke(range, 6 * row + 1, first & 0xFF);
         Poke(range, 6 * row + 2, 255);
       }
       for (std::size_t b = 0; b + 3 <= 7436; b += 3) {  // three-byte items: 32767 + 255
         Poke(range, 9312 + b, 0xFF);
         Poke(range, 9312 + b + 1, 0xFF);
         Poke(range, 9312 + b + 2, 0xFF);
       }
       for (const auto& [name, k] : {std::pair{"CCTAB0", 2390}, std::pair{"CCTAB1", 2391}}) {
         std::string& f = t.at(name);
         for (std::size_t row = 0; row < static_cast<std::size_t>(k); ++row) {
           const int key = static_cast<int>(k) - static_cast<int>(row) - 2;  // descending, -1 last
           Poke(f, 2 * row, key & 0xFF);
           Poke(f, 2 * row + 1, (key >> 8) & 0xFF);
         }
       }
     }},
    {"refined CC rows with odd sexes, statuses and DRG values, out of order",
     [](TableImages& t) {
       for (const char* name : {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"}) {
         std::string& text = t.at(name);
         ForEachLine(text, [](std::string& line, int i) {
           if (line.empty()) return;
           PutColumn(line, 6, i % 3 == 0 ? " " : i % 3 == 1 ? "9" : "\xff");
           PutColumn(line, 8, i % 2 == 0 ? "x" : "0");
           PutColumn(line, 10, i % 4 == 0 ? "9999" : i % 4 == 1 ? "    " : i % 4 == 2 ? "-1x " : "4700");
           if (i % 7 == 0) PutColumn(line, 1, "A00  ");
         });
       }
     }},
    {"refined DRGs 0, 9999 and unreadable; columns none or unreadable; odd types",
     [](TableImages& t) {
       ForEachLine(t.at("RDRGDRG"), [](std::string& line, int i) {
         if (line.empty()) return;
         PutColumn(line, 6, i % 4 == 0 ? "9999" : i % 4 == 1 ? "0000" : i % 4 == 2 ? "x   " : "4700");
         PutColumn(line, 10, i % 2 == 0 ? "\x01" : " ");
         PutColumn(line, 11, i % 3 == 0 ? "00" : i % 3 == 1 ? "x1" : "86");
         PutColumn(line, 17, i % 2 == 0 ? "M" : "\xff");
       });
     }},
    {"level matrix of short lines and high bytes; neonate marks of any byte, out of order",
     [](TableImages& t) {
       ForEachLine(t.at("RDRGCL"), [](std::string& line, int i) {
         if (i % 3 == 0) line.resize(static_cast<std::size_t>(i % 40));
         for (std::size_t c = 0; c < line.size(); ++c) {
           static const char kLevels[] = {'0', '1', '2', '3', '4', 'L', '9', '\x80', '\xff'};
           line[c] = kLevels[(c + static_cast<std::size_t>(i)) % sizeof kLevels];
         }
       });
       for (const char* name : {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0", "RDRGNEO1"}) {
         ForEachLine(t.at(name), [](std::string& line, int i) {
           if (line.empty()) return;
           static const char* const kMarks[] = {"\xff", "L", "4", "\x80", "0", "9"};
           PutColumn(line, 6, kMarks[i % 6]);
           if (i % 11 == 5) PutColumn(line, 2, "99");
         });
       }
     }},
    {"one code over many rows and entries, tails out of order",
     [](TableImages& t) {
       for (const char* name : {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"}) {
         std::string first;
         ForEachLine(t.at(name), [&first](std::string& line, int i) {
           if (i == 0) first = line.substr(0, 5);
           if (i < 400) PutColumn(line, 1, first);
         });
       }
       std::string& dated = t.at("SGTAB0");
       for (std::size_t r = 1; r < 800; ++r) dated.replace(5 * r, 5, dated, 0, 5);
       const char* const names[4] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
       for (const char* name : names) {
         std::string& f = t.at(name);
         for (std::size_t c = 0; c < 2600; ++c) {  // reverse the tails of every category
           const auto count = static_cast<std::size_t>(static_cast<uint8_t>(f[3 * c]));
           const auto start = static_cast<std::size_t>(
               (static_cast<uint8_t>(f[3 * c + 1]) << 8) | static_cast<uint8_t>(f[3 * c + 2]));
           for (std::size_t i = 0; i < count / 2; ++i) {
             std::swap(f[7800 + 5 * (start + i)], f[7800 + 5 * (start + count - 1 - i)]);
           }
         }
       }
     }},
};

TEST(BatchPropertiesTest, TablesWithDamageTheLoaderAccepts) {
  const TableImages valid = SynthTables(4);
  std::shared_ptr<const TableSet> reference = Load(valid, "synthetic set 4");
  ASSERT_NE(reference, nullptr);
  const CodePool pool = PoolOf(*reference);
  TableImages all = valid;
  uint64_t damageSeed = 100;
  for (const AcceptedDamage& damage : kAcceptedDamages) {
    TableImages images = valid;
    damage.apply(images);
    damage.apply(all);
    const auto tables = Load(images, damage.label);
    if (tables == nullptr) continue;
    Random rng(++damageSeed);
    CheckProperties(tables, RandomCaseFile(rng, pool, 400), rng, false, damage.label);
  }
  const auto tables = Load(all, "every damage at once");
  ASSERT_NE(tables, nullptr);
  Random rng(99);
  CheckProperties(tables, RandomCaseFile(rng, pool, 600), rng, false, "every damage at once");
}

}  // namespace
}  // namespace tallow::app
