// Loading a table set.
//
// The twenty-two files are read in a fixed order; the first failure ends the
// load with a message that names the file and the fault, for example
// "DXTAB8: 56913 bytes, 56914 needed" or
// "RDRGNEO0 line 17: does not begin with a capital letter". Besides the
// faults every grouper must reject (short files, missing lines), a table
// whose counts, starts, class numbers, list offsets or ranges would send a
// lookup outside its arrays is rejected with file, record and field.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tables/formats.h"
#include "tables/status.h"
#include "tables/table_set.h"

namespace tallow {

// The twenty-two table files in load order are kTableFiles (tables/formats.h).

// Where the loader gets the bytes of a file by its table name. Returns
// nullopt when the file cannot be opened; a read error is reported through
// the Status.
using TableFileSource =
    std::function<std::optional<std::string>(const std::string& name, Status* readError)>;

// Reads a whole file in binary. A file that does not exist gives nullopt
// with no error; one that exists but cannot be opened or read sets the error,
// which names the table `name` and the path.
std::optional<std::string> ReadWholeFile(const std::string& path, const std::string& name,
                                         Status* readError);

// Loads from a directory; "" opens every file by its bare name in the
// current working directory.
Result<std::shared_ptr<const TableSet>> LoadTables(const std::string& directory = "");

// Loads from file contents held in memory (table name -> bytes). A name that
// is absent fails like a missing file. The optional conversion files may be
// given under their names too.
using TableImages = std::map<std::string, std::string>;
Result<std::shared_ptr<const TableSet>> LoadTablesFromImages(const TableImages& images);

// Loads through any source; the two functions above are built on it.
Result<std::shared_ptr<const TableSet>> LoadTablesFrom(const TableFileSource& source);

// The set that LoadTablesFromImages gives for `images` with the one file
// `name` (a table or conversion file name) replaced by `bytes`, made from
// `base`, the set those images load to: only the replaced file is read again,
// with what depends on it (the RDRGNEO merge of a replaced DXTAB, a fresh
// diagnosis table under a replaced RDRGNEO, the rows made at load). Gives the
// same set, or the same error, as the whole load; a fuzzer changes one file
// at a time this way. An unknown name is an error.
Result<std::shared_ptr<const TableSet>> ReloadTableFile(const TableSet& base,
                                                        const TableImages& images,
                                                        const std::string& name,
                                                        const std::string& bytes);

// The same in place: `set` holds what `images` load to (a copy made by
// CopyTableSet, say), and the tables of the table file `name` in it are
// replaced. After an error `set` is part-way and must be copied back before
// it is used. Not for the conversion files, whose index a set makes once.
Status ReloadTableFileInto(const TableImages& images, const std::string& name, const std::string& bytes,
                           TableSet* set);

// Every table of `from` into `to`, reusing the storage `to` has; the index
// of conversions that `to` made stays. TableSet itself cannot be copied, so
// that no grouper copies one by mistake.
void CopyTableSet(const TableSet& from, TableSet* to);

}  // namespace tallow
