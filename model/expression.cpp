#include "model/expression.h"

#include <algorithm>
#include <cmath>

#include "common/numparse.h"

namespace {

constexpr bool is_blank(char c) { return c != '\n' && numparse::is_space(c); }
constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_name_char(char c) { return is_letter(c) || (c >= '0' && c <= '9') || c == '_'; }

struct function_form {
  std::string_view name;
  expr_op op;
  std::size_t least, most;  // arguments
};
constexpr function_form functions[] = {
    {"exp", expr_op::exp, 1, 1},
    {"ln", expr_op::ln, 1, 1},
    {"arrhenius", expr_op::arrhenius, 2, 3},
    {"eyring", expr_op::eyring, 2, 2},
};

// Recursive descent over sum, product, sign and primary.
struct reader {
  std::string_view text;
  std::size_t at;
  expression& out;

  char peek() {
    while (at < text.size() && is_blank(text[at])) ++at;
    return at < text.size() ? text[at] : '\0';
  }
  std::string found() {
    if (peek() == '\0') return "found the end of the line";
    std::size_t e = at;
    while (e < text.size() && !is_blank(text[e])) ++e;
    return "found \"" + std::string(text.substr(at, e - at)) + "\"";
  }
  int add(expr_node node) {
    out.nodes.push_back(std::move(node));
    return static_cast<int>(out.nodes.size()) - 1;
  }

  // One level of left-associative operators a and b over the level next.
  std::string chain(int& node, std::string (reader::*next)(int&), char a, expr_op op_a, char b, expr_op op_b) {
    if (std::string e = (this->*next)(node); !e.empty()) return e;
    for (char c = peek(); c == a || c == b; c = peek()) {
      ++at;
      int right = 0;
      if (std::string e = (this->*next)(right); !e.empty()) return e;
      node = add({c == a ? op_a : op_b, 0, {}, {node, right}});
    }
    return {};
  }
  std::string sum(int& node) { return chain(node, &reader::product, '+', expr_op::add, '-', expr_op::sub); }
  std::string product(int& node) { return chain(node, &reader::sign, '*', expr_op::mul, '/', expr_op::div); }
  std::string sign(int& node) {
    if (peek() != '-') return primary(node);
    ++at;
    int inner = 0;
    if (std::string e = sign(inner); !e.empty()) return e;
    node = add({expr_op::neg, 0, {}, {inner}});
    return {};
  }
  std::string number(int& node) {
    const char* first = text.data() + at;
    const char* p = first;
    double v = 0;
    if (!numparse::scan_double(p, text.data() + text.size(), v) || (p < text.data() + text.size() && is_name_char(*p)))
      return found() + ", not a number";
    at += static_cast<std::size_t>(p - first);
    node = add({expr_op::number, v, {}, {}});
    return {};
  }
  std::string call(const function_form& f, int& node) {
    ++at;  // "("
    expr_node n{f.op, 0, {}, {}};
    do {
      int arg = 0;
      if (std::string e = sum(arg); !e.empty()) return e;
      n.args.push_back(arg);
    } while (peek() == ',' && ++at);
    if (peek() != ')') return "expected \")\", " + found();
    ++at;
    if (n.args.size() < f.least || n.args.size() > f.most) {
      return std::string(f.name) + " takes " + std::to_string(f.least) +
             (f.least == f.most ? "" : " or " + std::to_string(f.most)) + " arguments, found " +
             std::to_string(n.args.size());
    }
    node = add(std::move(n));
    return {};
  }
  std::string primary(int& node) {
    const char c = peek();
    if (c == '(') {
      ++at;
      if (std::string e = sum(node); !e.empty()) return e;
      if (peek() != ')') return "expected \")\", " + found();
      ++at;
      return {};
    }
    if (!is_letter(c)) return (c >= '0' && c <= '9') || c == '.' ? number(node) : "expected a value, " + found();
    std::size_t e = at;
    while (e < text.size() && is_name_char(text[e])) ++e;
    const std::string_view name = text.substr(at, e - at);
    at = e;
    for (const function_form& f : functions) {
      if (f.name == name && peek() == '(') return call(f, node);
    }
    node = add({expr_op::name, 0, std::string(name), {}});
    return {};
  }
};

}  // namespace

