#include "model/mechanism.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "common/escape.h"
#include "common/format.h"
#include "common/lines.h"
#include "common/numparse.h"

// Reading goes in two passes: every line is first read into a draft record on
// its own, then the names are resolved across lines, so that a value may be
// given before or after the line that uses it.
namespace {

constexpr int max_coefficient = 1000;
constexpr int max_column = 1000000;
constexpr std::string_view keywords[] = {"column", "data",       "sigma", "start",      "fixed",
                                         "series", "experiment", "group", "temperature"};

constexpr bool is_blank(char c) { return c != '\n' && numparse::is_space(c); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_name_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }
// Where a number or a whole number may end: the operators, and the bounds
// ">=" and "<=", may follow without a blank.
constexpr bool ends_number(char c) { return is_blank(c) || c == '+' || c == '*' || c == '=' || c == '<' || c == '>'; }

bool is_keyword(std::string_view name) {
  return std::find(std::begin(keywords), std::end(keywords), name) != std::end(keywords);
}

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// One line without its comment, read from left to right.
struct cursor {
  std::string_view text;
  std::size_t at = 0;

  void skip() {
    while (at < text.size() && is_blank(text[at])) ++at;
  }
  bool end() {
    skip();
    return at == text.size();
  }
  bool take(std::string_view symbol) {
    skip();
    if (!text.substr(at).starts_with(symbol)) return false;
    at += symbol.size();
    return true;
  }
  // The name at the cursor, empty when there is none.
  std::string_view peek_name() {
    skip();
    std::size_t e = at;
    if (e < text.size() && is_letter(text[e])) {
      while (e < text.size() && is_name_char(text[e])) ++e;
    }
    return text.substr(at, e - at);
  }
  // The next blank-separated word, quoted, for messages.
  std::string word() {
    skip();
    std::size_t e = at;
    while (e < text.size() && !is_blank(text[e])) ++e;
    return quoted(text.substr(at, e - at));
  }
  std::string found() { return end() ? "found the end of the line" : "found " + word(); }
};

std::string take_name(cursor& c, std::string& out, const char* what) {
  const std::string_view name = c.peek_name();
  if (name.empty()) return std::string("expected ") + what + ", " + c.found();
  if (is_keyword(name)) return quoted(name) + " is a keyword, not a name";
  out = name;
  c.at += name.size();
  return {};
}

// A number that is a token of its own: "1.5x", "nan" and "inf" are not numbers.
std::string take_number(cursor& c, double& out, std::size_t& at, std::size_t& length) {
  if (c.end()) return "expected a number, found the end of the line";
  const char* const first = c.text.data() + c.at;
  const char* const last = c.text.data() + c.text.size();
  const char* p = first;
  double value = 0;
  if (!numparse::scan_double(p, last, value) || (p != last && !ends_number(*p))) return c.word() + " is not a number";
  out = value;
  at = c.at;
  length = static_cast<std::size_t>(p - first);
  c.at += length;
  return {};
}

// A whole number from 1 to most, digits only; false leaves the cursor alone.
bool take_whole(cursor& c, int most, int& out) {
  c.skip();
  std::size_t e = c.at;
  long value = 0;
  while (e < c.text.size() && is_digit(c.text[e])) {
    value = std::min<long>(value * 10 + (c.text[e] - '0'), long{most} + 1);
    ++e;
  }
  if (e == c.at || (e < c.text.size() && !ends_number(c.text[e])) || value < 1 || value > most) return false;
  out = static_cast<int>(value);
  c.at = e;
  return true;
}

constexpr bool is_operator(char c) { return c == '+' || c == '-' || c == '*' || c == '/'; }

// A value written as an expression of others ("kf / K").
std::string take_formula(cursor& c, named_value& v) {
  std::size_t at = c.at;
  if (std::string e = parse_expression(c.text, at, v.formula); !e.empty()) return e;
  const std::vector<expr_node>& nodes = v.formula.nodes;
  if (nodes.size() == 1 && nodes[0].op == expr_op::name) {
    std::string lower;
    for (char ch : nodes[0].name) lower += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    if (lower == "nan" || lower == "inf" || lower == "infinity") return quoted(nodes[0].name) + " is not a number";
  }
  c.at = at;
  v.value = 0;
  v.fixed = true;
  v.at = v.length = 0;
  return {};
}

// A number, or an expression when the value starts with a name or "(", or
// a number goes on with an operator.
std::string take_number_or_formula(cursor& c, named_value& v) {
  if (c.end()) return "expected a number, found the end of the line";
  const char first = c.text[c.at];
  if (is_letter(first) || first == '(') return take_formula(c, v);
  cursor probe = c;
  if (std::string e = take_number(probe, v.value, v.at, v.length); !e.empty()) {
    return first == '-' ? take_formula(c, v) : e;
  }
  probe.skip();
  if (probe.at < probe.text.size() && is_operator(probe.text[probe.at])) return take_formula(c, v);
  c = probe;
  return {};
}

// One bound ">= LO" or "<= HI", the symbol taken already.
std::string take_bound(cursor& c, const char* symbol, double& bound) {
  if (std::isfinite(bound)) return "\"" + std::string(symbol) + "\" is given twice for one value";
  std::size_t at = 0, length = 0;
  return take_number(c, bound, at, length);
}

// What may follow a value, in any order: the word "fixed" and the bounds
// ">= LO" and "<= HI", each once.
std::string take_marks(cursor& c, named_value& v) {
  for (bool fixed = false;;) {
    if (!fixed && c.peek_name() == "fixed") {
      c.at += 5;
      v.fixed = fixed = true;
    } else if (c.take(">=")) {
      if (std::string e = take_bound(c, ">=", v.lower); !e.empty()) return e;
    } else if (c.take("<=")) {
      if (std::string e = take_bound(c, "<=", v.upper); !e.empty()) return e;
    } else {
      return {};
    }
  }
}

std::string bound_text(double v) { return format_g(v, 10); }

// The bounds of a value: LO at most HI, a number (fitted or fixed) within
// them, and none on an expression.
std::string check_box(const named_value& v) {
  if (!v.bounded()) return {};
  if (!v.formula.empty()) return quoted(v.name) + " follows from its expression and takes no bounds";
  if (v.lower > v.upper) {
    return "the lower bound " + bound_text(v.lower) + " of " + quoted(v.name) + " is above its upper bound " +
           bound_text(v.upper);
  }
  if (v.value < v.lower) {
    return quoted(v.name) + " = " + bound_text(v.value) + " is below its lower bound " + bound_text(v.lower);
  }
  if (v.value > v.upper) {
    return quoted(v.name) + " = " + bound_text(v.value) + " is above its upper bound " + bound_text(v.upper);
  }
  return {};
}

// A value, then "fixed" and its bounds, if there.
std::string take_value(cursor& c, named_value& v) {
  if (std::string e = take_number_or_formula(c, v); !e.empty()) return e;
  if (std::string e = take_marks(c, v); !e.empty()) return e;
  return check_box(v);
}

// A rate constant is at least 0 already: a lower bound below is a slip.
std::string check_rate_bound(const named_value& k) {
  if (std::isfinite(k.lower) && k.lower < 0) {
    return "the lower bound " + bound_text(k.lower) + " of rate constant " + quoted(k.name) +
           " is below 0; rate constants are at least 0";
  }
  return {};
}

struct side_term {
  int coefficient = 1;
  std::string species;
  double amount = 0;  // a product's coefficient that is not a whole number
};
using side = std::vector<side_term>;

struct reaction_line {
  side left, right;
  bool reversible = false;
  std::vector<named_value> constants;  // forward first
  int line = 0;
};

struct term_text {
  double number = 1;
  std::string factor;  // empty when there is none
  std::string species;
};

struct column_line {
  int column = 0;
  std::vector<term_text> terms;
  int line = 0;
};

// The lines of one scope: the shared part of the file, an experiment or a
// group.
struct scope_text {
  std::vector<column_line> columns;
  std::string data;
  int data_line = 0;
  std::string sigma;
  int sigma_line = 0;
  double start = 0;
  int start_line = 0;
  series_spec series;  // of an experiment: its series file and times only
  named_value start_value;  // of "start NAME = VALUE"; name empty when there is none
  double temperature = 0;
  int temperature_line = 0;
  std::string name;  // of an experiment or group
  int line = 0;
  bool group = false;
  std::vector<std::string> members;
};

// Every line read on its own, names not yet resolved.
struct draft {
  std::vector<reaction_line> reactions;
  std::vector<named_value> assignments;  // with their scope
  scope_text shared;
  std::vector<scope_text> blocks;
  scope_text& current() { return blocks.empty() ? shared : blocks.back(); }
  int scope() const { return static_cast<int>(blocks.size()) - 1; }
};

// On the product side a coefficient may be a number that is not whole,
// such as 0.5: above 0 and at most 1000.
std::string take_amount(cursor& c, side_term& term) {
  double value = 0;
  std::size_t at = 0, length = 0;
  cursor probe = c;
  if (!take_number(probe, value, at, length).empty() || !(value > 0 && value <= max_coefficient)) {
    return c.word() + " is not a coefficient (a number above 0 and at most " + std::to_string(max_coefficient) +
           " on the product side)";
  }
  c = probe;
  term.coefficient = 0;
  term.amount = value;
  return {};
}

std::string take_side(cursor& c, side& out, bool products) {
  std::set<std::string, std::less<>> seen;
  do {
    side_term term;
    c.skip();
    const bool number = c.at < c.text.size() && (is_digit(c.text[c.at]) || c.text[c.at] == '.');
    if (number && !take_whole(c, max_coefficient, term.coefficient)) {
      if (products) {
        if (std::string e = take_amount(c, term); !e.empty()) return e;
      } else {
        return c.word() + " is not a coefficient (a whole number from 1 to " + std::to_string(max_coefficient) + ")";
      }
    }
    if (std::string e = take_name(c, term.species, "a species"); !e.empty()) return e;
    if (!seen.insert(term.species).second) {
      return quoted(term.species) + " is twice on one side; give it once with the sum of its coefficients";
    }
    out.push_back(term);
  } while (c.take("+"));
  return {};
}

// Whether two sides hold the same species with the same coefficients.
bool same_side(side a, side b) {
  const auto order = [](const side_term& x, const side_term& y) { return x.species < y.species; };
  std::sort(a.begin(), a.end(), order);
  std::sort(b.begin(), b.end(), order);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const side_term& x, const side_term& y) {
    return x.species == y.species && x.coefficient == y.coefficient && x.amount == y.amount;
  });
}

