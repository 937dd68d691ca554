// The Python module `tallow`: table sets, grouping of single lines, of lists
// of lines on several threads, of files, and of pandas frames, and the trace
// of a case. Every record is the JSON object `tallow group --format jsonl`
// writes, turned into a dict, so the module follows that format.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/batch.h"
#include "app/explain.h"
#include "app/library.h"
#include "app/version.h"
#include "tables/identity.h"

namespace py = pybind11;

namespace {

using tallow::TableSet;

struct Tables {
  std::shared_ptr<const TableSet> set;
  std::string digest;
  std::string path;
};

std::shared_ptr<Tables> LoadTables(const std::string& path) {
  auto t = std::make_shared<Tables>();
  t->path = path;
  tallow::Result<std::shared_ptr<const TableSet>> loaded = [&] {
    py::gil_scoped_release release;
    return tallow::LoadTablesWithDigest(path, &t->digest);
  }();
  if (!loaded.ok()) {
    throw std::runtime_error("the tables in " + path + " failed to load: " + loaded.message());
  }
  t->set = *loaded;
  return t;
}

// A line as the bytes the program reads: bytes as they are, str with every
// character below U+0100 taken as that byte.
std::string LineBytes(const py::handle& line) {
  if (PyBytes_Check(line.ptr())) return std::string(py::reinterpret_borrow<py::bytes>(line));
  if (!PyUnicode_Check(line.ptr())) throw py::type_error("a case line must be str or bytes");
  PyObject* latin = PyUnicode_AsEncodedString(line.ptr(), "latin-1", "strict");
  if (latin == nullptr) {
    PyErr_Clear();
    throw py::value_error("a case line given as str holds a character above U+00FF; pass bytes");
  }
  return std::string(py::reinterpret_steal<py::bytes>(latin));
}

// JSON to Python: objects become dicts in their order, numbers ints or floats.
py::object ToPython(const nlohmann::ordered_json& j) {
  switch (j.type()) {
    case nlohmann::ordered_json::value_t::object: {
      py::dict d;
      for (const auto& [key, value] : j.items()) d[py::str(key)] = ToPython(value);
      return d;
    }
    case nlohmann::ordered_json::value_t::array: {
      py::list l;
      for (const auto& value : j) l.append(ToPython(value));
      return l;
    }
    case nlohmann::ordered_json::value_t::string:
      return py::str(j.get_ref<const std::string&>());
    case nlohmann::ordered_json::value_t::boolean:
      return py::bool_(j.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer:
      return py::int_(j.get<int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned:
      return py::int_(j.get<uint64_t>());
    case nlohmann::ordered_json::value_t::number_float:
      return py::float_(j.get<double>());
    default:
      return py::none();
  }
}

py::object RecordToPython(const std::string& record) {
  return ToPython(nlohmann::ordered_json::parse(record));
}

py::object Group(const Tables& tables, const py::handle& line, int64_t lineNumber) {
  const std::string text = LineBytes(line);
  std::string record;
  {
    py::gil_scoped_release release;
    tallow::app::LineGrouper grouper(tables.set);
    grouper.GroupToJson(lineNumber, text.data(), text.size(), &record);
  }
  return RecordToPython(record);
}

py::list GroupLines(const Tables& tables, const py::iterable& lines, int jobs) {
  std::vector<std::string> texts;
  for (const py::handle line : lines) texts.push_back(LineBytes(line));
  std::vector<std::string> records(texts.size());
  {
    py::gil_scoped_release release;
    const std::size_t workers = std::clamp<std::size_t>(
        static_cast<std::size_t>(tallow::app::WorkerCount(jobs)), 1,
        std::max<std::size_t>(texts.size(), 1));
    // Worker w groups lines w, w + workers, ... with its own grouper.
    auto work = [&](std::size_t w) {
      tallow::app::LineGrouper grouper(tables.set);
      for (std::size_t i = w; i < texts.size(); i += workers) {
        grouper.GroupToJson(static_cast<int64_t>(i) + 1, texts[i].data(), texts[i].size(),
                            &records[i]);
      }
    };
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work, w);
    work(0);
    for (std::thread& t : threads) t.join();
  }
  py::list out;
  for (const std::string& record : records) out.append(RecordToPython(record));
  return out;
}

void GroupFile(const Tables& tables, const std::string& inPath, const std::string& outPath,
               const std::string& format, int jobs) {
  tallow::app::BatchOptions options;
  options.tablesDirectory = tables.path;
  options.inputPath = inPath;
  options.outputPath = outPath;
  options.jobs = jobs;
  if (format == "lines") {
    options.format = tallow::app::OutputFormat::kLines;
  } else if (format == "jsonl") {
    options.format = tallow::app::OutputFormat::kJsonl;
  } else {
    throw py::value_error("format must be \"lines\" or \"jsonl\", not \"" + format + "\"");
  }
  // The program's messages are collected and become the exception's text.
  std::FILE* err = std::tmpfile();
  if (err == nullptr) throw std::runtime_error("cannot make a temporary file for the messages");
  options.err = err;
  int status = 0;
  {
    py::gil_scoped_release release;
    status = tallow::app::RunBatch(options);
  }
  std::string messages;
  std::rewind(err);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, err)) > 0;) {
    messages.append(buffer, n);
  }
  std::fclose(err);
  if (status != tallow::app::kExitOk) {
    while (!messages.empty() && messages.back() == '\n') messages.pop_back();
    throw std::runtime_error(messages + " (exit status " + std::to_string(status) + ")");
  }
}

