// Whether residuals are systematic: the Wald-Wolfowitz runs test on their
// signs, column line by column line, in the order of time.
#pragma once

#include <vector>

#include "engine/problem.h"

namespace kinetics {

// The runs test of one column's residuals in order: the number of runs of
// equal signs (residuals of exactly 0 left out), the number expected of
// signs in random order, and the probability of as few runs as seen or
// fewer (normal approximation with continuity correction; 1 when there are
// fewer than two of either sign).
struct runs_result {
  int runs = 0;
  double expected = 0;
  double p = 1;
};
runs_result runs_test(const vector_d& residuals);

// The runs test of every column line of p, its residuals r (model minus
// measured, column line after column line) ordered by time.
std::vector<runs_result> column_runs(const problem& p, const vector_d& r);

}  // namespace kinetics
