#include "fitter/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/escape.h"
#include "fitter/pictures.h"
#include "fitter/report.h"

namespace kinetics {

namespace {

// A gnuplot string in single quotes, where a quote is written twice and
// nothing is substituted; a control character, which could end the command,
// is shown escaped instead.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : visible(text)) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string column_title(const problem& p, const column_model& col) {
  std::string text = "column " + std::to_string(col.column) + " =";
  for (std::size_t i = 0; i < col.terms.size(); ++i) {
    const column_term& t = col.terms[i];
    text += i ? " + " : " ";
    if (t.number != 1) text += format_g(t.number) + " * ";
    if (t.factor >= 0) text += p.m.factors[static_cast<std::size_t>(t.factor)].name + " * ";
    text += p.m.species[static_cast<std::size_t>(t.species)];
  }
  return text;
}

// A gnuplot data block of rows: the time, then one value per column line.
template <class Value>
std::string block(const std::string& name, const vector_d& t, std::size_t columns, Value value) {
  std::string text = "$" + name + " << EOD\n";
  for (std::size_t i = 0; i < t.size(); ++i) {
    text += format_g(t[i], 15);
    for (std::size_t j = 0; j < columns; ++j) text += " " + format_g(value(j, i), 15);
    text += "\n";
  }
  return text + "EOD\n";
}

// The model's columns on 400 even steps from the start time (or the first
// data time, if earlier) to the last data time, for smooth curves.
std::string curves_block(const problem& p, const values& v) {
  const auto [lo, hi] = std::minmax_element(p.data.t.begin(), p.data.t.end());
  const double from = std::min(*lo, p.m.start);
  vector_d t;
  for (int i = 0; i <= 400; ++i) t.push_back(from + (*hi - from) * i / 400.0);
  problem fine = p;
  fine.data.t = t;
  trajectory c;
  if (!concentrations(fine, v, c).empty()) return block("model", {}, 0, [](std::size_t, std::size_t) { return 0.0; });
  return block("model", t, p.m.columns.size(), [&](std::size_t j, std::size_t i) {
    return column_value(fine, v, c, j, i);
  });
}

// Colours told apart with every common kind of colour blindness (Okabe and
// Ito's palette, without its yellow, which is hard to see on white).
std::string colour(std::size_t j) {
  static const char* const palette[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000"};
  return std::string("rgb '") + palette[j % 7] + "'";
}

// The items of a plot command, one per column line of the group.
std::string plot_items(const std::string& data, const std::vector<std::size_t>& group, const std::string& style,
                       const std::vector<std::string>& titles) {
  std::string text;
  for (std::size_t j : group) {
    text += (text.empty() ? "" : ", ") + std::string("$") + data + " using 1:" + std::to_string(j + 2) + " " + style +
            " lc " + colour(j) + (titles.empty() ? " notitle" : " title " + quoted(titles[j]));
  }
  return text;
}

// One group's pair of panels in the band [bottom, bottom + height) of the
// picture: measured points and curves above, residuals below.
std::string group_panels(const std::vector<std::size_t>& group, const std::vector<std::string>& titles, double bottom,
                         double height, bool top, bool last) {
  char place[128];
  std::snprintf(place, sizeof place, "set origin 0,%.4f\nset size 1,%.4f\n", bottom + 0.3 * height, 0.7 * height);
  std::string text = place;
  text += top ? "" : "unset title\n";
  text += "unset xlabel\nset ylabel 'measured and model'\n";
  text += "plot " + plot_items("measured", group, "with points pt 7 ps 0.6", titles) + ", " +
          plot_items("model", group, "with lines lw 2", {}) + "\n";
  std::snprintf(place, sizeof place, "set origin 0,%.4f\nset size 1,%.4f\n", bottom, 0.3 * height);
  text += place;
  text += "unset title\nset ylabel 'residual'\n" + std::string(last ? "set xlabel 'time'\n" : "");
  return text + "plot " + plot_items("residual", group, "with points pt 7 ps 0.4", {}) +
         ", 0 with lines lc 'black' notitle\n";
}

// The whole script; the picture goes to gnuplot's standard output, so that
// no file name is part of it.
std::string script(const problem& p, const values& v, const trajectory& c, const std::string& title) {
  const std::size_t n = p.m.columns.size();
  std::vector<std::string> titles;
  for (const column_model& col : p.m.columns) titles.push_back(column_title(p, col));
  const std::vector<std::vector<std::size_t>> groups = scale_groups(p);
  const int height = 800 + 300 * static_cast<int>(groups.size() - 1);
  std::string text = "set terminal pngcairo size 900," + std::to_string(height) +
                     " noenhanced font 'Sans,10'\nset output\nset grid\nset lmargin 12\nset multiplot\n";
  text += block("measured", p.data.t, n, [&](std::size_t j, std::size_t i) { return p.data.y[j][i]; });
  text += block("residual", p.data.t, n, [&](std::size_t j, std::size_t i) {
    return p.data.y[j][i] - column_value(p, v, c, j, i);
  });
  text += curves_block(p, v);
  const auto [lo, hi] = std::minmax_element(p.data.t.begin(), p.data.t.end());
  text += "set xrange [" + format_g(std::min(*lo, p.m.start), 15) + ":" + format_g(*hi, 15) + "]\n";
  text += "set title " + quoted(title) + "\n";
  const double band = 1.0 / static_cast<double>(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const double bottom = 1 - band * static_cast<double>(g + 1);
    text += group_panels(groups[g], titles, bottom, band, g == 0, g + 1 == groups.size());
  }
  return text + "unset multiplot\n";
}

}  // namespace

std::string gnuplot_string(const std::string& text) { return quoted(text); }

std::vector<std::vector<std::size_t>> scale_groups(const problem& p) {
  std::vector<std::pair<double, std::size_t>> sizes;
  for (std::size_t j = 0; j < p.data.y.size(); ++j) {
    double top = 0;
    for (double y : p.data.y[j]) top = std::max(top, std::abs(y));
    sizes.push_back({top, j});
  }
  std::stable_sort(sizes.begin(), sizes.end());
  std::vector<std::vector<std::size_t>> groups;
  double smallest = 0;
  for (const auto& [top, j] : sizes) {
    if (groups.empty() || top > 10 * smallest) {
      groups.emplace_back();
      smallest = top;
    }
    groups.back().push_back(j);
  }
  for (auto& g : groups) std::sort(g.begin(), g.end());
  std::reverse(groups.begin(), groups.end());  // the largest on top
  return groups;
}

std::string plot_script(const problem& p, const values& v, const trajectory& c, const std::string& title) {
  return script(p, v, c, title);
}

std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      std::string& png) {
  return draw_png([&] { return script(p, v, c, title); }, png);
}

std::string draw_png(const std::function<std::string()>& script, std::string& png) {
  std::vector<picture> drawn = draw_pictures({{"", script(), ""}});
  png = std::move(drawn.front().png);
  return drawn.front().error;
}

}  // namespace kinetics
