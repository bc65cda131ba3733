#include "info.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ZelError.h"
#include "filesys.h"
#include "info_check.h"
#include "info_layout.h"
#include "info_show.h"
#include "info_text.h"
#include "pdb.h"

#ifndef LARKGANTRY_VERSION
#error "the build defines LARKGANTRY_VERSION, the project's version"
#endif

namespace larkconv {

namespace {

using namespace info;

const char kUsage[] =
    "usage: larkinfo [-l] [-x] [-rA[-[B]]] [-e charset] [-f format] pdbfile\n"
    "    (no option)  show the database header\n"
    "    -l           list the records (or resources): one line each\n"
    "    -x           dump the records' bytes in hex and as characters;\n"
    "                 with -f, each record's fields under its bytes\n"
    "    -r           limit -l, -x and -f to some records, as larkconv does:\n"
    "                 -rA only record A, -rA- from A to the end, -rA-B A to B\n"
    "                 (record numbers begin with 0)\n"
    "    -e charset   the records' text is in cp1252 or cp932, as with larkconv -e\n"
    "    -f format    check that every record comes back byte for byte through\n"
    "                 larkconv -pdb and -csv with this format string\n"
    "    --help       show this text\n"
    "    --version    show the version\n"
    "exit status: 0 fine, 1 error, 2 a record that does not come back exactly\n"
    "see larkconv.txt for what each line means\n";

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

// "-e NAME", NAME in any letter case.
bool TakeCharset(int argc, char** argv, int* i, InfoOptions* o, std::ostream& out) {
  if (++*i == argc) return Refuse("-e requires a character set", out);
  const std::string name = argv[*i];
  if (!CharsetNamed(name, &o->text))
    return Refuse("unknown character set \"" + name + "\" (use cp1252 or cp932)", out);
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

// The records -r names, or a message why there are none such: -rA and -rA-B
// name record A, which must exist; -rA- may start just past the last one.
bool Selection(const Layout& layout, int32_t count, const InfoOptions& o, Range* range,
               std::ostream& out) {
  const bool named = o.lastRecord != -1;
  if (o.firstRecord > count || (named && o.firstRecord == count)) {
    out << Printf("larkinfo: the file has no %s %d (only %d)\n", EntryNoun(layout), o.firstRecord,
                  count);
    return false;
  }
  range->first = o.firstRecord;
  range->end = !named || o.lastRecord >= count ? count : o.lastRecord + 1;
  return true;
}

// The parts after the header: the list, the dump and the check, or the dump
// with the field map when both are asked for.
int PrintParts(const Layout& layout, const PdbDatabase& db, Range range, const InfoOptions& o,
               std::ostream& out) {
  if (o.list) PrintList(layout, db, range, out);
  const bool checked = o.check && !layout.resourceDb;
  std::unique_ptr<RecordChecker> checker;
  try {
    if (checked) checker = std::make_unique<RecordChecker>(o.format, o.text);
    if (o.dump && checker) return PrintDumpWithMap(layout, db, range, *checker, out);
    if (o.dump) PrintDump(layout, db, range, out);
    if (checker) return PrintCheck(db, range, *checker, out);
  } catch (const ZelError& error) {
    // Where larkconv meets the format string's fault; before the dump when
    // the text as a whole is faulty, as larkconv is before any record.
    if (o.dump && !checker) PrintDump(layout, db, range, out);
    out << "ZelError: " << error.Message() << '\n';
    return kInfoError;
  }
  if (!o.check) return kInfoOk;
  out << "larkinfo: a resource database holds no records to check; larkconv refuses it\n";
  return kInfoError;
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
    } else if (arg == "-e") {
      if (!TakeCharset(argc, argv, &i, o, out)) return false;
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
  const bool headerOnly = !o.list && !o.dump && !o.check;
  if (size < static_cast<size_t>(kPdbHeaderSize)) {
    // No database: larkconv refuses it as it refuses a file it cannot read.
    if (headerOnly) PrintHeader(ScanLayout(file, size), nullptr, out);
    out << "larkinfo: " << o.path << ": " << ByteCount(size)
        << ", shorter than the 78-byte header: not a PDB file\n";
    return kInfoError;
  }
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
  if (headerOnly) PrintHeader(layout, readable ? &db : nullptr, out);
  for (const std::string& warning : layout.warnings)
    out << "warning: " << warning << '\n';
  if (!readable) {
    out << "larkinfo: " << o.path << ": the " << EntryNoun(layout)
        << "s cannot be read; larkconv stops on this file with \"Internal error\"\n";
    return kInfoError;
  }
  if (headerOnly) return kInfoOk;
  Range range;
  if (!Selection(layout, db.RecordCount(), o, &range, out)) return kInfoError;
  return PrintParts(layout, db, range, o, out);
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
