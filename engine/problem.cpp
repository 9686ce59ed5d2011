#include "engine/problem.h"

#include "engine/experiments.h"

#include <algorithm>
#include <cmath>

namespace kinetics {

namespace {

vector_d values_of(const std::vector<named_value>& named) {
  vector_d v;
  for (const named_value& n : named) v.push_back(n.value);
  return v;
}

void add_free(const std::vector<named_value>& named, role kind, std::vector<free_value>& out) {
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (!named[i].fixed) out.push_back({kind, static_cast<int>(i)});
  }
}

// The factor of a term of a column line: its number times its factor's value.
double term_scale(const column_term& term, const values& v) {
  return term.number * (term.factor >= 0 ? v.factors[static_cast<std::size_t>(term.factor)] : 1.0);
}

// d(column line j at row i) / d(fitted value col), in its natural terms.
double derivative(const problem& p, const values& v, const trajectory& c, std::size_t j, std::size_t i,
                  std::size_t col, std::size_t w, std::size_t wanted) {
  const free_value& f = p.fitted[col];
  const std::size_t species = p.m.species.size();
  double d = 0;
  for (const column_term& term : p.m.columns[j].terms) {
    const std::size_t at = i * species + static_cast<std::size_t>(term.species);
    if (f.kind == role::factor) {
      if (term.factor == f.index) d += term.number * c.c[at];
    } else {
      d += term_scale(term, v) * c.dc[at * wanted + w];
    }
  }
  return d;
}

}  // namespace

problem make_problem(mechanism m, measured data) {
  problem p{std::move(m), std::move(data), {}, {}, {}, column_lines(), {}};
  add_free(p.m.rates, role::rate, p.fitted);
  add_free(p.m.initials, role::initial, p.fitted);
  add_free(p.m.factors, role::factor, p.fitted);
  p.base = {values_of(p.m.rates), values_of(p.m.initials), values_of(p.m.factors), {}, {}};
  return p;
}

const named_value& describe(const problem& p, std::size_t i) {
  const free_value& f = p.fitted[i];
  return named_list(p.m, f.kind)[static_cast<std::size_t>(f.index)];
}

value_kind kind_of(role kind) {
  switch (kind) {
    case role::rate: return value_kind::rate;
    case role::initial: return value_kind::initial;
    case role::factor: return value_kind::factor;
    case role::parameter:
    case role::reference: return value_kind::parameter;
    case role::start: break;
  }
  return value_kind::start;
}

std::string value_name(const problem& p, std::size_t i) {
  const named_value& v = describe(p, i);
  const std::string name = p.fitted[i].kind == role::initial ? "[" + v.name + "]0" : v.name;
  return v.scope < 0 ? name : name + "@" + p.m.blocks[static_cast<std::size_t>(v.scope)].name;
}

double to_solver_value(role kind, double natural) { return is_rate(kind) ? std::log(natural) : natural; }
double to_natural_value(role kind, double x) { return is_rate(kind) ? std::exp(x) : x; }
double natural_slope(role kind, double x) { return is_rate(kind) ? std::exp(x) : 1.0; }

vector_d to_solver(const problem& p, const values& v) {
  vector_d x;
  for (const free_value& f : p.fitted) {
    x.push_back(to_solver_value(f.kind, value_list(v, f.kind)[static_cast<std::size_t>(f.index)]));
  }
  return x;
}

values from_solver(const problem& p, const vector_d& x) {
  values v = p.base;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    value_list(v, p.fitted[i].kind)[static_cast<std::size_t>(p.fitted[i].index)] = natural(p, i, x);
  }
  return v;
}

double natural(const problem& p, std::size_t i, const vector_d& x) { return to_natural_value(p.fitted[i].kind, x[i]); }
double natural_slope(const problem& p, std::size_t i, const vector_d& x) {
  return natural_slope(p.fitted[i].kind, x[i]);
}

std::size_t missing_points(const problem& p) {
  std::size_t n = 0;
  for (const problem& part : p.parts) n += missing_points(part);
  for (const vector_d& column : p.data.y) n += static_cast<std::size_t>(std::count_if(column.begin(), column.end(), [](double y) { return std::isnan(y); }));
  return n;
}

