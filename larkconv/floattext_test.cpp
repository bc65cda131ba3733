#include "floattext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace larkconv;

namespace {

// ---------------------------------------------------------------------------
// An independent model of the float text rule, by exact binary arithmetic:
// the value is N / 2^k; the decimal exponent X is found by comparing with
// powers of ten, and the 17 digits are floor(N * 10^(17-X) / 2^k), rounded up
// when the remainder is at least half.

/// A fixed-size unsigned big number in 32-bit limbs, least significant first.
/// Only the reference model below uses it.
struct Big {
  static constexpr int kLimbs = 12;
  uint32_t limb[kLimbs] = {};

  explicit Big(uint64_t v = 0) {
    limb[0] = static_cast<uint32_t>(v);
    limb[1] = static_cast<uint32_t>(v >> 32);
  }
  void MulSmall(uint32_t f) {
    uint64_t carry = 0;
    for (uint32_t& l : limb) {
      const uint64_t p = static_cast<uint64_t>(l) * f + carry;
      l = static_cast<uint32_t>(p);
      carry = p >> 32;
    }
    EXPECT_EQ(carry, 0u);
  }
  void MulPow10(int n) {
    for (; n >= 9; n -= 9)
      MulSmall(1000000000u);
    for (; n > 0; --n)
      MulSmall(10);
  }
  void ShiftLeft(int bits) {
    const int whole = bits / 32, part = bits % 32;
    for (int i = kLimbs - 1; i >= 0; --i) {
      const uint64_t hi = i - whole >= 0 ? limb[i - whole] : 0;
      const uint64_t lo = i - whole - 1 >= 0 ? limb[i - whole - 1] : 0;
      limb[i] = static_cast<uint32_t>(((hi << 32 | lo) << part) >> 32);
    }
  }
  bool Bit(int i) const { return (limb[i / 32] >> (i % 32)) & 1u; }
  // 64 bits from bit start on, in plain 64-bit arithmetic (32-bit targets
  // have no 128-bit integer).
  uint64_t Bits64From(int start) const {
    const int at = start / 32, part = start % 32;
    auto limbAt = [&](int i) -> uint64_t { return at + i < kLimbs ? limb[at + i] : 0u; };
    const uint64_t low = limbAt(0) | limbAt(1) << 32;
    return part == 0 ? low : low >> part | limbAt(2) << (64 - part);
  }
  bool Less(const Big& other) const {
    for (int i = kLimbs - 1; i >= 0; --i) {
      if (limb[i] != other.limb[i]) return limb[i] < other.limb[i];
    }
    return false;
  }
  // Divides by d in place and returns the remainder.
  uint32_t DivSmall(uint32_t d) {
    uint64_t rest = 0;
    for (int i = kLimbs - 1; i >= 0; --i) {
      const uint64_t cur = (rest << 32) | limb[i];
      limb[i] = static_cast<uint32_t>(cur / d);
      rest = cur % d;
    }
    return static_cast<uint32_t>(rest);
  }
};

// Is n / 2^k below 10^y?
bool BelowPow10(uint64_t m, int shiftUp, int k, int y) {
  Big left(m);
  left.ShiftLeft(shiftUp);
  Big right(1);
  if (y >= 0) {
    right.MulPow10(y);
  } else {
    left.MulPow10(-y);
  }
  right.ShiftLeft(k);
  return left.Less(right);
}

std::string ModelText(uint32_t bits) {
  const bool negative = bits >> 31;
  const int field = (bits >> 23) & 0xFF;
  const uint32_t fraction = bits & 0x7FFFFF;
  if (field == 0xFF) {
    if (fraction == 0) return negative ? "-1.#INF" : "1.#INF";
    if ((bits | 0x400000) == 0xFFC00000u) return "-1.#IND";
    return negative ? "-1.#QNAN" : "1.#QNAN";
  }
  // The value as m * 2^(field-150), or the subnormal m * 2^-149.
  const uint64_t m = field ? (fraction | 0x800000u) : fraction;
  const int power = (field ? field : 1) - 150;
  const int shiftUp = power > 0 ? power : 0;
  const int k = power < 0 ? -power : 0;

  int x = 0;
  uint64_t q17 = 0;
  if (m != 0) {
    x = static_cast<int>(std::floor(std::log10(std::ldexp(static_cast<double>(m), power)))) + 1;
    while (!BelowPow10(m, shiftUp, k, x))
      ++x;
    while (BelowPow10(m, shiftUp, k, x - 1))
      --x;
    const int s = 17 - x;
    Big scaled(m);
    scaled.ShiftLeft(shiftUp);
    if (s >= 0) {
      scaled.MulPow10(s);
      q17 = scaled.Bits64From(k);
      if (k > 0 && scaled.Bit(k - 1)) ++q17;
    } else {
      // Here k is 0: divide twice the value by 10^-s in pieces; the quotient's
      // last bit says whether the remainder was at least half the divisor.
      scaled.MulSmall(2);
      for (int left = -s; left > 0;) {
        const int step = left > 9 ? 9 : left;
        uint32_t divisor = 1;
        for (int i = 0; i < step; ++i)
          divisor *= 10;
        scaled.DivSmall(divisor);
        left -= step;
      }
      const uint64_t twice = scaled.Bits64From(0);
      q17 = twice / 2 + (twice & 1);
    }
    if (q17 == 100000000000000000ull) {
      q17 /= 10;
      ++x;
    }
  }
  const bool exponentForm = x < 0 || x > 10;
  uint64_t q10 = q17 / 10000000 + (q17 % 10000000 >= 5000000 ? 1 : 0);
  if (q10 == 10000000000ull) {
    q10 /= 10;
    ++x;
  }
  std::string digits = std::to_string(q10);
  if (m == 0) digits = "0000000000";
  std::string text = negative ? "-" : "";
  if (exponentForm) {
    std::string after = digits.substr(1);
    while (!after.empty() && after.back() == '0')
      after.pop_back();
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, "e%c%03d", x - 1 < 0 ? '-' : '+', std::abs(x - 1));
    return text + digits.substr(0, 1) + "." + after + exponent;
  }
  std::string whole = x == 0 ? "0" : digits.substr(0, x);
  if (x == 10) return text + whole;
  std::string after = digits.substr(x);
  while (!after.empty() && after.back() == '0')
    after.pop_back();
  return text + whole + "." + after;
}

