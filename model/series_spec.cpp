#include "model/series_spec.h"

#include <algorithm>

#include "common/numparse.h"

namespace {

std::string in_quotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

bool blank(char c) { return c != '\n' && numparse::is_space(c); }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The first word of s, and s after it.
std::string_view first_word(std::string_view s, std::string_view& rest) {
  s = trimmed(s);
  std::size_t e = 0;
  while (e < s.size() && !blank(s[e])) ++e;
  rest = s.substr(e);
  return s.substr(0, e);
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  for (std::string_view w = first_word(s, s); !w.empty(); w = first_word(s, s)) out.push_back(w);
  return out;
}

// A word that is a number as a whole.
bool number(std::string_view w, double& out) {
  const char* p = w.data();
  return numparse::scan_double(p, w.data() + w.size(), out) && p == w.data() + w.size();
}

std::string twice(const std::string& what, int first) {
  return what + " is given twice (first on line " + std::to_string(first) + ")";
}

std::string take_path(std::string_view rest, int line, const std::string& prefix, const char* what,
                      series_path& out) {
  if (out.line != 0) return twice(what, out.line);
  const std::string_view path = trimmed(rest);
  if (path.empty()) return "expected a file name after " + in_quotes(trimmed(prefix));
  out = {line, prefix, std::string(path)};
  return {};
}

std::string take_times(std::string_view rest, int line, series_spec& s) {
  if (s.times.line != 0 || s.step_line != 0) return twice("\"series times\"", std::max(s.times.line, s.step_line));
  const std::vector<std::string_view> w = words(rest);
  double start = 0, step = 0;
  if (w.size() == 2 && number(w[0], start) && number(w[1], step)) {
    if (!(step > 0)) return "the time step " + in_quotes(w[1]) + " must be above 0";
    s.start = start, s.step = step, s.step_line = line;
    return {};
  }
  return take_path(rest, line, "series times ", "\"series times\"", s.times);
}

std::string take_channels(std::string_view rest, int line, series_spec& s) {
  if (s.channels_line != 0) return twice("\"series channels\"", s.channels_line);
  const std::vector<std::string_view> w = words(rest);
  if (w.empty() || w.size() % 2 != 0) return "\"series channels\" takes pairs of bounds LO HI, found " +
                                             std::to_string(w.size()) + " words";
  for (std::size_t i = 0; i < w.size(); i += 2) {
    double lo = 0, hi = 0;
    if (!number(w[i], lo)) return in_quotes(w[i]) + " is not a number";
    if (!number(w[i + 1], hi)) return in_quotes(w[i + 1]) + " is not a number";
    s.channels.emplace_back(std::min(lo, hi), std::max(lo, hi));
  }
  s.channels_line = line;
  return {};
}

std::string take_absorbing(std::string_view rest, int line, series_spec& s) {
  if (s.absorbing_line != 0) return twice("\"series absorbing\"", s.absorbing_line);
  for (std::string_view w : words(rest)) s.absorbing_names.emplace_back(w);
  if (s.absorbing_names.empty()) return "expected the absorbing species after \"series absorbing\"";
  s.absorbing_line = line;
  return {};
}

std::string take_known(std::string_view rest, int line, series_spec& s) {
  known_spectrum k;
  std::string_view after;
  k.name = first_word(rest, after);
  if (k.name.empty()) return "expected a species and a file after \"series known\"";
  for (const known_spectrum& other : s.known) {
    if (other.name == k.name) return twice("the spectrum of " + in_quotes(k.name), other.file.line);
  }
  if (std::string e = take_path(after, line, "series known " + k.name + " ", "", k.file); !e.empty()) return e;
  s.known.push_back(std::move(k));
  return {};
}

std::string take_flag(std::string_view rest, int line, const std::string& what, bool& flag, int& flag_line) {
  if (flag_line != 0) return twice(what, flag_line);
  if (!trimmed(rest).empty()) return "expected the end of the line after " + what;
  flag = true, flag_line = line;
  return {};
}

series_error at(int line, std::string message) { return {line, std::move(message)}; }

int species_index(const std::vector<std::string>& species, const std::string& name) {
  const auto it = std::find(species.begin(), species.end(), name);
  return it == species.end() ? -1 : static_cast<int>(it - species.begin());
}

std::string beside(const std::string& file, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? name : file.substr(0, slash + 1) + name;
}

series_error resolve_species(series_spec& s, const std::vector<std::string>& species) {
  for (known_spectrum& k : s.known) {
    k.species = species_index(species, k.name);
    if (k.species < 0) return at(k.file.line, "species " + in_quotes(k.name) + " is in no reaction");
  }
  const auto is_known = [&](int sp) {
    return std::any_of(s.known.begin(), s.known.end(), [&](const known_spectrum& k) { return k.species == sp; });
  };
  for (const std::string& name : s.absorbing_names) {
    const int sp = species_index(species, name);
    if (sp < 0) return at(s.absorbing_line, "species " + in_quotes(name) + " is in no reaction");
    if (is_known(sp)) return at(s.absorbing_line, in_quotes(name) + " has a known spectrum and cannot absorb unknown");
    if (std::find(s.absorbing.begin(), s.absorbing.end(), sp) != s.absorbing.end())
      return at(s.absorbing_line, in_quotes(name) + " is named twice");
    s.absorbing.push_back(sp);
  }
  for (int sp = 0; s.absorbing_names.empty() && sp < static_cast<int>(species.size()); ++sp) {
    if (!is_known(sp)) s.absorbing.push_back(sp);
  }
  return {};
}

}  // namespace

