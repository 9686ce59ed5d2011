// Reading decimal numbers from text exactly as formatted input of a double
// ("stream >> d" in the classic locale) reads them, at parser speed.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace numparse {

// True for the characters that white-space skipping passes over.
constexpr bool is_space(char c) {
  // Bit c of the mask is set for c = 9 to 13 and 32.
  return static_cast<unsigned char>(c) <= ' ' && ((std::uint64_t{0x100003e00} >> c) & 1) != 0;
}

// The outcome of read_number: where the read stopped, the value and whether
// there was a number.
struct number_read {
  const char* stop;
  double value;
  bool ok;
};

// The read of scan_double from p on, without the white space skipping and
// without the quick path below: every form the grammar allows. Taking and
// giving values, not references, it leaves the callers' pointers and
// values free to stay in registers.
number_read read_number(const char* p, const char* end);

// Powers of ten for the quick path below.
inline constexpr double short_powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

// The quick path of scan_double, for a number at p with at least eight bytes
// before end that is written as at most seven digits with an optional "."
// among them, an optional sign before them and no exponent: reads it in a
// few word-wide steps and returns true, or returns false with p unchanged
// when the number is of another form. Without Value, only p moves.
template <bool Value = true>
inline bool scan_short(const char*& p, const char* end, double& out) {
  if (end - p < 8) return false;
  const bool negative = *p == '-';
  const char* const q = p + (negative || *p == '+');
  if (end - q < 8) return false;
  std::uint64_t word;
  std::memcpy(&word, q, 8);  // byte i is q[i]; bit 8i starts it
  const std::uint64_t d = word ^ 0x3030303030303030u;  // digits become 0 to 9
  // The high bit of every byte that is not a digit.
  const std::uint64_t other = (((d & 0x7f7f7f7f7f7f7f7fu) + 0x7676767676767676u) | d) & 0x8080808080808080u;
  if (other == 0) return false;  // eight digits or more
  const int whole = std::countr_zero(other) - 7;  // bit where the whole part ends
  int stop = whole;                                // bit where the number ends, 64 past the word
  std::uint64_t packed = d;                        // the digits from bit 0 on
  if (((word >> whole) & 0xff) == '.') [[likely]] {
    const std::uint64_t rest = other & (~std::uint64_t{0} << whole << 8);  // 0 for a "." in byte 7
    stop = rest == 0 ? 64 : std::countr_zero(rest) - 7;
    const std::uint64_t low = (std::uint64_t{1} << whole) - 1;
    packed = (d & low) | ((d >> 8) & ~low);  // the "." taken out
  }
  const int digits = stop == whole ? whole : stop - 8;  // bits of digits
  if (digits == 0) return false;
  // The character after the number must not continue it.
  const unsigned next = stop < 64 ? (word >> stop) & 0xff : q + 8 == end ? ' ' : static_cast<unsigned char>(q[8]);
  if ((next | 0x20) == 'e' || (stop == 64 && next - '0' < 10)) return false;
  p = q + (stop >> 3);
  if constexpr (!Value) return true;

  // Eight digits to one number with leading zeros in front (as in fast_float).
  std::uint64_t v = packed << (64 - digits);
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000ff000000ffu) * (100 + (std::uint64_t{1000000} << 32))) +
       (((v >> 16) & 0x000000ff000000ffu) * (1 + (std::uint64_t{10000} << 32)))) >>
      32;
  // Exact digits over an exact power of ten: one correctly rounded division.
  const int fraction = (digits - whole) >> 3;
  const double m = static_cast<double>(v);
  const double value = m / short_powers[fraction];  // exact for fraction 0
  out = negative ? -value : value;
  return true;
}

// Passes over white space (blank, tab, LF, VT, FF, CR) at p, then reads one
// number: optional sign, digits with an optional "." and fraction, optional
// exponent ("e" or "E", optional sign, digits). The number ends at the first
// character that cannot continue it, so "5kg" reads 5 and "1-2" reads 1.
//
// On success stores the correctly rounded value in out, moves p past the
// number and returns true. Fails (returns false, out unchanged, p somewhere
// in [old p, end]) on: no number at p; an exponent letter without digits
// ("1e", "1e+"); a value too large for a double. A value too small to be a
// normal double is stored as the nearest representable value. The words inf
// and nan and hexadecimal forms are not numbers here ("0x1" reads 0).
inline bool scan_double(const char*& p, const char* end, double& out) {
  while (p != end && is_space(*p)) ++p;
  if (scan_short(p, end, out)) return true;
  const number_read r = read_number(p, end);
  p = r.stop;
  if (r.ok) out = r.value;
  return r.ok;
}

// Moves p past the number as scan_double would and returns what it would,
// without working out the value where that can be avoided.
inline bool skip_double(const char*& p, const char* end) {
  while (p != end && is_space(*p)) ++p;
  double unused;
  if (scan_short<false>(p, end, unused)) return true;
  const number_read r = read_number(p, end);
  p = r.stop;
  return r.ok;
}

}  // namespace numparse
