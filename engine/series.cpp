#include "engine/series.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/lanes.h"

namespace kinetics {

namespace {

// The thin singular value decomposition of a (rows >= columns), largest
// singular value first.
void sorted_svd(const matrix_d& a, matrix_d& u, vector_d& s, matrix_d& v) {
  matrix_d uu, w, vv;
  dlib::svd3(a, uu, w, vv);
  std::vector<long> order(static_cast<std::size_t>(w.nr()));
  std::iota(order.begin(), order.end(), 0L);
  std::stable_sort(order.begin(), order.end(), [&](long x, long y) { return w(x) > w(y); });
  s.clear();
  if (std::is_sorted(order.begin(), order.end())) {  // as LAPACK leaves them: not copied
    u.swap(uu);
    v.swap(vv);
    s.assign(w.begin(), w.end());
    return;
  }
  u.set_size(uu.nr(), w.nr());
  v.set_size(vv.nr(), w.nr());
  for (long c = 0; c < w.nr(); ++c) {
    const long from = order[static_cast<std::size_t>(c)];
    dlib::set_colm(u, c) = dlib::colm(uu, from);
    dlib::set_colm(v, c) = dlib::colm(vv, from);
    s.push_back(w(from));
  }
}

// How many leading values of s to keep: those above rounding, at most most.
std::size_t kept(const vector_d& s, std::size_t most) {
  const double tiny = s.empty() ? 0 : 1e-14 * s.front();
  std::size_t k = 0;
  while (k < s.size() && k < most && s[k] > tiny) ++k;
  return k;
}

// The sum of a[x] b[x] over x < n, in four running sums (x mod 4) added at
// the end: an order the compiler may keep in vector registers, fixed, so
// the same bits on every machine.
template <class V>
[[gnu::always_inline]] inline double dot(const double* a, const double* b, long n) {
  using four = lanes::four<V>;
  four s = four::all(0);
  long x = 0;
  for (; x + 4 <= n; x += 4) s += four::load(a + x) * four::load(b + x);
  double s0 = s[0];
  for (; x < n; ++x) s0 += a[x] * b[x];
  return (s0 + s[1]) + (s[2] + s[3]);
}

// y[x] += f a[x] for x < n.
[[gnu::always_inline]] inline void add_scaled(double* y, double f, const double* a, long n) {
  for (long x = 0; x < n; ++x) y[x] += f * a[x];
}

// v[x] -= c q[x] for x < n, and then the dot product of next with the new
// v as dot sums it (of v with itself when Self): one pass over v for two.
template <class V, bool Self>
[[gnu::always_inline]] inline double subtract_then_dot(double* v, double c, const double* q, const double* next, long n) {
  using four = lanes::four<V>;
  const four cc = four::all(c);
  four s = four::all(0);
  long x = 0;
  for (; x + 4 <= n; x += 4) {
    four u = four::load(v + x);
    u -= cc * four::load(q + x);
    u.store(v + x);
    s += (Self ? u : four::load(next + x)) * u;
  }
  double s0 = s[0];
  for (; x < n; ++x) {
    v[x] -= c * q[x];
    s0 += (Self ? v[x] : next[x]) * v[x];
  }
  return (s0 + s[1]) + (s[2] + s[3]);
}

// The first b rows of e made orthonormal in place, in order, by modified
// Gram-Schmidt run twice per row (twice is enough for orthogonality to
// rounding): e = r' q, q (b x width) with orthonormal rows, r upper
// triangular. A row that lies in the span of those before it gets whatever
// direction its rounding leaves, and a diagonal of r at the rounding level;
// one of zeros stays zero. The rows are contiguous, so every product runs
// along memory, and each product is made in the pass that takes out the
// row before.
template <class V>
[[gnu::always_inline]] inline void orthonormal_rows_in(matrix_d& e, long b, matrix_d& r) {
  const long m = e.nc();
  r = dlib::zeros_matrix<double>(b, b);
  for (long j = 0; j < b; ++j) {
    double* v = &e(j, 0);
    // Row j against rows 0 to j - 1, twice over, then against itself.
    const long steps = 2 * j;
    double c = steps > 0 ? dot<V>(&e(0, 0), v, m) : dot<V>(v, v, m);
    for (long k = 0; k < steps; ++k) {
      const double* qi = &e(k % j, 0);
      r(k % j, j) += c;
      c = k + 1 < steps ? subtract_then_dot<V, false>(v, c, qi, &e((k + 1) % j, 0), m)
                        : subtract_then_dot<V, true>(v, c, qi, v, m);
    }
    const double norm = std::sqrt(c);
    r(j, j) = norm;
    for (long x = 0; x < m && norm > 0; ++x) v[x] /= norm;
  }
}

KINETICS_AVX void orthonormal_rows_avx(matrix_d& e, long b, matrix_d& r) { orthonormal_rows_in<lanes::quad_d>(e, b, r); }

void orthonormal_rows(matrix_d& e, long b, matrix_d& r) {
  if (lanes::with_avx()) return orthonormal_rows_avx(e, b, r);
  orthonormal_rows_in<lanes::pair_d>(e, b, r);
}

// Rows from to from + count - 1 and the first cols columns of a, as a
// matrix of its own (so that products with it go to BLAS).
matrix_d corner(const matrix_d& a, long from, long count, long cols) {
  return count > 0 && cols > 0 ? matrix_d(dlib::subm(a, from, 0, count, cols)) : matrix_d(count, cols);
}

// The channels the products of a fold take at a time: a chunk of the
// block's rows and of the basis' stays in cache while it is used.
constexpr long chunk = 1024;


// The rows to combine and what to combine them into: out[a][x] +=
// f[a * rows + j] src[j][x], j = 0, 1, ... in turn, for x in [x0, x0 + w).
struct combination {
  std::vector<double*> out;
  std::vector<const double*> src;
  std::vector<double> f;
};

// G outputs at once over x0 + [x, x + 4) for every x a multiple of 4,
// then one at a time over what is left.
template <class V, int G>
[[gnu::always_inline]] inline void combine_group(const combination& c, std::size_t a0, long x0, long w) {
  using four = lanes::four<V>;
  const std::size_t rows = c.src.size();
  const double* f = c.f.data() + a0 * rows;
  long x = x0;
  for (; x + 4 <= x0 + w; x += 4) {
    four acc[G];
    for (int a = 0; a < G; ++a) acc[a] = four::load(c.out[a0 + a] + x);
    for (std::size_t j = 0; j < rows; ++j) {
      const four s = four::load(c.src[j] + x);
      for (int a = 0; a < G; ++a) acc[a] += four::all(f[a * rows + j]) * s;
    }
    for (int a = 0; a < G; ++a) acc[a].store(c.out[a0 + a] + x);
  }
  for (int a = 0; a < G; ++a) {
    for (std::size_t j = 0; j < rows; ++j) add_scaled(c.out[a0 + a] + x, f[a * rows + j], c.src[j] + x, x0 + w - x);
  }
}

// Outputs taken together: eight in quads (their sums hide the latency of
// the additions; sixteen registers hold them), four in pairs.
template <class V>
constexpr int outputs_at_once = sizeof(V) == sizeof(lanes::quad_d) ? 8 : 4;

// The whole combination over m channels, a chunk of them at a time.
template <class V>
[[gnu::always_inline]] inline void combine_in(const combination& c, long m) {
  const std::size_t rows = c.src.size(), outs = c.out.size();
  if (rows == 0) return;  // nothing to add (the first fold has no basis yet)
  for (long x0 = 0; x0 < m; x0 += chunk) {
    const long w = std::min(chunk, m - x0);
    std::size_t a = 0;
    constexpr std::size_t g = outputs_at_once<V>;
    for (; a + g <= outs; a += g) combine_group<V, outputs_at_once<V>>(c, a, x0, w);
    if constexpr (g > 4) {
      for (; a + 4 <= outs; a += 4) combine_group<V, 4>(c, a, x0, w);
    }
    for (; a < outs; ++a) {
      for (std::size_t j = 0; j < rows; ++j) add_scaled(c.out[a] + x0, c.f[a * rows + j], c.src[j] + x0, w);
    }
  }
}

// p[i][a] += dot(x[i], y[a], w) for i, a in {0, 1}: the four dot products
// at once, each in the running sums of dot.
template <class V>
[[gnu::always_inline]] inline void dot_two_by_two(const double* const x[2], const double* const y[2], long w,
                                                  double p[2][2]) {
  using four = lanes::four<V>;
  four s[2][2] = {{four::all(0), four::all(0)}, {four::all(0), four::all(0)}};
  long c = 0;
  for (; c + 4 <= w; c += 4) {
    const four xv[2] = {four::load(x[0] + c), four::load(x[1] + c)};
    for (int a = 0; a < 2; ++a) {
      const four yv = four::load(y[a] + c);
      for (int i = 0; i < 2; ++i) s[i][a] += xv[i] * yv;
    }
  }
  for (int i = 0; i < 2; ++i) {
    for (int a = 0; a < 2; ++a) {
      double s0 = s[i][a][0];
      for (long r = c; r < w; ++r) s0 += x[i][r] * y[a][r];
      p[i][a] += (s0 + s[i][a][1]) + (s[i][a][2] + s[i][a][3]);
    }
  }
}

// p(i, a) += the dot product of the first w values at x0 of row i of
// block and row a of vt, for every i < b and a < vt.nr().
template <class V>
[[gnu::always_inline]] inline void add_dots_in(matrix_d& p, const matrix_d& block, long b, const matrix_d& vt,
                                               long x0, long w) {
  const long k = vt.nr();
  long i = 0;
  for (; i + 2 <= b; i += 2) {
    long a = 0;
    for (; a + 2 <= k; a += 2) {
      const double* const x[2] = {&block(i, x0), &block(i + 1, x0)};
      const double* const y[2] = {&vt(a, x0), &vt(a + 1, x0)};
      double s[2][2] = {{p(i, a), p(i, a + 1)}, {p(i + 1, a), p(i + 1, a + 1)}};
      dot_two_by_two<V>(x, y, w, s);
      p(i, a) = s[0][0], p(i, a + 1) = s[0][1], p(i + 1, a) = s[1][0], p(i + 1, a + 1) = s[1][1];
    }
    for (; a < k; ++a) {
      for (long r = i; r < i + 2; ++r) p(r, a) += dot<V>(&block(r, x0), &vt(a, x0), w);
    }
  }
  for (; i < b; ++i) {
    for (long a = 0; a < k; ++a) p(i, a) += dot<V>(&block(i, x0), &vt(a, x0), w);
  }
}

// The kernels as the processor runs them best (lanes.h).
KINETICS_AVX void combine_avx(const combination& c, long m) { combine_in<lanes::quad_d>(c, m); }

void combine(const combination& c, long m) {
  if (lanes::with_avx()) return combine_avx(c, m);
  combine_in<lanes::pair_d>(c, m);
}

KINETICS_AVX void add_dots_avx(matrix_d& p, const matrix_d& block, long b, const matrix_d& vt, long x0, long w) {
  add_dots_in<lanes::quad_d>(p, block, b, vt, x0, w);
}

void add_dots(matrix_d& p, const matrix_d& block, long b, const matrix_d& vt, long x0, long w) {
  if (lanes::with_avx()) return add_dots_avx(p, block, b, vt, x0, w);
  add_dots_in<lanes::pair_d>(p, block, b, vt, x0, w);
}

// P = B V and then B - P V' in place of the first b rows of B, with the
// basis V given as the rows of vt (orthonormal): what of the block the
// basis does not hold. Returns P (b x basis vectors).
matrix_d take_out_basis(matrix_d& block, long b, const matrix_d& vt) {
  const long k = vt.nr(), m = vt.nc();
  matrix_d p = dlib::zeros_matrix<double>(b, k);
  for (long x0 = 0; x0 < m; x0 += chunk) add_dots(p, block, b, vt, x0, std::min(chunk, m - x0));
  combination c;
  for (long i = 0; i < b; ++i) {
    c.out.push_back(&block(i, 0));
    for (long a = 0; a < k; ++a) c.f.push_back(-p(i, a));
  }
  for (long a = 0; a < k; ++a) c.src.push_back(&vt(a, 0));
  combine(c, m);
  return p;
}

// The rows of [V Qe] c for the first kept columns of c, V and Qe given as
// rows (vt, and the first b rows of q): the new basis, as rows, in out,
// whose memory is kept when it has the size already (a basis is megabytes
// wide, and fresh pages cost more than the products).
void new_basis(const matrix_d& vt, const matrix_d& q, long b, const matrix_d& c, long kept, matrix_d& out) {
  const long k = vt.nr(), m = q.nc();
  out.set_size(kept, m);
  std::fill(out.begin(), out.end(), 0.0);
  combination plan;
  for (long j = 0; j < k; ++j) plan.src.push_back(&vt(j, 0));
  for (long j = 0; j < b; ++j) plan.src.push_back(&q(j, 0));
  for (long a = 0; a < kept; ++a) {
    plan.out.push_back(&out(a, 0));
    for (long j = 0; j < k + b; ++j) plan.f.push_back(c(j, a));
  }
  combine(plan, m);
}

}  // namespace

vector_d singular_values(matrix_d a) {
  if (a.size() == 0) return {};
  matrix_d w, u, vt;  // u and vt stay unused: LAPACK forms neither factor
  if (dlib::lapack::gesvd('N', 'N', a, w, u, vt) != 0) return vector_d(static_cast<std::size_t>(w.size()), NAN);
  vector_d s(w.begin(), w.end());
  std::sort(s.begin(), s.end(), std::greater<>());
  return s;
}

std::size_t basis_limit(std::size_t channels) {
  const std::size_t budget = std::size_t{1} << 20;
  return std::clamp<std::size_t>(channels ? budget / channels : 512, 16, 512);
}

series_reduction::series_reduction(std::size_t channels, const matrix_d& known, std::size_t max_rank)
    : channels_(channels), max_rank_(std::max<std::size_t>(max_rank, 1)) {
  out_.channels = channels;
  const long m = static_cast<long>(channels);
  if (known.nr() > 0) {
    dlib::qr_decomposition<matrix_d> qr(dlib::trans(known));
    known_basis_ = qr.get_q();
    known_r_ = qr.get_r();
  }
  whole_ = max_rank_ >= channels;
  const long block = whole_ ? 1L : static_cast<long>(std::min<std::size_t>(max_rank_, channels));
  block_.set_size(std::max(block, 1L), m);
  u_.set_size(0, 0);
  v_.set_size(m, 0);
  vt_.set_size(0, m);
}

void series_reduction::add(double t, const double* row) {
  const long m = static_cast<long>(channels_);
  out_.t.push_back(t);
  // In locals: kept in the members, each would be stored at every channel.
  double ss = out_.total_ss, largest = out_.largest;
  for (long c = 0; c < m; ++c) {
    ss += row[c] * row[c];
    largest = std::max(largest, std::abs(row[c]));
  }
  out_.total_ss = ss;
  out_.largest = largest;
  const double* rest = row;
  if (known_basis_.nc() > 0) {
    dlib::matrix<double, 0, 1>& d = row_;
    d = dlib::mat(row, m);
    const dlib::matrix<double, 0, 1> g = dlib::trans(known_basis_) * d;
    d -= known_basis_ * g;
    known_part_.insert(known_part_.end(), g.begin(), g.end());
    rest = &d(0);
  }
  if (whole_) {
    rows_.insert(rows_.end(), rest, rest + m);
    return;
  }
  std::copy(rest, rest + m, &block_(static_cast<long>(in_block_), 0));
  if (++in_block_ == static_cast<std::size_t>(block_.nr())) fold();
}

// Folds the first in_block_ rows B of the block into u diag(s) v': with
// P = B v and B - P v' = Re' Qe' (its rows made orthonormal, see
// orthonormal_rows), [old; B] = [u 0; 0 I] K [v Qe]' with
// K = [diag(s) 0; P Re'], whose decomposition gives the new factors. The
// block is worked on in place: it is a few rows as wide as the spectra, and
// a copy of it would be the largest thing the reduction holds.
void series_reduction::fold() {
  if (in_block_ == 0) return;
  const long b = static_cast<long>(in_block_), k = vt_.nr(), n = u_.nr();
  const matrix_d p = take_out_basis(block_, b, vt_);
  matrix_d re;
  orthonormal_rows(block_, b, re);
  matrix_d core = dlib::zeros_matrix<double>(k + b, k + b);
  for (long i = 0; i < k; ++i) core(i, i) = s_[static_cast<std::size_t>(i)];
  if (k > 0) dlib::set_subm(core, dlib::range(k, k + b - 1), dlib::range(0, k - 1)) = p;
  dlib::set_subm(core, dlib::range(k, k + b - 1), dlib::range(k, k + b - 1)) = dlib::trans(re);
  matrix_d cu, cv;
  vector_d cs;
  sorted_svd(core, cu, cs, cv);
  const std::size_t keep = kept(cs, std::min(max_rank_, channels_));
  // What is dropped beyond the rank counts; components at the rounding
  // level of the largest are rounding, not data.
  const double rounding = cs.empty() ? 0 : 1e-14 * cs.front();
  // The rank is at most the channels: beyond them everything is rounding.
  for (std::size_t i = keep; i < std::min(cs.size(), channels_); ++i) {
    out_.discarded_ss += cs[i] > rounding ? cs[i] * cs[i] : 0.0;
  }
  const long kk = static_cast<long>(keep);
  // u = [u cu_top; cu_bottom] and v = v cv_top + Qe cv_bottom, of the kept columns.
  matrix_d u = dlib::zeros_matrix<double>(n + b, kk);
  if (kk > 0) {
    if (n > 0 && k > 0) dlib::set_subm(u, dlib::range(0, n - 1), dlib::range(0, kk - 1)) = u_ * corner(cu, 0, k, kk);
    dlib::set_subm(u, dlib::range(n, n + b - 1), dlib::range(0, kk - 1)) = corner(cu, k, b, kk);
  }
  new_basis(vt_, block_, b, cv, kk, spare_);
  vt_.swap(spare_);
  u_ = std::move(u);
  s_.assign(cs.begin(), cs.begin() + kk);
  in_block_ = 0;
}

// The thin decomposition of the kept rows at once, its components at the
// rounding level of the largest dropped as fold drops them.
void series_reduction::decompose_rows() {
  const long m = static_cast<long>(channels_), n = static_cast<long>(rows_.size()) / std::max(m, 1L);
  if (n == 0) return;
  matrix_d rest = dlib::reshape(dlib::mat(rows_), n, m);
  std::vector<double>().swap(rows_);  // its memory, for the decomposition's
  matrix_d u, v;
  vector_d cs;
  if (n >= m) {
    sorted_svd(rest, u, cs, v);
  } else {
    sorted_svd(dlib::trans(rest), v, cs, u);
  }
  const std::size_t keep = kept(cs, std::min(max_rank_, channels_));
  const double rounding = cs.empty() ? 0 : 1e-14 * cs.front();
  for (std::size_t i = keep; i < std::min(cs.size(), channels_); ++i) {
    out_.discarded_ss += cs[i] > rounding ? cs[i] * cs[i] : 0.0;
  }
  const long kk = static_cast<long>(keep);
  if (kk == u.nc()) {
    u_.swap(u);  // nothing dropped: not copied
    v_.swap(v);
  } else {
    u_ = kk > 0 ? matrix_d(dlib::colm(u, dlib::range(0, kk - 1))) : matrix_d(n, 0);
    v_ = kk > 0 ? matrix_d(dlib::colm(v, dlib::range(0, kk - 1))) : matrix_d(m, 0);
  }
  s_.assign(cs.begin(), cs.begin() + kk);
}

reduced_series series_reduction::finish() {
  if (whole_) {
    decompose_rows();
  } else {
    fold();
    spare_.set_size(0, 0);  // first, so that the basis may take its memory
    v_ = dlib::trans(vt_);
    vt_.set_size(0, 0);
  }
  const long n = static_cast<long>(out_.t.size()), k = v_.nc(), nk = known_basis_.nc();
  // The rest is u_ diagm(s_), scaled where it is.
  for (long c = 0; c < k; ++c) dlib::set_colm(u_, c) = dlib::colm(u_, c) * s_[static_cast<std::size_t>(c)];
  if (nk > 0) {
    const matrix_d known_part = dlib::reshape(dlib::mat(known_part_), n, nk);
    out_.data = dlib::join_rows(known_part, u_);
    out_.basis = dlib::join_rows(known_basis_, v_);
    out_.singular = singular_values(out_.data);
  } else {
    // u_ has orthonormal columns: the singular values of the data are s_.
    out_.data.swap(u_);
    out_.basis.swap(v_);  // megabytes for wide spectra: not copied
    out_.singular = s_;
  }
  out_.known = dlib::zeros_matrix<double>(nk, nk + k);
  if (nk > 0) dlib::set_subm(out_.known, dlib::range(0, nk - 1), dlib::range(0, nk - 1)) = dlib::trans(known_r_);
  // Rounding may leave the discarded sum a hair below 0 or above the whole.
  out_.discarded_ss = std::clamp(out_.discarded_ss, 0.0, out_.total_ss);
  return std::move(out_);
}

}  // namespace kinetics