uint32_t BitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// Checks FormatFloat against the model, and that a finite value's text reads
// back to the same bits.
void ExpectAgreement(uint32_t bits) {
  const std::string text = FormatFloat(bits);
  ASSERT_EQ(text, ModelText(bits)) << std::hex << "bits " << bits;
  if ((bits & 0x7F800000u) != 0x7F800000u) {
    ASSERT_EQ(ParseFloatBits(text), bits) << text;
  }
}

// ---------------------------------------------------------------------------

TEST(FormatFloat, WorkedTable) {
  const struct {
    uint32_t bits;
    const char* text;
  } rows[] = {
      {0x3F800000, "1."},
      {0x3F000000, "0.5"},
      {0x3DCCCCCD, "0.1000000015"},
      {0x42C88000, "100.25"},
      {0xC0200000, "-2.5"},
      {0x477FFF00, "65535."},
      {0x4E6E6B28, "1000000000"},
      {0x4E932C06, "1234567936"},
      {0x501502F9, "1.e+010"},
      {0x3D4CCCCD, "5.000000075e-002"},
      {0x3A83126F, "1.000000047e-003"},
      {0x7F7FFFFF, "3.402823466e+038"},
      {0x00000001, "1.401298464e-045"},
      {0x00000000, "0."},
      {0x80000000, "-0."},
      {0x7F800000, "1.#INF"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FormatFloat(row.bits), row.text) << std::hex << row.bits;
    EXPECT_EQ(ModelText(row.bits), row.text) << std::hex << row.bits;
  }
}

