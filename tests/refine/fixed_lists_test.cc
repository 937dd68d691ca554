// The fixed code lists of the refined group code.
#include "refine/fixed_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "tables/codes.h"

namespace tallow {
namespace {

std::vector<int32_t> Codes(AcceptedCodeList list) {
  const std::span<const int32_t> codes = AcceptedCodes(list);
  return {codes.begin(), codes.end()};
}

TEST(AcceptedCodeListTest, SizesMatchTheRules) {
  const std::pair<AcceptedCodeList, std::size_t> sizes[] = {
      {AcceptedCodeList::kL1, 29},  {AcceptedCodeList::kL2, 41}, {AcceptedCodeList::kL3, 110},
      {AcceptedCodeList::kL4, 77},  {AcceptedCodeList::kL5, 104}, {AcceptedCodeList::kL6, 41},
      {AcceptedCodeList::kL7, 63},  {AcceptedCodeList::kL8, 51}};
  for (const auto& [list, size] : sizes) {
    EXPECT_EQ(AcceptedCodes(list).size(), size) << static_cast<int>(list);
    EXPECT_TRUE(std::is_sorted(AcceptedCodes(list).begin(), AcceptedCodes(list).end()));
  }
}

TEST(AcceptedCodeListTest, L7MemberByMember) {
  // 0391: 00 01 02; 0392: 00 01 02; 0393: 00 01 02; 0394: 00 01 02; 0590: 00 01 10 11;
  // 1571: 00 01 02; 1572: 00 01 02; 1612: 00 01 10 11; 1613: 00 01 10 11; 1640: 00 01 02;
  // 1660: 00 01 02; 3581: 00 01 02; 3582: 00 01 02; 3583: 00 01 02; 3584: 00 01 02;
  // 3700: 00 01 02; 3720: 00 01 02; 3730: 00 01 02; 3721: 00 01 02; 3731: 00 01 02.
  const std::vector<int32_t> expected = {
      39100,  39101,  39102,  39200,  39201,  39202,  39300,  39301,  39302,  39400,  39401,
      39402,  59000,  59001,  59010,  59011,  157100, 157101, 157102, 157200, 157201, 157202,
      161200, 161201, 161210, 161211, 161300, 161301, 161310, 161311, 164000, 164001, 164002,
      166000, 166001, 166002, 358100, 358101, 358102, 358200, 358201, 358202, 358300, 358301,
      358302, 358400, 358401, 358402, 370000, 370001, 370002, 372000, 372001, 372002, 372100,
      372101, 372102, 373000, 373001, 373002, 373100, 373101, 373102};
  EXPECT_EQ(Codes(AcceptedCodeList::kL7), expected);
  for (int32_t code : expected) EXPECT_TRUE(InAcceptedCodeList(AcceptedCodeList::kL7, code));
  for (int32_t code : {0, 39103, 59002, 164011, 372003, 470000, 815001})
    EXPECT_FALSE(InAcceptedCodeList(AcceptedCodeList::kL7, code)) << code;
}

// L4, L5 and L8 are their base list without some stems and nothing else.
TEST(AcceptedCodeListTest, DerivedListsLeaveOutTheirStems) {
  struct Derived {
    AcceptedCodeList list;
    AcceptedCodeList base;
    std::vector<int32_t> stems;
  };
  const Derived derived[] = {
      {AcceptedCodeList::kL4, AcceptedCodeList::kL3,
       {1460, 1461, 1480, 1481, 1500, 1501, 1520, 1521, 1540, 1541, 1590}},
      {AcceptedCodeList::kL5, AcceptedCodeList::kL3, {890, 891}},
      {AcceptedCodeList::kL8, AcceptedCodeList::kL7, {3720, 3730, 3721, 3731}},
  };
  for (const Derived& d : derived) {
    std::vector<int32_t> expected;
    for (int32_t code : Codes(d.base))
      if (std::find(d.stems.begin(), d.stems.end(), code / 100) == d.stems.end())
        expected.push_back(code);
    EXPECT_EQ(Codes(d.list), expected) << static_cast<int>(d.list);
  }
}

TEST(AcceptedCodeListTest, SpotChecksOfTheOtherLists) {
  struct Spot {
    AcceptedCodeList list;
    int32_t code;
    bool member;
  };
  const Spot spots[] = {
      {AcceptedCodeList::kL1, 57110, true},   {AcceptedCodeList::kL1, 39520, true},
      {AcceptedCodeList::kL1, 41000, false},  {AcceptedCodeList::kL2, 161110, true},
      {AcceptedCodeList::kL2, 161120, false}, {AcceptedCodeList::kL3, 372021, true},
      {AcceptedCodeList::kL3, 188120, true},  {AcceptedCodeList::kL6, 373021, true},
      {AcceptedCodeList::kL6, 172000, false}, {AcceptedCodeList::kL8, 370002, true},
  };
  for (const Spot& s : spots)
    EXPECT_EQ(InAcceptedCodeList(s.list, s.code), s.member)
        << static_cast<int>(s.list) << " " << s.code;
}

TEST(CodeListTest, Membership) {
  struct Member {
    CodeList list;
    const char* code;
    bool member;
  };
  const Member members[] = {
      {CodeList::kB20B24, "B24  ", true},  {CodeList::kB20B24, "B240 ", false},
      {CodeList::kB20B24, "B20  ", false}, {CodeList::kB20B24, "B2000", false},
      {CodeList::kExclusion2003, "B20  ", true}, {CodeList::kExclusion2003, "Z21  ", true},
      {CodeList::kExclusion2003, "Z210 ", false}, {CodeList::kC2, "HA680", true},
      {CodeList::kS5a, "N0590", true},     {CodeList::kS5b, "N0590", false},
      {CodeList::kDrg358, "C8534", true},  {CodeList::kR, "x5021", false},
  };
  for (const Member& m : members)
    EXPECT_EQ(InCodeList(m.list, m.code), m.member) << m.code;
  EXPECT_FALSE(InCodeList(CodeList::kB20B24, nullptr));
}

TEST(SexRuleTest, RowsAndRuns) {
  struct Rule {
    int mdc;
    int sex;
    const char* code;
    bool matches;
  };
  const Rule rules[] = {
      {6, 1, "N805 ", true},   {6, 2, "N805 ", false},  {7, 1, "N805 ", false},
      {8, 1, "M8000", true},   {8, 1, "M8009", true},   {8, 1, "M8010", true},
      {8, 1, "M8019", true},   {8, 1, "M8020", false},  {8, 1, "M800A", false},
      {8, 1, "M800 ", false},  {8, 1, "M8119", true},   {8, 1, "M8200", false},
      {8, 1, "M8309", true},   {8, 1, "M8310", false},  {10, 2, "E895 ", true},
      {10, 1, "E895 ", false}, {23, 1, "R870 ", true},  {23, 1, "R879 ", true},
      {23, 1, "R87  ", false}, {23, 1, "Z33  ", true},  {23, 2, "Z33  ", false},
      {23, 2, "Z125 ", true},  {23, 1, "Z125 ", false}, {19, 2, "F524 ", true},
      {15, 1, "P546 ", true},  {279, 1, "N805 ", false},
  };
  for (const Rule& r : rules)
    EXPECT_EQ(SexRuleMatches(r.mdc, r.sex, r.code), r.matches)
        << r.mdc << " " << r.sex << " " << r.code;
  EXPECT_FALSE(SexRuleMatches(6, 1, nullptr));
}

TEST(ExemptIdentifierTest, FourIdentifiers) {
  for (const char* id : {"99099999", "99199999", "99299999", "99399999"})
    EXPECT_TRUE(IsExemptIdentifier(id)) << id;
  for (const char* id : {"99499999", "9909999 ", "11100010", "        "})
    EXPECT_FALSE(IsExemptIdentifier(id)) << id;
  EXPECT_FALSE(IsExemptIdentifier(nullptr));
}

// The quick tests in front of the list searches answer as the sorted lists
// do: every six-digit code (and a few outside) against each accepted list,
// every well-formed code against each code list.
TEST(ListFiltersTest, AnswerAsTheSortedListsDo) {
  int differing = 0;
  int members = 0;
  for (int l = 0; l <= static_cast<int>(AcceptedCodeList::kL8); ++l) {
    const auto list = static_cast<AcceptedCodeList>(l);
    const std::span<const int32_t> codes = AcceptedCodes(list);
    for (int32_t code = -3; code < 1000003; ++code) {
      const bool member = std::binary_search(codes.begin(), codes.end(), code);
      members += member;
      if (InAcceptedCodeList(list, code) != member && ++differing <= 5) {
        ADD_FAILURE() << "list " << l << " code " << code;
      }
    }
  }
  const char kHalves[] = "0123456789 ";
  for (int l = 0; l <= static_cast<int>(CodeList::kS6b); ++l) {
    const auto list = static_cast<CodeList>(l);
    const std::span<const uint64_t> codes = PackedCodes(list);
    char code[6] = {};
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      for (int category = 0; category < 100; ++category) {
        for (const char high : std::string_view(kHalves)) {
          for (const char low : std::string_view(kHalves)) {
            code[0] = letter;
            code[1] = static_cast<char>('0' + category / 10);
            code[2] = static_cast<char>('0' + category % 10);
            code[3] = high;
            code[4] = low;
            const bool member = std::binary_search(codes.begin(), codes.end(), PackCode(code));
            members += member;
            if (InCodeList(list, code) != member && ++differing <= 5) {
              ADD_FAILURE() << "list " << l << " code " << code;
            }
          }
        }
      }
    }
  }
  // Codes outside that form ("OA641"): each member with one character changed.
  for (int l = 0; l <= static_cast<int>(CodeList::kS6b); ++l) {
    const auto list = static_cast<CodeList>(l);
    const std::span<const uint64_t> codes = PackedCodes(list);
    for (const uint64_t packed : codes) {
      for (int at = 0; at < 5; ++at) {
        for (int c = ' '; c <= 'Z'; ++c) {
          char code[6] = {};
          for (int k = 0; k < 5; ++k) code[k] = static_cast<char>((packed >> (8 * (4 - k))) & 0xFF);
          code[at] = static_cast<char>(c);
          const bool member = std::binary_search(codes.begin(), codes.end(), PackCode(code));
          if (InCodeList(list, code) != member && ++differing <= 5) {
            ADD_FAILURE() << "list " << l << " code " << code;
          }
        }
      }
      ++members;
    }
  }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(members, 29 + 41 + 110 + 77 + 104 + 41 + 63 + 51 + 181);
}

}  // namespace
}  // namespace tallow
