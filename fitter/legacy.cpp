#include "fitter/legacy.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "common/atomic_file.h"
#include "common/cli.h"
#include "common/escape.h"
#include "common/file_identity.h"
#include "common/lines.h"
#include "common/numparse.h"
#include "common/table.h"
#include "fitter/models.h"
#include "fitter/report.h"

namespace kinetics {

namespace {

std::string fixed(const char* spec, double v) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, spec, v);
  return buffer;
}

// Whether the first data line of "dat.txt" holds a third number, the
// concentration of B; then every line must.
bool measures_b() {
  bool b = false;
  lines::for_each_line("dat.txt", [&](std::string_view line) {
    if (lines::classify(line) != lines::kind::data) return true;
    const char* p = line.data();
    double v = 0;
    int count = 0;
    while (count < 3 && numparse::scan_double(p, line.data() + line.size(), v)) ++count;
    b = count == 3;
    return false;
  });
  return b;
}

// The mechanism of A -> B with guess.txt's values, B0 held when B is not
// measured.
std::string mechanism_text(const table& guess, bool with_b, const std::string& sigma) {
  return "A -> B  k = " + fixed("%.17g", guess[0][0]) + "\nA = " + fixed("%.17g", guess[1][0]) + "\nB = " +
         fixed("%.17g", guess[1][1]) + (with_b ? "" : " fixed") + "\ncolumn 1 = A\n" +
         (with_b ? "column 2 = B\n" : "") + "data dat.txt\nstart " + fixed("%.17g", guess[2][0]) + "\n" +
         (sigma.empty() ? "" : "sigma " + (needs_quotes(sigma) ? quote_name(sigma) : sigma) + "\n");
}

std::string fit_text(const table& guess, const problem& p, const fit_result& r) {
  const double k = r.best.k[0], a0 = r.best.c0[0], b0 = r.best.c0[1];
  const double se_b0 = p.fitted.size() > 2 ? r.estimates[2].se : 0.0;
  return "# ratefit: first-order A -> B fitted to dat.txt; rows 0 to 2 serve as guess.txt for ratesim\n"
         "# row 0: k, per time unit\n" + fixed("%.12f", k) + "\n# row 1: A0 B0\n" + fixed("%.12f", a0) + " " +
         fixed("%.12f", b0) + "\n# row 2: begin_time end_time, as in guess.txt\n" + fixed("%.12f", guess[2][0]) +
         " " + fixed("%.12f", guess[2][1]) + "\n# row 3: standard errors of k, A0, B0 (0 for a value held fixed)\n" +
         fixed("%.12f", r.estimates[0].se) + " " + fixed("%.12f", r.estimates[1].se) + " " + fixed("%.12f", se_b0) +
         "\n# row 4: root-mean-square residual, number of residuals, iterations\n" + fixed("%.12f", r.rms) + " " +
         std::to_string(r.points) + " " + std::to_string(r.iterations) + "\n# row 5: half-life ln 2 / k\n" +
         fixed("%.12f", std::log(2.0) / k) + "\n";
}

std::string curve_text(const problem& p, const trajectory& c) {
  const bool with_b = p.m.columns.size() > 1;
  std::string text;
  for (std::size_t i = 0; i < p.data.t.size(); ++i) {
    text += fixed("%.6f", p.data.t[i]) + " " + fixed("%.9f", p.data.y[0][i]) + " " + fixed("%.9f", c.c[2 * i]) +
            " " + (with_b ? fixed("%.9f", p.data.y[1][i]) : "nan") + " " + fixed("%.9f", c.c[2 * i + 1]) + "\n";
  }
  return text;
}

// guess.txt as a problem, or why it cannot be one.
std::string guess_problem(const table& guess, const std::string& sigma, problem& out) {
  if (guess.size() < 3 || guess[0].empty() || guess[1].size() < 2 || guess[2].size() < 2) {
    return "\"guess.txt\" must hold three rows: k; A0 B0; begin_time end_time";
  }
  if (!(guess[0][0] > 0) || !std::isfinite(guess[0][0])) {
    return "the rate constant k of \"guess.txt\" must be a number above 0: it is fitted as a positive value";
  }
  if (!std::isfinite(guess[1][0]) || !std::isfinite(guess[1][1]) || !std::isfinite(guess[2][0])) {
    return "A0, B0 and begin_time of \"guess.txt\" must be finite numbers";
  }
  mechanism m;
  if (std::string error = parse_mechanism("guess.txt", mechanism_text(guess, measures_b(), sigma), m);
      !error.empty()) {
    return error;
  }
  m.missing_cells = false;  // this mode's dat.txt has always needed every cell
  loaded l = load_measurements(std::move(m));
  if (!l.error.empty()) return l.error;
  out = std::move(l.p);
  if (residual_count(out) <= out.fitted.size()) {
    return "\"dat.txt\" holds too few points for " + std::to_string(out.fitted.size()) + " fitted values";
  }
  return {};
}

