#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "outputfile.h"

namespace larkconv {

/// One CSV text file and its current line: read line by line and split into
/// fields, or built field by field and written. One per run, owned by the driver.
class CsvFile {
 public:
  CsvFile() = default;
  ~CsvFile();
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  // mode is "r", "w" or "a". A file is read in binary ("rb": ReadLine drops
  // the CR of CR LF itself) and written in text mode, so lines end the
  // platform's text way. Writing goes to a new file beside the destination that
  // replaces it when the file is closed ("a": the new file starts with the old
  // bytes), or, for a device, FIFO or terminal, to the destination itself.
  bool Open(const std::string& path, const char* mode);
  // True when the file just opened for writing starts empty: mode "w", or
  // "a" onto a missing or empty file.
  bool StartedEmpty() const { return startedEmpty; }
  // Skips the UTF-8 byte order mark EF BB BF at the very start of the file
  // just opened for reading, if it is there.
  void SkipByteOrderMark();

  // Reads one row, of any length, keeping its "\n": a physical line, and the
  // lines after it for as long as a quoted part is open at a line's end (the
  // "\n" then belongs to the field). A carriage return right before a "\n" is
  // dropped; a zero byte cuts its line and ends the row. False at end of file,
  // on a read error, and when the file ends inside a quoted part begun on an
  // earlier line (see RowUnterminated).
  bool ReadLine();
  // True when the last ReadLine found the file's end inside a quoted part
  // carried over from an earlier line.
  bool RowUnterminated() const { return unterminated; }
  // True when the last ReadLine found the end of what it reads inside a
  // quoted part, whether the row then ended there or not.
  bool EndedInQuote() const { return endedInQuote; }

  // Replaces *lines with the whole lines that follow the rows read so far:
  // at least about bytes, up to and with a "\n", or all that is left. *last
  // tells whether the file ends with them. False when nothing is left or a
  // read failed (see ReadFailed).
  bool ReadLines(std::string* lines, size_t about, bool* last);
  // Closes any file and reads rows from the size bytes at text instead, as
  // from a file that holds them; text must stay until then.
  void ReadFrom(const char* text, size_t size);
  // How many bytes of the text ReadFrom gave have been read as rows.
  size_t ReadOffset() const { return readPos; }
  bool AtLineEnd() const { return CharAtCursor() == '\0'; }
  std::string ReadField();
  // Appends the next field to field, so that a caller can reuse its storage.
  void ReadField(std::string* field);
  // When the field at the cursor is a run of the row read unchanged (bare, or
  // quoted without a quote or line feed inside): points text at it, sets its
  // length and moves on as ReadField does. Otherwise false, nothing moved.
  bool ReadPlainField(const char** text, size_t* length);
  int32_t ReadIntField();

  void AppendInt(int32_t value);
  // Adds the text up to its first zero byte as one quoted field.
  void AppendText(const std::string& text);
  void AppendText(const char* text, size_t length);  // the length bytes at text
  void AppendChar(char c);                           // AppendText of the one byte c
  // Ends the line built so far with its "\n" and starts a new one; written
  // lines go to the file in blocks, the last ones when it is closed. A write
  // error shows when the file is closed. Without an open file the lines are
  // kept, for WriteLinesOf or Abandon.
  void WriteLine() {
    *BuiltRoom(1) = '\n';
    lineStart = ++builtLength;
    if (stream && lineStart >= kWriteBlock) WriteBuilt(lineStart - lineStart % kWriteBlock);
  }
  // Writes the lines that lines ended, in order, after those of this file,
  // and drops them from lines. Between lines only: throws std::logic_error
  // while this file's line is being built.
  void WriteLinesOf(CsvFile* lines);
  // Writes the length bytes at bytes as they stand after the lines ended so
  // far. Between lines only, as WriteLinesOf.
  void WriteBytes(const char* bytes, size_t length);
  // The lines ended and not yet written, as they go to the file (in text
  // mode a file may then end them otherwise): *length bytes at the result.
  // Without an open file they stay until Abandon drops them.
  const char* EndedLines(size_t* length) const {
    *length = lineStart;
    return built.get();
  }

  // True when a read of the stream has failed (not merely reached its end).
  bool ReadFailed() const;
  // Closes the stream, putting a written file in place of the destination;
  // false when it had an error or the close failed (the destination is then
  // as it was). Destruction closes the same way.
  bool Close();
  // Closes a written file without touching the destination; drops every
  // line not yet written.
  void Abandon();

  // The row ReadLine read last, whole. larkconv takes it field by field; only
  // the tests, fuzz targets and benchmarks look at it whole.
  const std::string& Line() const { return line; }

 private:
  // Written lines go to the stream in whole blocks of the size of its buffer,
  // which the standard library then writes without copying them.
  static constexpr size_t kWriteBlock = OutputFile::kBufferSize;

  char CharAtCursor() const { return cursor < line.size() ? line[cursor] : '\0'; }
  // Room for n more characters at the end of the line being built.
  char* BuiltRoom(size_t n) {
    return n <= builtCapacity - builtLength ? built.get() + builtLength : GrowBuilt(n);
  }
  char* GrowBuilt(size_t n);
  void WriteBuilt(size_t length);  // writes the first length bytes of ended lines
  void DropBuilt(size_t length);   // and drops them
  bool ReadPlainNumber(int32_t* value);
  char* StartField(char* p) const;
  bool FillReadBuffer(size_t most = SIZE_MAX);
  bool AppendPhysicalLine(std::string* row);

