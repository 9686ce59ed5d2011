#include "common/numparse.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fast_float/fast_float.h>

namespace numparse {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that a double holds exactly.
constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t max_exact_integer = std::uint64_t{1} << 53;

}  // namespace

namespace {

bool scan_number(const char*& p, const char* end, double& out) {
  // Decide where the number ends with the same grammar that formatted input
  // accumulates characters by. Short mantissas are gathered on the way.
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* const first = p;
  // Every digit is gathered; when there are more than 19 the gathered value
  // has wrapped and is not used.
  std::uint64_t digits = 0;
  while (p != end && is_digit(*p)) digits = digits * 10 + static_cast<std::uint64_t>(*p++ - '0');
  std::ptrdiff_t count = p - first;
  int scale = 0;  // power of ten of the last digit
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    while (p != end && is_digit(*p)) digits = digits * 10 + static_cast<std::uint64_t>(*p++ - '0');
    scale = -static_cast<int>(std::min<std::ptrdiff_t>(p - fraction, 1000));
    count += p - fraction;
  }
  const bool mantissa = count > 0;
  if (!mantissa) return false;
  int exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    // The exponent letter belongs to the number once it is seen: "1ex" and
    // "1e+" are failed reads, not 1 followed by text.
    ++p;
    bool exponent_negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
      exponent_negative = *p == '-';
      ++p;
    }
    bool any = false;
    while (p != end && is_digit(*p)) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      ++p;
      any = true;
    }
    if (!any) return false;
    if (exponent_negative) exponent = -exponent;
  }

  // Exact mantissa and exact power of ten: one correctly rounded operation.
  const int power = scale + exponent;
  if (count <= 19 && digits <= max_exact_integer && power >= -22 && power <= 22) {
    const double m = static_cast<double>(digits);
    const double value = power < 0 ? m / exact_powers[-power] : m * exact_powers[power];
    out = negative ? -value : value;
    return true;
  }

  double value = 0.0;
  const auto result = fast_float::from_chars(first, p, value);
  if (result.ec != std::errc() || result.ptr != p) return false;
  if (std::isinf(value)) return false;  // overflow: formatted input fails too
  out = negative ? -value : value;
  return true;
}

}  // namespace

number_read read_number(const char* p, const char* end) {
  number_read r{p, 0.0, false};
  r.ok = scan_number(r.stop, end, r.value);
  return r;
}

}  // namespace numparse
