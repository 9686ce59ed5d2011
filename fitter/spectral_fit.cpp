#include "fitter/spectral_fit.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "engine/experiments.h"
#include "fitter/series_file.h"
#include "fitter/series_relay.h"
#include "fitter/series_split.h"

namespace kinetics {

namespace {

// Reads the known spectra on the channels x.
std::string read_known(const mechanism& m, const vector_d& x, matrix_d& known) {
  known.set_size(static_cast<long>(m.series.known.size()), static_cast<long>(x.size()));
  for (std::size_t k = 0; k < m.series.known.size(); ++k) {
    std::vector<double> values;
    if (std::string e = read_known_spectrum(m.series.known[k], m.series, x, values); !e.empty()) return e;
    for (std::size_t c = 0; c < values.size(); ++c) known(static_cast<long>(k), static_cast<long>(c)) = values[c];
  }
  return {};
}

// The numbers of a report line: "label v1 v2 ...", at most ten of them.
std::string values_line(const std::string& label, const vector_d& v) {
  std::string text = "  " + label;
  for (std::size_t i = 0; i < v.size() && i < 10; ++i) text += " " + format_g(v[i], 4);
  if (v.size() > 10) text += " ...";
  return text;
}

// Which species the series of m sees.
spectral_setup setup_of(const mechanism& m) {
  spectral_setup setup;
  setup.absorbing = m.series.absorbing;
  setup.offset = m.series.offset;
  setup.nonnegative = m.series.nonnegative;
  for (const known_spectrum& k : m.series.known) setup.known.push_back(k.species);
  return setup;
}

// Reads the series of every experiment of m (the file's own when it has
// none) again, in order, handing on each spectrum with its index in all of
// them; maps are those of the first reading.
std::string read_every_series(const mechanism& m, const spectral_data& s, const series_events& events) {
  const series_map none;
  const auto map = [&](std::size_t i) -> const series_map& { return i < s.maps.size() ? s.maps[i] : none; };
  if (m.blocks.empty()) return reread_series(m.series, m.start, map(0), s.x.size(), events);
  std::size_t before = 0, seen = 0, file = 0;
  series_events each = events;
  each.spectrum = [&](std::size_t i, double t, const double* row) {
    events.spectrum(before + i, t, row);
    seen = before + i + 1;
  };
  for (int e : experiments_of(m)) {
    experiment_link link;
    const mechanism view = experiment_view(m, e, link);
    if (std::string error = reread_series(view.series, view.start, map(file++), s.x.size(), each); !error.empty()) {
      return error;
    }
    before = seen;
  }
  return {};
}

}  // namespace

std::string load_experiment_series(const mechanism& m, spectral_data& out, std::vector<measured>& data) {
  std::unique_ptr<series_reduction> reduction;
  out.setup = setup_of(m);
  std::string first;
  for (int e : experiments_of(m)) {
    experiment_link link;
    const mechanism view = experiment_view(m, e, link);
    measured& d = data.emplace_back();
    series_events events;
    events.grid = [&](const vector_d& x) -> std::string {
      if (reduction) {
        if (x == out.x) return {};
        return view.series.file.path + ": its channels are not those of " + first +
               ": the series of every experiment need the same channels (after \"series channels\")";
      }
      first = view.series.file.path;
      out.x = x;
      if (std::string error = read_known(m, x, out.known); !error.empty()) return error;
      reduction = std::make_unique<series_reduction>(x.size(), out.known, basis_limit(x.size()));
      return {};
    };
    events.spectrum = [&](std::size_t, double t, const double* row) {
      reduction->add(t, row);
      d.t.push_back(t);
    };
    if (std::string error = read_series_relayed(view.series, view.start, events, &out.maps.emplace_back());
        !error.empty()) {
      return error;
    }
  }
  out.series = std::make_shared<const reduced_series>(reduction->finish());
  return {};
}

std::string series_concentrations(const problem& p, const values& v, trajectory& out) {
  if (p.parts.empty()) return concentrations(p, v, out);
  return stacked_concentrations(p, to_solver(p, v), false, out);
}

std::string load_series(const mechanism& m, spectral_data& out) {
  std::unique_ptr<series_reduction> reduction;
  out.setup = setup_of(m);
  series_events events;
  events.grid = [&](const vector_d& x) -> std::string {
    out.x = x;
    if (std::string e = read_known(m, x, out.known); !e.empty()) return e;
    reduction = std::make_unique<series_reduction>(x.size(), out.known, basis_limit(x.size()));
    return {};
  };
  events.spectrum = [&](std::size_t, double t, const double* row) { reduction->add(t, row); };
  // Finished on the thread that folded the spectra, whose freed memory the
  // basis then takes (megabytes of fresh pages otherwise).
  const auto finish = [&] {
    if (reduction) out.series = std::make_shared<const reduced_series>(reduction->finish());
  };
  if (std::string e = read_series_relayed(m.series, m.start, events, &out.maps.emplace_back(), finish); !e.empty()) {
    return e;
  }
  return {};
}

problem spectral_problem(mechanism m, const spectral_data& s) {
  measured data;
  data.t = s.series->t;
  problem p = make_problem(std::move(m), std::move(data));
  p.model = spectral_model(s.series, s.setup);
  return p;
}

std::string spectral_linear_of(const problem& p, const spectral_data& s, const fit_result& r, spectral_outcome& out) {
  if (std::string e = series_concentrations(p, r.best, out.c); !e.empty()) return e;
  if (std::string e = linear_at(s.setup, out.c, p.m.species.size(), out.linear); !e.empty()) return e;
  const double sigma = r.dof > 0 ? std::sqrt(r.ssr / r.dof) : 0.0;
  out.se.clear();
  for (double d : out.linear.inverse_diagonal) out.se.push_back(sigma * std::sqrt(d));
  out.rank = series_rank(*s.series, s.setup, out.linear, sigma);
  return {};
}

std::string read_spectra(const problem& p, const spectral_data& s, spectral_outcome& out) {
  spectra_pass pass(out.linear, s.known, s.x.size());
  series_events events;
  events.grid = [](const vector_d&) { return std::string(); };
  events.spectrum = [&](std::size_t i, double, const double* row) { pass.add(i, row); };
  if (std::string e = read_every_series(p.m, s, events); !e.empty()) return e;
  out.spectra = pass.spectra(s.setup.nonnegative);
  return {};
}

std::vector<std::string> rank_lines(const spectral_data& s, const spectral_outcome& o) {
  const reduced_series& r = *s.series;
  std::vector<std::string> lines;
  std::string basis = "  series: " + std::to_string(r.t.size()) + " spectra x " + std::to_string(r.channels) +
                      " channels, reduced to " + std::to_string(r.basis.nc()) + " basis vectors";
  basis += r.truncated() ? ", which hold all but " + format_g(r.discarded_ss / r.total_ss, 3) +
                               " of its sum of squares"
                         : ", which hold all of it";
  lines.push_back(basis);
  lines.push_back(values_line("singular values of the data:", o.rank.data));
  lines.push_back(values_line("singular values of the residuals:", o.rank.residual));
  lines.push_back("  components above the noise (" + format_g(o.rank.noise_level, 4) + "): " +
                  std::to_string(o.rank.above_noise) + "; spectra fitted: " +
                  std::to_string(o.rank.unknown_columns) + "; condition of their concentrations " +
                  format_g(o.rank.condition, 4));
  for (const std::string& w : o.rank.warnings) lines.push_back("  warning: " + w);
  return lines;
}

std::vector<std::string> unknown_names(const problem& p, const spectral_data& s) {
  std::vector<std::string> names;
  for (int a : s.setup.absorbing) names.push_back(p.m.species[static_cast<std::size_t>(a)]);
  if (s.setup.offset) names.push_back("offset");
  return names;
}

std::string spectra_file(const problem& p, const spectral_data& s, const spectral_outcome& o,
                         const std::string& heading) {
  std::string text = "# " + heading + "\n# x";
  for (const std::string& name : unknown_names(p, s)) text += " " + name + " " + name + "_se";
  text += "\n";
  // A spectrum's standard error is the same on every channel: formatted once.
  std::vector<std::string> se;
  for (long a = 0; a < o.spectra.nr(); ++a) se.push_back(" " + format_g(o.se[static_cast<std::size_t>(a)], 4));
  for (std::size_t c = 0; c < s.x.size(); ++c) {
    const std::size_t row_start = text.size();
    text += format_g(s.x[c], 15);
    for (long a = 0; a < o.spectra.nr(); ++a) {
      text += ' ';
      text += format_g(o.spectra(a, static_cast<long>(c)));
      text += se[static_cast<std::size_t>(a)];
    }
    text += '\n';
    // Megabytes for wide spectra: room for rows somewhat longer than the
    // first, rather than copies as the text grows.
    if (c == 0) text.reserve(text.size() + (text.size() - row_start + 8) * s.x.size());
  }
  return text;
}

std::string concentration_file(const problem& p, const trajectory& c, const std::string& heading) {
  std::string text = "# " + heading + "\n# t";
  for (const std::string& name : p.m.species) text += " " + name;
  text += "\n";
  const std::size_t species = p.m.species.size();
  for (std::size_t i = 0; i < p.data.t.size(); ++i) {
    text += format_g(p.data.t[i], 15);
    for (std::size_t sp = 0; sp < species; ++sp) text += " " + format_g(c.c[i * species + sp]);
    text += "\n";
  }
  return text;
}

}  // namespace kinetics