std::string take_constant(cursor& c, named_value& k) {
  if (std::string e = take_name(c, k.name, "a rate constant \"NAME = VALUE\""); !e.empty()) return e;
  if (!c.take("=")) return "expected \"=\" after " + quoted(k.name) + ", " + c.found();
  if (std::string e = take_value(c, k); !e.empty()) return e;
  if (!k.formula.empty()) return {};
  if (std::string e = check_rate_bound(k); !e.empty()) return e;
  if (!k.fixed && !(k.value > 0)) return "the fitted rate constant " + quoted(k.name) + " must be above 0";
  if (k.value < 0) return "rate constant " + quoted(k.name) + " must not be negative";
  return {};
}

std::string parse_reaction(cursor& c, int line, reaction_line& out) {
  out.line = line;
  if (std::string e = take_side(c, out.left, false); !e.empty()) return e;
  if (c.take("<=>")) {
    out.reversible = true;
  } else if (!c.take("->")) {
    return "expected \"->\" or \"<=>\", " + c.found();
  }
  if (std::string e = take_side(c, out.right, true); !e.empty()) return e;
  if (same_side(out.left, out.right)) return "the two sides of the reaction are the same";
  for (const side_term& t : out.right) {
    if (out.reversible && t.amount > 0) {
      return "\"<=>\" needs whole coefficients: the reverse step has the products as its reactants";
    }
  }
  while (!c.end()) {
    named_value& k = out.constants.emplace_back();
    k.line = line;
    if (std::string e = take_constant(c, k); !e.empty()) return e;
  }
  const std::size_t found = out.constants.size();
  if (!out.reversible && found != 1) return "\"->\" takes one rate constant, found " + std::to_string(found);
  if (out.reversible && found != 2) {
    return "\"<=>\" takes two rate constants, forward then reverse, found " + std::to_string(found);
  }
  return {};
}

