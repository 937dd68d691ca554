// Shared by the fuzz targets: a synthetic table set and a fixed mix of case
// lines that reach every edition, grouped through the whole engine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tables/loader.h"
#include "tables/table_set.h"

namespace tallow::fuzz {

// The images of a synthetic full-size set (made once).
const TableImages& SynthImages();

// Case lines with codes of the synthetic set, dates in every edition.
const std::vector<std::string>& SampleCaseLines();

// Runs a whole case file (any bytes) through the batch loop with the given
// tables; the output and the messages are discarded.
void GroupText(const std::shared_ptr<const TableSet>& tables, std::string input);

// Groups every sample case line with the given tables.
void GroupSamples(const std::shared_ptr<const TableSet>& tables);

}  // namespace tallow::fuzz