TEST(FormatFloat, SpecialValues) {
  EXPECT_EQ(FormatFloat(0xFF800000), "-1.#INF");
  EXPECT_EQ(FormatFloat(0x7FC00000), "1.#QNAN");
  EXPECT_EQ(FormatFloat(0xFFC00000), "-1.#IND");
  EXPECT_EQ(FormatFloat(0xFFC00001), "-1.#QNAN");
  EXPECT_EQ(FormatFloat(0x7F800001), "1.#QNAN");  // signalling, made quiet
  EXPECT_EQ(FormatFloat(0xFF800001), "-1.#QNAN");
  EXPECT_EQ(FormatFloat(0xFFBFFFFF), "-1.#QNAN");
  EXPECT_EQ(FormatFloat(0x7FFFFFFF), "1.#QNAN");
}

TEST(FormatFloat, FormBoundaries) {
  EXPECT_EQ(FormatFloat(BitsOf(0.25f)), "0.25");               // X = 0: fixed
  EXPECT_EQ(FormatFloat(BitsOf(0.09375f)), "9.375e-002");      // X = -1: exponent
  EXPECT_EQ(FormatFloat(BitsOf(9999998976.f)), "9999998976");  // X = 10: no point
  EXPECT_EQ(FormatFloat(BitsOf(123.f)), "123.");
  EXPECT_EQ(FormatFloat(BitsOf(-7e20f)), "-6.999999788e+020");
  EXPECT_EQ(FormatFloat(BitsOf(1e-40f)), "9.999946101e-041");
}

TEST(FormatFloat, RoundsTo17DigitsBeforeRoundingTo10) {
  // Values whose 11th to 17th digits are 4999999 followed by a digit of 5 or
  // more: the 17-digit rounding makes them ...5000000, which then rounds up.
  EXPECT_EQ(FormatFloat(0x33879F71), "6.315429602e-008");  // 6.3154296014999999897...e-08
  EXPECT_EQ(FormatFloat(0x6143688E), "2.252905659e+020");  // 2.2529056584999999897...e+20
  EXPECT_EQ(FormatFloat(0x0127D9F4), "3.082942942e-038");  // 3.0829429414999999647...e-38
  EXPECT_EQ(FormatFloat(0x3F7FFFFF), "0.9999999404");
}

TEST(FormatFloat, AgreesWithModelOnBoundaryClasses) {
  // Every subnormal and normal boundary, the neighbours of every power of ten
  // in range and of every float exponent.
  std::vector<uint32_t> bits;
  for (uint32_t b = 0; b < 0x10000; ++b)
    bits.push_back(b);  // small subnormals
  for (uint32_t b = 0x7F0000; b < 0x810000; ++b)
    bits.push_back(b);  // subnormal/normal edge
  for (int e = -45; e <= 38; ++e) {
    const uint32_t center = BitsOf(std::strtof(("1e" + std::to_string(e)).c_str(), nullptr));
    for (uint32_t d = 0; d < 2048; ++d)
      bits.push_back(center - 1024 + d);
    const uint32_t half = BitsOf(std::strtof(("5e" + std::to_string(e)).c_str(), nullptr));
    for (uint32_t d = 0; d < 64; ++d)
      bits.push_back(half - 32 + d);
  }
  for (uint32_t field = 0; field < 255; ++field) {
    for (uint32_t d = 0; d < 64; ++d) {
      bits.push_back((field << 23) + d);
      bits.push_back((field << 23) + 0x7FFFFF - d);
    }
  }
  for (uint32_t b : bits) {
    ExpectAgreement(b & 0x7FFFFFFF);
    ExpectAgreement(b | 0x80000000);
  }
}

TEST(FormatFloat, AgreesWithModelOnRandomBits) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 3000000; ++i)
    ExpectAgreement(rng());
}

