// First-order solves that share their matrix exponentials give the bits of
// solves that make their own, and stepping four rows at a time gives the
// bits of a plain product of the exponential and the state.
#include "model/linear.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "common/lanes.h"

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

TEST(FirstOrder, StepsGiveTheBitsOfAPlainProduct) {
  const network abc{3, {{{{0, 1}}, {{1, 1}}}, {{{1, 1}}, {{2, 1}}}}};
  const std::vector<double> k{0.7, 0.2}, c0{1, 0.5, 0}, times{0, 0.5, 1, 1.5, 2.5};
  // The system without and with the sensitivity to k1 (width 3 and 6).
  const std::vector<double> plain{-0.7, 0, 0, 0.7, -0.2, 0, 0, 0.2, 0};
  std::vector<double> with_k1(36, 0.0);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) with_k1[r * 6 + c] = with_k1[(r + 3) * 6 + c + 3] = plain[r * 3 + c];
  }
  with_k1[3 * 6 + 0] = -1, with_k1[4 * 6 + 0] = 1;
  const struct {
    const std::vector<double>* m;
    std::vector<int> wanted;
  } cases[] = {{&plain, {}}, {&with_k1, {0}}};
  for (const auto& c : cases) {
    const std::size_t width = c.wanted.empty() ? 3 : 6;
    std::vector<double> y(width, 0.0), want, want_d;
    std::copy(c0.begin(), c0.end(), y.begin());
    for (std::size_t i = 0; i < times.size(); ++i) {
      if (i > 0) {
        std::vector<double> mh = *c.m, next(width);
        for (double& v : mh) v *= times[i] - times[i - 1];
        const std::vector<double> e = matrix_exponential(mh, width);
        for (std::size_t r = 0; r < width; ++r) {
          double sum = 0.0;
          for (std::size_t col = 0; col < width; ++col) sum += e[r * width + col] * y[col];
          next[r] = sum;
        }
        y = next;
      }
      want.insert(want.end(), y.begin(), y.begin() + 3);
      want_d.insert(want_d.end(), y.begin() + 3, y.end());
    }
    for (const bool avx : {true, false}) {
      kinetics::lanes::avx_allowed() = avx;
      trajectory got;
      ASSERT_EQ(solve_first_order(abc, k, c0, 0, times, c.wanted, got), "");
      kinetics::lanes::avx_allowed() = true;
      EXPECT_TRUE(same_bits(got.c, want)) << width << (avx ? " with AVX" : "");
      EXPECT_TRUE(same_bits(got.dc, want_d)) << width << (avx ? " with AVX" : "");
    }
  }
}

}  // namespace
