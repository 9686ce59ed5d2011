// Baseline-corrected window sums for bandsum --baseline N, and the squared
// weights with which the samples enter them (for --noise).
//
// For every window and spectrum a straight line runs through two anchors:
// the mean x and mean intensity of N samples with x <= lo ("below") and of
// N samples with x >= hi ("above"), lo and hi the window's bounds. Which N
// samples, per side, in file order:
//  - when the spectrum begins on that side (its first sample lies there, as
//    the first sample of an ascending spectrum lies below every window), the
//    last N samples of that leading stretch, i.e. the N samples right before
//    the first sample that is not on that side;
//  - otherwise the first N samples of the spectrum that lie on that side.
// For an ascending spectrum these are the N samples right before the
// window's run of samples (below) and right after it (above); for a
// descending one the N right after the run (below) and right before it
// (above).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The anchor of one side of one window: count samples, their summed x
// (taken relative to the window's lower bound) and intensity.
struct anchor_sums {
  bool leading = true;  // every sample of the spectrum so far lies on this side
  bool done = false;    // the anchor is complete
  std::size_t count = 0;
  double sx = 0.0;
  double sy = 0.0;
};

// The sums of one window over the spectrum being read.
struct window_state {
  std::size_t inside = 0;  // samples with lo < x < hi
  double sx = 0.0;         // their summed x - lo
  double sy = 0.0;         // their summed intensity, in file order
  anchor_sums below;       // samples with x <= lo
  anchor_sums above;       // samples with x >= hi
};

// The last samples of the spectrum being read, at most n of them.
struct recent_samples {
  std::size_t n = 1;
  std::size_t next = 0;  // where the next sample goes once full
  std::vector<double> x, y;
};

// Starts a spectrum: forgets the samples of the one before.
void clear(recent_samples& recent);

// Remembers a sample (after the windows have seen it).
void remember(recent_samples& recent, double x, double y);

// Sample (x, y) of the spectrum, after seen samples of it, passes one side of
// the window with lower bound lo; on_side tells whether x lies on that side.
// recent holds the samples before it.
void anchor_step(anchor_sums& a, bool on_side, const recent_samples& recent, std::size_t seen, double x, double y,
                 double lo);

// Ends the spectrum for a side still in its leading stretch (all seen
// samples lie on it): its anchor becomes the last of them.
void anchor_finish(anchor_sums& a, const recent_samples& recent, std::size_t seen, double lo);

// Adds sample (x, y) to the window's sums, with anchors when baseline.
void window_step(window_state& w, double lo, double hi, bool baseline, const recent_samples& recent,
                 std::size_t seen, double x, double y);

// The baseline-corrected sum of a window and the sum of the squared weights
// of its samples: 1 for every inside sample, and for the anchor samples
// -(n - T) / NA below and -T / NB above, where n is the number of inside
// samples and T the sum over them of (x - xA) / (xB - xA). Without inside
// samples both are 0.
struct corrected_sum {
  double value = 0.0;
  double weights2 = 0.0;
};
corrected_sum baseline_corrected(const window_state& w);

// Checks the anchors of peak k after a spectrum: "" or a message ending in
// what is missing (the caller puts the spectrum before it).
std::string anchor_problem(const window_state& w, std::size_t k, std::size_t n);
