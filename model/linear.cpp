#include "model/linear.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>

#include "common/lanes.h"

namespace {

using matrix = std::vector<double>;  // row-major, n x n

matrix multiply(const matrix& a, const matrix& b, std::size_t n) {
  matrix c(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t l = 0; l < n; ++l) {
      const double x = a[i * n + l];
      if (x == 0) continue;
      for (std::size_t j = 0; j < n; ++j) c[i * n + j] += x * b[l * n + j];
    }
  }
  return c;
}

double norm_1(const matrix& a, std::size_t n) {
  double top = 0;
  for (std::size_t j = 0; j < n; ++j) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += std::abs(a[i * n + j]);
    top = std::max(top, sum);
  }
  return top;
}

// Adds k times the matrix of step s with rate constant 1 to the block of m
// (width columns) at (row, col): the reactant loses, every product gains.
void add_step(const elementary_step& s, double k, std::size_t width, std::size_t row, std::size_t col, matrix& m) {
  const std::size_t from = static_cast<std::size_t>(s.reactants[0].species);
  m[(row + from) * width + col + from] -= k;
  for (const stoich& p : s.products) {
    const std::size_t to = static_cast<std::size_t>(p.species);
    m[(row + to) * width + col + from] += k * product_amount(p);
  }
}

// The matrix of the concentrations and their sensitivities: K on every
// diagonal block, dK/dk_r below it in the block of a rate constant r.
matrix system_matrix(const network& net, const std::vector<double>& k, const std::vector<int>& wanted) {
  const std::size_t n = static_cast<std::size_t>(net.species), blocks = 1 + wanted.size(), width = n * blocks;
  matrix m(width * width, 0.0);
  for (std::size_t b = 0; b < blocks; ++b) {
    for (std::size_t r = 0; r < net.steps.size(); ++r) add_step(net.steps[r], k[r], width, b * n, b * n, m);
  }
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    const std::size_t p = static_cast<std::size_t>(wanted[w]);
    if (p < net.steps.size()) add_step(net.steps[p], 1.0, width, (w + 1) * n, 0, m);
  }
  return m;
}

void store(const std::vector<double>& y, std::size_t n, std::size_t count, std::size_t i, trajectory& out) {
  for (std::size_t s = 0; s < n; ++s) {
    out.c[i * n + s] = y[s];
    for (std::size_t w = 0; w < count; ++w) out.dc[(i * n + s) * count + w] = y[(w + 1) * n + s];
  }
}

// h with its last 12 bits rounded off (about 12 significant digits kept).
double rounded(double h) {
  if (std::isnormal(h) && h > 0) {
    // The same by the bits: the 13 lowest bits of the significand rounded
    // half away from zero, a carry moving into the exponent.
    std::uint64_t bits = std::bit_cast<std::uint64_t>(h);
    bits = (bits + (std::uint64_t{1} << 12)) & ~((std::uint64_t{1} << 13) - 1);
    return std::bit_cast<double>(bits);
  }
  int exponent = 0;
  const double mantissa = std::frexp(h, &exponent);
  return std::ldexp(std::round(std::ldexp(mantissa, 40)), exponent - 40);
}

// exp(m h), from shared when it holds the same m and h bit for bit; kept
// there when it has room.
matrix exponential_of(const matrix& m, double h, std::size_t width, std::chrono::steady_clock::time_point deadline,
                      exponential_cache* shared) {
  const auto same = [&](const exponential_cache::entry& e) {
    return std::memcmp(&e.h, &h, sizeof h) == 0 && e.system.size() == m.size() &&
           (m.empty() || std::memcmp(e.system.data(), m.data(), m.size() * sizeof(double)) == 0);
  };
  if (shared) {
    const auto at = std::find_if(shared->entries.begin(), shared->entries.end(), same);
    if (at != shared->entries.end()) return at->value;
  }
  matrix mh = m;
  for (double& v : mh) v *= h;
  matrix e = matrix_exponential(mh, width, deadline);
  if (shared && e.size() == width * width && shared->values + 2 * e.size() <= exponential_cache::max_values) {
    shared->values += 2 * e.size();
    shared->entries.push_back({m, h, e});
  }
  return e;
}

// exp(M h) of one gap, and its entries four rows at a time: for every group
// of four rows (the last filled up with zeros), the columns where one of
// them is not zero, with the four entries there. M is block triangular (the
// sensitivities do not act back on the concentrations) and so is its
// exponential, whose zero blocks are exact zeros.
struct gap_matrix {
  matrix dense;
  std::vector<std::uint32_t> group_end;  // one past the last column of each group
  std::vector<std::uint32_t> column;
  std::vector<double> entries;           // four per column of a group
};

gap_matrix gap_of(matrix e, std::size_t width) {
  gap_matrix g{std::move(e), {}, {}, {}};
  if (g.dense.size() != width * width) return g;
  for (std::size_t first = 0; first < width; first += 4) {
    for (std::size_t c = 0; c < width; ++c) {
      double four[4] = {};
      for (std::size_t i = 0; i < 4 && first + i < width; ++i) four[i] = g.dense[(first + i) * width + c];
      if (four[0] == 0 && four[1] == 0 && four[2] == 0 && four[3] == 0) continue;
      g.column.push_back(static_cast<std::uint32_t>(c));
      g.entries.insert(g.entries.end(), four, four + 4);
    }
    g.group_end.push_back(static_cast<std::uint32_t>(g.column.size()));
  }
  return g;
}

