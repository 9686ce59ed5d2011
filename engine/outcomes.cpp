#include "engine/outcomes.h"

#include <cmath>

namespace kinetics {

namespace {

void let_go(lm_outcome& o) {
  vector_d().swap(o.r);
  vector_d().swap(o.jr);
  o.j.set_size(0, 0);
}

}  // namespace

bool outranks(const lm_outcome& a, std::size_t ia, const lm_outcome& b, std::size_t ib) {
  if (!a.failure.empty() || std::isnan(a.ssr)) return false;
  return ia < ib ? !(b.ssr < a.ssr) : a.ssr < b.ssr;
}

void let_go_outranked(std::vector<lm_outcome>& outcomes, const std::vector<char>& ended, std::size_t i) {
  if (!outcomes[i].failure.empty()) let_go(outcomes[i]);
  for (std::size_t k = 0; k < outcomes.size(); ++k) {
    if (k == i || !ended[k]) continue;
    if (outranks(outcomes[i], i, outcomes[k], k)) let_go(outcomes[k]);
    if (outranks(outcomes[k], k, outcomes[i], i)) let_go(outcomes[i]);
  }
}

}  // namespace kinetics
