// ratesim: simulates the first-order reaction A -> B from "guess.txt" and
// writes the curves to "sim.txt".
#include "common/cli.h"
#include "simulator/Diz.h"

int main(int argc, char** argv) { return cli::guarded("ratesim", run_ratesim, argc, argv); }
