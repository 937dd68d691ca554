#include "app/batch.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

#include "app/case_line.h"
#include "app/interrupt.h"
#include "app/line_input.h"
#include "app/output_file.h"
#include "app/platform.h"
#include "app/summary.h"
#include "engine/explain.h"
#include "engine/grouper.h"
#include "tables/identity.h"
#include "tables/loader.h"

namespace tallow::app {
namespace {

// The batch decides and finalises every case.
constexpr int kGroupFlags = GroupFlagDecide | GroupFlagFinalise;
// Per-line messages of one kind: the first ones are shown, the rest counted.
constexpr int kMessageCap = 20;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr int kUngroupableMdc = 24;

std::string DisplayName(const std::string& path, const char* standardName) {
  return path == "-" ? std::string(standardName) : path;
}

const char* RefusalText(int result) {
  switch (result) {
    case -2:
      return "the tables are not loaded";
    case -1:
      return "code preparation failed";
    default:
      return "the grouper returned an unknown result";
  }
}

std::string Plural(int64_t n, const char* one, const char* many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

// Line numbers (and a position in the line) of one kind of per-line note:
// the first kMessageCap are kept, all are counted.
struct NoteList {
  struct Note {
    int64_t line = 0;
    int64_t position = 0;
  };
  std::array<Note, kMessageCap> first{};
  int64_t count = 0;

  void Add(int64_t line, int64_t position) {
    if (count < kMessageCap) first[static_cast<std::size_t>(count)] = {line, position};
    ++count;
  }
  int64_t shown() const { return std::min<int64_t>(count, kMessageCap); }
  void Merge(const NoteList& other) {
    const int64_t before = count;
    for (int64_t i = 0; i < other.shown(); ++i) Add(other.first[i].line, other.first[i].position);
    count = before + other.count;
  }
};

// One block on its way through the run: the lines read, the bytes to write
// and what grouping them found.
struct BlockWork {
  BlockWork(std::size_t bytes, std::size_t pieces) : input(bytes, pieces) {
    // Room for the results of every line, so that the buffer does not grow
    // while cases are grouped.
    out.reserve(bytes * 3);
  }
  BlockWork(const BlockWork&) = delete;
  BlockWork& operator=(const BlockWork&) = delete;

  void Reset() {
    out.clear();
    counts = RunCounts{};
    shortLines.count = 0;
    nulLines.count = 0;
    continuationNul = false;
    lastNulLine = 0;
    lastLine = 0;
    refusedLine = 0;
    refusedResult = 0;
  }

  InputBlock input;
  BlockReader::Status readStatus = BlockReader::Status::kBlock;
  uint64_t sequence = 0;
  fmt::memory_buffer out;
  RunCounts counts;
  NoteList shortLines;
  NoteList nulLines;
  bool continuationNul = false;  ///< the block's first piece continues a line and holds a NUL
  int64_t lastNulLine = 0;
  int64_t lastLine = 0;  ///< the last line handled in the block, 0 when none
  int64_t refusedLine = 0;
  int refusedResult = 0;
};

void AppendEnding(fmt::memory_buffer& out, OutputEnding ending) {
  if (ending == OutputEnding::kLf) {
    out.push_back('\n');
  } else if (ending == OutputEnding::kCrLf) {
    out.append(std::string_view("\r\n"));
  }
}

// Appends N bytes, a size known at the call, copied in place rather than by
// a library call (the block's buffer has room for its results already).
template <std::size_t N>
void AppendBytes(fmt::memory_buffer& out, const char* from) {
  const std::size_t at = out.size();
  out.resize(at + N);
  std::memcpy(out.data() + at, from, N);
}

bool IsSpecial8MM000(int32_t code) { return code >= 800000 && code < 900000 && code % 1000 == 0; }

// Groups the lines of blocks: one Grouper, one line buffer and one request,
// bound to each other once.
class Worker {
 public:
  Worker(const std::shared_ptr<const TableSet>& tables, const BatchOptions& options)
      : grouper_(std::make_unique<Grouper>(tables)), line_(std::make_unique<CaseLine>()),
        options_(options) {
    BindRequest(request_, *line_);
    grouper_->BindCodes(&request_);
    grouper_->SetCaseFields(line_->data() + kCaseIdentifierPos, line_->data() + kCaseDatePos,
                            line_->data() + kSurgeryModifiersPos);
    if (options.why) grouper_->SetTrace(&reasons_);
  }
  // The grouper holds the address of request_.
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Process(BlockWork& work) {
    work.Reset();
    const InputBlock& in = work.input;
    const bool lines = options_.format == OutputFormat::kLines;
    const RecordFormat format =
        options_.format == OutputFormat::kCsv ? RecordFormat::kCsv : RecordFormat::kJsonl;
    fmt::memory_buffer& out = work.out;
    if (in.byteOrderMark && lines) out.append(std::string_view(kByteOrderMark));
    if (in.firstBlock && options_.format == OutputFormat::kCsv) {
      AppendCsvHeader(out, options_.why, options_.flags);
    }

    // The first NUL of the block at or after nulFrom (blockEnd when none):
    // one search serves every line up to the NUL it finds.
    const char* const blockEnd = in.text.data() + std::min(in.size, in.text.size());
    const char* nulFrom = blockEnd;
    const char* nextNul = blockEnd;
    auto nulIn = [&](const char* text, std::size_t length) -> const void* {
      if (text + length > blockEnd) return std::memchr(text, '\0', length);
      if (text < nulFrom || nextNul < text) {
        nulFrom = text;
        const void* found = std::memchr(text, '\0', static_cast<std::size_t>(blockEnd - text));
        nextNul = found != nullptr ? static_cast<const char*>(found) : blockEnd;
      }
      return nextNul < text + length ? nextNul : nullptr;
    };

    int64_t line = in.firstLine - 1;
    for (std::size_t i = 0; i < in.pieces.size(); ++i) {
      const LinePiece& piece = in.pieces[i];
      const char* text = in.text.data() + piece.offset;
      const std::size_t length = piece.length;
      const void* nul = nulIn(text, length);
      if (piece.continuation) {
        line = in.firstLine;  // only a block's first piece continues a line
        if (nul != nullptr) work.continuationNul = true;
        if (lines) {
          out.append(text, text + length);
          AppendEnding(out, piece.ending);
        }
        work.lastLine = line;
        continue;
      }
      ++line;
      if (nul != nullptr) {
        work.nulLines.Add(line, static_cast<const char*>(nul) - text);
        work.lastNulLine = line;
      }
      CaseRecord record;
      record.line = line;
      record.withFlags = options_.flags;
      if (length < static_cast<std::size_t>(kGroupedLineMinimum) && !options_.pad) {
        work.shortLines.Add(line, static_cast<int64_t>(length));
        ++work.counts.withoutResults;
        if (lines) {
          out.append(text, text + length);
          AppendEnding(out, piece.ending);
        } else {
          const ShortLineError error(length);
          record.fields = text;
          record.length = length;
          record.error = error.text();
          AppendRecord(out, format, record, options_.why);
        }
        work.lastLine = line;
        continue;
      }

      line_->Assign(text, length, options_.pad);
      if (options_.why) reasons_.Clear();
      const char* fields = line_->data();
      record.fields = fields;
      record.length = static_cast<std::size_t>(kResultsEnd);
      // GroupCase chooses the table edition from the case date itself.
      PrepareRequest(request_, *line_);
      const int result = grouper_->GroupCase(request_, kGroupFlags);
      if (result != 0) {
        if (!lines) {
          record.error = RefusalText(result);
          AppendRecord(out, format, record, options_.why);
        }
        work.refusedLine = line;
        work.refusedResult = result;
        return;
      }
      StoreResults(request_, kGroupFlags, *line_);
      StoreLevels(grouper_->state().diagnosisLevels.data(), *line_);

      RunCounts& c = work.counts;
      ++c.grouped;
      ++c.byEdition[static_cast<std::size_t>(grouper_->state().active.edition)];
      if (request_.mdc == kUngroupableMdc) ++c.ungroupable;
      if (request_.groupCode == 0) ++c.groupCodeZero;
      if (request_.groupCode == 470000) ++c.groupCode470000;
      if (IsSpecial8MM000(request_.groupCode)) ++c.groupCode8MM000;

      if (lines) {
        AppendBytes<kResultsEnd>(out, fields);
        if (length > static_cast<std::size_t>(kResultsEnd)) {
          out.append(text + kResultsEnd, text + length);
        }
        AppendEnding(out, piece.ending);
      } else {
        std::string reason;
        if (options_.why) reason = reasons_.Reason(request_.mdc, request_.groupCode);
        if (options_.flags) {
          record.flags = DataFlagsOf(fields, grouper_->state());
          for (int f = 0; f < kDataFlagCount; ++f) {
            if (record.flags & (1u << f)) ++c.flags[static_cast<std::size_t>(f)];
          }
        }
        record.request = &request_;
        record.levels = grouper_->state().diagnosisLevels.data();
        record.reason = reason;
        AppendRecord(out, format, record, options_.why);
      }
      work.lastLine = line;
    }
  }

 private:
  std::unique_ptr<Grouper> grouper_;
  std::unique_ptr<CaseLine> line_;
  GroupRequest request_;
  ReasonTrace reasons_;  ///< attached with --why
  const BatchOptions& options_;
};

// The progress line: percent of the input read and cases per second,
// redrawn at most four times a second.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // A null stream or a total of 0 or less draws nothing.
  Progress(std::FILE* err, int64_t totalBytes)
      : err_(totalBytes > 0 ? err : nullptr), total_(totalBytes), start_(Clock::now()),
        last_(start_) {}

  void Tick(uint64_t bytesRead, int64_t cases) {
    if (err_ == nullptr) return;
    const Clock::time_point now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double percent = 100.0 * static_cast<double>(bytesRead) / static_cast<double>(total_);
    std::fprintf(err_, "\r%5.1f%%  %lld cases  %.0f cases/s", percent,
                 static_cast<long long>(cases),
                 seconds > 0 ? static_cast<double>(cases) / seconds : 0.0);
    std::fflush(err_);
    drawn_ = true;
  }

  void Finish() {
    if (drawn_) {
      std::fputs("\r\x1b[K", err_);
      std::fflush(err_);
      drawn_ = false;
    }
  }

 private:
  std::FILE* err_;
  int64_t total_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool drawn_ = false;
};

// Takes the grouped blocks in input order: writes them and adds up what
// they found. Stops at the first refused case or write error.
class Merger {
 public:
  Merger(OutputFile& out, Progress& progress) : out_(out), progress_(progress) {}

