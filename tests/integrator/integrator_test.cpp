// The readers and the window sums of bandsum, called directly.
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "integrator/kinet_integ.h"
#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

std::string read_peaks(const std::string& text, std::vector<peak>& windows) {
  scratch_dir dir;
  write_file(dir / "peak.list", text);
  return peaksIn((dir / "peak.list").c_str(), windows);
}

TEST(PeaksIn, WindowOfPeakZero) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* line;
    double lo, hi;
  } cases[] = {
      {"0 A: 2.0 1.0", 1.0, 2.0},
      {"0: 1.0 2.0", 1.0, 2.0},
      {"0 A:1.0 2.0 extra", 1.0, 2.0},
      {"0 A: 1.0ppm 2", 1.0, 2.0},
      {"0 X: 1.5 1.5", 1.5, 1.5},
      {"  +0 label with blanks: \t0.1 -3", -3.0, static_cast<double>(0.1f)},
      {"0 A: 0x1p1 1e39", 2.0, inf},
      {"0 A: -inf 1e-50", -inf, 0.0},
      {"0 A: 1 2 3:4", 1.0, 2.0},
      {"0 A: 1 2\r", 1.0, 2.0},
  };
  for (const auto& c : cases) {
    std::vector<peak> windows(1, peak{-7, -7});
    EXPECT_EQ(read_peaks(c.line, windows), "") << c.line;
    EXPECT_EQ(windows[0].lo, c.lo) << c.line;
    EXPECT_EQ(windows[0].hi, c.hi) << c.line;
  }
}

TEST(PeaksIn, BoundsAreSinglePrecision) {
  std::vector<peak> windows(1);
  ASSERT_EQ(read_peaks("0 A: 0 0.1\n", windows), "");
  EXPECT_EQ(windows[0].hi, 0.100000001490116119384765625);
  EXPECT_GT(windows[0].hi, 0.1);
}

TEST(PeaksIn, LaterLineForAnIndexStands) {
  std::vector<peak> windows(1);
  ASSERT_EQ(read_peaks("0 A: 5 6\n# again\n0 A: 1 2\n", windows), "");
  EXPECT_EQ(windows[0].lo, 1.0);
  EXPECT_EQ(windows[0].hi, 2.0);
}

TEST(GenIntegral, StrictWindowsInFileOrder) {
  const std::vector<peak> windows = {{1.0, 2.0}, {1.5, 1.5}, {0.0, 10.0}};
  std::vector<double> sums(3, 0.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const point& s : {point{1.0, 100, 0}, point{1.5, 1e16, 0}, point{1.7, 1, 0}, point{2.0, 100, 0},
                         point{nan, 100, 0}, point{1.2, -1e16, 0}}) {
    genIntegral(s, windows, sums);
  }
  // (1e16 + 1) - 1e16 in this order is 0, not 1: the order of additions shows.
  EXPECT_EQ(sums[0], 0.0);
  EXPECT_EQ(sums[1], 0.0);
  EXPECT_EQ(sums[2], 200.0);
}

}  // namespace
