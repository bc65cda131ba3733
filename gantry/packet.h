#pragma once

// The emulator wire format as plain functions over byte buffers, with no
// sockets: parameter slots, the remote trap call body, the packet frame with
// its checksum and CRC-16, and the decoding of a reply body.
//
// Packet: BE EF ED, destination socket, source socket, type, body size n
// (big-endian), transaction id, header checksum, n body bytes, CRC-16.
// Body: command, filler, trap, D0, A0, parameter count, then one slot per
// parameter, the last parameter first. Slot: by-reference flag, data size,
// data.

#include <cstddef>
#include <cstdint>
#include <vector>

// Output parameters are pointers throughout gantry (the caller's "&x" shows
// that x is written); inputs are values or const references.

namespace gantry {

/// One parameter of a remote trap call, as the caller hands it to the link.
/// The caller owns the values: for 'w' and 'd' value points at its uint16_t or
/// uint32_t, for 's' at the string.
struct TrapParam {
  char kind;  // 'w' 16-bit word, 'd' 32-bit double word, 's' zero-terminated string
  void* value;
  int byRef;  // 1: written back from the reply ('w' and 'd' only)
};

constexpr size_t kPacketHeaderSize = 10;
constexpr size_t kPacketCrcSize = 2;
constexpr size_t kRpcHeaderSize = 14;
constexpr size_t kMaxPacketBody = 0xFFFF;
// The emulator reads a request body into a buffer of 272 bytes and does not
// check the size first, so a longer body overruns that buffer inside the
// emulator. No request body is longer: with the even-padded string slot, an
// InstallFile path fits in 245 characters and a database name in 251.
constexpr size_t kMaxRequestBody = 272;
constexpr size_t kMaxStringParam = 253;  // the data-size byte holds 254 at most
constexpr uint8_t kRpcCommand = 0x0A;
constexpr uint8_t kPrimarySocketId = 1;     // a connection made on port 2000
constexpr uint8_t kSecondarySocketId = 14;  // a connection made on port 6415

// CRC-16 (polynomial 0x1021, most significant bit first, no reflection, no
// final XOR) of length bytes, starting from initial. The link starts from 0.
uint16_t PacketCrc(uint16_t initial, const uint8_t* data, size_t length);

// True for a string that fits a parameter slot: not null and at most
// kMaxStringParam characters. Never reads past the terminating zero, nor past
// kMaxStringParam + 1 characters.
bool StringFits(const char* text);

// True when the parameter can be sent: kind 'w', 'd' or 's', a value, and for
// 's' a string that fits.
bool ParamValid(const TrapParam& param);

// The slot length of one valid parameter: 4 for 'w', 6 for 'd', and for 's'
// the string length + 1 raised to the next even number, plus 2.
size_t ParamSize(char kind, const void* value);

// Encodes one slot of a valid parameter at dest, which must hold ParamSize
// bytes, and returns its length. The flag byte is 1 for a string or a
// non-zero byRef, else 0.
size_t EncodeParam(uint8_t* dest, char kind, const void* value, int byRef);

// True when a request with these parameters can be sent: count >= 0, every
// parameter valid, and a body of at most kMaxRequestBody bytes.
bool RequestFits(int count, const TrapParam* params);

// The most characters the string params[index] may have for the request to
// fit (RequestFits), the other parameters as they are; 0 when another
// parameter can't be sent or no string fits (an empty one included).
size_t LongestStringThatFits(int count, const TrapParam* params, int index);

// The request body for a trap call: 0x0A, 0, the trap, D0 0, A0 0, count, and
// the slots from the last parameter to the first. False, leaving body alone,
// when the request doesn't fit (RequestFits) or the memory for it can't be
// had.
bool BuildRequestBody(uint16_t trap, int count, const TrapParam* params,
                      std::vector<uint8_t>* body);

// Frames a body of n <= kMaxPacketBody bytes into a packet of n + 12 bytes:
// header with both socket ids, type, n, transaction id and checksum (the sum
// of header bytes 0..8), the body, and the CRC of everything before it.
std::vector<uint8_t> FramePacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type,
                                 uint8_t transId, const uint8_t* body, size_t n);

// Takes the results from a reply body of n bytes (without its CRC). A body
// shorter than 8 bytes is no reply: false, nothing written. Otherwise
// *resultD0 (when given) gets D0, and the slots from offset 14 are walked from
// the last parameter to the first, each 2 + its data-size byte long. Every
// by-reference 'w' or 'd' parameter gets the big-endian 2 or 4 first bytes of
// its slot's data. The walk stops at the first slot that doesn't lie whole in
// the body, leaving that parameter and the ones before it unchanged; a slot
// whose data is narrower than its parameter's width leaves the parameter
// unchanged. Returns true.
bool DecodeReply(const uint8_t* body, size_t n, int count, TrapParam* params, uint32_t* resultD0);

}  // namespace gantry
