#include "app/line_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tallow::app {
namespace {

constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
constexpr uint64_t kLineEndWatchBytes = 64 * 1024;

}  // namespace

InputBlock::InputBlock(std::size_t bytes, std::size_t maxPieces) {
  text.resize(bytes);
  pieces.reserve(maxPieces);
}

int64_t InputBlock::LineOf(std::size_t i) const {
  int64_t line = firstLine;
  for (std::size_t k = 1; k <= i && k < pieces.size(); ++k) {
    if (!pieces[k].continuation) ++line;
  }
  return line;
}

BlockReader::BlockReader(int fd, const std::atomic<bool>* interrupted)
    : fd_(fd), interrupted_(interrupted) {}


BlockReader::BlockReader(std::FILE* stream) : stream_(stream), interrupted_(nullptr) {}

long BlockReader::ReadSome(char* buf, std::size_t capacity) {
  if (stream_ != nullptr) {
    const std::size_t n = std::fread(buf, 1, capacity, stream_);
    bytesRead_ += n;
    if (n == 0 && std::ferror(stream_)) {
      errorNumber_ = errno != 0 ? errno : EIO;
      return -1;
    }
    return static_cast<long>(n);
  }
  for (;;) {
    if (interrupted_ != nullptr && interrupted_->load(std::memory_order_relaxed)) return -2;
    const ssize_t n = ::read(fd_, buf, capacity);
    if (n >= 0) {
      bytesRead_ += static_cast<uint64_t>(n);
      return static_cast<long>(n);
    }
    if (errno == EINTR) continue;
    errorNumber_ = errno != 0 ? errno : EIO;
    return -1;
  }
}

void BlockReader::WatchLineEnds(const char* data, std::size_t n) {
  if (lineFeedSeen_ || watched_ >= kLineEndWatchBytes) return;
  const std::size_t look =
      static_cast<std::size_t>(std::min<uint64_t>(n, kLineEndWatchBytes - watched_));
  if (std::memchr(data, '\n', look) != nullptr) {
    lineFeedSeen_ = true;
    return;
  }
  carriageReturnSeen_ = carriageReturnSeen_ || std::memchr(data, '\r', look) != nullptr;
  watched_ += look;
}

