#include "toolkit/independent_generator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <set>

namespace tallow::testing {
namespace {

// xorshift64*: the same seed gives the same set everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1DULL;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  void Shuffle(std::vector<T>& v) {
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[static_cast<std::size_t>(Below(static_cast<int>(i)))]);
  }

 private:
  uint64_t s_;
};

void Put16Big(std::string& f, std::size_t at, int v) {
  f[at] = static_cast<char>((v >> 8) & 0xFF);
  f[at + 1] = static_cast<char>(v & 0xFF);
}
void Put16Little(std::string& f, std::size_t at, int v) {
  f[at] = static_cast<char>(v & 0xFF);
  f[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32Little(std::string& f, std::size_t at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
void RandomBytes(Random& rng, std::string& f, std::size_t at, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) f[at + i] = static_cast<char>(rng.Below(256));
}
std::string Digits(int v, int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", n, v);
  return buffer;
}

// The code of a category (0..2599) and a tail whose halves are digits or 15.
std::string Code(int category, int tail) {
  std::string code(5, ' ');
  code[0] = static_cast<char>('A' + category / 100);
  code[1] = static_cast<char>('0' + category / 10 % 10);
  code[2] = static_cast<char>('0' + category % 10);
  const int hi = tail >> 4;
  const int lo = tail & 15;
  code[3] = hi == 15 ? ' ' : static_cast<char>('0' + hi);
  code[4] = lo == 15 ? ' ' : static_cast<char>('0' + lo);
  return code;
}

struct Indexed {
  std::string bytes;
  std::vector<std::string> codes;  // the codes of the placed entries, in table order
};

// DXTAB (entryBytes 5, count up to 127) or SGTAB8/9 (3, up to 255): 2600
// category records of 3 bytes (count, start big-endian), the entries, the
// class records.
Indexed MakeIndexed(Random& rng, int entries, int classes, int entryBytes, int classBytes,
                    bool diagnosis) {
  Indexed t;
  const std::size_t entryOffset = 7800;
  const std::size_t classOffset = entryOffset + static_cast<std::size_t>(entries * entryBytes);
  t.bytes.assign(classOffset + static_cast<std::size_t>(classes * classBytes), '\0');
  RandomBytes(rng, t.bytes, classOffset, static_cast<std::size_t>(classes * classBytes));

  std::vector<int> categories(2600);
  std::iota(categories.begin(), categories.end(), 0);
  rng.Shuffle(categories);
  std::vector<bool> used(static_cast<std::size_t>(entries), false);
  struct Run {
    int category, start, count;
  };
  std::vector<Run> runs;
  int cursor = rng.Between(0, 4);
  std::size_t next = 0;
  for (; next < categories.size(); ++next) {
    const int c = categories[next];
    // Diagnosis tails: 4th and 5th digit, 4th digit alone, the category
    // itself (255, last); a category of 127 entries now and then.
    std::vector<int> tails;
    for (int hi = 0; hi < 10; ++hi) {
      for (int lo = 0; lo < 10; ++lo) {
        if (rng.Chance(3)) tails.push_back(hi * 16 + lo);
      }
      if (rng.Chance(diagnosis ? 20 : 5)) tails.push_back(hi * 16 + 15);
    }
    if (rng.Chance(10)) tails.push_back(0xAB);  // spelt by no code
    if (diagnosis && rng.Chance(40)) tails.push_back(255);
    if (tails.empty()) tails.push_back(diagnosis ? 255 : rng.Between(0, 9) * 16 + rng.Between(0, 9));
    std::sort(tails.begin(), tails.end());
    // A male/female pair: the same tail twice.
    if (diagnosis && rng.Chance(15)) {
      const int first = tails.front();
      tails.push_back(first);
      std::sort(tails.begin(), tails.end());
    }
    const int limit = diagnosis ? 127 : 255;
    if (static_cast<int>(tails.size()) > limit) tails.resize(static_cast<std::size_t>(limit));
    const int count = static_cast<int>(tails.size());
    if (cursor + count > entries) break;
    runs.push_back({c, cursor, count});
    for (int k = 0; k < count; ++k) {
      const std::size_t e = entryOffset + static_cast<std::size_t>((cursor + k) * entryBytes);
      t.bytes[e] = static_cast<char>(tails[static_cast<std::size_t>(k)]);
      Put16Big(t.bytes, e + 1, rng.Between(1, classes));
      if (diagnosis) Put16Big(t.bytes, e + 3, rng.Chance(50) ? rng.Between(0, 1551) : 0);
      used[static_cast<std::size_t>(cursor + k)] = true;
      if (tails[static_cast<std::size_t>(k)] != 0xAB) t.codes.push_back(Code(c, tails[static_cast<std::size_t>(k)]));
    }
    cursor += count + (rng.Chance(30) ? rng.Between(1, 3) : 0);
    if (cursor >= entries - 130 && rng.Chance(50)) break;
  }
  for (const Run& run : runs) {
    t.bytes[3 * static_cast<std::size_t>(run.category)] = static_cast<char>(run.count);
    Put16Big(t.bytes, 3 * static_cast<std::size_t>(run.category) + 1, run.start);
  }
  // A category of its own over another one's entries.
  if (next + 1 < categories.size() && !runs.empty()) {
    const Run& shared = runs[static_cast<std::size_t>(rng.Below(static_cast<int>(runs.size())))];
    const int c = categories[++next];
    t.bytes[3 * static_cast<std::size_t>(c)] = static_cast<char>(shared.count);
    Put16Big(t.bytes, 3 * static_cast<std::size_t>(c) + 1, shared.start);
  }
  // Empty categories that still carry a start.
  for (int k = 0; k < 20 && ++next < categories.size(); ++k) {
    Put16Big(t.bytes, 3 * static_cast<std::size_t>(categories[next]) + 1, rng.Between(-32768, 32767));
  }
  // Positions of no category: zero, or filled.
  for (int e = 0; e < entries; ++e) {
    if (!used[static_cast<std::size_t>(e)] && rng.Chance(40)) {
      RandomBytes(rng, t.bytes, entryOffset + static_cast<std::size_t>(e * entryBytes),
                  static_cast<std::size_t>(entryBytes));
    }
  }
  // Table order of the codes: by category.
  std::sort(t.codes.begin(), t.codes.end());
  return t;
}

// SGTAB0: 1608 codes of 5 bytes, then valid-from, valid-to (32-bit little
// endian), then 26-byte classes.
std::string MakeDated(Random& rng, std::vector<std::string>* codes) {
  constexpr int kRows = 1608;
  std::string f(static_cast<std::size_t>(kRows) * (5 + 4 + 4 + 26), '\0');
  int row = 0;
  while (row < kRows) {
    std::string code = std::string(1, static_cast<char>('A' + rng.Below(26))) + Digits(rng.Below(10000), 4);
    const int spans = std::min(rng.Between(1, 3), kRows - row);
    int from = 20020101;
    for (int s = 0; s < spans; ++s, ++row) {
      std::memcpy(f.data() + 5 * row, code.data(), 5);
      const int to = s + 1 == spans ? 99991231 : from + 10000 * rng.Between(0, 1) + rng.Between(0, 1130);
      Put32Little(f, 5 * kRows + 4 * static_cast<std::size_t>(row), from);
      Put32Little(f, 9 * kRows + 4 * static_cast<std::size_t>(row), to);
      from = to + 1;
    }
    codes->push_back(code);
  }
  RandomBytes(rng, f, 13 * kRows, 26 * kRows);
  return f;
}

// DGTAB (r 531) / DGTAB0 (539): 30 index records (start big-endian, count),
// then 46-byte rules: key, 42 requirement bytes, digit, number big-endian.
std::string MakeRules(Random& rng, int r) {
  std::string f(90 + 46 * static_cast<std::size_t>(r), '\0');
  std::vector<bool> used(static_cast<std::size_t>(r) + 1, false);
  std::vector<int> mdcs(30);
  std::iota(mdcs.begin(), mdcs.end(), 1);
  rng.Shuffle(mdcs);
  int cursor = rng.Between(1, 5);
  int sharedStart = 0;
  int sharedCount = 0;
  for (int m : mdcs) {
    const int count = rng.Chance(10) ? 0 : rng.Between(1, 25);
    if (count == 0 || cursor + count - 1 > r) {
      Put16Big(f, 3 * static_cast<std::size_t>(m - 1), rng.Chance(50) ? rng.Between(-32768, 32767) : 0);
      continue;
    }
    if (m == mdcs.back() && sharedCount > 0) {  // the last MDC shares a run
      Put16Big(f, 3 * static_cast<std::size_t>(m - 1), sharedStart);
      f[3 * static_cast<std::size_t>(m - 1) + 2] = static_cast<char>(sharedCount);
      continue;
    }
    Put16Big(f, 3 * static_cast<std::size_t>(m - 1), cursor);
    f[3 * static_cast<std::size_t>(m - 1) + 2] = static_cast<char>(count);
    for (int k = 0; k < count; ++k) {
      const std::size_t at = 90 + 46 * static_cast<std::size_t>(cursor + k - 1);
      f[at] = static_cast<char>(rng.Chance(80) ? 0 : rng.Between(1, 40));
      for (int b = 0; b < 3; ++b) f[at + 1 + static_cast<std::size_t>(rng.Below(42))] = static_cast<char>(1 << rng.Below(8));
      f[at + 43] = static_cast<char>(rng.Chance(95) ? rng.Below(10) : rng.Between(10, 255));
      Put16Big(f, at + 44, rng.Between(1, 477));
      used[static_cast<std::size_t>(cursor + k)] = true;
    }
    sharedStart = cursor;
    sharedCount = count;
    cursor += count + (rng.Chance(40) ? rng.Between(1, 4) : 0);
  }
  for (int k = 1; k <= r; ++k) {
    if (!used[static_cast<std::size_t>(k)] && rng.Chance(50)) RandomBytes(rng, f, 90 + 46 * static_cast<std::size_t>(k - 1), 46);
  }
  return f;
}

// One exclusion list: ascending items, a two-byte item (value high byte
// first, bit 7 clear) or a three-byte range item (bit 7 set, length byte).
std::string MakeList(Random& rng, int items) {
  std::string list;
  int value = rng.Between(0, 200);
  for (int k = 0; k < items; ++k) {
    if (rng.Chance(30)) {
      const int length = rng.Between(0, 9);
      list += static_cast<char>(0x80 | (value >> 8));
      list += static_cast<char>(value & 0xFF);
      list += static_cast<char>(length);
      value += length;
    } else {
      list += static_cast<char>(value >> 8);
      list += static_cast<char>(value & 0xFF);
    }
    value += rng.Between(1, 300);
    if (value > 32000) break;
  }
  return list;
}

// Items of a list as made by MakeList (it may stop early).
int ItemsOf(const std::string& list) {
  int items = 0;
  for (std::size_t p = 0; p < list.size(); ++items) p += (static_cast<unsigned char>(list[p]) & 0x80) ? 3 : 2;
  return items;
}

// CCTAB (rows of 6 bytes: keyFirst big-endian, span, offset big-endian,
// length) or CCTAB0/1 (keys, lengths, offsets little-endian in three
// sections); then the list area.
std::string MakeCc(Random& rng, bool ranged, int rows, int area) {
  const std::size_t rowBytes = ranged ? 6 : 5;
  const std::size_t areaOffset = rowBytes * static_cast<std::size_t>(rows);
  std::string f(areaOffset + static_cast<std::size_t>(area), '\0');
  std::vector<bool> used(static_cast<std::size_t>(area), false);
  int key = rng.Between(0, 3);
  int cursor = 0;
  int lastOffset = 0;
  int lastItems = 0;
  for (int i = 0; i < rows; ++i) {
    const int span = ranged ? rng.Between(0, 3) : 0;
    int offset = 0;
    int items = 0;
    const int wanted = rng.Chance(25) ? 0 : rng.Between(1, 3);
    if (wanted > 0 && lastItems > 0 && rng.Chance(5)) {  // shares the list before
      offset = lastOffset;
      items = lastItems;
    } else if (wanted > 0 && cursor + 9 * 3 < area) {
      const std::string list = MakeList(rng, wanted);
      offset = cursor;
      items = ItemsOf(list);
      std::memcpy(f.data() + areaOffset + static_cast<std::size_t>(offset), list.data(), list.size());
      for (std::size_t k = 0; k < list.size(); ++k) used[static_cast<std::size_t>(offset) + k] = true;
      cursor += static_cast<int>(list.size()) + (rng.Chance(20) ? rng.Between(1, 3) : 0);
      lastOffset = offset;
      lastItems = items;
    } else {
      offset = rng.Chance(30) ? rng.Between(-32768, 32767) : cursor;  // empty: never read
    }
    const auto row = static_cast<std::size_t>(i);
    if (ranged) {
      Put16Big(f, 6 * row, key);
      f[6 * row + 2] = static_cast<char>(span);
      Put16Big(f, 6 * row + 3, offset);
      f[6 * row + 5] = static_cast<char>(items);
    } else {
      Put16Little(f, 2 * row, key);
      f[2 * static_cast<std::size_t>(rows) + row] = static_cast<char>(items);
      Put16Little(f, 3 * static_cast<std::size_t>(rows) + 2 * row, offset);
    }
    key += span + rng.Between(1, 5);
    if (key > 32000) key = 32000;
  }
  for (int p = 0; p < area; ++p) {
    if (!used[static_cast<std::size_t>(p)] && rng.Chance(30)) f[areaOffset + static_cast<std::size_t>(p)] = static_cast<char>(rng.Between(1, 255));
  }
  return f;
}

std::string JoinLines(const std::vector<std::string>& lines, const char* end, bool lastEnded = true) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i];
    if (lastEnded || i + 1 < lines.size()) out += end;
  }
  return out;
}