// The name of fitted value i as guess.txt holds it: k, A0 or B0.
std::string guess_name(const problem& p, std::size_t i) {
  if (p.fitted[i].kind == role::rate) return "k";
  return p.fitted[i].index == 0 ? "A0" : "B0";
}

std::string guess_names(const problem& p, const std::vector<std::size_t>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == values.size() ? " and " : ", ") + guess_name(p, values[i]);
  }
  return text;
}

// What a failed fit of this mode blames, in words, and what to try here,
// where guess.txt holds the starting values and nothing can be held fixed:
// as blame_text, and k itself when the fit ends because k falls to 0 or
// grows without bound.
std::string guess_blame(const problem& p, const fit_result& r) {
  blame b = r.blamed;
  const bool none = b.to_zero.empty() && b.to_infinity.empty() && b.undetermined.empty();
  if (none && r.status == fit_status::rate_falls_to_0) b.to_zero = {0};
  if (none && r.status == fit_status::rate_unbounded) b.to_infinity = {0};
  std::string text;
  if (!b.to_zero.empty()) {
    text += "; k runs towards 0 (hardly any A reacts within the times of \"dat.txt\": check that its column 1 is A, "
            "or start k in row 0 of \"guess.txt\" nearer its value)";
  }
  if (!b.to_infinity.empty()) {
    text += "; k grows without bound (A is gone before the first times of \"dat.txt\": the data need earlier "
            "times, or start k in row 0 of \"guess.txt\" nearer its value)";
  }
  if (!b.undetermined.empty()) {
    const bool one = b.undetermined.size() == 1;
    text += "; the data do not determine " + guess_names(p, b.undetermined) + (one ? "" : " apart") +
            " (start " + (one ? "it" : "them") + " in \"guess.txt\" nearer " + (one ? "its value" : "their values") +
            "; \"dat.txt\" needs rows at several times; a mechanism file can hold a value fixed)";
  }
  return text;
}

// Why the fit has no result, naming the values to blame.
std::string guess_failure(const problem& p, const fit_result& r, const fit_settings& settings) {
  if (r.status == fit_status::out_of_time) return failure_text(p, r, settings);
  return r.failure + guess_blame(p, r);
}

}  // namespace

int fit_guess(const std::string& sigma, const fit_settings& settings) {
  std::vector<std::string> inputs{"guess.txt", "dat.txt"};
  if (!sigma.empty()) inputs.push_back(sigma);
  if (std::string error = result_is_input({"fit.txt", "fitcurve.txt"}, inputs); !error.empty()) {
    return cli::fail("ratefit", error);
  }
  const table guess = fileIn("guess.txt");
  problem p;
  if (std::string error = guess_problem(guess, sigma, p); !error.empty()) return cli::fail("ratefit", error);
  std::cout << "\n ratefit: first-order A -> B fitted to \"dat.txt\", starting from \"guess.txt\"\n" << std::endl;
  const fit_result r = fit(p, settings);
  if (!r.failure.empty()) return cli::fail("ratefit", guess_failure(p, r, settings) + "; no result was written");
  for (const std::string& line : report_lines(p, r)) std::cout << line << "\n";
  trajectory c;
  if (std::string error = concentrations(p, r.best, c); !error.empty()) return cli::fail("ratefit", error);
  const std::string fit_bytes = fit_text(guess, p, r), curve_bytes = curve_text(p, c);
  if (std::string error = replace_files({{"fit.txt", fit_bytes}, {"fitcurve.txt", curve_bytes}}); !error.empty()) {
    return cli::fail("ratefit", error);
  }
  std::cout << "\n Saving \"fit.txt\" and \"fitcurve.txt\" \n" << std::endl;
  return 0;
}

}  // namespace kinetics
