// Rate constants at their bound 0: the search over ln k cannot reach 0, so
// a constant whose step the data do not need is held at 0 and the others
// fitted again (an active set), until the gradient shows that raising any
// held constant would raise the sum of squares.
#pragma once

#include <vector>

#include "engine/fit.h"

namespace kinetics {

// The box of p's fitted values in the solver's terms, from the bounds ">= LO"
// and "<= HI" of their lines, into s.lower and s.upper; both left empty when
// no fitted value has a bound, so that such a search is the one without a
// box. A rate constant's bound is one of ln k, and its lower bound 0 is no
// bound of the box: it is the one that fit_at_zero holds.
void set_box(const problem& p, lm_settings& s);

// The fitted values of p (positions in p.fitted) on a bound of the box of s
// at the solver's values x.
std::vector<std::size_t> on_bounds(const vector_d& x, const lm_settings& s);

// p with the fitted values at positions held (in increasing order) no
// longer fitted, each held at the bound of its line it is on at x, every
// other base value that of x.
problem holding_at_bounds(const problem& p, const std::vector<std::size_t>& held, const vector_d& x);

// The one-sided 95 % limit of the value at position h of p, held at a bound
// in q (holding_at_bounds of p): the value up to which the sum of squares,
// every value of q fitted again within its bounds, stays below the
// one-sided threshold of the minimum with sum ssr and dof degrees of
// freedom; its other bound when it stays below up to there, infinite when
// the data do not bound it, NaN when it cannot be computed.
double limit_from_bound(const problem& p, const problem& q, std::size_t h, double ssr, int dof, const lm_settings& s);

// p with the rate constants rates (indices into p.m.rates) held at 0: no
// longer fitted, 0 in its base values.
problem holding_at_zero(const problem& p, const std::vector<int>& rates);

// The fitted rate constants of p (indices into p.m.rates) that the search
// drove to 0: at the end of the start with the lowest finite sum of squares
// (of failed starts too), setting each one alone to 0 raises the sum by no
// more than a millionth (or the rounding).
std::vector<int> vanishing_rates(const problem& p, const fit_result& failed, const lm_settings& s);

// Of the rate constants held at 0 in q, those whose increase from 0 would
// lower the sum of squares at the solver's values x of q: the derivative of
// the sum by k is negative beyond rounding.
std::vector<int> rates_to_release(const problem& q, const vector_d& x, const std::vector<int>& held);

// Whether rate constant rate, held at 0 in q, changes the residuals at x
// beyond rounding when it is a thousand times its starting value: whether
// the data show its step at all.
bool leaves_trace(const problem& q, int rate, const vector_d& x, const lm_settings& s);

// The one-sided upper 95 % limit of rate constant rate held at 0 in q (with
// the minimum at x, sum ssr, dof degrees of freedom): the value up to which
// the sum, every other value fitted again, stays below the one-sided
// threshold. Infinite when the data do not bound it within 1e12 times its
// starting value, NaN when it cannot be computed.
double upper_limit(const problem& q, int rate, const vector_d& x, double ssr, int dof, const lm_settings& s);

// The fit of p with some rate constants at 0, from the failed fit of p
// without bounds: the held set grows by the rates that vanish and shrinks
// by those the gradient releases, until it holds at a minimum. The held
// constants are reported with value 0, an upper limit and no standard
// error; the other values' statistics are those with them held. Returns
// free itself when a held constant leaves no trace in the data, and free
// with the held set named when no held set gives a minimum.
fit_result fit_at_zero(const problem& p, const fit_settings& settings, const fit_result& free);

}  // namespace kinetics
