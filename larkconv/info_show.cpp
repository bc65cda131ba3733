#include "info_show.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "info_text.h"

namespace larkconv::info {

namespace {

constexpr uint32_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1904To1970 = 24107;

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

}  // namespace

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

void PrintEntryDump(const Layout& l, const PdbDatabase& db, int32_t index, std::ostream& out) {
  const uint8_t* bytes;
  size_t length;
  if (l.resourceDb) {
    const PdbResource& res = db.Resources()[static_cast<size_t>(index)];
    bytes = res.bytes;
    length = static_cast<size_t>(res.length);
  } else {
    const PdbRecord& rec = *db.RecordAt(static_cast<uint32_t>(index));
    bytes = rec.bytes;
    length = static_cast<size_t>(rec.length);
  }
  out << Printf("%s %d  offset %u  length %zu\n", EntryNoun(l), index,
                EntryOffset(l, static_cast<size_t>(index)), length);
  for (size_t at = 0; at < length; at += 16)
    PrintDumpLine(bytes + at, at, length - at < 16 ? length - at : 16, out);
}

void PrintDump(const Layout& l, const PdbDatabase& db, Range range, std::ostream& out) {
  for (int32_t i = range.first; i < range.end; ++i) {
    if (i != range.first) out << '\n';
    PrintEntryDump(l, db, i, out);
  }
}

}  // namespace larkconv::info