py::object Explain(const Tables& tables, const py::handle& line, int64_t lineNumber) {
  std::string text = LineBytes(line);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  tallow::app::CaseExplainer explainer(tables.set);
  return ToPython(explainer.Explain(lineNumber, text.data(), text.size()));
}

py::object GroupFrame(const Tables& tables, const py::object& frame, const std::string& column,
                      int jobs) {
  py::module_ pandas = py::module_::import("pandas");
  py::list records = GroupLines(tables, frame[py::str(column)], jobs);
  return pandas.attr("DataFrame")(records, py::arg("index") = frame.attr("index"));
}

}  // namespace

PYBIND11_MODULE(tallow, m) {
  m.doc() = "Tallow groups hospital inpatient case lines into DRGs and refined group codes.";
  py::class_<Tables, std::shared_ptr<Tables>>(m, "Tables")
      .def(py::init(&LoadTables), py::arg("path"),
           "Loads the table set in the directory `path`; RuntimeError says why it failed.")
      .def_property_readonly("digest", [](const Tables& t) { return t.digest; },
                             "SHA-256 of the loaded table files, 64 hex digits.")
      .def_property_readonly("path", [](const Tables& t) { return t.path; })
      .def("__repr__", [](const Tables& t) {
        return "tallow.Tables('" + t.path + "', digest='" + t.digest.substr(0, 12) + "...')";
      });
  m.def("group", &Group, py::arg("tables"), py::arg("line"), py::arg("line_number") = 1,
        "Groups one case line (str or bytes); the dict `tallow group --format jsonl` writes.");
  m.def("group_lines", &GroupLines, py::arg("tables"), py::arg("lines"), py::arg("jobs") = 0,
        "Groups lines on `jobs` threads (0: one per core); one dict per line, line numbers "
        "from 1.");
  m.def("group_file", &GroupFile, py::arg("tables"), py::arg("in_path"), py::arg("out_path"),
        py::arg("format") = "lines", py::arg("jobs") = 0,
        "Runs `tallow group` from in_path to out_path (\"-\": standard streams); RuntimeError "
        "with the program's message when it fails.");
  m.def("explain", &Explain, py::arg("tables"), py::arg("line"), py::arg("line_number") = 1,
        "The trace of one case line as `tallow explain --format json` gives it.");
  m.def("group_frame", &GroupFrame, py::arg("tables"), py::arg("frame"),
        py::arg("column") = "line", py::arg("jobs") = 0,
        "Groups the lines in frame[column]; a pandas DataFrame of the records, same index.");
  m.attr("__version__") = tallow::app::kVersion;
}
