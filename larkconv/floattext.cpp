#include "floattext.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace larkconv {

namespace {

/// 5^k for k = 0..62 in 32-bit limbs, least significant first: the factors
/// FormatFloat scales by, worked out by the compiler.
struct PowersOfFive {
  static constexpr int kMax = 62;  // 5^62 < 2^144: five limbs
  uint32_t limbs[kMax + 1][5] = {};
  int used[kMax + 1] = {};

  constexpr PowersOfFive() {
    limbs[0][0] = 1;
    used[0] = 1;
    for (int k = 1; k <= kMax; ++k) {
      uint64_t carry = 0;
      int n = used[k - 1];
      for (int i = 0; i < n; ++i) {
        const uint64_t product = static_cast<uint64_t>(limbs[k - 1][i]) * 5 + carry;
        limbs[k][i] = static_cast<uint32_t>(product);
        carry = product >> 32;
      }
      if (carry != 0) limbs[k][n++] = static_cast<uint32_t>(carry);
      used[k] = n;
    }
  }
};

constexpr PowersOfFive kPowersOfFive;

/// An unsigned integer of up to 192 bits in 32-bit limbs, least significant
/// first: a float's magnitude scaled exactly by a power of ten, for FormatFloat.
class WideInt {
 public:
  // m * 5^k, for m below 2^32 and k up to PowersOfFive::kMax.
  static WideInt TimesPowerOfFive(uint32_t m, int k) {
    WideInt value;
    const uint32_t* factor = kPowersOfFive.limbs[k];
    uint64_t carry = 0;
    for (int i = 0; i < kPowersOfFive.used[k]; ++i) {
      const uint64_t product = static_cast<uint64_t>(factor[i]) * m + carry;
      value.limbs[i] = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    value.limbs[kPowersOfFive.used[k]] = static_cast<uint32_t>(carry);
    value.used = kPowersOfFive.used[k] + 1;
    return value;
  }

  // m * 2^shift, for shift up to 128.
  static WideInt Shifted(uint32_t m, int shift) {
    WideInt value;
    const int whole = shift / 32, part = shift % 32;
    const uint64_t wide = static_cast<uint64_t>(m) << part;
    value.limbs[whole] = static_cast<uint32_t>(wide);
    value.limbs[whole + 1] = static_cast<uint32_t>(wide >> 32);
    value.used = whole + 2;
    return value;
  }

  // Divides by divisor, dropping the remainder.
  void Divide(uint32_t divisor) {
    uint64_t rest = 0;
    for (int i = used - 1; i >= 0; --i) {
      const uint64_t current = rest << 32 | limbs[i];
      limbs[i] = static_cast<uint32_t>(current / divisor);
      rest = current % divisor;
    }
  }

  // The value shifted right by start bits; it must then fit in 64 bits.
  uint64_t BitsFrom(int start) const {
    const int at = start / 32, part = start % 32;
    auto limbAt = [&](int i) -> uint64_t { return at + i < kLimbs ? limbs[at + i] : 0u; };
    const uint64_t low = limbAt(0) | limbAt(1) << 32;
    return part == 0 ? low : low >> part | limbAt(2) << (64 - part);
  }

 private:
  WideInt() = default;

  // 2^24 * 5^62, the largest value scaled, is below 2^168; 2^24 * 2^104 below 2^128.
  static constexpr int kLimbs = 6;
  uint32_t limbs[kLimbs] = {};
  int used = 1;  // the limbs above these are zero
};

// floor(m * 2^e * 10^scale), exactly, for m below 2^24 and a result below
// 2^64. A negative scale only comes with a whole-number magnitude (e > 0).
uint64_t ScaledFloor(uint32_t m, int e, int scale) {
  if (scale >= 0) {
    const WideInt value = WideInt::TimesPowerOfFive(m, scale);
    const int twos = e + scale;  // 10^scale = 5^scale * 2^scale
    return twos < 0 ? value.BitsFrom(-twos) : value.BitsFrom(0) << twos;
  }
  // m * 2^e / 10^-scale = m * 2^(e+scale) / 5^-scale, in steps of at most 5^13.
  WideInt value = WideInt::Shifted(m, e + scale);
  for (int left = -scale; left > 0; left -= 13)
    value.Divide(kPowersOfFive.limbs[left < 13 ? left : 13][0]);
  return value.BitsFrom(0);
}

// floor(b * log10(2)) for the binary exponents of floats.
int FloorLog10Pow2(int b) {
  const int scaled = b * 78913;  // log10(2) * 2^18, rounded down
  return scaled >= 0 ? scaled / (1 << 18) : -((-scaled + (1 << 18) - 1) / (1 << 18));
}

// floor(log2(m)) for m > 0.
int FloorLog2(uint32_t m) {
  int n = 0;
  for (; m > 1; m >>= 1)
    ++n;
  return n;
}

constexpr uint64_t kTen7 = 10000000u;
constexpr uint64_t kTen10 = 10000000000u;
constexpr uint64_t kTen16 = 10000000000000000u;
constexpr uint64_t kTen17 = 100000000000000000u;

/// The decimal digits a float's text shows: the magnitude rounded half up to
/// 17 significant digits, and that rounded half up again to the 10 shown.
struct ShownDigits {
  uint64_t digits = 0;  // the 10 significant digits as one number; 0 for zero
  int exponent = 0;     // the value is 0.digits * 10^exponent
  bool exponentForm = false;
};

ShownDigits ShowMagnitude(uint32_t m, int e) {
  ShownDigits shown;
  if (m == 0) return shown;
  // The decimal exponent of the magnitude, or one less; the first 18 digits.
  const int log2 = (m >> 23) != 0 ? e + 23 : e + FloorLog2(m);  // normal or subnormal
  int decimal = FloorLog10Pow2(log2);
  uint64_t first18 = ScaledFloor(m, e, 17 - decimal);
  if (first18 >= 10 * kTen17) {
    first18 /= 10;
    ++decimal;
  }
  shown.exponent = decimal + 1;
  uint64_t first17 = (first18 + 5) / 10;
  if (first17 == kTen17) {
    first17 = kTen16;
    ++shown.exponent;
  }
  shown.exponentForm = shown.exponent < 0 || shown.exponent > 10;
  shown.digits = (first17 + kTen7 / 2) / kTen7;
  if (shown.digits == kTen10) {
    shown.digits = kTen10 / 10;
    ++shown.exponent;
  }
  return shown;
}

const char* SpecialText(uint32_t bits) {
  const bool negative = (bits & 0x80000000u) != 0;
  if ((bits & 0x007FFFFFu) == 0) return negative ? "-1.#INF" : "1.#INF";
  bits |= 0x00400000u;  // a signalling NaN is made quiet
  if (bits == 0xFFC00000u) return "-1.#IND";
  return negative ? "-1.#QNAN" : "1.#QNAN";
}

// Drops the zeros at the end of text[0..end-1], stopping at the decimal point.
size_t TrimFractionZeros(const char* text, size_t end) {
  while (end > 0 && text[end - 1] == '0')
    --end;
  return end;
}

}  // namespace

size_t FormatFloat(uint32_t bits, char* text) {
  if ((bits & 0x7F800000u) == 0x7F800000u) {
    const char* special = SpecialText(bits);
    const size_t length = std::strlen(special);
    std::memcpy(text, special, length);
    return length;
  }
  const uint32_t field = (bits >> 23) & 0xFFu;
  const uint32_t fraction = bits & 0x007FFFFFu;
  const uint32_t m = field == 0 ? fraction : (fraction | 0x00800000u);
  const int e = field == 0 ? -149 : static_cast<int>(field) - 150;
  const ShownDigits shown = ShowMagnitude(m, e);
  char digits[10];
  uint32_t high = static_cast<uint32_t>(shown.digits / 100000);
  uint32_t low = static_cast<uint32_t>(shown.digits % 100000);
  for (int i = 4; i >= 0; --i, high /= 10, low /= 10) {
    digits[i] = static_cast<char>('0' + high % 10);
    digits[i + 5] = static_cast<char>('0' + low % 10);
  }

  size_t n = 0;
  if (bits & 0x80000000u) text[n++] = '-';
  if (shown.exponentForm) {
    text[n++] = digits[0];
    text[n++] = '.';
    std::memcpy(text + n, digits + 1, 9);
    n = TrimFractionZeros(text, n + 9);
    const int power = shown.exponent - 1;
    const int magnitude = power < 0 ? -power : power;
    text[n++] = 'e';
    text[n++] = power < 0 ? '-' : '+';
    text[n++] = static_cast<char>('0' + magnitude / 100);
    text[n++] = static_cast<char>('0' + magnitude / 10 % 10);
    text[n++] = static_cast<char>('0' + magnitude % 10);
    return n;
  }
  if (shown.exponent == 0) text[n++] = '0';
  for (int i = 0; i < shown.exponent; ++i)
    text[n++] = i < 10 ? digits[i] : '0';
  if (shown.exponent < 10) {
    text[n++] = '.';
    for (int i = shown.exponent; i < 10; ++i)
      text[n++] = digits[i];
    n = TrimFractionZeros(text, n);
  }
  return n;
}

std::string FormatFloat(uint32_t bits) {
  char text[kFloatTextMax];
  return std::string(text, FormatFloat(bits, text));
}

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsExponentLetter(char c) {
  return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}

// Where a number's text begins in text: after white space and a sign, which
// sets *negative.
size_t SkipSpaceAndSign(std::string_view text, bool* negative) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i]))
    ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) *negative = text[i++] == '-';
  return i;
}