std::string parse_assignment(cursor& c, int line, named_value& out) {
  out.line = line;
  if (std::string e = take_name(c, out.name, "a name"); !e.empty()) return e;
  c.take("=");
  if (std::string e = take_value(c, out); !e.empty()) return e;
  if (!c.end()) return "expected \"fixed\" or the end of the line, " + c.found();
  return {};
}

// [NUMBER *] [FACTOR *] SPECIES
std::string take_term(cursor& c, term_text& out) {
  const bool number = !c.end() && std::string_view("0123456789.+-").find(c.text[c.at]) != std::string_view::npos;
  if (number) {
    std::size_t at = 0, length = 0;
    if (std::string e = take_number(c, out.number, at, length); !e.empty()) return e;
    if (!c.take("*")) return "expected \"*\" after the number, " + c.found();
  }
  if (std::string e = take_name(c, out.species, "a species"); !e.empty()) return e;
  if (c.take("*")) {
    out.factor = std::move(out.species);
    if (std::string e = take_name(c, out.species, "a species"); !e.empty()) return e;
  }
  return {};
}

std::string parse_column(cursor& c, int line, column_line& out) {
  out.line = line;
  if (!take_whole(c, max_column, out.column)) {
    return "expected a column number from 1 to " + std::to_string(max_column) + ", " + c.found();
  }
  if (!c.take("=")) return "expected \"=\" after the column number, " + c.found();
  do {
    if (std::string e = take_term(c, out.terms.emplace_back()); !e.empty()) return e;
  } while (c.take("+"));
  if (!c.end()) return "expected \"+\" or the end of the line, " + c.found();
  return {};
}

std::string twice(const std::string& what, int first_line) {
  return what + " is given twice (first on line " + std::to_string(first_line) + ")";
}

// "data FILE" or "sigma FILE": the rest of the line, without trailing blanks.
std::string parse_file(cursor& c, int line, const char* keyword, std::string& file, int& file_line) {
  if (file_line != 0) return twice("\"" + std::string(keyword) + "\"", file_line);
  c.skip();
  std::string_view name = c.text.substr(c.at);
  while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
  if (name.empty()) return "expected a file name after \"" + std::string(keyword) + "\"";
  // A name in double quotes, as ratefit writes one that would not read back
  // as it stands (common/escape.h).
  if (name.front() != '"' || !unquote_name(name, file)) file = name;
  file_line = line;
  return {};
}

// "start T", or "start NAME = VALUE [fixed]": a start time that is fitted
// unless fixed.
std::string parse_start(cursor& c, int line, scope_text& d) {
  if (d.start_line != 0) return twice("\"start\"", d.start_line);
  cursor named = c;
  named.at += named.peek_name().size();
  if (named.at > c.at && named.take("=")) {
    named_value& v = d.start_value;
    if (std::string e = take_name(c, v.name, "a name"); !e.empty()) return e;
    if (std::string e = take_number(named, v.value, v.at, v.length); !e.empty()) return e;
    v.line = line;
    if (std::string e = take_marks(named, v); !e.empty()) return e;
    if (std::string e = check_box(v); !e.empty()) return e;
    c = named;
  } else {
    std::size_t at = 0, length = 0;
    if (std::string e = take_number(c, d.start, at, length); !e.empty()) return e;
  }
  if (!c.end()) return "expected the end of the line, " + c.found();
  d.start = d.start_value.name.empty() ? d.start : d.start_value.value;
  d.start_line = line;
  return {};
}

