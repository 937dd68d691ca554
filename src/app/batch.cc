#include "app/batch.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>

#include "app/case_line.h"
#include "app/platform.h"
#include "engine/grouper.h"
#include "tables/loader.h"

namespace tallow::app {
namespace {

// The batch decides and finalises every case.
constexpr int kGroupFlags = GroupFlagDecide | GroupFlagFinalise;
constexpr size_t kOutputBufferBytes = 1 << 16;

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

// A stream the batch opened itself is closed on every path; standard input
// and output are left open.
struct OwnedStream {
  std::FILE* stream = nullptr;
  bool owned = false;
  OwnedStream() = default;
  OwnedStream(const OwnedStream&) = delete;
  OwnedStream& operator=(const OwnedStream&) = delete;
  ~OwnedStream() {
    if (owned && stream != nullptr) std::fclose(stream);
  }
  // Flushes, and closes an owned stream; false when either reports an error.
  bool Finish() {
    bool good = std::fflush(stream) == 0 && !std::ferror(stream);
    if (owned) {
      good = std::fclose(stream) == 0 && good;
      stream = nullptr;
    }
    return good;
  }
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
    if (err_ == nullptr || cases % 64 != 0) return;
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
    }
  }

 private:
  std::FILE* err_;
  int64_t total_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool drawn_ = false;
};

struct Streams {
  std::FILE* in;
  std::FILE* out;
  std::string inName;
  std::string outName;
};

// After the empty line at `lineNumber`: reads the rest of the input and
// reports the non-empty lines that were left ungrouped.
int ReportLinesAfterEndMark(LineReader& reader, CaseLine& line, int64_t lineNumber,
                            const Streams& streams, const BatchOptions& options) {
  int64_t ungrouped = 0;
  int64_t current = lineNumber;
  for (;;) {
    const LineReader::Status status = reader.ReadCaseLine(line);
    if (status == LineReader::Status::kEnd) break;
    ++current;
    if (status == LineReader::Status::kError) {
      std::fprintf(options.err, "tallow: read error in %s at line %lld: %s\n",
                   streams.inName.c_str(), static_cast<long long>(current),
                   std::strerror(reader.errorNumber()));
      return kExitRead;
    }
    if (line.length() > 0) ++ungrouped;
  }
  if (ungrouped == 0) return kExitOk;
  std::fprintf(options.err,
               "tallow: %s line %lld is empty and ends the input; %lld non-empty line%s after it "
               "%s not grouped\n",
               streams.inName.c_str(), static_cast<long long>(lineNumber),
               static_cast<long long>(ungrouped), ungrouped == 1 ? "" : "s",
               ungrouped == 1 ? "was" : "were");
  return kExitUngrouped;
}

int ReportWriteError(const Streams& streams, const BatchOptions& options, int64_t lineNumber) {
  std::fprintf(options.err, "tallow: write error on %s at line %lld: %s\n",
               streams.outName.c_str(), static_cast<long long>(lineNumber),
               std::strerror(errno != 0 ? errno : EIO));
  return kExitWrite;
}