// RDRGCC: code 1-5, sex 6, any 7, status 8, any 9, DRG 10-13, any 14, row
// 15-17; ascending codes, at most two lines a code.
std::string MakeRefinedCc(Random& rng, int lines, const std::vector<std::string>& codes, bool crlf,
                          int surplus) {
  std::vector<std::string> chosen;
  for (const std::string& c : codes) {
    if (rng.Chance(30)) chosen.push_back(c);
  }
  while (static_cast<int>(chosen.size()) < lines) chosen.push_back("Z99" + Digits(static_cast<int>(chosen.size()) % 100, 2));
  std::sort(chosen.begin(), chosen.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; static_cast<int>(out.size()) < lines; ++i) {
    const std::string& code = chosen[i % chosen.size()];
    const int copies = (rng.Chance(10) && static_cast<int>(out.size()) + 2 <= lines) ? 2 : 1;
    for (int k = 0; k < copies; ++k) {
      std::string line = code;
      line += static_cast<char>('0' + rng.Below(3));
      line += rng.Chance(5) ? "|" : " ";
      line += static_cast<char>('0' + rng.Below(2));
      line += " ";
      line += Digits(rng.Between(1, 4770), 4);
      line += rng.Chance(5) ? "x" : " ";
      const int row = rng.Between(1, 62);
      line += rng.Chance(10) ? " " + Digits(row, 2) : Digits(row, 3);  // blank-padded row
      out.push_back(line);
    }
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return a.compare(0, 5, b, 0, 5) < 0; });
  for (int k = 0; k < surplus; ++k) out.push_back("SURPLUS LINE " + std::to_string(k));
  return JoinLines(out, crlf ? "\r\n" : "\n");
}

