// Times one solve of a mass-action network, with and without the
// sensitivities to all its parameters, for a few shapes of problem: many
// points, a stiff chain and a long time span. Prints one line per problem.
//
// Usage: kinetics_time [SECONDS]   (time spent on each measurement, default 0.5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "model/kinetics.h"

namespace {

struct problem {
  const char* name;
  std::vector<double> k;
  std::vector<double> times;
};

std::vector<double> evenly(double t1, int n) {
  std::vector<double> t(n);
  for (int i = 0; i < n; ++i) t[i] = t1 * i / (n - 1);
  return t;
}

// Milliseconds per solve: the fastest and the median of repeated solves
// over about the given time; empty when a solve fails.
std::vector<double> time_solves(const network& net, const problem& p, const std::vector<int>& wanted,
                                double seconds) {
  using clock = std::chrono::steady_clock;
  const std::vector<double> c0{1, 0, 0};
  std::vector<double> ms;
  const auto stop = clock::now() + std::chrono::duration<double>(seconds);
  while (ms.size() < 5 || clock::now() < stop) {
    trajectory out;
    const auto start = clock::now();
    const std::string error = solve(net, p.k, c0, 0, p.times, wanted, out);
    ms.push_back(std::chrono::duration<double, std::milli>(clock::now() - start).count());
    if (!error.empty()) {
      std::fprintf(stderr, "kinetics_time: %s: %s\n", p.name, error.c_str());
      return {};
    }
  }
  std::sort(ms.begin(), ms.end());
  return {ms.front(), ms[ms.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
  // A -> B -> C, three species.
  const network chain{3, {{{{0, 1}}, {{1, 1}}}, {{{1, 1}}, {{2, 1}}}}};
  const problem problems[] = {
      {"A->B->C, 1000 points over 0..20", {1, 0.3}, evenly(20, 1000)},
      {"stiff A->B->C, k1/k2 = 1e6, 61 points over 0..20", {1e6, 1}, evenly(20, 61)},
      {"A->B->C, 61 points over 0..1e6", {3e-5, 1e-5}, evenly(1e6, 61)},
  };
  std::vector<int> all(5);
  std::iota(all.begin(), all.end(), 0);
  std::printf("%-50s | %-22s | %-22s\n", "ms per solve (fastest / median)", "concentrations", "with 5 sensitivities");
  for (const problem& p : problems) {
    const std::vector<double> plain = time_solves(chain, p, {}, seconds);
    const std::vector<double> sens = time_solves(chain, p, all, seconds);
    if (plain.empty() || sens.empty()) return 1;
    std::printf("%-50s | %9.3f / %-10.3f | %9.3f / %-10.3f\n", p.name, plain[0], plain[1], sens[0], sens[1]);
  }
  return 0;
}
