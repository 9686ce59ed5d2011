// The layout of the picture: which columns share a panel.
#include <gtest/gtest.h>

#include "fitter/plot.h"

using namespace kinetics;

namespace {

TEST(Plot, ColumnsOfScalesTenTimesApartGetPanelsOfTheirOwn) {
  using groups = std::vector<std::vector<std::size_t>>;
  const struct {
    std::vector<std::vector<double>> y;
    groups want;
  } cases[] = {
      {{{1, 0.5}, {0.2, 0.6}, {0, 0.99}}, {{0, 1, 2}}},         // one scale
      {{{1, 0.5}, {51, 50}, {0, 0.9}}, {{1}, {0, 2}}},          // water at 51 mol/L
      {{{1e5, 1}, {-1e-3, 0}, {5, 1}}, {{0}, {2}, {1}}},        // three scales, by size
      {{{1, 0.5}, {0, 0}}, {{0}, {1}}},                         // a column of zeros
  };
  for (const auto& c : cases) {
    problem p;
    p.data.y = c.y;
    p.data.t.assign(c.y[0].size(), 0.0);
    EXPECT_EQ(scale_groups(p), c.want);
  }
}

}  // namespace
