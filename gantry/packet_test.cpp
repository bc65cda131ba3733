#include "packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"

namespace {

using namespace gantry;
using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t socketId, uint8_t transId, const Bytes& body) {
  return FramePacket(socketId, socketId, 0, transId, body.data(), body.size());
}

Bytes Body(uint16_t trap, std::vector<TrapParam> params) {
  Bytes body;
  EXPECT_TRUE(BuildRequestBody(trap, static_cast<int>(params.size()), params.data(), &body));
  return body;
}

Bytes Slot(const char* text) {
  Bytes slot(ParamSize('s', text), 0xAA);
  EXPECT_EQ(EncodeParam(slot.data(), 's', text, 0), slot.size());
  return slot;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// Bit by bit, independent of the table.
uint16_t BitwiseCrc(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

// From 0, the CRC of one byte is the table entry the code looks it up by.
TEST(PacketCrcTest, EverySingleByteMatchesTheBitwiseCrc) {
  auto crcOf = [](uint8_t byte) { return PacketCrc(0, &byte, 1); };
  EXPECT_EQ(crcOf(0), 0x0000);
  EXPECT_EQ(crcOf(1), 0x1021);
  EXPECT_EQ(crcOf(2), 0x2042);
  EXPECT_EQ(crcOf(128), 0x9188);
  EXPECT_EQ(crcOf(255), 0x1EF0);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(crcOf(static_cast<uint8_t>(i)), BitwiseCrc({static_cast<uint8_t>(i)})) << i;
  }
}

TEST(GantryBytesTest, BigEndianEverywhereAndGetStaysBeforeItsLimit) {
  Bytes buffer = {0x00};
  PutBe16(&buffer, 0xA1B2);
  PutBe32(&buffer, 0xC3D4E5F6);
  EXPECT_EQ(buffer, (Bytes{0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
  EncodeBe16(&buffer[0], 0x0102);
  EncodeBe32(&buffer[2], 0x03040506);
  EXPECT_EQ(buffer, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xF6}));
  EXPECT_EQ(DecodeBe16(&buffer[5]), 0x06F6);
  EXPECT_EQ(DecodeBe32(&buffer[3]), 0x040506F6u);

  const uint8_t* begin = buffer.data();
  const uint8_t* end = begin + buffer.size();
  uint16_t word = 0x5555;
  uint32_t dword = 0x55555555;
  EXPECT_EQ(GetBe16(begin + 5, end, &word), end);
  EXPECT_EQ(word, 0x06F6);
  EXPECT_EQ(GetBe32(begin + 3, end, &dword), end);
  EXPECT_EQ(dword, 0x040506F6u);
  // One byte short of the limit: nothing read, nothing written.
  EXPECT_EQ(GetBe16(begin + 6, end, &word), nullptr);
  EXPECT_EQ(GetBe32(begin + 4, end, &dword), nullptr);
  EXPECT_EQ(GetBe32(begin, begin + 3, &dword), nullptr);
  EXPECT_EQ(GetBe16(end, end, &word), nullptr);
  EXPECT_EQ(word, 0x06F6);
  EXPECT_EQ(dword, 0x040506F6u);
}

TEST(PacketCrcTest, KnownValuesAndChaining) {
  Bytes check = Text("123456789");
  EXPECT_EQ(PacketCrc(0, check.data(), check.size()), 0x31C3);
  EXPECT_EQ(PacketCrc(0, nullptr, 0), 0);
  EXPECT_EQ(PacketCrc(0x1234, nullptr, 0), 0x1234);
  uint16_t first = PacketCrc(0, check.data(), 4);
  EXPECT_EQ(PacketCrc(first, check.data() + 4, check.size() - 4), 0x31C3);
  Bytes longer(1000);
  for (size_t i = 0; i < longer.size(); ++i)
    longer[i] = static_cast<uint8_t>(i * 7 + 3);
  EXPECT_EQ(PacketCrc(0, longer.data(), longer.size()), BitwiseCrc(longer));
}

TEST(FramePacketTest, ResetRequestOnBothPorts) {
  Bytes body = Body(0xA08C, {});
  EXPECT_EQ(Frame(kSecondarySocketId, 1, body),
            (Bytes{0xBE, 0xEF, 0xED, 0x0E, 0x0E, 0x00, 0x00, 0x0E, 0x01, 0xC5, 0x0A, 0x00, 0xA0,
                   0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDE, 0x3F}));
  EXPECT_EQ(Frame(kPrimarySocketId, 1, body),
            (Bytes{0xBE, 0xEF, 0xED, 0x01, 0x01, 0x00, 0x00, 0x0E, 0x01, 0xAB, 0x0A, 0x00, 0xA0,
                   0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6B, 0x5A}));
}

TEST(FramePacketTest, LauncherRequestPutsTheLastParameterFirst) {
  uint16_t character = 0x0108, keyCode = 0x0108, modifiers = 0x0008;
  Bytes body = Body(0xA12D, {{'w', &character, 0}, {'w', &keyCode, 0}, {'w', &modifiers, 0}});
  EXPECT_EQ(Frame(kSecondarySocketId, 1, body),
            (Bytes{0xBE, 0xEF, 0xED, 0x0E, 0x0E, 0x00, 0x00, 0x1A, 0x01, 0xD1, 0x0A, 0x00, 0xA1,
                   0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02,
                   0x00, 0x08, 0x00, 0x02, 0x01, 0x08, 0x00, 0x02, 0x01, 0x08, 0x27, 0x55}));
}

TEST(FramePacketTest, HeaderFieldsChecksumAndCrc) {
  Bytes body(300, 0x5A);
  Bytes packet = FramePacket(3, 4, 2, 0xFF, body.data(), body.size());
  ASSERT_EQ(packet.size(), 312u);
  EXPECT_EQ(packet[3], 3);
  EXPECT_EQ(packet[4], 4);
  EXPECT_EQ(packet[5], 2);
  EXPECT_EQ(packet[6], 0x01);
  EXPECT_EQ(packet[7], 0x2C);
  EXPECT_EQ(packet[8], 0xFF);
  unsigned sum = 0;
  for (int i = 0; i < 9; ++i)
    sum += packet[i];
  EXPECT_EQ(packet[9], sum % 256);
  uint16_t crc = BitwiseCrc(Bytes(packet.begin(), packet.end() - 2));
  EXPECT_EQ(packet[310], crc >> 8);
  EXPECT_EQ(packet[311], crc & 0xFF);
}

TEST(RequestBodyTest, LookupBodyForTheRuntimeDatabase) {
  uint16_t card = 0;
  char name[] = "QuorvaneRT";
  Bytes body = Body(0xA045, {{'w', &card, 0}, {'s', name, 0}});
  Bytes expected = Concat({{0x0A, 0x00, 0xA0, 0x45, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0x01, 0x0C},
                           Text("QuorvaneRT"),
                           {0x00, 0x00, 0x00, 0x02, 0x00, 0x00}});
  EXPECT_EQ(body, expected);
  EXPECT_EQ(body.size(), 32u);
}

TEST(RequestBodyTest, DatabaseInfoBodyHasThirteenParameters) {
  uint16_t card = 0, attributes = 0, version = 0;
  uint32_t id = 0x00ABCDEF, d[8] = {};
  char name[] = "QuorvaneRT";
  std::vector<TrapParam> params = {
      {'w', &card, 0}, {'d', &id, 0}, {'s', name, 0}, {'w', &attributes, 1}, {'w', &version, 1}};
  for (uint32_t& value : d)
    params.push_back({'d', &value, 1});
  Bytes body = Body(0xA046, params);
  ASSERT_EQ(body.size(), 94u);
  EXPECT_EQ(body[13], 13);
  // The first parameter's slot comes last, the second's (the id) just before it.
  EXPECT_EQ(Bytes(body.end() - 10, body.end()),
            (Bytes{0x00, 0x04, 0x00, 0xAB, 0xCD, 0xEF, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(body.begin() + 14, body.begin() + 20), (Bytes{1, 4, 0, 0, 0, 0}));
}

TEST(ParamSlotTest, NumbersAreBigEndianWithTheirFlag) {
  uint16_t word = 0xBEEF;
  uint32_t dword = 0x01020304;
  uint8_t slot[6] = {};
  EXPECT_EQ(ParamSize('w', &word), 4u);
  EXPECT_EQ(EncodeParam(slot, 'w', &word, 1), 4u);
  EXPECT_EQ(Bytes(slot, slot + 4), (Bytes{0x01, 0x02, 0xBE, 0xEF}));
  EXPECT_EQ(ParamSize('d', &dword), 6u);
  EXPECT_EQ(EncodeParam(slot, 'd', &dword, 0), 6u);
  EXPECT_EQ(Bytes(slot, slot + 6), (Bytes{0x00, 0x04, 0x01, 0x02, 0x03, 0x04}));
}

TEST(ParamSlotTest, StringSlotsArePaddedToAnEvenSize) {
  EXPECT_EQ(Slot("QuorvaneRT"), Concat({{0x01, 0x0C}, Text("QuorvaneRT"), {0x00, 0x00}}));
  EXPECT_EQ(Slot("ab"), (Bytes{0x01, 0x04, 'a', 'b', 0x00, 0x00}));
  EXPECT_EQ(Slot("abc"), (Bytes{0x01, 0x04, 'a', 'b', 'c', 0x00}));
  EXPECT_EQ(Slot(""), (Bytes{0x01, 0x02, 0x00, 0x00}));
  std::string longest(253, 'x');
  Bytes slot = Slot(longest.c_str());
  ASSERT_EQ(slot.size(), 256u);
  EXPECT_EQ(slot[1], 254);
  EXPECT_EQ(slot[254], 'x');
  EXPECT_EQ(slot[255], 0x00);
}

TEST(ParamSlotTest, UnsendableParametersAreRefused) {
  std::string longest(253, 'x'), tooLong(254, 'x');
  uint16_t word = 1;
  EXPECT_TRUE(ParamValid({'s', &longest[0], 1}));
  EXPECT_FALSE(ParamValid({'s', &tooLong[0], 1}));
  EXPECT_FALSE(ParamValid({'x', &word, 0}));
  EXPECT_FALSE(ParamValid({'w', nullptr, 0}));

  Bytes body{0x77};
  TrapParam params[] = {{'w', &word, 0}, {'s', &tooLong[0], 1}};
  EXPECT_FALSE(BuildRequestBody(0xA045, 2, params, &body));
  EXPECT_EQ(body, Bytes{0x77});
  EXPECT_FALSE(BuildRequestBody(0xA045, -1, params, &body));
  EXPECT_FALSE(BuildRequestBody(0xA045, 1, nullptr, &body));
  std::vector<TrapParam> many(300, TrapParam{'s', &longest[0], 1});
  EXPECT_FALSE(BuildRequestBody(0xA045, 300, many.data(), &body));
  EXPECT_EQ(body, Bytes{0x77});
}

// The emulator's request buffer holds 272 bytes. The lookup (header, word, string
// slot) and the file import (header, word, string slot, double word) reach it
// exactly with names of 251 and paths of 245 characters; one more character
// adds a whole even-padded pair.
TEST(RequestBodyTest, BodiesOver272BytesAreRefused) {
  uint16_t word = 0;
  uint32_t dword = 0;
  auto fits = [&](const std::string& text, bool withDword) {
    std::string copy = text;
    TrapParam params[] = {{'w', &word, 0}, {'s', &copy[0], 1}, {'d', &dword, 0}};
    int count = withDword ? 3 : 2;
    Bytes body;
    bool built = BuildRequestBody(0xA045, count, params, &body);
    EXPECT_EQ(built, RequestFits(count, params));
    return built ? body.size() : 0;
  };
  EXPECT_EQ(fits(std::string(251, 'n'), false), 272u);
  EXPECT_EQ(fits(std::string(250, 'n'), false), 272u);  // the same slot, padded
  EXPECT_EQ(fits(std::string(249, 'n'), false), 270u);
  EXPECT_EQ(fits(std::string(252, 'n'), false), 0u);
  EXPECT_EQ(fits(std::string(245, 'p'), true), 272u);
  EXPECT_EQ(fits(std::string(246, 'p'), true), 0u);

  // A string alone may still have all 253 characters (a 270-byte body).
  std::string longest(253, 'x');
  TrapParam alone[] = {{'s', &longest[0], 1}};
  EXPECT_TRUE(RequestFits(1, alone));
  std::vector<TrapParam> words(65, TrapParam{'w', &word, 0});  // 14 + 65 * 4 = 274
  EXPECT_TRUE(RequestFits(64, words.data()));
  EXPECT_FALSE(RequestFits(65, words.data()));
  EXPECT_TRUE(RequestFits(0, nullptr));
}

// The longest string a request has room for is the one RequestFits takes:
// 245 for an import path, 251 for a name or a screen path, and for an export
// path 211 beside a 31-character name (and 253 alone, the slot's limit).
TEST(RequestBodyTest, LongestStringThatFitsIsTheLastOneThatFits) {
  uint16_t word = 0;
  uint32_t dword = 0;
  std::string name(31, 'n'), path = "/p";
  TrapParam exportParams[] = {
      {'w', &word, 0}, {'s', &path[0], 1}, {'d', &dword, 0}, {'s', &name[0], 1}};
  const struct {
    int count;
    const TrapParam* params;
    size_t longest;
  } cases[] = {{4, exportParams, 211},
               {3, exportParams, 245},
               {2, exportParams, 251},
               {1, exportParams + 1, 253}};
  for (const auto& c : cases) {
    const size_t longest = LongestStringThatFits(c.count, c.params, c.count == 1 ? 0 : 1);
    EXPECT_EQ(longest, c.longest) << c.count;
    for (size_t length : {longest, longest + 1}) {
      std::string text(length, 'x');
      std::vector<TrapParam> params(c.params, c.params + c.count);
      params[c.count == 1 ? 0 : 1].value = &text[0];
      EXPECT_EQ(RequestFits(c.count, params.data()), length == longest) << length;
    }
  }
  EXPECT_EQ(LongestStringThatFits(4, exportParams, 4), 0u);  // no such parameter
  std::vector<TrapParam> words(64, TrapParam{'w', &word, 0});
  words.push_back({'s', &name[0], 1});
  EXPECT_EQ(LongestStringThatFits(65, words.data(), 64), 0u);  // no room left at all
}

// A reply body: command 0x8A, trap, D0, A0 0, count, then the given slots.
Bytes Reply(uint32_t d0, uint16_t count, const Bytes& slots) {
  Bytes body = {0x8A,
                0x00,
                0xA0,
                0x46,
                static_cast<uint8_t>(d0 >> 24),
                static_cast<uint8_t>(d0 >> 16),
                static_cast<uint8_t>(d0 >> 8),
                static_cast<uint8_t>(d0),
                0,
                0,
                0,
                0,
                static_cast<uint8_t>(count >> 8),
                static_cast<uint8_t>(count)};
  body.resize(14 + slots.size());
  std::copy(slots.begin(), slots.end(), body.begin() + 14);
  return body;
}

// Parameters first to last: 'w' by value, 's', 'w' by ref, 'd' by ref; on the
// wire the 'd' comes first.
struct DecodeFixture : ::testing::Test {
  uint16_t card = 0x1111, word = 0x2222;
  uint32_t dword = 0x33333333, d0 = 0x44444444;
  char name[4] = "abc";
  TrapParam params[4] = {{'w', &card, 0}, {'s', name, 1}, {'w', &word, 1}, {'d', &dword, 1}};
  const Bytes slots = {0x01, 0x04, 0xDE, 0xAD, 0xBE, 0xEF,  // 'd'
                       0x01, 0x02, 0x12, 0x34,              // 'w' by ref
                       0x01, 0x04, 'x',  'y',  'z',  0x00,  // 's'
                       0x00, 0x02, 0x56, 0x78};             // 'w' by value

  bool Decode(const Bytes& body) { return DecodeReply(body.data(), body.size(), 4, params, &d0); }
  void ExpectUnchanged() {
    EXPECT_EQ(card, 0x1111);
    EXPECT_EQ(word, 0x2222);
    EXPECT_EQ(dword, 0x33333333u);
    EXPECT_STREQ(name, "abc");
  }
};

TEST_F(DecodeFixture, WholeReplyWritesD0AndByReferenceNumbersOnly) {
  ASSERT_TRUE(Decode(Reply(7, 4, slots)));
  EXPECT_EQ(d0, 7u);
  EXPECT_EQ(dword, 0xDEADBEEFu);
  EXPECT_EQ(word, 0x1234);
  EXPECT_EQ(card, 0x1111);
  EXPECT_STREQ(name, "abc");
}

TEST_F(DecodeFixture, BodyShorterThanEightBytesIsNoReply) {
  Bytes body = Reply(7, 4, slots);
  for (size_t n = 0; n < 8; ++n) {
    EXPECT_FALSE(DecodeReply(body.data(), n, 4, params, &d0)) << n;
    EXPECT_EQ(d0, 0x44444444u);
    ExpectUnchanged();
  }
  EXPECT_TRUE(DecodeReply(body.data(), 8, 4, params, &d0));
  EXPECT_EQ(d0, 7u);
  ExpectUnchanged();
}

TEST_F(DecodeFixture, WalkStopsAtTheFirstSlotNotWholeInTheBody) {
  Bytes body = Reply(7, 4, slots);
  // Cut inside the second slot: the first ('d') is taken, the 'w' stays.
  ASSERT_TRUE(DecodeReply(body.data(), 14 + 6 + 3, 4, params, &d0));
  EXPECT_EQ(dword, 0xDEADBEEFu);
  EXPECT_EQ(word, 0x2222);
  // Every cut: a parameter is written exactly when its slot lies whole.
  for (size_t n = 8; n <= body.size(); ++n) {
    word = 0x2222;
    dword = 0x33333333;
    Bytes cut(body.begin(), body.begin() + n);
    ASSERT_TRUE(Decode(cut));
    EXPECT_EQ(dword == 0xDEADBEEFu, n >= 20) << n;
    EXPECT_EQ(word == 0x1234, n >= 24) << n;
    EXPECT_EQ(card, 0x1111);
  }
}

TEST_F(DecodeFixture, SlotSizeBeyondTheBodyStopsTheWalk) {
  Bytes lying = slots;
  lying[1] = 0xFF;  // the first slot claims 255 data bytes
  ASSERT_TRUE(Decode(Reply(9, 4, lying)));
  EXPECT_EQ(d0, 9u);
  ExpectUnchanged();
  lying = slots;
  lying[7] = 0x20;  // the second slot runs past the end
  ASSERT_TRUE(Decode(Reply(9, 4, lying)));
  EXPECT_EQ(dword, 0xDEADBEEFu);
  EXPECT_EQ(word, 0x2222);
}

TEST_F(DecodeFixture, NarrowSlotLeavesItsParameterAndTheWalkFollowsTheSizes) {
  // 'd' slot with 2 data bytes, 'w' slot with 1: both too narrow.
  Bytes narrow = {0x01, 0x02, 0xAA, 0xBB, 0x01, 0x01, 0xCC, 0x01, 0x02, 'x', 0x00};
  ASSERT_TRUE(Decode(Reply(1, 4, narrow)));
  ExpectUnchanged();
  // A wider slot gives its first bytes; the walk skips its whole data.
  Bytes wide = {0x01, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x01, 0x04, 0xAB, 0xCD, 0xEF, 0x01};
  ASSERT_TRUE(Decode(Reply(1, 4, wide)));
  EXPECT_EQ(dword, 0x01020304u);
  EXPECT_EQ(word, 0xABCD);
}

TEST_F(DecodeFixture, NoParametersOrNoD0Variable) {
  ASSERT_TRUE(DecodeReply(Reply(5, 0, {}).data(), 14, 0, nullptr, &d0));
  EXPECT_EQ(d0, 5u);
  Bytes body = Reply(6, 4, slots);
  ASSERT_TRUE(DecodeReply(body.data(), body.size(), 4, params, nullptr));
  EXPECT_EQ(d0, 5u);
  EXPECT_EQ(word, 0x1234);
  // A reply with only the RPC header writes D0 and nothing else.
  word = 0x2222;
  dword = 0x33333333;
  ASSERT_TRUE(Decode(Reply(8, 4, {})));
  EXPECT_EQ(d0, 8u);
  ExpectUnchanged();
}

TEST(DecodeRoundTripTest, ReplyEchoingTheRequestSlotsGivesBackTheValues) {
  uint16_t attributes = 0x0102, version = 0x8001;
  uint32_t id = 0xCAFEF00D;
  char name[] = "QuorvaneRT";
  TrapParam params[] = {{'d', &id, 0}, {'s', name, 1}, {'w', &attributes, 1}, {'w', &version, 1}};
  Bytes body;
  ASSERT_TRUE(BuildRequestBody(0xA046, 4, params, &body));
  attributes = version = 0;
  uint32_t d0 = 1;
  ASSERT_TRUE(DecodeReply(body.data(), body.size(), 4, params, &d0));
  EXPECT_EQ(d0, 0u);
  EXPECT_EQ(attributes, 0x0102);
  EXPECT_EQ(version, 0x8001);
  EXPECT_EQ(id, 0xCAFEF00Du);
}

}  // namespace
