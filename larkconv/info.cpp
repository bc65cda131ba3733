#include "info.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ZelError.h"
#include "bytes.h"
#include "filesys.h"
#include "format.h"
#include "pdb.h"

#ifndef LARKGANTRY_VERSION
#error "the build defines LARKGANTRY_VERSION, the project's version"
#endif

namespace larkconv {

namespace {

const char kUsage[] =
    "usage: larkinfo [-l] [-x] [-rA[-[B]]] [-f format] pdbfile\n"
    "    (no option)  show the database header\n"
    "    -l           list the records (or resources): one line each\n"
    "    -x           dump the records' bytes in hex and as characters\n"
    "    -r           limit -l, -x and -f to some records, as larkconv does:\n"
    "                 -rA only record A, -rA- from A to the end, -rA-B A to B\n"
    "                 (record numbers begin with 0)\n"
    "    -f format    check a format string against every record\n"
    "    --help       show this text\n"
    "    --version    show the version\n"
    "exit status: 0 fine, 1 error, 2 a record the format does not fit exactly\n"
    "see larkconv.txt for what each line means\n";

constexpr size_t kEntryWarnings = 8;  // entry warnings shown before the rest are counted
constexpr uint32_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1904To1970 = 24107;

/// The parts of a PDB file as its header and entry list place them, checked
/// against its size. Made by ScanLayout, read by the printers.
struct Layout {
  const uint8_t* file = nullptr;
  size_t size = 0;
  PdbHeader header;
  bool resourceDb = false;
  size_t entrySize = 8;
  uint64_t listEnd = 0;     // the end of the entry list
  bool entriesFit = false;  // the count is not negative and the list lies in the file
  bool offsetsFit = false;  // and every offset is in order and inside the file
  std::vector<std::string> warnings;
};

#if defined(__GNUC__) && !defined(_WIN32)
std::string Printf(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
#endif

std::string Printf(const char* pattern, ...) {
  char text[256];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

// "1 byte", "2 bytes": n and the noun, in the plural unless n is 1.
std::string Counted(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string ByteCount(uint64_t n) {
  return Counted(n, "byte");
}

const char* EntryNoun(const Layout& l) {
  return l.resourceDb ? "resource" : "record";
}

// The offset in entry i; only called once the entry list is known to fit.
uint32_t EntryOffset(const Layout& l, size_t i) {
  const uint8_t* entry = l.file + kPdbHeaderSize + i * l.entrySize;
  uint32_t offset = 0;
  GetBig32(entry + (l.resourceDb ? 6 : 0), l.file + l.size, &offset);
  return offset;
}

// Checks every entry's offset against the next one and the file's end, as
// the reader does; a fault there stops the reader.
void ScanOffsets(Layout* l) {
  const size_t n = static_cast<size_t>(l->header.numRecords);
  size_t faults = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t start = EntryOffset(*l, i);
    std::string fault;
    if (start > l->size) {
      fault = Printf("%s %zu starts at %u, past the end of the file", EntryNoun(*l), i, start);
    } else if (i + 1 < n && EntryOffset(*l, i + 1) < start) {
      fault = Printf("%s %zu starts at %u, before %s %zu at %u", EntryNoun(*l), i + 1,
                     EntryOffset(*l, i + 1), EntryNoun(*l), i, start);
    }
    if (fault.empty()) continue;
    if (++faults <= kEntryWarnings) l->warnings.push_back(fault);
  }
  if (faults > kEntryWarnings)
    l->warnings.push_back(Printf("%zu more entries are out of place", faults - kEntryWarnings));
  l->offsetsFit = faults == 0;
  if (l->offsetsFit && n > 0 && EntryOffset(*l, 0) < l->listEnd) {
    l->warnings.push_back(
        Printf("%s 0 starts at %u, inside the header and entry list, which end at %llu",
               EntryNoun(*l), EntryOffset(*l, 0), static_cast<unsigned long long>(l->listEnd)));
  }
}

Layout ScanLayout(const uint8_t* file, size_t size) {
  Layout l;
  l.file = file;
  l.size = size;
  l.header = DecodePdbHeader(file, size);
  l.resourceDb = (l.header.attributes & 0x0001) != 0;
  l.entrySize = l.resourceDb ? 10 : 8;
  if (size < static_cast<size_t>(kPdbHeaderSize)) {
    l.warnings.push_back(
        Printf("the file is %zu bytes, shorter than the 78-byte header; "
               "the missing bytes read as 0",
               size));
  }
  if (std::memchr(l.header.name, 0, sizeof l.header.name) == nullptr)
    l.warnings.push_back("the name fills all 32 bytes, with no zero byte to end it");
  const int16_t n = l.header.numRecords;
  l.listEnd = kPdbHeaderSize + static_cast<uint64_t>(n < 0 ? 0 : n) * l.entrySize;
  if (n < 0) {
    l.warnings.push_back(Printf("the %s count %d is negative", EntryNoun(l), n));
  } else if (n > 0 && l.listEnd > size) {
    l.warnings.push_back(Printf("the list of %d entries ends at %llu, past the end of the file", n,
                                static_cast<unsigned long long>(l.listEnd)));
  } else {
    l.entriesFit = true;
    ScanOffsets(&l);
  }
  if (l.header.nextRecordListID != 0) {
    l.warnings.push_back(Printf("the header names a further entry list at %u, which is not read",
                                l.header.nextRecordListID));
  }
  return l;
}

// Warns of the bytes between the entry list and the data that belong to no
// AppInfo or SortInfo block, and of block offsets the reader ignores.
void ScanBlocks(Layout* l, const PdbDatabase& db) {
  const uint64_t dataStart = l->header.numRecords > 0 ? EntryOffset(*l, 0) : l->size;
  uint64_t firstUsed = dataStart;
  const struct {
    const char* name;
    uint32_t id;
    bool read;
  } blocks[] = {{"AppInfo", l->header.appInfoID, !db.AppInfo().empty()},
                {"SortInfo", l->header.sortInfoID, !db.SortInfo().empty()}};
  for (const auto& block : blocks) {
    if (block.read && block.id < firstUsed) firstUsed = block.id;
    if (block.id != 0 && !block.read) {
      l->warnings.push_back(
          Printf("the %s block's offset %u is not between the entry list and "
                 "the data; the block is not read",
                 block.name, block.id));
    }
  }
  if (firstUsed > l->listEnd) {
    const uint64_t gap = firstUsed - l->listEnd;
    const bool filler = gap == 2 && l->file[l->listEnd] == 0 && l->file[l->listEnd + 1] == 0;
    l->warnings.push_back(
        Printf("%s at %llu, between the entry list and the data, belong to no "
               "record or block%s",
               ByteCount(gap).c_str(), static_cast<unsigned long long>(l->listEnd),
               filler ? " (the customary 2-byte filler)" : ""));
  }
}

// Header text: printable ASCII as it is, other bytes (blanks too where
// blanks would split a column) as \xHH, a backslash doubled.
std::string Escaped(const char* bytes, size_t length, bool keepBlanks) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\') {
      text += "\\\\";
    } else if (c > ' ' && c < 0x7F) {
      text += static_cast<char>(c);
    } else if (c == ' ' && keepBlanks) {
      text += ' ';
    } else {
      text += Printf("\\x%02x", c);
    }
  }
  return text;
}

// A date as "YYYY-MM-DD hh:mm:ss" UTC, counted from 1904-01-01; 0 is "never".
std::string DateText(uint32_t seconds) {
  if (seconds == 0) return "never";
  // Days to a civil date, counting from 0000-03-01 so that leap days end a year.
  const int64_t z = seconds / kSecondsPerDay - kDaysFrom1904To1970 + 719468;
  const int64_t era = z / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const uint32_t time = seconds % kSecondsPerDay;
  return Printf("%04d-%02d-%02d %02u:%02u:%02u", static_cast<int>(year), static_cast<int>(month),
                static_cast<int>(day), time / 3600, time / 60 % 60, time % 60);
}

std::string AttributeText(uint16_t attributes) {
  static const char* const kNames[16] = {"resource database",
                                         "read-only",
                                         "AppInfo dirty",
                                         "backup",
                                         "install newer",
                                         "reset after install",
                                         "copy prevention",
                                         "stream",
                                         "hidden",
                                         "launchable data",
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         "open"};
  std::string text = Printf("0x%04x", attributes);
  const char* separator = " ";
  for (unsigned bit = 0; bit < 16; ++bit) {
    if ((attributes & (1u << bit)) == 0) continue;
    text += separator;
    text += kNames[bit] ? kNames[bit] : Printf("0x%04x", 1u << bit).c_str();
    separator = ", ";
  }
  return text;
}

std::string BlockText(uint32_t id, const std::vector<uint8_t>& block, bool known) {
  if (id == 0) return "none";
  if (!known) return Printf("offset %u", id);
  if (block.empty()) return Printf("offset %u ignored", id);
  return Printf("offset %u size %zu", id, block.size());
}

void PrintHeader(const Layout& l, const PdbDatabase* db, std::ostream& out) {
  const PdbHeader& h = l.header;
  const void* nameEnd = std::memchr(h.name, 0, sizeof h.name);
  const size_t nameLength =
      nameEnd ? static_cast<size_t>(static_cast<const char*>(nameEnd) - h.name) : sizeof h.name;
  static const std::vector<uint8_t> kNone;
  const auto line = [&](const char* key, const std::string& value) {
    out << Printf("%-16s", key) << value << '\n';
  };
  line("name", Escaped(h.name, nameLength, true));
  line("type", Escaped(h.type, sizeof h.type, false));
  line("creator", Escaped(h.creator, sizeof h.creator, false));
  line("attributes", AttributeText(h.attributes));
  line("version", std::to_string(h.version));
  line("created", DateText(h.creationDate));
  line("modified", DateText(h.modificationDate));
  line("backed-up", DateText(h.lastBackupDate));
  line("mod-number", std::to_string(h.modificationNumber));
  line("appinfo", BlockText(h.appInfoID, db ? db->AppInfo() : kNone, db != nullptr));
  line("sortinfo", BlockText(h.sortInfoID, db ? db->SortInfo() : kNone, db != nullptr));
  line("unique-id-seed", std::to_string(h.uniqueIDSeed));
  line(l.resourceDb ? "resources" : "records", std::to_string(h.numRecords));
  line("file-size", std::to_string(l.size));
}

std::string RecordFlags(uint8_t attributes) {
  static const char* const kFlags[] = {"secret", "busy", "dirty", "delete"};
  std::string text;
  for (int bit = 7; bit >= 4; --bit) {
    if ((attributes & (1u << bit)) == 0) continue;
    if (!text.empty()) text += ',';
    text += kFlags[bit - 4];
  }
  return text.empty() ? "-" : text;
}

/// The records or resources chosen by -r, as indexes into the image. Made by
/// Selection, walked by the list, dump and check.
struct Range {
  int32_t first = 0;
  int32_t end = 0;  // one past the last
};

void PrintList(const Layout& l, const PdbDatabase& db, Range range, std::ostream& out) {
  if (l.resourceDb) {
    out << "index  type      id      offset      length\n";
    for (int32_t i = range.first; i < range.end; ++i) {
      const PdbResource& res = db.Resources()[static_cast<size_t>(i)];
      out << Printf("%5d  %-4s  %6d  %10u  %10d\n", i,
                    Escaped(res.type.data(), res.type.size(), false).c_str(), res.id,
                    EntryOffset(l, static_cast<size_t>(i)), res.length);
    }
    return;
  }
  out << "index      offset      length  attr  cat  unique-id  flags\n";
  for (int32_t i = range.first; i < range.end; ++i) {
    const PdbRecord& rec = *db.RecordAt(static_cast<uint32_t>(i));
    out << Printf("%5d  %10u  %10d  0x%02x  %3u  %9u  %s\n", i,
                  EntryOffset(l, static_cast<size_t>(i)), rec.length, rec.attributes,
                  rec.attributes & 0x0Fu, rec.uniqueId, RecordFlags(rec.attributes).c_str());
  }
}

// One line of a dump: offset, up to 16 bytes in hex, and as characters.
void PrintDumpLine(const uint8_t* bytes, size_t offset, size_t count, std::ostream& out) {
  static const char kHex[] = "0123456789abcdef";
  char line[96];
  size_t at = static_cast<size_t>(std::snprintf(line, sizeof line, "  %08zx ", offset));
  for (size_t i = 0; i < 16; ++i) {
    if (i == 8) line[at++] = ' ';
    line[at++] = ' ';
    line[at++] = i < count ? kHex[bytes[i] >> 4] : ' ';
    line[at++] = i < count ? kHex[bytes[i] & 0x0F] : ' ';
  }
  line[at++] = ' ';
  line[at++] = ' ';
  line[at++] = '|';
  for (size_t i = 0; i < count; ++i)
    line[at++] = bytes[i] >= ' ' && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  line[at++] = '|';
  line[at++] = '\n';
  out.write(line, static_cast<std::streamsize>(at));
}

void PrintDump(const Layout& l, const PdbDatabase& db, Range range, std::ostream& out) {
  for (int32_t i = range.first; i < range.end; ++i) {
    const uint8_t* bytes;
    size_t length;
    if (l.resourceDb) {
      const PdbResource& res = db.Resources()[static_cast<size_t>(i)];
      bytes = res.bytes;
      length = static_cast<size_t>(res.length);
    } else {
      const PdbRecord& rec = *db.RecordAt(static_cast<uint32_t>(i));
      bytes = rec.bytes;
      length = static_cast<size_t>(rec.length);
    }
    if (i != range.first) out << '\n';
    out << Printf("%s %d  offset %u  length %zu\n", EntryNoun(l), i,
                  EntryOffset(l, static_cast<size_t>(i)), length);
    for (size_t at = 0; at < length; at += 16)
      PrintDumpLine(bytes + at, at, length - at < 16 ? length - at : 16, out);
  }
}

std::string FieldName(FieldKind kind, int32_t size) {
  switch (kind) {
    case FieldKind::Integer:
      return Printf("%d-byte integer", size);
    case FieldKind::Char:
      return "character";
    case FieldKind::Float:
      return "float";
    case FieldKind::String:
      break;
  }
  return size == 0 ? "zero-terminated string" : Printf("%d-byte string", size);
}

/// How one record fits a format: its bytes used exactly, bytes left over, or
/// a field that runs out of bytes. Made by CheckRecord, printed by PrintCheck.
struct Fit {
  enum Result { Exact, Over, Short } result = Exact;
  std::string detail;
};

// Reads the record's fields as RecordToRow does and tells how they fit.
Fit CheckRecord(const PdbRecord& record, const std::string& format) {
  RecordFormat fields(format);
  const size_t length = static_cast<size_t>(record.length);
  size_t offset = 0;
  uint64_t count = 0;  // a record of 2^31 one-byte fields counts them all
  FieldKind kind;
  int32_t size;
  for (;;) {
    const bool wholeRounds = fields.AtGroupStart();
    if (!fields.NextField(&kind, &size)) break;
    const size_t left = length - offset;
    const size_t used = FieldBytes(kind, size, record.bytes + offset, left);
    if (used == 0 && left == 0 && wholeRounds) break;
    ++count;
    if (used == 0) {
      return {Fit::Short,
              Printf("runs out of bytes at field %llu: %s needs %s, %s left",
                     static_cast<unsigned long long>(count), FieldName(kind, size).c_str(),
                     ByteCount(size == 0 ? 1 : size).c_str(), std::to_string(left).c_str())};
    }
    if (kind == FieldKind::String && size == 0 && record.bytes[offset + used - 1] != 0) {
      return {Fit::Short,
              Printf("runs out of bytes at field %llu: %s finds no zero byte in the %s left",
                     static_cast<unsigned long long>(count), FieldName(kind, size).c_str(),
                     ByteCount(left).c_str())};
    }
    offset += used;
  }
  if (offset < length) {
    return {Fit::Over,
            "leaves " + ByteCount(length - offset) + " over after " + Counted(count, "field")};
  }
  return {Fit::Exact, "uses its " + ByteCount(length) + " exactly in " + Counted(count, "field")};
}

int PrintCheck(const PdbDatabase& db, Range range, const std::string& format, std::ostream& out) {
  static const char* const kResults[] = {"exact", "over", "short"};
  int32_t counts[3] = {};
  out << "index  result  detail\n";
  for (int32_t i = range.first; i < range.end; ++i) {
    const Fit fit = CheckRecord(*db.RecordAt(static_cast<uint32_t>(i)), format);
    ++counts[fit.result];
    out << Printf("%5d  %-6s  ", i, kResults[fit.result]) << fit.detail << '\n';
  }
  const int32_t checked = range.end - range.first;
  out << "checked " << Counted(checked, "record")
      << Printf(": %d exact, %d over, %d short\n", counts[Fit::Exact], counts[Fit::Over],
                counts[Fit::Short]);
  return counts[Fit::Exact] == checked ? kInfoOk : kInfoMismatch;
}

// Reads decimal digits at p, moving p past them; the value stops at INT32_MAX.
int32_t ReadRecordNumber(const char*& p) {
  int32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const int digit = *p - '0';
    value = value > (INT32_MAX - digit) / 10 ? INT32_MAX : value * 10 + digit;
  }
  return value;
}

