// Doubles side by side, for the kernels of the engine and the model (not
// for callers).
//
// A kernel holds a few outputs in these while it runs over the rows of its
// inputs, so that every value read from cache serves several outputs. Each
// output still gets its own additions in the plain order, so the bits are
// those of a loop over one output at a time.
//
// A kernel written for four<V> runs four doubles at a time, as two pairs on
// any x86-64 (SSE2 has them; GCC makes scalar code of them elsewhere) and as
// one quad where the processor has AVX (with_avx picks).
// Without fused multiply-adds (-ffp-contract=off) the two do the same
// operations in the same order: the same bits on every machine.
#pragma once

#include <cstring>

namespace kinetics::lanes {

using pair_d = double __attribute__((vector_size(16)));

// Quads are built only into kernels compiled for AVX and never cross a call
// there (everything of four is inlined), so the ABI note does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

using quad_d = double __attribute__((vector_size(32)));

// Four doubles as vectors V: two pairs, or one quad.
template <class V>
struct four {
  static constexpr int per = sizeof(V) / sizeof(double);  // doubles in a vector
  static constexpr int n = 4 / per;                       // vectors
  V v[n];

  [[gnu::always_inline]] static four load(const double* p) {
    four f;
    for (int i = 0; i < n; ++i) {
      V x;
      std::memcpy(&x, p + i * per, sizeof x);
      f.v[i] = x;
    }
    return f;
  }
  [[gnu::always_inline]] void store(double* p) const {
    for (int i = 0; i < n; ++i) {
      const V x = v[i];
      std::memcpy(p + i * per, &x, sizeof x);
    }
  }
  // Written as a list, not lane by lane: GCC then broadcasts in one
  // instruction, and inside loops straight from memory.
  [[gnu::always_inline]] static four all(double x) {
    four f;
    for (int i = 0; i < n; ++i) {
      if constexpr (per == 4) {
        f.v[i] = V{x, x, x, x};
      } else {
        f.v[i] = V{x, x};
      }
    }
    return f;
  }
  [[gnu::always_inline]] four& operator+=(const four& o) {
    for (int i = 0; i < n; ++i) v[i] += o.v[i];
    return *this;
  }
  [[gnu::always_inline]] four& operator-=(const four& o) {
    for (int i = 0; i < n; ++i) v[i] -= o.v[i];
    return *this;
  }
  [[gnu::always_inline]] four operator*(const four& o) const {
    four r;
    for (int i = 0; i < n; ++i) r.v[i] = v[i] * o.v[i];
    return r;
  }
  [[gnu::always_inline]] double operator[](int i) const { return v[i / per][i % per]; }
};

#pragma GCC diagnostic pop

// Whether the kernels may take AVX where the processor has it; tests turn
// it off to compare the two.
inline bool& avx_allowed() {
  static bool allowed = true;
  return allowed;
}

// Whether the kernels take AVX: this processor (and its system) runs it,
// asked once, and it is allowed.
inline bool with_avx() {
#if defined(__x86_64__)
  static const bool has = __builtin_cpu_supports("avx");
  return has && avx_allowed();
#else
  return false;
#endif
}

}  // namespace kinetics::lanes

// Marks the AVX build of a kernel: a function that calls a kernel written
// for four<quad_d>, whose helpers are all inlined into it.
#if defined(__x86_64__)
#define KINETICS_AVX __attribute__((target("avx")))
#else
#define KINETICS_AVX
#endif
