#include "common/numparse.h"

#include <cmath>
#include <fast_float/fast_float.h>

namespace numparse {
namespace {
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool scan_double(const char*& p, const char* end, double& out) {
  while (p != end && is_space(*p)) ++p;

  // Decide where the number ends with the same grammar that formatted input
  // accumulates characters by; only then hand the span to the converter.
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* const first = p;
  bool mantissa = false;
  while (p != end && is_digit(*p)) {
    ++p;
    mantissa = true;
  }
  if (p != end && *p == '.') {
    ++p;
    while (p != end && is_digit(*p)) {
      ++p;
      mantissa = true;
    }
  }
  if (!mantissa) return false;
  if (p != end && (*p == 'e' || *p == 'E')) {
    // The exponent letter belongs to the number once it is seen: "1ex" and
    // "1e+" are failed reads, not 1 followed by text.
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    bool exponent = false;
    while (p != end && is_digit(*p)) {
      ++p;
      exponent = true;
    }
    if (!exponent) return false;
  }

  double value = 0.0;
  const auto result = fast_float::from_chars(first, p, value);
  if (result.ec != std::errc() || result.ptr != p) return false;
  if (std::isinf(value)) return false;  // overflow: formatted input fails too
  out = negative ? -value : value;
  return true;
}

}  // namespace numparse
