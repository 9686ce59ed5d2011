#include "engine/experiments.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace kinetics {

namespace {

const named_value& declaration(const mechanism& m, source s) {
  return value_list_of(m, s.kind)[static_cast<std::size_t>(s.index)];
}

// Where fitted value (kind, index) is in p.fitted, or -1.
int position(const problem& p, source s) {
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (kind_of(p.fitted[i].kind) == s.kind && p.fitted[i].index == s.index) return static_cast<int>(i);
  }
  return -1;
}

source lookup(const mechanism& m, int e, const std::string& name) {
  source s;
  find_value(m, e, name, s.kind, s.index);
  return s;
}

double value_at(const values& v, source s) {
  const vector_d& list = s.kind == value_kind::rate        ? v.k
                         : s.kind == value_kind::initial   ? v.c0
                         : s.kind == value_kind::factor    ? v.factors
                         : s.kind == value_kind::parameter ? v.parameters
                                                           : v.starts;
  return list[static_cast<std::size_t>(s.index)];
}

// A value of an experiment with its derivatives by the solver's values x:
// a fitted one, a fixed one, or an expression of others.
dual value_of(const problem& p, const vector_d& x, const values& v, const experiment_link& link, source s) {
  const named_value& d = declaration(p.m, s);
  if (!d.formula.empty()) {
    return evaluate(d.formula, link.temperature, x.size(), [&](const std::string& name) {
      return value_of(p, x, v, link, lookup(p.m, link.block, name));
    });
  }
  dual out{value_at(v, s), vector_d(x.size(), 0.0)};
  if (const int i = position(p, s); i >= 0) out.d[static_cast<std::size_t>(i)] = natural_slope(p, static_cast<std::size_t>(i), x);
  return out;
}

// Every declaration that a value uses, itself included.
void used_by(const mechanism& m, int e, source s, std::set<std::pair<value_kind, int>>& out) {
  if (!out.insert({s.kind, s.index}).second) return;
  for (const std::string& name : expression_names(declaration(m, s).formula)) used_by(m, e, lookup(m, e, name), out);
}

std::vector<source> sources_of(const experiment_link& link) {
  std::vector<source> all = link.k;
  all.insert(all.end(), link.c0.begin(), link.c0.end());
  all.insert(all.end(), link.factors.begin(), link.factors.end());
  if (link.start >= 0) all.push_back({value_kind::start, link.start});
  return all;
}

// The names that are the first argument of an Arrhenius form: rate
// constants at the reference temperature, fitted as ln k.
std::set<std::string> reference_rates(const mechanism& m) {
  std::set<std::string> names;
  for (value_kind kind : {value_kind::rate, value_kind::initial, value_kind::factor, value_kind::parameter}) {
    for (const named_value& v : value_list_of(m, kind)) {
      for (const expr_node& n : v.formula.nodes) {
        const expr_node& first = n.args.empty() ? n : v.formula.nodes[static_cast<std::size_t>(n.args[0])];
        if (n.op == expr_op::arrhenius && first.op == expr_op::name) names.insert(first.name);
      }
    }
  }
  return names;
}

// The values some experiment uses that are neither fixed nor expressions.
std::vector<free_value> fitted_values(const problem& p) {
  std::set<std::pair<value_kind, int>> used;
  for (const problem& part : p.parts) {
    for (source s : sources_of(part.link)) used_by(p.m, part.link.block, s, used);
  }
  const std::set<std::string> references = reference_rates(p.m);
  std::vector<free_value> out;
  for (role kind : {role::rate, role::initial, role::factor, role::parameter, role::start}) {
    const std::vector<named_value>& list = named_list(p.m, kind);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const named_value& v = list[i];
      if (v.fixed || !v.formula.empty() || used.count({kind_of(kind), static_cast<int>(i)}) == 0) continue;
      const bool reference = kind == role::parameter && references.count(v.name) != 0 && v.value > 0;
      out.push_back({reference ? role::reference : kind, static_cast<int>(i)});
    }
  }
  return out;
}

// Whether a value of an experiment depends on a fitted value.
bool varies(const problem& p, const experiment_link& link, source s) {
  std::set<std::pair<value_kind, int>> used;
  used_by(p.m, link.block, s, used);
  return std::any_of(used.begin(), used.end(), [&](const auto& u) { return position(p, {u.first, u.second}) >= 0; });
}

