// Fuzzes larkinfo's inspection: the header, the warnings, the record list,
// the dump and the format check, on any file bytes with any format string.
// The inspection must fail exactly where the reader does, print only
// printable lines, and list one line per record.
//
// Input: the format string, a line feed, then the file's bytes. Without a
// line feed the whole input is the file, checked with "(b)".

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "info.h"
#include "pdb.h"

using namespace larkconv;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckPrintable(const std::string& text) {
  Check(text.empty() || text.back() == '\n');
  for (char c : text)
    Check(c == '\n' || (c >= ' ' && c <= '~'));
}

size_t Lines(const std::string& text) {
  size_t lines = 0;
  for (char c : text)
    lines += c == '\n';
  return lines;
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

  bool readable = true;
  int32_t count = 0;
  bool resourceDb = false;
  {
    PdbDatabase db;
    try {
      db.ReadMemory(data, size);
      count = db.RecordCount();
      resourceDb = db.IsResourceDb();
    } catch (const PdbCorruptError&) {
      readable = false;
    }
  }

  std::ostringstream header;
  Check(InspectPdb(data, size, InfoOptions(), header) == (readable ? kInfoOk : kInfoError));
  CheckPrintable(header.str());

  InfoOptions list;
  list.list = true;
  std::ostringstream listed;
  const int listStatus = InspectPdb(data, size, list, listed);
  Check(listStatus == (readable ? kInfoOk : kInfoError));
  CheckPrintable(listed.str());
  if (readable) {
    const std::string text = listed.str();
    Check(Lines(text.substr(text.find("index "))) == static_cast<size_t>(count) + 1);
  }

  InfoOptions all;
  all.dump = all.check = true;
  all.format = format;
  all.firstRecord = 1;
  all.lastRecord = 3;
  std::ostringstream shown;
  const int status = InspectPdb(data, size, all, shown);
  CheckPrintable(shown.str());
  Check(status == kInfoOk || status == kInfoError || status == kInfoMismatch);
  if (!readable || resourceDb || count < 1) Check(status == kInfoError);
  return 0;
}
