#include "fitter/run.h"

#include <string>
#include <vector>

#include "common/cli.h"
#include "fitter/legacy.h"
#include "fitter/models.h"

namespace kinetics {

namespace {

const char* const help_text =
    "USAGE: ratefit MODEL...\n"
    "       ratefit --simulate MODEL\n"
    "       ratefit [--sigma FILE]\n"
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
    "from FILE, in the layout of dat.txt (as bandsum --noise writes sigma.txt).\n";

}  // namespace

int run_ratefit(int argc, char** argv) {
  if (const cli::info what = cli::info_option(argc, argv, false); what != cli::info::none) {
    return cli::print_info(what, "ratefit", help_text);
  }
  if (argc < 2) return fit_guess();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args[0] == "--sigma") {
    if (args.size() != 2) {
      return cli::fail("ratefit", "--sigma takes one file and is for the guess.txt fit: ratefit --sigma FILE "
                                  "(a mechanism file names its own with a line \"sigma FILE\")");
    }
    return fit_guess(args[1]);
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
  return fit_models(args);
}

}  // namespace kinetics
