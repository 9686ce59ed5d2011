// The picture of a fit: measured points and model curves of every column,
// with the residuals in a panel below, drawn by gnuplot.
#pragma once

#include <functional>
#include <string>

#include "engine/problem.h"

namespace kinetics {

// Draws the columns of p for the values v, whose concentrations at the
// data's times are c, into the PNG file png (replaced only when gnuplot has
// drawn it completely); title heads the picture. Returns an empty string, or
// why there is no picture.
std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      const std::string& png);

// Draws the picture of a gnuplot script into png (replaced only when
// gnuplot has drawn it completely); script makes the script's text for the
// file it is to write. Returns an empty string, or why there is no picture.
std::string draw_script(const std::function<std::string(const std::string& out)>& script, const std::string& png);

// A text as a gnuplot string.
std::string gnuplot_string(const std::string& text);

}  // namespace kinetics