  std::string line;      // the row read last; a zero byte in it ends it, as the end does
  std::string nextLine;  // where ReadLine reads, keeping its storage from line to line
  std::string intField;  // where ReadIntField reads its text, likewise
  size_t cursor = 0;
  bool unterminated = false;
  bool endedInQuote = false;
  bool startedEmpty = false;
  FILE* stream = nullptr;
  // ReadLine takes the stream in blocks: the block and its unread part
  // (readData is readBuffer's, or the text of ReadFrom).
  std::unique_ptr<char[]> readBuffer;
  const char* readData = nullptr;
  size_t readPos = 0;
  size_t readEnd = 0;
  bool readError = false;  // a read of the stream failed
  OutputFile output;       // the destination when writing; stream is then its stream
  // The lines WriteLine ended, not yet written, then the line AppendInt and
  // AppendText build: the first builtLength characters of storage of
  // builtCapacity, kept from line to line; the line built starts at lineStart.
  std::unique_ptr<char[]> built;
  size_t builtLength = 0;
  size_t lineStart = 0;
  size_t builtCapacity = 0;
};

// The number the length bytes at text begin with, as ReadIntField reads a
// field of that text.
int32_t ParseIntText(const char* text, size_t length);

// The signed number of that magnitude, held to 32 bits.
inline int32_t ClampedInt32(uint64_t magnitude, bool negative) {
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  const int64_t value = static_cast<int64_t>(magnitude < limit ? magnitude : limit);
  return static_cast<int32_t>(negative ? -value : value);
}

// Reads a plain number at p: a sign and one to ten digits, quoted or bare.
// Returns where it ends (after its closing quote), with *value set to it
// held to 32 bits; nullptr when p holds none. A longer number is left to
// ParseInt32: its magnitude may have wrapped around meanwhile.
inline const char* ScanPlainNumber(const char* p, int32_t* value) {
  const bool quoted = *p == '"';
  if (quoted) ++p;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* const digits = p;
  uint64_t magnitude = 0;
  for (unsigned digit; (digit = static_cast<unsigned char>(*p) - 0x30u) <= 9; ++p)
    magnitude = magnitude * 10 + digit;
  if (p == digits || p - digits > 10) return nullptr;
  if (quoted && *p++ != '"') return nullptr;
  *value = ClampedInt32(magnitude, negative);
  return p;
}

/// Reads the fields of one row straight from the text it stands in, when the
/// row is plain: one line, ended by "\n" or "\r\n", each field bare or quoted
/// and closed right before the comma or the line end, no zero byte. Made by
/// the -csv conversion for each row; where a method returns false the row is
/// not plain, and CsvFile, which reads every row, reads it again.
class PlainFields {
 public:
  // The text from row on must hold a line feed or a zero byte.
  explicit PlainFields(const char* row) : p(row) {}

  bool AtRowEnd() const { return ended; }
  // The next field's text: a view of the row, or its text unquoted into
  // *unquoted when it holds doubled quotes.
  bool ReadText(const char** text, size_t* length, std::string* unquoted);
  // The next field's number, as CsvFile::ReadIntField reads it.
  bool ReadInt(int32_t* value, std::string* unquoted);
  bool SkipRest(std::string* unquoted);  // to the row's end
  // Where the next row starts, once the row has ended.
  const char* NextRow() const { return p; }

 private:
  bool EndField(const char* at);
  // What ends a run of a field's text, by character: kQuotedEnd inside
  // quotes (a quote, a line feed, a zero byte), kBareEnd in a bare field (a
  // comma, a line feed, a zero byte).
  static constexpr uint8_t kQuotedEnd = 1;
  static constexpr uint8_t kBareEnd = 2;
  static const std::array<uint8_t, 256> kEnds;
  static bool Ends(char c, uint8_t kind) {
    return (kEnds[static_cast<unsigned char>(c)] & kind) != 0;
  }

  const char* p;
  bool ended = false;
};

// Read for every plain field, so inline.
inline bool PlainFields::ReadText(const char** text, size_t* length, std::string* unquoted) {
  const char* r = p;
  if (*r != '"') {
    while (!Ends(*r, kBareEnd))
      ++r;
    // The carriage return of a "\r\n" is no part of the text.
    const char* const end = *r == '\n' && r > p && r[-1] == '\r' ? r - 1 : r;
    *text = p;
    *length = static_cast<size_t>(end - p);
    return EndField(r);
  }
  const char* run = ++r;  // the text not yet unquoted
  bool doubled = false;
  for (;; r += 2) {
    while (!Ends(*r, kQuotedEnd))
      ++r;
    if (*r != '"') return false;
    if (r[1] != '"') break;
    if (!doubled) unquoted->clear();
    doubled = true;
    unquoted->append(run, static_cast<size_t>(r + 1 - run));
    run = r + 2;
  }
  if (doubled) {
    unquoted->append(run, static_cast<size_t>(r - run));
    *text = unquoted->data();
    *length = unquoted->size();
  } else {
    *text = run;
    *length = static_cast<size_t>(r - run);
  }
  return EndField(r + 1);
}

// Read for every plain integer field, so inline.
inline bool PlainFields::ReadInt(int32_t* value, std::string* unquoted) {
  // A sign and up to ten digits, quoted or bare, are read at once.
  int32_t number = 0;
  const char* const end = ScanPlainNumber(p, &number);
  if (end && EndField(end)) {
    *value = number;
    return true;
  }
  const char* text = nullptr;
  size_t length = 0;
  if (!ReadText(&text, &length, unquoted)) return false;
  *value = ParseIntText(text, length);
  return true;
}

// Ends the field whose text ends at at: a comma goes on to the next field,
// a "\n" or "\r\n" ends the row; anything else is not plain.
inline bool PlainFields::EndField(const char* at) {
  if (*at == ',') {
    p = at + 1;
    return true;
  }
  if (*at == '\r' && at[1] == '\n') ++at;
  if (*at != '\n') return false;
  p = at + 1;
  ended = true;
  return true;
}

}  // namespace larkconv
