// specconv: turns instrument files into the spectrum series bandsum reads
// and a file of the spectra's times.
#pragma once

#include <string>
#include <vector>

#include "instrument/delimited.h"

// The command line of specconv.
struct specconv_options {
  std::vector<std::string> inputs;  // a file, a folder of experiments, or several files
  std::string list;                 // --list FILE: the files of a series
  std::string series = "2d.txt";    // -o
  std::string times = "times.txt";  // -t
  instrument::delimited_options table;
  std::string procno = "1";  // --procno
  double time_unit = 1.0;    // seconds per unit of acquisition times written
  bool check = false;        // --check: read only, write nothing
};

// Reads the options (argv[1] on). Returns "" or a message starting with
// "specconv: ".
std::string specconv_options_in(int argc, char** argv, specconv_options& options);

// Runs specconv on its command line; returns the exit status.
int run_specconv(int argc, char** argv);
