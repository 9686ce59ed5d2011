// The integration of mass-action networks against closed-form solutions and
// their derivatives, against central differences of itself, and on inputs
// it must refuse.
#include "model/kinetics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int A = 0, B = 1, C = 2;
using curve = std::function<std::vector<double>(double)>;  // t -> one value per species (and parameter)

elementary_step step(std::vector<stoich> in, std::vector<stoich> out) { return {std::move(in), std::move(out)}; }

network a_to_b() { return {2, {step({{A, 1}}, {{B, 1}})}}; }
network a_to_b_to_c() { return {3, {step({{A, 1}}, {{B, 1}}), step({{B, 1}}, {{C, 1}})}}; }
network two_a_to_b() { return {2, {step({{A, 2}}, {{B, 1}})}}; }
network a_plus_b_to_c() { return {3, {step({{A, 1}, {B, 1}}, {{C, 1}})}}; }

std::vector<double> evenly(double t0, double t1, int n) {
  std::vector<double> t(n);
  for (int i = 0; i < n; ++i) t[i] = t0 + (t1 - t0) * i / (n - 1);
  return t;
}

// Every value of got (rows of width values per time) against exact: the
// error relative to the exact value, or to 1% of the largest exact value in
// size of its column where it is below that; plus floor.
void expect_close(const std::vector<double>& got, const std::vector<double>& times, const curve& exact,
                  std::size_t width, double rel, const std::string& what, double floor = 0) {
  ASSERT_EQ(got.size(), times.size() * width) << what;
  for (std::size_t j = 0; j < width; ++j) {
    double largest = 0;
    for (const double t : times) largest = std::max(largest, std::abs(exact(t)[j]));
    for (std::size_t i = 0; i < times.size(); ++i) {
      const double want = exact(times[i])[j];
      EXPECT_NEAR(got[i * width + j], want, rel * std::max(std::abs(want), 0.01 * largest) + floor)
          << what << ", column " << j << ", t " << times[i];
    }
  }
}

// A -> B -> C: B from A and from its own start.
double chain_b(double a0, double b0, double k1, double k2, double t) {
  return b0 * std::exp(-k2 * t) + a0 * k1 / (k2 - k1) * (std::exp(-k1 * t) - std::exp(-k2 * t));
}

struct closed_case {
  const char* name;
  network net;
  std::vector<double> k, c0;
  double t0, t1;
  curve exact;  // of t - t0
};

std::vector<closed_case> closed_cases() {
  return {
      {"A -> B", a_to_b(), {0.7}, {1.3, 0.2}, 0.5, 20,
       [](double t) { const double a = 1.3 * std::exp(-0.7 * t); return std::vector{a, 1.5 - a}; }},
      {"A -> B from below 0", a_to_b(), {0.7}, {-1.3, 0.2}, 0, 20,
       [](double t) { const double a = -1.3 * std::exp(-0.7 * t); return std::vector{a, -1.1 - a}; }},
      {"A -> B -> C", a_to_b_to_c(), {1.1, 0.35}, {1, 0.1, 0}, 0, 40,
       [](double t) {
         const double a = std::exp(-1.1 * t), b = chain_b(1, 0.1, 1.1, 0.35, t);
         return std::vector{a, b, 1.1 - a - b};
       }},
      {"A <=> B", {2, {step({{A, 1}}, {{B, 1}}), step({{B, 1}}, {{A, 1}})}}, {2, 0.5}, {0.8, 0.3}, -3, 10,
       [](double t) { const double a = 0.22 + 0.58 * std::exp(-2.5 * t); return std::vector{a, 1.1 - a}; }},
      {"2 A -> B", two_a_to_b(), {0.9}, {1.5, 0}, 0, 50,
       [](double t) { const double a = 1.5 / (1 + 2 * 0.9 * 1.5 * t); return std::vector{a, (1.5 - a) / 2}; }},
      {"A + B -> C, equal starts", a_plus_b_to_c(), {1.7}, {0.6, 0.6, 0.05}, 0, 50,
       [](double t) { const double a = 0.6 / (1 + 1.7 * 0.6 * t); return std::vector{a, a, 0.65 - a}; }},
      {"A + B -> C, unequal starts", a_plus_b_to_c(), {1.7}, {0.6, 1.0, 0}, 0, 20,
       [](double t) {
         const double a = 0.4 * 0.6 / (1.0 * std::expm1(0.4 * 1.7 * t) + 0.4);
         return std::vector{a, a + 0.4, 0.6 - a};
       }},
      {"source and sink", {1, {step({}, {{A, 1}}), step({{A, 1}}, {})}}, {0.3, 0.2}, {0.1}, 0, 40,
       [](double t) { return std::vector{1.5 - 1.4 * std::exp(-0.2 * t)}; }},
  };
}