bool Refuse(const std::string& message, std::ostream& out) {
  out << "larkinfo: " << message << '\n' << kUsage;
  return false;
}

// "-rA", "-rA-" or "-rA-B", read as larkconv reads them.
bool ParseRange(const char* arg, InfoOptions* o, std::ostream& out) {
  if (std::strlen(arg) < 3) return Refuse("-r requires arguments", out);
  const char* p = arg + 2;
  o->firstRecord = ReadRecordNumber(p);
  o->lastRecord = o->firstRecord;
  if (*p == '-') {
    ++p;
    o->lastRecord = *p >= '0' && *p <= '9' ? ReadRecordNumber(p) : -1;
  }
  if (o->lastRecord != -1 && o->firstRecord > o->lastRecord)
    return Refuse("last row must be greater than first row", out);
  return true;
}

bool LoadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  const int64_t length = filesys::FileLength(file);
  bool ok = length >= 0 && static_cast<uint64_t>(length) <= SIZE_MAX;
  if (ok) {
    bytes->resize(static_cast<size_t>(length));
    ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
  }
  std::fclose(file);
  return ok;
}

}  // namespace

bool ParseInfoCommandLine(int argc, char** argv, InfoOptions* o, std::ostream& out) {
  bool haveFile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      o->help = true;
    } else if (arg == "--version") {
      o->version = true;
    } else if (arg == "-l") {
      o->list = true;
    } else if (arg == "-x") {
      o->dump = true;
    } else if (arg.compare(0, 2, "-r") == 0) {
      if (!ParseRange(argv[i], o, out)) return false;
    } else if (arg == "-f") {
      if (++i == argc) return Refuse("-f requires a format string", out);
      o->check = true;
      o->format = argv[i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Refuse("unknown option " + arg, out);
    } else if (haveFile) {
      return Refuse("one pdb file at a time", out);
    } else {
      o->path = arg;
      haveFile = true;
    }
  }
  if (!haveFile && !o->help && !o->version) return Refuse("no pdb file given", out);
  return true;
}

