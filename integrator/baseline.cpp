#include "integrator/baseline.h"

#include <algorithm>

void clear(recent_samples& recent) {
  recent.next = 0;
  recent.x.clear();
  recent.y.clear();
}

void remember(recent_samples& recent, double x, double y) {
  if (recent.x.size() < recent.n) {
    recent.x.push_back(x);
    recent.y.push_back(y);
    return;
  }
  recent.x[recent.next] = x;
  recent.y[recent.next] = y;
  recent.next = recent.next + 1 == recent.n ? 0 : recent.next + 1;
}

namespace {

// The anchor becomes the last min(n, seen) remembered samples.
void take_recent(anchor_sums& a, const recent_samples& recent, std::size_t seen, double lo) {
  const std::size_t held = recent.x.size();
  const std::size_t count = std::min(held, seen);
  a.count = 0;
  a.sx = a.sy = 0.0;
  // Once full, the oldest sample sits at next; the last count end just before it.
  const std::size_t start = held < recent.n ? held - count : recent.next + held - count;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = (start + i) % held;
    a.sx += recent.x[at] - lo;
    a.sy += recent.y[at];
  }
  a.count = count;
  a.done = true;
}

}  // namespace

void anchor_step(anchor_sums& a, bool on_side, const recent_samples& recent, std::size_t seen, double x, double y,
                 double lo) {
  if (a.done) return;
  if (a.leading) {
    if (on_side) return;
    a.leading = false;
    if (seen > 0) {
      take_recent(a, recent, seen, lo);
      return;
    }
  }
  if (!on_side) return;
  ++a.count;
  a.sx += x - lo;
  a.sy += y;
  a.done = a.count == recent.n;
}

void anchor_finish(anchor_sums& a, const recent_samples& recent, std::size_t seen, double lo) {
  if (a.leading) take_recent(a, recent, seen, lo);
  a.leading = false;
}

void window_step(window_state& w, double lo, double hi, bool baseline, const recent_samples& recent,
                 std::size_t seen, double x, double y) {
  if (x < hi && x > lo) {
    ++w.inside;
    w.sx = (x - lo) + w.sx;
    w.sy = y + w.sy;
  }
  if (!baseline) return;
  anchor_step(w.below, x <= lo, recent, seen, x, y, lo);
  anchor_step(w.above, x >= hi, recent, seen, x, y, lo);
}

corrected_sum baseline_corrected(const window_state& w) {
  if (w.inside == 0) return {};
  const double n = static_cast<double>(w.inside);
  const double na = static_cast<double>(w.below.count);
  const double nb = static_cast<double>(w.above.count);
  const double xa = w.below.sx / na;
  const double ya = w.below.sy / na;
  const double xb = w.above.sx / nb;
  const double yb = w.above.sy / nb;
  const double t = (w.sx - n * xa) / (xb - xa);  // sum of (x - xA) / (xB - xA) over the inside samples
  corrected_sum c;
  c.value = w.sy - (ya * (n - t) + yb * t);
  c.weights2 = n + (n - t) * (n - t) / na + t * t / nb;
  return c;
}

std::string anchor_problem(const window_state& w, std::size_t k, std::size_t n) {
  for (const auto& [a, where] : {std::pair{&w.below, "at or below its lower bound"},
                                 std::pair{&w.above, "at or above its upper bound"}}) {
    if (a->count == 0) return "peak " + std::to_string(k) + " has no sample " + where + " for its baseline";
    if (a->count < n) {
      return "peak " + std::to_string(k) + " has only " + std::to_string(a->count) + " of the " + std::to_string(n) +
             " samples " + where + " that --baseline " + std::to_string(n) + " asks for";
    }
  }
  return {};
}
