#include "fitter/run.h"

#include <malloc.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common/cli.h"
#include "common/numparse.h"
#include "fitter/legacy.h"
#include "fitter/models.h"

namespace kinetics {

namespace {

const char* const help_text =
    "USAGE: ratefit MODEL...\n"
    "       ratefit --simulate MODEL\n"
    "       ratefit [--sigma FILE]\n"
    "       ratefit --max-seconds S ...\n"
    "\n"
    "Fits every mechanism file MODEL (reactions, initial concentrations, what the\n"
    "columns of its data file measure) to its data by least squares, and writes,\n"
    "for MODEL = dir/name.txt, \"name.fit.txt\" (the mechanism with the fitted\n"
    "values and the statistics), \"name.curve.txt\" (measured and fitted columns\n"
    "and every species) and \"name.png\" in the working directory; with several\n"
    "models also \"models.txt\", the models ranked by AIC.\n"
    "\n"
    "--simulate MODEL writes \"name.curve.txt\" for the file's own values.\n"
    "\n"
    "Without arguments, fits k, A0 and B0 of A -> B to \"dat.txt\" from\n"
    "\"guess.txt\" (row 0: k; row 1: A0 B0; row 2: begin_time end_time) into\n"
    "\"fit.txt\" and \"fitcurve.txt\"; with --sigma, every point is weighed by 1 / sigma\n"
    "from FILE, in the layout of dat.txt (as bandsum --noise writes sigma.txt).\n"
    "\n"
    "--max-seconds S, before the rest: every fit may take S seconds (600 unless\n"
    "given); one that takes longer ends with a message and no result.\n";

// The time a fit may take unless --max-seconds says otherwise.
constexpr double default_max_seconds = 600;

// Takes "--max-seconds S" from the front of args into settings; false,
// after the message, when S is not a number of seconds above 0.
bool take_budget(std::vector<std::string>& args, fit_settings& settings) {
  settings.max_seconds = default_max_seconds;
  if (args.empty() || args[0] != "--max-seconds") return true;
  const char* p = args.size() > 1 ? args[1].c_str() : "";
  const char* const end = p + std::strlen(p);
  double seconds = 0;
  if (!numparse::scan_double(p, end, seconds) || p != end || !(seconds > 0) || !std::isfinite(seconds)) {
    cli::fail("ratefit", "--max-seconds takes a number of seconds above 0: ratefit --max-seconds S ...");
    return false;
  }
  settings.max_seconds = seconds;
  args.erase(args.begin(), args.begin() + 2);
  return true;
}

}  // namespace

// A search evaluates its model thousands of times, and every evaluation
// makes and frees vectors of the data's size (a few hundred kilobytes for a
// series of a thousand spectra). By default the allocator hands such blocks
// back to the system at once and the next evaluation faults them in again
// page by page: a small series spent half its run in the kernel. Blocks
// under 32 MiB now come from the heap, which keeps up to 16 MiB free. (A
// bound of 1 MiB made a wide series a fifth slower: its blocks of several
// megabytes, which the default keeps once it has seen them freed, were
// mapped afresh at every use.) Peak memory does not change.
void keep_freed_memory() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
}

int run_ratefit(int argc, char** argv) {
  keep_freed_memory();
  if (const cli::info what = cli::info_option(argc, argv, false); what != cli::info::none) {
    return cli::print_info(what, "ratefit", help_text);
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  fit_settings settings;
  if (!take_budget(args, settings)) return 1;
  if (args.empty()) return fit_guess({}, settings);
  if (args[0] == "--sigma") {
    if (args.size() != 2) {
      return cli::fail("ratefit", "--sigma takes one file and is for the guess.txt fit: ratefit --sigma FILE "
                                  "(a mechanism file names its own with a line \"sigma FILE\")");
    }
    return fit_guess(args[1], settings);
  }
  if (args[0] == "--simulate") {
    if (args.size() != 2) return cli::fail("ratefit", "--simulate takes one mechanism file: ratefit --simulate MODEL");
    return simulate_model(args[1]);
  }
  for (const std::string& arg : args) {
    if (!arg.empty() && arg[0] == '-') {
      return cli::fail("ratefit", "unknown option " + arg + " (ratefit --help lists the usage)");
    }
  }
  return fit_models(args, settings);
}

}  // namespace kinetics