// The case loop: one line in memory at a time, nothing allocated per case.
int GroupLines(const std::shared_ptr<const TableSet>& tables, const Streams& streams,
               const BatchOptions& options) {
  const auto line = std::make_unique<CaseLine>();
  const auto grouper = std::make_unique<Grouper>(tables);
  GroupRequest request;
  BindRequest(request, *line);
  grouper->SetCaseFields(line->data() + kCaseIdentifierPos, line->data() + kCaseDatePos,
                         line->data() + kSurgeryModifiersPos);

  const bool jsonl = options.format == OutputFormat::kJsonl;
  fmt::memory_buffer json;
  LineReader reader(streams.in);
  const bool showProgress = options.progress && IsTerminal(options.err);
  Progress progress(showProgress ? options.err : nullptr,
                    showProgress ? RegularFileSize(streams.in) : 0);

  int64_t lineNumber = 0;
  for (;;) {
    const LineReader::Status status = reader.ReadCaseLine(*line);
    if (status == LineReader::Status::kEnd) break;
    ++lineNumber;
    if (status == LineReader::Status::kError) {
      progress.Finish();
      std::fprintf(options.err, "tallow: read error in %s at line %lld: %s\n",
                   streams.inName.c_str(), static_cast<long long>(lineNumber),
                   std::strerror(reader.errorNumber()));
      return kExitRead;
    }
    if (line->length() == 0) {
      progress.Finish();
      return ReportLinesAfterEndMark(reader, *line, lineNumber, streams, options);
    }

    grouper->SelectEdition(line->data() + kCaseDatePos);
    PrepareRequest(request, *line);
    grouper->mutableState().diagnosisLevels.fill('0');
    const int result = grouper->GroupCase(request, kGroupFlags);
    if (result != 0) {
      progress.Finish();
      if (jsonl) {
        json.clear();
        AppendJsonError(json, lineNumber, RefusalText(result));
        json.push_back('\n');
        if (std::fwrite(json.data(), 1, json.size(), streams.out) != json.size()) {
          return ReportWriteError(streams, options, lineNumber);
        }
      }
      std::fprintf(options.err,
                   "tallow: %s line %lld: the grouper refused the case (%d: %s); the batch "
                   "stops, %lld line%s written before it\n",
                   streams.inName.c_str(), static_cast<long long>(lineNumber), result,
                   RefusalText(result), static_cast<long long>(lineNumber - 1),
                   lineNumber - 1 == 1 ? "" : "s");
      return kExitGrouping;
    }
    StoreResults(request, kGroupFlags, *line);
    StoreLevels(grouper->state().diagnosisLevels.data(), *line);

    if (jsonl) {
      json.clear();
      AppendJsonRecord(json, lineNumber, request, grouper->state().diagnosisLevels.data());
      json.push_back('\n');
      if (std::fwrite(json.data(), 1, json.size(), streams.out) != json.size()) {
        progress.Finish();
        return ReportWriteError(streams, options, lineNumber);
      }
    } else {
      if (!line->Write(streams.out)) {
        progress.Finish();
        return ReportWriteError(streams, options, lineNumber);
      }
      const int64_t written = line->OutputLength();
      if (written < line->length()) {
        std::fprintf(options.err,
                     "tallow: %s line %lld: a NUL character at position %lld ends the output "
                     "line; %lld of %lld characters written\n",
                     streams.inName.c_str(), static_cast<long long>(lineNumber),
                     static_cast<long long>(written), static_cast<long long>(written),
                     static_cast<long long>(line->length()));
      }
    }
    progress.Tick(reader.bytesRead(), lineNumber);
  }
  progress.Finish();
  return kExitOk;
}

void AppendEscaped(fmt::memory_buffer& out, const char* text, int n) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
      // Bytes that are not printable ASCII are written as the code point of
      // the same number, so the line stays valid JSON whatever the tables hold.
      const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(escape, escape + 6);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

}  // namespace

int GroupStream(const std::shared_ptr<const TableSet>& tables, std::FILE* in, std::FILE* out,
                const BatchOptions& options) {
  const Streams streams{in, out, DisplayName(options.inputPath, "standard input"),
                        DisplayName(options.outputPath, "standard output")};
  return GroupLines(tables, streams, options);
}

