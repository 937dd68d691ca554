// What changed from one loaded set to another, table by table, in the terms
// a table author writes: codes with their fields, class records, rules of an
// MDC's list, exclusion lists by key, text lines by their key.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <vector>

#include "toolkit/source_format.h"
#include "toolkit/toolkit.h"

namespace tallow {

namespace toolkit {
namespace {

// A record's fields in order: name, value.
using Fields = std::vector<std::pair<std::string, std::string>>;
using Records = std::map<std::string, Fields>;

std::string Joined(const Fields& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += ", ";
    out += name.empty() ? value : name + " " + value;
  }
  return out;
}

// "class 3 -> 4, ccrow 17 -> 18": the fields that differ.
std::string ChangedFields(const Fields& before, const Fields& after) {
  std::map<std::string, std::string> a(before.begin(), before.end());
  std::map<std::string, std::string> b(after.begin(), after.end());
  Fields order = after;
  for (const auto& field : before) {
    if (b.count(field.first) == 0) order.push_back(field);
  }
  std::string out;
  for (const auto& [name, value] : order) {
    const auto ia = a.find(name);
    const auto ib = b.find(name);
    const std::string va = ia == a.end() ? "(none)" : ia->second;
    const std::string vb = ib == b.end() ? "(none)" : ib->second;
    if (va == vb) continue;
    if (!out.empty()) out += ", ";
    out += fmt::format("{} {} -> {}", name, va, vb);
  }
  return out;
}

class Changes {
 public:
  explicit Changes(SetDiff* diff) : diff_(diff) {}

  void Compare(const std::string& file, const char* what, const Records& before,
               const Records& after) {
    auto a = before.begin();
    auto b = after.begin();
    while (a != before.end() || b != after.end()) {
      if (b == after.end() || (a != before.end() && a->first < b->first)) {
        Add(file, "removed", what, a->first, Joined(a->second));
        ++a;
      } else if (a == before.end() || b->first < a->first) {
        Add(file, "added", what, b->first, Joined(b->second));
        ++b;
      } else {
        if (a->second != b->second) {
          Add(file, "changed", what, a->first, ChangedFields(a->second, b->second));
        }
        ++a;
        ++b;
      }
    }
  }

  void Add(const std::string& file, const char* change, const char* what, std::string key,
           std::string detail) {
    diff_->changes.push_back(TableChange{file, change, what, std::move(key), std::move(detail)});
  }

