// Starting values of the linear values: solved by least squares for the
// rate constants of a start.
#include <cmath>
#include <gtest/gtest.h>

#include "engine/starts.h"

using namespace kinetics;

namespace {

// The problem of a mechanism text with the columns of truth(t) at t = 0..19.
problem problem_of(const std::string& text, double (*truth)(double, int), int columns) {
  mechanism m;
  EXPECT_EQ(parse_mechanism("m.txt", text, m), "");
  measured d;
  d.y.resize(static_cast<std::size_t>(columns));
  for (int i = 0; i < 20; ++i) {
    d.t.push_back(i);
    for (int j = 0; j < columns; ++j) d.y[static_cast<std::size_t>(j)].push_back(truth(i, j));
  }
  return make_problem(m, d);
}

// A -> B with k = 0.3, A0 = 5, B measured with factor 2.
double decay(double t, int j) { return j == 0 ? 5 * std::exp(-0.3 * t) : 2 * 5 * (1 - std::exp(-0.3 * t)); }

TEST(Starts, LinearValuesAreSolvedForTheRateConstants) {
  const struct {
    const char* model;
    std::size_t linear;  // how many fitted values are linear
  } cases[] = {
      {"A -> B  k = 0.3 fixed\nA = 1\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 2 fixed\n", 1},
      {"A -> B  k = 0.3 fixed\nA = 5 fixed\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 30\n", 1},
      {"A -> B  k = 0.3 fixed\nA = 1\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 30\n", 2},
  };
  for (const auto& c : cases) {
    const problem p = problem_of(c.model, decay, 2);
    EXPECT_EQ(linear_positions(p).size(), c.linear) << c.model;
    const values v = from_solver(p, solve_linear(p, to_solver(p, p.base)));
    EXPECT_NEAR(v.c0[0], 5, 1e-6) << c.model;
    EXPECT_NEAR(v.factors[0], 2, 1e-6) << c.model;
  }
}

TEST(Starts, SecondRoundScalesInitialConcentrationsThatAreNotLinear) {
  const problem first_order = problem_of("A -> B  k = 1\nA = 1\ncolumn 1 = A\n", decay, 1);
  EXPECT_EQ(linear_positions(first_order).size(), 1u);
  EXPECT_EQ(second_round(first_order, {{0.0, 1.0}}).size(), 1u);
  const problem dimer = problem_of("2 A -> B  k = 1\nA = 1\ncolumn 1 = eA * A\neA = 1\n", decay, 1);
  EXPECT_EQ(linear_positions(dimer).size(), 1u);  // the factor only
  const std::vector<vector_d> starts = second_round(dimer, {{0.0, 1.0, 1.0}});
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_DOUBLE_EQ(starts[1][1], 0.1);
  EXPECT_DOUBLE_EQ(starts[2][1], 10);
}

}  // namespace
