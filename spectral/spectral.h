// Console printers for a sampled complex time-domain signal and related
// quantities (its direct frequency transform, Euler-angle records, 3x3 real
// and complex matrices), and a reader that fills parameter records from a
// two-column shape file.
//
// Every printer writes to standard output, ends each line with a newline and
// a flush, and leaves std::cout in fixed notation with the precision of the
// last number it printed (a printer that prints nothing changes nothing).
// Only print_fid uses whatever format std::cout has when it is called.
// Numbers are right-aligned in their fields as long as nobody has changed
// std::cout's adjustment, fill or sign flags from their defaults.
#pragma once

#include <complex>

// One complex sample of a signal. A signal is a contiguous array of these;
// its length is the point_count of the params record passed with it.
struct spectrum {
  double re;
  double im;
};

// Three Euler angles and a weight.
struct euler {
  double alpha;
  double beta;
  double gamma;
  double weight;
};

// Acquisition and shape parameters: seventeen doubles in this order. Only
// point_count, spectral_width, frequency_offset, shape_second and shape_first
// are used here; the spare fields are never read or written by this library.
struct params {
  double spare1;
  double point_count;     // number of samples n, truncated toward zero when used
  double spare3;
  double spectral_width;  // sampling rate: sample i lies at time i / spectral_width
  double spare5;
  double spare6;
  double spare7;
  double spare8;
  double spare9;
  double spare10;
  double frequency_offset;  // added to every transform frequency
  double shape_second;      // second number of this record's shape-file line
  double shape_first;       // first number of this record's shape-file line
  double spare14;
  double spare15;
  double spare16;
  double spare17;
};

// One line per record: alpha "%8.5f", a tab, beta "%8.5f", a tab, weight
// "%8.7f". gamma is not printed.
void print_euler(const euler* first, const euler* last);

// One value per line, in std::cout's current format and without a width.
void print_fid(const double* first, const double* last);

// The real part of the signal's discrete frequency transform by direct
// summation, one line per frequency: frequency "%10.5f" then value "%10.5f".
// With n samples it prints n - 1 lines, for the frequency indices -(n/2) up
// to (n-1)/2 - 1 (integer divisions), and nothing when n <= 1.
void genFFT(params p, const spectrum* signal);

// n lines: the real part of each sample divided by that of sample 0, "%14.9f".
void print_dip(params p, const spectrum* signal);

// n lines: the sample's time "%10.5f", then its real part "%14.9f".
void print_fid_real(params p, const spectrum* signal);

// n lines: the sample's time "%10.5f", then its imaginary part "%14.9f".
void print_fid_imag(params p, const spectrum* signal);

// Three lines, one per row of m: each element "%8.1f" followed by a blank.
void print_cart(const double m[3][3]);

// Three lines, one per row of m: each element as "(re,im)" with one decimal
// per part, the whole entry right-aligned in 8 columns, then a blank.
void print_cart_complex(const std::complex<double> m[3][3]);

// Reads a shape file: every line that is neither empty nor starts with "#"
// is a data line, whose first two numbers go to shape_first and shape_second
// of the next record (a number that is missing or unreadable is stored as a
// quiet NaN). Stores at most last - first records and touches no other field;
// returns the number of data lines in the file, which may exceed last - first.
// The file is opened for reading only; one that cannot be read counts 0.
int genShape(params* first, params* last, const char* path);
