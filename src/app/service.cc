#include "app/service.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <nlohmann/json.hpp>

#include "app/explain.h"
#include "app/library.h"
#include "app/records.h"
#include "app/version.h"
#include "grouper/trace.h"

namespace tallow::app {
namespace {

using Json = nlohmann::json;

constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The media type of a Content-Type value: before any ';', blanks trimmed,
// lower case.
std::string MediaType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  return Lower(type);
}

// A JSON string (UTF-8) as the bytes of a case line: each character
// U+0000-U+00FF is the byte of its number. False for a character above.
bool Latin1Bytes(const std::string& utf8, std::string* bytes) {
  bytes->clear();
  bytes->reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      bytes->push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      // Two bytes 110000xx 10xxxxxx: U+0080-U+00FF.
      const auto next = static_cast<unsigned char>(utf8[++i]);
      bytes->push_back(static_cast<char>(((c & 0x03u) << 6) | (next & 0x3Fu)));
    } else {
      return false;  // the parser took only valid UTF-8, so this is above U+00FF
    }
  }
  return true;
}

// Takes one JSON string as line `number` of `out`; false with out->error set.
bool TakeJsonLine(const Json& value, const std::string& where, int64_t number, BodyLines* out) {
  if (!value.is_string()) {
    out->error = fmt::format("{} is not a string; each case line is one JSON string", where);
    return false;
  }
  std::string bytes;
  if (!Latin1Bytes(value.get_ref<const std::string&>(), &bytes)) {
    out->error = fmt::format(
        "{} holds a character above U+00FF; a case line is bytes, each written as the "
        "character U+0000-U+00FF of its number",
        where);
    return false;
  }
  // One line end at the end is not part of the line, as in a case file.
  if (!bytes.empty() && bytes.back() == '\n') {
    bytes.pop_back();
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  }
  if (bytes.find('\n') != std::string::npos) {
    out->error = fmt::format(
        "{} holds a line feed; one string is one case line (send several as \"lines\")", where);
    return false;
  }
  out->storage.push_back(std::move(bytes));
  out->lines.push_back({number, {}});
  return true;
}

BodyLines ReadJsonLines(std::string_view body) {
  BodyLines out;
  const Json doc = Json::parse(body.begin(), body.end(), nullptr, false);
  if (doc.is_discarded()) {
    out.error = "the body is not valid JSON";
    return out;
  }
  constexpr char kForms[] = R"(the body must be {"line": "..."} or {"lines": ["...", ...]})";
  if (!doc.is_object()) {
    out.error = kForms;
    return out;
  }
  for (const auto& [key, value] : doc.items()) {
    if (key != "line" && key != "lines") {
      out.error = fmt::format("unknown member \"{}\": {}", key, kForms);
      return out;
    }
  }
  const bool one = doc.contains("line");
  const bool many = doc.contains("lines");
  if (one == many) {
    out.error = fmt::format("{}, with one of the two members", kForms);
    return out;
  }
  if (one) {
    if (!TakeJsonLine(doc["line"], "\"line\"", 1, &out)) return out;
  } else {
    const Json& lines = doc["lines"];
    if (!lines.is_array()) {
      out.error = "\"lines\" is not an array of strings";
      return out;
    }
    out.storage.reserve(lines.size());
    int64_t n = 0;
    for (const Json& value : lines) {
      if (!TakeJsonLine(value, fmt::format("lines[{}]", n), n + 1, &out)) return out;
      ++n;
    }
  }
  // The strings no longer move: the lines may point into them.
  for (std::size_t i = 0; i < out.lines.size(); ++i) out.lines[i].text = out.storage[i];
  return out;
}

// True for "", "1" and "true"; false for "0" and "false"; else an error.
bool ReadSwitch(const std::string& name, const std::string& value, bool* on, std::string* error) {
  const std::string v = Lower(value);
  if (v.empty() || v == "1" || v == "true") {
    *on = true;
  } else if (v == "0" || v == "false") {
    *on = false;
  } else {
    *error = fmt::format("query parameter {}={} is neither 1 nor 0", name, value);
    return false;
  }
  return true;
}

ServiceResponse ErrorResponse(int status, std::string_view message) {
  ServiceResponse r;
  r.status = status;
  r.body = Service::ErrorBody(message);
  return r;
}

}  // namespace

