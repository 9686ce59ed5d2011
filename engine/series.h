// A series of spectra (times x channels) reduced, in one streaming pass, to
// what a fit of the whole matrix needs: its coordinates in an orthonormal
// basis of channel vectors that holds the known spectra exactly and as much
// of the rest of the data as a bounded rank allows. Memory grows with the
// number of spectra and with a few vectors of channels, not with the whole
// matrix.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/lm.h"

namespace kinetics {

// The series as the fit takes it. The matrix D of the series (one row per
// spectrum, one column per channel) is data * trans(basis) plus a part
// orthogonal to the basis whose sum of squares is discarded_ss (0 when the
// basis holds the whole series). The known spectra (one row each) are
// known * trans(basis), exactly.
struct reduced_series {
  vector_d t;                // the time of every spectrum
  std::size_t channels = 0;  // the width of D
  matrix_d data;             // spectra x basis vectors
  matrix_d known;            // known spectra x basis vectors
  matrix_d basis;            // channels x basis vectors, orthonormal columns
  vector_d singular;         // the singular values of data, largest first
  double total_ss = 0;       // the sum of squares of D
  double discarded_ss = 0;   // of the part of D outside the basis
  double largest = 0;        // the largest magnitude in D
  bool truncated() const { return discarded_ss > 0; }
};

// The number of basis vectors kept beside the known spectra for a series of
// this many channels: every channel up to 512 (the reduction is then
// exact), fewer for wider spectra so that a few million values suffice,
// 16 at the least.
std::size_t basis_limit(std::size_t channels);

// The singular values of a, largest first, without its singular vectors.
vector_d singular_values(matrix_d a);

// Reduces a series spectrum by spectrum. known holds one known spectrum per
// row (channels wide), max_rank the basis vectors kept beside them. Each
// spectrum is folded into a thin singular value decomposition of the rows
// seen so far, a block of them at a time (Brand's update); once the rank
// would exceed max_rank the smallest components are dropped and their sum
// of squares is counted as discarded. When the basis may hold every
// channel, the rows (as many values as the decomposition's left factor)
// are kept instead and decomposed once at the end.
class series_reduction {
 public:
  series_reduction(std::size_t channels, const matrix_d& known, std::size_t max_rank);
  // One spectrum of channels values at time t.
  void add(double t, const double* row);
  reduced_series finish();

 private:
  void fold();
  void decompose_rows();
  std::size_t channels_, max_rank_;
  bool whole_ = false;              // the basis may hold every channel: the rows are kept and decomposed once
  std::vector<double> rows_;        // then: every spectrum's rest after the known part, row after row
  matrix_d known_basis_, known_r_;  // known spectra = trans(known_r_ * trans(known_basis_))
  vector_d known_part_;             // every spectrum's coordinates in the known basis, row after row
  matrix_d u_, v_;                  // the thin decomposition u_ diagm(s_) trans(v_) of the rest
  matrix_d vt_;                     // while folding: trans(v_), whose rows run along the channels
  matrix_d spare_;                  // the memory of the basis before, for the next one
  dlib::matrix<double, 0, 1> row_;  // the spectrum being added, less its known part
  vector_d s_;
  matrix_d block_;                  // spectra not yet folded in, rest after the known part
  std::size_t in_block_ = 0;
  reduced_series out_;
};

}  // namespace kinetics
