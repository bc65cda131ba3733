#include "csv.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "bytes.h"

namespace larkconv {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The number the text from p to end begins with, as strtol reads it in base
// 10, held to 32 bits; *next is set to where its digits end.
int32_t ParseInt32(const char* p, const char* end, const char** next) {
  while (p < end && IsSpace(*p))
    ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  // Past the limit more digits only keep the magnitude past it.
  uint64_t magnitude = 0;
  for (; p < end && IsDigit(*p); ++p) {
    if (magnitude <= limit) magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
  }
  *next = p;
  return ClampedInt32(magnitude, negative);
}

uint64_t LoadEight(const char* p) {
  uint64_t eight;
  std::memcpy(&eight, p, 8);
  return eight;
}

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = 0x8080808080808080u;

// The high bit of each of the eight bytes that is zero (and maybe of bytes
// after it): nonzero exactly when one is.
uint64_t ZeroBytes(uint64_t eight) {
  return (eight - kOnes) & ~eight & kHighs;
}

// The eight characters at p, the first in the lowest byte.
uint64_t EightAt(const char* p) {
  return DecodeLittle64(reinterpret_cast<const uint8_t*>(p));
}

// Marks (by its high bit) each of the eight bytes that is c, exactly up to
// the first one marked.
uint64_t BytesEqual(uint64_t eight, char c) {
  return ZeroBytes(eight ^ (kOnes * static_cast<unsigned char>(c)));
}

// The index, 0 to 7, of the first byte marked in marks (not 0) of eight
// characters read by EightAt.
size_t FirstMarked(uint64_t marks) {
  const uint64_t lowest = (marks & (0 - marks)) >> 7;  // 1 << (8 * index)
  return static_cast<size_t>((lowest * 0x0001020304050607u) >> 56);
}

// True when one of the eight bytes is a zero or a quote.
bool HasQuoteOrZero(uint64_t eight) {
  return (ZeroBytes(eight) | ZeroBytes(eight ^ (kOnes * '"'))) != 0;
}

// Writes the two digits of value (below 100) at p.
void PutPair(char* p, uint32_t value) {
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  std::memcpy(p, kPairs + 2 * value, 2);
}

// Writes the four digits of value (below 10000) at p.
void PutFour(char* p, uint32_t value) {
  PutPair(p, value / 100);
  PutPair(p + 2, value % 100);
}

// Writes value (below 10000) in decimal at p; returns the end.
char* PutSmall(char* p, uint32_t value) {
  if (value < 100) {
    if (value < 10) {
      *p = static_cast<char>('0' + value);
      return p + 1;
    }
    PutPair(p, value);
    return p + 2;
  }
  const uint32_t high = value / 100;
  if (high < 10) {
    *p++ = static_cast<char>('0' + high);
  } else {
    PutPair(p, high);
    p += 2;
  }
  PutPair(p, value % 100);
  return p + 2;
}

// Writes value in decimal at p, two digits at a time; returns the end.
char* PutDecimal(char* p, uint32_t value) {
  if (value < 10000) return PutSmall(p, value);
  if (value < 100000000) {
    p = PutSmall(p, value / 10000);
    PutFour(p, value % 10000);
    return p + 4;
  }
  p = PutSmall(p, value / 100000000);
  const uint32_t low = value % 100000000;
  PutFour(p, low / 10000);
  PutFour(p + 4, low % 10000);
  return p + 8;
}

constexpr size_t kReadBlock = 64 * 1024;
constexpr size_t kLineEndBlock = 4 * 1024;  // see ReadLines
// Texts up to this long are copied byte by byte; longer ones in runs between
// the quotes memchr finds.
constexpr size_t kShortText = 32;
constexpr char kDosEndOfFile = 0x1A;

// The first position from pos in text that holds stop, a line feed or a zero
// byte, or text.size(): where a field or a quoted run of plain text ends.
size_t FindStop(const std::string& text, size_t pos, char stop) {
  const char* const data = text.data();
  const size_t size = text.size();
  // A std::string holds a zero after its last character, which ends the loop.
  if (pos >= size) return size;
  while (data[pos] != stop && data[pos] != '\n' && data[pos] != '\0')
    ++pos;
  return pos;
}

/// Where a row's text stands in the field grammar that ReadField follows, line
/// by line: ReadLine asks it whether a line's "\n" falls inside a quoted part.
struct RowScan {
  enum class State { FieldStart, Quoted, Bare };
  State state = State::FieldStart;
  size_t quoteOpenedOnLine = 0;  // the row's physical line where the open quoted part began

