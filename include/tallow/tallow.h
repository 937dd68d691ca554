// Tallow, the library: load a table set once, then group case lines with
// one grouper per thread over it.
//
//   auto tables = tallow::LoadTablesWithDigest("/srv/tables", &digest);
//   tallow::app::LineGrouper grouper(*tables);
//   grouper.GroupToJson(1, line.data(), line.size(), &record);
//
// Link with Tallow::tallow (CMake, find_package(Tallow)) or `pkg-config
// --libs tallow`.
#pragma once

#include "tallow_version.h"

#include "tables/identity.h"
#include "tables/loader.h"
#include "tables/status.h"
#include "tables/table_set.h"
#include "grouper/group_request.h"
#include "engine/grouper.h"
#include "engine/explain.h"
#include "app/batch.h"
#include "app/case_line.h"
#include "app/explain.h"
#include "app/library.h"
#include "app/version.h"
