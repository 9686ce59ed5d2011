// Levenberg-Marquardt minimisation of a sum of squared residuals, with the
// convergence tests and the handling of failed trial steps that a fit one
// publishes needs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <dlib/matrix.h>

namespace kinetics {

using vector_d = std::vector<double>;
using matrix_d = dlib::matrix<double>;

// The sum of the squares of r, added in their order; of the n values at v.
double sum_of_squares(const vector_d& r);
double sum_of_squares(const double* v, std::size_t n);

// Whether every one of the n values at v is finite.
bool all_finite(const double* v, std::size_t n);

// Residuals at x, and with jacobian also their derivatives (one row per
// residual, one column per value). Returns an empty string, or why there are
// none at x (the solver then treats x as a failed trial). r may come in
// holding the residuals of another call, to be written over: a function sets
// its size and every element.
// A model of very many residuals may give, with the Jacobian, a compressed
// form instead: fewer rows than residuals, and in r as many residuals
// paired with them, such that J~'J~ = J'J, J~'r~ = J'r and |r~|^2 = |r|^2.
// Every step, gradient and column length is the same from either form; the
// search takes the pair wherever the Jacobian meets the residuals, and the
// plain residuals for the sums of squares.
using residual_function = std::function<std::string(const vector_d& x, bool jacobian, vector_d& r, matrix_d& j)>;

struct lm_settings {
  int max_iterations = 200;     // accepted and failed trial steps together
  double relative_ssr = 1e-12;  // converged when an accepted step lowers the sum by less than this share...
  double relative_step = 1e-9;  // ...and moves every value by less than this times (its size + 1)
  double gradient = 1e-10;      // converged when a Gauss-Newton step would lower the sum by at most this share
  double absolute_ssr = 0;      // or the sum of squares at most this: the residuals are noise of rounding
  // The residuals in groups of their own scale (the column lines of a data
  // table): where each group ends, and the sum of squares of its rounding.
  // Every test then holds group by group, so that a group of small values
  // is not taken for the rounding of a large one. Empty: one group of every
  // residual, whose rounding is absolute_ssr.
  std::vector<std::size_t> group_ends;
  vector_d group_floors;
  // The box the values stay in, in the solver's terms: lower[i] <= x[i] <=
  // upper[i], infinite where a value has no bound. Empty: no box. A trial
  // step moves only the values free to move (see free_values), is cut back
  // into the box, and the gradient test holds for the free values alone.
  vector_d lower, upper;
  // The search ends, out of time, at the first trial step begun after this.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Why a search ended.
enum class termination {
  converged,        // at a minimum: the convergence tests hold
  bad_start,        // no residuals, or no finite sum, at the starting values
  model_failed,     // no derivatives at a point that lowered the sum
  iteration_limit,  // the trial steps ran out
  stalled,          // no trial step lowers the sum, but the gradient is not zero
  not_minimum,      // the steps became small, but the gradient is not zero
  out_of_time,      // the deadline passed before the search ended
};

struct lm_outcome {
  vector_d x;
  vector_d r;
  matrix_d j;          // at x
  vector_d jr;         // the residuals paired with the rows of a compressed j; empty: r
  double ssr = 0;      // sum of squared residuals at x
  int iterations = 0;  // accepted steps
  int trials = 0;      // trial steps, failed ones included
  int evaluations = 0; // calls of the residual function without derivatives
  int jacobians = 0;   // and with them
  termination reason = termination::converged;
  std::string failure;  // why it did not converge, in words; empty when it did
};

// The residuals paired with the rows of o.j: o.jr or o.r.
const vector_d& paired_residuals(const lm_outcome& o);

// Whether j, from a model whose plain residuals are r, is a compressed form
// (see residual_function): its rows are not one per residual.
bool is_compressed(const matrix_d& j, const vector_d& r);

// The sum of squares of every group of r.
vector_d group_sums(const vector_d& r, const lm_settings& s);

// x moved into the box of s: every value clamped to its bounds.
vector_d into_box(const vector_d& x, const lm_settings& s);

// Which values of x are free to move: all but those on a bound of s's box
// that the gradient g of the sum of squares (J' r) pushes past it, where
// lowering the sum would leave the box.
std::vector<bool> free_values(const vector_d& x, const vector_d& g, const lm_settings& s);

// The damped step from x, within the box of s: the step of the free values
// alone (the others stay), cut back into the box; to is where it leads.
// False when there is none.
bool box_step(const matrix_d& j, const vector_d& r, const vector_d& x, double lambda, const lm_settings& s,
              vector_d& to);

// Minimises the sum of squares of f from x0 with Marquardt's scaling of the
// damping. A trial step that fails or does not lower the sum raises the
// damping and is tried again. Converges when an accepted step changes the
// sum and the values by less than the settings say, or when no step lowers
// the sum any more, and in both cases the gradient test holds.
lm_outcome levenberg_marquardt(const residual_function& f, const vector_d& x0, const lm_settings& s = {});

// Gauss-Newton steps from a converged minimum for as long as they lower the
// sum, at most max_steps: the values then no longer depend, to the digits a
// report shows, on the path that led there.
void polish(const residual_function& f, lm_outcome& minimum, int max_steps = 20);
// The same within the box of s.
void polish(const residual_function& f, lm_outcome& minimum, const lm_settings& s, int max_steps = 20);

}  // namespace kinetics
