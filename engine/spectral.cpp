#include "engine/spectral.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "common/format.h"
#include "common/lanes.h"
#include "engine/experiments.h"
#include "engine/nnls.h"

namespace kinetics {

namespace {


// The concentration of species s at spectrum i, or 1 for the offset (s < 0).
double concentration(const trajectory& c, std::size_t species, std::size_t i, int s) {
  return s < 0 ? 1.0 : c.c[i * species + static_cast<std::size_t>(s)];
}

// The species of the unknown columns: the absorbing ones, then -1 for the offset.
std::vector<int> unknown_species(const spectral_setup& setup) {
  std::vector<int> out = setup.absorbing;
  if (setup.offset) out.push_back(-1);
  return out;
}

matrix_d columns_of(const std::vector<int>& of, const trajectory& c, std::size_t species, std::size_t n) {
  matrix_d out(static_cast<long>(n), static_cast<long>(of.size()));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t a = 0; a < of.size(); ++a) {
      out(static_cast<long>(i), static_cast<long>(a)) = concentration(c, species, i, of[a]);
    }
  }
  return out;
}

// The derivatives of the columns of the species in of by sensitivity parameter w.
matrix_d slopes_of(const std::vector<int>& of, const trajectory& c, std::size_t species, std::size_t n,
                   std::size_t w, std::size_t wanted) {
  matrix_d out = dlib::zeros_matrix<double>(static_cast<long>(n), static_cast<long>(of.size()));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t a = 0; a < of.size(); ++a) {
      if (of[a] < 0) continue;
      const std::size_t at = i * species + static_cast<std::size_t>(of[a]);
      out(static_cast<long>(i), static_cast<long>(a)) = c.dc[at * wanted + w];
    }
  }
  return out;
}

// The series less the known spectra times their concentrations, in the basis.
matrix_d unexplained(const reduced_series& s, const linear_part& l) {
  if (l.known.nc() == 0) return s.data;
  return s.data - l.known * s.known;
}

// A matrix laid out row after row: a dlib matrix, or residuals in a vector.
struct rows_view {
  const double* p;
  long nr, nc;
  const double* row(long i) const { return p + i * nc; }
};

rows_view view_of(const matrix_d& m) { return {m.size() > 0 ? &m(0, 0) : nullptr, m.nr(), m.nc()}; }

// Rows x0 .. x0 + X - 1 of a' b, each element summed over the rows from the
// first: four columns of b at a time in registers, then one at a time.
template <int X, class V>
[[gnu::always_inline]] inline void trans_times_rows(rows_view a, rows_view b, long x0, matrix_d& out) {
  using four = lanes::four<V>;
  long c = 0;
  for (; c + 4 <= b.nc; c += 4) {
    four acc[X];
    for (int x = 0; x < X; ++x) acc[x] = four::all(0);
    for (long i = 0; i < a.nr; ++i) {
      const four bi = four::load(b.row(i) + c);
      for (int x = 0; x < X; ++x) acc[x] += four::all(a.row(i)[x0 + x]) * bi;
    }
    for (int x = 0; x < X; ++x) acc[x].store(&out(x0 + x, c));
  }
  for (; c < b.nc; ++c) {
    double acc[X] = {};
    for (long i = 0; i < a.nr; ++i) {
      for (int x = 0; x < X; ++x) acc[x] += a.row(i)[x0 + x] * b.row(i)[c];
    }
    for (int x = 0; x < X; ++x) out(x0 + x, c) = acc[x];
  }
}

// a' b into out, for a and b of as many rows, four rows of the product at a time.
template <class V>
[[gnu::always_inline]] inline void trans_times_in(rows_view a, rows_view b, matrix_d& out) {
  long x = 0;
  for (; x + 4 <= a.nc; x += 4) trans_times_rows<4, V>(a, b, x, out);
  switch (a.nc - x) {
    case 3: trans_times_rows<3, V>(a, b, x, out); break;
    case 2: trans_times_rows<2, V>(a, b, x, out); break;
    case 1: trans_times_rows<1, V>(a, b, x, out); break;
    default: break;
  }
}