 private:
  SetDiff* diff_;
};

std::string Trimmed(const char* code) {
  std::string s(code, 5);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string Hex(const uint8_t* bytes, int n) { return DenseHexText(bytes, n); }

// ---------------------------------------------------------------------------
// Category-indexed tables: a code's entries (the second of a pair is keyed
// "CODE (2nd)"), and the class records by number.

template <typename Table, typename EntryFields>
Records IndexedCodes(const Table& table, EntryFields fieldsOf) {
  Records records;
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = table.categoryStart[static_cast<std::size_t>(c)];
    const int end = start + table.categoryCount[static_cast<std::size_t>(c)];
    for (int e = start; e < end; ++e) {
      std::string key = Trimmed(CodeText(c, table.entryTail[static_cast<std::size_t>(e)]).c_str());
      int nth = 1;
      while (records.count(nth == 1 ? key : fmt::format("{} ({}.)", key, nth)) != 0) ++nth;
      if (nth > 1) key = fmt::format("{} ({}.)", key, nth);
      records[key] = fieldsOf(e);
    }
  }
  return records;
}

Records DiagnosisClasses(const DiagnosisTable& t) {
  Records records;
  for (std::size_t k = 0; k < t.classes.size(); ++k) {
    const DiagnosisClass& c = t.classes[k];
    records[fmt::format("{:03}", k + 1)] = {{"mdc", std::to_string(c.mdc)},
                                            {"drgkey", std::to_string(c.drgKey)},
                                            {"ccflag", std::to_string(c.ccFlag)},
                                            {"mask", Hex(c.dxMask.data(), 5)}};
  }
  return records;
}

Records ProcedureClasses(const std::vector<ProcedureClass>& classes) {
  Records records;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    records[fmt::format("{:03}", k + 1)] = {
        {"bytes", SparseBytesText(classes[k].bytes.data(), kProcedureClassBytes, 0)}};
  }
  return records;
}

// SGTAB0: the rows the search reaches for a code, its first run.
Records DatedCodes(const DatedProcedureTable& t) {
  Records records;
  std::size_t i = 0;
  while (i < t.codes.size()) {
    std::size_t end = i + 1;
    while (end < t.codes.size() && t.codes[end] == t.codes[i]) ++end;
    const std::string key = Trimmed(t.codes[i].data());
    const bool padding = key.empty() || key == "00000";
    if (!padding && records.count(key) == 0) {
      Fields fields;
      for (std::size_t k = i; k < end; ++k) {
        const std::size_t n = k - i + 1;
        fields.emplace_back(fmt::format("span {}", n),
                            fmt::format("{}..{}", t.validFrom[k], t.validTo[k]));
        fields.emplace_back(fmt::format("class {}", n),
                            SparseBytesText(t.classes[k].bytes.data(), kProcedureClassBytes, 0));
      }
      records[key] = std::move(fields);
    }
    i = end;
  }
  return records;
}

// ---------------------------------------------------------------------------
// Rules: each MDC's list compared in order; rules outside the longest common
// run of both lists were removed or added.

std::string RuleText(const DrgRule& rule) {
  const int number = (rule.bytes[44] << 8) | rule.bytes[45];
  return fmt::format("DRG {} key {} require {}", DrgText(number, rule.bytes[43]), rule.bytes[0],
                     SparseBytesText(rule.bytes.data() + 1, kRequireBytes, 1));
}

void CompareRules(const std::string& file, const DrgRuleTable& before, const DrgRuleTable& after,
                  Changes* changes) {
  for (int m = 1; m <= kMdcSlots; ++m) {
    std::vector<std::string> a;
    std::vector<std::string> b;
    for (const DrgRule& r : before.RulesOf(m)) a.push_back(RuleText(r));
    for (const DrgRule& r : after.RulesOf(m)) b.push_back(RuleText(r));
    if (a == b) continue;
    // Longest common subsequence, at most 255 rules a side.
    std::vector<std::vector<int>> l(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
      for (std::size_t j = b.size(); j-- > 0;) {
        l[i][j] = a[i] == b[j] ? l[i + 1][j + 1] + 1 : std::max(l[i + 1][j], l[i][j + 1]);
      }
    }
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
      if (i < a.size() && j < b.size() && a[i] == b[j]) {
        ++i;
        ++j;
      } else if (j == b.size() || (i < a.size() && l[i + 1][j] >= l[i][j + 1])) {
        changes->Add(file, "removed", "rule", fmt::format("MDC {} rule {}", m, i + 1), a[i]);
        ++i;
      } else {
        changes->Add(file, "added", "rule", fmt::format("MDC {} rule {}", m, j + 1), b[j]);
        ++j;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// CC exclusion lists by key; rows without a list exclude nothing.

// The code of a diagnosis entry ("" for an entry of no category): the keys
// and list values of CCTAB0 and CCTAB1 are entries, which shift when a code
// is added, so they are compared as codes.
std::vector<std::string> EntryCodes(const DiagnosisTable& dx) {
  std::vector<std::string> codes(dx.entryTail.size());
  for (int c = 0; c < kCategorySlots; ++c) {
    const int start = dx.categoryStart[static_cast<std::size_t>(c)];
    const int end = start + dx.categoryCount[static_cast<std::size_t>(c)];
    for (int e = start; e < end; ++e) {
      codes[static_cast<std::size_t>(e)] =
          Trimmed(CodeText(c, dx.entryTail[static_cast<std::size_t>(e)]).c_str());
    }
  }
  return codes;
}

std::string ValueText(int value, const std::vector<std::string>* codes) {
  if (codes != nullptr && value >= 0 && value < static_cast<int>(codes->size()) &&
      !(*codes)[static_cast<std::size_t>(value)].empty()) {
    return (*codes)[static_cast<std::size_t>(value)];
  }
  return std::to_string(value);
}

std::string ListText(const CcExclusionTable& t, std::size_t row,
                     const std::vector<std::string>* codes) {
  std::string out;
  auto p = static_cast<std::size_t>(t.listOffset[row]);
  for (int k = 0; k < t.listLength[row]; ++k) {
    const int value = ((t.listArea[p] & 0x7F) << 8) | t.listArea[p + 1];
    if (!out.empty()) out += ",";
    if (t.listArea[p] & 0x80) {
      const int last = value + t.listArea[p + 2];
      out += codes != nullptr ? ValueText(value, codes) + ".." + ValueText(last, codes)
                              : std::to_string(value) + "+" + std::to_string(t.listArea[p + 2]);
    } else {
      out += ValueText(value, codes);
    }
    p += (t.listArea[p] & 0x80) ? 3 : 2;
  }
  return out;
}

Records CcLists(const CcExclusionTable& t, const DiagnosisTable* keyTable) {
  Records records;
  const std::vector<std::string> codes = keyTable != nullptr ? EntryCodes(*keyTable)
                                                             : std::vector<std::string>();
  const std::vector<std::string>* names = keyTable != nullptr ? &codes : nullptr;
  for (std::size_t i = 0; i < t.keyFirst.size(); ++i) {
    if (t.listLength[i] == 0) continue;
    const std::string key = t.rangeKeyed
                                ? fmt::format("keys {}..{}", t.keyFirst[i], t.keyLast[i])
                                : ValueText(t.keyFirst[i], names);
    if (records.count(key) == 0) records[key] = {{"list", ListText(t, i, names)}};
  }
  return records;
}

// ---------------------------------------------------------------------------
// Text tables.

Records RefinedCcCodes(const RefinedCcTable& t) {
  Records records;
  for (const RefinedCcRow& row : t.rows) {
    DecodedCode d;
    if (!DecodeCode(row.code.data(), true, &d)) continue;  // padding, never searched
    Fields& fields = records[Trimmed(row.code.data())];
    const std::size_t n = fields.size() + 1;
    fields.emplace_back(fmt::format("line {}", n),
                        fmt::format("sex {} status {} DRG {} row {}", row.sexCondition,
                                    row.statusCondition, row.ccDrg, row.levelRow + 1));
  }
  return records;
}

Records RefinedDrgs(const RefinedDrgTable& t) {
  Records records;
  for (std::size_t s = 0; s < t.slots.size(); ++s) {
    const RefinedDrgSlot& slot = t.slots[s];
    if (!slot.filled) continue;
    records[fmt::format("{:04}", s + 1)] = {
        {"refined", std::to_string(slot.refinedDrg)},
        {"age", slot.ageSplit ? "split" : "none"},
        {"column", std::to_string(slot.levelColumn + 1)},
        {"type", slot.drgType == ' ' ? "-" : std::string(1, slot.drgType)}};
  }
  return records;
}

// A level row as its 86 characters.
Records LevelRows(const LevelMatrix& m) {
  Records records;
  for (std::size_t r = 0; r < kLevelRows; ++r) {
    records[fmt::format("{:02}", r + 1)] = {
        {"levels", std::string(m.levels[r].data(), m.levels[r].size())}};
  }
  return records;
}

Records NeonateMarks(const DiagnosisTable& dx) {
  Records marked;
  for (auto& [code, fields] : IndexedCodes(dx, [&](int e) -> Fields {
         return {{"mark", std::string(1, dx.neonateMark[static_cast<std::size_t>(e)])}};
       })) {
    if (fields.front().second != "0") marked[code] = fields;
  }
  return marked;
}

Records Conversions(const CodeMapFile& map) {
  Records records;
  for (const CodePair& p : map.pairs) records[Trimmed(p.from.data())] = {{"to", Trimmed(p.to.data())}};
  return records;
}

}  // namespace
}  // namespace toolkit

SetDiff DiffTableSets(const TableSet& before, const TableSet& after) {
  using namespace toolkit;
  SetDiff diff;
  Changes changes(&diff);
  static constexpr const char* kDx[kEditionCount] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
  static constexpr const char* kNeo[kEditionCount] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0",
                                                      "RDRGNEO1"};
  static constexpr const char* kRcc[kEditionCount] = {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"};
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    const bool early = e < 2;
    const auto codes = [early](const DiagnosisTable& t) {
      return IndexedCodes(t, [&t, early](int i) -> Fields {
        Fields f{{"class", std::to_string(t.entryClass[static_cast<std::size_t>(i)])}};
        if (early) f.emplace_back("ccrow", std::to_string(t.entryCcRow[static_cast<std::size_t>(i)]));
        return f;
      });
    };
    changes.Compare(kDx[e], "code", codes(before.diagnosis[e]), codes(after.diagnosis[e]));
    changes.Compare(kDx[e], "class", DiagnosisClasses(before.diagnosis[e]),
                    DiagnosisClasses(after.diagnosis[e]));
  }
  static constexpr const char* kSg[2] = {"SGTAB8", "SGTAB9"};
  for (std::size_t t = 0; t < 2; ++t) {
    const auto codes = [](const ProcedureTable& p) {
      return IndexedCodes(p, [&p](int i) -> Fields {
        return {{"class", std::to_string(p.entryClass[static_cast<std::size_t>(i)])}};
      });
    };
    changes.Compare(kSg[t], "code", codes(before.procedure[t]), codes(after.procedure[t]));
    changes.Compare(kSg[t], "class", ProcedureClasses(before.procedure[t].classes),
                    ProcedureClasses(after.procedure[t].classes));
  }
  changes.Compare("SGTAB0", "code", DatedCodes(before.datedProcedure),
                  DatedCodes(after.datedProcedure));
  CompareRules("DGTAB", before.drgRules[0], after.drgRules[0], &changes);
  CompareRules("DGTAB0", before.drgRules[1], after.drgRules[1], &changes);
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    changes.Compare(kRcc[e], "code", RefinedCcCodes(before.refinedCc[e]),
                    RefinedCcCodes(after.refinedCc[e]));
  }
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    changes.Compare(kNeo[e], "mark", NeonateMarks(before.diagnosis[e]),
                    NeonateMarks(after.diagnosis[e]));
  }
  changes.Compare("CCTAB0", "list", CcLists(before.ccEntry[0], &before.diagnosis[2]),
                  CcLists(after.ccEntry[0], &after.diagnosis[2]));
  changes.Compare("CCTAB1", "list", CcLists(before.ccEntry[1], &before.diagnosis[3]),
                  CcLists(after.ccEntry[1], &after.diagnosis[3]));
  changes.Compare("CCTAB", "list", CcLists(before.ccRange, nullptr), CcLists(after.ccRange, nullptr));
  changes.Compare("RDRGDRG", "line", RefinedDrgs(before.refinedDrg), RefinedDrgs(after.refinedDrg));
  changes.Compare("RDRGCL", "row", LevelRows(before.levelMatrix), LevelRows(after.levelMatrix));
  changes.Compare(kCodeMapJan2001File, "conversion", Conversions(before.codeMapJan2001),
                  Conversions(after.codeMapJan2001));
  changes.Compare(kCodeMap2001File, "conversion", Conversions(before.codeMap2001),
                  Conversions(after.codeMap2001));
  return diff;
}

}  // namespace tallow
