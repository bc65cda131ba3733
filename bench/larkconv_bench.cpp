// Micro-benchmarks of the converter's per-record work: float text in both
// directions, format parsing (per record and once per run), the two record
// converters and the CSV line file.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_data.h"
#include "csv.h"
#include "floattext.h"
#include "format.h"
#include "pdb.h"

using namespace larkconv;

namespace {

constexpr size_t kSamples = 1024;  // distinct inputs cycled through by each benchmark

std::vector<uint32_t> FloatSamples() {
  benchdata::Mixer mix(7);
  std::vector<uint32_t> bits;
  for (size_t i = 0; i < kSamples; ++i)
    bits.push_back(i % 2 ? benchdata::AnyFiniteFloat(mix) : benchdata::AmountFloat(mix));
  return bits;
}

std::vector<std::vector<uint8_t>> RecordSamples() {
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t i = 0; i < kSamples; ++i)
    records.push_back(benchdata::MakeRecord(i));
  return records;
}

PdbRecord AsRecord(const std::vector<uint8_t>& bytes) {
  PdbRecord record;
  record.length = static_cast<int32_t>(bytes.size());
  record.bytes = bytes.data();
  return record;
}

/// A temporary file holding the CSV rows of the sample records, read line by
/// line and reopened at its end. Owned by one benchmark run.
class RowFile {
 public:
  RowFile() {
    char name[] = "/tmp/larkconv_bench_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path = name;
    CsvFile out;
    out.Open(path, "w");
    for (const auto& bytes : RecordSamples())
      RecordToRow(AsRecord(bytes), out, benchdata::kFormat);
  }
  ~RowFile() { std::remove(path.c_str()); }
  RowFile(const RowFile&) = delete;
  RowFile& operator=(const RowFile&) = delete;

  // Reads the next line into csv, starting over (untimed) at the end.
  void Next(CsvFile& csv, benchmark::State& state) {
    if (csv.ReadLine()) return;
    state.PauseTiming();
    csv.Open(path, "r");
    csv.ReadLine();
    state.ResumeTiming();
  }

  std::string path;
};

void BM_FormatFloat(benchmark::State& state) {
  const std::vector<uint32_t> bits = FloatSamples();
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(FormatFloat(bits[i++ % kSamples]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFloat);

void BM_ParseFloatBits(benchmark::State& state) {
  std::vector<std::string> texts;
  for (uint32_t bits : FloatSamples())
    texts.push_back(FormatFloat(bits));
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(ParseFloatBits(texts[i++ % kSamples]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseFloatBits);

// Takes one record's 19 fields from fields (a RecordFormat or a FieldCursor).
template <typename Fields>
void TakeFields(Fields& fields) {
  FieldKind kind;
  int32_t size;
  for (int n = 0; n < 19 && fields.NextField(&kind, &size); ++n)
    benchmark::DoNotOptimize(size);
}

// Labels a benchmark whose argument says where the format is parsed.
bool ParsedOnce(benchmark::State& state) {
  const bool once = state.range(0) == 1;
  state.SetLabel(once ? "format parsed once" : "format parsed per record");
  return once;
}

// The per-run cost of the format: one record's 19 fields from a RecordFormat
// built for the record (argument 0), or from a ParsedFormat made once for the
// run (argument 1).
void BM_FormatPerRun(benchmark::State& state) {
  const bool once = ParsedOnce(state);
  const std::string format = benchdata::kFormat;
  ParsedFormat run(format);
  for (auto _ : state) {
    if (once) {
      FieldCursor fields(run);
      TakeFields(fields);
    } else {
      RecordFormat fields(format);
      TakeFields(fields);
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatPerRun)->Arg(0)->Arg(1);

// One record to one CSV line; the line is built but not written anywhere. The
// format is parsed per record (argument 0) or once (argument 1).
void BM_RecordToRow(benchmark::State& state) {
  const bool once = ParsedOnce(state);
  const auto records = RecordSamples();
  const std::string format = benchdata::kFormat;
  ParsedFormat parsed(format);
  CsvFile csv;
  size_t i = 0;
  for (auto _ : state) {
    if (once) {
      RecordToRow(AsRecord(records[i++ % kSamples]), csv, parsed);
    } else {
      RecordToRow(AsRecord(records[i++ % kSamples]), csv, format);
    }
    if (i % 1000 == 0) csv.Abandon();  // lines built without a file are kept till then
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * benchdata::kRecordSize);
}
BENCHMARK(BM_RecordToRow)->Arg(0)->Arg(1);

// One CSV line (read from a cached file) to one record in the image, the
// format parsed per row (argument 0) or once (argument 1), or the line read
// straight from its text as a plain row (argument 2).
void BM_RowToRecord(benchmark::State& state) {
  const bool once = ParsedOnce(state);
  const bool plain = state.range(0) == 2;
  if (plain) state.SetLabel("format parsed once, the line read straight from its text");
  RowFile rows;
  const std::string format = benchdata::kFormat;
  ParsedFormat parsed(format);
  CsvFile csv;
  csv.Open(rows.path, "r");
  PdbDatabase db;
  db.SetResourceDb(false);
  for (auto _ : state) {
    rows.Next(csv, state);
    if (db.RecordCount() == benchdata::kMaxRecords) {
      state.PauseTiming();
      db.Clear();
      state.ResumeTiming();
    }
    if (plain) {
      benchmark::DoNotOptimize(PlainRowToRecord(csv.Line().c_str(), db, parsed));
    } else if (once) {
      RowToRecord(csv, db, parsed);
    } else {
      RowToRecord(csv, db, format);
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RowToRecord)->Arg(0)->Arg(1)->Arg(2);

// Reads one line and splits it into its 19 fields.
void BM_CsvReadLine(benchmark::State& state) {
  RowFile rows;
  CsvFile csv;
  csv.Open(rows.path, "r");
  int64_t bytes = 0;
  for (auto _ : state) {
    rows.Next(csv, state);
    bytes += static_cast<int64_t>(csv.Line().size());
    while (!csv.AtLineEnd())
      benchmark::DoNotOptimize(csv.ReadField());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_CsvReadLine);

// Builds one line of the benchmark's shape: 11 numbers and 8 texts, one with a
// quote to double; with no stream open the lines are kept, and dropped every
// thousand lines.
void BM_CsvBuildLine(benchmark::State& state) {
  CsvFile csv;
  int32_t n = 0;
  int lines = 0;
  for (auto _ : state) {
    for (int i = 0; i < 11; ++i)
      csv.AppendInt(n = static_cast<int32_t>(static_cast<uint32_t>(n) + 977u));  // wraps
    csv.AppendText("Quarterly, \"net\"");
    for (int i = 0; i < 7; ++i)
      csv.AppendText("text of a field");
    csv.WriteLine();
    if (++lines % 1000 == 0) csv.Abandon();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CsvBuildLine);

}  // namespace

BENCHMARK_MAIN();