BodyLines ReadTextLines(std::string_view body) {
  BodyLines out;
  std::size_t pos = 0;
  if (body.size() >= sizeof kByteOrderMark &&
      std::equal(kByteOrderMark, kByteOrderMark + 3, body.begin(),
                 [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
    pos = sizeof kByteOrderMark;
  }
  int64_t line = 0;
  int64_t endMark = 0;
  int64_t after = 0;
  while (pos < body.size()) {
    const std::size_t lf = body.find('\n', pos);
    const std::size_t end = lf == std::string_view::npos ? body.size() : lf;
    std::size_t length = end - pos;
    // A carriage return right before a line feed is not part of the line.
    if (lf != std::string_view::npos && length > 0 && body[end - 1] == '\r') --length;
    ++line;
    if (endMark != 0) {
      if (length > 0) ++after;
    } else if (length == 0) {
      endMark = line;
    } else {
      out.lines.push_back({line, body.substr(pos, length)});
    }
    if (lf == std::string_view::npos) break;
    pos = lf + 1;
  }
  if (after > 0) {
    out.lines.clear();
    out.error = fmt::format(
        "line {} is empty and ends the input; {} non-empty line{} after it would not be "
        "grouped (remove the empty line)",
        endMark, after, after == 1 ? "" : "s");
  }
  return out;
}

BodyLines ReadBodyLines(std::string_view contentType, std::string_view body) {
  const std::string type = MediaType(contentType);
  if (type == "text/plain") return ReadTextLines(body);
  if (type == "application/json") return ReadJsonLines(body);
  BodyLines out;
  out.error = type.empty()
                  ? "the body has no Content-Type; send text/plain or application/json"
                  : fmt::format("Content-Type {} is neither text/plain nor application/json",
                                type);
  return out;
}

std::string TablesJson(const TableSet& tables, const std::string& directory,
                       const std::string& digest) {
  struct EditionDates {
    const char* name;
    const char* from;
    const char* before;
  };
  // The case dates of each edition (EditionOf).
  constexpr EditionDates kEditions[kEditionCount] = {{"8", nullptr, "19990201"},
                                                     {"9", "19990201", "20020101"},
                                                     {"0", "20020101", "20030101"},
                                                     {"1", "20030101", nullptr}};
  Json editions = Json::array();
  for (const EditionDates& e : kEditions) {
    const EditionView view = SelectEdition(tables, e.from != nullptr ? e.from : "19000101");
    const bool early = view.procedure != nullptr;
    Json edition = {
        {"edition", e.name},
        {"caseDatesFrom", e.from != nullptr ? Json(e.from) : Json()},
        {"caseDatesBefore", e.before != nullptr ? Json(e.before) : Json()},
        {"diagnoses", view.diagnosis->entryCount},
        {"procedures", early ? view.procedure->entryCount
                             : static_cast<int>(view.datedProcedure->codes.size())},
        {"drgRules", view.drgRules->rules.size()},
        {"ccExclusionRows", CcExclusionTableOf(tables, view.edition).keyFirst.size()},
        {"refinedCcRows", view.refinedCc->rows.size()},
    };
    editions.push_back(std::move(edition));
  }
  int filled = 0;
  for (const RefinedDrgSlot& slot : tables.refinedDrg.slots) filled += slot.filled ? 1 : 0;
  Json conversions = Json::object();
  conversions[kCodeMapJan2001File] =
      tables.codeMapJan2001.present ? Json(tables.codeMapJan2001.pairs.size()) : Json();
  conversions[kCodeMap2001File] =
      tables.codeMap2001.present ? Json(tables.codeMap2001.pairs.size()) : Json();
  const Json j = {{"directory", directory},
                  {"digest", digest},
                  {"editions", editions},
                  {"refinedDrgSlots", filled},
                  {"levelRows", kLevelRows},
                  {"conversions", conversions}};
  return j.dump();
}

// One request's grouping tools: a line grouper and, once asked for, an
// explainer, with the buffer the answer is written into.
struct Service::Workspace {
  explicit Workspace(const std::shared_ptr<const TableSet>& set) : tables(set), grouper(set) {}
  std::shared_ptr<const TableSet> tables;
  LineGrouper grouper;
  std::unique_ptr<CaseExplainer> explainer;
  fmt::memory_buffer out;
};

// A workspace taken from the idle ones for one request, given back after.
class Service::Lease {
 public:
  explicit Lease(const Service& service) : service_(service) {
    std::unique_lock<std::mutex> lock(service_.mutex_);
    service_.freed_.wait(lock, [this] {
      return !service_.idle_.empty() || service_.made_ < service_.workers_;
    });
    if (!service_.idle_.empty()) {
      workspace_ = std::move(service_.idle_.back());
      service_.idle_.pop_back();
    } else {
      ++service_.made_;
      lock.unlock();
      workspace_ = std::make_unique<Workspace>(service_.tables_);
    }
  }
  ~Lease() {
    {
      const std::lock_guard<std::mutex> lock(service_.mutex_);
      service_.idle_.push_back(std::move(workspace_));
    }
    service_.freed_.notify_one();
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Workspace& operator*() const { return *workspace_; }

 private:
  const Service& service_;
  std::unique_ptr<Workspace> workspace_;
};

Service::Service(std::shared_ptr<const TableSet> tables, std::string tablesJson, int workers,
                 std::size_t bodyLimit)
    : tables_(std::move(tables)), tablesJson_(std::move(tablesJson)), bodyLimit_(bodyLimit),
      workers_(std::max(1, workers)) {}

Service::~Service() = default;

std::string Service::ErrorBody(std::string_view message) {
  fmt::memory_buffer out;
  out.append(std::string_view("{\"error\":\""));
  AppendJsonEscaped(out, message);
  out.append(std::string_view("\"}"));
  return {out.data(), out.size()};
}

ServiceResponse Service::Group(const ServiceRequest& request, bool explain) const {
  LineGrouper::Extras extras;
  for (const auto& [name, value] : request.params) {
    std::string error;
    if (!explain && (name == "flags" || name == "reason")) {
      if (!ReadSwitch(name, value, name == "flags" ? &extras.flags : &extras.reason, &error)) {
        return ErrorResponse(400, error);
      }
    } else {
      return ErrorResponse(
          400, fmt::format("unknown query parameter {}; {}", name,
                           explain ? "/explain takes none" : "/group takes flags and reason"));
    }
  }
  if (explain && !kTraceCompiledIn) {
    return ErrorResponse(501, "this tallow was built without the trace (TALLOW_TRACE off)");
  }
  const BodyLines body = ReadBodyLines(request.contentType, request.body);
  if (!body.error.empty()) return ErrorResponse(400, body.error);

  const Lease lease(*this);
  Workspace& w = *lease;
  fmt::memory_buffer& out = w.out;
  out.clear();
  out.push_back('[');
  if (explain && w.explainer == nullptr) w.explainer = std::make_unique<CaseExplainer>(w.tables);
  for (std::size_t i = 0; i < body.lines.size(); ++i) {
    const BodyLine& line = body.lines[i];
    out.append(std::string_view(i == 0 ? "\n" : ",\n"));
    if (explain) {
      const std::string trace =
          w.explainer->Explain(line.line, line.text.data(), line.text.size()).dump();
      out.append(trace);
    } else {
      w.grouper.AppendJson(line.line, line.text.data(), line.text.size(), extras, out);
    }
  }
  out.append(std::string_view(body.lines.empty() ? "]\n" : "\n]\n"));
  ServiceResponse r;
  r.body.assign(out.data(), out.size());
  r.cases = static_cast<int64_t>(body.lines.size());
  // A large answer does not stay with the workspace.
  if (out.capacity() > (1u << 20)) {
    fmt::memory_buffer fresh;
    std::swap(out, fresh);
  }
  return r;
}

ServiceResponse Service::Handle(const ServiceRequest& request) const {
  struct Route {
    const char* path;
    const char* method;
  };
  constexpr Route kRoutes[] = {{"/", "GET"},      {"/health", "GET"}, {"/tables", "GET"},
                               {"/version", "GET"}, {"/group", "POST"}, {"/explain", "POST"}};
  const Route* route = nullptr;
  for (const Route& r : kRoutes) {
    if (request.path == r.path) route = &r;
  }
  if (route == nullptr) {
    return ErrorResponse(404, fmt::format("no such path: {}", request.path));
  }
  const std::string_view method = request.method == "HEAD" ? "GET" : request.method;
  if (method != route->method) {
    ServiceResponse r = ErrorResponse(
        405, fmt::format("{} takes {}, not {}", route->path, route->method, request.method));
    r.allow = route->method;
    if (r.allow == "GET") r.allow += ", HEAD";
    return r;
  }
  if (request.body.size() > bodyLimit_) {
    return ErrorResponse(413, fmt::format("the body of {} bytes is over the limit of {} bytes",
                                          request.body.size(), bodyLimit_));
  }
  try {
    ServiceResponse r;
    if (request.path == "/") {
      r.contentType = "text/html; charset=utf-8";
      r.body = ServicePage();
    } else if (request.path == "/health") {
      r.body = R"({"status":"ready"})";
    } else if (request.path == "/tables") {
      r.body = tablesJson_;
    } else if (request.path == "/version") {
      r.body = Json{{"program", "tallow"}, {"version", kVersion}, {"versionDate", VersionDate}}
                   .dump();
    } else {
      return Group(request, request.path == "/explain");
    }
    return r;
  } catch (const std::exception& e) {
    // Nothing a body holds should come here; the request fails, the server goes on.
    return ErrorResponse(500, fmt::format("internal error: {}", e.what()));
  }
}

}  // namespace tallow::app
