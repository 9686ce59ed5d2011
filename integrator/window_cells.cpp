#include "integrator/window_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Cell numbers, with the bounds b[0] < ... < b[m - 1]: cell 2i is the open
// interval below b[i] (above b[i - 1]), cell 2i + 1 the point b[i], cell 2m
// the interval above b[m - 1]. A window from b[a] to b[z] holds exactly the
// cells 2a + 2 to 2z: the open intervals a + 1 to z and the points between.
std::size_t bound_index(const std::vector<double>& bounds, double v) {
  return static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), v) - bounds.begin());
}

}  // namespace

bool cut_cells(const std::vector<peak>& windows, window_cells& cells) {
  cells = window_cells{};
  for (const peak& w : windows) {
    if (std::isnan(w.lo) || std::isnan(w.hi)) return false;
    cells.bounds.push_back(w.lo);
    cells.bounds.push_back(w.hi);
  }
  std::sort(cells.bounds.begin(), cells.bounds.end());
  cells.bounds.erase(std::unique(cells.bounds.begin(), cells.bounds.end()), cells.bounds.end());

  // Count the windows of every cell, then fill them in, window by window.
  const std::size_t count = 2 * cells.bounds.size() + 1;
  std::vector<std::size_t> first(windows.size()), last(windows.size());
  std::vector<std::size_t> fill(count + 1, 0);
  std::size_t total = 0;
  for (std::size_t k = 0; k < windows.size(); ++k) {
    first[k] = 2 * bound_index(cells.bounds, windows[k].lo) + 2;
    last[k] = 2 * bound_index(cells.bounds, windows[k].hi) + 1;  // one past
    total += last[k] > first[k] ? last[k] - first[k] : 0;
    if (total > 64 * windows.size() + 4096) return false;
    for (std::size_t c = first[k]; c < last[k]; ++c) ++fill[c + 1];
  }
  for (std::size_t c = 0; c < count; ++c) fill[c + 1] += fill[c];
  cells.start.assign(fill.begin(), fill.end());
  cells.members.resize(total);
  for (std::size_t k = 0; k < windows.size(); ++k) {
    for (std::size_t c = first[k]; c < last[k]; ++c) cells.members[fill[c]++] = static_cast<std::uint32_t>(k);
  }
  return true;
}

void find_cell(window_cells& cells, double x) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  cells.left = cells.right = nan;
  cells.from = cells.to = 0;
  if (std::isnan(x)) return;
  const std::vector<double>& b = cells.bounds;
  const std::size_t i = bound_index(b, x);
  std::size_t cell = 2 * i;
  if (i < b.size() && b[i] == x) {
    cell = 2 * i + 1;  // a point: looked up again for the next sample
  } else {
    const double inf = std::numeric_limits<double>::infinity();
    cells.left = i > 0 ? b[i - 1] : -inf;
    cells.right = i < b.size() ? b[i] : inf;
  }
  cells.from = cells.start[cell];
  cells.to = cells.start[cell + 1];
}
