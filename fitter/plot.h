// The picture of a fit: measured points and model curves of every column,
// with the residuals in a panel below, drawn by gnuplot.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/problem.h"

namespace kinetics {

// A picture drawn for a result file: its PNG bytes, or why there are none.
struct picture {
  std::string file;
  std::string png;
  std::string error;
};


// The column lines of p in groups drawn on one scale, each in a panel of its
// own: by the largest measured size of each, a new group where it is more
// than ten times the group's smallest; the group of the largest first, each
// in the order of the column lines.
std::vector<std::vector<std::size_t>> scale_groups(const problem& p);

// Draws the columns of p for the values v, whose concentrations at the
// data's times are c, as a PNG picture into png; title heads the picture.
// gnuplot gets its script through a file of no name and writes the picture
// to a pipe; a signal that ends ratefit stops it. Returns an empty string,
// or why there is no picture: gnuplot missing or failed, or a picture that
// is not a whole PNG file (no IEND chunk at its end) or is over 64 MiB.
std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      std::string& png);

// The gnuplot script of that picture, to draw with others (fitter/pictures.h).
std::string plot_script(const problem& p, const values& v, const trajectory& c, const std::string& title);

// The pieces every picture shares: text as a gnuplot string, and a PNG
// picture drawn by gnuplot, as draw_plot draws, from the script that
// script() makes; the script must send the picture to gnuplot's standard
// output ("set output" without a name). Returns an empty string, or why
// there is no picture.
std::string gnuplot_string(const std::string& text);
std::string draw_png(const std::function<std::string()>& script, std::string& png);


}  // namespace kinetics
