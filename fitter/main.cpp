// ratefit MODEL...: fits reaction mechanisms to measured curves; without
// arguments, the first-order fit of "guess.txt" to "dat.txt".
#include "fitter/run.h"

int main(int argc, char** argv) { return kinetics::run_ratefit(argc, argv); }