// Significant digits kept from a number's text. More than the 767 that can
// decide the rounding of a double; any non-zero digit beyond them is kept as
// one sticky digit, which rounds the same way.
constexpr size_t kMaxSignificant = 800;

// An exponent digit string is read up to this value; beyond it the number is
// infinite or zero anyway.
constexpr int64_t kExponentCap = 1000000000000;

/// A number read from text: value = digits * 10^exp10 with digits free of
/// leading and trailing zeros (empty for zero). Built by ScanNumber.
struct DecimalText {
  bool negative = false;
  bool found = false;  // the text begins with a number at all
  std::string digits;
  int64_t exp10 = 0;
};

// Reads the optional exponent at text[i], adding it to number.exp10. Without
// a digit after the letter (and its optional sign) there is no exponent.
void ScanExponent(const std::string& text, size_t i, DecimalText* number) {
  if (i >= text.size() || !IsExponentLetter(text[i])) return;
  ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t exponent = 0;
  for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
    if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
  }
  number->exp10 += negative ? -exponent : exponent;
}

DecimalText ScanNumber(const std::string& text) {
  DecimalText number;
  size_t i = SkipSpaceAndSign(text, &number.negative);
  bool point = false;
  bool sticky = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!IsDecimalDigit(c)) break;
    number.found = true;
    if (number.digits.empty() && c == '0') {
      if (point) --number.exp10;
    } else if (number.digits.size() < kMaxSignificant) {
      number.digits.push_back(c);
      if (point) --number.exp10;
    } else {
      sticky = sticky || c != '0';
      if (!point) ++number.exp10;
    }
  }
  if (!number.found) return number;
  ScanExponent(text, i, &number);
  if (sticky) {
    number.digits.push_back('1');
    --number.exp10;
  }
  const size_t last = number.digits.find_last_not_of('0');
  const size_t kept = last == std::string::npos ? 0 : last + 1;
  number.exp10 += static_cast<int64_t>(number.digits.size() - kept);
  number.digits.resize(kept);
  return number;
}