  // Scans the physical line row[from..], the row's line number lineInRow:
  // true when it ends inside a quoted part (a zero byte ends the row instead).
  // A line's "\n" and zero byte can only be its last character.
  bool EndsInQuote(const std::string& row, size_t from, size_t lineInRow) {
    const char* const text = row.data();  // text[size] is the string's zero
    const size_t size = row.size();
    for (size_t i = from;;) {
      switch (state) {
        case State::FieldStart:
          if (i >= size || text[i] == '\n' || text[i] == '\0') return false;
          if (text[i] == '"') {
            state = State::Quoted;
            quoteOpenedOnLine = lineInRow;
            ++i;
            // The common case at once: a quoted part without quotes inside,
            // closed right before a comma.
            const size_t close = FindQuote(text, i, size);
            if (close < size && text[close + 1] == ',') {
              state = State::FieldStart;
              i = close + 2;
            }
          } else if (text[i] == ',') {
            ++i;
          } else {
            state = State::Bare;
          }
          break;
        case State::Quoted:
          i = FindQuote(text, i, size);
          if (i == size) return size == 0 || text[size - 1] != '\0';
          if (text[i + 1] == '"') {
            i += 2;
          } else {
            state = State::Bare;
            ++i;
          }
          break;
        case State::Bare:
          // Up to the next comma nothing counts; without one the row ends here.
          while (text[i] != ',' && text[i] != '\n' && text[i] != '\0')
            ++i;
          if (i >= size || text[i] != ',') return false;
          state = State::FieldStart;
          ++i;
          break;
      }
    }
  }

  // The position of the first quote in text[i..size-1], or size.
  static size_t FindQuote(const char* text, size_t i, size_t size) {
    for (; i + 8 <= size; i += 8) {
      const uint64_t quotes = BytesEqual(EightAt(text + i), '"');
      if (quotes != 0) return i + FirstMarked(quotes);
    }
    while (i < size && text[i] != '"')
      ++i;
    return i;
  }
};

}  // namespace

CsvFile::~CsvFile() {
  Close();
}

bool CsvFile::Open(const std::string& path, const char* mode) {
  Close();
  readError = false;
  // A file is read in binary: ReadLine drops the CR of a CR LF itself, while
  // Windows' text mode would take the first Ctrl-Z byte for the end of the file.
  if (std::strcmp(mode, "r") == 0) {
    stream = std::fopen(path.c_str(), "rb");
  } else if (output.Open(path, std::strcmp(mode, "a") == 0, true)) {
    stream = output.Stream();
    // An appended file starts with the old bytes (for a device, FIFO or
    // terminal written in place: wherever the system puts it).
    startedEmpty = std::strcmp(mode, "a") != 0 || std::ftell(stream) == 0;
  }
  return stream != nullptr;
}

void CsvFile::SkipByteOrderMark() {
  static const char kMark[] = "\xEF\xBB\xBF";
  if (readPos == readEnd && !FillReadBuffer()) return;
  if (readEnd - readPos >= 3 && std::memcmp(readData + readPos, kMark, 3) == 0) readPos += 3;
}

bool CsvFile::ReadLine() {
  unterminated = false;
  endedInQuote = false;
  if (!stream && !readData) return false;
  nextLine.clear();
  RowScan scan;
  for (size_t lineInRow = 0;; ++lineInRow) {
    const size_t start = nextLine.size();
    if (!AppendPhysicalLine(&nextLine)) {
      // The file ended inside a quoted part. One opened on the file's last
      // line ends there; one carried over from an earlier line is a fault.
      endedInQuote = lineInRow > 0;
      unterminated = lineInRow > 0 && scan.quoteOpenedOnLine + 1 < lineInRow;
      break;
    }
    if (!scan.EndsInQuote(nextLine, start, lineInRow)) break;
    if (nextLine.back() != '\n') {  // the file's last line
      endedInQuote = true;
      unterminated = scan.quoteOpenedOnLine < lineInRow;
      break;
    }
  }
  if (nextLine.empty() || unterminated || readError) return false;
  line.swap(nextLine);
  cursor = 0;
  return true;
}

