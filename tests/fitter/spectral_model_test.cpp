// The whole matrix of a series fitted by variable projection, against a
// direct dense implementation (every channel solved by QR on the full
// matrix) and against the true values of noise-free series.
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "engine/fit.h"
#include "common/lanes.h"
#include "engine/spectral.h"

using namespace kinetics;

namespace {

double gauss(double x, double at, double width) { return std::exp(-0.5 * std::pow((x - at) / width, 2)); }

// Species spectra that overlap strongly: bands 1.5 widths apart.
matrix_d overlapping_spectra(long species, long channels) {
  matrix_d s(species, channels);
  for (long a = 0; a < species; ++a) {
    for (long c = 0; c < channels; ++c) {
      const double x = channels > 1 ? static_cast<double>(c) / static_cast<double>(channels - 1) : 0.5;
      s(a, c) = gauss(x, 0.35 + 0.15 * static_cast<double>(a), 0.1) + 0.3 * gauss(x, 0.8 - 0.2 * a, 0.15);
    }
  }
  return s;
}

struct series_case {
  std::string mechanism;  // with its true values; column line only to make it a valid file
  vector_d truth;         // true rate constants
  long times, channels;
  double step;
  std::vector<int> absorbing;
  bool nonnegative = false;
  std::vector<int> known = {};  // species of a known spectrum (known_spectra), in the data as the absorbing ones
  bool offset = false;
};

// The known spectra of a case: broad bands.
matrix_d known_spectra(const series_case& c) {
  matrix_d s(static_cast<long>(c.known.size()), c.channels);
  for (long a = 0; a < s.nr(); ++a) {
    for (long ch = 0; ch < c.channels; ++ch) s(a, ch) = gauss(static_cast<double>(ch) / c.channels, 0.5 + 0.1 * a, 0.3);
  }
  return s;
}

mechanism parsed(const std::string& text) {
  mechanism m;
  EXPECT_EQ(parse_mechanism("m.txt", text, m), "");
  return m;
}

// The series D = C S' + noise, C at the true values.
matrix_d simulate(const series_case& c, const mechanism& m, const vector_d& t, double noise) {
  trajectory tr;
  vector_d k, c0;
  for (const named_value& v : m.rates) k.push_back(v.value);
  for (const named_value& v : m.initials) c0.push_back(v.value);
  EXPECT_EQ(solve(m.net, k, c0, 0, t, {}, tr), "");
  const std::size_t species = m.species.size();
  const matrix_d s = overlapping_spectra(static_cast<long>(c.absorbing.size()), c.channels);
  matrix_d d(c.times, c.channels);
  unsigned seed = 99;
  for (long i = 0; i < c.times; ++i) {
    for (long ch = 0; ch < c.channels; ++ch) {
      double sum = c.offset ? 0.05 : 0.0;
      for (std::size_t a = 0; a < c.absorbing.size(); ++a) {
        sum += tr.c[static_cast<std::size_t>(i) * species + static_cast<std::size_t>(c.absorbing[a])] *
               s(static_cast<long>(a), ch);
      }
      for (std::size_t a = 0; a < c.known.size(); ++a) {
        sum += tr.c[static_cast<std::size_t>(i) * species + static_cast<std::size_t>(c.known[a])] *
               known_spectra(c)(static_cast<long>(a), ch);
      }
      seed = seed * 1103515245u + 12345u;
      d(i, ch) = sum + noise * (2.0 * (seed >> 16 & 0x7fff) / 32767.0 - 1.0);
    }
  }
  return d;
}

struct spectral_problem {
  problem p;
  std::shared_ptr<reduced_series> series;
  spectral_setup setup;
  matrix_d d;
  matrix_d known;  // spectra of setup.known
};

spectral_problem make(const series_case& c, double noise, double start_factor) {
  mechanism m = parsed(c.mechanism);
  vector_d t;
  for (long i = 0; i < c.times; ++i) t.push_back(c.step * static_cast<double>(i));
  spectral_problem out;
  out.d = simulate(c, m, t, noise);
  for (named_value& k : m.rates) k.value *= start_factor;
  series_reduction r(static_cast<std::size_t>(c.channels), known_spectra(c), basis_limit(c.channels));
  for (long i = 0; i < c.times; ++i) {
    const matrix_d row = dlib::rowm(out.d, i);
    r.add(t[static_cast<std::size_t>(i)], &row(0, 0));
  }
  out.series = std::make_shared<reduced_series>(r.finish());
  out.setup.absorbing = c.absorbing;
  out.setup.nonnegative = c.nonnegative;
  out.setup.known = c.known;
  out.setup.offset = c.offset;
  out.known = known_spectra(c);
  measured data;
  data.t = t;
  out.p = make_problem(m, data);
  out.p.model = spectral_model(out.series, out.setup);
  return out;
}

// The concentrations of species at every time of c, a column each; -1: 1.
matrix_d columns(const trajectory& c, std::size_t species, long n, const std::vector<int>& of) {
  matrix_d out(n, static_cast<long>(of.size()));
  for (long i = 0; i < n; ++i) {
    for (std::size_t a = 0; a < of.size(); ++a) {
      out(i, static_cast<long>(a)) = of[a] < 0 ? 1.0 : c.c[static_cast<std::size_t>(i) * species + of[a]];
    }
  }
  return out;
}

// The dense reference: for rate constants exp(x), every channel of the full
// matrix less the known spectra solved for its spectrum by QR, residuals
// C S' - D over every cell.
std::string dense_residuals(const spectral_problem& sp, const vector_d& x, vector_d& r) {
  const values v = from_solver(sp.p, x);
  trajectory c;
  if (std::string e = concentrations(sp.p, v, c); !e.empty()) return e;
  const std::size_t species = sp.p.m.species.size();
  std::vector<int> unknown = sp.setup.absorbing;
  if (sp.setup.offset) unknown.push_back(-1);
  const matrix_d u = columns(c, species, sp.d.nr(), unknown);
  const matrix_d d = sp.known.nr() > 0 ? matrix_d(sp.d - columns(c, species, sp.d.nr(), sp.setup.known) * sp.known)
                                       : sp.d;
  dlib::qr_decomposition<matrix_d> qr(u);
  const matrix_d fitted = u * qr.solve(d);
  r.clear();
  for (long i = 0; i < d.nr(); ++i) {
    for (long ch = 0; ch < d.nc(); ++ch) r.push_back(fitted(i, ch) - d(i, ch));
  }
  return {};
}

// Central differences of the dense residuals.
residual_function dense(const spectral_problem& sp) {
  return [&sp](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) -> std::string {
    if (std::string e = dense_residuals(sp, x, r); !e.empty() || !jacobian) return e;
    j.set_size(static_cast<long>(r.size()), static_cast<long>(x.size()));
    for (std::size_t f = 0; f < x.size(); ++f) {
      vector_d up = x, down = x, ru, rd;
      up[f] += 1e-6;
      down[f] -= 1e-6;
      dense_residuals(sp, up, ru);
      dense_residuals(sp, down, rd);
      for (std::size_t i = 0; i < r.size(); ++i) j(static_cast<long>(i), static_cast<long>(f)) = (ru[i] - rd[i]) / 2e-6;
    }
    return {};
  };
}

const series_case consecutive{"A -> B  k1 = 2\nB -> C  k2 = 0.2\nA = 1 fixed\ncolumn 1 = A\n", {2, 0.2}, 40, 15, 0.25, {0, 1, 2}};

// The Jacobian comes compressed (fewer rows than residuals, paired with
// residuals of its own) and holds the dense normal equations: with a known
// spectrum and an offset too, with five unknown spectra on nine channels
// (more than the four of each that the products hold at once), and on a
// series of as many cells as values and one.
TEST(spectral, the_reduced_residuals_hold_the_dense_sum_of_squares_and_its_slopes) {
  const series_case known{"A -> B  k1 = 2\nB -> C  k2 = 0.2\nA = 1 fixed\ncolumn 1 = A\n", {2, 0.2}, 40, 15, 0.25,
                          {0, 1}, false, {2}, true};
  const series_case five{"A -> B  k1 = 2\nB -> C  k2 = 0.7\nC -> D  k3 = 0.3\nD -> E  k4 = 0.1\nA = 1 fixed\n"
                         "column 1 = A\n",
                         {2, 0.7, 0.3, 0.1}, 30, 9, 0.25, {0, 1, 2, 3}, false, {}, true};
  const series_case tiny{"A -> B  k = 1\nA = 1 fixed\ncolumn 1 = A\n", {1}, 2, 1, 0.5, {0}};
  for (const series_case& c : {consecutive, known, five, tiny}) {
    const spectral_problem sp = make(c, 1e-3, 1.3);
    const vector_d x = to_solver(sp.p, sp.p.base);
    vector_d r, plain, dr;
    matrix_d j, dj;
    ASSERT_EQ(residuals(sp.p, x, true, r, j), "");
    ASSERT_EQ(residuals(sp.p, x, false, plain, dj), "");
    ASSERT_EQ(dense(sp)(x, true, dr, dj), "");
    EXPECT_EQ(r.size(), static_cast<std::size_t>(j.nr()));
    EXPECT_NE(r.size(), plain.size());
    EXPECT_NEAR(sum_of_squares(r), sum_of_squares(dr), 1e-12 * sum_of_squares(dr));
    EXPECT_NEAR(sum_of_squares(plain), sum_of_squares(dr), 1e-12 * sum_of_squares(dr));
    const matrix_d jtj = dlib::trans(j) * j, djtj = dlib::trans(dj) * dj;
    EXPECT_LT(dlib::max(dlib::abs(jtj - djtj)) / dlib::max(dlib::abs(djtj)), 1e-7) << c.times;
    const matrix_d g = dlib::trans(j) * dlib::mat(r), dg = dlib::trans(dj) * dlib::mat(dr);
    EXPECT_LT(dlib::max(dlib::abs(g - dg)) / dlib::max(dlib::abs(dg)), 1e-7) << c.times;
    // The products built for AVX give the bits of those for plain x86-64.
    vector_d r2;
    matrix_d j2;
    lanes::avx_allowed() = false;
    ASSERT_EQ(residuals(sp.p, x, true, r2, j2), "");
    lanes::avx_allowed() = true;
    EXPECT_EQ(r2, r) << c.times;
    EXPECT_TRUE(j2 == j) << c.times;
    // Residuals written over those of another call, of the same size or
    // longer, as the search hands them in.
    for (const std::size_t size : {plain.size(), plain.size() + 3}) {
      vector_d again(size, NAN);
      ASSERT_EQ(residuals(sp.p, x, false, again, dj), "");
      EXPECT_EQ(again, plain) << c.times;
    }
  }
}

TEST(spectral, agrees_with_a_dense_qr_fit_to_1e_8_in_k) {
  const spectral_problem sp = make(consecutive, 1e-3, 1.3);
  const fit_result r = fit(sp.p, {200, false});
  ASSERT_EQ(r.failure, "");
  lm_outcome o = levenberg_marquardt(dense(sp), to_solver(sp.p, sp.p.base));
  ASSERT_EQ(o.failure, "");
  polish(dense(sp), o);
  for (std::size_t i = 0; i < o.x.size(); ++i) {
    EXPECT_NEAR(r.estimates[i].value, std::exp(o.x[i]), 1e-8 * std::exp(o.x[i])) << i;
  }
  // Degrees of freedom count every spectral value as fitted.
  EXPECT_EQ(r.points, 40 * 15);
  EXPECT_EQ(r.dof, 40 * 15 - 2 - 3 * 15);
}

// The spectra of a fit, from the series read again row by row.
matrix_d recovered(const spectral_problem& sp, const fit_result& r) {
  trajectory c;
  EXPECT_EQ(concentrations(sp.p, r.best, c), "");
  linear_part l;
  EXPECT_EQ(linear_at(sp.setup, c, sp.p.m.species.size(), l), "");
  spectra_pass pass(l, matrix_d(0, sp.d.nc()), static_cast<std::size_t>(sp.d.nc()));
  for (long i = 0; i < sp.d.nr(); ++i) {
    const matrix_d row = dlib::rowm(sp.d, i);
    pass.add(static_cast<std::size_t>(i), &row(0, 0));
  }
  return pass.spectra(sp.setup.nonnegative);
}

class noise_free : public ::testing::TestWithParam<series_case> {};

// From starts 100 times off, the constants to six digits and the spectra
// to 1e-6 of their largest value.
TEST_P(noise_free, series_give_the_constants_and_the_spectra) {
  const series_case c = GetParam();
  const spectral_problem sp = make(c, 0, 100);
  const fit_result r = fit(sp.p, {200, false});
  ASSERT_EQ(r.failure, "");
  for (std::size_t i = 0; i < c.truth.size(); ++i) EXPECT_NEAR(r.estimates[i].value, c.truth[i], 1e-6 * c.truth[i]);
  const matrix_d truth = overlapping_spectra(static_cast<long>(c.absorbing.size()), c.channels);
  EXPECT_LT(dlib::max(dlib::abs(recovered(sp, r) - truth)), 1e-6 * dlib::max(truth));
}

INSTANTIATE_TEST_SUITE_P(
    mechanisms, noise_free,
    ::testing::Values(
        // Non-negative spectra tell k1 from k2; unconstrained, the swapped pair fits as well.
        series_case{"A -> B  k1 = 2\nB -> C  k2 = 0.2\nA = 1 fixed\ncolumn 1 = A\n", {2, 0.2}, 40, 15, 0.25,
                    {0, 1, 2}, true},
        // Only A absorbs: the equilibrium shows in the depth of its decay.
        series_case{"A <=> B  kf = 1  kr = 0.5\nA = 1 fixed\ncolumn 1 = A\n", {1, 0.5}, 40, 12, 0.1, {0}},
        series_case{"2 A -> B  k = 1\nA = 1 fixed\ncolumn 1 = A\n", {1}, 40, 12, 0.2, {0, 1}},
        // A - B is constant, so A, B and C together are linearly dependent: A and C absorb.
        series_case{"A + B -> C  k = 1\nA = 1 fixed\nB = 0.5 fixed\ncolumn 1 = A\n", {1}, 40, 12, 0.2, {0, 2}}));

TEST(spectral, non_negative_spectra_do_not_return_the_swapped_pair) {
  series_case c = consecutive;
  c.nonnegative = true;
  spectral_problem sp = make(c, 1e-3, 1);
  sp.p.base.k = {0.2, 2};  // started at the swapped pair itself
  const fit_result r = fit(sp.p, {200, false});
  ASSERT_EQ(r.failure, "");
  EXPECT_NEAR(r.estimates[0].value, 2, 0.05);
  EXPECT_NEAR(r.estimates[1].value, 0.2, 0.005);
  for (const std::string& w : r.warnings) EXPECT_EQ(w.find("another minimum"), std::string::npos) << w;
}

}  // namespace
