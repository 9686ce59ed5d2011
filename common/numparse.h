// Reading decimal numbers from text exactly as formatted input of a double
// ("stream >> d" in the classic locale) reads them, at parser speed.
#pragma once

namespace numparse {

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
bool scan_double(const char*& p, const char* end, double& out);

// True for the characters that white-space skipping passes over.
constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace numparse
