// Packed codes and dates order and compare exactly as the byte comparisons
// they replace: memcmp over five (or eight) bytes, and strncmp over five for
// the NUL-ending form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tables/codes.h"

namespace tallow {
namespace {

int Sign(long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }
int Order(uint64_t a, uint64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Every five-byte text over bytes that matter to the orders: NUL, a control
// byte, blank, digits, letters, the sign bit and the top byte.
std::vector<std::string> Texts() {
  const unsigned char alphabet[] = {0, 1, ' ', '0', '9', 'A', 0x7F, 0x80, 0xFF};
  std::vector<std::string> out;
  std::string t(5, '\0');
  for (int x = 0; x < 9 * 9 * 9 * 9 * 9; ++x) {
    for (int i = 0, v = x; i < 5; ++i, v /= 9) t[static_cast<std::size_t>(i)] = static_cast<char>(alphabet[v % 9]);
    out.push_back(t);
  }
  return out;
}

TEST(PackedCodesTest, OrderAndEqualityAreThoseOfTheByteComparisons) {
  const std::vector<std::string> texts = Texts();
  int checked = 0;
  // Each text against a spread of others (all pairs would be 3.5e9).
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::size_t j = i % 13; j < texts.size(); j += 211) {
      const char* a = texts[i].data();
      const char* b = texts[j].data();
      ASSERT_EQ(Order(PackCode(a), PackCode(b)), Sign(std::memcmp(a, b, 5))) << i << " " << j;
      ASSERT_EQ(Order(PackCodeToNul(a), PackCodeToNul(b)), Sign(std::strncmp(a, b, 5)))
          << i << " " << j;
      ++checked;
    }
  }
  EXPECT_GT(checked, 250000);
}

TEST(PackedCodesTest, CompileTimeAndRunTimePackingAgree) {
  static constexpr char kCode[] = "Q29\0" "5";
  constexpr uint64_t atCompileTime = PackCode(kCode);
  constexpr uint64_t toNulAtCompileTime = PackCodeToNul(kCode);
  const char* code = kCode;
  EXPECT_EQ(PackCode(code), atCompileTime);
  EXPECT_EQ(PackCodeToNul(code), toNulAtCompileTime);
  EXPECT_EQ(toNulAtCompileTime, PackCodeToNul("Q29\0\0"));
  EXPECT_EQ(PackDate("20020101"), 0x3230303230313031ULL);
}

TEST(PackedCodesTest, DatesCompareAsTheirBytes) {
  const char* const dates[] = {"        ", "19980401", "19991231", "20020101", "2002010 ",
                               "2O020101", "\xff" "0020101", "00000000", "20050801"};
  for (const char* a : dates) {
    for (const char* b : dates) {
      EXPECT_EQ(DateBefore(a, b), std::memcmp(a, b, 8) < 0) << a << " " << b;
    }
  }
}

}  // namespace
}  // namespace tallow
