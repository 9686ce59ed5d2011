// Problems of several experiments, and of values that follow from others:
// every experiment is a problem of one data table whose rate constants,
// initial concentrations, response factors and start time follow from the
// fitted values of the whole problem, directly or through an expression,
// with their derivatives by the chain rule.
#pragma once

#include <string>
#include <vector>

#include "engine/fit.h"
#include "engine/problem.h"

namespace kinetics {

// Whether a mechanism needs a problem of parts: experiments, expressions,
// named start times or a temperature. A file without these is one data
// table, fitted as it always was.
bool needs_parts(const mechanism& m);

// The mechanism of experiment e (a block index, -1 for a file without
// blocks): its own columns, data, sigma and start, and one rate constant per
// step, one initial concentration per species and the response factors of
// its columns as the experiment sees them; link says where each comes from.
mechanism experiment_view(const mechanism& m, int e, experiment_link& link);

// The problem of a mechanism with the data of every experiment (in the
// order of experiments_of(m)) and their weights (1 / sigma of every
// residual, or empty when the experiment has no sigma file). Fitted are the
// values that some experiment uses, not fixed and not expressions.
problem make_experiments(mechanism m, std::vector<measured> data, std::vector<vector_d> weights);

// The values of part e of p (with the start time in starts[0]) when p's
// values are v.
values part_values(const problem& p, std::size_t e, const values& v);

// The concentrations of part e at its data's times for its values pv; rows
// before the start time hold the initial concentrations.
std::string part_concentrations(const problem& part, const values& pv, trajectory& out);

// The concentrations of every part at its data's times, part after part
// (rows of the first part, then of the second, ...), and with jacobian
// their derivatives by every solver's value x of p (out.dc holds x.size()
// per concentration), start times included.
std::string stacked_concentrations(const problem& p, const vector_d& x, bool jacobian, trajectory& out);

// The residuals of every part, part after part, and their derivatives by
// the solver's values x of p.
std::string experiment_residuals(const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j);

// The rate constant of a step in part e at the minimum of r, with its
// standard error from the covariance of the fitted values carried through
// its expression.
estimate part_rate(const problem& p, const fit_result& r, std::size_t e, std::size_t step);

// The same at another temperature, as part e's expression gives it there.
double part_rate_at(const problem& p, const fit_result& r, std::size_t e, std::size_t step, double temperature);

// Whether the rate constant of a step in part e depends on the temperature.
bool rate_uses_temperature(const problem& p, std::size_t e, std::size_t step);

}  // namespace kinetics