// Appends the next physical line, with its "\n" if it has one, to row: a CR
// right before the "\n" is dropped, and a zero byte cuts the line after it.
// False when the stream has no more lines; a lone 0x1A (the DOS end-of-file
// mark) as the file's last line counts as none.
bool CsvFile::AppendPhysicalLine(std::string* row) {
  const size_t start = row->size();
  for (;;) {
    if (readPos == readEnd && !FillReadBuffer()) break;
    const char* begin = readData + readPos;
    const size_t available = readEnd - readPos;
    const char* newline = static_cast<const char*>(std::memchr(begin, '\n', available));
    const size_t take = newline ? static_cast<size_t>(newline - begin) + 1 : available;
    row->append(begin, take);
    readPos += take;
    if (newline) break;
  }
  const size_t size = row->size() - start;
  if (size == 0 || (size == 1 && (*row)[start] == kDosEndOfFile)) {
    row->resize(start);
    return false;
  }
  if (size >= 2 && (*row)[row->size() - 2] == '\r' && row->back() == '\n')
    row->erase(row->size() - 2, 1);
  if (const void* zero = std::memchr(row->data() + start, '\0', row->size() - start))
    row->resize(static_cast<size_t>(static_cast<const char*>(zero) - row->data()) + 1);
  return true;
}

// Reads the next block of the stream, of at most most bytes; false at its end
// or on a read error.
bool CsvFile::FillReadBuffer(size_t most) {
  if (!stream) return false;  // ReadFrom's text has no more
  if (!readBuffer) readBuffer = std::make_unique<char[]>(kReadBlock);
  readData = readBuffer.get();
  readPos = 0;
  readEnd = std::fread(readBuffer.get(), 1, std::min(most, kReadBlock), stream);
  if (readEnd < std::min(most, kReadBlock)) readError = std::ferror(stream) != 0;
  return readEnd > 0;
}

bool CsvFile::ReadLines(std::string* lines, size_t about, bool* last) {
  lines->clear();
  *last = false;
  for (;;) {
    if (readPos == readEnd && stream && lines->size() + 1 < about) {
      // Straight from the stream while short of about.
      const size_t old = lines->size();
      const size_t want = about - 1 - old;
      lines->resize(old + want);
      const size_t got = std::fread(&(*lines)[old], 1, want, stream);
      lines->resize(old + got);
      if (got == want) continue;
      readError = std::ferror(stream) != 0;
      *last = true;
      break;
    }
    // The line that ends the lines is read in small blocks, so that little
    // is left over for the next lines to copy.
    if (readPos == readEnd && !FillReadBuffer(kLineEndBlock)) {
      *last = true;
      break;
    }
    const char* begin = readData + readPos;
    const size_t available = readEnd - readPos;
    // The first "\n" at or after the about-th byte ends the lines.
    const size_t before = lines->size() + 1 < about ? about - 1 - lines->size() : 0;
    const size_t skip = std::min(before, available);
    const char* newline =
        static_cast<const char*>(std::memchr(begin + skip, '\n', available - skip));
    const size_t take = newline ? static_cast<size_t>(newline - begin) + 1 : available;
    lines->append(begin, take);
    readPos += take;
    if (newline) {
      *last = readPos == readEnd && !FillReadBuffer(kLineEndBlock);
      break;
    }
  }
  return !lines->empty() && !readError;
}

void CsvFile::ReadFrom(const char* text, size_t size) {
  Close();
  readData = text;
  readPos = 0;
  readEnd = size;
  readError = false;
}

std::string CsvFile::ReadField() {
  std::string field;
  ReadField(&field);
  return field;
}

