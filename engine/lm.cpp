#include "engine/lm.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/lanes.h"

namespace kinetics {

using column = dlib::matrix<double, 0, 1>;
bool bounded_step(const matrix_d& j, const vector_d& r, const column& g, const vector_d& x, double lambda,
                  const lm_settings& s, vector_d& to);

namespace {

// The damped normal equations (JtJ + lambda D) step = -Jt r, D the diagonal
// of JtJ, solved in values scaled by D so that the matrix has a unit
// diagonal however different the values' scales are. A value the residuals
// ignore (a zero column) gets the unit scale. False when the matrix is not
// positive definite.
bool damped_step(const matrix_d& jtj, const column& g, double lambda, column& step) {
  const long n = jtj.nr();
  column scale(n);
  for (long i = 0; i < n; ++i) scale(i) = jtj(i, i) > 0 ? 1 / std::sqrt(jtj(i, i)) : 1.0;
  matrix_d a(n, n);
  for (long i = 0; i < n; ++i) {
    for (long j = 0; j < n; ++j) a(i, j) = scale(i) * jtj(i, j) * scale(j);
    a(i, i) += lambda;
  }
  dlib::cholesky_decomposition<matrix_d> chol(a);
  if (!chol.is_spd()) return false;
  step = dlib::pointwise_multiply(scale, chol.solve(-dlib::pointwise_multiply(scale, g)));
  return dlib::is_finite(step);
}

// The residual groups of s for n residuals: their ends and floors.
std::pair<std::vector<std::size_t>, vector_d> groups(const lm_settings& s, std::size_t n) {
  if (s.group_ends.empty()) return {{n}, {s.absolute_ssr}};
  return {s.group_ends, s.group_floors};
}

// The normal equations at the values a search is at: J'J and the gradient
// J'r, made once for every trial step from there and the gradient test.
struct normal_equations {
  matrix_d jtj;
  column g;
};

// Every element is summed over the rows in their order from zero, as a
// straightforward product does, in one pass along the rows of j; J'J is
// made in its upper half and mirrored (a product of two factors does not
// depend on their order, so the halves hold the same bits).
normal_equations normal_of(const matrix_d& j, const vector_d& r) {
  const long p = j.nc();
  normal_equations n;
  n.jtj = dlib::zeros_matrix<double>(p, p);
  n.g = dlib::zeros_matrix<double>(p, 1);
  for (long i = 0; i < j.nr() && p > 0; ++i) {
    const double* row = &j(i, 0);
    const double ri = r[static_cast<std::size_t>(i)];
    for (long a = 0; a < p; ++a) {
      n.g(a) += row[a] * ri;
      for (long b = a; b < p; ++b) n.jtj(a, b) += row[a] * row[b];
    }
  }
  for (long a = 0; a < p; ++a) {
    for (long b = 0; b < a; ++b) n.jtj(a, b) = n.jtj(b, a);
  }
  return n;
}

// j times a step, each element summed along its row in order.
vector_d times_step(const matrix_d& j, const column& step) {
  vector_d out(static_cast<std::size_t>(j.nr()), 0.0);
  for (long i = 0; i < j.nr() && j.nc() > 0; ++i) {
    const double* row = &j(i, 0);
    double sum = 0;
    for (long a = 0; a < j.nc(); ++a) sum += row[a] * step(a);
    out[static_cast<std::size_t>(i)] = sum;
  }
  return out;
}

// True when a full Gauss-Newton step from here would change every group's
// residuals by no more than the given share of its sum of squares (or than
// its rounding floor): no direction of the values lowers the sum by anything
// that matters. This reads the gradient in the metric of the fit itself, so
// it neither depends on the values' units nor asks more than the residuals'
// rounding allows; group by group, so that a group of small values counts
// as much as its own scale says.
// sums: the group sums of the residuals, r.
bool gradient_vanishes(const matrix_d& j, const vector_d& r, const vector_d& sums, const normal_equations& n,
                       const lm_settings& s) {
  column step;
  if (!damped_step(n.jtj, n.g, 1e-12, step)) return false;
  const vector_d change = times_step(j, step);
  const vector_d moves = group_sums(change, s), floors = groups(s, r.size()).second;
  for (std::size_t k = 0; k < sums.size(); ++k) {
    if (moves[k] > s.gradient * sums[k] + floors[k]) return false;
  }
  return true;
}

bool small_step(const column& step, const vector_d& x, double relative) {
  for (long i = 0; i < step.size(); ++i) {
    if (std::abs(step(i)) > relative * (std::abs(x[static_cast<std::size_t>(i)]) + 1)) return false;
  }
  return true;
}

vector_d as_vector(const column& c) {
  vector_d v(static_cast<std::size_t>(c.size()));
  for (long i = 0; i < c.size(); ++i) v[static_cast<std::size_t>(i)] = c(i);
  return v;
}

// The columns of j of the free values.
matrix_d free_columns(const matrix_d& j, const std::vector<bool>& free) {
  std::vector<long> keep;
  for (std::size_t i = 0; i < free.size(); ++i) {
    if (free[i]) keep.push_back(static_cast<long>(i));
  }
  matrix_d out(j.nr(), static_cast<long>(keep.size()));
  for (std::size_t c = 0; c < keep.size(); ++c) dlib::set_colm(out, static_cast<long>(c)) = dlib::colm(j, keep[c]);
  return out;
}

// The group sums of the residuals a search is at: with one group of every
// residual, its sum of squares (group_sums adds each group by
// sum_of_squares too), so that another pass over them is not needed.
vector_d sums_at(const lm_outcome& out, const lm_settings& s) {
  const bool one = s.group_ends.empty() || (s.group_ends.size() == 1 && s.group_ends[0] >= out.r.size());
  return one ? vector_d{out.ssr} : group_sums(out.r, s);
}

// Whether the residuals are noise of rounding: every group's sum of
// squares, sums, at most its floor.
bool sums_at_rounding(const vector_d& sums, const lm_settings& s, std::size_t n) {
  const vector_d floors = groups(s, n).second;
  for (std::size_t k = 0; k < sums.size(); ++k) {
    if (sums[k] > floors[k]) return false;
  }
  return true;
}

// The gradient test at out, whose group sums are sums; within a box, of the
// free values alone (none free: every direction of descent leaves the box).
bool at_minimum(const lm_outcome& out, const vector_d& sums, const normal_equations& n, const lm_settings& s) {
  if (s.lower.empty()) return gradient_vanishes(out.j, out.r, sums, n, s);
  const matrix_d j = free_columns(out.j, free_values(out.x, as_vector(n.g), s));
  return j.nc() == 0 || gradient_vanishes(j, out.r, sums, normal_of(j, paired_residuals(out)), s);
}

void fail(lm_outcome& out, termination reason, std::string why) {
  out.reason = reason;
  out.failure = std::move(why);
}

// Whether x, where the search ended, is a minimum: the residuals are at the
// rounding floor, or the gradient vanishes.
void judge_end(lm_outcome& out, const normal_equations& n, const lm_settings& s, termination reason, const char* why) {
  const vector_d sums = sums_at(out, s);
  if (sums_at_rounding(sums, s, out.r.size()) || at_minimum(out, sums, n, s)) return;
  fail(out, reason, std::string(why) + ", but the gradient of the sum of squares is not zero there");
}

// The Jacobian at x, where the plain residuals are r, and the residuals
// paired with its rows when it is a compressed form (jr; else empty).
// Otherwise the residuals come from the plain integration even where the
// Jacobian is asked for, so that sums of squares compare like with like:
// integrating the sensitivities too changes the steps, and so the last
// digits.
std::string jacobian_at(const residual_function& f, const vector_d& x, const vector_d& r, matrix_d& j,
                        vector_d& jr) {
  if (std::string error = f(x, true, jr, j); !error.empty()) return error;
  if (!is_compressed(j, r)) jr.clear();
  return {};
}

std::string evaluate(const residual_function& f, const vector_d& x, lm_outcome& out) {
  matrix_d unused;
  if (std::string error = f(x, false, out.r, unused); !error.empty()) return error;
  return jacobian_at(f, x, out.r, out.j, out.jr);
}

// f, counting its calls into out.
residual_function counted(const residual_function& f, lm_outcome& out) {
  return [&f, &out](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    ++(jacobian ? out.jacobians : out.evaluations);
    return f(x, jacobian, r, j);
  };
}

struct trial {
  bool lowers = false;
  column step;
  vector_d x, r;
  double ssr = NAN;
};

// One damped step from out's values, within the box of s; lowers says
// whether it lowers the sum. Its residuals go into the memory of spare,
// which is left empty: a model of many residuals then finds them the size
// it needs and writes them over, without clearing memory first.
trial try_step(const residual_function& f, lm_outcome& out, const normal_equations& n, double lambda,
               const lm_settings& s, vector_d& spare) {
  trial t;
  t.r = std::move(spare);
  spare.clear();
  if (!s.lower.empty()) {
    // The point itself, so that a value cut back to a bound is on it exactly.
    if (!bounded_step(out.j, paired_residuals(out), n.g, out.x, lambda, s, t.x)) return t;
    t.step.set_size(static_cast<long>(t.x.size()));
    for (std::size_t i = 0; i < t.x.size(); ++i) t.step(static_cast<long>(i)) = t.x[i] - out.x[i];
  } else {
    if (!damped_step(n.jtj, n.g, lambda, t.step)) return t;
    t.x = out.x;
    for (std::size_t i = 0; i < t.x.size(); ++i) t.x[i] += t.step(static_cast<long>(i));
  }
  ++out.trials;
  matrix_d unused;
  if (!f(t.x, false, t.r, unused).empty()) return t;
  t.ssr = sum_of_squares(t.r);
  t.lowers = t.ssr < out.ssr;
  return t;
}

// Moves out to the values of a trial that lowers the sum, with the Jacobian
// there, and the residuals it leaves into spare; leaves out as it is and
// says why when there is no Jacobian.
std::string accept(const residual_function& f, lm_outcome& out, trial& t, vector_d& spare) {
  matrix_d j;
  vector_d jr;
  if (std::string error = jacobian_at(f, t.x, t.r, j, jr); !error.empty()) return error;
  out.x = std::move(t.x);
  spare = std::exchange(out.r, std::move(t.r));
  out.ssr = t.ssr;
  out.j = std::move(j);
  out.jr = std::move(jr);
  return {};
}

}  // namespace

vector_d into_box(const vector_d& x, const lm_settings& s) {
  if (s.lower.empty()) return x;
  vector_d out = x;
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = std::min(std::max(out[i], s.lower[i]), s.upper[i]);
  return out;
}

std::vector<bool> free_values(const vector_d& x, const vector_d& g, const lm_settings& s) {
  std::vector<bool> free(x.size(), true);
  for (std::size_t i = 0; !s.lower.empty() && i < x.size(); ++i) {
    free[i] = !((x[i] <= s.lower[i] && g[i] > 0) || (x[i] >= s.upper[i] && g[i] < 0));
  }
  return free;
}

bool box_step(const matrix_d& j, const vector_d& r, const vector_d& x, double lambda, const lm_settings& s,
              vector_d& to) {
  return bounded_step(j, r, normal_of(j, r).g, x, lambda, s, to);
}

// box_step with the gradient J'r at x already made.
bool bounded_step(const matrix_d& j, const vector_d& r, const column& g, const vector_d& x, double lambda,
                  const lm_settings& s, vector_d& to) {
  const std::vector<bool> free = free_values(x, as_vector(g), s);
  const matrix_d jf = free_columns(j, free);
  column part;
  if (jf.nc() == 0) return false;
  const normal_equations n = normal_of(jf, r);
  if (!damped_step(n.jtj, n.g, lambda, part)) return false;
  to = x;
  for (std::size_t i = 0, k = 0; i < x.size(); ++i) {
    if (free[i]) to[i] += part(static_cast<long>(k++));
  }
  to = into_box(to, s);
  return true;
}

const vector_d& paired_residuals(const lm_outcome& o) { return o.jr.empty() ? o.r : o.jr; }

bool is_compressed(const matrix_d& j, const vector_d& r) { return static_cast<std::size_t>(j.nr()) != r.size(); }

double sum_of_squares(const vector_d& r) { return sum_of_squares(r.data(), r.size()); }

double sum_of_squares(const double* v, std::size_t n) {
  double s = 0;
  for (std::size_t i = 0; i < n; ++i) s += v[i] * v[i];
  return s;
}

// v * 0 is zero for a finite v and NaN for any other, so their sum is zero
// just when all are finite: four lanes at a time, with no branch per value.
bool all_finite(const double* v, std::size_t n) {
  using four = lanes::four<lanes::pair_d>;
  const four zero = four::all(0);
  four sum = zero;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) sum += four::load(v + i) * zero;
  double rest = (sum[0] + sum[1]) + (sum[2] + sum[3]);
  for (; i < n; ++i) rest += v[i] * 0.0;
  return rest == 0;
}