void AppendJsonRecord(fmt::memory_buffer& out, int64_t lineNumber, const GroupRequest& request,
                      const char* levels) {
  fmt::format_to(std::back_inserter(out),
                 "{{\"line\":{},\"mdc\":{},\"baseDrg\":{},\"groupStatus\":{},"
                 "\"orProcedureIndex\":{},\"secondaryIndex\":{},\"secondSecondaryIndex\":{},"
                 "\"secondOrProcedureIndex\":{},\"nonOrProcedureIndex\":{},"
                 "\"secondNonOrProcedureIndex\":{},\"ccIndex\":{},\"finalDrg\":{},"
                 "\"groupCode\":{},\"finaliseStatus\":{},\"levelSourceIndex\":{},"
                 "\"underEighteen\":{},\"diagnosisLevels\":\"",
                 lineNumber, request.mdc, request.baseDrg, request.groupStatus,
                 request.orProcedureIndex, request.secondaryIndex, request.secondSecondaryIndex,
                 request.secondOrProcedureIndex, request.nonOrProcedureIndex,
                 request.secondNonOrProcedureIndex, request.ccIndex, request.finalDrg,
                 request.groupCode, request.finaliseStatus, request.levelSourceIndex,
                 request.underEighteen);
  AppendEscaped(out, levels, 10);
  out.append(std::string_view("\"}"));
}

void AppendJsonError(fmt::memory_buffer& out, int64_t lineNumber, const char* error) {
  fmt::format_to(std::back_inserter(out), "{{\"line\":{},\"error\":\"", lineNumber);
  AppendEscaped(out, error, static_cast<int>(std::strlen(error)));
  out.append(std::string_view("\"}"));
}

int RunBatch(const BatchOptions& options) {
  std::FILE* err = options.err;
  Streams streams{nullptr, nullptr, DisplayName(options.inputPath, "standard input"),
                  DisplayName(options.outputPath, "standard output")};

  // The input must exist before anything is opened or created.
  OwnedStream input;
  if (options.inputPath == "-") {
    input.stream = stdin;
  } else {
    if (!DirectoryEntryExists("", options.inputPath)) {
      if (options.classicMessages) {
        ShowMessage(err, "input file 오류", "tallow.in파일을 찾을 수 없읍니다");
      } else {
        std::fprintf(err, "tallow: input file %s not found\n", options.inputPath.c_str());
      }
      return kExitInput;
    }
    input.stream = std::fopen(options.inputPath.c_str(), "rb");
    const int openError = errno;
    input.owned = input.stream != nullptr;
    if (input.stream == nullptr || IsDirectory(input.stream)) {
      std::fprintf(err, "tallow: cannot open %s: %s\n", options.inputPath.c_str(),
                   std::strerror(input.stream == nullptr ? openError : EISDIR));
      return kExitInput;
    }
  }

  OwnedStream output;
  if (options.outputPath == "-") {
    output.stream = stdout;
  } else {
    // Opening the input for writing would empty it before it is read.
    if (IsSameRegularFile(input.stream, options.outputPath)) {
      std::fprintf(err, "tallow: %s is the input file; it is not overwritten\n",
                   options.outputPath.c_str());
      return kExitOutput;
    }
    output.stream = std::fopen(options.outputPath.c_str(), "wb");
    if (output.stream == nullptr) {
      std::fprintf(err, "tallow: cannot open %s for writing: %s\n", options.outputPath.c_str(),
                   std::strerror(errno));
      return kExitOutput;
    }
    output.owned = true;
  }
  std::setvbuf(output.stream, nullptr, _IOFBF, kOutputBufferBytes);
  streams.in = input.stream;
  streams.out = output.stream;

  Result<std::shared_ptr<const TableSet>> tables = LoadTables(options.tablesDirectory);
  if (!tables.ok()) {
    if (options.classicMessages) {
      ShowMessage(err, "환경 오류", "초기화 실패", tables.message());
    } else {
      std::fprintf(err, "tallow: the tables in %s failed to load\n%s\n",
                   options.tablesDirectory.empty() ? "." : options.tablesDirectory.c_str(),
                   tables.message().c_str());
    }
    return kExitTables;
  }

  int status = GroupLines(*tables, streams, options);
  errno = 0;
  if (!output.Finish() && status != kExitWrite) {
    std::fprintf(err, "tallow: write error on %s: %s\n", streams.outName.c_str(),
                 std::strerror(errno != 0 ? errno : EIO));
    if (status == kExitOk) status = kExitWrite;
  }
  return status;
}

}  // namespace tallow::app