// RDRGDRG: DRG 1-4, any 5, refined 6-9, age mark 10, column 11-12 (blanks
// or 00 for none), any 13-16, type 17; a line may end after column 12.
std::string MakeRefinedDrg(Random& rng, int surplus) {
  std::vector<std::string> out;
  for (int i = 0; i < 485; ++i) {
    const int drg = (i % 40 == 39) ? std::stoi(out[static_cast<std::size_t>(i - 5)].substr(0, 4))  // a repeated DRG
                                   : rng.Between(1, 4770);
    std::string line = Digits(drg, 4) + (rng.Chance(5) ? "-" : " ") + Digits(rng.Between(1, 4770), 4);
    line += rng.Chance(20) ? "1" : " ";
    const int column = rng.Between(0, 86);
    line += rng.Chance(5) ? "  " : Digits(column, 2);
    if (rng.Chance(15)) {
      if (rng.Chance(50)) line += "   ";  // ends inside the unread columns
    } else {
      line += rng.Chance(10) ? "abcd" : "    ";
      line += rng.Chance(50) ? 'M' : 'S';
    }
    out.push_back(line);
  }
  for (int k = 0; k < surplus; ++k) out.push_back(Digits(k + 1, 4) + " 0001 01    M");
  return JoinLines(out, "\n");
}

