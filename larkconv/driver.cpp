#include "driver.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ZelError.h"
#include "charset.h"
#include "convert.h"
#include "csv.h"
#include "format.h"
#include "pdb.h"
#include "pieces.h"

namespace larkconv {

namespace {

const char kUsage[] =
    "larkconv - PDB <-> CSV converter for Quorvane Designer and Tindle\n"
    "\n"
    "usage: larkconv -[csv|pdb] [-n dbname] [-t type] [-c creator_id] [-a] [-rA[-[B]]] format "
    "srcfile destfile\n"
    "    -csv    source file is CSV (output to PDB)\n"
    "    -pdb    source file is PDB (output to CSV)\n"
    "    -n      set the output pdb name (invalid if -pdb or -a is specified)\n"
    "    -t      set the output pdb type (invalid if -pdb or -a is specified)\n"
    "    -c      set the output pdb creator (invalid if -pdb or -a is specified)\n"
    "    -a      append to output file\n"
    "    -r      specify records/rows to convert (use one of the 3 forms below)\n"
    "            -rA    convert only row A\n"
    "            -rA-   convert from row A to the end\n"
    "            -rA-B  convert from row A to row B inclusive\n"
    "            (row numbers begin with 0)\n"
    "\n"
    "    format: a format string as used for dwreadx() or DBRecord.read()\n"
    "            see larkconv.txt for full specification\n";

/// The settings of one run as its command line gives them. Filled by
/// ParseCommandLine, read by the two conversion flows.
struct Options {
  bool csvToPdb = false;
  std::string name;
  std::string type = "data";
  std::string creator;
  bool append = false;
  int32_t firstRow = 0;
  int32_t lastRow = -1;          // -1: to the end
  Charset text = Charset::None;  // of the records' text; None: byte for byte
  bool textGiven = false;        // "-e" has been taken
  std::string format;
  std::string source;
  std::string dest;
};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the first n characters of arg equal option, letter case ignored
// (n = npos compares the whole argument).
bool Matches(const char* arg, const char* option, size_t n = std::string::npos) {
  size_t i = 0;
  for (; option[i] != '\0' && i < n; ++i) {
    if (Lower(arg[i]) != option[i]) return false;
  }
  return i == n || arg[i] == '\0';
}

// Prints message and the usage text; the run then ends with -1.
bool Refuse(const char* message) {
  std::fputs(message, stdout);
  std::fputs(kUsage, stdout);
  return false;
}

// Reads decimal digits at p, moving p past them; the value stops at INT32_MAX.
int32_t ReadRowNumber(const char*& p) {
  int32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    value = value > (INT32_MAX - digit) / 10 ? INT32_MAX : value * 10 + digit;
  }
  return value;
}

bool ParseRange(const char* arg, Options* o) {
  if (std::strlen(arg) < 3) return Refuse("-r requires arguments\n");
  const char* p = arg + 2;
  o->firstRow = ReadRowNumber(p);
  if (*p != '-') {
    o->lastRow = o->firstRow;
  } else if (p[1] >= '0' && p[1] <= '9') {
    ++p;
    o->lastRow = ReadRowNumber(p);
  }
  if (o->lastRow != -1 && o->firstRow > o->lastRow)
    return Refuse("last row must be greater than first row\n");
  return true;
}

// Takes the value of "-t" or "-c" at argv[pos + 1]; it must be 4 characters.
bool TakeFourChars(int argc, char** argv, int pos, std::string* value, const char* missing,
                   const char* wrongLength) {
  if (pos + 1 >= argc) return Refuse(missing);
  *value = argv[pos + 1];
  if (value->size() != 4) return Refuse(wrongLength);
  return true;
}

// Takes "-e NAME" at *pos, once, before or after any of the other options,
// moving *pos past it. False on a fault, its message printed.
bool TakeCharset(int argc, char** argv, int* pos, Options* o) {
  if (o->textGiven || *pos >= argc || !Matches(argv[*pos], "-e")) return true;
  if (*pos + 1 >= argc) return Refuse("-e requires a character set\n");
  const std::string name = argv[*pos + 1];
  if (!CharsetNamed(name, &o->text)) {
    const std::string message = "unknown character set \"" + name + "\" (use cp1252 or cp932)\n";
    return Refuse(message.c_str());
  }
  o->textGiven = true;
  *pos += 2;
  return true;
}

// Parses the whole command line; on a fault prints its message and the usage
// text and returns false.
bool ParseCommandLine(int argc, char** argv, Options* o) {
  if (argc < 5) return Refuse("");
  if (Matches(argv[1], "-csv")) {
    o->csvToPdb = true;
  } else if (!Matches(argv[1], "-pdb")) {
    return Refuse("");
  }
  int pos = 2;
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (pos + 1 < argc && Matches(argv[pos], "-n")) {
    o->name = argv[pos + 1];
    if (o->name.size() > 32) return Refuse("database name must be <= 32 characters\n");
    pos += 2;
  }
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (pos < argc && Matches(argv[pos], "-t")) {
    if (!TakeFourChars(argc, argv, pos, &o->type, "-t requires a type\n",
                       "database type must be 4 characters\n"))
      return false;
    pos += 2;
  }
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (pos < argc && Matches(argv[pos], "-c")) {
    if (!TakeFourChars(argc, argv, pos, &o->creator, "-c requires a creator id\n",
                       "database creator id must be 4 characters\n"))
      return false;
    pos += 2;
  }
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (pos < argc && Matches(argv[pos], "-a")) {
    o->append = true;
    ++pos;
  }
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (pos < argc && Matches(argv[pos], "-r", 2)) {
    if (!ParseRange(argv[pos], o)) return false;
    ++pos;
  }
  if (!TakeCharset(argc, argv, &pos, o)) return false;
  if (argc - pos < 3) return Refuse("");
  o->format = argv[pos];
  o->source = argv[pos + 1];
  o->dest = argv[pos + 2];
  return true;
}

// The most rows the run converts: those of the range that the source CSV can
// hold, each taking at least its line end; 0 when its size is unknown.
size_t RowsAtMost(const Options& o) {
  std::error_code error;
  uintmax_t rows = std::filesystem::file_size(o.source, error);
  if (error) return 0;
  if (o.lastRow != -1) rows = std::min<uintmax_t>(rows, uintmax_t(o.lastRow - o.firstRow) + 1);
  return static_cast<size_t>(std::min<uintmax_t>(rows, kPdbMaxRecords));
}

// The message of pattern, whose one number is a "%lld", for count.
ZelError CountError(const char* pattern, int64_t count) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, static_cast<long long>(count));
  return ZelError(text);
}

