// Two doubles side by side, for the engine's kernels (not for callers).
//
// A kernel holds a few outputs in these while it runs over the rows of its
// inputs, so that every value read from cache serves several outputs. Each
// output still gets its own additions in the plain order, so the bits are
// those of a loop over one output at a time. Plain x86-64 (SSE2) has them;
// GCC makes scalar code of them elsewhere.
#pragma once

#include <cstring>

namespace kinetics::lanes {

using pair_d = double __attribute__((vector_size(16)));

inline pair_d load(const double* p) {
  pair_d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store(double* p, pair_d v) { std::memcpy(p, &v, sizeof v); }

inline pair_d both(double f) { return pair_d{f, f}; }

}  // namespace kinetics::lanes
