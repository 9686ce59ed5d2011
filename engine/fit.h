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
};

struct fit_result {
  fit_status status = fit_status::converged;
  std::string failure;  // why there is no result, in words; empty when there is one
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

// Fits p. The problem needs more residuals than fitted values.
fit_result fit(const problem& p, const fit_settings& settings = {});

}  // namespace kinetics