// A conversion goes in pieces: -pdb of at most this many records and about
// this many bytes of them (a piece holds at least one), -csv of whole lines
// of about this many bytes. When there are several, a second thread converts
// pieces alongside the calling thread.
constexpr int64_t kPieceRecords = 1024;
constexpr uint64_t kPieceBytes = 128 * 1024;

bool TwoThreads() {
  return std::thread::hardware_concurrency() > 1;
}

// The end of the piece of records of db that starts at first, before end.
int64_t PieceEnd(const PdbDatabase& db, int64_t first, int64_t end) {
  uint64_t bytes = 0;
  int64_t i = first;
  for (; i < end && i - first < kPieceRecords && bytes < kPieceBytes; ++i)
    bytes += static_cast<uint32_t>(db.RecordAt(static_cast<uint32_t>(i))->length);
  return i;
}

// Converts records first to end - 1 of db into lines of csv, their text
// read in the format's character set; a record whose text is none in it
// throws its message.
void CodedRecordsToRows(const PdbDatabase& db, int64_t first, int64_t end,
                        const ParsedFormat& format, CsvFile& csv) {
  for (int64_t i = first; i < end; ++i) {
    try {
      RecordToRow(*db.RecordAt(static_cast<uint32_t>(i)), csv, format);
    } catch (const TextFault& fault) {
      throw TextError(fault, format.TextCharset(), i);
    }
  }
}

