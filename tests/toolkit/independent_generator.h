// A second generator of table sets, written from the file formats alone and
// sharing nothing with the toolkit: it writes the bytes and lines of the
// twenty-two files itself. Its sets are valid (the loader takes them) but
// laid out the way a hand-made or foreign tool could lay them out:
//
//   - categories and MDCs stored out of order, with gaps between them, two
//     categories sharing one run of entries, empty categories with a start;
//   - entries, rules and list-area bytes that no index reaches, filled with
//     random bytes; tails that no code spells;
//   - male/female pairs, repeated codes, repeated RDRGDRG values;
//   - empty lists at offsets outside the area, lists shared by two keys;
//   - CR LF files, short and blank-padded text lines, a level row longer than
//     the loader reads as one line, lines and bytes past those the loader
//     reads, a last line without a line feed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tallow::testing {

struct IndependentSet {
  std::map<std::string, std::string> files;  ///< table name -> bytes
  // A few case lines (188 characters) whose codes the set holds, with dates
  // in every edition.
  std::vector<std::string> caseLines;
};

IndependentSet MakeIndependentSet(uint64_t seed);

}  // namespace tallow::testing
