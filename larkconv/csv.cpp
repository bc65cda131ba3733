#include "csv.h"

#include <algorithm>
#include <climits>

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The number text begins with, as strtol reads it in base 10, held to 32 bits.
int32_t ParseInt32(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    magnitude = std::min(limit, magnitude * 10 + (text[i] - '0'));
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::string DoubleQuotes(const std::string& text) {
  std::string doubled;
  doubled.reserve(text.size());
  for (char c : text) {
    doubled.push_back(c);
    if (c == '"') doubled.push_back('"');
  }
  return doubled;
}

}  // namespace

CsvFile::~CsvFile() {
  if (stream) std::fclose(stream);
}

bool CsvFile::Open(const std::string& path, const char* mode) {
  Close();
  stream = std::fopen(path.c_str(), mode);
  return stream != nullptr;
}

bool CsvFile::ReadLine() {
  if (!stream) return false;
  std::string next;
  int c;
  while ((c = std::getc(stream)) != EOF) {
    next.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (next.empty() || std::ferror(stream)) return false;
  size_t size = next.size();
  if (size >= 2 && next[size - 2] == '\r' && next[size - 1] == '\n') next.erase(size - 2, 1);
  line.swap(next);
  cursor = 0;
  return true;
}

char CsvFile::CharAtCursor() const {
  return cursor < line.size() ? line[cursor] : '\0';
}

bool CsvFile::AtLineEnd() const {
  return CharAtCursor() == '\0';
}

std::string CsvFile::ReadField() {
  std::string field;
  if (CharAtCursor() == '\0') return field;
  if (CharAtCursor() == '"') {
    ++cursor;
    for (;;) {
      char c = CharAtCursor();
      if (c == '\0') break;
      ++cursor;
      if (c == '\n') break;
      if (c == '"') {
        if (CharAtCursor() != '"') break;
        ++cursor;
      }
      field.push_back(c);
    }
  }
  for (char c = CharAtCursor(); c != ',' && c != '\n' && c != '\0'; c = CharAtCursor()) {
    field.push_back(c);
    ++cursor;
  }
  if (CharAtCursor() != '\0') ++cursor;
  return field;
}

int32_t CsvFile::ReadIntField() {
  return ParseInt32(ReadField());
}

bool CsvFile::AppendInt(int32_t value) {
  char field[16];
  std::snprintf(field, sizeof field, ",\"%d\"", static_cast<int>(value));
  line += line.empty() ? field + 1 : field;
  return true;
}

bool CsvFile::AppendText(std::string text) {
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  std::string field = ",\"" + DoubleQuotes(text) + "\"";
  line.append(field, line.empty() ? 1 : 0, std::string::npos);
  return true;
}

bool CsvFile::WriteLine() {
  if (stream) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
  }
  line.clear();
  return true;
}

bool CsvFile::ReadFailed() const {
  return stream && std::ferror(stream);
}

bool CsvFile::Close() {
  if (!stream) return true;
  bool ok = !std::ferror(stream);
  ok = std::fclose(stream) == 0 && ok;
  stream = nullptr;
  return ok;
}
