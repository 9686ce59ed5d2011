#include "fitter/spectral_plot.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "fitter/pictures.h"
#include "fitter/plot.h"

namespace kinetics {

namespace {

// Indices 0 to n - 1, at most most of them, evenly spread.
std::vector<std::size_t> spread(std::size_t n, std::size_t most) {
  std::vector<std::size_t> out;
  const std::size_t k = std::min(n, most);
  for (std::size_t i = 0; i < k; ++i) out.push_back(k > 1 ? i * (n - 1) / (k - 1) : 0);
  return out;
}

// Indices 0, s, 2 s, ... below n, the least step s that gives at most most
// of them: an even grid stays even (and may lose up to s - 1 at its end),
// where spread would step by s or s + 1 and make it uneven.
std::vector<std::size_t> every_nth(std::size_t n, std::size_t most) {
  const std::size_t s = std::max<std::size_t>(1, (n + most - 1) / std::max<std::size_t>(most, 1));
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < n; i += s) out.push_back(i);
  return out;
}

std::string spectra_block(const spectral_data& s, const spectral_outcome& o) {
  std::string text = "$spectra << EOD\n";
  for (std::size_t c : spread(s.x.size(), 2000)) {
    text += format_g(s.x[c], 15);
    for (long a = 0; a < o.spectra.nr(); ++a) text += " " + format_g(o.spectra(a, static_cast<long>(c)), 10);
    text += "\n";
  }
  return text + "EOD\n";
}

std::string concentrations_block(const problem& p, const spectral_outcome& o, std::size_t first) {
  std::string text = "$conc << EOD\n";
  const std::size_t species = p.m.species.size();
  for (std::size_t i = 0; i < p.data.t.size(); ++i) {
    text += format_g(p.data.t[i], 15);
    for (std::size_t sp = 0; sp < species; ++sp) text += " " + format_g(o.c.c[(first + i) * species + sp], 10);
    text += "\n";
  }
  return text + "EOD\n";
}

std::string items(const std::string& block, const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t j = 0; j < names.size(); ++j) {
    text += (j ? ", " : "") + std::string("$") + block + " using 1:" + std::to_string(j + 2) +
            " with lines lw 2 lc " + std::to_string(j + 1) + " title " + gnuplot_string(names[j]);
  }
  return text;
}

std::string overview_script(const problem& p, const spectral_data& s, const spectral_outcome& o,
                            const std::string& title, std::size_t first) {
  std::string text = "set terminal pngcairo size 900,800 noenhanced font 'Sans,10'\nset output\n"
                     "set grid\nset lmargin 12\nset multiplot\n";
  text += spectra_block(s, o) + concentrations_block(p, o, first);
  text += "set origin 0,0.5\nset size 1,0.5\nset title " + gnuplot_string(title) +
          "\nset ylabel 'spectrum'\nset xlabel 'channel'\nplot " + items("spectra", unknown_names(p, s)) + "\n";
  text += "set origin 0,0\nset size 1,0.5\nunset title\nset ylabel 'concentration'\nset xlabel 'time'\nplot " +
          items("conc", p.m.species) + "\n";
  return text + "unset multiplot\n";
}

// Whether the values of v at the indices at, two or more, lie evenly
// spaced to a tenth of their step.
bool evenly_spaced(const vector_d& v, const std::vector<std::size_t>& at) {
  if (at.size() < 2) return false;
  const double from = v[at.front()], step = (v[at.back()] - from) / static_cast<double>(at.size() - 1);
  if (step == 0) return false;
  for (std::size_t i = 0; i < at.size(); ++i) {
    if (!(std::abs(v[at[i]] - (from + static_cast<double>(i) * step)) <= 0.1 * std::abs(step))) return false;
  }
  return true;
}

// The residuals at the times and channels shown: on an image, a matrix
// (the channels once, then every time with its row of cells), which is a
// third of the text of a cell per line; on a surface, a cell per line and a
// blank line after every time. The largest magnitude goes to top.
std::string map_block(const problem& p, const spectral_data& s, const spectral_outcome& o, std::size_t first,
                      const std::vector<std::size_t>& times, const std::vector<std::size_t>& channels, bool image,
                      double& top) {
  const matrix_d res = basis_residual(*s.series, o.linear);
  std::string text = "$map << EOD\n";
  if (image) {
    text += std::to_string(channels.size());
    for (std::size_t c : channels) text += " " + format_g(s.x[c], 10);
    text += "\n";
  }
  top = 0;
  for (std::size_t i : times) {
    if (image) text += format_g(p.data.t[i], 10);
    for (std::size_t c : channels) {
      const double v = -dlib::dot(dlib::rowm(res, static_cast<long>(first + i)), dlib::rowm(s.series->basis, static_cast<long>(c)));
      top = std::max(top, std::abs(v));
      text += image ? " " + format_g(v, 6)
                    : format_g(s.x[c], 10) + " " + format_g(p.data.t[i], 10) + " " + format_g(v, 6) + "\n";
    }
    text += "\n";
  }
  return text + "EOD\n";
}

// The residuals at up to 300 times and 300 channels, every nth of them,
// from the residual matrix in the series' basis. On an even grid of times
// and channels (the usual case) the cells are drawn as an image, which
// gnuplot renders in a third of the time it takes for the same cells as a
// surface seen from above; an uneven grid needs the surface, whose cells
// follow the positions.
std::string residual_script(const problem& p, const spectral_data& s, const spectral_outcome& o,
                            const std::string& title, std::size_t first) {
  const std::vector<std::size_t> channels = every_nth(s.x.size(), 300), times = every_nth(p.data.t.size(), 300);
  const bool image = evenly_spaced(s.x, channels) && evenly_spaced(p.data.t, times);
  std::string text = "set terminal pngcairo size 900,700 noenhanced font 'Sans,10'\nset output\n"
                     "set title " + gnuplot_string(title) + "\nset cblabel 'residual, data minus model'" +
                     "\nset xlabel 'channel'\nset ylabel 'time'\nset autoscale xfix\nset autoscale yfix\n" +
                     (image ? "" : "set view map\nset pm3d map corners2color c1\n") +
                     "set palette defined (-1 'blue', 0 'white', 1 'red')\n";
  double top = 0;
  text += map_block(p, s, o, first, times, channels, image, top);
  const std::string range = format_g(top > 0 ? top : 1, 6);
  return text + "set cbrange [-" + range + ":" + range + "]\n" +
         (image ? "plot $map nonuniform matrix using 1:2:3 with image notitle\n"
                : "splot $map using 1:2:3 with pm3d notitle\n");
}

}  // namespace

picture_job series_overview_job(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                const std::string& title, const std::string& name, std::size_t first) {
  return {name + ".png", overview_script(p, s, o, title, first), ""};
}

picture_job series_residual_job(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                const std::string& title, const std::string& name, std::size_t first) {
  return {name + ".residuals.png", residual_script(p, s, o, title, first), ""};
}

}  // namespace kinetics
