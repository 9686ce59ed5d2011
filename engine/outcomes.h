// The outcomes of the searches from several starts, as they end: which of
// them can still be the one a fit keeps, so that the others give their
// memory back at once.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/lm.h"

namespace kinetics {

// Whether the best outcome of the starts, the first converged one of the
// lowest sum of squares (in the order of the starts), can no longer be
// outcome b of start ib once converged outcome a of start ia is there. A
// sum of squares that is not a number outranks nothing.
bool outranks(const lm_outcome& a, std::size_t ia, const lm_outcome& b, std::size_t ib);

// As start i ends (ended says which others have): the residuals and
// Jacobian of every ended outcome that can no longer be the best, failed
// ones included, are given back. Those of a series are hundreds of
// kilobytes each; kept to the end, every start touches fresh memory, which
// costs more than the arithmetic on some machines.
void let_go_outranked(std::vector<lm_outcome>& outcomes, const std::vector<char>& ended, std::size_t i);

}  // namespace kinetics
