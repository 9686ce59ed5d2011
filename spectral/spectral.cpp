#include "spectral/spectral.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <string>

// Callers and files rely on this exact layout of seventeen 8-byte fields.
static_assert(sizeof(params) == 17 * sizeof(double));
static_assert(offsetof(params, point_count) == 1 * sizeof(double));
static_assert(offsetof(params, spectral_width) == 3 * sizeof(double));
static_assert(offsetof(params, frequency_offset) == 10 * sizeof(double));
static_assert(offsetof(params, shape_second) == 11 * sizeof(double));
static_assert(offsetof(params, shape_first) == 12 * sizeof(double));

namespace {

constexpr double pi = 3.141592653589793;

// point_count truncated toward zero. Every printer prints nothing for fewer
// than one sample, so anything below 1 (NaN included) counts as 0; counts
// beyond the int range saturate instead of overflowing.
int sample_count(double point_count) {
  if (!(point_count >= 1)) return 0;
  if (point_count >= 2147483648.0) return INT_MAX;
  return static_cast<int>(point_count);
}

// Sets fixed notation and the precision before every number, so that the
// stream is left with the precision of the last number printed.
std::ostream& field(int width, int decimals) {
  return std::cout << std::fixed << std::setprecision(decimals) << std::setw(width);
}

// Time of each sample, then one of its parts.
void print_part(params p, const spectrum* signal, double spectrum::*part) {
  const int n = sample_count(p.point_count);
  const double r = 1 / p.spectral_width;
  for (int i = 0; i < n; ++i) {
    field(10, 5) << i * r;
    field(14, 9) << signal[i].*part << std::endl;
  }
}

}  // namespace

void print_euler(const euler* first, const euler* last) {
  for (const euler* e = first; e != last; ++e) {
    field(8, 5) << e->alpha << '\t';
    field(8, 5) << e->beta << '\t';
    field(8, 7) << e->weight << std::endl;
  }
}

void print_fid(const double* first, const double* last) {
  for (const double* v = first; v != last; ++v) std::cout << *v << std::endl;
}

void genFFT(params p, const spectrum* signal) {
  const int n = sample_count(p.point_count);
  if (n <= 1) return;  // the loop below would run zero times
  const double step = p.spectral_width / n;
  // The frequency index runs from -(n/2) to (n-1)/2 - 1: n - 1 lines.
  for (double e = -(n / 2); e < (n - 1) / 2; e = e + 1) {
    // The cosine and sine terms are summed apart and added only at the end.
    double c = 0;
    double s = 0;
    for (int i = 0; i < n; ++i) {
      const double angle = ((i + 0.5) * (e * pi)) / n;
      c += std::cos(angle) * signal[i].re;
      s += std::sin(angle) * signal[i].im;
    }
    const double value = (c + s) / n;
    const double frequency = p.frequency_offset + e * step;
    field(10, 5) << frequency;
    field(10, 5) << value << std::endl;
  }
}

void print_dip(params p, const spectrum* signal) {
  const int n = sample_count(p.point_count);
  // No test for a zero first sample: the lines then show inf or nan.
  for (int i = 0; i < n; ++i) field(14, 9) << signal[i].re / signal[0].re << std::endl;
}

void print_fid_real(params p, const spectrum* signal) { print_part(p, signal, &spectrum::re); }

void print_fid_imag(params p, const spectrum* signal) { print_part(p, signal, &spectrum::im); }

void print_cart(const double m[3][3]) {
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) field(8, 1) << m[row][col] << ' ';
    std::cout << std::endl;
  }
}

void print_cart_complex(const std::complex<double> m[3][3]) {
  // The complex inserter formats "(re,im)" with the stream's notation and
  // precision and then pads the whole entry to the width.
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) field(8, 1) << m[row][col] << ' ';
    std::cout << std::endl;
  }
}

int genShape(params* first, params* last, const char* path) {
  const std::ptrdiff_t room = last > first ? last - first : 0;
  std::ifstream file(path, std::ios::in);  // a missing file reads as empty
  int count = 0;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line.front() == '#') continue;
    if (count < room) {
      std::istringstream fields(line);
      fields.imbue(std::locale::classic());
      double a = std::numeric_limits<double>::quiet_NaN();
      double b = a;
      if (!(fields >> a)) a = std::numeric_limits<double>::quiet_NaN();
      if (!(fields >> b)) b = std::numeric_limits<double>::quiet_NaN();
      first[count].shape_first = a;
      first[count].shape_second = b;
    }
    if (count < INT_MAX) ++count;
  }
  return count;
}