std::string parse_temperature(cursor& c, int line, scope_text& d) {
  if (d.temperature_line != 0) return twice("\"temperature\"", d.temperature_line);
  std::size_t at = 0, length = 0;
  if (std::string e = take_number(c, d.temperature, at, length); !e.empty()) return e;
  if (!(d.temperature > 0)) return "the temperature must be above 0 kelvin";
  if (!c.end()) return "expected the end of the line, " + c.found();
  d.temperature_line = line;
  return {};
}

// "experiment NAME" or "group NAME = E1 E2 ...": the lines after it, up to
// the next such line, belong to it.
std::string parse_block(cursor& c, int line, bool group, draft& d) {
  scope_text& b = d.blocks.emplace_back();
  b.line = line;
  b.group = group;
  if (std::string e = take_name(c, b.name, group ? "a group name" : "an experiment name"); !e.empty()) return e;
  for (const scope_text& other : d.blocks) {
    if (&other != &b && other.name == b.name) return twice(quoted(b.name), other.line);
  }
  if (!group) return c.end() ? std::string() : "expected the end of the line, " + c.found();
  if (!c.take("=")) return "expected \"=\" after " + quoted(b.name) + ", " + c.found();
  while (!c.end()) {
    if (std::string e = take_name(c, b.members.emplace_back(), "an experiment name"); !e.empty()) return e;
  }
  if (b.members.empty()) return "a group needs at least one experiment, found the end of the line";
  return {};
}

// A series line: in an experiment only the series file and its times,
// the rest is shared by every experiment's series.
std::string parse_series_in(std::string_view rest, int line, draft& d) {
  if (d.blocks.empty()) return parse_series_line(rest, line, d.shared.series);
  if (d.current().group) return "a group holds values only; \"series\" belongs to an experiment";
  std::string_view word = rest;
  while (!word.empty() && (word.front() == ' ' || word.front() == '\t')) word.remove_prefix(1);
  word = word.substr(0, word.find_first_of(" \t"));
  if (word == "channels" || word == "absorbing" || word == "known" || word == "offset" || word == "nonnegative") {
    return "\"series " + std::string(word) +
           "\" is shared by every experiment's series: it belongs before the first experiment";
  }
  return parse_series_line(rest, line, d.current().series);
}

// A line with an arrow is a reaction; otherwise a line that starts with a
// keyword and a blank is that keyword's line; otherwise a line that starts
// with a name and "=" gives a value.
std::string parse_line(std::string_view text, int line, draft& d) {
  cursor c{text.substr(0, text.find('#'))};
  if (c.end()) return {};
  if (c.text.find("->") != std::string_view::npos || c.text.find("<=>") != std::string_view::npos) {
    if (!d.blocks.empty()) return "a reaction belongs before the first experiment: the reactions are shared";
    return parse_reaction(c, line, d.reactions.emplace_back());
  }
  const std::string_view first = c.peek_name();
  cursor after = c;
  after.at += first.size();
  const bool word = after.at == after.text.size() || is_blank(after.text[after.at]);
  scope_text& s = d.current();
  const bool in_group = !d.blocks.empty() && s.group;
  if (word && (first == "experiment" || first == "group")) return parse_block(after, line, first == "group", d);
  if (word && in_group && (first == "column" || first == "data" || first == "sigma" ||
                                                          first == "start" || first == "temperature")) {
    return "a group holds values only; " + quoted(first) + " belongs to an experiment";
  }
  if (word && first == "column") return parse_column(after, line, s.columns.emplace_back());
  if (word && first == "data") return parse_file(after, line, "data", s.data, s.data_line);
  if (word && first == "sigma") return parse_file(after, line, "sigma", s.sigma, s.sigma_line);
  if (word && first == "start") return parse_start(after, line, s);
  if (word && first == "temperature") return parse_temperature(after, line, s);
  if (word && first == "series") return parse_series_in(after.text.substr(after.at), line, d);
  if (!first.empty() && after.take("=")) {
    named_value& v = d.assignments.emplace_back();
    v.scope = d.scope();
    return parse_assignment(c, line, v);
  }
  if (!first.empty()) return "unknown keyword " + quoted(first);
  return "expected a reaction, \"NAME = VALUE\", or a column, data, sigma or start line, " + c.found();
}

// An error of a line: "FILE:LINE: message".
struct located {
  int line = 0;
  std::string message;
};

using name_index = std::map<std::string, int, std::less<>>;

// Every name of a mechanism and its index in species, rates or factors.
struct names {
  name_index species, rates, factors;
};

stoich entry(const names& n, const side_term& t) { return {n.species.at(t.species), t.coefficient, t.amount}; }

