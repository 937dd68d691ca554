#include "tables/text_lines.h"

namespace tallow {

bool TextLineReader::Next(TextLine* line) {
  if (offset_ >= bytes_.size()) return false;
  const std::size_t start = offset_;
  std::size_t end = start;  // one past the last character of the line
  std::size_t next = 0;     // where the following read starts
  TextLine result;
  for (std::size_t taken = 0;; ++taken, ++end) {
    // The limit ends the read without looking at the next character.
    if (taken == maxChars_ || end == bytes_.size()) {
      result.hitEnd = taken != maxChars_;
      next = end;
      break;
    }
    if (bytes_[end] == '\n') {
      result.endedByLineFeed = true;
      next = end + 1;
      break;
    }
    if (bytes_[end] == '\r' && end + 1 < bytes_.size() && bytes_[end + 1] == '\n') {
      result.endedByLineFeed = true;
      next = end + 2;
      break;
    }
  }
  result.text = bytes_.substr(start, end - start);
  result.lastWithoutLineFeed = !result.endedByLineFeed && next == bytes_.size();
  offset_ = next;
  ++lineNumber_;
  *line = result;
  return true;
}

}  // namespace tallow