  // False when the run must stop after this block.
  bool Take(const BlockWork& w) {
    if (w.out.size() > 0 && !out_.Write(w.out.data(), w.out.size())) {
      writeFailed = true;
      writeError = out_.errorNumber();
      writeLine = w.input.firstLine;
      return false;
    }
    const RunCounts& c = w.counts;
    counts.grouped += c.grouped;
    counts.withoutResults += c.withoutResults;
    counts.ungroupable += c.ungroupable;
    counts.groupCodeZero += c.groupCodeZero;
    counts.groupCode470000 += c.groupCode470000;
    counts.groupCode8MM000 += c.groupCode8MM000;
    for (std::size_t e = 0; e < counts.byEdition.size(); ++e) counts.byEdition[e] += c.byEdition[e];
    for (std::size_t f = 0; f < counts.flags.size(); ++f) counts.flags[f] += c.flags[f];
    shortLines.Merge(w.shortLines);
    // A long line is counted once however many of its pieces hold a NUL.
    if (w.continuationNul && lastNulLine != w.input.firstLine) {
      nulLines.Add(w.input.firstLine, -1);
      lastNulLine = w.input.firstLine;
    }
    nulLines.Merge(w.nulLines);
    if (w.nulLines.count > 0) lastNulLine = w.lastNulLine;
    if (w.lastLine > 0) counts.lines = w.lastLine;
    if (w.refusedLine != 0) {
      refusedLine = w.refusedLine;
      refusedResult = w.refusedResult;
      counts.lines = w.refusedLine;
      return false;
    }
    progress_.Tick(w.input.inputEnd, counts.lines);
    return true;
  }

