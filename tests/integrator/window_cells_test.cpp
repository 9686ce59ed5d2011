// Summing by cells against testing every window: the same sums, bit for
// bit, for overlapping, nested, empty and infinite windows and for samples
// on the bounds, outside everything, infinite, NaN or in any order.
#include "integrator/window_cells.h"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// A value from a small set, so that samples often fall on bounds.
double pick(std::mt19937_64& rng) {
  static const double values[] = {-inf, -2.5, -1, -0.0, 0.0, 0.5, 1, 1.5, 2, 2.5, 3, 1e300, inf};
  const auto i = static_cast<std::size_t>(rng() % (std::size(values) + 2));
  if (i == std::size(values)) return std::uniform_real_distribution<double>(-3, 3)(rng);
  if (i > std::size(values)) return static_cast<double>(static_cast<float>(std::uniform_real_distribution<double>(-3, 3)(rng)));
  return values[i];
}

TEST(WindowCells, SumLikeGenIntegral) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<peak> windows(1 + rng() % 12);
    for (peak& w : windows) {
      const double a = pick(rng), b = pick(rng);
      w = rng() % 8 == 0 ? peak{b, a} : peak{std::min(a, b), std::max(a, b)};  // now and then reversed: empty
    }
    window_cells cells;
    ASSERT_TRUE(cut_cells(windows, cells));
    std::vector<double> by_test(windows.size(), 0.0), by_cells(windows.size(), 0.0);
    double x = pick(rng);
    for (int n = 0; n < 400; ++n) {
      if (rng() % 4 != 0) x = rng() % 3 == 0 ? x : pick(rng);  // runs of one x, as in a spectrum
      const double sample_x = rng() % 50 == 0 ? nan : x;
      const double y = rng() % 40 == 0 ? -0.0 : std::uniform_real_distribution<double>(-1e3, 1e3)(rng);
      genIntegral(point{sample_x, y, 0}, windows, by_test);
      add_sample(cells, sample_x, y, by_cells);
    }
    for (std::size_t k = 0; k < windows.size(); ++k) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(by_cells[k]), std::bit_cast<std::uint64_t>(by_test[k])) << round << " " << k;
    }
  }
}

TEST(WindowCells, LeaveTheWorkToGenIntegralWhenTheyCannotHelp) {
  window_cells cells;
  EXPECT_FALSE(cut_cells({{0, 1}, {nan, 2}}, cells));
  // Nested windows put every window into nearly every cell: too many.
  std::vector<peak> nested;
  for (int k = 0; k < 200; ++k) nested.push_back({-1.0 - k, 1.0 + k});
  EXPECT_FALSE(cut_cells(nested, cells));
  EXPECT_TRUE(cut_cells({}, cells));
  std::vector<double> none;
  add_sample(cells, 1.0, 2.0, none);  // no windows, nothing to add to
  EXPECT_TRUE(cut_cells({{1, 2}, {2, 3}, {1, 3}}, cells));
  EXPECT_EQ(cells.bounds, (std::vector<double>{1, 2, 3}));
}

}  // namespace