std::string parse_series_line(std::string_view rest, int line, series_spec& s) {
  if (trimmed(rest).starts_with("=")) return "\"series\" is a keyword, not a name";
  if (s.line == 0) s.line = line;
  std::string_view after;
  const std::string_view what = first_word(rest, after);
  if (what == "table") {
    s.table = true;
    return take_path(after, line, "series table ", "the series", s.file);
  }
  if (what == "times") return take_times(after, line, s);
  if (what == "channels") return take_channels(after, line, s);
  if (what == "absorbing") return take_absorbing(after, line, s);
  if (what == "known") return take_known(after, line, s);
  if (what == "offset") return take_flag(after, line, "\"series offset\"", s.offset, s.offset_line);
  if (what == "nonnegative") return take_flag(after, line, "\"series nonnegative\"", s.nonnegative, s.nonnegative_line);
  return take_path(rest, line, "series ", "the series", s.file);
}

series_error resolve_series(series_spec& s, const std::vector<std::string>& species, const std::string& file) {
  if (s.line == 0) return {};
  if (s.file.line == 0) return at(s.line, "no series file: add \"series FILE\" or \"series table FILE\"");
  if (s.table && (s.times.line != 0 || s.step_line != 0)) {
    return at(std::max(s.times.line, s.step_line),
              "a matrix table holds its times in its first column; remove \"series times\"");
  }
  if (!s.table && s.times.line == 0 && s.step_line == 0) {
    return at(s.file.line, "the series needs its times: \"series times FILE\" or \"series times START STEP\"");
  }
  if (series_error e = resolve_species(s, species); e.line != 0) return e;
  if (s.absorbing.empty() && !s.offset) return at(s.line, "no species absorbs: every spectrum is known");
  for (series_path* p : {&s.file, &s.times}) {
    if (p->line != 0) p->path = beside(file, p->path);
  }
  for (known_spectrum& k : s.known) k.file.path = beside(file, k.file.path);
  return {};
}

void write_series_paths(const series_spec& s, std::vector<std::string>& lines) {
  std::vector<const series_path*> paths{&s.file, &s.times};
  for (const known_spectrum& k : s.known) paths.push_back(&k.file);
  for (const series_path* p : paths) {
    if (p->line >= 1 && static_cast<std::size_t>(p->line) <= lines.size()) {
      lines[static_cast<std::size_t>(p->line) - 1] = p->prefix + p->path;
    }
  }
}