  RunCounts counts;
  NoteList shortLines;
  NoteList nulLines;
  int64_t lastNulLine = 0;
  bool writeFailed = false;
  int writeError = 0;
  int64_t writeLine = 0;
  int64_t refusedLine = 0;
  int refusedResult = 0;

 private:
  OutputFile& out_;
  Progress& progress_;
};

// How the reading ended.
struct ReadEnd {
  BlockReader::Status status = BlockReader::Status::kEnd;
  int64_t line = 0;  ///< the line of a read error or an interrupt
};

// A block holds at least the 214 characters a case needs, so the first
// piece of every line holds its input and result fields.
constexpr std::size_t kMinimumBlockBytes = 512;

std::size_t BlockBytes(const BatchOptions& options) {
  if (options.blockBytes == 0) return kDefaultBlockBytes;
  return std::max(options.blockBytes, kMinimumBlockBytes);
}

ReadEnd RunOneWorker(const std::shared_ptr<const TableSet>& tables, BlockReader& reader,
                     Merger& merger, const BatchOptions& options) {
  BlockWork work(BlockBytes(options), kDefaultBlockPieces);
  Worker worker(tables, options);
  for (;;) {
    const BlockReader::Status status = reader.Next(work.input);
    worker.Process(work);
    if (!merger.Take(work)) return {BlockReader::Status::kEnd, 0};
    if (status != BlockReader::Status::kBlock) return {status, reader.lineNumber() + 1};
  }
}

// Blocks go round: free -> read (this thread) -> grouped (workers) -> written
// in order -> free. The worker that groups the block next in order writes it,
// and every grouped block after it, while the others go on grouping: no
// thread of its own waits to write, and no block waits for one to wake. The
// pool is fixed, so memory does not grow with the input; at most `pool`
// blocks are on their way, so block `sequence` has a slot of its own among
// them.
class Pipeline {
 public:
  Pipeline(const std::shared_ptr<const TableSet>& tables, const BatchOptions& options,
           int workers) {
    // One block per worker, one being read and two being written.
    const std::size_t pool = static_cast<std::size_t>(workers + 3);
    for (std::size_t i = 0; i < pool; ++i) {
      blocks_.push_back(std::make_unique<BlockWork>(BlockBytes(options), kDefaultBlockPieces));
      free_.push_back(blocks_.back().get());
    }
    queue_.assign(pool, nullptr);
    done_.assign(pool, nullptr);
    for (int i = 0; i < workers; ++i) workers_.push_back(std::make_unique<Worker>(tables, options));
  }

