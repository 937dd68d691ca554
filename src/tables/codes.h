// Five-character codes and fixed-width numbers, shared by the tables, the
// grouper and the case line.
//
// A code is five characters compared over exactly five characters: a capital
// letter, two digits and two characters that are each a digit or a blank
// ("O800 ", "Z33  ", "Q2950"). Its category index is
// (letter - 'A') * 100 + the two digits (0 to 2599); its tail packs the last
// two characters into one byte, high four bits the fourth character, low four
// bits the fifth, each as its digit or 15 for a blank (three-character codes
// have the tail 255).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace tallow {

inline constexpr int kCategorySlots = 2600;
inline constexpr int kCodeLength = 5;
inline constexpr char kBlankCode[] = "     ";

struct DecodedCode {
  int category = -1;  // 0..2599
  int tail = -1;      // 0..255
};

// Decodes a code as the lookups do. Returns false for a malformed code:
// position 0 not 'A'..'Z', positions 1-2 not digits, positions 3-4 neither a
// digit nor a blank. With strictTail (the diagnosis rule) a code whose fourth
// character is blank while its fifth is a digit is malformed too.
inline bool DecodeCode(const char* code, bool strictTail, DecodedCode* out) {
  const unsigned char c0 = static_cast<unsigned char>(code[0]);
  if (c0 < 'A' || c0 > 'Z') return false;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(code[1]) || !digit(code[2])) return false;
  auto half = [&](char c) -> int {
    if (digit(c)) return c - '0';
    if (c == ' ') return 15;
    return -1;
  };
  const int h = half(code[3]);
  const int l = half(code[4]);
  if (h < 0 || l < 0) return false;
  if (strictTail && h == 15 && l != 15) return false;
  out->category = (c0 - 'A') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  out->tail = h * 16 + l;
  return true;
}

// The five characters of the code of a category index and a tail; tail
// halves of 15 become blanks, other halves above 9 become '?'.
inline std::string CodeText(int category, int tail) {
  std::string s(5, ' ');
  s[0] = static_cast<char>('A' + category / 100);
  s[1] = static_cast<char>('0' + (category / 10) % 10);
  s[2] = static_cast<char>('0' + category % 10);
  auto half = [](int v) { return v == 15 ? ' ' : (v <= 9 ? static_cast<char>('0' + v) : '?'); };
  s[3] = half((tail >> 4) & 0xF);
  s[4] = half(tail & 0xF);
  return s;
}

// The five characters of a code as one number, the first character in the
// highest of five bytes. Numbers order like the characters compared as
// unsigned bytes (memcmp), and are equal exactly when the codes are.
constexpr uint64_t PackCode(const char* code) {
  if (std::is_constant_evaluated()) {
    uint64_t v = 0;
    for (int i = 0; i < kCodeLength; ++i) v = (v << 8) | static_cast<unsigned char>(code[i]);
    return v;
  }
  uint32_t head = 0;  // the first four characters in one load
  std::memcpy(&head, code, sizeof head);
  if constexpr (std::endian::native == std::endian::little) head = __builtin_bswap32(head);
  return (static_cast<uint64_t>(head) << 8) | static_cast<unsigned char>(code[4]);
}

inline constexpr uint64_t kPackedBlankCode = PackCode("     ");
inline constexpr uint64_t kPackedZeroCode = PackCode("00000");

// True when the five characters are five blanks or "00000" (a blank code).
inline bool IsBlankCode(const char* code) {
  const uint64_t v = PackCode(code);
  return v == kPackedBlankCode || v == kPackedZeroCode;
}

// PackCode of the code as far as its first NUL, the rest as NULs: two keys
// are equal exactly when strncmp over five characters finds the codes equal,
// and order as strncmp orders them.
constexpr uint64_t PackCodeToNul(const char* code) {
  if (!std::is_constant_evaluated()) {
    // No NUL among the five bytes: the plain packing.
    const uint64_t packed = PackCode(code);
    constexpr uint64_t kOnes = 0x0101010101;
    constexpr uint64_t kHighs = 0x8080808080;
    if (((packed - kOnes) & ~packed & kHighs) == 0) return packed;
  }
  uint64_t v = 0;
  bool ended = false;
  for (int i = 0; i < kCodeLength; ++i) {
    ended = ended || code[i] == '\0';
    v = (v << 8) | (ended ? 0u : static_cast<unsigned char>(code[i]));
  }
  return v;
}

// The decimal value of n characters: blanks are skipped, digits accumulate,
// any other character (a letter, a NUL) gives -1. "  5", "5  " give 5; three
// blanks give 0; "1 2" gives 12.
inline int ParseDigits(const char* text, int n) {
  int value = 0;
  for (int i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == ' ') continue;
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Writes the last n decimal digits of a non-negative value with leading
// zeros; no terminator. 7 in 2 gives "07"; 1234567 in 6 gives "234567".
inline void FormatDigits(long value, char* dest, int n) {
  int i = n - 1;
  if (value >= 0) {
    // Two digits at a time from a table of 00..99.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    for (; i >= 1; i -= 2) {
      const long pair = value % 100;
      value /= 100;
      dest[i - 1] = kPairs[2 * pair];
      dest[i] = kPairs[2 * pair + 1];
    }
  }
  for (; i >= 0; --i) {
    dest[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// The first eight characters of a date as one number, the first character
// in the highest byte: numbers order like the texts compared as unsigned
// bytes.
constexpr uint64_t PackDate(const char* date) {
  if (std::is_constant_evaluated()) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<unsigned char>(date[i]);
    return v;
  }
  uint64_t v = 0;
  std::memcpy(&v, date, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// Compares the first eight characters of a case date with a limit
// ("20020101") byte by byte as unsigned characters; true when the date is
// below the limit. Dates are texts; a blank date is below every limit.
inline bool DateBefore(const char* caseDate, const char* limit) {
  return PackDate(caseDate) < PackDate(limit);
}

}  // namespace tallow