std::size_t residual_count(const problem& p) {
  if (p.parts.empty() || p.model.whole) return p.model.count(p);
  std::size_t n = 0;
  for (const problem& part : p.parts) n += residual_count(part);
  return n;
}

double column_value(const problem& p, const values& v, const trajectory& c, std::size_t j, std::size_t i) {
  const std::size_t species = p.m.species.size();
  double sum = 0;
  for (const column_term& term : p.m.columns[j].terms) {
    sum += term_scale(term, v) * c.c[i * species + static_cast<std::size_t>(term.species)];
  }
  return sum;
}

std::string concentrations(const problem& p, const values& v, trajectory& out) {
  if (!v.starts.empty()) return part_concentrations(p, v, out);
  return solve(p.m.net, v.k, v.c0, p.m.start, p.data.t, {}, out, p.solver);
}

namespace {

std::string column_residuals(const problem& p, const values& v, const trajectory& c, bool jacobian, vector_d& r,
                             matrix_d& j) {
  const std::size_t rows = p.data.t.size(), wanted = jacobian ? sensitivity_parameters(p).size() : 0;
  r.assign(residual_count(p), 0.0);
  if (jacobian) j.set_size(static_cast<long>(r.size()), static_cast<long>(p.fitted.size()));
  for (std::size_t col = 0; col < p.m.columns.size(); ++col) {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t at = col * rows + i;
      if (std::isnan(p.data.y[col][i])) {  // a missing cell: no residual
        for (long f = 0; jacobian && f < j.nc(); ++f) j(static_cast<long>(at), f) = 0;
        continue;
      }
      const double weight = p.weight.empty() ? 1.0 : p.weight[at];
      r[at] = (column_value(p, v, c, col, i) - p.data.y[col][i]) * weight;
      if (!std::isfinite(r[at])) return "the model is not finite at row " + std::to_string(i);
      if (!jacobian) continue;
      std::size_t w = 0;
      for (std::size_t f = 0; f < p.fitted.size(); ++f) {
        j(static_cast<long>(at), static_cast<long>(f)) = derivative(p, v, c, col, i, f, w, wanted) * weight;
        if (p.fitted[f].kind != role::factor) ++w;
      }
    }
  }
  return {};
}

}  // namespace

residual_model column_lines() {
  return {[](const problem& p) { return p.m.columns.size() * p.data.t.size(); }, column_residuals};
}

std::vector<int> sensitivity_parameters(const problem& p) {
  std::vector<int> wanted;
  const int steps = static_cast<int>(p.m.net.steps.size());
  for (const free_value& f : p.fitted) {
    if (f.kind == role::rate) wanted.push_back(f.index);
    if (f.kind == role::initial) wanted.push_back(steps + f.index);
  }
  return wanted;
}

std::string residuals(const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
  if (!p.parts.empty() && p.model.whole) return p.model.whole(p, x, jacobian, r, j);
  if (!p.parts.empty()) return experiment_residuals(p, x, jacobian, r, j);
  const values v = from_solver(p, x);
  const std::vector<int> wanted = jacobian ? sensitivity_parameters(p) : std::vector<int>{};
  trajectory c;
  if (std::string error = solve(p.m.net, v.k, v.c0, p.m.start, p.data.t, wanted, c, p.solver); !error.empty()) {
    return error;
  }
  if (std::string error = p.model.evaluate(p, v, c, jacobian, r, j); !error.empty()) return error;
  for (long f = 0; jacobian && f < j.nc(); ++f) {
    const double slope = natural_slope(p, static_cast<std::size_t>(f), x);
    if (slope != 1) dlib::set_colm(j, f) = dlib::colm(j, f) * slope;
  }
  return {};
}

void weigh(problem& p, const std::vector<std::vector<double>>& sigma) {
  p.weight.clear();
  for (const auto& column : sigma) {
    for (double s : column) p.weight.push_back(1 / s);
  }
}

}  // namespace kinetics
