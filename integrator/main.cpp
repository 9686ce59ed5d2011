// bandsum PEAKLIST SERIES: integrates peak windows over a series of spectra
// and writes the time course of every peak to "dat.txt".
#include "common/cli.h"
#include "integrator/kinet_integ.h"

int main(int argc, char** argv) { return cli::guarded("bandsum", run_bandsum, argc, argv); }
