// The programs' console texts and the worked examples, byte for byte, for
// the black-box tests. Written out here rather than taken from the programs,
// so that a change to either shows.
#pragma once

#include <string>

namespace expected::bandsum {

inline const std::string reading = "\nReading \"scale.txt\" file. \n\n";
inline const std::string saving = "Saving \"dat.txt\" file used in kinetics simulations \n\n";

inline const std::string usage_banner =
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

inline const std::string scale_banner =
    "###############################################################\n"
    " not enough scaling elements in first row of \"scale.txt\" file \n"
    " to match \"peak.list\" components \n"
    "###############################################################\n";

// The worked example: two spectra of two samples, two peaks, and its result.
inline const std::string series = "1.50 10.0\n2.70 4.0\n&\n1.50 20.0\n2.70 6.0\n&\n";
inline const std::string peaks = "0 A: 1.0 2.0\n1 B: 3.0 2.5\n";
inline const std::string scale = "2 3\n4 2\n0.5\n";
inline const std::string worked_dat = "  0.0 2.500000000 0.666666667 \n  0.5 5.000000000 1.000000000 \n";

}  // namespace expected::bandsum

namespace expected::ratesim {

inline const std::string headings =
    "\n Reading \"guess.txt\" file for: \n initial rate constants \n initial states \n begin_time end_time \n\n";
inline const std::string saving = "\n Saving \"sim.txt\" file for simulation curves. \n\n";
inline const std::string must_hold =
    "ratesim: \"guess.txt\" must hold three rows of numbers: the rate constant k; A0 B0 (the initial "
    "concentrations); begin_time end_time\n";

// The worked example: k 1, A0 1, B0 0, span 0 to 3; its echo and result.
inline const std::string worked_guess = "1\n1 0\n0 3\n";
inline const std::string worked_echo = "1.000000 \n1.000000 0.000000 \n0.000000 3.000000 \n";
inline const std::string worked_sim =
    "0.000000 1.000000 0.000000\n"
    "1.000000 0.367879 0.632121\n"
    "2.000000 0.135335 0.864665\n"
    "3.000000 0.049787 0.950213\n";

}  // namespace expected::ratesim

namespace expected::mechanism {

// The example of the mechanism file's documentation, as it stands.
inline const std::string consecutive =
    "# consecutive first-order reactions\n"
    "A -> B          k1 = 0.1\n"
    "B -> C          k2 = 0.02\n"
    "# initial concentrations; species not listed start at 0, held fixed\n"
    "A = 1\n"
    "B = 0 fixed\n"
    "# what the columns of the data file measure\n"
    "column 1 = A\n"
    "column 2 = eB * B\n"
    "column 3 = C\n"
    "eB = 1\n"
    "data dat.txt\n"
    "start 0\n";

}  // namespace expected::mechanism
