// Fuzzes larkinfo's inspection: the header, the warnings, the record list,
// the dump with the field map and the format check with its round trip
// through the converters, on any file bytes with any format string, without
// a character set and with one. The inspection must fail exactly where the
// reader does, print only printable lines (UTF-8 text too with a character
// set), list one line per record and give one verdict per record checked.
//
// Input: the format string, a line feed, then the file's bytes. Without a
// line feed the whole input is the file, checked with "(b)". A format
// string that starts with "~" is checked with -e cp932, the "~" dropped.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "info.h"
#include "pdb.h"

using namespace larkconv;

namespace {

// Stops the run, naming the line of the check that failed.
void Check(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "pdb_info: the check at line %d failed\n", line);
  std::abort();
}

void CheckPrintable(const std::string& text, bool utf8) {
  Check(text.empty() || text.back() == '\n');
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    Check(c == '\n' || (b >= ' ' && b <= '~') || (utf8 && b >= 0x80));
  }
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

size_t Lines(const std::string& text) {
  return Count(text, "\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const void* newline = std::memchr(data, '\n', size < 256 ? size : 256);
  std::string format = "(b)";
  if (newline != nullptr) {
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(newline) - data);
    format.assign(reinterpret_cast<const char*>(data), length);
    data += length + 1;
    size -= length + 1;
  }
  const bool coded = !format.empty() && format[0] == '~';
  if (coded) format.erase(0, 1);

  bool readable = true;
  int32_t count = 0;
  bool resourceDb = false;
  {
    PdbDatabase db;
    try {
      readable = db.ReadMemory(data, size);
      count = db.RecordCount();
      resourceDb = db.IsResourceDb();
    } catch (const PdbCorruptError&) {
      readable = false;
    }
  }

  std::ostringstream header;
  Check(InspectPdb(data, size, InfoOptions(), header) == (readable ? kInfoOk : kInfoError));
  CheckPrintable(header.str(), false);

  InfoOptions list;
  list.list = true;
  std::ostringstream listed;
  const int listStatus = InspectPdb(data, size, list, listed);
  Check(listStatus == (readable ? kInfoOk : kInfoError));
  CheckPrintable(listed.str(), false);
  if (readable) {
    const std::string text = listed.str();
    Check(Lines(text.substr(text.find("index "))) == static_cast<size_t>(count) + 1);
  }

  // Records 1 to 3 dumped with their field maps, then checked alone: the
  // same verdicts, one per record, and the counts agree with the status.
  InfoOptions all;
  all.dump = all.check = true;
  all.format = format;
  all.text = coded ? Charset::Cp932 : Charset::None;
  all.firstRecord = 1;
  all.lastRecord = 3;
  std::ostringstream shown;
  const int status = InspectPdb(data, size, all, shown);
  CheckPrintable(shown.str(), coded);
  Check(status == kInfoOk || status == kInfoError || status == kInfoMismatch);
  if (!readable || resourceDb || count < 2) Check(status == kInfoError);

  InfoOptions checkOnly = all;
  checkOnly.dump = false;
  std::ostringstream checked;
  Check(InspectPdb(data, size, checkOnly, checked) == status);
  CheckPrintable(checked.str(), false);
  if (status != kInfoError) {
    const std::string text = checked.str().substr(checked.str().find("index  result"));
    const size_t records = static_cast<size_t>(count < 4 ? count - 1 : 3);
    Check(Lines(text) == records + 2);
    Check(Count(text, "  exact ") == Count(shown.str(), "\n  exact "));
    Check((status == kInfoOk) == (Count(text, "  exact ") == records));
  }
  return 0;
}
