// Fitting a mechanism to its data: Levenberg-Marquardt from several starts
// spread over decades of every rate constant, then the statistics of the
// best minimum, profile-likelihood intervals of the rate constants among
// them.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "engine/problem.h"

namespace kinetics {

// Where one start began and ended.
struct start_outcome {
  vector_d from;  // natural values of the fitted values
  vector_d to;
  double ssr = 0;
  int iterations = 0;
  termination reason = termination::converged;
  std::string failure;  // empty when it converged
};

// Why a fit has a result or none.
enum class fit_status {
  converged,       // the best minimum, with its statistics
  no_minimum,      // no start converged: start_outcome::reason of the first says why
  rate_falls_to_0, // a rate constant whose step leaves no trace in the data
  rate_unbounded,  // a rate constant faster than the data resolve
  not_determined,  // the normal matrix at the minimum is singular
  out_of_time,     // the fit ran past its time: stopped_start and stopped_at say where
};

// The estimate and the uncertainty of one fitted value, in its natural
// terms (k, not ln k). Intervals are 95 %; a profile interval is given for
// rate constants only (NaN otherwise), and a side the data do not bound is
// infinite (or 0 below).
struct estimate {
  double value = 0;
  double se = 0;
  double t_low = 0, t_high = 0;
  double profile_low = NAN, profile_high = NAN;
  bool at_zero = false;  // a rate constant held at its bound 0: no se or t interval, profile [0, upper limit]
  bool at_bound = false;  // held at a bound of its line: no se or t interval, profile from the bound to its limit
};

// The fitted values a failed fit blames (positions in problem::fitted).
struct blame {
  std::vector<std::size_t> to_zero;       // rate constants that ran towards 0
  std::vector<std::size_t> to_infinity;   // rate constants that ran off upwards
  std::vector<std::size_t> undetermined;  // values the data do not determine apart
};

struct fit_result {
  fit_status status = fit_status::converged;
  std::string failure;  // why there is no result, in words; empty when there is one
  blame blamed;         // when there is none: the values to blame (see engine/diagnosis.h)
  vector_d x;           // the solver's values at the best minimum
  values best;          // every value of the mechanism there
  std::vector<estimate> estimates;  // one per fitted value
  matrix_d correlation;
  double ssr = 0, rms = 0, aic = 0, bic = 0;
  double t_quantile = 0;  // of the 95 % intervals: Student's t with dof degrees of freedom, or normal when weighted
  bool weighted = false;  // the residuals are weighed by known uncertainties: ssr is a chi-square
  double reduced_chi_square = 0, chi_square_p = 0;  // when weighted: ssr / dof, and P(chi-square >= ssr)
  int points = 0, dof = 0, iterations = 0;
  int evaluations = 0, jacobians = 0;  // of the model by the search over every start and the polish
  std::vector<double> runs_p;  // per column line: the runs test's probability of as few runs of signs (engine/runs.h)
  std::vector<start_outcome> starts;
  int same_minimum = 0;               // starts that ended at the best minimum
  std::vector<std::string> warnings;  // values the data do not determine, rival minima
  // Out of time: the start under way (0-based; -1 after the starts, during
  // the profile intervals) and the natural values it was at.
  int stopped_start = -1;
  vector_d stopped_at;
};

struct fit_settings {
  int max_iterations = 200;  // trial steps per start
  bool profiles = true;      // profile-likelihood intervals of the rate constants
  double max_seconds = INFINITY;  // the whole fit's time, from its call; past it the fit ends out of time
  long max_steps = 100000;        // integration steps per evaluation; more make that trial step fail
};

// The starting points: the file's values, then every rate constant scaled
// together by 0.01, 0.1, 10 and 100, then (with two or more fitted rate
// constants) as many again with each scaled by its own power of ten between
// 0.01 and 100, drawn by a fixed rule. In the solver's terms.
std::vector<vector_d> starting_points(const problem& p);

// The settings of the search for p: the settings' step budget, the rounding
// of p's residuals.
lm_settings search_settings(const problem& p, const fit_settings& settings);

// The sum of squares of p's residuals at the solver's values x; NaN where
// the model has no value.
double ssr_at(const problem& p, const vector_d& x);

// The start of r that ended with the lowest finite sum of squares, failed
// ones included; nullptr when none has one.
const start_outcome* lowest_start(const problem& p, const fit_result& r);

// Whether the residuals of p at the solver's values x are those at_minimum,
// column line by column line, up to the rounding of s.
bool same_residuals(const problem& p, const lm_settings& s, const vector_d& at_minimum, const vector_d& x);

// Fits p over the open domain, every rate constant above 0.
fit_result fit_without_bounds(const problem& p, const fit_settings& settings = {});

// Fits p: over the open domain, and where that ends without a minimum
// because rate constants run to 0, over the closed one, with them held at
// 0 (see engine/bounds.h). The problem needs more residuals than fitted
// values.
fit_result fit(const problem& p, const fit_settings& settings = {});

}  // namespace kinetics
