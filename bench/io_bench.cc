// Speed of the batch's reading and writing, without grouping.
//
//   BM_ReadBlocks   read a case file and cut it into lines (cases per second)
//   BM_WriteBlocks  write grouped lines to a file in blocks (cases per second)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/line_input.h"
#include "app/output_file.h"

namespace tallow {
namespace {

constexpr int kLines = 100000;

std::string CaseText() {
  std::string text;
  const std::string line(214, 'x');
  for (int i = 0; i < kLines; ++i) text += line + (i % 3 == 0 ? "\r\n" : "\n");
  return text;
}

void SetRate(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kLines);
  state.counters["cases/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kLines, benchmark::Counter::kIsRate);
}

void BM_ReadBlocks(benchmark::State& state) {
  std::FILE* file = std::tmpfile();
  const std::string text = CaseText();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
  app::InputBlock block(app::kDefaultBlockBytes, app::kDefaultBlockPieces);
  for (auto _ : state) {
    ::lseek(::fileno(file), 0, SEEK_SET);
    app::BlockReader reader(::fileno(file));
    std::size_t pieces = 0;
    while (reader.Next(block) == app::BlockReader::Status::kBlock) pieces += block.pieces.size();
    pieces += block.pieces.size();
    if (pieces != kLines) state.SkipWithError("lines lost");
  }
  SetRate(state);
  std::fclose(file);
}
BENCHMARK(BM_ReadBlocks)->Unit(benchmark::kMillisecond);

void BM_WriteBlocks(benchmark::State& state) {
  const std::string text = CaseText();
  char path[] = "/tmp/tallow-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  ::unlink(path);
  for (auto _ : state) {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) state.SkipWithError("truncate");
    app::OutputFile out;
    out.Attach(fd, "bench");
    for (std::size_t at = 0; at < text.size(); at += app::kDefaultBlockBytes) {
      const std::size_t n = std::min(app::kDefaultBlockBytes, text.size() - at);
      if (!out.Write(text.data() + at, n)) state.SkipWithError("write");
    }
  }
  SetRate(state);
  ::close(fd);
}
BENCHMARK(BM_WriteBlocks)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallow
