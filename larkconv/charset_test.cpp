// The device character sets: every entry of the tables against Python's
// codecs, and the rules of reading, writing and cutting text.

#include "charset.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "testing/child_runs.h"

using namespace larkconv;

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

// What Decoded and Encoded give for text that does not convert: a text that
// is neither UTF-8 nor any byte of either set alone.
const std::string kNoText = "\xFF\xFF";

// The UTF-8 the device bytes read as in set, or kNoText.
std::string Decoded(Charset set, const std::string& bytes) {
  std::string out(kUtf8PerDeviceByte * bytes.size(), '\0');
  try {
    char* end =
        DecodeText(set, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &out[0]);
    out.resize(static_cast<size_t>(end - out.data()));
  } catch (const TextFault& fault) {
    EXPECT_EQ(fault.kind, TextFault::Kind::NotDeviceText);
    return kNoText;
  }
  return out;
}

// The device bytes of the UTF-8 text in set (room for all), or kNoText.
std::string Encoded(Charset set, const std::string& text, size_t room = SIZE_MAX) {
  std::string out(text.size(), '\0');
  try {
    const size_t n = EncodeText(set, text.data(), text.size(), reinterpret_cast<uint8_t*>(&out[0]),
                                std::min(room, text.size()));
    out.resize(n);
  } catch (const TextFault&) {
    return kNoText;
  }
  return out;
}

TextFault FaultOf(Charset set, const std::string& text) {
  try {
    Encoded(set, text);
    uint8_t out[8];
    EncodeText(set, text.data(), text.size(), out, 0);
  } catch (const TextFault& fault) {
    return fault;
  }
  ADD_FAILURE() << "no fault for " << Hex(text);
  return TextFault{TextFault::Kind::NotDeviceText, 0};
}

#ifdef PYTHON3_EXE
std::string Utf8Of(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

// The character of a UTF-8 text of exactly one character, in hex, or "-".
std::string OneChar(const std::string& utf8) {
  if (utf8 == kNoText) return "-";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  uint32_t c = 0;
  size_t n = 1;
  if (p[0] < 0x80) {
    c = p[0];
  } else if (p[0] < 0xE0) {
    c = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
    n = 2;
  } else {
    c = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
    n = 3;
  }
  if (n != utf8.size()) return "-";
  char hex[9];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(c));
  return hex;
}

std::string BytesOfHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Every entry Python's codecs give, read and write, against the tables. The
// differences are the project's on purpose: cp1252's five unassigned bytes
// stand for U+0081, U+008D, U+008F, U+0090 and U+009D both ways, and the six
// characters Python's cp932 writes as a code that reads as another character
// are refused.
TEST(CharsetTest, TablesAgreeWithPythonCodecs) {
  const larkconv_testing::Outcome run =
      process_testing::Run(PYTHON3_EXE, {}, {LARKCONV_SOURCE_DIR "/testing/python_codecs.py"});
  ASSERT_EQ(run.status, 0);
  std::istringstream lines(run.out);
  std::string kind, name, key, want;
  int entries = 0;
  int differences = 0;
  while (lines >> kind >> name >> key >> want) {
    const Charset set = name == "cp1252" ? Charset::Cp1252 : Charset::Cp932;
    ++entries;
    if (kind == "d") {
      const std::string got = OneChar(Decoded(set, BytesOfHex(key)));
      if (set == Charset::Cp1252 && want == "-") {
        ++differences;
        EXPECT_TRUE(key == "81" || key == "8D" || key == "8F" || key == "90" || key == "9D") << key;
        EXPECT_EQ(got, key);
      } else {
        EXPECT_EQ(got, want) << name << " reads " << key;
      }
      continue;
    }
    const uint32_t c = static_cast<uint32_t>(std::stoul(key, nullptr, 16));
    const std::string got = Encoded(set, Utf8Of(c));
    const std::string gotHex = got == kNoText ? "-" : Hex(got);
    if (set == Charset::Cp1252 && want == "-" && gotHex != "-") {
      ++differences;
      EXPECT_TRUE(c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) << key;
      EXPECT_EQ(gotHex, key);
    } else if (set == Charset::Cp932 && want != "-" && gotHex == "-") {
      ++differences;
      EXPECT_NE(OneChar(Decoded(set, BytesOfHex(want))), key) << "U+" << key << " refused";
    } else {
      EXPECT_EQ(gotHex, want) << name << " writes U+" << key;
    }
  }
  EXPECT_EQ(entries, 142788);
  EXPECT_EQ(differences, 5 + 5 + 6);
}
#endif