vector_d group_sums(const vector_d& r, const lm_settings& s) {
  const std::vector<std::size_t> ends = groups(s, r.size()).first;
  vector_d sums(ends.size(), 0.0);
  for (std::size_t k = 0, i = 0; k < ends.size(); ++k) {
    const std::size_t end = std::max(i, std::min(ends[k], r.size()));
    sums[k] = sum_of_squares(r.data() + i, end - i);
    i = end;
  }
  return sums;
}

lm_outcome levenberg_marquardt(const residual_function& model, const vector_d& x0, const lm_settings& s) {
  lm_outcome out;
  const residual_function f = counted(model, out);
  out.x = into_box(x0, s);
  const auto late = [&s] { return std::chrono::steady_clock::now() >= s.deadline; };
  if (const std::string error = evaluate(f, out.x, out); !error.empty()) {
    if (late()) {
      fail(out, termination::out_of_time, "out of time at the starting values");
    } else {
      fail(out, termination::bad_start, "at the starting values " + error);
    }
    return out;
  }
  out.ssr = sum_of_squares(out.r);
  if (!std::isfinite(out.ssr)) {
    fail(out, termination::bad_start, "the sum of squares at the starting values is not finite");
    return out;
  }
  normal_equations n = normal_of(out.j, paired_residuals(out));
  double lambda = 1e-3;
  vector_d spare;  // the memory of the last residuals let go, for the next trial's
  bool rounding = sums_at_rounding(sums_at(out, s), s, out.r.size());  // made anew when the search moves
  while (!rounding && lambda <= 1e20) {
    if (late()) {
      fail(out, termination::out_of_time, "out of time");
      return out;
    }
    if (out.trials >= s.max_iterations) {
      fail(out, termination::iteration_limit,
           "the fit did not converge in " + std::to_string(s.max_iterations) + " trial steps");
      return out;
    }
    trial t = try_step(f, out, n, lambda, s, spare);
    if (!t.lowers) {
      spare = std::move(t.r);
      lambda *= 10;  // a failed or useless trial: damp more and try again
      continue;
    }
    const bool small = out.ssr - t.ssr <= s.relative_ssr * out.ssr && small_step(t.step, out.x, s.relative_step);
    if (std::string error = accept(f, out, t, spare); !error.empty()) {
      fail(out, termination::model_failed, error);
      return out;
    }
    ++out.iterations;
    const vector_d sums = sums_at(out, s);
    rounding = sums_at_rounding(sums, s, out.r.size());
    lambda = std::max(lambda / 10, 1e-12);
    n = normal_of(out.j, paired_residuals(out));
    if (at_minimum(out, sums, n, s)) return out;
    if (small) {
      judge_end(out, n, s, termination::not_minimum, "the fit converged");
      return out;
    }
  }
  judge_end(out, n, s, termination::stalled, "no trial step lowers the sum of squares any more");
  return out;
}

void polish(const residual_function& model, lm_outcome& minimum, int max_steps) {
  polish(model, minimum, lm_settings{}, max_steps);
}

void polish(const residual_function& model, lm_outcome& minimum, const lm_settings& s, int max_steps) {
  const residual_function f = counted(model, minimum);
  vector_d spare;
  for (int i = 0; i < max_steps; ++i) {
    trial t = try_step(f, minimum, normal_of(minimum.j, paired_residuals(minimum)), 0, s, spare);
    if (!t.lowers || !accept(f, minimum, t, spare).empty()) return;
    if (small_step(t.step, minimum.x, 1e-14)) return;
  }
}

}  // namespace kinetics
