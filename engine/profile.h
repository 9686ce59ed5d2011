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

// One side of that interval: direction -1 for the lower end, +1 for the
// upper. Each side is computed on its own, from the minimum, so that both
// may be computed at once.
double profile_side(const problem& p, const vector_d& x, double ssr, std::size_t j, double step, double threshold,
                    const lm_settings& settings, double direction);

}  // namespace kinetics
