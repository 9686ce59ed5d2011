// Non-negative least squares against solutions known by hand, and the
// optimality conditions on a larger case.
#include <gtest/gtest.h>

#include "engine/nnls.h"

using namespace kinetics;

namespace {

struct nnls_case {
  std::vector<double> e;  // row after row, columns as in x
  long rows;
  std::vector<double> f, x;
};

class Nnls : public ::testing::TestWithParam<nnls_case> {};

TEST_P(Nnls, FindsTheKnownSolution) {
  const nnls_case c = GetParam();
  const long cols = static_cast<long>(c.x.size());
  const matrix_d e = dlib::reshape(dlib::mat(c.e), c.rows, cols);
  const column_d x = nnls(e, dlib::mat(c.f));
  for (long j = 0; j < cols; ++j) EXPECT_NEAR(x(j), c.x[static_cast<std::size_t>(j)], 1e-12) << j;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Nnls,
    ::testing::Values(nnls_case{{1, 0, 0, 1}, 2, {2, 3}, {2, 3}},          // inside: the plain solution
                      nnls_case{{1, 0, 0, 1}, 2, {2, -3}, {2, 0}},         // one bound
                      nnls_case{{1, 0, 0, 1}, 2, {-2, -3}, {0, 0}},        // both
                      nnls_case{{1, 1, 0, 1}, 2, {1, 2}, {0, 1.5}},        // plain solution (-1, 2): coupled
                      nnls_case{{2, 1, 1, 1, 0, 1}, 3, {1, 1, 1}, {0, 1}},
                      nnls_case{{1, 0, 0}, 1, {0}, {0}}));                // nothing to fit

TEST(Nnls, MeetsTheOptimalityConditions) {
  matrix_d e(8, 5);
  column_d f(8);
  unsigned seed = 5;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return 2.0 * (seed >> 16 & 0x7fff) / 32767.0 - 1.0;
  };
  for (long i = 0; i < 8; ++i) {
    f(i) = next();
    for (long j = 0; j < 5; ++j) e(i, j) = next();
  }
  const column_d x = nnls(e, f);
  const column_d w = dlib::trans(e) * (f - e * x);
  for (long j = 0; j < 5; ++j) {
    EXPECT_GE(x(j), 0);
    if (x(j) > 0) EXPECT_NEAR(w(j), 0, 1e-12);
    else EXPECT_LE(w(j), 1e-12);
  }
}

}  // namespace
