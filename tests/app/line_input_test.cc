#include "app/line_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tallow::app {
namespace {

struct ReadLine {
  std::string text;
  OutputEnding ending = OutputEnding::kLf;
  bool endedInput = false;
  bool operator==(const ReadLine&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ReadLine& l) {
  return os << '"' << l.text << "\" ending " << static_cast<int>(l.ending)
            << (l.endedInput ? " (end of input)" : "");
}

// A descriptor reading exactly these bytes from the start.
class Bytes {
 public:
  explicit Bytes(const std::string& bytes) : file_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::fflush(file_);
    ::lseek(fd(), 0, SEEK_SET);
  }
  ~Bytes() { std::fclose(file_); }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  int fd() const { return ::fileno(file_); }

 private:
  std::FILE* file_;
};

struct ReadResult {
  std::vector<ReadLine> lines;
  BlockReader::Status last = BlockReader::Status::kEnd;
  bool byteOrderMark = false;
  bool headsWhole = true;  // every line's first piece held min(length, block - 1) bytes
};

// Reads everything with blocks of `blockBytes` and at most `pieces` pieces,
// joining continuation pieces back into their lines.
ReadResult ReadAll(BlockReader& reader, std::size_t blockBytes, std::size_t pieces = 64) {
  ReadResult result;
  InputBlock block(blockBytes, pieces);
  std::vector<std::size_t> heads;
  for (;;) {
    const BlockReader::Status status = reader.Next(block);
    result.byteOrderMark = result.byteOrderMark || block.byteOrderMark;
    for (const LinePiece& p : block.pieces) {
      const std::string text(block.text.data() + p.offset, p.length);
      if (p.continuation) {
        EXPECT_FALSE(result.lines.empty());
        if (result.lines.empty()) break;
        result.lines.back().text += text;
      } else {
        result.lines.push_back({text});
        heads.push_back(p.length);
      }
      result.lines.back().ending = p.ending;
      result.lines.back().endedInput = p.endedInput;
    }
    if (status != BlockReader::Status::kBlock) {
      result.last = status;
      break;
    }
  }
  for (std::size_t i = 0; i < heads.size(); ++i) {
    const std::size_t whole = result.lines[i].text.size();
    if (heads[i] < std::min(whole, blockBytes - 1)) result.headsWhole = false;
  }
  return result;
}

ReadResult ReadAll(const std::string& bytes, std::size_t blockBytes, std::size_t pieces = 64) {
  Bytes in(bytes);
  BlockReader reader(in.fd());
  return ReadAll(reader, blockBytes, pieces);
}

std::string Pattern(std::size_t n) {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

constexpr OutputEnding kLf = OutputEnding::kLf;
constexpr OutputEnding kCrLf = OutputEnding::kCrLf;

TEST(BlockReaderTest, LineEndsAndDataBytes) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<ReadLine> lines;
  };
  const std::vector<Case> cases = {
      {"empty input", "", {}},
      {"lf", "ab\ncd\n", {{"ab", kLf}, {"cd", kLf}}},
      {"crlf", "ab\r\ncd\r\n", {{"ab", kCrLf}, {"cd", kCrLf}}},
      {"mixed endings", "ab\r\ncd\n", {{"ab", kCrLf}, {"cd", kLf}}},
      {"lone cr is data", "a\rb\n", {{"a\rb", kLf}}},
      {"cr before crlf", "ab\r\r\n", {{"ab\r", kCrLf}}},
      {"cr at end of input", "ab\r", {{"ab\r", kLf, true}}},
      {"last line without ending", "ab\ncd", {{"ab", kLf}, {"cd", kLf, true}}},
      {"last line after crlf lines gets crlf", "ab\r\ncd", {{"ab", kCrLf}, {"cd", kCrLf, true}}},
      {"ctrl-z and nul are data", std::string("a\x1a\0b\n", 5),
       {{std::string("a\x1a\0b", 4), kLf}}},
      {"byte-order mark only at the start", "\xEF\xBB\xBF" "ab\n\xEF\xBB\xBF\n",
       {{"ab", kLf}, {"\xEF\xBB\xBF", kLf}}},
      {"two bytes of a mark are data", "\xEF\xBB", {{"\xEF\xBB", kLf, true}}},
  };
  for (const std::size_t blockBytes : {std::size_t{8}, std::size_t{300}, kDefaultBlockBytes}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(blockBytes));
      const ReadResult got = ReadAll(c.input, blockBytes);
      EXPECT_EQ(got.lines, c.lines);
      EXPECT_EQ(got.last, BlockReader::Status::kEnd);
      EXPECT_EQ(got.byteOrderMark, c.input.rfind("\xEF\xBB\xBF", 0) == 0);
    }
  }
}

