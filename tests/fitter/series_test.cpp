// The streaming reduction of a series: what it keeps reproduces the series,
// the known spectra exactly, and what a bounded rank drops is counted.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "common/lanes.h"
#include "engine/series.h"

using namespace kinetics;

namespace {

// A matrix of fixed pseudo-random values in [-1, 1].
matrix_d noise_matrix(long rows, long cols, unsigned seed) {
  matrix_d m(rows, cols);
  for (long i = 0; i < rows; ++i) {
    for (long j = 0; j < cols; ++j) {
      seed = seed * 1103515245u + 12345u;
      m(i, j) = 2.0 * (seed >> 16 & 0x7fff) / 32767.0 - 1.0;
    }
  }
  return m;
}

reduced_series reduce(const matrix_d& d, const matrix_d& known, std::size_t rank) {
  series_reduction r(static_cast<std::size_t>(d.nc()), known, rank);
  for (long i = 0; i < d.nr(); ++i) {
    const matrix_d row = dlib::rowm(d, i);
    r.add(0.5 * static_cast<double>(i), &row(0, 0));
  }
  return r.finish();
}

struct reduction_case {
  long rows, cols, rank_of_data;  // rank_of_data 0: full
  long known;
  std::size_t max_rank;
};

class reduction : public ::testing::TestWithParam<reduction_case> {};

TEST_P(reduction, reproduces_the_series_and_the_known_spectra) {
  const reduction_case c = GetParam();
  matrix_d d = noise_matrix(c.rows, c.cols, 7);
  if (c.rank_of_data > 0) d = noise_matrix(c.rows, c.rank_of_data, 3) * noise_matrix(c.rank_of_data, c.cols, 5);
  const matrix_d known = noise_matrix(c.known, c.cols, 11);
  const reduced_series s = reduce(d, known, c.max_rank);
  ASSERT_EQ(s.t.size(), static_cast<std::size_t>(c.rows));
  EXPECT_DOUBLE_EQ(s.t.back(), 0.5 * static_cast<double>(c.rows - 1));
  EXPECT_NEAR(dlib::max(dlib::abs(dlib::trans(s.basis) * s.basis - dlib::identity_matrix<double>(s.basis.nc()))),
              0, 1e-12);
  EXPECT_NEAR(dlib::max(dlib::abs(s.data * dlib::trans(s.basis) - d)), 0, 1e-12);
  if (c.known > 0) {
    EXPECT_NEAR(dlib::max(dlib::abs(s.known * dlib::trans(s.basis) - known)), 0, 1e-13);
  }
  EXPECT_NEAR(s.total_ss, dlib::sum(dlib::squared(d)), 1e-12 * s.total_ss);
  EXPECT_NEAR(s.discarded_ss, 0, 1e-20 * s.total_ss);
  EXPECT_DOUBLE_EQ(s.largest, dlib::max(dlib::abs(d)));
  // The singular values of the data are those of the series.
  matrix_d u, w, v;
  dlib::svd3(d, u, w, v);
  std::vector<double> sv(w.begin(), w.end());
  std::sort(sv.rbegin(), sv.rend());
  ASSERT_EQ(s.singular.size(), static_cast<std::size_t>(std::min(s.data.nr(), s.data.nc())));
  for (std::size_t i = 0; i < s.singular.size(); ++i) EXPECT_NEAR(s.singular[i], sv[i], 1e-12 * sv[0]) << i;
}

INSTANTIATE_TEST_SUITE_P(series, reduction,
                         ::testing::Values(reduction_case{40, 30, 0, 0, 512},   // every channel kept
                                           reduction_case{30, 40, 0, 0, 512},   // fewer spectra than channels
                                           reduction_case{40, 30, 0, 2, 512},   // with known spectra
                                           reduction_case{100, 60, 4, 0, 5},    // low rank within a small basis
                                           reduction_case{100, 60, 4, 1, 5},
                                           reduction_case{7, 60, 0, 0, 16},     // one block, not filled
                                           reduction_case{40, 2500, 4, 1, 5},   // channels in several pieces
                                           reduction_case{30, 1027, 6, 0, 7})); // and not a multiple of four

TEST(reduction, counts_what_a_small_basis_drops) {
  // Four components and noise, as a series is.
  const matrix_d d = noise_matrix(50, 4, 3) * noise_matrix(4, 40, 5) + 0.01 * noise_matrix(50, 40, 9);
  const reduced_series s = reduce(d, matrix_d(0, 40), 6);
  EXPECT_TRUE(s.truncated());
  EXPECT_EQ(s.basis.nc(), 6);
  const double kept = dlib::sum(dlib::squared(s.data));
  EXPECT_NEAR(kept + s.discarded_ss, s.total_ss, 1e-10 * s.total_ss);
  // Streaming keeps the leading components: all but a hair of what the
  // best rank-6 approximation keeps.
  matrix_d u, w, v;
  dlib::svd3(d, u, w, v);
  std::vector<double> sv(w.begin(), w.end());
  std::sort(sv.rbegin(), sv.rend());
  double best = 0;
  for (int i = 0; i < 6; ++i) best += sv[static_cast<std::size_t>(i)] * sv[static_cast<std::size_t>(i)];
  EXPECT_GT(kept, (1 - 1e-5) * best);
  EXPECT_LE(kept, best * (1 + 1e-12));
}

// The kernels built for AVX give the bits of those for plain x86-64.
TEST(reduction, gives_the_same_bits_with_or_without_avx) {
  const matrix_d d = noise_matrix(37, 3, 4) * noise_matrix(3, 2051, 6) + 0.01 * noise_matrix(37, 2051, 8);
  const matrix_d known = noise_matrix(1, 2051, 10);
  const reduced_series fast = reduce(d, known, 9);
  lanes::avx_allowed() = false;
  const reduced_series plain = reduce(d, known, 9);
  lanes::avx_allowed() = true;
  for (const auto& [a, b] : {std::pair{&fast.data, &plain.data}, std::pair{&fast.basis, &plain.basis}}) {
    ASSERT_EQ(a->size(), b->size());
    EXPECT_EQ(std::memcmp(&(*a)(0, 0), &(*b)(0, 0), static_cast<std::size_t>(a->size()) * sizeof(double)), 0);
  }
  EXPECT_EQ(fast.singular, plain.singular);
  EXPECT_EQ(fast.discarded_ss, plain.discarded_ss);
}

TEST(reduction, limits_the_basis_by_the_channels) {
  EXPECT_EQ(basis_limit(51), 512u);
  EXPECT_EQ(basis_limit(4096), 256u);
  EXPECT_EQ(basis_limit(65536), 16u);
  EXPECT_EQ(basis_limit(10000000), 16u);
}

}  // namespace