// Every one of the 2^32 patterns; takes minutes, so it is run by hand:
//   floattext_test --gtest_also_run_disabled_tests --gtest_filter='*AllBitPatterns*'
TEST(FormatFloat, DISABLED_AllBitPatterns) {
  const unsigned threads = 2;
  std::atomic<uint64_t> failures{0};
  std::atomic<unsigned> blocksDone{0};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([t, &failures, &blocksDone] {
      // 256 blocks of 2^24 patterns, taken in turn by the threads.
      for (uint64_t block = t; block < 256; block += threads) {
        for (uint64_t b = block << 24; b < (block + 1) << 24; ++b) {
          const uint32_t bits = static_cast<uint32_t>(b);
          const std::string text = FormatFloat(bits);
          bool good = text == ModelText(bits);
          if (good && (bits & 0x7F800000u) != 0x7F800000u) good = ParseFloatBits(text) == bits;
          if (!good && failures++ < 10) std::printf("mismatch %08x %s\n", bits, text.c_str());
        }
        std::printf("%u/256 blocks done\n", ++blocksDone);
        std::fflush(stdout);
      }
    });
  }
  for (auto& th : pool)
    th.join();
  EXPECT_EQ(failures.load(), 0u);
}

// ---------------------------------------------------------------------------

TEST(ParseFloatBits, ReadsNumbersTheWayStrtodDoes) {
  for (const char* one : {"1",      "1.",    "1e0",   "1d0",   "1D0", "1E0", "+1",  " \t\n\v\f\r1",
                          "1.0000", "0.1e1", ".1e+1", "10d-1", "1x",  "1e",  "1e+", "1d-",
                          "1.#IN",  "1..5",  "1e0.5", "001",   "1 2"}) {
    EXPECT_EQ(ParseFloatBits(one), 0x3F800000u) << one;
  }
  EXPECT_EQ(ParseFloatBits("0.1"), 0x3DCCCCCDu);
  EXPECT_EQ(ParseFloatBits("-2.5"), 0xC0200000u);
  EXPECT_EQ(ParseFloatBits(".5"), 0x3F000000u);
  EXPECT_EQ(ParseFloatBits("5."), 0x40A00000u);
  EXPECT_EQ(ParseFloatBits("-0"), 0x80000000u);
  EXPECT_EQ(ParseFloatBits("-0."), 0x80000000u);
  EXPECT_EQ(ParseFloatBits("0e999999"), 0u);
}

TEST(ParseFloatBits, TextWithoutANumberReadsAsZero) {
  for (const char* zero : {"", "abc", "nan", "NAN", "inf", "-inf", "infinity", ".", "-", "+.", "e5",
                           ".e5", "#INF", " ", "0x1p3"}) {
    EXPECT_EQ(ParseFloatBits(zero), 0u) << zero;
  }
  EXPECT_EQ(ParseFloatBits("-1.#INFX"), 0xFF800000u);  // a special text, then text ignored
  EXPECT_EQ(ParseFloatBits("1.#IN"), 0x3F800000u);     // no special text: reads as 1
}

TEST(ParseFloatBits, SpecialTextsReadBackToTheirBits) {
  const struct {
    const char* text;
    uint32_t bits;
  } kCases[] = {{"1.#INF", 0x7F800000u},    {"-1.#INF", 0xFF800000u}, {"+1.#INF", 0x7F800000u},
                {" \t1.#INF", 0x7F800000u}, {"1.#QNAN", 0x7FC00000u}, {"-1.#QNAN", 0xFFC00001u},
                {"1.#IND", 0x7FC00000u},    {"-1.#IND", 0xFFC00000u}, {"1.#QNAN0", 0x7FC00000u}};
  for (const auto& c : kCases)
    EXPECT_EQ(ParseFloatBits(c.text), c.bits) << c.text;
  for (uint32_t bits : {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00000u, 0xFFC00001u})
    EXPECT_EQ(ParseFloatBits(FormatFloat(bits)), bits) << FormatFloat(bits);
}

