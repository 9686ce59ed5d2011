// More starting points, over the values that are not rate constants: for a
// fit whose starts over the rate constants all fail, because an initial
// concentration or a response factor began far from its value.
#pragma once

#include <vector>

#include "engine/problem.h"

namespace kinetics {

// The fitted values in which the residuals are linear once the rate
// constants are given: every response factor, and the initial
// concentrations of a first-order network (model/linear.h). Positions in
// p.fitted.
std::vector<std::size_t> linear_positions(const problem& p);

// x with its linear values solved by least squares for its rate constants
// (and its other values): rounds of a least-squares step over the initial
// concentrations alone, over the factors alone (each exact, as the
// residuals are linear in either kind alone) and over both (a Gauss-Newton
// step on their products, halved while it raises the sum), each kept only
// when it lowers the sum; thirty rounds at most, until a round lowers the
// sum no more. x itself when no step does.
vector_d solve_linear(const problem& p, const vector_d& x);

// The second round of starts, from the first round's: each with its linear
// values solved; then, for the initial concentrations that are not linear
// (a network that is not first-order), each with those scaled together by
// 0.1 and by 10 and the linear values solved again. At most three times as
// many as the first round.
std::vector<vector_d> second_round(const problem& p, const std::vector<vector_d>& first);

}  // namespace kinetics