// Species in the order of first appearance, the steps and their constants.
located build_reactions(const draft& d, mechanism& m, names& n) {
  for (const reaction_line& r : d.reactions) {
    for (const side* s : {&r.left, &r.right}) {
      for (const side_term& t : *s) {
        if (n.species.emplace(t.species, static_cast<int>(m.species.size())).second) m.species.push_back(t.species);
      }
    }
  }
  for (const reaction_line& r : d.reactions) {
    elementary_step forward;
    for (const side_term& t : r.left) forward.reactants.push_back(entry(n, t));
    for (const side_term& t : r.right) forward.products.push_back(entry(n, t));
    m.net.steps.push_back(forward);
    if (r.reversible) m.net.steps.push_back({forward.products, forward.reactants});
    for (const named_value& k : r.constants) {
      const auto [at, added] = n.rates.emplace(k.name, static_cast<int>(m.rates.size()));
      if (!added)
        return {k.line, twice("rate constant " + quoted(k.name), m.rates[static_cast<std::size_t>(at->second)].line)};
      if (n.species.count(k.name) != 0)
        return {k.line, "rate constant " + quoted(k.name) + " has the name of a species"};
      m.rates.push_back(k);
    }
  }
  m.net.species = static_cast<int>(m.species.size());
  return {};
}

// The names that column lines use as factors, and those that expressions
// use, in every scope: what a value line that is neither a species nor a
// rate constant gives.
struct uses {
  std::set<std::string, std::less<>> factors, formula_names;
};

uses names_used(const draft& d) {
  uses u;
  const auto columns = [&](const scope_text& s) {
    for (const column_line& l : s.columns) {
      for (const term_text& t : l.terms) {
        if (!t.factor.empty()) u.factors.insert(t.factor);
      }
    }
  };
  columns(d.shared);
  for (const scope_text& b : d.blocks) columns(b);
  const auto formula = [&](const named_value& v) {
    for (const std::string& name : expression_names(v.formula)) u.formula_names.insert(name);
  };
  for (const reaction_line& r : d.reactions) std::for_each(r.constants.begin(), r.constants.end(), formula);
  std::for_each(d.assignments.begin(), d.assignments.end(), formula);
  return u;
}

// The line where a scope first declares a name, for "given twice".
using declared_lines = std::map<std::pair<int, std::string>, int>;

located declare(declared_lines& seen, const named_value& v, const std::string& what) {
  const auto [at, added] = seen.emplace(std::make_pair(v.scope, v.name), v.line);
  return added ? located{} : located{v.line, twice(what, at->second)};
}

// A value line for a rate constant: inside an experiment or group, that
// block's own value of it.
located rate_value(const named_value& v, int rate, mechanism& m, declared_lines& seen) {
  if (v.scope < 0) {
    return {v.line, quoted(v.name) + " is a rate constant (line " +
                        std::to_string(m.rates[static_cast<std::size_t>(rate)].line) +
                        "); its value belongs on its reaction line"};
  }
  if (located e = declare(seen, v, "rate constant " + quoted(v.name)); e.line != 0) return e;
  named_value& local = m.rates.emplace_back(v);
  local.target = rate;
  if (std::string e = check_rate_bound(v); !e.empty()) return {v.line, e};
  if (local.formula.empty() && !local.fixed && !(local.value > 0)) {
    return {v.line, "the fitted rate constant " + quoted(v.name) + " must be above 0"};
  }
  return {};
}

located initial_value(const named_value& v, int species, mechanism& m, declared_lines& seen) {
  if (located e = declare(seen, v, "the initial concentration of " + quoted(v.name)); e.line != 0) return e;
  if (v.scope < 0) {
    m.initials[static_cast<std::size_t>(species)] = v;
    return {};
  }
  m.initials.emplace_back(v).target = species;
  return {};
}

// Initial concentrations, response factors and the values expressions use,
// from the "NAME = VALUE" lines; lines that are none of these in unused.
located build_values(const draft& d, mechanism& m, names& n, std::vector<named_value>& unused) {
  for (const std::string& s : m.species) {
    named_value& v = m.initials.emplace_back();
    v.name = s;
    v.fixed = true;
  }
  const uses u = names_used(d);
  declared_lines seen;
  for (const named_value& v : d.assignments) {
    if (const auto rate = n.rates.find(v.name); rate != n.rates.end()) {
      if (located e = rate_value(v, rate->second, m, seen); e.line != 0) return e;
    } else if (const auto species = n.species.find(v.name); species != n.species.end()) {
      if (located e = initial_value(v, species->second, m, seen); e.line != 0) return e;
    } else if (u.factors.count(v.name) != 0) {
      if (located e = declare(seen, v, "response factor " + quoted(v.name)); e.line != 0) return e;
      if (v.scope < 0) n.factors.emplace(v.name, static_cast<int>(m.factors.size()));
      m.factors.push_back(v);
    } else if (u.formula_names.count(v.name) != 0) {
      if (located e = declare(seen, v, "value " + quoted(v.name)); e.line != 0) return e;
      m.parameters.push_back(v);
    } else {
      if (located e = declare(seen, v, "response factor " + quoted(v.name)); e.line != 0) return e;
      unused.push_back(v);
    }
  }
  return {};
}

std::string resolve_factor(const mechanism& m, int e, const std::string& name, const names& n, int& out) {
  if (n.species.count(name) != 0) return quoted(name) + " is a species and cannot be a response factor";
  if (n.rates.count(name) != 0) return quoted(name) + " is a rate constant and cannot be a response factor";
  value_kind kind = value_kind::factor;
  if (!find_value(m, e, name, kind, out) || kind != value_kind::factor)
    return "response factor " + quoted(name) + " has no value line \"" + name + " = VALUE\"";
  return {};
}

