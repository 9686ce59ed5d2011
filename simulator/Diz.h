// The parts of ratesim: simulating A -> B from "guess.txt" and writing the
// concentrations at (nearly) whole time units to "sim.txt".
#pragma once

#include <cmath>
#include <dlib/matrix.h>
#include <fstream>

#include "common/table.h"
#include "model/rate_model.h"

// The result stream of "sim.txt", one for the whole process. It is opened
// only once "guess.txt" has been read and found usable, on a new file that
// replaces "sim.txt" when the run has written every line, so that a failed
// or interrupted run leaves an existing "sim.txt" as it was.
extern std::ofstream file3;

// The observer of the integration: writes "t A B" to file3 when t lies less
// than 0.001 above a whole number (t - floor(t) < 0.001), t as "%8.6f", A
// and B with six decimals, single blanks, each line flushed.
void write_fit(const state& x, double t);

// True when no later step from x with rate constant k can change what
// write_fit prints of A and B: A prints as 0.000000 (or -0.000000) for good
// and B stays exactly as it is (see b_settled).
inline bool lines_settled(double k, const state& x) { return std::abs(x[0]) < 4e-7 && b_settled(k, x); }

// The squared difference (b - a)^2.
double dist(double a, double b);

// All values of the table in one column, row after row: value j of row i
// follows the values of the rows before it.
dlib::matrix<double, 0, 1> vec2matrix(const table& t);

// Runs ratesim in the working directory (--help, -h and --version as the
// first argument print usage or version; other arguments are ignored);
// returns the exit status.
int run_ratesim(int argc, char** argv);