// Both ways of solving a first-order network: the matrix exponential and
// the integration.
const tolerance integrated{1e-10, 1e-12, false};

TEST(Kinetics, ConcentrationsMatchClosedForms) {
  for (const closed_case& c : closed_cases()) {
    for (const tolerance& tol : {tolerance{}, integrated}) {
      const std::vector<double> times = evenly(c.t0, c.t0 + c.t1, 81);
      trajectory out;
      ASSERT_EQ(solve(c.net, c.k, c.c0, c.t0, times, {}, out, tol), "") << c.name;
      EXPECT_TRUE(out.dc.empty()) << c.name;
      expect_close(out.c, times, [&](double t) { return c.exact(t - c.t0); }, c.c0.size(), 1e-8, c.name);
    }
  }
}

struct derivative_case {
  const char* name;
  network net;
  std::vector<double> k, c0;
  double t0, t1;
  std::vector<int> wanted;
  curve exact;  // of t - t0: d species / d wanted, species-major
};

std::vector<derivative_case> derivative_cases() {
  return {
      {"A -> B", a_to_b(), {0.7}, {1.3, 0.2}, 2, 20, {0, 1, 2},
       [](double t) {
         const double e = std::exp(-0.7 * t);
         return std::vector{-t * 1.3 * e, e, 0.0, t * 1.3 * e, 1 - e, 1.0};
       }},
      {"A -> B at k = 0", a_to_b(), {0}, {1.3, 0.2}, 1, 20, {0},
       [](double t) { return std::vector{-t * 1.3, t * 1.3}; }},
      {"A -> B -> C", a_to_b_to_c(), {1.1, 0.35}, {1, 0.1, 0}, 0, 40, {1, 0},
       [](double t) {
         const double k1 = 1.1, k2 = 0.35, e1 = std::exp(-k1 * t), e2 = std::exp(-k2 * t), d = k2 - k1;
         const double a_k1 = -t * e1;
         const double b_k1 = k2 / (d * d) * (e1 - e2) - k1 * t * e1 / d;
         const double b_k2 = -k1 / (d * d) * (e1 - e2) + k1 * t * e2 / d - 0.1 * t * e2;
         return std::vector{0.0, a_k1, b_k2, b_k1, -b_k2, -a_k1 - b_k1};
       }},
      {"2 A -> B", two_a_to_b(), {0.9}, {1.5, 0}, 0, 50, {0, 1},
       [](double t) {
         const double q = 1 + 2 * 0.9 * 1.5 * t, a_k = -2 * 1.5 * 1.5 * t / (q * q), a_a0 = 1 / (q * q);
         return std::vector{a_k, a_a0, -a_k / 2, (1 - a_a0) / 2};
       }},
  };
}

TEST(Kinetics, SensitivitiesMatchClosedForms) {
  for (const derivative_case& c : derivative_cases()) {
    for (const tolerance& tol : {tolerance{}, integrated}) {
      const std::vector<double> times = evenly(c.t0, c.t0 + c.t1, 81);
      trajectory out;
      ASSERT_EQ(solve(c.net, c.k, c.c0, c.t0, times, c.wanted, out, tol), "") << c.name;
      expect_close(out.dc, times, [&](double t) { return c.exact(t - c.t0); }, c.c0.size() * c.wanted.size(),
                   1e-7, c.name);
    }
  }
}

// Central differences of fourth order of solve, at a tighter tolerance.
std::vector<double> differences(const network& net, const std::vector<double>& k, const std::vector<double>& c0,
                                const std::vector<double>& times, int parameter) {
  const tolerance tight{1e-13, 1e-15};
  const bool is_k = parameter < static_cast<int>(k.size());
  const double base = is_k ? k[parameter] : c0[parameter - k.size()];
  const double h = 1e-3 * std::max(std::abs(base), 0.1);
  std::vector<double> sum(times.size() * c0.size(), 0.0);
  for (const auto& [shift, weight] : {std::pair{-2, 1.0}, {-1, -8.0}, {1, 8.0}, {2, -1.0}}) {
    std::vector<double> kk = k, cc = c0;
    (is_k ? kk[parameter] : cc[parameter - k.size()]) = base + shift * h;
    trajectory out;
    EXPECT_EQ(solve(net, kk, cc, 0, times, {}, out, tight), "");
    for (std::size_t i = 0; i < sum.size() && i < out.c.size(); ++i) sum[i] += weight * out.c[i] / (12 * h);
  }
  return sum;
}