// The column lines of one scope (e = -1: the shared ones).
located build_column_lines(const std::vector<column_line>& lines, int e, const mechanism& m, const names& n,
                           std::vector<column_model>& out) {
  std::map<int, int> column_lines;
  for (const column_line& l : lines) {
    if (!column_lines.emplace(l.column, l.line).second) {
      return {l.line, twice("column " + std::to_string(l.column), column_lines[l.column])};
    }
    column_model& col = out.emplace_back(column_model{l.column, {}, l.line});
    for (const term_text& t : l.terms) {
      column_term& term = col.terms.emplace_back(column_term{t.number, -1, 0});
      const auto species = n.species.find(t.species);
      if (species == n.species.end()) return {l.line, "species " + quoted(t.species) + " is in no reaction"};
      term.species = species->second;
      if (t.factor.empty()) continue;
      if (std::string error = resolve_factor(m, e, t.factor, n, term.factor); !error.empty()) return {l.line, error};
    }
  }
  return {};
}

located build_columns(const draft& d, mechanism& m, const names& n) {
  if (located e = build_column_lines(d.shared.columns, -1, m, n, m.columns); e.line != 0) return e;
  for (std::size_t b = 0; b < d.blocks.size(); ++b) {
    const int e = static_cast<int>(b);
    if (located error = build_column_lines(d.blocks[b].columns, e, m, n, m.blocks[b].columns); error.line != 0)
      return error;
  }
  return {};
}

// The data file beside the mechanism file, unless its path is absolute.
std::string beside(const std::string& file, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? name : file.substr(0, slash + 1) + name;
}

// A named start time of a scope, into m.starts.
int add_start(const scope_text& s, int scope, mechanism& m) {
  if (s.start_value.name.empty()) return -1;
  named_value& v = m.starts.emplace_back(s.start_value);
  v.scope = scope;
  return static_cast<int>(m.starts.size()) - 1;
}

// The experiments and groups, with what each takes from the shared lines.
located build_blocks(const draft& d, mechanism& m) {
  const scope_text& shared = d.shared;
  m.start_value = add_start(shared, -1, m);
  m.temperature = shared.temperature;
  m.temperature_line = shared.temperature_line;
  for (std::size_t i = 0; i < d.blocks.size(); ++i) {
    const scope_text& s = d.blocks[i];
    block& b = m.blocks.emplace_back();
    b.name = s.name, b.line = s.line, b.group = s.group;
    b.data = beside(m.file, s.data_line != 0 ? s.data : shared.data_line != 0 ? shared.data : "dat.txt");
    b.data_line = s.data_line;
    const bool own_sigma = s.sigma_line != 0;
    if (own_sigma || shared.sigma_line != 0) b.sigma = beside(m.file, own_sigma ? s.sigma : shared.sigma);
    b.sigma_line = s.sigma_line;
    const scope_text& start = s.start_line != 0 ? s : shared;
    b.start = start.start, b.start_line = s.start_line;
    b.start_value = s.start_line != 0 ? add_start(s, static_cast<int>(i), m) : m.start_value;
    b.temperature = s.temperature_line != 0 ? s.temperature : shared.temperature;
    b.temperature_line = s.temperature_line != 0 ? s.temperature_line : shared.temperature_line;
  }
  for (std::size_t i = 0; i < d.blocks.size(); ++i) {
    for (const std::string& name : d.blocks[i].members) {
      const auto at = std::find_if(m.blocks.begin(), m.blocks.end(), [&](const block& b) { return b.name == name; });
      if (at == m.blocks.end() || at->group) return {d.blocks[i].line, quoted(name) + " is not an experiment"};
      m.blocks[i].members.push_back(static_cast<int>(at - m.blocks.begin()));
    }
  }
  return {};
}

using value_ref = std::pair<value_kind, int>;

// The names of v's expression resolved in experiment e, and no cycle
// through path.
located check_formula(const mechanism& m, int e, value_ref at, std::vector<value_ref>& path) {
  const named_value& v = value_list_of(m, at.first)[static_cast<std::size_t>(at.second)];
  path.push_back(at);
  for (const std::string& name : expression_names(v.formula)) {
    value_ref next{value_kind::rate, 0};
    if (!find_value(m, e, name, next.first, next.second)) {
      return {v.line, quoted(name) + " in the expression of " + quoted(v.name) +
                          " is neither a rate constant nor a value of the file"};
    }
    if (next.first == value_kind::initial) {
      return {v.line, quoted(name) + " is a species: an expression uses rate constants and values, not concentrations"};
    }
    if (std::find(path.begin(), path.end(), next) != path.end()) {
      return {v.line, "the expression of " + quoted(v.name) + " depends on itself through " + quoted(name)};
    }
    const named_value& used = value_list_of(m, next.first)[static_cast<std::size_t>(next.second)];
    if (used.formula.empty()) continue;
    if (located error = check_formula(m, e, next, path); error.line != 0) return error;
  }
  path.pop_back();
  return {};
}

