// ratefit MODEL...: fits reaction mechanisms to measured curves; without
// arguments, the first-order fit of "guess.txt" to "dat.txt".
#include "common/cli.h"
#include "fitter/run.h"

int main(int argc, char** argv) { return cli::guarded("ratefit", kinetics::run_ratefit, argc, argv); }