KINETICS_AVX void trans_times_avx(rows_view a, rows_view b, matrix_d& out) { trans_times_in<lanes::quad_d>(a, b, out); }

matrix_d trans_times(rows_view a, rows_view b) {
  matrix_d out(a.nc, b.nc);
  if (lanes::with_avx()) {
    trans_times_avx(a, b, out);
  } else {
    trans_times_in<lanes::pair_d>(a, b, out);
  }
  return out;
}

matrix_d trans_times(const matrix_d& a, const matrix_d& b) { return trans_times(view_of(a), view_of(b)); }

// to = y - q m, row after row, each element less q's products in their
// order: four columns at a time in registers, then one at a time.
template <class V>
[[gnu::always_inline]] inline void minus_times_in(rows_view y, rows_view q, rows_view m, double* to) {
  using four = lanes::four<V>;
  for (long i = 0; i < y.nr; ++i) {
    const double* yi = y.row(i);
    const double* qi = q.row(i);
    double* ti = to + i * y.nc;
    long c = 0;
    for (; c + 4 <= y.nc; c += 4) {
      four v = four::load(yi + c);
      for (long a = 0; a < q.nc; ++a) v -= four::all(qi[a]) * four::load(m.row(a) + c);
      v.store(ti + c);
    }
    for (; c < y.nc; ++c) {
      double v = yi[c];
      for (long a = 0; a < q.nc; ++a) v -= qi[a] * m.row(a)[c];
      ti[c] = v;
    }
  }
}

KINETICS_AVX void minus_times_avx(rows_view y, rows_view q, rows_view m, double* to) {
  minus_times_in<lanes::quad_d>(y, q, m, to);
}

void minus_times_into(rows_view y, rows_view q, rows_view m, double* to) {
  if (lanes::with_avx()) return minus_times_avx(y, q, m, to);
  minus_times_in<lanes::pair_d>(y, q, m, to);
}

matrix_d minus_times(const matrix_d& y, const matrix_d& q, const matrix_d& m) {
  matrix_d out(y.nr(), y.nc());
  if (out.size() > 0) minus_times_into(view_of(y), view_of(q), view_of(m), &out(0, 0));
  return out;
}

// sum of a .* b
double inner(const matrix_d& a, const matrix_d& b) { return dlib::sum(dlib::pointwise_multiply(a, b)); }

// What the Jacobian of the projected residual R = (I - P) Y needs of one
// parameter: Golub and Pereyra's derivative is
// dR = -(I - P) W F - (U+)' dU' R, with W = [dU dK] the derivatives of the
// unknown and known columns, F = [A; S_known] their spectra and U+ the
// pseudo-inverse of U = Q T, so that (U+)' = Q T^-T. Here wp = (I - P) W,
// wr = W' R and m = T^-T dU' R (the first rows of wr).
struct slope_parts {
  matrix_d wp, wr, m;
};

slope_parts slope_of(const linear_part& l, const matrix_d& t_inverse, const matrix_d& w, rows_view res) {
  slope_parts out{minus_times(w, l.q, trans_times(l.q, w)), trans_times(view_of(w), res), {}};
  out.m = dlib::trans(t_inverse) * dlib::rowm(out.wr, dlib::range(0, t_inverse.nr() - 1));
  return out;
}

// The Gram matrix [J r]'[J r] of the projected residual, without J: the two
// terms of dR are orthogonal ((U+)' lies in the range of U, R outside it),
// and Q has orthonormal columns, so that
//   J'J_fg = <wp_f' wp_g, F F'> + <m_f, m_g>,  J'r_f = -<wr_f, F>.
// The last row and column are J'r and r'r = ssr.
matrix_d gram_of(const std::vector<slope_parts>& d, const matrix_d& f, double ssr) {
  const long p = static_cast<long>(d.size());
  const matrix_d ff = f * dlib::trans(f);
  matrix_d g(p + 1, p + 1);
  for (long a = 0; a < p; ++a) {
    const slope_parts& da = d[static_cast<std::size_t>(a)];
    for (long b = a; b < p; ++b) {
      const slope_parts& db = d[static_cast<std::size_t>(b)];
      g(a, b) = g(b, a) = inner(trans_times(da.wp, db.wp), ff) + inner(da.m, db.m);
    }
    g(a, p) = g(p, a) = -inner(da.wr, f);
  }
  g(p, p) = ssr;
  return g;
}

