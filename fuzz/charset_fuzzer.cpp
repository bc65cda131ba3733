// Fuzzes the device character sets of -e: the decoder with record bytes and
// the encoder with CSV bytes, each copied into a buffer of exactly their size
// so that a read past them is caught.
//
// Input: one byte whose lowest bit picks the set (0 cp1252, 1 cp932) and
// whose other bits the room the encoder is given (as a share of the text),
// then the bytes. They are read as device text: a text that decodes must
// encode back to bytes that decode to the same text, and to the very same
// bytes in cp1252 (cp932 writes some characters as the other of their two
// codes, of the same length). And they are read as UTF-8: a text
// that encodes in full decodes back to itself; one cut to the room to the
// first of its characters that fit whole.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "charset.h"

using namespace larkconv;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Decode(Charset set, const uint8_t* bytes, size_t size) {
  std::string out(kUtf8PerDeviceByte * size, '\0');
  char* end = DecodeText(set, bytes, size, &out[0]);
  out.resize(static_cast<size_t>(end - out.data()));
  return out;
}

std::string Encode(Charset set, const std::string& text, size_t room) {
  std::string out(text.size(), '\0');
  const size_t n =
      EncodeText(set, text.data(), text.size(), reinterpret_cast<uint8_t*>(&out[0]), room);
  Check(n <= room);
  out.resize(n);
  return out;
}

std::string DecodeString(Charset set, const std::string& bytes) {
  return Decode(set, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void AsDeviceText(Charset set, const uint8_t* bytes, size_t size) {
  std::string text;
  try {
    text = Decode(set, bytes, size);
  } catch (const TextFault& fault) {
    Check(set == Charset::Cp932 && fault.kind == TextFault::Kind::NotDeviceText);
    return;
  }
  const std::string back = Encode(set, text, text.size());
  Check(DecodeString(set, back) == text);
  // A code written as another of its character's codes is as long.
  Check(back.size() == size);
  if (set == Charset::Cp1252) Check(std::memcmp(back.data(), bytes, size) == 0);
}

void AsUtf8(Charset set, const char* bytes, size_t size, size_t room) {
  const std::string text(bytes, size);
  std::string whole;
  try {
    whole = Encode(set, text, size);
  } catch (const TextFault& fault) {
    Check(fault.kind != TextFault::Kind::NotDeviceText);
    return;
  }
  Check(DecodeString(set, whole) == text);
  // The cut keeps a prefix of whole characters of the text.
  const std::string cut = Encode(set, text, room);
  Check(whole.compare(0, cut.size(), cut) == 0);
  const std::string shown = DecodeString(set, cut);
  Check(text.compare(0, shown.size(), shown) == 0);
  if (size > 0) {
    try {
      const uint8_t byte = EncodeChar(set, bytes, size);
      Check(text.compare(0, 1, "\0", 1) == 0 || byte != 0);
    } catch (const TextFault& fault) {
      Check(fault.kind == TextFault::Kind::NotWritable);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Charset set = (data[0] & 1) ? Charset::Cp932 : Charset::Cp1252;
  const size_t length = size - 1;
  const size_t room = length * (data[0] >> 1) / 127;
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[length > 0 ? length : 1]);
  if (length > 0) std::memcpy(bytes.get(), data + 1, length);
  AsDeviceText(set, bytes.get(), length);
  AsUtf8(set, reinterpret_cast<const char*>(bytes.get()), length, room);
  return 0;
}
