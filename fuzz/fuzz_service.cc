// Arbitrary requests through the grouping service, without sockets: the
// first byte chooses the method, the path, the content type and the query
// parameters, the rest is the body. Every answer must be JSON (or the page)
// with a status the service defines; a text body must be cut into the lines
// the batch reads from the same bytes, and /group must answer each of them
// with the record the one-line grouper gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/library.h"
#include "app/line_input.h"
#include "app/service.h"
#include "fuzz/fuzz_support.h"

namespace {

using tallow::app::BodyLines;

// The lines BlockReader gives for the same bytes, up to the end mark.
std::vector<std::string> BatchLines(const std::string& body, bool* endMarkWithMore) {
  std::vector<std::string> lines;
  *endMarkWithMore = false;
  if (body.empty()) return lines;
  std::FILE* stream = fmemopen(const_cast<char*>(body.data()), body.size(), "r");
  if (stream == nullptr) std::abort();
  tallow::app::BlockReader reader(stream);
  tallow::app::InputBlock block(1 << 16, 4096);
  for (;;) {
    const auto status = reader.Next(block);
    for (const tallow::app::LinePiece& piece : block.pieces) {
      const std::string text(block.text.data() + piece.offset, piece.length);
      if (piece.continuation) {
        lines.back() += text;
      } else {
        lines.push_back(text);
      }
    }
    if (status == tallow::app::BlockReader::Status::kBlock) continue;
    if (status == tallow::app::BlockReader::Status::kEndMark) {
      int64_t after = 0;
      reader.CountLinesAfterEndMark(&after);
      *endMarkWithMore = after > 0;
    }
    break;
  }
  std::fclose(stream);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  static const std::shared_ptr<const TableSet>& tables = fuzz::SynthTableSet();
  static const app::Service service(tables, "{}", 2, 1 << 20);
  static app::LineGrouper lineGrouper(tables);
  if (size == 0) return 0;
  const unsigned choice = data[0];
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);

  constexpr const char* kPaths[] = {"/group", "/group", "/explain", "/", "/health", "/x"};
  constexpr const char* kTypes[] = {"text/plain", "application/json", "Text/Plain; charset=utf-8",
                                    ""};
  app::ServiceRequest request;
  request.method = (choice & 0x80) != 0 ? "GET" : "POST";
  request.path = kPaths[choice % 6];
  request.contentType = kTypes[(choice >> 3) % 4];
  request.body = body;
  if ((choice & 0x20) != 0) request.params = {{"flags", "1"}, {"reason", ""}};
  if ((choice & 0x40) != 0) request.params.emplace_back("reason", body.substr(0, 3));
  const app::ServiceResponse answer = service.Handle(request);

  if (answer.status != 200 && answer.status != 400 && answer.status != 404 &&
      answer.status != 405 && answer.status != 413 && answer.status != 501) {
    std::abort();  // 500: an exception escaped the reading or the grouping
  }
  if (request.path != std::string("/") || answer.status != 200) {
    const auto parsed = nlohmann::json::parse(answer.body, nullptr, false);
    if (parsed.is_discarded()) std::abort();
    if (answer.status != 200 && !parsed.contains("error")) std::abort();
  }

  // Text bodies are cut as the batch cuts a case file.
  const BodyLines text = app::ReadTextLines(body);
  bool endMarkWithMore = false;
  const std::vector<std::string> batch = BatchLines(body, &endMarkWithMore);
  if (endMarkWithMore != !text.error.empty()) std::abort();
  if (!endMarkWithMore) {
    if (batch.size() != text.lines.size()) std::abort();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if (batch[i] != text.lines[i].text) std::abort();
    }
  }

  // A plain /group of a text body: one record per line, as the one-line
  // grouper writes it.
  if (request.method == std::string("POST") && request.path == std::string("/group") &&
      request.contentType == std::string("text/plain") && request.params.empty() &&
      answer.status == 200) {
    const auto records = nlohmann::json::parse(answer.body, nullptr, false);
    if (!records.is_array() || records.size() != text.lines.size()) std::abort();
    std::string record;
    for (std::size_t i = 0; i < text.lines.size() && i < 8; ++i) {
      lineGrouper.GroupToJson(text.lines[i].line, text.lines[i].text.data(),
                              text.lines[i].text.size(), &record);
      if (nlohmann::json::parse(record) != records[i]) std::abort();
    }
  }
  return 0;
}
