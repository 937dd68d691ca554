// Reading the text tables line by line.
//
// A text table is read as its bytes with every carriage return that stands
// directly before a line feed dropped; a lone carriage return, a Ctrl-Z and
// every other byte are data. Each read takes at most `maxChars` characters,
// the line feed included (a CR LF pair counts as the one line feed): a line
// longer than that is consumed in pieces, and the remainder of such a line
// counts as the next line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tallow {

struct TextLine {
  std::string_view text;         ///< the characters of the line, without CR LF / LF
  bool endedByLineFeed = false;  ///< the read stopped at a line feed
  bool hitEnd = false;           ///< the read ran out of bytes before a line feed or the limit
  /// No line feed ends it and no byte follows it: the last line of an
  /// unterminated file, also when the length limit cut it exactly there.
  bool lastWithoutLineFeed = false;
};

class TextLineReader {
 public:
  static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

  // `maxChars` counts the line feed: 18 reads lines of up to 17 characters
  // whole. It must be at least 1.
  explicit TextLineReader(std::string_view bytes, std::size_t maxChars = kUnbounded)
      : bytes_(bytes), maxChars_(maxChars == 0 ? 1 : maxChars) {}

  // Reads the next line (or piece of a line). Returns false, and leaves
  // `line` untouched, when no byte is left.
  bool Next(TextLine* line);

  // Number of lines read so far; the line just read has this 1-based number.
  int lineNumber() const { return lineNumber_; }

 private:
  std::string_view bytes_;
  std::size_t maxChars_;
  std::size_t offset_ = 0;
  int lineNumber_ = 0;
};

// Column `column` (1-based) of a line; a column past the end reads as `pad`.
inline char ColumnOf(std::string_view line, int column, char pad = ' ') {
  const auto index = static_cast<std::size_t>(column - 1);
  return index < line.size() ? line[index] : pad;
}

// Copies columns first .. first + n - 1 (1-based) of a line into `out`,
// columns past the end as blanks.
inline void CopyColumns(std::string_view line, int first, int n, char* out) {
  for (int i = 0; i < n; ++i) out[i] = ColumnOf(line, first + i);
}

}  // namespace tallow
