// ratefit's inputs in process: a mechanism file, its data file and a
// guess.txt, split at "====" lines. Whatever they hold, reading them, one
// evaluation of the model with its derivatives and, for small first-order
// mechanisms, the whole fit with its report must not crash, and a fit's
// result file must read again as a mechanism. The guess.txt fit runs whole
// and, when it fails, leaves the previous fit.txt as it was.
#include <cstdint>
#include <cstdlib>

#include "engine/fit.h"
#include "fitter/models.h"
#include "fitter/report.h"
#include "fitter/run.h"
#include "model/linear.h"
#include "tests/fuzz/fuzz_support.h"

using namespace kinetics;

namespace {

void fit_mechanism() {
  loaded l = load_problem("m.txt");
  if (!l.error.empty() || l.p.data.t.size() > 200 || l.p.fitted.size() > 6) return;
  vector_d r;
  matrix_d j;
  (void)residuals(l.p, to_solver(l.p, l.p.base), true, r, j);
  if (!first_order(l.p.m.net) || residual_count(l.p) <= l.p.fitted.size()) return;
  fit_settings settings;
  settings.max_iterations = 30;
  settings.max_seconds = 2;  // the budget, with a cap of steps, keeps every input within the fuzzer's timeout
  settings.max_steps = 20000;
  const fit_result result = fit(l.p, settings);
  if (result.status == fit_status::out_of_time && result.stopped_at.size() != l.p.fitted.size()) std::abort();
  if (!result.failure.empty()) return;
  (void)report_lines(l.p, result);
  mechanism again;
  if (!parse_mechanism("again.txt", fit_file(l.p, result), again).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const auto parts = fuzz_support::split(data, size, 3);
  fuzz_support::write_file("m.txt", parts[0]);
  fuzz_support::write_file("dat.txt", parts[1]);
  fuzz_support::write_file("guess.txt", parts[2]);
  fit_mechanism();
  fuzz_support::write_file("fit.txt", "previous\n");
  char program[] = "ratefit";
  char* argv[] = {program, nullptr};
  if (fuzz_support::read_file("dat.txt").size() < 4000 && run_ratefit(1, argv) != 0 &&
      fuzz_support::read_file("fit.txt") != "previous\n") {
    std::abort();
  }
  return 0;
}
