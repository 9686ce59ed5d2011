// Non-negative least squares: min |E x - f| over x >= 0, by Lawson and
// Hanson's active-set method, for the small systems of one channel's
// spectral values.
#pragma once

#include "engine/lm.h"

namespace kinetics {

using column_d = dlib::matrix<double, 0, 1>;

// The solution x >= 0 of min |e x - f| (e has at least as many rows as
// columns). Variables whose gradient is within tolerance of 0 stay at 0.
column_d nnls(const matrix_d& e, const column_d& f);

}  // namespace kinetics
