// The runs test of residuals' signs.
#include <cmath>
#include <gtest/gtest.h>

#include "engine/runs.h"

using namespace kinetics;

namespace {

TEST(Runs, CountsRunsOfSignsAndTheirChance) {
  const struct {
    vector_d r;
    int runs;
    double expected, p_low, p_high;
  } cases[] = {
      {{1, -1, 1, -1, 1, -1, 1, -1, 1, -1}, 10, 6, 0.99, 1},   // alternating: more runs than chance
      {{1, 1, 1, 1, 1, -1, -1, -1, -1, -1}, 2, 6, 0, 0.01},    // two runs: systematic
      {{1, 0, 1, -1, 0, -1}, 2, 3, 0.1, 0.7},                   // zeros are left out
      {{1, 1, 1, -1}, 2, 0, 1, 1},                               // one of a sign: no test
  };
  for (const auto& c : cases) {
    const runs_result r = runs_test(c.r);
    EXPECT_EQ(r.runs, c.runs);
    EXPECT_NEAR(r.expected, c.expected, 1e-12);
    EXPECT_GE(r.p, c.p_low);
    EXPECT_LE(r.p, c.p_high);
  }
  // 2 runs of 20 + 20: z = (2.5 - 21) / sqrt(9.74), p about 1.6e-9.
  vector_d halves(40, 1.0);
  for (std::size_t i = 20; i < 40; ++i) halves[i] = -1;
  EXPECT_NEAR(runs_test(halves).p / 1.6e-9, 1, 0.1);
}

TEST(Runs, ColumnsInTheOrderOfTime) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", "A -> B  k = 1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n", m), "");
  measured d{{3, 0, 2, 1}, {{0, 0, 0, 0}, {0, 0, 0, 0}}, {}};
  const problem p = make_problem(m, d);
  // In time order column 1 is + + - -, column 2 + - + -.
  const std::vector<runs_result> runs = column_runs(p, {-1, 1, -1, 1, -1, 1, 1, -1});
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].runs, 2);
  EXPECT_EQ(runs[1].runs, 4);
}

}  // namespace