// Every expression seen from every experiment: known names, no cycles, and a
// temperature where a rate constant depends on it.
located check_formulas(const mechanism& m) {
  for (int e : experiments_of(m)) {
    const bool has_temperature = e >= 0 ? m.blocks[static_cast<std::size_t>(e)].temperature_line != 0
                                        : m.temperature_line != 0;
    for (value_kind kind : {value_kind::rate, value_kind::initial, value_kind::factor, value_kind::parameter}) {
      const std::vector<named_value>& list = value_list_of(m, kind);
      for (std::size_t i = 0; i < list.size(); ++i) {
        value_kind seen = kind;
        int index = -1;
        if (list[i].formula.empty() || !find_value(m, e, list[i].name, seen, index) || index != static_cast<int>(i))
          continue;
        std::vector<value_ref> path;
        if (located error = check_formula(m, e, {kind, index}, path); error.line != 0) return error;
        if (uses_temperature(list[i].formula) && !has_temperature) {
          return {list[i].line, quoted(list[i].name) + " depends on the temperature, but " +
                                    (e >= 0 ? "experiment " + quoted(m.blocks[static_cast<std::size_t>(e)].name)
                                            : std::string("the file")) +
                                    " has no temperature line"};
        }
      }
    }
  }
  return {};
}

// Every experiment has column lines, its own or the shared ones.
located check_experiments(const mechanism& m, int last) {
  if (m.blocks.empty()) return m.columns.empty() ? located{last, "no column line (such as \"column 1 = A\")"} : located{};
  bool any = false;
  for (const block& b : m.blocks) {
    if (b.group) continue;
    any = true;
    if (b.columns.empty() && m.columns.empty()) {
      return {b.line, "experiment " + quoted(b.name) + " has no column line, and there is no shared one"};
    }
  }
  return any ? located{} : located{last, "no experiment line (such as \"experiment run1\")"};
}

// The first series line of the file, in any experiment; 0: none.
int first_series_line(const draft& d) {
  int line = d.shared.series.line;
  for (const scope_text& b : d.blocks) {
    if (b.series.line != 0 && (line == 0 || b.series.line < line)) line = b.series.line;
  }
  return line;
}

// The first column line of the file, shared or in an experiment; 0: none.
int column_line_of(const mechanism& m) {
  int line = 0;
  const auto first = [&](const std::vector<column_model>& columns) {
    for (const column_model& c : columns) line = line == 0 ? c.line : std::min(line, c.line);
  };
  first(m.columns);
  for (const block& b : m.blocks) first(b.columns);
  return line;
}

// The series of every experiment: the shared series lines with the
// experiment's own file and times. m.series holds the first experiment's
// (the channels, species and known spectra are the same for all).
located resolve_experiment_series(const draft& d, mechanism& m, int series_line) {
  const int first = static_cast<int>(m.blocks.size());
  int found = first;
  for (std::size_t i = 0; i < m.blocks.size(); ++i) {
    block& b = m.blocks[i];
    if (b.group) continue;
    const series_spec& own = d.blocks[i].series;
    series_spec s = d.shared.series;
    s.line = own.line != 0 ? own.line : s.line != 0 ? s.line : b.line;
    if (own.file.line != 0) s.file = own.file, s.table = own.table;
    if (own.times.line != 0 || own.step_line != 0) {
      s.times = own.times, s.step_line = own.step_line, s.start = own.start, s.step = own.step;
    }
    if (s.file.line == 0) {
      return {b.line, "experiment " + quoted(b.name) +
                          " has no series: add \"series FILE\" or \"series table FILE\" to it"};
    }
    if (series_error e = resolve_series(s, m.species, m.file); e.line != 0) return {e.line, e.message};
    b.series = std::move(s);
    if (found == first) found = static_cast<int>(i);
  }
  if (found == first) return {series_line, "no experiment line (such as \"experiment run1\")"};
  m.series = m.blocks[static_cast<std::size_t>(found)].series;
  m.series.line = series_line;
  return {};
}

located resolve(const draft& d, mechanism& m) {
  const int last = std::max<int>(1, static_cast<int>(m.lines.size()));
  if (d.reactions.empty()) return {last, "no reaction line (such as \"A -> B  k1 = 0.1\")"};
  names n;
  std::vector<named_value> unused;
  if (located e = build_reactions(d, m, n); e.line != 0) return e;
  if (located e = build_blocks(d, m); e.line != 0) return e;
  if (located e = build_values(d, m, n, unused); e.line != 0) return e;
  if (located e = build_columns(d, m, n); e.line != 0) return e;
  if (!unused.empty()) {
    return {unused.front().line, quoted(unused.front().name) +
                                     " is neither a species of a reaction nor a response factor of a column line"};
  }
  const int series_line = first_series_line(d);
  if (series_line == 0) {
    if (located e = check_experiments(m, last); e.line != 0) return e;
  } else if (const int columns = column_line_of(m); columns != 0) {
    return {series_line, "a mechanism is fitted either to column lines or to a series; give one of them"};
  }
  if (located e = check_formulas(m); e.line != 0) return e;
  m.series = d.shared.series;
  if (!m.blocks.empty() && series_line != 0) {
    if (located e = resolve_experiment_series(d, m, series_line); e.line != 0) return e;
  } else if (series_error e = resolve_series(m.series, m.species, m.file); e.line != 0) {
    return {e.line, e.message};
  }
  m.data = beside(m.file, d.shared.data_line != 0 ? d.shared.data : "dat.txt");
  m.data_line = d.shared.data_line;
  if (d.shared.sigma_line != 0) m.sigma = beside(m.file, d.shared.sigma);
  m.sigma_line = d.shared.sigma_line;
  m.start = d.shared.start;
  return {};
}