  ReadEnd Run(BlockReader& reader, Merger& merger, const std::atomic<bool>* interrupted) {
    std::vector<std::thread> threads;
    {
      // Signals go to this thread, the reader, whose reads they cut short.
      sigset_t all, previous;
      sigfillset(&all);
      pthread_sigmask(SIG_BLOCK, &all, &previous);
      for (auto& worker : workers_) {
        threads.emplace_back([this, &worker, &merger] { WorkLoop(*worker, merger); });
      }
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    ReadEnd end;
    uint64_t sequence = 0;
    for (;;) {
      BlockWork* w = TakeFree(interrupted);
      if (w == nullptr) {
        end = {interrupted != nullptr && interrupted->load() ? BlockReader::Status::kInterrupted
                                                              : BlockReader::Status::kEnd,
               reader.lineNumber() + 1};
        break;
      }
      const BlockReader::Status status = reader.Next(w->input);
      w->readStatus = status;
      w->sequence = sequence++;
      Push(w);
      if (status != BlockReader::Status::kBlock) {
        end = {status, reader.lineNumber() + 1};
        break;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    queueCv_.notify_all();
    if (end.status == BlockReader::Status::kInterrupted) stop_.store(true);
    for (std::thread& t : threads) t.join();
    return end;
  }

 private:
  BlockWork* TakeFree(const std::atomic<bool>* interrupted) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stop_.load() || (interrupted != nullptr && interrupted->load())) return nullptr;
      if (!free_.empty()) {
        BlockWork* w = free_.back();
        free_.pop_back();
        return w;
      }
      freeCv_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }

  void Push(BlockWork* w) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_[(queueHead_ + queueSize_) % queue_.size()] = w;
      ++queueSize_;
    }
    queueCv_.notify_one();
  }