// A compressed form of the Jacobian and residuals with Gram matrix g (see
// residual_function): with D the square roots of the diagonal of g and
// D^-1 g D^-1 = V L V', the rows of L^1/2 V' D, whose last column is
// paired with the others as the residuals. Scaled so, every element of g
// comes back to rounding of its own size, however ill-conditioned J'J is;
// the columns whose derivatives vanish stay zero.
void compress(const matrix_d& g, std::size_t plain, matrix_d& j, vector_d& r) {
  const long p = g.nr() - 1;
  const long rows = static_cast<std::size_t>(p + 1) == plain ? p + 2 : p + 1;  // never as many rows as residuals
  column_d scale(p + 1);
  for (long a = 0; a <= p; ++a) scale(a) = g(a, a) > 0 ? std::sqrt(g(a, a)) : 0.0;
  matrix_d unit = dlib::zeros_matrix<double>(p + 1, p + 1);
  for (long a = 0; a <= p; ++a) {
    for (long b = 0; b <= p; ++b) {
      if (scale(a) > 0 && scale(b) > 0) unit(a, b) = g(a, b) / (scale(a) * scale(b));
    }
  }
  const dlib::eigenvalue_decomposition<matrix_d> eigen(dlib::make_symmetric(unit));
  const column_d values = eigen.get_real_eigenvalues();
  const matrix_d v = eigen.get_pseudo_v();
  matrix_d b = dlib::zeros_matrix<double>(rows, p + 1);
  for (long e = 0; e <= p; ++e) {
    const double root = std::sqrt(std::max(values(e), 0.0));
    for (long a = 0; a <= p; ++a) b(e, a) = root * v(a, e) * scale(a);
  }
  j = p > 0 ? matrix_d(dlib::colm(b, dlib::range(0, p - 1))) : matrix_d(rows, 0);
  const column_d paired = dlib::colm(b, p);
  r.assign(paired.begin(), paired.end());
}

// The residuals with non-negative spectra: the projected residual, then per
// channel z - R a+ with z = Q' y, a+ >= 0 the solution of min |R a - z|.
std::string nonnegative_at(const reduced_series& s, const spectral_setup& setup, std::size_t species,
                           const trajectory& c, vector_d& r) {
  linear_part l;
  if (std::string error = linear_at(setup, c, species, l); !error.empty()) return error;
  const matrix_d y = unexplained(s, l), qty = dlib::trans(l.q) * y;
  const matrix_d res = y - l.q * qty;
  r.assign(res.begin(), res.end());
  const matrix_d z = qty * dlib::trans(s.basis);
  for (long ch = 0; ch < z.nc(); ++ch) {
    const column_d zc = dlib::colm(z, ch);
    const column_d left = zc - l.r * nnls(l.r, zc);
    r.insert(r.end(), left.begin(), left.end());
  }
  if (s.truncated()) r.push_back(std::sqrt(s.discarded_ss));
  if (!all_finite(r.data(), r.size())) return "the model of the series is not finite";
  return {};
}

std::string nonnegative_residuals(const reduced_series& s, const spectral_setup& setup, const problem& p,
                                  const trajectory& c, vector_d& r) {
  return nonnegative_at(s, setup, p.m.species.size(), c, r);
}

// The step of a central difference in a natural value.
double difference_step(double value) { return 1e-6 * std::max(std::abs(value), 1e-6); }