TEST(Kinetics, SensitivitiesMatchCentralDifferences) {
  const network net = a_plus_b_to_c();
  const std::vector<double> k{1.7}, c0{0.6, 1.0, 0.05}, times = evenly(0, 20, 41);
  const std::vector<int> wanted{3, 0, 1, 2};
  trajectory out;
  ASSERT_EQ(solve(net, k, c0, 0, times, wanted, out), "");
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    const std::vector<double> fd = differences(net, k, c0, times, wanted[w]);
    std::vector<double> got;
    for (std::size_t i = 0; i < fd.size(); ++i) got.push_back(out.dc[i * wanted.size() + w]);
    expect_close(got, times, [&](double t) {
      const auto i = static_cast<std::size_t>(std::find(times.begin(), times.end(), t) - times.begin());
      return std::vector(fd.begin() + 3 * i, fd.begin() + 3 * i + 3);
    }, 3, 1e-7, "parameter " + std::to_string(wanted[w]), 1e-9);
  }
}

TEST(Kinetics, TimesInAnyOrderWithRepeats) {
  const std::vector<double> k{1.1, 0.35}, c0{1, 0.1, 0}, sorted{1, 2, 2.5, 3, 10};
  const std::vector<double> shuffled{3, 1, 10, 0.5, 2.5, 3, 2, 0.5, 10};
  const std::vector<int> wanted{0, 2};
  trajectory in_order, mixed;
  ASSERT_EQ(solve(a_to_b_to_c(), k, c0, 0.5, sorted, wanted, in_order), "");
  ASSERT_EQ(solve(a_to_b_to_c(), k, c0, 0.5, shuffled, wanted, mixed), "");
  ASSERT_EQ(mixed.c.size(), shuffled.size() * 3);
  ASSERT_EQ(mixed.dc.size(), shuffled.size() * 3 * 2);
  for (std::size_t i = 0; i < shuffled.size(); ++i)
    for (int s = 0; s < 3; ++s) {
      const double t = shuffled[i];
      if (t == 0.5) {  // the start: exactly the initial values
        EXPECT_EQ(mixed.c[i * 3 + s], c0[s]);
        EXPECT_EQ(mixed.dc[(i * 3 + s) * 2], 0.0);
        EXPECT_EQ(mixed.dc[(i * 3 + s) * 2 + 1], s == A ? 1.0 : 0.0);
        continue;
      }
      const auto j = static_cast<std::size_t>(std::find(sorted.begin(), sorted.end(), t) - sorted.begin());
      EXPECT_EQ(mixed.c[i * 3 + s], in_order.c[j * 3 + s]) << "t " << t;
      EXPECT_EQ(mixed.dc[(i * 3 + s) * 2 + 1], in_order.dc[(j * 3 + s) * 2 + 1]) << "t " << t;
    }
  EXPECT_NEAR(mixed.c[2 * 3 + A], std::exp(-1.1 * 9.5), 1e-12);
}

// A stiff chain and one over a long span, with and without sensitivities.
TEST(Kinetics, StiffAndLongSpans) {
  const struct {
    double k1, k2, t1;
    std::vector<double> times;
  } cases[] = {
      {1e6, 1, 20, {0, 1e-7, 1e-6, 3e-6, 1e-5, 1e-3, 0.5, 1, 2, 5, 10, 20}},
      {1, 1e-6, 1e7, {0, 1e-3, 0.1, 1, 10, 1e3, 1e5, 1e6, 1e7}},
      {3e-5, 1e-5, 1e6, evenly(0, 1e6, 61)},
  };
  for (const auto& c : cases)
    for (const std::vector<int>& wanted : {std::vector<int>{}, std::vector<int>{0, 1, 2}})
      for (const tolerance& tol : {tolerance{}, integrated}) {
        trajectory out;
        ASSERT_EQ(solve(a_to_b_to_c(), {c.k1, c.k2}, {1, 0, 0}, 0, c.times, wanted, out, tol), "") << c.k1;
        expect_close(out.c, c.times, [&](double t) {
          const double a = std::exp(-c.k1 * t), b = chain_b(1, 0, c.k1, c.k2, t);
          return std::vector{a, b, 1 - a - b};
        }, 3, 1e-8, "k1 " + std::to_string(c.k1));
      }
}

tolerance limited(long steps, bool late) {
  tolerance t;
  t.max_steps = steps;
  if (late) t.deadline = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  return t;
}

