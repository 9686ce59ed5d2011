// Profile-likelihood intervals: how far one fitted value can move, with all
// the others fitted again at every step, before the sum of squares passes
// its 95 % threshold.
#pragma once

#include <utility>

#include "engine/problem.h"

namespace kinetics {

// The interval of fitted value j, in the solver's terms, around the minimum
// at best (solver values x, sum ssr) where the profile sum of squares stays
// at most threshold. step is the first move tried (a standard error). A side
// the data do not bound within a factor of about 1e10 of the value is
// infinite; a side that cannot be computed is NaN.
std::pair<double, double> profile_interval(const problem& p, const vector_d& x, double ssr, std::size_t j,
                                           double step, double threshold, const lm_settings& settings);
// Within the box of settings, a side stops at the value's bound: the bound
// itself when the profile stays below the threshold up to it.

// One side of it: where the profile of value j crosses threshold moving
// from x[j] in direction (+1 or -1), within the box of settings; infinite
// when a move of reach (in the solver's terms) does not cross it. Each side
// is computed on its own, from the minimum, so that both may be computed at
// once.
double profile_side(const problem& p, const vector_d& x, double ssr, std::size_t j, double step, double threshold,
                    const lm_settings& settings, double direction, double reach = 23);

}  // namespace kinetics
