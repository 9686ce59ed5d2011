// Where a ratefit run spends its time, in process, on one mechanism file,
// with ratefit's allocator settings: reading it with its data, one
// Levenberg-Marquardt search from the file's own values (what a
// single-start fitter does), the whole fit from all its starts without and
// with the profile intervals. Each stage is timed as the median of
// repeated runs; prints one "STAGE SECONDS" line per stage.
//
// Usage: fit_stages MODEL [REPEATS]   (default 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "engine/fit.h"
#include "fitter/models.h"
#include "engine/stats.h"
#include "fitter/run.h"

using namespace kinetics;

namespace {

double median_seconds(int repeats, const std::function<void()>& stage) {
  std::vector<double> s;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    stage();
    s.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(s.begin(), s.end());
  return s[s.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fit_stages MODEL [REPEATS]\n");
    return 2;
  }
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  keep_freed_memory();  // as ratefit does: the default allocator maps and faults in every large block anew
  loaded l = load_problem(argv[1]);
  if (!l.error.empty()) {
    std::fprintf(stderr, "fit_stages: %s\n", l.error.c_str());
    return 1;
  }
  const problem& p = l.p;
  lm_settings one;
  set_rounding(p, one);
  const residual_function f = [&p](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    return residuals(p, x, jacobian, r, j);
  };
  std::printf("read %.4f\n", median_seconds(repeats, [&] { (void)load_problem(argv[1]); }));
  std::printf("one_start %.4f\n", median_seconds(repeats, [&] { (void)levenberg_marquardt(f, to_solver(p, p.base), one); }));
  fit_settings no_profiles;
  no_profiles.profiles = false;
  std::printf("all_starts %.4f\n", median_seconds(repeats, [&] { (void)fit(p, no_profiles); }));
  std::printf("with_profiles %.4f\n", median_seconds(repeats, [&] { (void)fit(p); }));
  return 0;
}
