// The peak windows as cells of the x axis: the distinct bounds cut the axis
// into open intervals and the bounds themselves, and every cell lies inside
// a fixed set of windows. A sample is then added to the windows of its cell
// alone, found in a couple of comparisons while x stays in the cell of the
// sample before, instead of being tested against every window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "integrator/kinet_integ.h"

struct window_cells {
  std::vector<double> bounds;          // the distinct bounds, ascending
  std::vector<std::uint32_t> start;    // cell c holds members[start[c]] to members[start[c + 1]] - 1
  std::vector<std::uint32_t> members;  // window indices
  // The cell of the last sample when it is an open interval (left, right),
  // and where its windows are in members; left = right = NaN when there is
  // no such cell.
  double left = std::numeric_limits<double>::quiet_NaN();
  double right = std::numeric_limits<double>::quiet_NaN();
  std::size_t from = 0;
  std::size_t to = 0;
};

// Cuts the axis by the windows. Returns false, when a bound is NaN or when
// the windows overlap so much that the cells would hold more than about 64
// memberships per window: then genIntegral is the way.
bool cut_cells(const std::vector<peak>& windows, window_cells& cells);

// Finds the cell of x and sets it as the last one (NaN has no windows).
void find_cell(window_cells& cells, double x);

// Makes the cell of x the last one: a couple of comparisons while x stays in
// the cell of the sample before.
inline void locate(window_cells& cells, double x) {
  if (!(cells.left < x && x < cells.right)) find_cell(cells, x);
}

// Adds y to sums[k] for every window k of the last cell.
inline void add_to_cell(const window_cells& cells, double y, std::vector<double>& sums) {
  for (std::size_t i = cells.from; i != cells.to; ++i) sums[cells.members[i]] = y + sums[cells.members[i]];
}

// Adds y to sums[k] for every window k with lo < x < hi, as genIntegral does
// with the same windows.
inline void add_sample(window_cells& cells, double x, double y, std::vector<double>& sums) {
  locate(cells, x);
  add_to_cell(cells, y, sums);
}