TEST(ParseFloatBits, OutOfRangeMagnitudes) {
  EXPECT_EQ(ParseFloatBits("1e39"), 0x7F800000u);
  EXPECT_EQ(ParseFloatBits("-1e39"), 0xFF800000u);
  EXPECT_EQ(ParseFloatBits("3.4028235e38"), 0x7F7FFFFFu);
  EXPECT_EQ(ParseFloatBits("3.40282357e38"), 0x7F800000u);  // above the last midpoint
  EXPECT_EQ(ParseFloatBits("1e400"), 0x7F800000u);          // beyond double too
  EXPECT_EQ(ParseFloatBits("1e999999999999999999999999999999"), 0x7F800000u);
  EXPECT_EQ(ParseFloatBits("-1d999999999999999999999999999999"), 0xFF800000u);
  EXPECT_EQ(ParseFloatBits("1e-999999999999999999999999999999"), 0u);
  EXPECT_EQ(ParseFloatBits("-1e-400"), 0x80000000u);
  EXPECT_EQ(ParseFloatBits("1e-50"), 0u);
  EXPECT_EQ(ParseFloatBits("1.401298464e-45"), 1u);
  EXPECT_EQ(ParseFloatBits("7.1e-46"), 1u);  // above half the smallest subnormal
  EXPECT_EQ(ParseFloatBits("7e-46"), 0u);    // below it
  EXPECT_EQ(ParseFloatBits("1.1754942e-38"), 0x007FFFFFu);
  EXPECT_EQ(ParseFloatBits("1.17549435e-38"), 0x00800000u);
}

TEST(ParseFloatBits, RoundsThroughDoubleThenTiesToEven) {
  // 1 + 2^-24 is the midpoint between 1 and the next float: even is 1.
  EXPECT_EQ(ParseFloatBits("1.000000059604644775390625"), 0x3F800000u);
  // Slightly above the midpoint, but not by enough to leave the double that
  // holds the midpoint, so the tie rule still applies.
  EXPECT_EQ(ParseFloatBits("1.000000059604644776257986737988403547205962240695953369140625"),
            0x3F800000u);
  // Clearly above the midpoint.
  EXPECT_EQ(ParseFloatBits("1.00000006"), 0x3F800001u);
  // The midpoint above an odd float rounds up to even.
  EXPECT_EQ(ParseFloatBits("1.000000178813934326171875"), 0x3F800002u);
}

TEST(ParseFloatBits, LongDigitStrings) {
  EXPECT_EQ(ParseFloatBits("1" + std::string(5000, '0') + "e-5000"), 0x3F800000u);
  EXPECT_EQ(ParseFloatBits("0." + std::string(5000, '0') + "1e5001"), 0x3F800000u);
  EXPECT_EQ(ParseFloatBits("0." + std::string(5000, '0') + "1"), 0u);
  EXPECT_EQ(ParseFloatBits(std::string(5000, '9')), 0x7F800000u);
  // The midpoint 1 + 2^-24 followed by a far non-zero digit lies above it.
  const std::string above = "1.000000059604644775390625" + std::string(3000, '0') + "1";
  EXPECT_EQ(ParseFloatBits(above), 0x3F800000u);  // still the double of the midpoint
  const std::string doubleMid = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(ParseFloatBits(doubleMid + std::string(3000, '0') + "1"), 0x3F800000u);
}

// Expected bits by the C library's strtod (reading d as e) and the
// hardware's double to float rounding.
uint32_t ReferenceBits(std::string text) {
  for (char& c : text) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  // No conversion gives zero; MinGW's strtod makes it -0 for "-.".
  if (end == text.c_str()) return 0;
  const double limit = std::ldexp(2.0 - std::ldexp(1.0, -24), 127);  // last float midpoint
  if (std::fabs(d) >= limit) return d < 0 ? 0xFF800000u : 0x7F800000u;
  return BitsOf(static_cast<float>(d));
}

TEST(ParseFloatBits, AgreesWithStrtodOnRandomTexts) {
  std::mt19937 rng(7);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    if (pick(4) == 0) text += " ";
    if (pick(3) == 0) text += pick(2) ? "-" : "+";
    const int intDigits = pick(25);
    for (int d = 0; d < intDigits; ++d)
      text += static_cast<char>('0' + pick(10));
    if (pick(2)) text += '.';
    const int fracDigits = pick(25);
    for (int d = 0; d < fracDigits; ++d)
      text += static_cast<char>('0' + pick(10));
    if (pick(2)) {
      text += "eEdD"[pick(4)];
      if (pick(2)) text += pick(2) ? "-" : "+";
      text += std::to_string(pick(70));
    }
    ASSERT_EQ(ParseFloatBits(text), ReferenceBits(text)) << text;
  }
}

}  // namespace