  void WorkLoop(Worker& worker, Merger& merger) {
    for (;;) {
      BlockWork* w = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queueCv_.wait(lock, [this] { return queueSize_ > 0 || closed_; });
        if (queueSize_ == 0) return;
        w = queue_[queueHead_];
        queueHead_ = (queueHead_ + 1) % queue_.size();
        --queueSize_;
      }
      if (!stop_.load()) worker.Process(*w);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[w->sequence % done_.size()] = w;
        if (writing_) continue;  // the worker writing takes this block in its turn
        writing_ = true;
      }
      WriteInOrder(merger);
    }
  }

  // Writes the grouped blocks from the next in order while they are there;
  // one worker at a time (writing_).
  void WriteInOrder(Merger& merger) {
    for (;;) {
      BlockWork* w = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t slot = nextWritten_ % done_.size();
        if (done_[slot] == nullptr) {
          writing_ = false;
          return;
        }
        w = done_[slot];
        done_[slot] = nullptr;
      }
      if (!stop_.load() && !merger.Take(*w)) stop_.store(true);
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++nextWritten_;
        free_.push_back(w);
        // The reader is woken for two blocks at a time (the last ones of a
        // run free every block, and a stopped run is seen by its timed wait).
        wake = free_.size() >= 2;
      }
      if (wake) freeCv_.notify_one();
    }
  }

  std::vector<std::unique_ptr<BlockWork>> blocks_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::mutex mutex_;
  std::condition_variable freeCv_, queueCv_;
  std::vector<BlockWork*> free_;
  std::vector<BlockWork*> queue_;  ///< a ring of blocks read, waiting for a worker
  std::size_t queueHead_ = 0;
  std::size_t queueSize_ = 0;
  std::vector<BlockWork*> done_;  ///< grouped blocks by sequence modulo the pool
  uint64_t nextWritten_ = 0;      ///< the sequence of the next block to write
  bool writing_ = false;          ///< a worker is writing blocks in order
  bool closed_ = false;
  std::atomic<bool> stop_{false};
};