// Converts records first to end - 1 of db into lines of csv, each piece's
// lines built apart and written in order; their text read in set.
void RecordsToRows(const PdbDatabase& db, int64_t first, int64_t end, const std::string& format,
                   Charset set, CsvFile& csv) {
  const ParsedFormat parsed(format, set);  // only read, by both workers
  CsvFile lines[kPieceSlots];
  std::pair<int64_t, int64_t> pieces[kPieceSlots];
  int64_t next = first;
  PieceSteps steps;
  steps.take = [&](int slot) {
    if (next >= end) return false;
    pieces[slot] = {next, PieceEnd(db, next, end)};
    next = pieces[slot].second;
    return true;
  };
  steps.convert = [&](int slot, int) {
    if (set != Charset::None) {
      CodedRecordsToRows(db, pieces[slot].first, pieces[slot].second, parsed, lines[slot]);
      return;
    }
    for (int64_t i = pieces[slot].first; i < pieces[slot].second; ++i)
      RecordToRow(*db.RecordAt(static_cast<uint32_t>(i)), lines[slot], parsed);
  };
  steps.finish = [&](int slot) { csv.WriteLinesOf(&lines[slot]); };
  RunInPieces(steps, TwoThreads() && PieceEnd(db, first, end) < end);
}

// Each of the two flows returns false when a record or row failed to convert.
bool PdbToCsv(const Options& o, PdbDatabase& db, CsvFile& csv) {
  if (!db.Read(o.source)) throw ZelError("unable to read source pdb");
  if (db.IsResourceDb()) throw ZelError("source pdb cannot be a resource database");
  if (!csv.Open(o.dest, o.append ? "a" : "w")) throw ZelError("unable to open dest csv");
  try {
    // A UTF-8 file begins with its byte order mark, by which spreadsheets know it.
    if (o.text != Charset::None && csv.StartedEmpty()) csv.WriteBytes("\xEF\xBB\xBF", 3);
    // -rA and -rA-B name record A, which must exist; -rA- may start just
    // past the last record and convert nothing.
    const bool named = o.lastRow != -1;
    if (db.RecordCount() < o.firstRow || (named && db.RecordCount() == o.firstRow))
      throw CountError("source pdb does not have first requested record (only %lld records)\n",
                       db.RecordCount());
    const int64_t end = o.lastRow == -1
                            ? db.RecordCount()
                            : std::min<int64_t>(db.RecordCount(), int64_t{o.lastRow} + 1);
    RecordsToRows(db, o.firstRow, end, o.format, o.text, csv);
  } catch (...) {
    csv.Abandon();  // a failed run leaves the destination as it was
    throw;
  }
  if (!csv.Close()) throw ZelError("unable to write dest csv");
  return true;
}

// Reads row number row of the source; false at its end. A source that failed
// to read must not pass for one that ended, nor one that ended inside a quoted
// field carried over from an earlier line.
bool ReadRow(CsvFile& csv, int64_t row) {
  if (csv.ReadLine()) return true;
  if (csv.ReadFailed()) throw ZelError("unable to read source csv");
  if (csv.RowUnterminated())
    throw CountError("unterminated quoted field in source csv row %lld", row);
  return false;
}

/// Whole lines of the source and the records converted from them, in storage
/// kept from piece to piece. Filled and emptied by RowsToRecords.
struct LinesPiece {
  std::string text;
  bool last = false;  // the source ends with text
  LinesConverted converted;
};