// Shifts value right by shift bits (1..63), rounding to nearest, ties to even.
uint64_t ShiftRounded(uint64_t value, int shift) {
  const uint64_t quotient = value >> shift;
  const uint64_t rest = value & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  return quotient + ((rest > half || (rest == half && (quotient & 1))) ? 1 : 0);
}

// Rounds a finite, non-negative double to single precision, to nearest with
// ties to even; too large gives infinity, too small subnormals or zero.
uint32_t DoubleToFloatBits(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const int field = static_cast<int>(bits >> 52) & 0x7FF;
  if (field == 0) return 0;  // double subnormals are far below every float
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int exponent = field - 1023;
  if (exponent > 127) return 0x7F800000u;
  if (exponent >= -126) {
    // (exponent + 126) << 23 plus the 24-bit significand: a carry out of the
    // significand moves on to the next exponent, up to infinity.
    const uint64_t significand = ShiftRounded(mantissa, 29);
    return static_cast<uint32_t>((static_cast<uint64_t>(exponent + 126) << 23) + significand);
  }
  const int shift = 29 + (-126 - exponent);  // to units of 2^-149
  if (shift > 54) return 0;
  return static_cast<uint32_t>(ShiftRounded(mantissa, shift));
}

// The bits of the special texts FormatFloat writes ("1.#INF", "-1.#QNAN", ...)
// when text, after white space and a sign, begins with one; false otherwise.
bool ParseSpecialText(std::string_view text, uint32_t* bits) {
  bool negative = false;
  const size_t i = SkipSpaceAndSign(text, &negative);
  if (text.size() - i < 6 || text[i] != '1' || text[i + 1] != '.' || text[i + 2] != '#')
    return false;  // every special text starts so and is at least 6 long
  /// A special text and the bits it reads as, by sign.
  struct Special {
    const char* text;
    uint32_t positive;
    uint32_t negative;
  };
  static const Special kSpecials[] = {{"1.#INF", 0x7F800000u, 0xFF800000u},
                                      {"1.#QNAN", 0x7FC00000u, 0xFFC00001u},
                                      {"1.#IND", 0x7FC00000u, 0xFFC00000u}};
  for (const Special& special : kSpecials) {
    if (text.compare(i, std::strlen(special.text), special.text) == 0) {
      *bits = negative ? special.negative : special.positive;
      return true;
    }
  }
  return false;
}

