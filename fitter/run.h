// ratefit's command line: fitting mechanism files, simulating one, or the
// first-order fit of "guess.txt" to "dat.txt".
#pragma once

namespace kinetics {

// Sets the allocator to keep freed blocks of up to 32 MiB for reuse, as
// ratefit runs (see run.cpp): for whoever times the fit in process.
void keep_freed_memory();

// Runs ratefit in the working directory; returns the exit status.
int run_ratefit(int argc, char** argv);

}  // namespace kinetics
