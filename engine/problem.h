// A mechanism with its data as a least-squares problem: which values are
// fitted, the vector the solver varies, and the residuals with their
// derivatives.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/lm.h"
#include "engine/measured.h"
#include "model/kinetics.h"
#include "model/mechanism.h"

namespace kinetics {

// A rate constant, initial concentration or response factor; a value that
// only expressions use (parameter, or reference: the rate constant at the
// reference temperature of an Arrhenius form, fitted as ln k like a rate
// constant); a start time.
enum class role { rate, initial, factor, parameter, reference, start };

// Whether a value of this role is a rate constant, fitted as ln k.
constexpr bool is_rate(role kind) { return kind == role::rate || kind == role::reference; }

// The list of the mechanism that holds the values of a role.
value_kind kind_of(role kind);

// A fitted value: which rate constant, initial concentration, response
// factor, parameter or start time of the mechanism.
struct free_value {
  role kind;
  int index;
};

// Every value of a mechanism, by role and index.
struct values {
  vector_d k;
  vector_d c0;
  vector_d factors;
  vector_d parameters = {};  // values that only expressions use
  vector_d starts = {};      // named start times
};

// Where each value of one experiment comes from in a problem of several
// (see experiments.h): the declaration it uses, by list and index.
struct source {
  value_kind kind = value_kind::rate;
  int index = -1;
};
struct experiment_link {
  int block = -1;              // the experiment's block in the mechanism; -1 for a file without
  double temperature = 0;      // kelvin, when the experiment has one
  std::vector<source> k, c0, factors;  // per step, species and response factor of the experiment's mechanism
  int start = -1;              // a named start time (index into mechanism::starts), or -1
};

struct problem;

// What the residuals are made of: from the values and the concentrations at
// the problem's times (with, when a Jacobian is asked for, the
// sensitivities of sensitivity_parameters(p)), the weighted residuals model
// minus measured and their derivatives by every fitted value in its natural
// terms (the solver's chain rule is applied after). The column lines of a
// data table are one kind; the whole matrix of a spectral series plugs in
// beside it as another record of these two functions.
struct residual_model {
  std::function<std::size_t(const problem& p)> count;
  std::function<std::string(const problem& p, const values& v, const trajectory& c, bool jacobian, vector_d& r,
                            matrix_d& j)>
      evaluate;
  // A model whose residuals stand for more measured values than they are
  // (a spectral series reduced to its basis) says how many they stand for,
  // how many linear values it eliminates inside evaluate (they count as
  // fitted values all the same), and the largest measured magnitude, for
  // the rounding floor. 0: a point per residual, nothing eliminated, the
  // data table's values.
  std::size_t points = 0;
  std::size_t eliminated = 0;
  double largest = 0;
  // Of a problem of parts whose residuals cannot be had part by part (one
  // series of spectra shared by every experiment): every residual and its
  // derivatives by the solver's values x at once. count then gives their
  // number. Empty: the parts' residuals come part after part.
  std::function<std::string(const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j)> whole = {};
};

// Every column line of the mechanism against its column of the data table,
// column line after column line, each point times its weight.
residual_model column_lines();

struct problem {
  mechanism m;
  measured data;
  std::vector<free_value> fitted;  // rate constants first, then initial concentrations, then factors
  values base;                     // the file's values; the fitted ones are replaced by the solver's
  vector_d weight;                 // 1 / sigma of every residual, in their order; empty: all 1
  residual_model model = column_lines();
  tolerance solver = {};             // how the model is integrated: tolerances, steps and time allowed
  // A problem of several experiments, or of one with linked values, named
  // start times or temperatures: every experiment is a problem of its own
  // (its mechanism with its columns, data and start, fitted = those of its
  // values that depend on fitted ones), whose values follow from this
  // problem's fitted values through its link. Its residuals come
  // experiment after experiment. Empty: this problem is one data table.
  std::vector<problem> parts = {};
  experiment_link link = {};  // of a part
};

// The list of a mechanism (rates, initials, factors) or of a values record
// (k, c0, factors) that holds the values of a role.
template <class Mechanism>
auto& named_list(Mechanism& m, role kind) {
  switch (kind) {
    case role::rate: return m.rates;
    case role::initial: return m.initials;
    case role::factor: return m.factors;
    case role::parameter:
    case role::reference: return m.parameters;
    case role::start: break;
  }
  return m.starts;
}
template <class Values>
auto& value_list(Values& v, role kind) {
  switch (kind) {
    case role::rate: return v.k;
    case role::initial: return v.c0;
    case role::factor: return v.factors;
    case role::parameter:
    case role::reference: return v.parameters;
    case role::start: break;
  }
  return v.starts;
}

// The problem of a mechanism and its data: every value not marked fixed is
// fitted.
problem make_problem(mechanism m, measured data);

// The name, and the value in base, of fitted value i.
const named_value& describe(const problem& p, std::size_t i);

// The name of fitted value i in reports: a rate constant or factor by its
// own name, an initial concentration as [SPECIES]0.
std::string value_name(const problem& p, std::size_t i);

// The solver works on ln k for a rate constant (so that it stays positive)
// and on the value itself otherwise; these three are the only place that
// says so. The solver's value of a natural one, the natural value of a
// solver's one, and the derivative of the natural value by the solver's.
double to_solver_value(role kind, double natural);
double to_natural_value(role kind, double x);
double natural_slope(role kind, double x);

vector_d to_solver(const problem& p, const values& v);
values from_solver(const problem& p, const vector_d& x);

// The value of fitted value i in the mechanism's own terms, and its
// derivative by the solver's value.
double natural(const problem& p, std::size_t i, const vector_d& x);
double natural_slope(const problem& p, std::size_t i, const vector_d& x);

// Number of residuals.
std::size_t residual_count(const problem& p);

// Number of missing cells (NaN in the measured values): their residuals
// are 0 and count out of the points.
std::size_t missing_points(const problem& p);

// The parameters of the integration (see model/kinetics.h) whose
// sensitivities the residuals' derivatives need: the fitted rate constants
// and initial concentrations, in the order of p.fitted.
std::vector<int> sensitivity_parameters(const problem& p);

// The model's value of column line j at row i from the concentrations.
double column_value(const problem& p, const values& v, const trajectory& c, std::size_t j, std::size_t i);

// The residuals of p's residual model at the solver's values x, and with
// jacobian their derivatives with respect to x. Returns an empty string or
// why the model has no value there.
std::string residuals(const problem& p, const vector_d& x, bool jacobian, vector_d& r, matrix_d& j);

// The concentrations of every species at the data's times for v.
std::string concentrations(const problem& p, const values& v, trajectory& out);

// Weighs every residual by 1 / sigma of its point and column line.
void weigh(problem& p, const std::vector<std::vector<double>>& sigma);

}  // namespace kinetics
