// Outcomes of the starts given back as they end: never the one the fit keeps.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <gtest/gtest.h>

#include "engine/outcomes.h"

using namespace kinetics;

namespace {

// The outcome the loop over the starts keeps: the first converged one of
// the lowest sum of squares; o.size() when none converged.
std::size_t kept(const std::vector<lm_outcome>& o) {
  std::size_t best = o.size();
  for (std::size_t i = 0; i < o.size(); ++i) {
    if (o[i].failure.empty() && (best == o.size() || o[i].ssr < o[best].ssr)) best = i;
  }
  return best;
}

// Outcomes of these sums (failed where failed[i]), each with residuals.
std::vector<lm_outcome> outcomes(const std::vector<double>& ssr, const std::vector<bool>& failed) {
  std::vector<lm_outcome> o(ssr.size());
  for (std::size_t i = 0; i < o.size(); ++i) {
    o[i].ssr = ssr[i];
    o[i].r.assign(3, 1.0);
    if (failed[i]) o[i].failure = "failed";
  }
  return o;
}

// Ends the starts in the given order and checks what is left.
void end_in(std::vector<lm_outcome> o, const std::vector<std::size_t>& order, const std::string& what) {
  std::vector<char> ended(o.size(), 0);
  for (std::size_t i : order) {
    ended[i] = 1;
    let_go_outranked(o, ended, i);
  }
  const std::size_t best = kept(o);
  const bool any_nan = std::any_of(o.begin(), o.end(), [](const lm_outcome& x) { return std::isnan(x.ssr); });
  for (std::size_t i = 0; i < o.size(); ++i) {
    if (i == best) {
      EXPECT_FALSE(o[i].r.empty()) << what << ": the best, " << i << ", lost its residuals";
    } else if (!o[i].failure.empty() || !any_nan) {
      EXPECT_TRUE(o[i].r.empty()) << what << ": " << i << " kept its residuals";
    }
  }
}

TEST(Outcomes, TheBestKeepsItsResidualsInAnyOrderOfEnding) {
  const double nan = NAN;
  const struct {
    std::vector<double> ssr;
    std::vector<bool> failed;
  } cases[] = {
      {{3, 1, 2}, {false, false, false}},
      {{1, 1, 1}, {false, false, false}},           // ties: the first
      {{2, 1, 1, 3}, {false, false, false, false}},
      {{5, nan, 3}, {false, false, false}},         // not a number outranks nothing
      {{nan, 1, 2}, {false, false, false}},         // and, first, is kept
      {{1, 0.5, 2}, {false, true, false}},          // a failed one is never the best
      {{1, 2}, {true, true}},
  };
  for (const auto& c : cases) {
    std::vector<std::size_t> order(c.ssr.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    do {
      end_in(outcomes(c.ssr, c.failed), order, "case of " + std::to_string(c.ssr.size()));
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

}  // namespace