std::string nonnegative_evaluate(const reduced_series& s, const spectral_setup& setup, const problem& p,
                                 const values& v, const trajectory& c, bool jacobian, vector_d& r, matrix_d& j) {
  if (std::string error = nonnegative_residuals(s, setup, p, c, r); !error.empty() || !jacobian) return error;
  j = dlib::zeros_matrix<double>(static_cast<long>(r.size()), static_cast<long>(p.fitted.size()));
  for (std::size_t f = 0; f < p.fitted.size(); ++f) {
    vector_d sides[2];
    const double h = difference_step(value_list(v, p.fitted[f].kind)[static_cast<std::size_t>(p.fitted[f].index)]);
    for (int side = 0; side < 2; ++side) {
      values moved = v;
      value_list(moved, p.fitted[f].kind)[static_cast<std::size_t>(p.fitted[f].index)] += side ? h : -h;
      trajectory cm;
      if (std::string e = concentrations(p, moved, cm); !e.empty()) return e;
      if (std::string e = nonnegative_residuals(s, setup, p, cm, sides[side]); !e.empty()) return e;
    }
    for (std::size_t i = 0; i < r.size(); ++i) j(static_cast<long>(i), static_cast<long>(f)) = (sides[1][i] - sides[0][i]) / (2 * h);
  }
  return {};
}

// The projected residuals at concentrations c of species species, and with
// jacobian their derivatives: column f of j by sensitivity sensitivity[f]
// of c (wanted per concentration), or 0 where sensitivity[f] < 0.
std::string project(const reduced_series& s, const spectral_setup& setup, std::size_t species, const trajectory& c,
                    const std::vector<long>& sensitivity, std::size_t wanted, bool jacobian, vector_d& r,
                    matrix_d& j) {
  const std::size_t n = s.t.size();
  linear_part l;
  if (std::string error = linear_at(setup, c, species, l); !error.empty()) return error;
  const matrix_d less_known = l.known.nc() > 0 ? unexplained(s, l) : matrix_d();
  const matrix_d& y = l.known.nc() > 0 ? less_known : s.data;
  // Without the Jacobian the residuals go straight into r, which the search
  // hands in at the size it had before, so nothing clears it first; with
  // it they are a step on the way to the compressed form, in memory of
  // their own that nothing clears either.
  const matrix_d qty = trans_times(l.q, y);
  const std::size_t cells = static_cast<std::size_t>(y.size()), plain = cells + (s.truncated() ? 1 : 0);
  std::unique_ptr<double[]> full;
  if (jacobian) {
    full = std::make_unique_for_overwrite<double[]>(plain);
  } else {
    r.resize(plain);
  }
  double* const at = jacobian ? full.get() : r.data();
  if (cells > 0) minus_times_into(view_of(y), view_of(l.q), view_of(qty), at);
  if (s.truncated()) at[cells] = std::sqrt(s.discarded_ss);
  const rows_view res{at, y.nr(), y.nc()};
  if (!all_finite(at, plain)) {
    return "the model of the series is not finite";
  }
  if (!jacobian) return {};
  const matrix_d t_inverse = dlib::inv(dlib::upperm(l.r)), a = t_inverse * qty;
  std::vector<int> columns = unknown_species(setup);
  columns.insert(columns.end(), setup.known.begin(), setup.known.end());
  std::vector<slope_parts> parts;
  const long m = static_cast<long>(columns.size());
  for (long w : sensitivity) {
    if (w < 0) {
      parts.push_back({dlib::zeros_matrix<double>(static_cast<long>(n), m), dlib::zeros_matrix<double>(m, y.nc()),
                       dlib::zeros_matrix<double>(a.nr(), y.nc())});
    } else {
      const matrix_d slopes = slopes_of(columns, c, species, n, static_cast<std::size_t>(w), wanted);
      parts.push_back(slope_of(l, t_inverse, slopes, res));
    }
  }
  const matrix_d f = s.known.nr() > 0 ? matrix_d(dlib::join_cols(a, s.known)) : a;
  // sum_of_squares is compiled apart: inlined into project, GCC kept the sum
  // in memory, storing and loading it at every residual.
  compress(gram_of(parts, f, sum_of_squares(at, plain)), plain, j, r);
  return {};
}

