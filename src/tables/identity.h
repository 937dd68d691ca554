// The identity of a table set: one SHA-256 digest over its files, so that a
// result file can be traced to the exact tables that made it.
//
// The digest covers the twenty-two files in load order, then the optional
// conversion files ("SGMAPJ1", "SGMAP1") that are present. Each file enters
// as its name, a line feed, its length in decimal, a line feed and its bytes,
// so that moving bytes from one file to the next changes the digest too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/loader.h"
#include "tables/status.h"
#include "tables/table_set.h"

namespace tallow {

// The digest of a set held in memory, as 64 lower-case hex digits. Absent
// optional files are left out; an absent table file enters as empty.
std::string DigestOfImages(const TableImages& images);

struct TableFileFacts {
  std::string name;
  uint64_t bytes = 0;
  std::string modified;  ///< "2026-12-09 03:26:45 UTC"
};

struct TableIdentity {
  std::string digest;
  std::vector<TableFileFacts> files;  ///< in the order the digest takes them
};

// Reads the set in `directory` ("" is the current directory) and gives its
// digest with the size and modification time of every file. A missing or
// unreadable table file is an error that names it.
Result<TableIdentity> IdentifyTables(const std::string& directory);

// Loads the set in `directory` like LoadTables and sets *digest to the digest
// of the bytes it loaded.
Result<std::shared_ptr<const TableSet>> LoadTablesWithDigest(const std::string& directory,
                                                             std::string* digest);

}  // namespace tallow
