// The whole matrix of a spectral series as a residual model: the series is
// the concentrations of the absorbing species times their unknown spectra,
// plus the known spectra of other species, plus noise. The unknown spectra
// are eliminated by linear least squares at every evaluation (variable
// projection), so the search varies the rate constants and initial
// concentrations only; the Jacobian of the projected residuals is Golub and
// Pereyra's, from the concentration sensitivities.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/problem.h"
#include "engine/series.h"

namespace kinetics {

// Which species the series sees.
struct spectral_setup {
  std::vector<int> absorbing;  // species with an unknown spectrum, in the order of the results
  std::vector<int> known;      // species with a known spectrum, in the order of the reduced series' known rows
  bool offset = false;         // a constant spectrum beside them (a species of concentration 1 throughout)
  bool nonnegative = false;    // every unknown spectrum >= 0 in every channel
};

// The residual model of a reduced series: the projected residual matrix in
// the series' basis (spectra x basis vectors, one residual per cell), and
// one residual more, constant, for the part of the series outside the basis
// when there is one. Its points are spectra x channels, and the unknown
// spectra (absorbing species and offset, times channels) count as fitted
// values. With non-negative spectra (Lawson and Hanson's method in every
// channel), the residuals also hold, per channel, what the constraint
// adds: R (a - a+), U = Q R, a the unconstrained and a+ the non-negative
// values; their derivatives are then central differences. The part of the
// series outside the basis is taken to be orthogonal to the
// concentrations.
residual_model spectral_model(std::shared_ptr<const reduced_series> series, spectral_setup setup);

// The same for a problem of parts (experiments) whose series are one:
// their spectra one after the other in series, on one channel grid, and
// one unknown spectrum per species shared by them all. Its residuals come
// from model.whole.
residual_model shared_spectral_model(std::shared_ptr<const reduced_series> series, spectral_setup setup);

// The linear part of a spectral fit for given concentrations: the columns
// of the unknown spectra (absorbing species, then the offset) and of the
// known ones, and the factors of the unknown ones.
struct linear_part {
  matrix_d unknown;   // spectra x unknown columns: their concentrations
  matrix_d known;     // spectra x known species
  matrix_d q, r;      // U = q r, q with orthonormal columns, r upper triangular
  vector_d inverse_diagonal;  // of (U'U)^-1
  double condition = 0;       // of U, from its triangular factor: largest over smallest diagonal
};

// The linear part at concentrations c. Returns why there is none (the
// unknown columns are linearly dependent), or an empty string.
std::string linear_at(const spectral_setup& setup, const trajectory& c, std::size_t species, linear_part& out);

// The projected residual matrix (spectra x basis vectors): the residuals
// of the unconstrained spectra.
matrix_d basis_residual(const reduced_series& s, const linear_part& l);

// The second pass: the unknown spectra in every channel, from the series
// read again spectrum by spectrum: with U = Q R, Z = Q' (D - K S_known')
// and S' = R^-1 Z, or per channel the non-negative solution of R s = z.
class spectra_pass {
 public:
  // known_spectra: one row per known species, channels wide.
  spectra_pass(const linear_part& l, const matrix_d& known_spectra, std::size_t channels);
  void add(std::size_t spectrum, const double* row);
  // unknown columns x channels
  matrix_d spectra(bool nonnegative) const;

 private:
  const linear_part& l_;
  const matrix_d& known_spectra_;
  matrix_d sum_;
  matrix_d row_;
};

// The rank of the series as the report gives it: the singular values of the
// data and of the residual matrix (largest first), and how many of the
// data's lie above the noise, sigma (sqrt(spectra) + sqrt(channels)), the
// largest singular value of a matrix of pure noise of that size. It warns
// when more spectra are fitted than the data hold components, when the
// residuals hold components above the noise, and when the concentrations
// of the unknown spectra are nearly linearly dependent.
struct rank_report {
  vector_d data, residual;
  double noise_level = 0;
  int above_noise = 0;
  int unknown_columns = 0;
  double condition = 0;  // of the unknown columns' concentrations
  std::vector<std::string> warnings;
};

rank_report series_rank(const reduced_series& s, const spectral_setup& setup, const linear_part& l,
                        double sigma);

}  // namespace kinetics