std::string LineList(const NoteList& notes) {
  std::string text;
  for (int64_t i = 0; i < notes.shown(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(notes.first[static_cast<std::size_t>(i)].line);
  }
  if (notes.count > notes.shown()) text += ", ...";
  return text;
}

struct Streams {
  std::variant<int, std::FILE*> in;
  OutputFile* out = nullptr;
  std::string inName;
};

// What a run found besides its counts, for the exit status and the messages.
struct RunEnd {
  bool interrupted = false;
  int64_t interruptLine = 0;
  bool readFailed = false;
  int readError = 0;
  int64_t readLine = 0;
  bool writeFailed = false;
  int writeError = 0;
  int64_t writeLine = 0;
  int64_t refusedLine = 0;
  int refusedResult = 0;
};

int GroupLines(const std::shared_ptr<const TableSet>& tables, const Streams& streams,
               const BatchOptions& options, const InterruptWatch* watch, RunCounts* countsOut,
               RunEnd* endOut) {
  std::FILE* err = options.err;
  const int inFd = std::holds_alternative<int>(streams.in) ? std::get<int>(streams.in) : -1;
  BlockReader reader = inFd >= 0 ? BlockReader(inFd, watch != nullptr ? watch->flag() : nullptr)
                                 : BlockReader(std::get<std::FILE*>(streams.in));
  const bool showProgress = options.progress && IsTerminal(err);
  struct stat info {};
  const int64_t inputSize =
      showProgress && inFd >= 0 && ::fstat(inFd, &info) == 0 && S_ISREG(info.st_mode)
          ? info.st_size
          : 0;
  Progress progress(showProgress ? err : nullptr, inputSize);
  Merger merger(*streams.out, progress);

  const int workers = WorkerCount(options.jobs);
  ReadEnd end;
  if (workers <= 1) {
    end = RunOneWorker(tables, reader, merger, options);
  } else {
    Pipeline pipeline(tables, options, workers);
    end = pipeline.Run(reader, merger, watch != nullptr ? watch->flag() : nullptr);
  }
  progress.Finish();

  RunEnd runEnd;
  RunCounts& counts = merger.counts;
  counts.nulLines = merger.nulLines.count;
  const bool stopped = merger.writeFailed || merger.refusedLine != 0;
  if (end.status == BlockReader::Status::kInterrupted && !stopped) {
    runEnd.interrupted = true;
    runEnd.interruptLine = counts.lines + 1;
  } else if (end.status == BlockReader::Status::kError && !stopped) {
    runEnd.readFailed = true;
    runEnd.readError = reader.errorNumber();
    runEnd.readLine = end.line;
  } else if (end.status == BlockReader::Status::kEndMark && !stopped) {
    counts.endMarkLine = reader.endMarkLine();
    const BlockReader::Status rest = reader.CountLinesAfterEndMark(&counts.linesAfterEndMark);
    if (rest == BlockReader::Status::kInterrupted) {
      runEnd.interrupted = true;
      runEnd.interruptLine = reader.lineNumber() + 1;
    } else if (rest == BlockReader::Status::kError) {
      runEnd.readFailed = true;
      runEnd.readError = reader.errorNumber();
      runEnd.readLine = reader.lineNumber();
    }
  }
  if (watch != nullptr && watch->interrupted() && !runEnd.interrupted) {
    // A signal that came after the last read still stops the run.
    runEnd.interrupted = true;
    runEnd.interruptLine = counts.lines + 1;
  }
  runEnd.writeFailed = merger.writeFailed;
  runEnd.writeError = merger.writeError;
  runEnd.writeLine = merger.writeLine;
  runEnd.refusedLine = merger.refusedLine;
  runEnd.refusedResult = merger.refusedResult;

  // Messages, the most useful first.
  if (reader.carriageReturnsOnly()) {
    std::fprintf(err,
                 "tallow: %s has carriage returns but no line feed in its first 64 KiB: it is "
                 "read as one line (convert its line ends to LF or CRLF)\n",
                 streams.inName.c_str());
  }
  if (runEnd.refusedLine != 0) {
    std::fprintf(err,
                 "tallow: %s line %lld: the grouper refused the case (%d: %s); the batch "
                 "stops, %s written before it\n",
                 streams.inName.c_str(), static_cast<long long>(runEnd.refusedLine),
                 runEnd.refusedResult, RefusalText(runEnd.refusedResult),
                 Plural(runEnd.refusedLine - 1, "line", "lines").c_str());
  }
  if (runEnd.readFailed) {
    std::fprintf(err, "tallow: read error in %s at line %lld: %s\n", streams.inName.c_str(),
                 static_cast<long long>(runEnd.readLine), std::strerror(runEnd.readError));
  }
  if (runEnd.writeFailed) {
    std::fprintf(err, "tallow: write error on %s at line %lld: %s\n",
                 streams.out->displayName().c_str(), static_cast<long long>(runEnd.writeLine),
                 std::strerror(runEnd.writeError != 0 ? runEnd.writeError : EIO));
  }
  const NoteList& shortLines = merger.shortLines;
  if (shortLines.count > 0) {
    std::fprintf(err,
                 "tallow: %s shorter than %d characters %s written without results "
                 "(line%s %s); --pad groups them padded with blanks\n",
                 Plural(shortLines.count, "line", "lines").c_str(), kGroupedLineMinimum,
                 shortLines.count == 1 ? "was" : "were", shortLines.count == 1 ? "" : "s",
                 LineList(shortLines).c_str());
  }
  const NoteList& nulLines = merger.nulLines;
  for (int64_t i = 0; i < nulLines.shown(); ++i) {
    const NoteList::Note& note = nulLines.first[static_cast<std::size_t>(i)];
    if (note.position >= 0) {
      std::fprintf(err,
                   "tallow: %s line %lld: a NUL byte at position %lld; the line is grouped as "
                   "read and written whole\n",
                   streams.inName.c_str(), static_cast<long long>(note.line),
                   static_cast<long long>(note.position));
    } else {
      std::fprintf(err,
                   "tallow: %s line %lld: a NUL byte after position %zu; the line is written "
                   "whole\n",
                   streams.inName.c_str(), static_cast<long long>(note.line),
                   BlockBytes(options) - 1);
    }
  }
  if (nulLines.count > nulLines.shown()) {
    std::fprintf(err, "tallow: ... and %s with NUL bytes\n",
                 Plural(nulLines.count - nulLines.shown(), "more line", "more lines").c_str());
  }
  if (counts.linesAfterEndMark > 0) {
    std::fprintf(err,
                 "tallow: %s line %lld is empty and ends the input; %s after it %s not "
                 "grouped\n",
                 streams.inName.c_str(), static_cast<long long>(counts.endMarkLine),
                 Plural(counts.linesAfterEndMark, "non-empty line", "non-empty lines").c_str(),
                 counts.linesAfterEndMark == 1 ? "was" : "were");
  }

  if (countsOut != nullptr) *countsOut = counts;
  if (endOut != nullptr) *endOut = runEnd;
  if (runEnd.interrupted) return watch != nullptr && watch->exitStatus() != 0 ? watch->exitStatus()
                                                                              : kExitInterrupted;
  if (runEnd.writeFailed) return kExitWrite;
  if (runEnd.readFailed) return kExitRead;
  if (runEnd.refusedLine != 0) return kExitGrouping;
  if (counts.linesAfterEndMark > 0) return kExitUngrouped;
  if (counts.withoutResults > 0 || counts.nulLines > 0) return kExitWithoutResults;
  return kExitOk;
}

std::string AbsoluteDirectory(const std::string& directory) {
  char resolved[PATH_MAX];
  const std::string path = directory.empty() ? "." : directory;
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

}  // namespace

int WorkerCount(int jobs) {
  if (jobs > 0) return jobs;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

int GroupStream(const std::shared_ptr<const TableSet>& tables, std::FILE* in, std::FILE* out,
                const BatchOptions& options, RunCounts* counts) {
  OutputFile output;
  output.Attach(out, DisplayName(options.outputPath, "standard output"));
  const Streams streams{in, &output, DisplayName(options.inputPath, "standard input")};
  return GroupLines(tables, streams, options, nullptr, counts, nullptr);
}

int OpenRun(const RunPaths& paths, std::FILE* err, bool classicMessages, bool wantDigest,
            OpenedRun* run) {
  run->inName = DisplayName(paths.inputPath, "standard input");
  // The input must exist before anything is opened or created.
  if (paths.inputPath == "-") {
    run->inFd = STDIN_FILENO;
  } else {
    if (!DirectoryEntryExists("", paths.inputPath)) {
      if (classicMessages) {
        ShowMessage(err, "input file 오류", "tallow.in파일을 찾을 수 없읍니다");
        std::fprintf(err,
                     "tallow: there is no tallow.in in %s; put the case file there, or name it "
                     "with tallow group --in FILE\n",
                     AbsoluteDirectory("").c_str());
      } else {
        std::fprintf(err, "tallow: input file %s not found\n", paths.inputPath.c_str());
      }
      return kExitInput;
    }
    run->inFd = ::open(paths.inputPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int openError = errno;
    run->ownsInput = run->inFd >= 0;
    struct stat info {};
    const bool isDirectory =
        run->inFd >= 0 && ::fstat(run->inFd, &info) == 0 && S_ISDIR(info.st_mode);
    if (run->inFd < 0 || isDirectory) {
      std::fprintf(err, "tallow: cannot open %s: %s\n", paths.inputPath.c_str(),
                   std::strerror(run->inFd < 0 ? openError : EISDIR));
      return kExitInput;
    }
  }

  if (paths.outputPath != "-") {
    // Writing over the input would lose it; it is refused, not replaced.
    if (IsSameRegularFile(run->inFd, paths.outputPath)) {
      std::fprintf(err, "tallow: %s is the input file; it is not overwritten\n",
                   paths.outputPath.c_str());
      return kExitOutput;
    }
  }
  std::string openError;
  if (!run->output.Open(paths.outputPath, &openError)) {
    std::fprintf(err, "tallow: %s\n", openError.c_str());
    return kExitOutput;
  }

  run->tablesName = paths.tablesDirectory.empty() ? "." : paths.tablesDirectory;
  struct stat tablesInfo {};
  if (::stat(run->tablesName.c_str(), &tablesInfo) != 0 || !S_ISDIR(tablesInfo.st_mode)) {
    if (classicMessages) ShowMessage(err, "환경 오류", "초기화 실패");
    std::fprintf(err,
                 "tallow: the table directory %s does not exist or is not a directory; name the "
                 "directory of the 22 table files with --tables DIR; %s was left as it was\n",
                 run->tablesName.c_str(), run->output.displayName().c_str());
    return kExitTables;
  }
  Result<std::shared_ptr<const TableSet>> tables =
      LoadTablesWithDigest(paths.tablesDirectory, wantDigest ? &run->digest : nullptr);
  if (!tables.ok()) {
    if (classicMessages) ShowMessage(err, "환경 오류", "초기화 실패");
    std::fprintf(err,
                 "tallow: the tables in %s failed to load: %s; %s was left as it was "
                 "(tallow tables check %s says what is wrong)\n",
                 run->tablesName.c_str(), tables.message().c_str(),
                 run->output.displayName().c_str(), run->tablesName.c_str());
    return kExitTables;
  }
  run->tables = *tables;
  return kExitOk;
}

OpenedRun::~OpenedRun() {
  if (ownsInput && inFd >= 0) ::close(inFd);
}

int RunBatch(const BatchOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* err = options.err;
  InterruptWatch watch;
  const bool wantSummary = options.summary == SummaryMode::kAlways ||
                           (options.summary == SummaryMode::kAuto && IsTerminal(err)) ||
                           !options.summaryJsonPath.empty();
  OpenedRun run;
  const RunPaths paths{options.tablesDirectory, options.inputPath, options.outputPath};
  if (const int status = OpenRun(paths, err, options.classicMessages, wantSummary, &run);
      status != kExitOk) {
    return status;
  }
  OutputFile& output = run.output;
  const std::string& digest = run.digest;
  const std::string& tablesName = run.tablesName;
  const std::shared_ptr<const TableSet> tables = run.tables;

  RunCounts counts;
  RunEnd end;
  const Streams streams{run.inFd, &output, run.inName};
  int status = GroupLines(tables, streams, options, &watch, &counts, &end);

  // A named file is replaced when the run ended as the batch defines it;
  // after a write error or an interrupt it stays as it was.
  const bool keep = status == kExitOk || status == kExitGrouping || status == kExitRead ||
                    status == kExitUngrouped || status == kExitWithoutResults;
  if (keep) {
    if (!output.Commit()) {
      std::fprintf(err, "tallow: write error on %s: %s\n", output.displayName().c_str(),
                   std::strerror(output.errorNumber() != 0 ? output.errorNumber() : EIO));
      status = kExitWrite;
    }
  } else {
    const bool replacing = output.replacing();
    output.Abandon();
    if (end.interrupted) {
      if (replacing) {
        std::fprintf(err, "tallow: interrupted at line %lld; %s left as it was\n",
                     static_cast<long long>(end.interruptLine), output.displayName().c_str());
      } else {
        std::fprintf(err, "tallow: interrupted at line %lld\n",
                     static_cast<long long>(end.interruptLine));
      }
    } else if (replacing) {
      std::fprintf(err, "tallow: %s left as it was\n", output.displayName().c_str());
    }
  }

  if (wantSummary) {
    RunSummary summary;
    summary.counts = counts;
    summary.tablesDigest = digest;
    summary.tablesDirectory = tablesName;
    summary.exitStatus = status;
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool printText = options.summary == SummaryMode::kAlways ||
                           (options.summary == SummaryMode::kAuto && IsTerminal(err));
    if (printText) PrintSummary(err, summary);
    if (!options.summaryJsonPath.empty()) {
      std::string error;
      if (!WriteSummaryJson(options.summaryJsonPath, summary, &error)) {
        std::fprintf(err, "tallow: %s\n", error.c_str());
        if (status == kExitOk || status == kExitWithoutResults || status == kExitUngrouped) {
          status = kExitWrite;
        }
      }
    }
  }
  return status;
}

}  // namespace tallow::app
