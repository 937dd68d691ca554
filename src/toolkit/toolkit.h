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

// What check finds. Errors are faults under which the grouper searches
// wrongly or reads a record it should not (the set does not load; keys out of
// order where a search relies on their order; a range that passes its
// section's end; a line the bounded reader splits). Warnings are data the
// grouper can never reach (a code's later rows, a mark the merge passes
// over, an overwritten line). Padding and the other layouts the files hold
// by design give no finding. docs/check-findings.md lists every kind.
struct Finding {
  enum class Severity : uint8_t {
    kError,    ///< the grouper searches wrongly or reads what it should not
    kWarning,  ///< data the grouper never reaches
  };
};

// The findings of one kind in one file: how many, and the first few.
struct FindingGroup {
  Finding::Severity severity = Finding::Severity::kWarning;
  std::string file;                   ///< table name, e.g. "SGTAB0"; "" for the set
  std::string kind;                   ///< e.g. "dated-later-run"
  std::string what;                   ///< the kind in words
  int count = 0;                      ///< all findings of the kind
  std::vector<std::string> examples;  ///< the first few, each naming its record
};

// What an edition holds, so that an author sees what changed from the last set.
struct EditionCounts {
  char edition = '8';
  int diagnosisCodes = 0;   ///< distinct codes of the diagnosis table
  int neonateMarks = 0;     ///< entries with a mark other than '0'
  int procedureCodes = 0;   ///< distinct codes of the procedure table (SGTAB0 for 0 and 1)
  int rules = 0;            ///< rules in the MDC lists of the edition's rule table
  int ccLists = 0;          ///< CC exclusion rows with a list
  int refinedCcLines = 0;   ///< refined CC lines other than padding
};

struct CheckReport {
  std::vector<FindingGroup> groups;  ///< errors first, then warnings, each in file order
  int errors = 0;                    ///< all errors
  int warnings = 0;                  ///< all warnings
  std::vector<std::string> notes;    ///< facts that are neither, e.g. conversion files present
  std::string digest;                ///< of the files checked
  bool loaded = false;               ///< the set loads; the counts below are filled
  std::vector<EditionCounts> editions;  ///< 8, 9, 0, 1
  int refinedDrgSlots = 0;           ///< DRG values RDRGDRG names

  // The group of a kind in a file, or nullptr.
  const FindingGroup* Find(std::string_view file, std::string_view kind) const;
};

// Checks a set held in memory (table name -> bytes, conversion files too);
// each group keeps at most `examples` examples.
CheckReport CheckTableImages(const TableImages& images, int examples = 3);
// Checks the set in a directory ("" is the current directory).
CheckReport CheckTables(const std::string& directory, int examples = 3);

// What changed from one set to another, per table.
struct TableChange {
  std::string file;     ///< table name
  std::string change;   ///< "added", "removed" or "changed"
  std::string what;     ///< "code", "class", "rule", "list", "line", "row", "mark"
  std::string key;      ///< the code, "MDC 5 rule 3", the list's key, ...
  std::string detail;   ///< the fields: "class 3 -> 4", or the record
};

struct SetDiff {
  std::vector<TableChange> changes;  ///< in load order of the files, then by key
};

// The changes from `before` to `after`.
SetDiff DiffTableSets(const TableSet& before, const TableSet& after);

// Table sets and sources in directories. Table files are named by their
// table name (DXTAB8), sources by the name with ".txt"; the conversion files
// SGMAPJ1 and SGMAP1 travel along as they are, as SGMAPJ1.txt and SGMAP1.txt
// among the sources.

// The names a set's files go by: the 22 tables in load order, then the two
// optional conversion files.
std::vector<std::string> SetFileNames();

// The sources found in a directory (table or conversion name -> text); a
// name without a file is left out.
Result<std::map<std::string, std::string>> ReadTableSources(const std::string& directory);
// The files of a set found in a directory; a name without a file is left out.
Result<TableImages> ReadTableImages(const std::string& directory);
// Writes each file as directory/NAME + suffix, creating the directory.
Status WriteTableFiles(const std::string& directory, const std::map<std::string, std::string>& files,
                       const std::string& suffix = "");

// The sources of a directory for build: every NAME.txt of a table or
// conversion file. A .txt file of another name is refused with the closest
// known name ("DXTABO.txt: no such table; did you mean DXTAB0.txt?"); a table
// without a source is refused unless `allowMissing`, which builds it empty.
Result<std::map<std::string, std::string>> ReadBuildSources(const std::string& directory,
                                                            bool allowMissing);

// The table or conversion file name closest to `name` (a file name without
// its ".txt"), or "" when none is close.
std::string ClosestTableName(std::string_view name);

// Writes a whole set as directory/NAME + suffix. A directory that holds
// anything is refused unless `force`; then the files are first written into
// a temporary directory beside it and only moved into place when all of them
// were written, so a failure leaves the old set whole. Files of the old set
// that the new one lacks are removed; other files are left alone.
Status ReplaceTableFiles(const std::string& directory,
                         const std::map<std::string, std::string>& files, const std::string& suffix,
                         bool force);

// A full-size, valid table set of random content with the shape of real
// tables, as sources and as built files. The same seed gives the same bytes
// on every machine. The sources always build (a failure would be a fault of
// the generator, which then aborts with the message).
std::map<std::string, std::string> SynthSources(uint64_t seed);
TableImages SynthTables(uint64_t seed);

}  // namespace tallow
