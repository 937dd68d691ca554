// The batch loop allocates nothing per case: grouping many cases costs as
// many allocations as grouping a few (the line buffer, the grouper and the
// output buffer are set up once per run).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "app/batch.h"
#include "app_files.h"
#include "toolkit/toolkit.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// Counting replacements of the global allocation functions for this test
// executable; the sized and array forms fall back to these. Every form that
// frees through the replaced deletes allocates through these.
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tallow::app {
namespace {

const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";

using testing::DemoTables;

// Allocations made while grouping the demo cases `copies` times over, with
// a long line and a NUL warning among them.
long AllocationsFor(const std::shared_ptr<const TableSet>& tables, int copies,
                    OutputFormat format) {
  const std::string demo = testing::ReadFile(kDemo + "/tallow.in").value_or("");
  std::string input;
  for (int i = 0; i < copies; ++i) {
    input += demo;
    input += std::string(4000, 'x') + "\r\n";
  }
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  BatchOptions options;
  options.format = format;
  options.err = err;
  const long before = g_allocations.load();
  EXPECT_EQ(GroupStream(tables, in, out, options), kExitOk);
  const long used = g_allocations.load() - before;
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  return used;
}

TEST(AllocationTest, NothingIsAllocatedPerCase) {
  const std::shared_ptr<const TableSet> tables = DemoTables();
  ASSERT_NE(tables, nullptr);
  // The first grouper of a table set makes what every later one shares.
  AllocationsFor(tables, 1, OutputFormat::kLines);
  for (OutputFormat format : {OutputFormat::kLines, OutputFormat::kJsonl, OutputFormat::kCsv}) {
    EXPECT_EQ(AllocationsFor(tables, 40, format), AllocationsFor(tables, 2, format));
  }
}

}  // namespace
}  // namespace tallow::app
