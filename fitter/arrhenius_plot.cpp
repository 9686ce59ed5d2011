#include "fitter/arrhenius_plot.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "common/format.h"
#include "engine/experiments.h"
#include "fitter/pictures.h"
#include "fitter/plot.h"

namespace kinetics {

namespace {

// The steps whose rate constant depends on the temperature in experiment 0.
std::vector<std::size_t> temperature_steps(const problem& p) {
  std::vector<std::size_t> steps;
  for (std::size_t step = 0; step < p.m.steps(); ++step) {
    if (rate_uses_temperature(p, 0, step)) steps.push_back(step);
  }
  return steps;
}

// Per step: "1/T ln(k) se(ln k)" of every experiment, then the model's line.
std::string blocks(const problem& p, const fit_result& r, const std::vector<std::size_t>& steps, double lo, double hi) {
  std::string text;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    text += "$k" + std::to_string(s) + " << EOD\n";
    for (std::size_t e = 0; e < p.parts.size(); ++e) {
      const estimate k = part_rate(p, r, e, steps[s]);
      text += format_g(1 / p.parts[e].link.temperature, 15) + " " + format_g(std::log(k.value), 15) + " " +
              format_g(k.se / k.value, 15) + "\n";
    }
    text += "EOD\n$line" + std::to_string(s) + " << EOD\n";
    for (int i = 0; i <= 50; ++i) {
      const double t = lo + (hi - lo) * i / 50.0;
      text += format_g(1 / t, 15) + " " + format_g(std::log(part_rate_at(p, r, 0, steps[s], t)), 15) + "\n";
    }
    text += "EOD\n";
  }
  return text;
}

std::string script(const problem& p, const fit_result& r, const std::vector<std::size_t>& steps,
                   const std::string& title) {
  double lo = INFINITY, hi = 0;
  for (const problem& part : p.parts) lo = std::min(lo, part.link.temperature), hi = std::max(hi, part.link.temperature);
  std::string text = "set terminal pngcairo size 800,600 noenhanced font 'Sans,10'\nset output\n"
                     "set grid\nset title " + gnuplot_string(title) + "\nset xlabel '1 / T (1/K)'\nset ylabel 'ln k'\n";
  text += blocks(p, r, steps, lo, hi) + "plot ";
  for (std::size_t s = 0; s < steps.size(); ++s) {
    const std::string n = std::to_string(s), colour = " lc " + std::to_string(s + 1);
    text += (s ? ", " : "") + std::string("$k") + n + " using 1:2:3 with yerrorbars pt 7" + colour + " title " +
            gnuplot_string(p.m.rates[steps[s]].name) + ", $line" + n + " using 1:2 with lines lw 2" + colour +
            " notitle";
  }
  return text + "\n";
}

}  // namespace

bool draw_arrhenius(const problem& p, const fit_result& r, picture& out) {
  picture_job job{out.file, {}, {}};
  if (!arrhenius_job(p, r, job)) return false;
  out = std::move(draw_pictures({std::move(job)}).front());
  return true;
}

bool arrhenius_job(const problem& p, const fit_result& r, picture_job& job) {
  std::set<double> temperatures;
  for (const problem& part : p.parts) {
    if (part.m.temperature_line == 0) return false;
    temperatures.insert(part.link.temperature);
  }
  const std::vector<std::size_t> steps = p.parts.empty() ? std::vector<std::size_t>{} : temperature_steps(p);
  if (temperatures.size() < 3 || steps.empty()) return false;
  job.script = script(p, r, steps, p.m.file + ": ln k against 1 / T");
  return true;
}

}  // namespace kinetics