// The values of a part that vary: its fitted values, in their order.
void part_fitted(const problem& p, problem& part) {
  part.fitted.clear();
  const experiment_link& link = part.link;
  for (std::size_t r = 0; r < link.k.size(); ++r) {
    if (varies(p, link, link.k[r])) part.fitted.push_back({role::rate, static_cast<int>(r)});
  }
  for (std::size_t s = 0; s < link.c0.size(); ++s) {
    if (varies(p, link, link.c0[s])) part.fitted.push_back({role::initial, static_cast<int>(s)});
  }
  for (std::size_t f = 0; f < link.factors.size(); ++f) {
    if (varies(p, link, link.factors[f])) part.fitted.push_back({role::factor, static_cast<int>(f)});
  }
}

// The column lines of experiment e, their factors as the experiment sees
// them, numbered anew.
void view_columns(const mechanism& m, int e, mechanism& view, experiment_link& link) {
  const block* b = e >= 0 ? &m.blocks[static_cast<std::size_t>(e)] : nullptr;
  view.columns = b != nullptr && !b->columns.empty() ? b->columns : m.columns;
  for (column_model& col : view.columns) {
    for (column_term& t : col.terms) {
      if (t.factor < 0) continue;
      const source s = lookup(m, e, m.factors[static_cast<std::size_t>(t.factor)].name);
      const auto at = std::find_if(link.factors.begin(), link.factors.end(),
                                   [&](source f) { return f.index == s.index; });
      t.factor = static_cast<int>(at - link.factors.begin());
      if (at == link.factors.end()) {
        link.factors.push_back(s);
        view.factors.push_back(declaration(m, s));
      }
    }
  }
}

// The slopes dc/dt of every species at every row after the start time (0
// before it), times -1: the derivatives of the concentrations by the start
// time, for a network whose rates do not depend on the time.
trajectory start_slopes(const problem& part, const values& pv, const trajectory& c, double t0) {
  const std::size_t species = part.m.species.size();
  trajectory out;
  out.c.assign(c.c.size(), 0.0);
  for (std::size_t i = 0; i < part.data.t.size(); ++i) {
    if (!(part.data.t[i] > t0)) continue;
    const double* at = &c.c[i * species];
    for (std::size_t r = 0; r < part.m.net.steps.size(); ++r) {
      const elementary_step& step = part.m.net.steps[r];
      double rate = pv.k[r];
      for (const stoich& x : step.reactants) rate *= std::pow(at[x.species], x.coefficient);
      for (const stoich& x : step.reactants) out.c[i * species + static_cast<std::size_t>(x.species)] += x.coefficient * rate;
      for (const stoich& x : step.products) out.c[i * species + static_cast<std::size_t>(x.species)] -= product_amount(x) * rate;
    }
  }
  return out;
}

// The values of part e with their derivatives by x: rows of g follow the
// part's fitted values; the start time's in g_start.
values part_duals(const problem& p, const problem& part, const vector_d& x, matrix_d& g, vector_d& g_start) {
  const values v = from_solver(p, x);
  const experiment_link& link = part.link;
  values pv;
  std::vector<dual> k, c0, f;
  for (source s : link.k) pv.k.push_back((k.emplace_back(value_of(p, x, v, link, s))).v);
  for (source s : link.c0) pv.c0.push_back((c0.emplace_back(value_of(p, x, v, link, s))).v);
  for (source s : link.factors) pv.factors.push_back((f.emplace_back(value_of(p, x, v, link, s))).v);
  const dual start = link.start >= 0 ? value_of(p, x, v, link, {value_kind::start, link.start})
                                     : dual{part.m.start, vector_d(x.size(), 0.0)};
  pv.starts = {start.v};
  g_start = start.d;
  g.set_size(static_cast<long>(part.fitted.size()), static_cast<long>(x.size()));
  for (std::size_t i = 0; i < part.fitted.size(); ++i) {
    const free_value& fv = part.fitted[i];
    const std::vector<dual>& list = fv.kind == role::rate ? k : fv.kind == role::initial ? c0 : f;
    for (std::size_t j = 0; j < x.size(); ++j) g(static_cast<long>(i), static_cast<long>(j)) = list[static_cast<std::size_t>(fv.index)].d[j];
  }
  return pv;
}

std::string solve_part(const problem& part, const values& pv, const std::vector<int>& wanted, trajectory& out,
                       exponential_cache* shared = nullptr) {
  const double t0 = pv.starts.front();
  vector_d times = part.data.t;
  for (double& t : times) t = std::max(t, t0);
  tolerance tol = part.solver;
  tol.shared = shared;
  return solve(part.m.net, pv.k, pv.c0, t0, times, wanted, out, tol);
}

