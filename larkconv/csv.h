#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

/// One CSV text file and its current line: read line by line and split into
/// fields, or built field by field and written. One per run, owned by the driver.
class CsvFile {
 public:
  CsvFile() = default;
  ~CsvFile();
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  // mode is "r", "w" or "a" (text modes), passed to the stream open as is.
  bool Open(const std::string& path, const char* mode);

  // Reads one whole line, of any length, keeping its "\n"; a carriage return
  // right before the "\n" is dropped. False at end of file or on a read error.
  bool ReadLine();
  bool AtLineEnd() const;
  std::string ReadField();
  int32_t ReadIntField();

  bool AppendInt(int32_t value);
  // Adds the text up to its first zero byte as one quoted field.
  bool AppendText(const std::string& text);
  bool AppendText(const char* text, size_t length);  // the length bytes at text
  bool WriteLine();

  // True when a read of the stream has failed (not merely reached its end).
  bool ReadFailed() const;
  // Closes the stream; false when it had an error or the close failed.
  bool Close();

  const std::string& Line() const { return line; }

 private:
  char CharAtCursor() const;
  void StartField();
  bool FillReadBuffer();

  std::string line;      // a zero byte in a read line ends it, as the end does
  std::string nextLine;  // where ReadLine reads, keeping its storage from line to line
  size_t cursor = 0;
  FILE* stream = nullptr;
  // ReadLine takes the stream in blocks: the block and its unread part.
  std::unique_ptr<char[]> readBuffer;
  size_t readPos = 0;
  size_t readEnd = 0;
  std::unique_ptr<char[]> writeBuffer;  // the stream's buffer when writing
};