BlockReader::Status BlockReader::Next(InputBlock& block) {
  const std::size_t capacity = block.text.size();
  char* const text = block.text.data();
  block.pieces.clear();
  block.byteOrderMark = false;
  block.firstBlock = atStart_;
  block.firstLine = lineNumber_ + (inLine_ ? 0 : 1);
  if (pending_.size() < capacity) pending_.resize(capacity);

  std::size_t size = pendingSize_;
  std::memcpy(text, pending_.data(), pendingSize_);
  pendingSize_ = 0;

  // Read until the buffer holds a line feed, is full, or the input ends.
  int failure = 0;  // -1 read error, -2 interrupted
  std::size_t scanned = 0;
  for (;;) {
    const bool needStart = atStart_ && size < sizeof kByteOrderMark;
    if (!needStart && std::memchr(text + scanned, '\n', size - scanned) != nullptr) break;
    scanned = size;
    if (eof_ || size == capacity) break;
    const long got = ReadSome(text + size, capacity - size);
    if (got < 0) {
      failure = static_cast<int>(got);
      break;
    }
    if (got == 0) {
      eof_ = true;
    } else {
      WatchLineEnds(text + size, static_cast<std::size_t>(got));
      size += static_cast<std::size_t>(got);
    }
    if (eof_ && !lineFeedSeen_ && carriageReturnSeen_) carriageReturnsOnly_ = true;
    if (!lineFeedSeen_ && carriageReturnSeen_ && watched_ >= kLineEndWatchBytes) {
      carriageReturnsOnly_ = true;
    }
  }

  std::size_t pos = 0;
  if (atStart_ && (size >= sizeof kByteOrderMark || eof_ || failure != 0)) {
    atStart_ = false;
    if (size >= sizeof kByteOrderMark && std::memcmp(text, kByteOrderMark, 3) == 0) {
      block.byteOrderMark = true;
      pos = sizeof kByteOrderMark;
    }
  }

  auto keep = [&](std::size_t from) {
    pendingSize_ = size - from;
    std::memcpy(pending_.data(), text + from, pendingSize_);
  };
  auto add = [&](std::size_t offset, std::size_t length, OutputEnding ending) {
    LinePiece piece;
    piece.offset = static_cast<uint32_t>(offset);
    piece.length = static_cast<uint32_t>(length);
    piece.ending = ending;
    piece.continuation = inLine_;
    if (!inLine_) ++lineNumber_;
    inLine_ = ending == OutputEnding::kMore;
    if (ending != OutputEnding::kMore) lastCrLf_ = ending == OutputEnding::kCrLf;
    block.pieces.push_back(piece);
  };

  const std::size_t maxPieces = block.pieces.capacity();
  while (pos < size && block.pieces.size() < maxPieces) {
    const char* lf = static_cast<const char*>(std::memchr(text + pos, '\n', size - pos));
    if (lf == nullptr) break;
    const auto end = static_cast<std::size_t>(lf - text);
    std::size_t length = end - pos;
    OutputEnding ending = OutputEnding::kLf;
    if (length > 0 && text[end - 1] == '\r') {
      --length;
      ending = OutputEnding::kCrLf;
    }
    if (length == 0 && !inLine_) {
      ++lineNumber_;
      endMarkLine_ = lineNumber_;
      keep(end + 1);
      block.size = size;
      block.inputEnd = bytesRead_ - pendingSize_;
      return Status::kEndMark;
    }
    add(pos, length, ending);
    pos = end + 1;
  }

  Status status = Status::kBlock;
  if (block.pieces.size() == maxPieces && pos < size) {
    keep(pos);  // the rest comes in the next block
  } else if (failure == -2) {
    status = Status::kInterrupted;
  } else if (failure == -1) {
    status = Status::kError;  // a line cut by the error is not passed on
  } else if (pos < size) {
    if (eof_) {
      LinePiece& last = (add(pos, size - pos, lastCrLf_ ? OutputEnding::kCrLf : OutputEnding::kLf),
                         block.pieces.back());
      last.endedInput = true;
      pos = size;
    } else if (pos > 0) {
      keep(pos);  // a line begun here fits the next block whole
    } else {
      // A line longer than the block: pass this piece on. A carriage return
      // at its end waits, in case a line feed follows it.
      std::size_t length = size;
      if (text[size - 1] == '\r') --length;
      keep(length);
      add(0, length, OutputEnding::kMore);
    }
  } else if (eof_) {
    if (inLine_) {
      // The input ended right after a piece of a long line: the line ends here.
      add(size, 0, lastCrLf_ ? OutputEnding::kCrLf : OutputEnding::kLf);
      block.pieces.back().endedInput = true;
    }
    status = Status::kEnd;
  }
  if (status == Status::kBlock && eof_ && pendingSize_ == 0) status = Status::kEnd;
  block.size = size;
  block.inputEnd = bytesRead_ - pendingSize_;
  return status;
}

BlockReader::Status BlockReader::CountLinesAfterEndMark(int64_t* nonEmpty) {
  *nonEmpty = 0;
  std::vector<char>& buffer = pending_;
  std::size_t size = pendingSize_;
  pendingSize_ = 0;
  uint64_t current = 0;  // bytes of the current line so far
  bool lastCr = false;
  for (;;) {
    std::size_t pos = 0;
    while (pos < size) {
      const char* lf = static_cast<const char*>(std::memchr(buffer.data() + pos, '\n', size - pos));
      const std::size_t end = lf == nullptr ? size : static_cast<std::size_t>(lf - buffer.data());
      if (end > pos) {
        current += end - pos;
        lastCr = buffer[end - 1] == '\r';
      }
      if (lf == nullptr) break;
      ++lineNumber_;
      if (current > (lastCr ? 1u : 0u)) ++*nonEmpty;
      current = 0;
      lastCr = false;
      pos = end + 1;
    }
    if (eof_) break;
    const long got = ReadSome(buffer.data(), buffer.size());
    if (got == -2) return Status::kInterrupted;
    if (got == -1) {
      ++lineNumber_;
      return Status::kError;
    }
    if (got == 0) eof_ = true;
    size = static_cast<std::size_t>(got);
  }
  if (current > 0) {
    ++lineNumber_;
    ++*nonEmpty;
  }
  return Status::kEnd;
}

}  // namespace tallow::app
