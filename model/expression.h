// Values written as expressions of other values: numbers, names, + - * /,
// parentheses, exp and ln, and the temperature forms arrhenius and eyring.
// A small tree, read from text and evaluated with its gradient.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The gas constant (J / (mol K)), Boltzmann's and Planck's constants (SI).
inline constexpr double gas_constant = 8.314462618;
inline constexpr double boltzmann = 1.380649e-23;
inline constexpr double planck = 6.62607015e-34;
// The reference temperature of arrhenius(K, EA) without a third argument.
inline constexpr double default_reference_temperature = 298.15;

enum class expr_op { number, name, add, sub, mul, div, neg, exp, ln, arrhenius, eyring };

// One node; its arguments are earlier nodes of the same tree.
struct expr_node {
  expr_op op = expr_op::number;
  double value = 0;     // of a number
  std::string name;     // of a name
  std::vector<int> args;
};

// The root is the last node; an empty tree is no expression.
struct expression {
  std::vector<expr_node> nodes;
  bool empty() const { return nodes.empty(); }
};

// Reads an expression from text at at, up to the first word that cannot
// continue it (so that "kf = 1  kr = kf / K" reads "1" and then "kf / K").
// Returns an empty string, or the error.
std::string parse_expression(std::string_view text, std::size_t& at, expression& out);

// The names an expression uses, each once, in the order of first use.
std::vector<std::string> expression_names(const expression& e);

// Whether the expression depends on the temperature (arrhenius or eyring).
bool uses_temperature(const expression& e);

// A value with its derivatives by the n variables of a problem.
struct dual {
  double v = 0;
  std::vector<double> d;
};

// The value and gradient of e at temperature t, every name given by leaf
// (a value with its gradient, d of size n).
dual evaluate(const expression& e, double t, std::size_t n, const std::function<dual(const std::string&)>& leaf);

// arrhenius(K, EA, TREF) = K exp(-EA 1000 / R (1/T - 1/TREF)), EA in kJ/mol;
// eyring(DH, DS) = kB T / h exp(DS / R - DH 1000 / (R T)), DH in kJ/mol and
// DS in J/(mol K).
double arrhenius_value(double k_ref, double ea, double t_ref, double t);
double eyring_value(double dh, double ds, double t);