std::string evaluate(const reduced_series& s, const spectral_setup& setup, const problem& p, const trajectory& c,
                     bool jacobian, vector_d& r, matrix_d& j) {
  std::vector<long> sensitivity;
  for (std::size_t f = 0, w = 0; f < p.fitted.size(); ++f) {
    sensitivity.push_back(p.fitted[f].kind == role::factor ? -1L : static_cast<long>(w++));
  }
  const std::size_t wanted = jacobian ? sensitivity_parameters(p).size() : 0;
  return project(s, setup, p.m.species.size(), c, sensitivity, wanted, jacobian, r, j);
}

// The residuals of a series shared by every part of p (their spectra one
// after the other) at the solver's values x, and their derivatives by x:
// exact ones, or with non-negative spectra central differences.
std::string whole_evaluate(const reduced_series& s, const spectral_setup& setup, const problem& p, const vector_d& x,
                           bool jacobian, vector_d& r, matrix_d& j) {
  const std::size_t species = p.m.species.size();
  trajectory c;
  if (std::string error = stacked_concentrations(p, x, jacobian && !setup.nonnegative, c); !error.empty()) {
    return error;
  }
  if (!setup.nonnegative) {
    std::vector<long> sensitivity(x.size());
    for (std::size_t f = 0; f < x.size(); ++f) sensitivity[f] = static_cast<long>(f);
    return project(s, setup, species, c, sensitivity, x.size(), jacobian, r, j);
  }
  if (std::string error = nonnegative_at(s, setup, species, c, r); !error.empty() || !jacobian) return error;
  j.set_size(static_cast<long>(r.size()), static_cast<long>(x.size()));
  for (std::size_t f = 0; f < x.size(); ++f) {
    vector_d sides[2];
    const double h = 1e-6 * std::max(std::abs(x[f]), 1.0);  // a solver's value: ln k or the value itself
    for (int side = 0; side < 2; ++side) {
      vector_d moved = x;
      moved[f] += side ? h : -h;
      trajectory cm;
      if (std::string e = stacked_concentrations(p, moved, false, cm); !e.empty()) return e;
      if (std::string e = nonnegative_at(s, setup, species, cm, sides[side]); !e.empty()) return e;
    }
    for (std::size_t i = 0; i < r.size(); ++i) j(static_cast<long>(i), static_cast<long>(f)) = (sides[1][i] - sides[0][i]) / (2 * h);
  }
  return {};
}

}  // namespace

residual_model spectral_model(std::shared_ptr<const reduced_series> series, spectral_setup setup) {
  residual_model model;
  const std::size_t extra = series->truncated() ? 1 : 0;
  const std::size_t constraint = setup.nonnegative ? unknown_species(setup).size() * series->channels : 0;
  model.count = [series, extra, constraint](const problem&) {
    return static_cast<std::size_t>(series->data.size()) + constraint + extra;
  };
  model.evaluate = [series, setup](const problem& p, const values& v, const trajectory& c, bool jacobian,
                                   vector_d& r, matrix_d& j) {
    if (setup.nonnegative) return nonnegative_evaluate(*series, setup, p, v, c, jacobian, r, j);
    return evaluate(*series, setup, p, c, jacobian, r, j);
  };
  model.points = series->t.size() * series->channels;
  model.eliminated = unknown_species(setup).size() * series->channels;
  model.largest = series->largest;
  return model;
}

residual_model shared_spectral_model(std::shared_ptr<const reduced_series> series, spectral_setup setup) {
  residual_model model = spectral_model(series, setup);
  model.whole = [series, setup](const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    return whole_evaluate(*series, setup, p, x, jacobian, r, j);
  };
  return model;
}

