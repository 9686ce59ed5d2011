// The picture of a fit: measured points and model curves of every column,
// with the residuals in a panel below, drawn by gnuplot.
#pragma once

#include <string>

#include "engine/problem.h"

namespace kinetics {

// Draws the columns of p for the values v, whose concentrations at the
// data's times are c, as a PNG picture into png; title heads the picture.
// gnuplot gets its script through a file of no name and writes the picture
// to a pipe; a signal that ends ratefit stops it. Returns an empty string,
// or why there is no picture: gnuplot missing or failed, or a picture that
// is not a whole PNG file (no IEND chunk at its end) or is over 64 MiB.
std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      std::string& png);

}  // namespace kinetics
