// bandsum PEAKLIST SERIES: integrates peak windows over a series of spectra
// and writes the time course of every peak to "dat.txt".
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "common/table.h"
#include "integrator/kinet_integ.h"

namespace {

const char* const usage_banner =
    "##############################################\n"
    "##############################################\n"
    "\n"
    "ERROR: Not enough input files specified.\n"
    "\n"
    "USAGE: bandsum peak.list 2d.txt  \n"
    "\n"
    "reads in file called scale.txt too      \n"
    "\n"
    "##############################################\n"
    "##############################################\n";

const char* const scale_banner =
    "###############################################################\n"
    " not enough scaling elements in first row of \"scale.txt\" file \n"
    " to match \"peak.list\" components \n"
    "###############################################################\n";

const char* const help_text =
    "USAGE: bandsum peak.list 2d.txt\n"
    "\n"
    "Sums the intensities inside every peak window of peak.list over every\n"
    "spectrum of the series 2d.txt, scales them with \"scale.txt\" from the\n"
    "working directory, and writes one line per spectrum to \"dat.txt\": the\n"
    "spectrum's time, then one scaled integral per peak.\n"
    "\n"
    "  peak.list  lines \"INDEX LABEL: BOUND BOUND\", peaks numbered from 0\n"
    "  2d.txt     lines \"x intensity\", each spectrum closed by a line \"&\"\n"
    "  scale.txt  row 0: one divisor per peak; row 1: a b, every integral is\n"
    "             multiplied by b / a; row 2: the time step between spectra\n"
    "\n"
    "Lines beginning with \"#\" are comments.\n";

// Writes text to a console stream line by line, flushing at every line end.
void say(std::ostream& out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      out << std::endl;
    } else {
      out << *p;
    }
  }
}

int fail(const std::string& message) {
  std::cerr << message << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    say(std::cout, help_text);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "bandsum " KINETICS_VERSION << std::endl;
    return 0;
  }
  if (argc <= 2) {
    say(std::cerr, usage_banner);
    return 1;
  }
  const char* const peak_path = argv[1];
  const char* const series_path = argv[2];

  const table scale = fileIn("scale.txt");
  const int nPeaks = genV(peak_path);
  const std::size_t scale_entries = scale.empty() ? 0 : scale[0].size();
  if (static_cast<long long>(scale_entries) < nPeaks) {
    say(std::cerr, scale_banner);
    return 1;
  }
  if (scale.size() < 2 || scale[1].size() < 2) {
    return fail("bandsum: row 1 of \"scale.txt\" (its second data line) must hold two numbers a b; "
                "every integral is multiplied by b / a");
  }
  if (scale.size() < 3 || scale[2].empty()) {
    return fail("bandsum: row 2 of \"scale.txt\" (its third data line) must hold the time step between spectra");
  }

  std::cout << std::endl << "Reading \"scale.txt\" file. " << std::endl << std::endl;

  // The windows come first so that the series can be summed as it is read.
  std::vector<peak> windows(static_cast<std::size_t>(nPeaks), peak{0.0, 0.0});
  if (const std::string error = peaksIn(peak_path, windows); !error.empty()) return fail(error);

  grid sums;
  int nBlocks = 0;
  if (const std::string error = seriesIn(series_path, windows, sums, nBlocks); !error.empty()) return fail(error);

  if (const std::string error = write_dat(sums, nPeaks, nBlocks, scale); !error.empty()) return fail(error);

  std::cout << "Saving \"dat.txt\" file used in kinetics simulations " << std::endl << std::endl;
  return 0;
}