std::string parse_expression(std::string_view text, std::size_t& at, expression& out) {
  out = expression{};
  reader r{text, at, out};
  int root = 0;
  if (std::string e = r.sum(root); !e.empty()) return e;
  at = r.at;
  return {};
}

std::vector<std::string> expression_names(const expression& e) {
  std::vector<std::string> names;
  for (const expr_node& n : e.nodes) {
    if (n.op == expr_op::name && std::find(names.begin(), names.end(), n.name) == names.end()) names.push_back(n.name);
  }
  return names;
}

bool uses_temperature(const expression& e) {
  return std::any_of(e.nodes.begin(), e.nodes.end(), [](const expr_node& n) {
    return n.op == expr_op::arrhenius || n.op == expr_op::eyring;
  });
}

double arrhenius_value(double k_ref, double ea, double t_ref, double t) {
  return k_ref * std::exp(-ea * 1000 / gas_constant * (1 / t - 1 / t_ref));
}

double eyring_value(double dh, double ds, double t) {
  return boltzmann * t / planck * std::exp(ds / gas_constant - dh * 1000 / (gas_constant * t));
}

namespace {

// a * x + b * y, value and gradient.
dual combine(double a, const dual& x, double b, const dual& y, double value) {
  dual out{value, std::vector<double>(x.d.size())};
  for (std::size_t i = 0; i < out.d.size(); ++i) out.d[i] = a * x.d[i] + (b != 0 ? b * y.d[i] : 0.0);
  return out;
}

dual scaled(double a, const dual& x, double value) { return combine(a, x, 0, x, value); }

// The temperature forms: value and its derivatives by each argument.
dual temperature_form(const expr_node& n, const std::vector<dual>& at, double t) {
  const dual& a = at[static_cast<std::size_t>(n.args[0])];
  const dual& b = at[static_cast<std::size_t>(n.args[1])];
  if (n.op == expr_op::eyring) {
    const double k = eyring_value(a.v, b.v, t);
    return combine(-k * 1000 / (gas_constant * t), a, k / gas_constant, b, k);
  }
  const dual tref = n.args.size() > 2 ? at[static_cast<std::size_t>(n.args[2])]
                                      : dual{default_reference_temperature, std::vector<double>(a.d.size())};
  const double k = arrhenius_value(a.v, b.v, tref.v, t), c = 1000 / gas_constant;
  dual out = combine(k / a.v, a, -k * c * (1 / t - 1 / tref.v), b, k);
  for (std::size_t i = 0; i < out.d.size(); ++i) out.d[i] -= k * c * b.v / (tref.v * tref.v) * tref.d[i];
  return out;
}

}  // namespace

dual evaluate(const expression& e, double t, std::size_t n, const std::function<dual(const std::string&)>& leaf) {
  std::vector<dual> at(e.nodes.size());
  for (std::size_t i = 0; i < e.nodes.size(); ++i) {
    const expr_node& node = e.nodes[i];
    const auto arg = [&](std::size_t k) -> const dual& { return at[static_cast<std::size_t>(node.args[k])]; };
    switch (node.op) {
      case expr_op::number: at[i] = {node.value, std::vector<double>(n)}; break;
      case expr_op::name: at[i] = leaf(node.name); break;
      case expr_op::add: at[i] = combine(1, arg(0), 1, arg(1), arg(0).v + arg(1).v); break;
      case expr_op::sub: at[i] = combine(1, arg(0), -1, arg(1), arg(0).v - arg(1).v); break;
      case expr_op::mul: at[i] = combine(arg(1).v, arg(0), arg(0).v, arg(1), arg(0).v * arg(1).v); break;
      case expr_op::div: {
        const double q = arg(0).v / arg(1).v;
        at[i] = combine(1 / arg(1).v, arg(0), -q / arg(1).v, arg(1), q);
        break;
      }
      case expr_op::neg: at[i] = scaled(-1, arg(0), -arg(0).v); break;
      case expr_op::exp: at[i] = scaled(std::exp(arg(0).v), arg(0), std::exp(arg(0).v)); break;
      case expr_op::ln: at[i] = scaled(1 / arg(0).v, arg(0), std::log(arg(0).v)); break;
      case expr_op::arrhenius:
      case expr_op::eyring: at[i] = temperature_form(node, at, t); break;
    }
  }
  return at.empty() ? dual{0, std::vector<double>(n)} : at.back();
}
