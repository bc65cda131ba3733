#include "packet.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "bytes.h"

namespace gantry {

namespace {

constexpr uint16_t kCrcPolynomial = 0x1021;

struct CrcTable {
  uint16_t entries[256];
};

constexpr CrcTable MakeCrcTable() {
  CrcTable table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ kCrcPolynomial : crc << 1);
    }
    table.entries[i] = crc;
  }
  return table;
}

constexpr CrcTable kTable = MakeCrcTable();
static_assert(kTable.entries[1] == 0x1021 && kTable.entries[255] == 0x1EF0, "CRC table");

size_t StringDataSize(const char* text) {
  size_t withZero = std::strlen(text) + 1;
  return withZero + (withZero & 1);
}

// The data width of a 'w' or 'd' parameter; 0 for any other kind.
size_t NumberWidth(char kind) {
  return kind == 'w' ? 2 : kind == 'd' ? 4 : 0;
}

// Stores the number at the start of [data, limit) in a 'w' or 'd' parameter
// with a value, when it lies whole there; any other parameter stays as it is.
void TakeNumber(const uint8_t* data, const uint8_t* limit, const TrapParam& param) {
  if (param.value == nullptr) return;
  if (param.kind == 'w') {
    uint16_t word = 0;
    if (GetBe16(data, limit, &word) != nullptr) *static_cast<uint16_t*>(param.value) = word;
  } else if (param.kind == 'd') {
    uint32_t dword = 0;
    if (GetBe32(data, limit, &dword) != nullptr) *static_cast<uint32_t*>(param.value) = dword;
  }
}

// The length of the request body for these parameters, or 0 when they can't
// be sent: a negative count, a parameter not valid, or a body longer than
// kMaxRequestBody (checked as the slots add up, so a long list stops early).
size_t RequestBodyLength(int count, const TrapParam* params) {
  if (count < 0 || (count > 0 && params == nullptr)) return 0;
  size_t length = kRpcHeaderSize;
  for (int i = 0; i < count; ++i) {
    if (!ParamValid(params[i])) return 0;
    length += ParamSize(params[i].kind, params[i].value);
    if (length > kMaxRequestBody) return 0;
  }
  return length;
}

}  // namespace

uint16_t PacketCrc(uint16_t initial, const uint8_t* data, size_t length) {
  uint16_t crc = initial;
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kTable.entries[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

bool StringFits(const char* text) {
  if (text == nullptr) return false;
  for (size_t i = 0; i <= kMaxStringParam; ++i) {
    if (text[i] == '\0') return true;
  }
  return false;
}

bool ParamValid(const TrapParam& param) {
  if (param.value == nullptr) return false;
  if (param.kind == 's') return StringFits(static_cast<const char*>(param.value));
  return NumberWidth(param.kind) != 0;
}

size_t ParamSize(char kind, const void* value) {
  if (kind == 's') return 2 + StringDataSize(static_cast<const char*>(value));
  return 2 + NumberWidth(kind);
}

size_t EncodeParam(uint8_t* dest, char kind, const void* value, int byRef) {
  dest[0] = (kind == 's' || byRef != 0) ? 1 : 0;
  if (kind == 's') {
    const char* text = static_cast<const char*>(value);
    size_t length = std::strlen(text);
    size_t dataSize = StringDataSize(text);
    dest[1] = static_cast<uint8_t>(dataSize);
    std::memcpy(dest + 2, text, length);
    std::memset(dest + 2 + length, 0, dataSize - length);
    return 2 + dataSize;
  }
  if (kind == 'w') {
    dest[1] = 2;
    EncodeBe16(dest + 2, *static_cast<const uint16_t*>(value));
    return 4;
  }
  dest[1] = 4;
  EncodeBe32(dest + 2, *static_cast<const uint32_t*>(value));
  return 6;
}

bool RequestFits(int count, const TrapParam* params) {
  return RequestBodyLength(count, params) != 0;
}

size_t LongestStringThatFits(int count, const TrapParam* params, int index) {
  if (count < 0 || index < 0 || index >= count || params == nullptr) return 0;
  size_t others = 0;
  for (int i = 0; i < count; ++i) {
    if (i == index) continue;
    if (!ParamValid(params[i])) return 0;
    others += ParamSize(params[i].kind, params[i].value);
  }
  const size_t slotHeader = 2;
  if (kRpcHeaderSize + others + slotHeader >= kMaxRequestBody) return 0;
  // The string and its zero, raised to an even count, take the data bytes left.
  const size_t dataRoom = (kMaxRequestBody - kRpcHeaderSize - others - slotHeader) & ~size_t{1};
  return dataRoom < 2 ? 0 : std::min(dataRoom - 1, kMaxStringParam);
}

bool BuildRequestBody(uint16_t trap, int count, const TrapParam* params,
                      std::vector<uint8_t>* body) {
  const size_t length = RequestBodyLength(count, params);
  if (length == 0) return false;
  std::vector<uint8_t> built;
  try {
    built.assign(length, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  built[0] = kRpcCommand;
  EncodeBe16(&built[2], trap);
  EncodeBe16(&built[12], static_cast<uint16_t>(count));
  size_t offset = kRpcHeaderSize;
  for (int i = count - 1; i >= 0; --i) {
    offset += EncodeParam(&built[offset], params[i].kind, params[i].value, params[i].byRef);
  }
  body->swap(built);
  return true;
}

std::vector<uint8_t> FramePacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type,
                                 uint8_t transId, const uint8_t* body, size_t n) {
  std::vector<uint8_t> packet = {0xBE, 0xEF, 0xED, destSocket, srcSocket, type};
  packet.reserve(n + kPacketHeaderSize + kPacketCrcSize);
  PutBe16(&packet, static_cast<uint16_t>(n));
  packet.push_back(transId);
  unsigned sum = 0;
  for (uint8_t byte : packet)
    sum += byte;
  packet.push_back(static_cast<uint8_t>(sum));
  packet.insert(packet.end(), body, body + n);
  PutBe16(&packet, PacketCrc(0, packet.data(), packet.size()));
  return packet;
}

bool DecodeReply(const uint8_t* body, size_t n, int count, TrapParam* params, uint32_t* resultD0) {
  if (n < 8) return false;
  if (resultD0 != nullptr) *resultD0 = DecodeBe32(body + 4);
  size_t offset = kRpcHeaderSize;
  for (int i = count - 1; i >= 0; --i) {
    if (offset + 2 > n) break;
    size_t dataSize = body[offset + 1];
    if (dataSize > n - offset - 2) break;
    const uint8_t* data = body + offset + 2;
    if (params[i].byRef != 0) TakeNumber(data, data + dataSize, params[i]);
    offset += 2 + dataSize;
  }
  return true;
}

}  // namespace gantry