TEST(BlockReaderTest, LongLinesComeWholeAcrossBlocks) {
  const std::size_t block = 512;
  for (std::size_t n : {block - 2, block - 1, block, block + 1, 3 * block + 7}) {
    for (const char* ending : {"\n", "\r\n", ""}) {
      SCOPED_TRACE(std::to_string(n) + " characters, ending " + std::to_string(*ending));
      // A carriage return at every place a block could end, short lines between.
      const std::string line = Pattern(n);
      const std::string between = *ending == '\0' ? "\n" : ending;
      const std::string input = "x\n" + line + between + "y\n" + line + ending;
      const ReadResult got = ReadAll(input, block);
      const OutputEnding e = std::string(ending) == "\r\n" ? kCrLf : kLf;
      std::vector<ReadLine> expected = {{"x", kLf}, {line, e}, {"y", kLf}, {line, e}};
      if (*ending == '\0') expected.back().endedInput = true;
      EXPECT_EQ(got.lines, expected);
      EXPECT_TRUE(got.headsWhole);
    }
  }
  // A carriage return exactly at a block's end, before and not before a line feed.
  for (const std::string& tail : {std::string("\r\n"), std::string("\rz\n")}) {
    const std::string line = Pattern(block - 1);
    const ReadResult got = ReadAll(line + tail, block);
    ASSERT_EQ(got.lines.size(), 1u);
    EXPECT_EQ(got.lines[0].text, tail == "\r\n" ? line : line + "\rz");
    EXPECT_EQ(got.lines[0].ending, tail == "\r\n" ? kCrLf : kLf);
  }
}

TEST(BlockReaderTest, FullBlocksOfPiecesLoseNoLine) {
  std::string input;
  std::vector<ReadLine> expected;
  for (int i = 0; i < 50; ++i) {
    input += std::to_string(i) + "\n";
    expected.push_back({std::to_string(i), kLf});
  }
  EXPECT_EQ(ReadAll(input, 4096, 3).lines, expected);
}

TEST(BlockReaderTest, EmptyLineEndsTheInputAndTheRestIsCounted) {
  struct Case {
    std::string input;
    std::size_t before;   // lines handed out before the end mark
    int64_t markLine;
    int64_t nonEmpty;     // after it
  };
  const std::vector<Case> cases = {
      {"a\n\nb\n\r\nc", 1, 2, 2},
      {"\n", 0, 1, 0},
      {"a\r\n\r\n\r\n\n", 1, 2, 0},
      {"a\n\n\r", 1, 2, 1},  // a lone carriage return is data
      {"\xEF\xBB\xBF\nz\n", 0, 1, 1},
      {"a\n\n" + Pattern(2000) + "\n" + Pattern(700), 1, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    Bytes in(c.input);
    BlockReader reader(in.fd());
    const ReadResult got = ReadAll(reader, 256);
    EXPECT_EQ(got.last, BlockReader::Status::kEndMark);
    EXPECT_EQ(got.lines.size(), c.before);
    EXPECT_EQ(reader.endMarkLine(), c.markLine);
    int64_t nonEmpty = -1;
    EXPECT_EQ(reader.CountLinesAfterEndMark(&nonEmpty), BlockReader::Status::kEnd);
    EXPECT_EQ(nonEmpty, c.nonEmpty);
  }
}

TEST(BlockReaderTest, CarriageReturnsWithoutLineFeedsAreNoticed) {
  struct Case {
    const char* name;
    std::string input;
    bool noticed;
  };
  const std::vector<Case> cases = {
      {"classic mac file", "a\rb\rc\r", true},
      {"unix file", "a\nb\n", false},
      {"a carriage return inside a line", "a\rb\n", false},
      {"no line end at all", "abc", false},
      {"line feed only after 64 KiB", std::string(70000, '\r') + "\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes in(c.input);
    BlockReader reader(in.fd());
    ReadAll(reader, kDefaultBlockBytes);
    EXPECT_EQ(reader.carriageReturnsOnly(), c.noticed);
  }
}

TEST(BlockReaderTest, ReadErrorEndsReadingInsteadOfLooping) {
  // Reading a directory fails on this platform without reaching end of file.
  std::FILE* f = std::fopen("/", "rb");
  ASSERT_NE(f, nullptr);
  BlockReader reader(::fileno(f));
  InputBlock block(1024, 8);
  EXPECT_EQ(reader.Next(block), BlockReader::Status::kError);
  EXPECT_TRUE(block.pieces.empty());
  EXPECT_NE(reader.errorNumber(), 0);
  std::fclose(f);
}

TEST(BlockReaderTest, RaisedFlagStopsReading) {
  Bytes in("a\nb\n");
  std::atomic<bool> interrupted{true};
  BlockReader reader(in.fd(), &interrupted);
  InputBlock block(1024, 8);
  EXPECT_EQ(reader.Next(block), BlockReader::Status::kInterrupted);
}

}  // namespace
}  // namespace tallow::app