// RDRGCL: 62 rows of up to 86 level characters; here one row of 100
// characters, which the loader reads as two rows.
std::string MakeLevels(Random& rng, bool longRow) {
  std::vector<std::string> out;
  int rows = 0;
  while (rows < 62) {
    std::string line;
    const int length = (longRow && rows == 10) ? 100 : rng.Chance(10) ? 0 : rng.Between(1, 86);
    for (int c = 0; c < length; ++c) line += rng.Chance(3) ? ' ' : static_cast<char>('0' + rng.Below(5));
    rows += length >= 87 ? 2 : 1;
    out.push_back(line);
  }
  if (!longRow) out.push_back("0123 unread");  // a line past the rows
  return JoinLines(out, rng.Chance(50) ? "\r\n" : "\n");
}

// RDRGNEO: letter, two digits, fourth and fifth character, mark; in the
// order of the diagnosis table.
std::string MakeNeonate(Random& rng, const std::vector<std::string>& codes, bool lastEnded) {
  std::vector<std::string> out;
  for (const std::string& c : codes) {
    if (rng.Chance(10)) out.push_back(c + static_cast<char>('1' + rng.Below(4)));
  }
  // Codes sort by category, then by tail with a blank (15) above every digit
  // and the three-character code last: as the table orders them.
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    auto key = [](const std::string& s) {
      std::string k = s.substr(0, 5);
      for (std::size_t i = 3; i < 5; ++i) {
        if (k[i] == ' ') k[i] = ':';
      }
      return k;
    };
    return key(a) < key(b);
  });
  out.erase(std::unique(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return a.compare(0, 5, b, 0, 5) == 0; }),
            out.end());
  return JoinLines(out, "\n", lastEnded);
}

}  // namespace

