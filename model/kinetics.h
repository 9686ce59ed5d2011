// Concentrations of a mass-action network at given times, from an adaptive,
// stiff-capable integrator, with their derivatives with respect to the rate
// constants and the initial concentrations when asked for.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "model/network.h"

// Parameters are numbered rate constants first, then initial concentrations:
// parameter r < steps is k[r]; parameter steps + s is c0[s].
struct trajectory {
  // c[i * species + s]: concentration of species s at times[i].
  std::vector<double> c;
  // With sensitivities: dc[(i * species + s) * wanted.size() + w] is the
  // derivative of that concentration with respect to parameter wanted[w].
  std::vector<double> dc;
};

// The matrix exponentials of first-order solves kept for others of the
// same call (model/linear.h): several experiments with the same rate
// constants and times share them. Each is kept with the very matrix and
// gap it was made of, so a solve that finds one gets the bits it would
// have made. At most max_values doubles are kept.
struct exponential_cache {
  struct entry {
    std::vector<double> system;
    double h = 0;
    std::vector<double> value;
  };
  std::vector<entry> entries;
  std::size_t values = 0;
  static constexpr std::size_t max_values = std::size_t{1} << 22;
};

// Local error tolerances of the integration. The absolute one is taken
// relative to the largest initial concentration (alone when they are all 0).
struct tolerance {
  double relative = 1e-10;
  double absolute = 1e-12;
  // A first-order network (see model/linear.h) is solved in closed form,
  // exactly up to rounding, unless this is false.
  bool closed_form = true;
  // The most accepted steps of one integration, and the time by which a
  // solve gives up ("out of time"), checked between steps.
  long max_steps = 100000;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  // Where a first-order solve keeps and finds its matrix exponentials; none
  // when null. Used by one thread at a time.
  exponential_cache* shared = nullptr;
};

// The most a solve holds: its dense matrices (the system of concentrations
// and sensitivities, of species x (1 + wanted) rows) at most 2048 x 2048
// entries (32 MiB each), its result at most 2^25 values (256 MiB: times x
// species x (1 + wanted)).
constexpr std::size_t max_system_rows = 2048;
constexpr std::size_t max_result_values = std::size_t{1} << 25;

// Whether a solve of that size stays within those limits: "" or why not.
std::string size_limit(std::size_t species, std::size_t wanted, std::size_t times);

// Integrates the rate equations of net from time t0, where the
// concentrations are c0, to every one of times (each at least t0, in any
// order, repeats allowed), with rate constants k (one per step). With wanted
// not empty, also integrates the sensitivities of every concentration with
// respect to those parameters. Returns an empty string, or a message saying
// why there is no result (a value that is not finite, a step size that
// underflows, more steps than the limit, a system beyond size_limit).
std::string solve(const network& net, const std::vector<double>& k, const std::vector<double>& c0, double t0,
                  const std::vector<double>& times, const std::vector<int>& wanted, trajectory& out,
                  const tolerance& tol = {});