// The common case read by from_chars alone: after white space and a sign,
// digits with an optional point and "e" exponent, in the range of doubles.
// False for anything else (a "d" exponent, out of range, no number), which
// the full reading then takes.
bool ParsePlainNumber(std::string_view text, uint32_t* bits) {
  bool negative = false;
  const size_t i = SkipSpaceAndSign(text, &negative);
  const size_t digit = i < text.size() && text[i] == '.' ? i + 1 : i;
  if (digit >= text.size() || !IsDecimalDigit(text[digit])) return false;
  double value = 0;
  const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (result.ec != std::errc()) return false;
  if (result.ptr != text.data() + text.size() && (*result.ptr == 'd' || *result.ptr == 'D'))
    return false;
  *bits = (negative ? 0x80000000u : 0) | DoubleToFloatBits(value);
  return true;
}

// Everything ParsePlainNumber leaves: exponents written with "d", magnitudes
// beyond doubles, texts that are no number.
uint32_t ParseAnyNumber(const std::string& text) {
  const DecimalText number = ScanNumber(text);
  if (!number.found) return 0;
  const uint32_t sign = number.negative ? 0x80000000u : 0;
  if (number.digits.empty()) return sign;
  // The value lies in [10^(magnitude-1), 10^magnitude).
  const int64_t magnitude = number.exp10 + static_cast<int64_t>(number.digits.size());
  if (magnitude > 310) return sign | 0x7F800000u;
  if (magnitude < -330) return sign;
  std::string canonical = number.digits;
  canonical += 'e';
  canonical += std::to_string(number.exp10);
  double value = 0;
  const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    return magnitude > 0 ? sign | 0x7F800000u : sign;
  }
  return sign | DoubleToFloatBits(value);
}

}  // namespace

uint32_t ParseFloatBits(const char* text, size_t length) {
  const std::string_view view(text, length);
  uint32_t bits = 0;
  if (ParseSpecialText(view, &bits) || ParsePlainNumber(view, &bits)) return bits;
  return ParseAnyNumber(std::string(view));
}

uint32_t ParseFloatBits(const std::string& text) {
  return ParseFloatBits(text.data(), text.size());
}

}  // namespace larkconv
