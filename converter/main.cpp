// specconv INPUT...: instrument files to a spectrum series and its times.
#include "converter/specconv.h"

int main(int argc, char** argv) { return run_specconv(argc, argv); }
