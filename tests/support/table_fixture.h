// Table sets for tests, written as table sources (docs/table-sources.md).
//
//   auto tables = tallow::testing::BuildTables({
//       {"DXTAB0", "class 1 5 0 0 0000000000\nentry I21 1\n"}});
//
// Tables that are not named are built inert: the right size, no codes, no
// rules, no lists.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "tables/loader.h"
#include "tables/table_set.h"

namespace tallow::testing {

// Builds and loads a table set from sources (table name -> source text).
// On a build or load error: ADD_FAILURE() with the message, returns nullptr.
std::shared_ptr<const TableSet> BuildTables(const std::map<std::string, std::string>& sources);

// The file images of a set built from sources, for tests that damage bytes
// or load through another path. On a build error: ADD_FAILURE() with the
// message, returns an empty map.
TableImages BuildImages(const std::map<std::string, std::string>& sources);

}  // namespace tallow::testing
