#include "model/rate_model.h"

#include <climits>

bool too_many_steps(double t0, double t_end) {
  if (!(t0 + step_size <= t_end)) return false;  // no step at all
  // The loop goes on from step n while n * step_size + t0 + step_size <=
  // t_end, which can only become false later, never true again. So the
  // count reaches INT_MAX exactly when it still goes on after step
  // INT_MAX - 1.
  const double t = static_cast<double>(INT_MAX - 1) * step_size + t0;
  return t + step_size <= t_end;
}
