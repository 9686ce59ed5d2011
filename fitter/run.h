// ratefit's command line: fitting mechanism files, simulating one, or the
// first-order fit of "guess.txt" to "dat.txt".
#pragma once

namespace kinetics {

// Runs ratefit in the working directory; returns the exit status.
int run_ratefit(int argc, char** argv);

}  // namespace kinetics