// next = e y, four rows at a time: each row's products added in the order
// of the columns, as a loop over one row adds them, leaving out columns
// where all four rows are zero. With every element of y finite, those add
// only zeros, which change no sum: the same bits.
template <class V>
[[gnu::always_inline]] inline void advance_in(const gap_matrix& e, const double* y, double* next, std::size_t width) {
  using four = kinetics::lanes::four<V>;
  for (std::size_t g = 0, k = 0; g < e.group_end.size(); ++g) {
    four sum = four::all(0.0);
    for (; k < e.group_end[g]; ++k) sum += four::load(&e.entries[4 * k]) * four::all(y[e.column[k]]);
    double out[4];
    sum.store(out);
    for (std::size_t i = 0; i < 4 && 4 * g + i < width; ++i) next[4 * g + i] = out[i];
  }
}

KINETICS_AVX void advance_avx(const gap_matrix& e, const double* y, double* next, std::size_t width) {
  advance_in<kinetics::lanes::quad_d>(e, y, next, width);
}

// next = e y. Without finite y every product counts (0 times an infinity is
// NaN), one row at a time.
void advance(const gap_matrix& e, const std::vector<double>& y, std::vector<double>& next) {
  const std::size_t width = y.size();
  if (std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); })) {
    if (kinetics::lanes::with_avx()) return advance_avx(e, y.data(), next.data(), width);
    return advance_in<kinetics::lanes::pair_d>(e, y.data(), next.data(), width);
  }
  for (std::size_t r = 0; r < width; ++r) {
    double sum = 0.0;
    for (std::size_t c = 0; c < width; ++c) sum += e.dense[r * width + c] * y[c];
    next[r] = sum;
  }
}

}  // namespace

bool first_order(const network& net) {
  return std::all_of(net.steps.begin(), net.steps.end(), [](const elementary_step& s) {
    return s.reactants.size() == 1 && s.reactants[0].coefficient == 1;
  });
}

matrix matrix_exponential(const matrix& a, std::size_t n, std::chrono::steady_clock::time_point deadline) {
  // exp(a) = exp(a / 2^s)^(2^s), with the series of a / 2^s summed until
  // its terms no longer change the sum.
  int s = 0;
  const double norm = norm_1(a, n);
  if (!std::isfinite(norm)) return matrix(n * n, NAN);
  if (norm > 0.5) s = static_cast<int>(std::min(2100.0, std::ceil(std::log2(norm) + 1)));
  matrix scaled = a;
  for (double& v : scaled) v = std::ldexp(v, -s);
  matrix sum(n * n, 0.0), term(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) sum[i * n + i] = term[i * n + i] = 1.0;
  const auto late = [deadline] { return std::chrono::steady_clock::now() >= deadline; };
  for (int j = 1; j < 40; ++j) {
    if (late()) return {};
    term = multiply(term, scaled, n);
    for (double& v : term) v /= j;
    for (std::size_t i = 0; i < n * n; ++i) sum[i] += term[i];
    if (norm_1(term, n) <= 1e-18 * norm_1(sum, n)) break;
  }
  for (int i = 0; i < s; ++i) {
    if (late()) return {};
    sum = multiply(sum, sum, n);
  }
  return sum;
}

std::string solve_first_order(const network& net, const std::vector<double>& k, const std::vector<double>& c0,
                              double t0, const std::vector<double>& times, const std::vector<int>& wanted,
                              trajectory& out, std::chrono::steady_clock::time_point deadline,
                              exponential_cache* shared) {
  const std::size_t n = static_cast<std::size_t>(net.species), width = n * (1 + wanted.size());
  const matrix m = system_matrix(net, k, wanted);
  std::vector<double> y(width, 0.0);
  std::copy(c0.begin(), c0.end(), y.begin());
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    const std::size_t p = static_cast<std::size_t>(wanted[w]);
    if (p >= net.steps.size()) y[(w + 1) * n + p - net.steps.size()] = 1.0;
  }
  std::vector<std::size_t> order(times.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (!std::is_sorted(times.begin(), times.end())) {
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
  }
  out.c.assign(times.size() * n, 0.0);
  out.dc.assign(times.size() * n * wanted.size(), 0.0);
  // Gaps that agree to about 12 digits share their matrix: times read from
  // text are evenly spaced only up to rounding.
  std::map<double, gap_matrix> step_of;
  std::vector<double> next(width);
  double t = t0, last_h = NAN;
  auto last = step_of.end();  // the matrix of the gap last_h
  for (std::size_t i : order) {
    const double h = times[i] - t;
    if (h > 0) {
      auto at = h == last_h ? last : step_of.find(rounded(h));
      gap_matrix uncached;
      if (at == step_of.end()) {
        const double key = rounded(h);
        // At most 2^23 entries are kept, each held twice at most, dense
        // and by groups of rows (160 MiB in all); past that, each gap's
        // matrix is made afresh.
        if ((step_of.size() + 1) * width * width <= (std::size_t{1} << 23)) {
          at = step_of.emplace(key, gap_of(exponential_of(m, h, width, deadline, shared), width)).first;
        } else {
          uncached = gap_of(exponential_of(m, h, width, deadline, shared), width);
        }
      }
      const gap_matrix& e = at != step_of.end() ? at->second : uncached;
      if (e.dense.size() != width * width) return "out of time at time " + std::to_string(t);
      last_h = at != step_of.end() ? h : NAN;
      last = at;
      advance(e, y, next);
      y.swap(next);
      t = times[i];
    }
    store(y, n, wanted.size(), i, out);
  }
  for (double v : out.c) {
    if (!std::isfinite(v)) return "the solution is not finite";
  }
  return {};
}
