#include "spectral/spectral.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

constexpr auto default_flags = std::ios_base::skipws | std::ios_base::dec;

// Runs a printer on a std::cout in its initial format state and returns what
// it printed.
std::string printed(const std::function<void()>& call) {
  std::cout.flags(default_flags);
  std::cout.precision(6);
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

params signal_params(double point_count, double width = 1000, double offset = 0) {
  params p{};
  p.point_count = point_count;
  p.spectral_width = width;
  p.frequency_offset = offset;
  return p;
}

const spectrum two[] = {{1, 0}, {0, 0}};
const spectrum three[] = {{2, -1}, {1, 0.5}, {-3, 0.25}};
const euler angles[] = {{10.5, -2.25, 7, 0.125}, {1, 0, 0, 1}};
const double real_m[3][3] = {{1, -2.5, 100}, {0, 12345678, -0.04}, {0.06, 3, 4}};
const std::complex<double> complex_m[3][3] = {
    {{0, 0}, {-1.5, 2}, {1000, -0.5}}, {{0.26, 0}, {1, 1}, {-0.04, 0}}, {{2, 3}, {4, 5}, {6, 7}}};
const double values[] = {0.5, 1.0};

struct printer_case {
  const char* name;
  std::function<void()> call;
  std::string out;
  int precision;  // left on std::cout in fixed notation; 0: format untouched
};

TEST(SpectralPrinters, OutputAndFormatLeftBehind) {
  const printer_case cases[] = {
      {"genFFT two samples", [] { genFFT(signal_params(2), two); }, "-500.00000   0.35355\n", 5},
      {"genFFT one sample", [] { genFFT(signal_params(1), two); }, "", 0},
      {"genFFT no sample", [] { genFFT(signal_params(0), two); }, "", 0},
      {"print_dip", [] { print_dip(signal_params(3, 4), three); },
       "   1.000000000\n   0.500000000\n  -1.500000000\n", 9},
      {"print_fid_real", [] { print_fid_real(signal_params(3, 4), three); },
       "   0.00000   2.000000000\n   0.25000   1.000000000\n   0.50000  -3.000000000\n", 9},
      {"print_fid_imag", [] { print_fid_imag(signal_params(3, 4), three); },
       "   0.00000  -1.000000000\n   0.25000   0.500000000\n   0.50000   0.250000000\n", 9},
      {"signal printers, no sample",
       [] {
         print_dip(signal_params(0), three);
         print_fid_real(signal_params(-2), three);
         print_fid_imag(signal_params(0.9), three);
       },
       "", 0},
      {"print_euler", [] { print_euler(angles, angles + 2); },
       "10.50000\t-2.25000\t0.1250000\n 1.00000\t 0.00000\t1.0000000\n", 7},
      {"print_cart", [] { print_cart(real_m); },
       "     1.0     -2.5    100.0 \n     0.0 12345678.0     -0.0 \n     0.1      3.0      4.0 \n", 1},
      {"print_cart_complex", [] { print_cart_complex(complex_m); },
       "(0.0,0.0) (-1.5,2.0) (1000.0,-0.5) \n(0.3,0.0) (1.0,1.0) (-0.0,0.0) \n(2.0,3.0) (4.0,5.0) (6.0,7.0) \n", 1},
      {"print_fid, default format", [] { print_fid(values, values + 2); }, "0.5\n1\n", 0},
      {"print_fid after genFFT", [] { genFFT(signal_params(2), two); print_fid(values, values + 2); },
       "-500.00000   0.35355\n0.50000\n1.00000\n", 5},
      {"print_fid after an empty genFFT", [] { genFFT(signal_params(1), two); print_fid(values, values + 2); },
       "0.5\n1\n", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printed(c.call), c.out) << c.name;
    EXPECT_EQ(std::cout.flags(), c.precision ? default_flags | std::ios_base::fixed : default_flags) << c.name;
    EXPECT_EQ(std::cout.precision(), c.precision ? c.precision : 6) << c.name;
  }
}

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST(SpectralPrinters, PointCountIsTruncated) {
  const spectrum samples[6] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}, {11, 12}};
  const std::string fft = printed([&] { genFFT(signal_params(5.9, 1000, 10), samples); });
  EXPECT_EQ(fft, printed([&] { genFFT(signal_params(5, 1000, 10), samples); }));
  ASSERT_EQ(lines(fft), 4);
  const char* const frequencies[] = {"-390.00000", "-190.00000", "  10.00000", " 210.00000"};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(fft.substr(k * 21, 10), frequencies[k]);
  EXPECT_EQ(lines(printed([&] { print_dip(signal_params(5.9), samples); })), 5);
  EXPECT_EQ(lines(printed([&] { print_fid_real(signal_params(5.9), samples); })), 5);
  EXPECT_EQ(lines(printed([&] { print_fid_imag(signal_params(5.9), samples); })), 5);
}