TEST(CharsetTest, NamesInAnyCase) {
  Charset set = Charset::None;
  EXPECT_TRUE(CharsetNamed("CP1252", &set));
  EXPECT_EQ(set, Charset::Cp1252);
  EXPECT_TRUE(CharsetNamed("Cp932", &set));
  EXPECT_EQ(set, Charset::Cp932);
  for (const char* other : {"", "cp125", "cp1252 ", "utf-8", "shift_jis", "932"})
    EXPECT_FALSE(CharsetNamed(other, &set)) << other;
  EXPECT_STREQ(CharsetName(Charset::Cp932), "cp932");
}

// Every byte reads as a character and is written back as itself.
TEST(CharsetTest, EveryCp1252ByteComesBack) {
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Encoded(Charset::Cp1252, Decoded(Charset::Cp1252, byte)), byte) << b;
  }
  EXPECT_EQ(Decoded(Charset::Cp1252, "\x80\x81\xE9"), "\u20AC\u0081\u00E9");
}

TEST(CharsetTest, Cp932TextThatIsNoText) {
  EXPECT_EQ(Decoded(Charset::Cp932,
                    "\x82\xA0\xB1"
                    "a\x80\xFD"),
            "\u3042\uFF71a\u0080\uF8F1");
  // A lead byte at the end, before a byte that is no trail byte, and a code
  // with no character.
  for (const char* bad : {"a\x82", "\x82\x7F", "\x82\x0A", "\x82\xFD", "\x85\x40", "\xEF\x40"})
    EXPECT_EQ(Decoded(Charset::Cp932, bad), kNoText) << Hex(bad);
}

TEST(CharsetTest, BytesThatAreNotUtf8) {
  for (const char* bad :
       {"\x80", "a\xC3", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80", "\xE3\x81",
        "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "ab\xA9"}) {
    for (Charset set : {Charset::Cp1252, Charset::Cp932}) {
      EXPECT_EQ(FaultOf(set, bad).kind, TextFault::Kind::NotUtf8) << Hex(bad);
    }
  }
}

TEST(CharsetTest, CharactersASetCannotHold) {
  const TextFault fault = FaultOf(Charset::Cp1252, "ok \u3042");
  EXPECT_EQ(fault.kind, TextFault::Kind::NotWritable);
  EXPECT_EQ(fault.character, 0x3042u);
  EXPECT_EQ(FaultOf(Charset::Cp1252, "\u0080").character, 0x80u);  // 80 is the euro sign
  EXPECT_EQ(FaultOf(Charset::Cp932, "\u00E9").character, 0xE9u);
  EXPECT_EQ(FaultOf(Charset::Cp932, "\u00A2").character, 0xA2u);  // no substitute
  EXPECT_EQ(FaultOf(Charset::Cp932, "\U0001F600").character, 0x1F600u);
  // A fault after the cut is still found.
  uint8_t out[4];
  EXPECT_THROW(EncodeText(Charset::Cp1252, "abc\u3042", 6, out, 2), TextFault);
}

// Written text stops before the first character that does not fit whole.
TEST(CharsetTest, CutBeforeACharacterThatDoesNotFit) {
  const std::string text = "a\u3042\uFF71\u00E9";  // a, 82 A0, B1, then no é in cp932
  EXPECT_EQ(Encoded(Charset::Cp932, "a\u3042\uFF71", 1), "a");
  EXPECT_EQ(Encoded(Charset::Cp932, "a\u3042\uFF71", 2), "a");
  EXPECT_EQ(Encoded(Charset::Cp932, "a\u3042\uFF71", 3), "a\x82\xA0");
  EXPECT_EQ(Encoded(Charset::Cp932, "\u3042a", 1), "");  // nothing after the cut
  EXPECT_EQ(Encoded(Charset::Cp932, text), kNoText);
  EXPECT_EQ(Encoded(Charset::Cp1252, "\u00E9\u20AC\u00FC", 2), "\xE9\x80");
}

TEST(CharsetTest, CharTakesTheFirstCharacterInOneByte) {
  EXPECT_EQ(EncodeChar(Charset::Cp1252, "\u20ACuro", 6), 0x80);
  EXPECT_EQ(EncodeChar(Charset::Cp932, "\uFF71\u3042", 6), 0xB1);
  EXPECT_EQ(EncodeChar(Charset::Cp932, "", 0), 0);
  try {
    EncodeChar(Charset::Cp932, "\u3042", 3);
    ADD_FAILURE();
  } catch (const TextFault& fault) {
    EXPECT_EQ(fault.kind, TextFault::Kind::NotWritable);
    EXPECT_EQ(fault.character, 0x3042u);
  }
  EXPECT_THROW(EncodeChar(Charset::Cp1252, "e\xFF", 2), TextFault);  // the rest must be UTF-8
}

}  // namespace
