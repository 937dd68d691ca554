// Reading case files in blocks of lines.
//
// The reader takes the input in large reads and cuts it into lines where they
// stand in its buffer; nothing is copied per line. A line ends at "\n"; a
// carriage return right before it is not part of the line; a lone carriage
// return and every other byte (NUL and Ctrl-Z included) are data.
//
// A block holds whole lines, except for a line longer than the block: its
// first piece (the whole block, far more than the 214 characters a case
// needs) comes in one block and the rest follows in the next blocks as
// continuation pieces, so a line of any length passes in bounded memory.
//
// A UTF-8 byte-order mark at the start of the input is not part of the first
// line; the first block says it was there. An empty line is the end mark of
// the input: the block stops before it, and CountLinesAfterEndMark reads the
// rest to tell how many non-empty lines were left ungrouped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tallow::app {

// How an output line ends. A line that ends the input without a line feed is
// written with the ending of the line before it ("\n" when there is none).
enum class OutputEnding : uint8_t {
  kMore,  ///< the line goes on in the next piece
  kLf,    ///< "\n"
  kCrLf,  ///< "\r\n"
};

// One line, or one piece of a line longer than a block.
struct LinePiece {
  uint32_t offset = 0;  ///< into InputBlock::text
  uint32_t length = 0;  ///< without the line ending
  OutputEnding ending = OutputEnding::kLf;
  bool continuation = false;  ///< goes on with a line begun in an earlier piece
  bool endedInput = false;    ///< the input ended without a line feed after it
};

struct InputBlock {
  std::vector<char> text;         ///< capacity fixed when the block is made
  std::size_t size = 0;           ///< bytes of text in use
  std::vector<LinePiece> pieces;  ///< capacity fixed when the block is made
  int64_t firstLine = 0;          ///< number (from 1) of the line of pieces[0]
  uint64_t inputEnd = 0;          ///< bytes of input read up to the end of this block
  bool byteOrderMark = false;     ///< the input began with a UTF-8 byte-order mark
  bool firstBlock = false;        ///< the first block of the input

  InputBlock(std::size_t bytes, std::size_t maxPieces);
  InputBlock(const InputBlock&) = delete;
  InputBlock& operator=(const InputBlock&) = delete;
  // The line number of piece i.
  int64_t LineOf(std::size_t i) const;
};

class BlockReader {
 public:
  enum class Status : uint8_t {
    kBlock,        ///< the block holds pieces; more may follow
    kEnd,          ///< end of input (the block may hold the last pieces)
    kEndMark,      ///< an empty line ended the input (the block holds the lines before it)
    kError,        ///< a read error (the block holds the whole lines before it)
    kInterrupted,  ///< *interrupted became true while reading
  };

  // Reads `fd` (not closed here). `interrupted`, when given, is checked after
  // every read that a signal cut short and before every read.
  BlockReader(int fd, const std::atomic<bool>* interrupted = nullptr);
  // Reads a stdio stream instead (one that has no descriptor, such as a
  // memory stream).
  explicit BlockReader(std::FILE* stream);

  // Replaces the content of `block` with the next lines. Pieces are never
  // split below the block's capacity, so a line that fits a block comes
  // whole.
  Status Next(InputBlock& block);

  // After kEndMark: reads the rest of the input and counts its non-empty
  // lines. Returns kEnd, kError or kInterrupted.
  Status CountLinesAfterEndMark(int64_t* nonEmpty);

  int64_t lineNumber() const { return lineNumber_; }  ///< lines begun so far
  int64_t endMarkLine() const { return endMarkLine_; }
  int errorNumber() const { return errorNumber_; }
  uint64_t bytesRead() const { return bytesRead_; }
  // True once the first 64 KiB of input (or all of a shorter input) held a
  // carriage return and no line feed: such a file reads as one line.
  bool carriageReturnsOnly() const { return carriageReturnsOnly_; }

 private:
  // One read into buf[size..capacity): >0 bytes, 0 end of input, -1 error,
  // -2 interrupted.
  long ReadSome(char* buf, std::size_t capacity);
  void WatchLineEnds(const char* data, std::size_t n);

  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  const std::atomic<bool>* interrupted_;
  std::vector<char> pending_;  ///< bytes read but not yet cut into pieces
  std::size_t pendingSize_ = 0;
  bool eof_ = false;
  bool atStart_ = true;
  bool inLine_ = false;  ///< the next byte continues a line already begun
  bool lastCrLf_ = false;
  int64_t lineNumber_ = 0;
  int64_t endMarkLine_ = 0;
  int errorNumber_ = 0;
  uint64_t bytesRead_ = 0;
  // Line-end watch over the start of the input.
  uint64_t watched_ = 0;
  bool lineFeedSeen_ = false;
  bool carriageReturnSeen_ = false;
  bool carriageReturnsOnly_ = false;
};

inline constexpr std::size_t kDefaultBlockBytes = 256 * 1024;
inline constexpr std::size_t kDefaultBlockPieces = 8192;

}  // namespace tallow::app
