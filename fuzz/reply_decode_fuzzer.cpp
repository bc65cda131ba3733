// Fuzzes the decoding of an emulator reply (DecodeReply) with a fuzzed
// parameter list, and checks every result against a plain re-walk of the body.
//
// Input: one byte c, then c % 16 parameter bytes (bits 0-1 the kind: 'w', 'd',
// 's' or an unknown letter; bit 2 by reference; bit 3 no variable), then the
// reply body. The body is copied into a buffer of exactly its size, so that a
// read past it is caught.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "packet.h"

namespace {

using gantry::DecodeReply;
using gantry::TrapParam;

constexpr uint32_t kUnset32 = 0xA5A5A5A5u;
constexpr uint16_t kUnset16 = 0x5A5A;
constexpr char kKinds[4] = {'w', 'd', 's', 'x'};

/// The variables behind one fuzzed parameter, with their starting values.
struct Variable {
  uint16_t word = kUnset16;
  uint32_t dword = kUnset32;
  char text[4] = "abc";
};

void Check(bool condition) {
  if (!condition) std::abort();
}

uint32_t Big(const uint8_t* p, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i)
    value = (value << 8) | p[i];
  return value;
}

// What the decoding must leave in parameter i: the value of its slot when the
// slot lies whole in the body and is wide enough, else its starting value.
// The slots come last parameter first, each 2 + its size byte long.
std::vector<uint32_t> Expected(const uint8_t* body, size_t n,
                               const std::vector<TrapParam>& params) {
  std::vector<uint32_t> expected(params.size());
  for (size_t i = 0; i < params.size(); ++i)
    expected[i] = params[i].kind == 'w' ? kUnset16 : kUnset32;
  size_t offset = 14;
  for (size_t i = params.size(); i-- > 0;) {
    if (n < offset + 2 || n - offset - 2 < body[offset + 1]) break;
    size_t size = body[offset + 1];
    size_t width = params[i].kind == 'w' ? 2 : params[i].kind == 'd' ? 4 : 0;
    if (params[i].byRef && params[i].value && width != 0 && size >= width)
      expected[i] = Big(body + offset + 2, width);
    offset += 2 + size;
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t count = data[0] % 16;
  if (size < 1 + count) return 0;
  std::vector<Variable> variables(count);
  std::vector<TrapParam> params(count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t spec = data[1 + i];
    TrapParam& param = params[i];
    param.kind = kKinds[spec & 3];
    param.byRef = (spec >> 2) & 1;
    void* value = param.kind == 'w'   ? static_cast<void*>(&variables[i].word)
                  : param.kind == 's' ? static_cast<void*>(variables[i].text)
                                      : static_cast<void*>(&variables[i].dword);
    param.value = (spec & 8) ? nullptr : value;
  }
  size_t n = size - 1 - count;
  std::unique_ptr<uint8_t[]> body(new uint8_t[n]);
  if (n > 0) std::memcpy(body.get(), data + 1 + count, n);

  uint32_t d0 = kUnset32;
  bool decoded = DecodeReply(body.get(), n, static_cast<int>(count), params.data(), &d0);
  Check(decoded == (n >= 8));
  Check(d0 == (decoded ? Big(body.get() + 4, 4) : kUnset32));
  std::vector<uint32_t> expected =
      decoded ? Expected(body.get(), n, params) : Expected(nullptr, 0, params);
  for (size_t i = 0; i < count; ++i) {
    const Variable& v = variables[i];
    Check(std::strcmp(v.text, "abc") == 0);
    Check(v.word == (params[i].kind == 'w' ? expected[i] : kUnset16));
    Check(v.dword == (params[i].kind == 'd' ? expected[i] : kUnset32));
  }
  return 0;
}
