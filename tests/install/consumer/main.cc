// Groups each line of a case file with the installed library and prints the
// jsonl records: consumer TABLES_DIR CASE_FILE.
#include <tallow/tallow.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string digest;
  auto tables = tallow::LoadTablesWithDigest(argv[1], &digest);
  if (!tables.ok()) {
    std::fprintf(stderr, "%s\n", tables.message().c_str());
    return 5;
  }
  tallow::app::LineGrouper grouper(*tables);
  std::ifstream in(argv[2], std::ios::binary);
  std::string line;
  std::string record;
  for (int64_t n = 1; std::getline(in, line) && !line.empty(); ++n) {
    grouper.GroupToJson(n, line.data(), line.size(), &record);
    std::cout << record << '\n';
  }
  std::cerr << "tallow " << TALLOW_VERSION_STRING << " tables " << digest << '\n';
  return 0;
}