// One part's residuals into r from row at, and their derivatives into j;
// its matrix exponentials shared with the other parts.
std::string add_part(const problem& p, const problem& part, const vector_d& x, bool jacobian, std::size_t at,
                     vector_d& r, matrix_d& j, exponential_cache& shared) {
  matrix_d g;
  vector_d g_start;
  const values pv = part_duals(p, part, x, g, g_start);
  trajectory c;
  const std::vector<int> wanted = jacobian ? sensitivity_parameters(part) : std::vector<int>{};
  if (std::string error = solve_part(part, pv, wanted, c, &shared); !error.empty()) return error;
  vector_d rp;
  matrix_d jp;
  if (std::string error = part.model.evaluate(part, pv, c, jacobian, rp, jp); !error.empty()) return error;
  std::copy(rp.begin(), rp.end(), r.begin() + static_cast<long>(at));
  if (!jacobian) return {};
  const long rows = static_cast<long>(rp.size()), n = static_cast<long>(x.size());
  matrix_d block = part.fitted.empty() ? matrix_d(dlib::zeros_matrix<double>(rows, n)) : matrix_d(jp * g);
  if (std::any_of(g_start.begin(), g_start.end(), [](double d) { return d != 0; })) {
    const trajectory slope = start_slopes(part, pv, c, pv.starts.front());
    const std::size_t t_rows = part.data.t.size();
    for (std::size_t row = 0; row < rp.size(); ++row) {
      const std::size_t col = row / t_rows, i = row % t_rows;
      const double weight = part.weight.empty() ? 1.0 : part.weight[row];
      const double d = column_value(part, pv, slope, col, i) * weight;
      for (long f = 0; f < n; ++f) block(static_cast<long>(row), f) += d * g_start[static_cast<std::size_t>(f)];
    }
  }
  dlib::set_subm(j, static_cast<long>(at), 0, rows, n) = block;
  return {};
}

}  // namespace

bool needs_parts(const mechanism& m) {
  const auto linked = [](const std::vector<named_value>& list) {
    return std::any_of(list.begin(), list.end(), [](const named_value& v) { return !v.formula.empty(); });
  };
  return !m.blocks.empty() || !m.parameters.empty() || !m.starts.empty() || m.temperature_line != 0 ||
         linked(m.rates) || linked(m.initials) || linked(m.factors);
}

mechanism experiment_view(const mechanism& m, int e, experiment_link& link) {
  mechanism view;
  view.file = m.file, view.species = m.species, view.net = m.net, view.lines = m.lines;
  link = experiment_link{};
  link.block = e;
  for (std::size_t r = 0; r < m.steps(); ++r) {
    link.k.push_back(lookup(m, e, m.rates[r].name));
    view.rates.push_back(declaration(m, link.k.back()));
  }
  for (const std::string& s : m.species) {
    link.c0.push_back(lookup(m, e, s));
    view.initials.push_back(declaration(m, link.c0.back()));
  }
  view_columns(m, e, view, link);
  const block* b = e >= 0 ? &m.blocks[static_cast<std::size_t>(e)] : nullptr;
  view.data = b ? b->data : m.data;
  view.data_line = b ? b->data_line : m.data_line;
  view.sigma = b ? b->sigma : m.sigma;
  view.sigma_line = b ? b->sigma_line : m.sigma_line;
  view.start = b ? b->start : m.start;
  view.series = b ? b->series : m.series;
  link.start = b ? b->start_value : m.start_value;
  if (link.start >= 0) {
    view.starts = {m.starts[static_cast<std::size_t>(link.start)]};
    view.start_value = 0;
    view.start = view.starts[0].value;
  }
  link.temperature = b ? b->temperature : m.temperature;
  view.temperature = link.temperature;
  view.temperature_line = b ? b->temperature_line : m.temperature_line;
  return view;
}

problem make_experiments(mechanism m, std::vector<measured> data, std::vector<vector_d> weights) {
  problem p{std::move(m), {}, {}, {}, {}};
  const std::vector<int> blocks = experiments_of(p.m);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    experiment_link link;
    mechanism view = experiment_view(p.m, blocks[i], link);
    problem& part = p.parts.emplace_back(make_problem(std::move(view), std::move(data[i])));
    part.link = link;
    part.weight = std::move(weights[i]);
    p.weight.insert(p.weight.end(), part.weight.begin(), part.weight.end());
  }
  p.fitted = fitted_values(p);
  for (problem& part : p.parts) part_fitted(p, part);
  for (role kind : {role::rate, role::initial, role::factor, role::parameter, role::start}) {
    for (const named_value& v : named_list(p.m, kind)) value_list(p.base, kind).push_back(v.value);
  }
  return p;
}

