#include "tables/identity.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/table_fixture.h"

namespace tallow {
namespace {

TableImages SmallSet() {
  TableImages images;
  for (const char* name : kTableFiles) images[name] = std::string(name) + " bytes of the table";
  return images;
}

TEST(TableDigestTest, EveryByteOfEveryFileCounts) {
  const TableImages base = SmallSet();
  std::set<std::string> digests = {DigestOfImages(base)};
  EXPECT_EQ(digests.begin()->size(), 64u);
  for (const char* name : kTableFiles) {
    TableImages changed = base;
    changed[name][3] ^= 1;
    digests.insert(DigestOfImages(changed));
  }
  EXPECT_EQ(digests.size(), 1 + std::size(kTableFiles));
}

TEST(TableDigestTest, FileBoundariesAndOptionalFilesCount) {
  const TableImages base = SmallSet();
  // The same bytes, one moved from the end of a file to the next.
  TableImages moved = base;
  const char last = moved["DXTAB8"].back();
  moved["DXTAB8"].pop_back();
  moved["DXTAB9"].insert(moved["DXTAB9"].begin(), last);
  EXPECT_NE(DigestOfImages(moved), DigestOfImages(base));

  TableImages withMap = base;
  withMap[kCodeMap2001File] = "";
  EXPECT_NE(DigestOfImages(withMap), DigestOfImages(base));
  // Names outside the set are not part of it.
  TableImages withOther = base;
  withOther["README"] = "notes";
  EXPECT_EQ(DigestOfImages(withOther), DigestOfImages(base));
}

}  // namespace
}  // namespace tallow