int InspectPdb(const uint8_t* file, size_t size, const InfoOptions& o, std::ostream& out) {
  Layout layout = ScanLayout(file, size);
  PdbDatabase db;
  bool readable = layout.entriesFit && layout.offsetsFit;
  if (readable) {
    try {
      db.ReadMemory(file, size);
      ScanBlocks(&layout, db);
    } catch (const PdbCorruptError&) {
      readable = false;
    } catch (const std::bad_alloc&) {
      readable = false;  // as larkconv, which reports "Internal error" for both
    }
  }
  const bool headerOnly = !o.list && !o.dump && !o.check;
  if (headerOnly) PrintHeader(layout, readable ? &db : nullptr, out);
  for (const std::string& warning : layout.warnings)
    out << "warning: " << warning << '\n';
  if (!readable) {
    out << "larkinfo: " << o.path << ": the " << EntryNoun(layout)
        << "s cannot be read; larkconv stops on this file with \"Internal error\"\n";
    return kInfoError;
  }
  if (headerOnly) return kInfoOk;

  const int32_t count = db.RecordCount();
  if (o.firstRecord > count) {
    out << Printf("larkinfo: the file has no %s %d (only %d)\n", EntryNoun(layout), o.firstRecord,
                  count);
    return kInfoError;
  }
  Range range{o.firstRecord,
              o.lastRecord == -1 || o.lastRecord >= count ? count : o.lastRecord + 1};
  if (o.list) PrintList(layout, db, range, out);
  if (o.dump) PrintDump(layout, db, range, out);
  if (!o.check) return kInfoOk;
  if (layout.resourceDb) {
    out << "larkinfo: a resource database holds no records to check; larkconv refuses it\n";
    return kInfoError;
  }
  try {
    RecordFormat validated(o.format);
    return PrintCheck(db, range, o.format, out);
  } catch (const ZelError& error) {
    out << "ZelError: " << error.Message() << '\n';
  }
  return kInfoError;
}

int RunLarkinfo(int argc, char** argv, std::ostream& out) {
  InfoOptions options;
  if (!ParseInfoCommandLine(argc, argv, &options, out)) return kInfoError;
  if (options.help) {
    out << kUsage;
    return kInfoOk;
  }
  if (options.version) {
    out << "larkinfo " << LARKGANTRY_VERSION << '\n';
    return kInfoOk;
  }
  std::vector<uint8_t> bytes;
  if (!LoadFile(options.path, &bytes)) {
    out << "larkinfo: unable to read " << options.path << '\n';
    return kInfoError;
  }
  return InspectPdb(bytes.data(), bytes.size(), options, out);
}

}  // namespace larkconv