// Converts the rows of source from row number row on, up to lastRow (-1: to
// the end), into records appended to db. The source is taken in pieces of
// whole lines, converted apart; a row that goes on past its piece is read
// again with the pieces after it, before they are appended. False when db
// does not take a record.
bool RowsToRecords(CsvFile& source, int64_t row, int32_t lastRow, const std::string& format,
                   Charset set, PdbDatabase& db, bool helper) {
  // Each worker its own format and reader, whose buffers the conversion keeps.
  ParsedFormat formats[2] = {ParsedFormat(format, set), ParsedFormat(format, set)};
  CsvFile readers[2];
  LinesPiece pieces[kPieceSlots];
  for (LinesPiece& piece : pieces)
    piece.converted.records.SetResourceDb(false);
  bool sourceEnded = false;
  std::atomic<bool> rangeEnded{false};  // every row up to lastRow is appended
  std::string rest;                     // the lines of a row begun in pieces already finished
  size_t restTried = 0;                 // its length when it was last converted
  bool converted = true;
  PieceSteps steps;
  steps.take = [&](int slot) {
    LinesPiece& piece = pieces[slot];
    if (sourceEnded || rangeEnded) return false;
    const bool taken = source.ReadLines(&piece.text, kPieceBytes, &piece.last);
    sourceEnded = piece.last;
    if (source.ReadFailed()) {
      piece.text.clear();
      piece.last = sourceEnded = true;
      throw ZelError("unable to read source csv");
    }
    return taken;
  };
  steps.convert = [&](int slot, int worker) {
    LinesPiece& piece = pieces[slot];
    ConvertLines(piece.text, piece.last, formats[worker], readers[worker], &piece.converted);
  };
  steps.finish = [&](int slot) {
    if (rangeEnded) return;
    LinesPiece& piece = pieces[slot];
    const std::string* text = &piece.text;
    if (!rest.empty()) {
      // The piece was converted from its start, inside that row: again, on
      // the calling thread (worker 0), after the row's start, once the lines
      // have at least doubled since the last try.
      rest += piece.text;
      if (!piece.last && rest.size() < 2 * restTried) return;
      ConvertLines(rest, piece.last, formats[0], readers[0], &piece.converted);
      text = &rest;
    }
    LinesConverted& lines = piece.converted;
    int64_t count = lines.records.RecordCount();
    if (lastRow != -1) count = std::min<int64_t>(count, int64_t{lastRow} + 1 - row);
    converted &= db.TakeRecords(lines.records, static_cast<size_t>(count));
    row += count;
    if (lastRow != -1 && row > lastRow) {
      rangeEnded = true;
      return;
    }
    if (lines.fault) RethrowForRow(lines.fault, set, row);
    if (lines.unterminated)
      throw CountError("unterminated quoted field in source csv row %lld", row);
    rest = lines.rest == std::string::npos ? std::string() : text->substr(lines.rest);
    restTried = rest.size();
  };
  RunInPieces(steps, helper);
  return converted;
}

bool CsvToPdb(const Options& o, PdbDatabase& db, CsvFile& csv) {
  if (!csv.Open(o.source, "r")) throw ZelError("unable to read source csv");
  if (o.text != Charset::None) csv.SkipByteOrderMark();
  if (o.append) {
    if (!db.Read(o.dest)) throw ZelError("unable to read dest pdb");
    if (db.IsResourceDb()) throw ZelError("dest pdb cannot be a resource database");
  } else {
    const std::string& name = o.name.empty() ? o.dest : o.name;
    if (o.creator.empty())
      throw ZelError("creator id must be specified when creating a new database");
    db.SetResourceDb(false);
    db.SetName(name);
    db.SetCreatorType(o.creator, o.type);
  }
  int32_t skipped = 0;
  while (skipped < o.firstRow && ReadRow(csv, skipped))
    ++skipped;
  if (skipped < o.firstRow)
    throw CountError("source csv does not have %lld rows, cannot start\n", o.firstRow);
  db.ReserveRecords(RowsAtMost(o));
  std::error_code error;
  const bool large = std::filesystem::file_size(o.source, error) > kPieceBytes && !error;
  const int32_t held = db.RecordCount();
  const bool converted =
      RowsToRecords(csv, o.firstRow, o.lastRow, o.format, o.text, db, TwoThreads() && large);
  // -rA and -rA-B name row A, which must exist; -rA- may start just past the
  // last row and convert nothing.
  if (o.lastRow != -1 && db.RecordCount() == held)
    throw CountError("source csv does not have %lld rows, cannot start\n", int64_t{o.firstRow} + 1);
  if (!db.Write(o.dest)) throw ZelError("unable to write pdb");
  return converted;
}

// Runs the conversion; the image and the CSV file live until it ends, the CSV
// file being closed first.
int Convert(const Options& o) {
  try {
    PdbDatabase db;
    CsvFile csv;
    const bool converted = o.csvToPdb ? CsvToPdb(o, db, csv) : PdbToCsv(o, db, csv);
    if (!converted) std::fputs("There were errors during the conversion\n", stdout);
    return 0;
  } catch (const ZelError& error) {
    std::printf("ZelError: %s\n", error.Message().c_str());
  } catch (const std::exception&) {
    std::fputs("Internal error\n", stdout);
  } catch (...) {
    std::fputs("Internal error\n", stdout);
  }
  return -1;
}

}  // namespace

int RunLarkconv(int argc, char** argv) {
  Options options;
  int status = ParseCommandLine(argc, argv, &options) ? Convert(options) : -1;
  std::fflush(stdout);
  return status;
}

}  // namespace larkconv