void CsvFile::ReadField(std::string* field) {
  if (CharAtCursor() == '\0') return;
  if (CharAtCursor() == '"') {
    ++cursor;
    for (;;) {
      // Plain text up to a quote, the line feed, or the line's end or zero byte.
      const size_t stop = FindStop(line, cursor, '"');
      field->append(line.data() + cursor, stop - cursor);
      cursor = stop;
      const char c = CharAtCursor();
      if (c == '\0') break;
      ++cursor;
      if (c == '\n') {
        if (cursor == line.size()) break;  // the row's own line end
        field->push_back('\n');            // a line end inside the quoted part
        continue;
      }
      if (CharAtCursor() != '"') break;  // the closing quote
      ++cursor;
      field->push_back('"');
    }
  }
  const size_t end = FindStop(line, cursor, ',');
  if (end > cursor) field->append(line.data() + cursor, end - cursor);
  cursor = end;
  if (CharAtCursor() != '\0') ++cursor;
}

bool CsvFile::ReadPlainField(const char** text, size_t* length) {
  const char* const data = line.data();
  const size_t size = line.size();
  size_t start = cursor;
  size_t stop = 0;
  if (CharAtCursor() == '"') {
    start = cursor + 1;
    stop = FindStop(line, start, '"');
    if (stop == size || data[stop] != '"') return false;
    const char after = stop + 1 < size ? data[stop + 1] : '\0';
    if (after != ',' && after != '\n' && after != '\0') return false;
    cursor = stop + 1;
  } else {
    stop = FindStop(line, start, ',');
    cursor = stop;
  }
  if (CharAtCursor() != '\0') ++cursor;
  *text = data + start;
  *length = stop - start;
  return true;
}

int32_t CsvFile::ReadIntField() {
  int32_t value = 0;
  if (ReadPlainNumber(&value)) return value;
  intField.clear();
  ReadField(&intField);
  const char* digitsEnd = nullptr;
  return ParseInt32(intField.data(), intField.data() + intField.size(), &digitsEnd);
}

// Reads the field at the cursor in place when it is a plain number, a sign
// and digits, quoted or bare, that the field's end follows at once: true, with
// the value and the cursor where ReadField would leave them. Otherwise false,
// with nothing moved.
bool CsvFile::ReadPlainNumber(int32_t* value) {
  if (cursor >= line.size()) return false;
  const char* const data = line.data();  // data[line.size()] is the string's zero
  int32_t number = 0;
  const char* p = ScanPlainNumber(data + cursor, &number);
  if (!p || (*p != ',' && *p != '\n' && *p != '\0')) return false;
  *value = number;
  cursor = static_cast<size_t>(p - data) + (*p != '\0' ? 1 : 0);
  return true;
}

// Grows the built line's storage to hold n more characters, at least doubling
// it; the storage is kept from line to line, so this happens seldom.
char* CsvFile::GrowBuilt(size_t n) {
  if (n > SIZE_MAX - builtLength) throw std::length_error("csv line too long");
  size_t capacity = builtLength + n;
  if (builtCapacity <= SIZE_MAX / 2) capacity = std::max(capacity, 2 * builtCapacity);
  std::unique_ptr<char[]> grown(new char[capacity]);
  if (builtLength > 0) std::memcpy(grown.get(), built.get(), builtLength);
  built = std::move(grown);
  builtCapacity = capacity;
  return built.get() + builtLength;
}

// Opens the next field at p: a comma after an earlier field, then the quote.
char* CsvFile::StartField(char* p) const {
  if (builtLength > lineStart) *p++ = ',';
  *p++ = '"';
  return p;
}

void CsvFile::AppendInt(int32_t value) {
  // The comma, the quotes and at most eleven characters: ,"-2147483648"
  char* p = StartField(BuiltRoom(14));
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    *p++ = '-';
    magnitude = 0u - magnitude;
  }
  p = PutDecimal(p, magnitude);
  *p++ = '"';
  builtLength = static_cast<size_t>(p - built.get());
}

void CsvFile::AppendText(const std::string& text) {
  AppendText(text.data(), text.size());
}

void CsvFile::AppendChar(char c) {
  char* p = StartField(BuiltRoom(5));
  if (c != '\0') *p++ = c;
  if (c == '"') *p++ = '"';
  *p++ = '"';
  builtLength = static_cast<size_t>(p - built.get());
}

