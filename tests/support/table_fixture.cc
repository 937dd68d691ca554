#include "support/table_fixture.h"

#include <gtest/gtest.h>

#include "toolkit/toolkit.h"

namespace tallow::testing {

TableImages BuildImages(const std::map<std::string, std::string>& sources) {
  Result<TableImages> images = BuildTableImages(sources);
  if (!images.ok()) {
    ADD_FAILURE() << "table sources do not build: " << images.message();
    return {};
  }
  return std::move(*images);
}

std::shared_ptr<const TableSet> BuildTables(const std::map<std::string, std::string>& sources) {
  Result<TableImages> images = BuildTableImages(sources);
  if (!images.ok()) {
    ADD_FAILURE() << "table sources do not build: " << images.message();
    return nullptr;
  }
  Result<std::shared_ptr<const TableSet>> tables = LoadTablesFromImages(*images);
  if (!tables.ok()) {
    ADD_FAILURE() << "built tables do not load: " << tables.message();
    return nullptr;
  }
  return *tables;
}

}  // namespace tallow::testing