values part_values(const problem& p, std::size_t e, const values& v) {
  const problem& part = p.parts[e];
  const vector_d x = to_solver(p, v);
  matrix_d g;
  vector_d g_start;
  return part_duals(p, part, x, g, g_start);
}

std::string part_concentrations(const problem& part, const values& pv, trajectory& out) {
  return solve_part(part, pv, {}, out);
}

namespace {

// Part e's concentrations after those of the parts before it in out, with
// their derivatives by x: the part's sensitivities through g, and the
// start time's slopes through g_start.
std::string stack_part(const problem& p, const problem& part, const vector_d& x, bool jacobian, trajectory& out) {
  matrix_d g;
  vector_d g_start;
  const values pv = part_duals(p, part, x, g, g_start);
  trajectory c;
  const std::vector<int> wanted = jacobian ? sensitivity_parameters(part) : std::vector<int>{};
  if (std::string error = solve_part(part, pv, wanted, c); !error.empty()) return error;
  out.c.insert(out.c.end(), c.c.begin(), c.c.end());
  if (!jacobian) return {};
  const std::size_t n = x.size(), w = wanted.size();
  const bool moves = std::any_of(g_start.begin(), g_start.end(), [](double d) { return d != 0; });
  const trajectory slope = moves ? start_slopes(part, pv, c, pv.starts.front()) : trajectory{};
  std::vector<double> by_value(n * w);  // g column after column, read along its columns below
  for (std::size_t f = 0; f < n; ++f) {
    for (std::size_t i = 0; i < w; ++i) by_value[f * w + i] = g(static_cast<long>(i), static_cast<long>(f));
  }
  const std::size_t first = out.dc.size();
  out.dc.resize(first + c.c.size() * n);
  double* to = out.dc.data() + first;
  for (std::size_t at = 0; at < c.c.size(); ++at) {
    const double* dc = &c.dc[at * w];
    for (std::size_t f = 0; f < n; ++f) {
      double d = moves ? slope.c[at] * g_start[f] : 0.0;
      const double* gf = &by_value[f * w];
      for (std::size_t i = 0; i < w; ++i) d += dc[i] * gf[i];
      *to++ = d;
    }
  }
  return {};
}

}  // namespace

std::string stacked_concentrations(const problem& p, const vector_d& x, bool jacobian, trajectory& out) {
  out = trajectory{};
  std::size_t rows = 0;
  for (const problem& part : p.parts) rows += part.data.t.size();
  out.c.reserve(rows * p.m.species.size());
  if (jacobian) out.dc.reserve(rows * p.m.species.size() * x.size());
  for (const problem& part : p.parts) {
    if (std::string error = stack_part(p, part, x, jacobian, out); !error.empty()) return error;
  }
  return {};
}

std::string experiment_residuals(const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
  r.assign(residual_count(p), 0.0);
  // Every part writes its whole block of rows.
  if (jacobian) j.set_size(static_cast<long>(r.size()), static_cast<long>(x.size()));
  std::size_t at = 0;
  exponential_cache shared;
  for (const problem& part : p.parts) {
    if (std::string error = add_part(p, part, x, jacobian, at, r, j, shared); !error.empty()) return error;
    at += residual_count(part);
  }
  return {};
}

double part_rate_at(const problem& p, const fit_result& r, std::size_t e, std::size_t step, double temperature) {
  experiment_link link = p.parts[e].link;
  link.temperature = temperature;
  return value_of(p, r.x, r.best, link, link.k[step]).v;
}

bool rate_uses_temperature(const problem& p, std::size_t e, std::size_t step) {
  const experiment_link& link = p.parts[e].link;
  std::set<std::pair<value_kind, int>> used;
  used_by(p.m, link.block, link.k[step], used);
  return std::any_of(used.begin(), used.end(), [&](const auto& u) {
    return uses_temperature(declaration(p.m, {u.first, u.second}).formula);
  });
}

estimate part_rate(const problem& p, const fit_result& r, std::size_t e, std::size_t step) {
  const experiment_link& link = p.parts[e].link;
  const dual k = value_of(p, r.x, r.best, link, link.k[step]);
  const std::size_t n = r.x.size();
  double variance = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const double si = r.estimates[i].se / natural_slope(p, i, r.x), sj = r.estimates[j].se / natural_slope(p, j, r.x);
      variance += k.d[i] * k.d[j] * r.correlation(static_cast<long>(i), static_cast<long>(j)) * si * sj;
    }
  }
  estimate out;
  out.value = k.v;
  out.se = std::sqrt(variance);
  out.t_low = k.v - r.t_quantile * out.se;
  out.t_high = k.v + r.t_quantile * out.se;
  return out;
}

}  // namespace kinetics
