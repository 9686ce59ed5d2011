// A mechanism record as one line of text, so that tests can compare whole
// records with one string: values as "%.10g", "!" after a fixed one, and,
// when asked for, "@LINE" after everything that has a line.
#pragma once

#include <cstdio>
#include <string>

#include "model/mechanism.h"

namespace mechanism_summary {

inline std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

inline std::string at_line(int line, bool lines) { return lines ? "@" + std::to_string(line) : std::string(); }

inline std::string side(const mechanism& m, const std::vector<stoich>& terms) {
  std::string out;
  for (const stoich& t : terms) {
    if (!out.empty()) out += "+";
    if (t.coefficient != 1) out += std::to_string(t.coefficient);
    out += m.species.at(static_cast<std::size_t>(t.species));
  }
  return out;
}

inline std::string values(const std::vector<named_value>& vs, bool lines) {
  std::string out;
  for (const named_value& v : vs)
    out += " " + v.name + "=" + number(v.value) + (v.fixed ? "!" : "") + at_line(v.line, lines);
  return out;
}

inline std::string columns(const mechanism& m, bool lines) {
  std::string out;
  for (const column_model& c : m.columns) {
    out += " " + std::to_string(c.column) + "=";
    for (std::size_t i = 0; i < c.terms.size(); ++i) {
      const column_term& t = c.terms[i];
      if (i > 0) out += "+";
      if (t.number != 1) out += number(t.number) + "*";
      if (t.factor >= 0) out += m.factors.at(static_cast<std::size_t>(t.factor)).name + "*";
      out += m.species.at(static_cast<std::size_t>(t.species));
    }
    out += at_line(c.line, lines);
  }
  return out;
}

// "species A B | steps A->B | rates k=1 | initials A=1 B=0! | factors e=2 | columns 1=e*A | data dat.txt start 0"
inline std::string of(const mechanism& m, bool lines = false) {
  std::string out = "species";
  for (const std::string& s : m.species) out += " " + s;
  out += " | steps";
  for (const elementary_step& s : m.net.steps) out += " " + side(m, s.reactants) + "->" + side(m, s.products);
  out += " | rates" + values(m.rates, lines) + " | initials" + values(m.initials, lines);
  out += " | factors" + values(m.factors, lines) + " | columns" + columns(m, lines);
  out += " | data " + m.data + at_line(m.data_line, lines) + " start " + number(m.start);
  if (m.net.species != static_cast<int>(m.species.size())) out += " | species count " + std::to_string(m.net.species);
  return out;
}

}  // namespace mechanism_summary
