// The picture of a fit: measured points and model curves of every column,
// with the residuals in a panel below, drawn by gnuplot.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/problem.h"

namespace kinetics {

// The column lines of p in groups drawn on one scale, each in a panel of its
// own: by the largest measured size of each, a new group where it is more
// than ten times the group's smallest; the group of the largest first, each
// in the order of the column lines.
std::vector<std::vector<std::size_t>> scale_groups(const problem& p);

// Draws the columns of p for the values v, whose concentrations at the
// data's times are c, into the PNG file png (replaced only when gnuplot has
// drawn it completely); title heads the picture. Returns an empty string, or
// why there is no picture.
std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      const std::string& png);

// The pieces every picture shares: text as a gnuplot string, and a PNG
// file drawn by gnuplot from the script that script(output) makes for the
// path gnuplot is to write, replaced only when gnuplot has drawn it
// completely. Returns an empty string, or why there is no picture.
std::string gnuplot_string(const std::string& text);
std::string draw_png(const std::function<std::string(const std::string& output)>& script, const std::string& png);

}  // namespace kinetics
