#include "model/mechanism.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "common/escape.h"
#include "common/lines.h"
#include "common/numparse.h"

// Reading goes in two passes: every line is first read into a draft record on
// its own, then the names are resolved across lines, so that a value may be
// given before or after the line that uses it.
namespace {

constexpr int max_coefficient = 1000;
constexpr int max_column = 1000000;
constexpr std::string_view keywords[] = {"column", "data", "sigma", "start", "fixed", "series"};

constexpr bool is_blank(char c) { return c != '\n' && numparse::is_space(c); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_name_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }
// Where a number or a whole number may end: the operators may follow without a blank.
constexpr bool ends_number(char c) { return is_blank(c) || c == '+' || c == '*' || c == '='; }

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

// A value and the word "fixed" after it, if there.
std::string take_value(cursor& c, named_value& v) {
  if (std::string e = take_number(c, v.value, v.at, v.length); !e.empty()) return e;
  if (c.peek_name() == "fixed") {
    c.at += 5;
    v.fixed = true;
  }
  return {};
}

struct side_term {
  int coefficient = 1;
  std::string species;
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

// Every line read on its own, names not yet resolved.
struct draft {
  std::vector<reaction_line> reactions;
  std::vector<named_value> assignments;
  std::vector<column_line> columns;
  std::string data;
  int data_line = 0;
  std::string sigma;
  int sigma_line = 0;
  double start = 0;
  int start_line = 0;
  series_spec series;
};

std::string take_side(cursor& c, side& out) {
  std::set<std::string, std::less<>> seen;
  do {
    side_term term;
    c.skip();
    if (c.at < c.text.size() && is_digit(c.text[c.at]) && !take_whole(c, max_coefficient, term.coefficient)) {
      return c.word() + " is not a coefficient (a whole number from 1 to " + std::to_string(max_coefficient) + ")";
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
    return x.species == y.species && x.coefficient == y.coefficient;
  });
}

std::string take_constant(cursor& c, named_value& k) {
  if (std::string e = take_name(c, k.name, "a rate constant \"NAME = VALUE\""); !e.empty()) return e;
  if (!c.take("=")) return "expected \"=\" after " + quoted(k.name) + ", " + c.found();
  if (std::string e = take_value(c, k); !e.empty()) return e;
  if (!k.fixed && !(k.value > 0)) return "the fitted rate constant " + quoted(k.name) + " must be above 0";
  if (k.value < 0) return "rate constant " + quoted(k.name) + " must not be negative";
  return {};
}

std::string parse_reaction(cursor& c, int line, reaction_line& out) {
  out.line = line;
  if (std::string e = take_side(c, out.left); !e.empty()) return e;
  if (c.take("<=>")) {
    out.reversible = true;
  } else if (!c.take("->")) {
    return "expected \"->\" or \"<=>\", " + c.found();
  }
  if (std::string e = take_side(c, out.right); !e.empty()) return e;
  if (same_side(out.left, out.right)) return "the two sides of the reaction are the same";
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

std::string parse_start(cursor& c, int line, draft& d) {
  if (d.start_line != 0) return twice("\"start\"", d.start_line);
  std::size_t at = 0, length = 0;
  if (std::string e = take_number(c, d.start, at, length); !e.empty()) return e;
  if (!c.end()) return "expected the end of the line, " + c.found();
  d.start_line = line;
  return {};
}

// A line with an arrow is a reaction; otherwise a line that starts with
// "column", "data" or "start" and a blank is that keyword's line; otherwise
// a line that starts with a name and "=" gives a value.
std::string parse_line(std::string_view text, int line, draft& d) {
  cursor c{text.substr(0, text.find('#'))};
  if (c.end()) return {};
  if (c.text.find("->") != std::string_view::npos || c.text.find("<=>") != std::string_view::npos) {
    return parse_reaction(c, line, d.reactions.emplace_back());
  }
  const std::string_view first = c.peek_name();
  cursor after = c;
  after.at += first.size();
  const bool word = after.at == after.text.size() || is_blank(after.text[after.at]);
  if (word && first == "column") return parse_column(after, line, d.columns.emplace_back());
  if (word && first == "data") return parse_file(after, line, "data", d.data, d.data_line);
  if (word && first == "sigma") return parse_file(after, line, "sigma", d.sigma, d.sigma_line);
  if (word && first == "start") return parse_start(after, line, d);
  if (word && first == "series") return parse_series_line(after.text.substr(after.at), line, d.series);
  if (!first.empty() && after.take("=")) return parse_assignment(c, line, d.assignments.emplace_back());
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

stoich entry(const names& n, const side_term& t) { return {n.species.at(t.species), t.coefficient}; }

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

// Initial concentrations and response factors, from the "NAME = VALUE" lines.
located build_values(const draft& d, mechanism& m, names& n) {
  for (const std::string& s : m.species) m.initials.push_back({s, 0, true, 0, 0, 0});
  for (const named_value& v : d.assignments) {
    if (const auto rate = n.rates.find(v.name); rate != n.rates.end()) {
      return {v.line, quoted(v.name) + " is a rate constant (line " +
                          std::to_string(m.rates[static_cast<std::size_t>(rate->second)].line) +
                          "); its value belongs on its reaction line"};
    }
    if (const auto species = n.species.find(v.name); species != n.species.end()) {
      named_value& initial = m.initials[static_cast<std::size_t>(species->second)];
      if (initial.line != 0) return {v.line, twice("the initial concentration of " + quoted(v.name), initial.line)};
      initial = v;
      continue;
    }
    const auto [at, added] = n.factors.emplace(v.name, static_cast<int>(m.factors.size()));
    if (!added)
      return {v.line, twice("response factor " + quoted(v.name), m.factors[static_cast<std::size_t>(at->second)].line)};
    m.factors.push_back(v);
  }
  return {};
}

std::string resolve_factor(const std::string& name, const names& n, int& out) {
  if (n.species.count(name) != 0) return quoted(name) + " is a species and cannot be a response factor";
  if (n.rates.count(name) != 0) return quoted(name) + " is a rate constant and cannot be a response factor";
  const auto factor = n.factors.find(name);
  if (factor == n.factors.end())
    return "response factor " + quoted(name) + " has no value line \"" + name + " = VALUE\"";
  out = factor->second;
  return {};
}

// The column lines, then the factors that none of them uses.
located build_columns(const draft& d, mechanism& m, const names& n) {
  std::map<int, int> column_lines;
  std::vector<bool> used(m.factors.size(), false);
  for (const column_line& l : d.columns) {
    if (!column_lines.emplace(l.column, l.line).second) {
      return {l.line, twice("column " + std::to_string(l.column), column_lines[l.column])};
    }
    column_model& col = m.columns.emplace_back(column_model{l.column, {}, l.line});
    for (const term_text& t : l.terms) {
      column_term& term = col.terms.emplace_back(column_term{t.number, -1, 0});
      const auto species = n.species.find(t.species);
      if (species == n.species.end()) return {l.line, "species " + quoted(t.species) + " is in no reaction"};
      term.species = species->second;
      if (t.factor.empty()) continue;
      if (std::string e = resolve_factor(t.factor, n, term.factor); !e.empty()) return {l.line, e};
      used[static_cast<std::size_t>(term.factor)] = true;
    }
  }
  for (std::size_t f = 0; f < m.factors.size(); ++f) {
    if (!used[f]) {
      return {m.factors[f].line,
              quoted(m.factors[f].name) + " is neither a species of a reaction nor a response factor of a column line"};
    }
  }
  return {};
}

// The data file beside the mechanism file, unless its path is absolute.
std::string beside(const std::string& file, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? name : file.substr(0, slash + 1) + name;
}

located resolve(const draft& d, mechanism& m) {
  const int last = std::max<int>(1, static_cast<int>(m.lines.size()));
  if (d.reactions.empty()) return {last, "no reaction line (such as \"A -> B  k1 = 0.1\")"};
  names n;
  if (located e = build_reactions(d, m, n); e.line != 0) return e;
  if (located e = build_values(d, m, n); e.line != 0) return e;
  if (located e = build_columns(d, m, n); e.line != 0) return e;
  if (d.columns.empty() && d.series.line == 0) return {last, "no column line (such as \"column 1 = A\")"};
  if (!d.columns.empty() && d.series.line != 0) {
    return {d.series.line, "a mechanism is fitted either to column lines or to a series; give one of them"};
  }
  m.series = d.series;
  if (series_error e = resolve_series(m.series, m.species, m.file); e.line != 0) return {e.line, e.message};
  m.data = beside(m.file, d.data_line != 0 ? d.data : "dat.txt");
  m.data_line = d.data_line;
  if (d.sigma_line != 0) m.sigma = beside(m.file, d.sigma);
  m.sigma_line = d.sigma_line;
  m.start = d.start;
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

std::string write_mechanism(const mechanism& m) {
  std::vector<std::vector<const named_value*>> on_line(m.lines.size());
  for (const std::vector<named_value>* values : {&m.rates, &m.initials, &m.factors}) {
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
      if (v->at + v->length <= line.size()) line.replace(v->at, v->length, format_value(v->value));
    }
    out += line;
    out += '\n';
  }
  return out;
}
