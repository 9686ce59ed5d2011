// First-order solves that share their matrix exponentials give the bits of
// solves that make their own.
#include "model/linear.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

TEST(SharedExponentials, GiveTheBitsOfOwnOnes) {
  const network abc{3, {{{{0, 1}}, {{1, 1}}}, {{{1, 1}}, {{2, 1}}}}};
  // Times as read from text: gaps equal only up to rounding.
  const std::vector<double> times{0, 0.801603206, 1.60320641, 2.40480962, 3.20641283, 10.4208417, 11.2224449};
  const struct {
    std::vector<double> k, c0;
    std::vector<int> wanted;
  } cases[] = {
      {{0.05, 0.01}, {1, 0, 0}, {0, 1}},
      {{0.05, 0.01}, {2, 0, 0}, {0, 1}},  // the same matrices as the first: found in the cache
      {{0.05, 0.01}, {2, 0, 0}, {}},      // the same rates without sensitivities: other matrices
      {{0.05, 0.02}, {1, 0, 0}, {0, 1}},  // another rate: other matrices
      {{0.05, 0.01}, {1, 0, 0}, {0, 3}},  // another parameter: other matrices
  };
  exponential_cache shared;
  std::size_t kept_before = 0;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    trajectory own, from_cache;
    ASSERT_EQ(solve_first_order(abc, c.k, c.c0, 0, times, c.wanted, own), "");
    ASSERT_EQ(solve_first_order(abc, c.k, c.c0, 0, times, c.wanted, from_cache,
                                std::chrono::steady_clock::time_point::max(), &shared), "");
    EXPECT_TRUE(same_bits(own.c, from_cache.c)) << "case " << i;
    EXPECT_TRUE(same_bits(own.dc, from_cache.dc)) << "case " << i;
    if (i == 1) {
      EXPECT_EQ(shared.entries.size(), kept_before) << "the second experiment made its own";
    } else if (i > 1) {
      EXPECT_GT(shared.entries.size(), kept_before) << "case " << i << " took another's matrices";
    }
    kept_before = shared.entries.size();
  }
}

}  // namespace
