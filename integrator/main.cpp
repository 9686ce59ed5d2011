// bandsum PEAKLIST SERIES: integrates peak windows over a series of spectra
// and writes the time course of every peak to "dat.txt".
#include "integrator/kinet_integ.h"

int main(int argc, char** argv) { return run_bandsum(argc, argv); }
