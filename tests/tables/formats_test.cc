// The one description of the file formats: the documented file table, the
// field codings and the exclusion-list items.
#include "tables/formats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace tallow {
namespace {

// The row of docs/table-formats.md that a format stands for.
std::string DocumentedRow(const FileFormat& f) {
  std::ostringstream row;
  row << "| " << f.name << " | " << (f.text ? "text" : "binary") << " | ";
  if (f.text) {
    if (f.lines < 0) {
      row << "to the end";
    } else {
      row << f.lines << " lines";
    }
    row << " | lines of up to " << f.maxLineLength << " characters |";
    return row.str();
  }
  row << f.size << " | ";
  for (const SectionLayout& s : f.Sections()) {
    if (&s != &f.Sections().front()) row << "; ";
    row << s.offset << ": " << s.records << " x " << s.recordBytes << " " << s.name;
  }
  row << " |";
  return row.str();
}

TEST(FormatsTest, DocumentedFilesMatchTheFormats) {
  std::ifstream in(std::string(TALLOW_SOURCE_DIR) + "/docs/table-formats.md");
  ASSERT_TRUE(in) << "docs/table-formats.md";
  std::map<std::string, std::string> documented;
  std::vector<std::string> order;
  std::string line;
  bool inFileTable = false;  // the section "Files, in load order"
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inFileTable = line == "## Files, in load order";
    if (!inFileTable) continue;
    for (const FileFormat& f : kFileFormats) {
      if (line.rfind(std::string("| ") + f.name + " |", 0) == 0) {
        documented[f.name] = line;
        order.push_back(f.name);
      }
    }
  }
  ASSERT_EQ(order.size(), kFileFormats.size());
  for (std::size_t i = 0; i < kFileFormats.size(); ++i) {
    const FileFormat& f = kFileFormats[i];
    EXPECT_EQ(order[i], f.name) << "load order";
    EXPECT_EQ(documented[f.name], DocumentedRow(f));
  }
}

TEST(FormatsTest, SectionsFollowEachOtherAndFieldsFillTheirRecords) {
  for (const FileFormat& f : kFileFormats) {
    std::size_t end = 0;
    for (const SectionLayout& s : f.Sections()) {
      EXPECT_EQ(s.offset, end) << f.name << " " << s.name;
      end = s.end();
      int covered = 0;
      for (const FieldLayout& field : s.fields) {
        EXPECT_EQ(field.offset, covered) << f.name << " " << s.name << " " << field.name;
        covered += field.width;
      }
      EXPECT_EQ(covered, s.recordBytes) << f.name << " " << s.name;
    }
    EXPECT_EQ(end, f.size) << f.name;
    EXPECT_EQ(FindFileFormat(f.name), &f);
    EXPECT_EQ(&FileFormatOf(f.kind, f.index), &f);
  }
  EXPECT_EQ(FindFileFormat("DXTAB7"), nullptr);
}

struct FieldCase {
  const char* what;
  FieldLayout field;
  std::vector<unsigned char> bytes;  // the field's bytes, at its offset in the record
  int value;
};

TEST(FormatsTest, FieldsDecodeWithTheirByteOrderAndSign) {
  const FieldCase cases[] = {
      {"start, big-endian signed", CategoryRecord::kStart, {0x01, 0x02}, 258},
      {"negative start", CategoryRecord::kStart, {0xFF, 0xFE}, -2},
      {"count byte", CategoryRecord::kCount, {0xFF}, 255},
      {"DRG number, big-endian unsigned", DrgRuleRecord::kDrgNumber, {0xFF, 0xFF}, 65535},
      {"MDC start after nothing", MdcIndexRecord::kStart, {0x00, 0x07}, 7},
      {"key, little-endian signed", CcKeyRecord::kKeyEntry, {0x02, 0x01}, 258},
      {"negative offset, little-endian", CcOffsetRecord::kListOffset, {0x00, 0x80}, -32768},
      {"date, little-endian 32-bit", DatedDateRecord::kDate, {0x65, 0x7B, 0x31, 0x01}, 20020069},
      {"CC row offset, big-endian", CcRangeRecord::kListOffset, {0x12, 0x34}, 0x1234},
  };
  for (const FieldCase& c : cases) {
    std::vector<unsigned char> record(64, 0);
    std::copy(c.bytes.begin(), c.bytes.end(), record.begin() + c.field.offset);
    EXPECT_EQ(LoadField(record.data(), c.field), c.value) << c.what;
    std::vector<unsigned char> stored(64, 0);
    StoreField(stored.data(), c.field, c.value);
    EXPECT_EQ(stored, record) << c.what;
  }
}

TEST(FormatsTest, ExclusionItemsOfTwoAndThreeBytes) {
  const uint8_t range[] = {0x80, 0x05, 0x03};
  const ExclusionItem r = DecodeExclusionItem(range);
  EXPECT_TRUE(r.range);
  EXPECT_EQ(r.value, 5);
  EXPECT_EQ(r.length, 3);  // covers 5, 6, 7, 8
  EXPECT_EQ(ExclusionItemBytes(range[0]), 3);
  const uint8_t single[] = {0x01, 0x2C};
  EXPECT_EQ(DecodeExclusionItem(single).value, 300);
  EXPECT_FALSE(DecodeExclusionItem(single).range);
  EXPECT_EQ(ExclusionItemBytes(single[0]), 2);
  // Every value, with and without a range, codes and decodes to itself.
  for (int value = 0; value <= kExclusionValueMax; value += 7) {
    for (const ExclusionItem item : {ExclusionItem{value, 0, false}, ExclusionItem{value, value % 256, true}}) {
      uint8_t bytes[3] = {};
      const int n = EncodeExclusionItem(item, bytes);
      ASSERT_EQ(n, ExclusionItemBytes(bytes[0])) << value;
      const ExclusionItem back = DecodeExclusionItem(bytes);
      ASSERT_EQ(back.value, item.value);
      ASSERT_EQ(back.length, item.length);
      ASSERT_EQ(back.range, item.range);
    }
  }
}

}  // namespace
}  // namespace tallow