TEST(Kinetics, RefusesBadInputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const network good = a_to_b();
  const struct {
    network net;
    std::vector<double> k, c0;
    double t0;
    std::vector<double> times;
    std::vector<int> wanted;
    tolerance tol;
    const char* says;
  } cases[] = {
      {good, {nan}, {1, 0}, 0, {1}, {}, {}, "rate constant 0"},
      {good, {inf}, {1, 0}, 0, {1}, {}, {}, "rate constant 0"},
      {good, {1}, {1, -inf}, 0, {1}, {}, {}, "initial concentration 1"},
      {good, {1}, {1, 0}, nan, {1}, {}, {}, "start time"},
      {good, {1}, {1, 0}, 0, {1, nan}, {}, {}, "time 1"},
      {good, {1}, {1, 0}, 0, {1, inf}, {}, {}, "time 1"},
      {good, {1}, {1, 0}, 2, {3, 1}, {}, {}, "before the start"},
      {good, {1, 2}, {1, 0}, 0, {1}, {}, {}, "2 rate constants for 1 steps"},
      {good, {1}, {1}, 0, {1}, {}, {}, "1 initial concentrations for 2 species"},
      {good, {1}, {1, 0}, 0, {1}, {0, 3}, {}, "parameter 3"},
      {good, {1}, {1, 0}, 0, {1}, {-1}, {}, "parameter -1"},
      {{2, {step({{2, 1}}, {})}}, {1}, {1, 0}, 0, {1}, {}, {}, "species 2"},
      {{2, {step({{0, 0}}, {})}}, {1}, {1, 0}, 0, {1}, {}, {}, "coefficient 0"},
      {good, {1}, {1, 0}, 0, {1}, {}, {nan, 1e-12}, "tolerances"},
      {good, {1}, {1, 0}, 0, {1}, {}, {1e-10, 0}, "tolerances"},
      {good, {1}, {1e-320, 0}, 0, {1}, {}, {}, "absolute tolerance"},
      // 2 A -> 3 A grows to infinity at t = 1.
      {{1, {step({{A, 2}}, {{A, 3}})}}, {1}, {1}, 0, {0.5, 2}, {0}, {}, ""},
      // Lotka-Volterra: it cycles forever, with some steps for each cycle.
      {{2, {step({{A, 1}}, {{A, 2}}), step({{A, 1}, {B, 1}}, {{B, 2}}), step({{B, 1}}, {})}}, {1, 1, 1}, {2, 1}, 0,
       {1e6}, {}, {}, "gave up after 100000 steps"},
      {{2, {step({{A, 1}}, {{A, 2}}), step({{A, 1}, {B, 1}}, {{B, 2}}), step({{B, 1}}, {})}}, {1, 1, 1}, {2, 1}, 0,
       {1e6}, {}, limited(10, false), "gave up after 10 steps"},
      {two_a_to_b(), {1}, {1, 0}, 0, {1, 2}, {0}, limited(100000, true), "out of time"},
      {a_to_b_to_c(), {1, 2}, {1, 0, 0}, 0, {1, 2}, {0}, limited(100000, true), "out of time"},
      // Systems too large to hold: 2049 equations, or 2^25 values at the times.
      {{2049, {}}, {}, std::vector<double>(2049, 0.0), 0, {1}, {}, {}, "a system of 2049 equations, more than the 2048"},
      {{1024, {}}, {}, std::vector<double>(1024, 0.0), 0, std::vector<double>(16385, 1.0), {1}, {},
       "are more than the 33554432 values"},
  };
  for (const auto& c : cases) {
    trajectory out{{1.0}, {2.0}};
    const std::string error = solve(c.net, c.k, c.c0, c.t0, c.times, c.wanted, out, c.tol);
    EXPECT_NE(error, "") << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_TRUE(out.c.empty() && out.dc.empty()) << c.says;
  }
}

TEST(Kinetics, NothingToIntegrate) {
  trajectory out;
  EXPECT_EQ(solve(a_to_b(), {1}, {1, 0}, 0, {}, {0}, out), "");
  EXPECT_TRUE(out.c.empty() && out.dc.empty());
  EXPECT_EQ(solve({0, {}}, {}, {}, 0, {1, 2}, {}, out), "");
  EXPECT_TRUE(out.c.empty());
  EXPECT_EQ(solve(a_to_b(), {1}, {1, 0}, 3, {3, 3}, {1}, out), "");
  EXPECT_EQ(out.c, (std::vector<double>{1, 0, 1, 0}));
  EXPECT_EQ(out.dc, (std::vector<double>{1, 0, 1, 0}));
}

}  // namespace