void CsvFile::AppendText(const char* text, size_t length) {
  // The text ends at its first zero byte; each quote in it is doubled, so the
  // field takes at most twice its length, the comma and the two quotes.
  if (length <= kShortText) {
    char* p = StartField(BuiltRoom(2 * length + 3));
    const char* const end = text + length;
    // Eight bytes at a time while they hold neither a quote nor a zero.
    for (uint64_t eight; end - text >= 8 && !HasQuoteOrZero(eight = LoadEight(text)); text += 8) {
      std::memcpy(p, &eight, 8);
      p += 8;
    }
    for (; text < end && *text != '\0'; ++text) {
      *p++ = *text;
      if (*text == '"') *p++ = '"';
    }
    *p++ = '"';
    builtLength = static_cast<size_t>(p - built.get());
    return;
  }
  if (const void* zero = std::memchr(text, '\0', length))
    length = static_cast<size_t>(static_cast<const char*>(zero) - text);
  if (length > (SIZE_MAX - 3) / 2) throw std::length_error("csv field too long");
  char* p = StartField(BuiltRoom(2 * length + 3));
  const char* end = text + length;
  while (const char* quote =
             static_cast<const char*>(std::memchr(text, '"', static_cast<size_t>(end - text)))) {
    const size_t run = static_cast<size_t>(quote + 1 - text);
    std::memcpy(p, text, run);
    p += run;
    *p++ = '"';
    text = quote + 1;
  }
  std::memcpy(p, text, static_cast<size_t>(end - text));
  p += end - text;
  *p++ = '"';
  builtLength = static_cast<size_t>(p - built.get());
}

void CsvFile::WriteLinesOf(CsvFile* lines) {
  if (lineStart != builtLength) throw std::logic_error("lines written into a line being built");
  const size_t length = lines->lineStart;
  if (length == 0) return;
  std::memcpy(BuiltRoom(length), lines->built.get(), length);
  lineStart = builtLength += length;
  lines->DropBuilt(length);
  if (stream && lineStart >= kWriteBlock) WriteBuilt(lineStart - lineStart % kWriteBlock);
}

void CsvFile::WriteBytes(const char* bytes, size_t length) {
  if (lineStart != builtLength) throw std::logic_error("bytes written into a line being built");
  if (length == 0) return;
  std::memcpy(BuiltRoom(length), bytes, length);
  lineStart = builtLength += length;
}

void CsvFile::WriteBuilt(size_t length) {
  if (length == 0) return;
  // A write error shows when the file is closed.
  if (stream && stream == output.Stream()) output.Write(built.get(), length);
  DropBuilt(length);
}

void CsvFile::DropBuilt(size_t length) {
  builtLength -= length;
  lineStart -= length;
  std::memmove(built.get(), built.get() + length, builtLength);
}

bool CsvFile::ReadFailed() const {
  return stream && std::ferror(stream);
}

bool CsvFile::Close() {
  readData = nullptr;
  readPos = readEnd = 0;
  if (!stream) return true;
  WriteBuilt(lineStart);
  FILE* closing = stream;
  stream = nullptr;
  if (closing == output.Stream()) return output.Commit();
  bool ok = !std::ferror(closing);
  return std::fclose(closing) == 0 && ok;
}

void CsvFile::Abandon() {
  builtLength = lineStart = 0;
  if (stream && stream == output.Stream()) {
    stream = nullptr;
    output.Abandon();
  }
}

namespace {

constexpr std::array<uint8_t, 256> FieldEnds(uint8_t quoted, uint8_t bare) {
  std::array<uint8_t, 256> ends{};
  ends['"'] = quoted;
  ends[','] = bare;
  ends['\n'] = ends['\0'] = quoted | bare;
  return ends;
}

}  // namespace

const std::array<uint8_t, 256> PlainFields::kEnds = FieldEnds(kQuotedEnd, kBareEnd);

int32_t ParseIntText(const char* text, size_t length) {
  const char* digitsEnd = nullptr;
  return ParseInt32(text, text + length, &digitsEnd);
}

bool PlainFields::SkipRest(std::string* unquoted) {
  const char* text = nullptr;
  size_t length = 0;
  while (!ended) {
    if (!ReadText(&text, &length, unquoted)) return false;
  }
  return true;
}

}  // namespace larkconv
