// Shared by the fuzz targets: a synthetic table set and a fixed mix of case
// lines that reach every edition, grouped through the whole engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/loader.h"
#include "tables/table_set.h"

namespace tallow::fuzz {

// The images of a synthetic full-size set (made once).
const TableImages& SynthImages();

// That set loaded (once, SynthBase); aborts if it does not load.
const std::shared_ptr<const TableSet>& SynthTableSet();

// Case lines with codes of the synthetic set, dates in every edition.
const std::vector<std::string>& SampleCaseLines();

// Runs a whole case file (any bytes) through the batch loop with the given
// tables, in blocks of `blockBytes` (0: the batch's own); the output and the
// messages are discarded.
void GroupText(const std::shared_ptr<const TableSet>& tables, std::string input,
               std::size_t blockBytes = 0);

// The same with blocks of `blockBytes` (0: the default), padded short lines
// or not, on `jobs` workers; returns what the batch wrote.
std::string GroupTextTo(const std::shared_ptr<const TableSet>& tables, std::string input,
                        std::size_t blockBytes, bool pad, int jobs);

// Groups every sample case line with the given tables.
void GroupSamples(const std::shared_ptr<const TableSet>& tables);

// The table files fuzzed together by one target, named after the target
// ("fuzz_dxtab" fuzzes the diagnosis files).
struct TableFamily {
  const char* target;
  std::vector<const char*> files;
};
const std::vector<TableFamily>& TableFamilies();
const TableFamily& FamilyOf(const char* target);  // aborts on an unknown target

// One input of a family target: the first byte chooses the file (modulo the
// number of files), the rest are its bytes. The file replaces its namesake in
// the synthetic set; when the set loads, the sample cases are grouped with it.
void LoadFamilyFile(const TableFamily& family, const uint8_t* data, size_t size);

// The synthetic set with the file `name` replaced by `bytes`, as loaded by
// ReloadTableFile from the set loaded once. When the set loads, the file
// must come back from dump and build byte for byte (else abort): always;
// with kSampled for the first loading input and every eighth after it (the
// family targets, whose speed the round trip would halve; an input replayed
// alone is checked); or not with kChecked (the caller made the file by a
// round trip). Then the sample cases are grouped with it. The replay builds
// check every input, and also load the whole set and abort when the two
// loads differ in their result or in what the samples group to.
enum class RoundTrip : uint8_t { kAlways, kSampled, kChecked };
void LoadReplacedFile(const std::string& name, const std::string& bytes,
                      RoundTrip roundTrip = RoundTrip::kAlways);

// A set loaded once from its images, and a scratch copy of it that an input
// reloads one file of in place; the copy goes back to the set after the
// input, reusing its storage, so that an input costs no set of its own.
class BaseSet {
 public:
  explicit BaseSet(TableImages images);  // aborts if the images do not load

  const TableImages& images() const { return images_; }
  const std::shared_ptr<const TableSet>& set() const { return set_; }

  // The set with the file `name` replaced (the scratch copy; a new set for
  // a conversion file), or the reload's error.
  Result<std::shared_ptr<const TableSet>> Reload(const std::string& name, const std::string& bytes);
  void Restore();  // the scratch copy back to the set

 private:
  TableImages images_;
  std::shared_ptr<const TableSet> set_;
  std::shared_ptr<TableSet> scratch_;
  bool dirty_ = false;
};

BaseSet& SynthBase();  // the synthetic set
BaseSet& InertBase();  // the set of twenty-two inert files

// LoadReplacedFile on another base set.
void LoadReplacedFile(BaseSet& base, const std::string& name, const std::string& bytes, RoundTrip roundTrip);

// Aborts with a message unless the table file `name` with these bytes
// dumps, and its dump builds back to the same bytes.
void ExpectDumpBuildsBack(const std::string& name, const std::string& bytes);

}  // namespace tallow::fuzz
