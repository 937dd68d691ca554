// The table toolkit: table sources compiled into the twenty-two table files
// (build), table files turned back into sources (dump), the findings a table
// author needs beyond what the loader rejects (check), and random table sets
// of realistic shape for tests and benchmarks (synth).
//
// The source format is described in docs/table-sources.md. A source is named
// after its table ("DXTAB8"); errors name the source as "DXTAB8.txt" with the
// line and the fault, for example "DXTAB0.txt line 4: class 0 outside 1..383".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/loader.h"
#include "tables/status.h"

namespace tallow {

// Compiles the source of one table (name as in kTableFiles, or that name with
// ".txt") into the exact bytes of the file. An empty source gives the inert
// table: every size filled, no codes, rules or lists.
Result<std::string> BuildTableFile(const std::string& name, std::string_view source);

// Compiles a whole set: all twenty-two files, those without a source built
// inert. The optional conversion files ("SGMAPJ1", "SGMAP1") are passed
// through unchanged when given; any other name is an error.
Result<TableImages> BuildTableImages(const std::map<std::string, std::string>& sources);

// The source of one table file. `name` is a table name or a path whose last
// component is one. Trailing inert padding is omitted. For every file the
// loader accepts, BuildTableFile of the result gives back the same bytes.
Result<std::string> DumpTableFile(const std::string& name, std::string_view bytes);

// One thing check found. Errors make the set unusable or unreproducible from
// its sources; warnings are content the loader accepts but that loses data
// or can never be reached.
struct Finding {
  enum class Severity : uint8_t {
    kError,    ///< the set does not load, or dump and build would not reproduce it
    kWarning,  ///< tolerated by the loader, but marks, rows or lines are lost
  };
  Severity severity = Severity::kWarning;
  std::string file;     ///< table name, e.g. "SGTAB0"
  std::string message;  ///< names the record: "row 17 (Q2950): ..."
};

struct CheckReport {
  std::vector<Finding> findings;  ///< at most the cap
  int errors = 0;                 ///< all errors, also those past the cap
  int warnings = 0;
  std::vector<std::string> notes;  ///< facts that are neither, e.g. conversion files present
};

// Checks a set held in memory (table name -> bytes, conversion files too).
CheckReport CheckTableImages(const TableImages& images, int findingCap = 200);
// Checks the set in a directory ("" is the current directory).
CheckReport CheckTables(const std::string& directory, int findingCap = 200);

// Table sets and sources in directories. Table files are named by their
// table name (DXTAB8), sources by the name with ".txt"; the conversion files
// SGMAPJ1 and SGMAP1 travel along as they are, as SGMAPJ1.txt and SGMAP1.txt
// among the sources.

// The sources found in a directory (table or conversion name -> text); a
// name without a file is left out.
Result<std::map<std::string, std::string>> ReadTableSources(const std::string& directory);
// The files of a set found in a directory; a name without a file is left out.
Result<TableImages> ReadTableImages(const std::string& directory);
// Writes each file as directory/NAME + suffix, creating the directory.
Status WriteTableFiles(const std::string& directory, const std::map<std::string, std::string>& files,
                       const std::string& suffix = "");

// A full-size, valid table set of random content with the shape of real
// tables, as sources and as built files. The same seed gives the same bytes
// on every machine. The sources always build (a failure would be a fault of
// the generator, which then aborts with the message).
std::map<std::string, std::string> SynthSources(uint64_t seed);
TableImages SynthTables(uint64_t seed);

}  // namespace tallow
