// bench_make_pdb: writes the benchmark database and prints its format string.
//
//   bench_make_pdb OUT.pdb COUNT [accented]
//
// COUNT records (1 to 32767) of 64 bytes each, laid out by the format string
// that is printed on standard output; with "accented", their texts hold
// letters of code page 1252 above 7F. Exit status 0, or 1 on a failure.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_data.h"
#include "pdb.h"

using namespace larkconv;

int main(int argc, char** argv) {
  const bool accented = argc == 4 && std::strcmp(argv[3], "accented") == 0;
  const long count = argc == 3 || accented ? std::strtol(argv[2], nullptr, 10) : 0;
  if (count < 1 || count > benchdata::kMaxRecords) {
    std::fprintf(stderr, "usage: bench_make_pdb OUT.pdb COUNT (1 to %d) [accented]\n",
                 benchdata::kMaxRecords);
    return 1;
  }
  PdbDatabase db;
  db.SetResourceDb(false);
  db.SetName("bench");
  db.SetCreatorType("BnCh", "DATA");
  for (long i = 0; i < count; ++i) {
    const std::vector<uint8_t> bytes = benchdata::MakeRecord(static_cast<uint32_t>(i), accented);
    PdbRecord record;
    record.length = static_cast<int32_t>(bytes.size());
    record.bytes = bytes.data();
    db.AppendRecord(record);
  }
  if (!db.Write(argv[1])) {
    std::fprintf(stderr, "bench_make_pdb: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s\n", benchdata::kFormat);
  return 0;
}