std::string linear_at(const spectral_setup& setup, const trajectory& c, std::size_t species, linear_part& out) {
  const std::size_t n = species > 0 ? c.c.size() / species : 0;
  out.unknown = columns_of(unknown_species(setup), c, species, n);
  out.known = columns_of(setup.known, c, species, n);
  if (out.unknown.nc() == 0 || out.unknown.nr() < out.unknown.nc()) {
    return "there are fewer spectra than spectra to recover";
  }
  dlib::qr_decomposition<matrix_d> qr(out.unknown);
  out.q = qr.get_q();
  out.r = qr.get_r();
  double top = 0, bottom = INFINITY;
  for (long i = 0; i < out.r.nr(); ++i) {
    top = std::max(top, std::abs(out.r(i, i)));
    bottom = std::min(bottom, std::abs(out.r(i, i)));
  }
  out.condition = top / bottom;
  if (!(bottom > 1e-13 * top) || !std::isfinite(top)) {
    return "the concentrations of the absorbing species are linearly dependent";
  }
  const matrix_d r_inverse = dlib::inv(dlib::upperm(out.r));
  const matrix_d inverse = r_inverse * dlib::trans(r_inverse);
  out.inverse_diagonal.clear();
  for (long i = 0; i < inverse.nr(); ++i) out.inverse_diagonal.push_back(inverse(i, i));
  return {};
}

matrix_d basis_residual(const reduced_series& s, const linear_part& l) {
  const matrix_d y = unexplained(s, l);
  return y - l.q * (dlib::trans(l.q) * y);
}

spectra_pass::spectra_pass(const linear_part& l, const matrix_d& known_spectra, std::size_t channels)
    : l_(l),
      known_spectra_(known_spectra),
      sum_(dlib::zeros_matrix<double>(l.q.nc(), static_cast<long>(channels))) {}

void spectra_pass::add(std::size_t spectrum, const double* row) {
  const long i = static_cast<long>(spectrum), m = sum_.nc();
  row_.set_size(1, m);
  for (long c = 0; c < m; ++c) row_(0, c) = row[c];
  for (long k = 0; k < l_.known.nc(); ++k) row_ -= l_.known(i, k) * dlib::rowm(known_spectra_, k);
  for (long a = 0; a < sum_.nr(); ++a) dlib::set_rowm(sum_, a) = dlib::rowm(sum_, a) + l_.q(i, a) * row_;
}

matrix_d spectra_pass::spectra(bool nonnegative) const {
  if (!nonnegative) return dlib::inv(dlib::upperm(l_.r)) * sum_;
  matrix_d out(sum_.nr(), sum_.nc());
  for (long c = 0; c < sum_.nc(); ++c) dlib::set_colm(out, c) = nnls(l_.r, dlib::colm(sum_, c));
  return out;
}

rank_report series_rank(const reduced_series& s, const spectral_setup& setup, const linear_part& l, double sigma) {
  rank_report out;
  out.data = s.singular;
  out.residual = singular_values(basis_residual(s, l));
  const double n = static_cast<double>(s.t.size()), m = static_cast<double>(s.channels);
  out.noise_level = sigma * (std::sqrt(n) + std::sqrt(m));
  const double floor = std::max(out.noise_level, out.data.empty() ? 0.0 : 1e-10 * out.data.front());
  out.above_noise = static_cast<int>(std::count_if(out.data.begin(), out.data.end(), [&](double v) {
    return v > floor;
  }));
  // The known spectra take components of the data too.
  out.unknown_columns = static_cast<int>(unknown_species(setup).size() + setup.known.size());
  out.condition = l.condition;
  if (out.unknown_columns > out.above_noise) {
    out.warnings.push_back(std::to_string(out.unknown_columns) + " species spectra are fitted, but the data hold only " +
                           std::to_string(out.above_noise) +
                           " components above the noise: the spectra are not all identifiable (fewer absorbing "
                           "species may describe the data)");
  }
  const int left = static_cast<int>(std::count_if(out.residual.begin(), out.residual.end(), [&](double v) {
    return v > std::max(out.noise_level, floor);
  }));
  if (left > 0) {
    out.warnings.push_back("the residuals hold " + std::to_string(left) +
                           " components above the noise: the model leaves part of the data unexplained (more "
                           "absorbing species or another mechanism may be needed)");
  }
  if (l.condition > 1e6) {
    out.warnings.push_back("the concentrations of the absorbing species are nearly linearly dependent (condition " +
                           format_g(l.condition, 3) + "): their spectra cannot be told apart");
  }
  return out;
}

}  // namespace kinetics