std::string format_value(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  const char* p = text;
  double back = 0;
  // Near the largest double, ten digits may round beyond it.
  if (!numparse::scan_double(p, text + std::strlen(text), back)) std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// The value of v as format_value writes it, unless that would read back
// outside v's bounds (a value at a bound of more than ten digits): then
// with every digit.
std::string format_within(const named_value& v) {
  std::string text = format_value(v.value);
  if (!v.bounded()) return text;
  const char* p = text.c_str();
  double back = 0;
  if (!numparse::scan_double(p, p + text.size(), back) || back < v.lower || back > v.upper) {
    char all[64];
    std::snprintf(all, sizeof all, "%.17g", v.value);
    text = all;
  }
  return text;
}

std::string open_failure(const std::string& path) {
  const int reason = errno != 0 ? errno : EISDIR;
  return "cannot read \"" + path + "\": " + std::strerror(reason);
}

}  // namespace

std::string parse_mechanism(const std::string& file, std::string_view text, mechanism& out) {
  out = mechanism{};
  out.file = file;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte-order mark is passed over
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    out.lines.emplace_back(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
  }
  draft d;
  for (std::size_t i = 0; i < out.lines.size(); ++i) {
    const int line = static_cast<int>(i) + 1;
    if (std::string e = parse_line(out.lines[i], line, d); !e.empty())
      return file + ":" + std::to_string(line) + ": " + e;
  }
  const located e = resolve(d, out);
  return e.line == 0 ? std::string() : file + ":" + std::to_string(e.line) + ": " + e.message;
}

std::string read_mechanism(const std::string& path, mechanism& out) {
  std::string text;
  errno = 0;
  const lines::status status = lines::for_each_line(path.c_str(), [&](std::string_view line) {
    text.append(line);
    text.push_back('\n');
    return text.size() <= max_mechanism_bytes;
  });
  if (status == lines::status::stopped) {
    return path + ": longer than the " + std::to_string(max_mechanism_bytes >> 20) + " MiB a mechanism file may hold";
  }
  if (status == lines::status::not_opened) return open_failure(path);
  if (status == lines::status::read_error) return "cannot read \"" + path + "\": " + std::strerror(errno);
  return parse_mechanism(path, text, out);
}

const std::vector<named_value>& value_list_of(const mechanism& m, value_kind kind) {
  switch (kind) {
    case value_kind::rate: return m.rates;
    case value_kind::initial: return m.initials;
    case value_kind::factor: return m.factors;
    case value_kind::parameter: return m.parameters;
    case value_kind::start: break;
  }
  return m.starts;
}

std::vector<int> experiments_of(const mechanism& m) {
  std::vector<int> out;
  for (std::size_t b = 0; b < m.blocks.size(); ++b) {
    if (!m.blocks[b].group) out.push_back(static_cast<int>(b));
  }
  return m.blocks.empty() ? std::vector<int>{-1} : out;
}

namespace {

// Searches the lists for a declaration of name in one scope.
bool find_in_scope(const mechanism& m, int scope, const std::string& name, value_kind& kind, int& index) {
  for (value_kind k : {value_kind::rate, value_kind::initial, value_kind::factor, value_kind::parameter}) {
    const std::vector<named_value>& list = value_list_of(m, k);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].scope == scope && list[i].name == name) {
        kind = k, index = static_cast<int>(i);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool find_value(const mechanism& m, int e, const std::string& name, value_kind& kind, int& index) {
  if (e >= 0 && find_in_scope(m, e, name, kind, index)) return true;
  for (std::size_t g = 0; e >= 0 && g < m.blocks.size(); ++g) {
    const std::vector<int>& members = m.blocks[g].members;
    if (m.blocks[g].group && std::find(members.begin(), members.end(), e) != members.end() &&
        find_in_scope(m, static_cast<int>(g), name, kind, index))
      return true;
  }
  return find_in_scope(m, -1, name, kind, index);
}

std::string write_mechanism(const mechanism& m) {
  std::vector<std::vector<const named_value*>> on_line(m.lines.size());
  for (const std::vector<named_value>* values : {&m.rates, &m.initials, &m.factors, &m.parameters, &m.starts}) {
    for (const named_value& v : *values) {
      if (v.line >= 1 && static_cast<std::size_t>(v.line) <= m.lines.size())
        on_line[static_cast<std::size_t>(v.line) - 1].push_back(&v);
    }
  }
  std::string out;
  for (std::size_t i = 0; i < m.lines.size(); ++i) {
    std::string line = m.lines[i];
    // From the right, so that the positions of the others still hold.
    std::sort(on_line[i].begin(), on_line[i].end(),
              [](const named_value* a, const named_value* b) { return a->at > b->at; });
    for (const named_value* v : on_line[i]) {
      if (v->length > 0 && v->at + v->length <= line.size()) line.replace(v->at, v->length, format_within(*v));
    }
    out += line;
    out += '\n';
  }
  return out;
}
