// First-order networks in closed form: when every step has one reactant of
// coefficient 1, the rate equations are linear, dc/dt = K c, and so are the
// sensitivity equations; their solution over a time gap h is exp(M h)
// applied to the state, M the matrix of the whole system.
#pragma once

#include <string>
#include <vector>

#include "model/kinetics.h"

// True when every step of net has exactly one reactant, of coefficient 1.
bool first_order(const network& net);

// exp(a) of the n x n matrix a (row-major), by scaling and squaring of its
// Taylor series, to the rounding of doubles; all NaN when a is not finite,
// and empty once the deadline has passed (checked between products).
std::vector<double> matrix_exponential(
    const std::vector<double>& a, std::size_t n,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// What solve gives, for a first-order network whose inputs solve has
// checked: the state is carried from time to time in increasing order by
// exp(M h), one matrix for every gap h of a different size; "out of time"
// once the deadline has passed. With shared, the exponentials are looked
// for there first, and kept there.
std::string solve_first_order(const network& net, const std::vector<double>& k, const std::vector<double>& c0,
                              double t0, const std::vector<double>& times, const std::vector<int>& wanted,
                              trajectory& out,
                              std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max(),
                              exponential_cache* shared = nullptr);