// The transform against the exact sum (1/n) Re sum x_i exp(-j (i + 1/2) e pi / n).
TEST(SpectralPrinters, TransformEqualsDiscreteSum) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-10, 10);
  for (int n : {7, 8}) {
    std::vector<spectrum> x(n);
    for (auto& s : x) s = {u(rng), u(rng)};
    std::string expected;
    for (int e = -(n / 2); e <= (n - 1) / 2 - 1; ++e) {
      std::complex<long double> sum = 0;
      for (int i = 0; i < n; ++i)
        sum += std::complex<long double>(x[i].re, x[i].im) *
               std::exp(std::complex<long double>(0, -(i + 0.5L) * e * 3.14159265358979323846L / n));
      char line[64];
      std::snprintf(line, sizeof line, "%10.5f%10.5f\n", 2.5 + e * (300.0 / n), static_cast<double>(sum.real() / n));
      expected += line;
    }
    EXPECT_EQ(printed([&] { genFFT(signal_params(n, 300, 2.5), x.data()); }), expected) << n;
  }
}

using fields = std::array<double, 17>;
using bits = std::array<std::uint64_t, 17>;  // compared bit for bit, so that NaN equals NaN

struct shape_case {
  const char* name;
  const char* text;  // nullptr: no file
  bool read_only;
  int room;
  int count;
  std::vector<std::array<double, 2>> firsts_seconds;  // of the records within room
};

TEST(SpectralShape, FillsAtMostItsRecords) {
  const double nan = std::nan("");
  const shape_case cases[] = {
      {"example", "# comment\n\n1 2\n3 4 5\n", false, 3, 2, {{1, 2}, {3, 4}}},
      {"longer than the array", "1 2\n3 4\n5 6\n7 8\n", false, 2, 4, {{1, 2}, {3, 4}}},
      {"read-only file", "1 2\n3 4", true, 3, 2, {{1, 2}, {3, 4}}},
      {"missing file", nullptr, false, 3, 0, {}},
      {"empty", "", false, 3, 0, {}},
      {"comments only", "#\n# 1 2\n", false, 3, 0, {}},
      {"other data lines", " \n& 1 2\n  # 3\n\t7 8x\n9 x\n10", false, 6, 6,
       {{nan, nan}, {nan, nan}, {nan, nan}, {7, 8}, {9, nan}, {10, nan}}},
  };
  const fields untouched{-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12, -13, -14, -15, -16, -17};
  for (const auto& c : cases) {
    scratch_dir dir;
    if (c.text != nullptr) write_file(dir / "shape.txt", c.text);
    if (c.read_only) std::filesystem::permissions(dir / "shape.txt", std::filesystem::perms::owner_read);
    std::vector<params> records(7, std::bit_cast<params>(untouched));
    EXPECT_EQ(genShape(records.data(), records.data() + c.room, (dir / "shape.txt").c_str()), c.count) << c.name;
    for (std::size_t r = 0; r < records.size(); ++r) {
      fields expected = untouched;
      if (r < c.firsts_seconds.size()) {
        expected[12] = c.firsts_seconds[r][0];
        expected[11] = c.firsts_seconds[r][1];
      }
      EXPECT_EQ(std::bit_cast<bits>(records[r]), std::bit_cast<bits>(expected)) << c.name << " record " << r;
    }
  }
}

}  // namespace
