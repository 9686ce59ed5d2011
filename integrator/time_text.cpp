#include "integrator/time_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Appends v printed with format and one int.
void append_formatted(std::string& out, const char* format, int decimals, double v) {
  char text[400];  // the widest fixed double is 330 characters
  const int length = std::snprintf(text, sizeof text, format, decimals, v);
  if (length > 0) out.append(text, static_cast<std::size_t>(std::min<int>(length, sizeof text - 1)));
}

// How often the prime p divides n (n > 0).
int multiplicity(std::uint64_t n, std::uint64_t p) {
  int k = 0;
  for (; n != 0 && n % p == 0; n /= p) ++k;
  return k;
}

}  // namespace

int time_decimals(double step, long long j) {
  if (!std::isfinite(step) || step == 0.0 || j == 0) return 0;
  char text[400];
  const auto end = std::to_chars(text, text + sizeof text, std::fabs(step), std::chars_format::fixed).ptr;
  // step = m × 10^-d with m the digits of the text.
  int d = 0;
  std::uint64_t rest = 0;  // m without its trailing zeros: at most 17 digits
  int zeros = 0;           // trailing zeros of m
  bool after_point = false;
  for (const char* p = text; p != end; ++p) {
    if (*p == '.') {
      after_point = true;
      continue;
    }
    d += after_point;
    if (*p == '0') {
      ++zeros;
    } else {
      for (; zeros > 0; --zeros) rest *= 10;
      rest = rest * 10 + static_cast<std::uint64_t>(*p - '0');
    }
  }
  const auto n = static_cast<std::uint64_t>(j < 0 ? -j : j);
  // The product j × m ends in as many zeros as the lesser of its powers of 2 and 5.
  const int twos = zeros + multiplicity(rest, 2) + multiplicity(n, 2);
  const int fives = zeros + multiplicity(rest, 5) + multiplicity(n, 5);
  const int trailing = twos < fives ? twos : fives;
  return d > trailing ? d - trailing : 0;
}

void append_step_time(std::string& out, double step, long long j) {
  const int decimals = time_decimals(step, j);
  append_formatted(out, "%5.*f ", decimals > 1 ? decimals : 1, step * static_cast<double>(j));
}

void append_given_time(std::string& out, double t) {
  char text[400];
  std::snprintf(text, sizeof text, "%5.1f ", t);
  if (!std::isfinite(t) || std::strtod(text, nullptr) == t) {
    out += text;
    return;
  }
  const auto end = std::to_chars(text, text + sizeof text, t, std::chars_format::fixed).ptr;
  const std::size_t length = static_cast<std::size_t>(end - text);
  if (length < 5) out.append(5 - length, ' ');
  out.append(text, length);
  out += ' ';
}