IndependentSet MakeIndependentSet(uint64_t seed) {
  Random rng(seed);
  IndependentSet set;
  static const char* const kEditions[4] = {"8", "9", "0", "1"};
  static const int kEntries[4] = {9210, 9420, 12310, 12311};
  static const int kCcLines[4] = {1969, 2007, 2420, 2421};
  std::vector<std::string> dxCodes[4];
  for (int e = 0; e < 4; ++e) {
    Indexed dx = MakeIndexed(rng, kEntries[e], 383, 5, 8, true);
    if (rng.Chance(30)) dx.bytes += "surplus";
    set.files[std::string("DXTAB") + kEditions[e]] = dx.bytes;
    dxCodes[e] = dx.codes;
  }
  std::vector<std::string> pxCodes;
  const int kProcedureEntries[2] = {828, 816};
  const int kProcedureClasses[2] = {337, 339};
  for (int e = 0; e < 2; ++e) {
    Indexed px = MakeIndexed(rng, kProcedureEntries[e], kProcedureClasses[e], 3, 26, false);
    set.files[std::string("SGTAB") + kEditions[e]] = px.bytes;
    if (e == 1) pxCodes = px.codes;
  }
  std::vector<std::string> datedCodes;
  set.files["SGTAB0"] = MakeDated(rng, &datedCodes);
  set.files["DGTAB"] = MakeRules(rng, 531);
  set.files["DGTAB0"] = MakeRules(rng, 539) + std::string(3, '\xFF');
  for (int e = 0; e < 4; ++e) {
    set.files[std::string("RDRGCC") + kEditions[e]] =
        MakeRefinedCc(rng, kCcLines[e], dxCodes[e], e == 2, e == 1 ? 3 : 0);
    set.files[std::string("RDRGNEO") + kEditions[e]] = MakeNeonate(rng, dxCodes[e], e != 3);
  }
  set.files["CCTAB0"] = MakeCc(rng, false, 2390, 17232);
  set.files["CCTAB1"] = MakeCc(rng, false, 2391, 17258);
  set.files["CCTAB"] = MakeCc(rng, true, 1552, 7436);
  set.files["RDRGDRG"] = MakeRefinedDrg(rng, rng.Below(3));
  set.files["RDRGCL"] = MakeLevels(rng, seed % 2 == 1);

  static const char* const kDates[] = {"19980615", "19990715", "20010115", "20020615", "20030615", "20050101"};
  for (int i = 0; i < 12; ++i) {
    const int e = i % 6 < 1 ? 0 : i % 6 < 3 ? 1 : i % 6 < 4 ? 2 : 3;
    std::string line(188, ' ');
    std::memcpy(line.data(), ("C" + Digits(i, 7)).data(), 8);
    std::memcpy(line.data() + 8, i % 2 ? "6503151" : "0506014", 7);
    std::memcpy(line.data() + 21, kDates[i % 6], 8);
    std::memcpy(line.data() + 29, " 12", 3);
    line[32] = '1';
    const std::vector<std::string>& dx = dxCodes[e];
    for (int k = 0; k < 1 + i % 4; ++k) {
      std::memcpy(line.data() + 33 + 5 * k, dx[static_cast<std::size_t>(rng.Below(static_cast<int>(dx.size())))].data(), 5);
    }
    const std::vector<std::string>& px = e < 2 ? pxCodes : datedCodes;
    for (int k = 0; k < i % 3; ++k) {
      std::memcpy(line.data() + 83 + 5 * k, px[static_cast<std::size_t>(rng.Below(static_cast<int>(px.size())))].data(), 5);
    }
    set.caseLines.push_back(line);
  }
  return set;
}

}  // namespace tallow::testing
