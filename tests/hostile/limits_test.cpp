// Inputs without end or of any size: every reader either reads in bounded
// memory or ends with a message, never an abort. The programs run under an
// address-space limit of 2 GiB, so that a reader that grew would fail.
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Runs the program under the memory limit (sanitizer builds reserve more
// address space than that, so there it runs without one).
run_result run_limited(const std::string& program, std::vector<std::string> args, const fs::path& dir) {
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit = "";
#else
  const std::string limit = "ulimit -v 2097152; ";
#endif
  args.insert(args.begin(), {"-c", limit + "exec \"$0\" \"$@\"", program});
  return run("/bin/sh", args, dir);
}

TEST(Limits, EndlessInputsEndWithAMessage) {
  const struct {
    std::string fifo, program;
    std::vector<std::string> args;
    std::string err_end;
  } cases[] = {
      {"scale.txt", BANDSUM_EXE, {"peak.list", "2d.txt"}, "the rest of the file is not read\n#####"},
      {"guess.txt", RATEFIT_EXE, {}, "must hold three rows: k; A0 B0; begin_time end_time\n"},
      {"m.txt", RATEFIT_EXE, {"m.txt"}, "ratefit: m.txt: longer than the 16 MiB a mechanism file may hold\n"},
      {"dat.txt", RATEFIT_EXE, {"d.txt"},
       "ratefit: dat.txt: more than 67108864 lines or 16777216 values; ratefit reads at most that many\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "peak.list", "0 A: 1 2\n");
    write_file(dir / "2d.txt", "1.5 1\n&\n");
    write_file(dir / "d.txt", "A -> B  k = 0.1\ncolumn 1 = A\n");
    ASSERT_EQ(::mkfifo((dir / c.fifo).c_str(), 0600), 0);
    const pid_t writer = start("/bin/sh", {"-c", "exec yes > " + c.fifo}, dir.path);
    const run_result r = run_limited(c.program, c.args, dir.path);
    ::kill(writer, SIGTERM);
    wait_for(writer);
    EXPECT_EQ(r.status, 1) << c.fifo << ": " << r.err.substr(0, 300);
    EXPECT_NE(r.err.find(c.err_end), std::string::npos) << c.fifo << ": " << r.err.substr(0, 300);
    EXPECT_LT(r.max_rss_kib, 400 * 1024) << c.fifo;
  }
}

TEST(Limits, TooManyIntegralsEndBandsumWithAMessage) {
  scratch_dir dir;
  std::string peaks, scale;
  for (int i = 0; i < 5000; ++i) peaks += std::to_string(i) + " P: " + std::to_string(i) + " " + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 5000; ++i) scale += "1 ";
  std::string series;
  for (int i = 0; i < 4000; ++i) series += "-3 0\n-2 0.1\n-1 0\n&\n";
  write_file(dir / "peak.list", peaks);
  write_file(dir / "scale.txt", scale + "\n1 1\n1\n");
  write_file(dir / "2d.txt", series);
  write_file(dir / "dat.txt", "old\n");
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--noise", "-4", "0"}}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"peak.list", "2d.txt"});
    const run_result r = run_limited(BANDSUM_EXE, args, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "bandsum: 2d.txt line 13424: 5000 peaks over more than 3355 spectra are more than the 16777216 "
                     "integrals bandsum holds; split the series or the peak list\n");
    EXPECT_EQ(read_file(dir / "dat.txt"), "old\n");
  }
}

TEST(Limits, AModelTooLargeForItsMatricesIsRefused) {
  scratch_dir dir;
  std::string chain, dat;  // 150 first-order species in a chain, 400 points
  for (int i = 0; i < 149; ++i) {
    chain += "S" + std::to_string(i) + " -> S" + std::to_string(i + 1) + "  k" + std::to_string(i) + " = 0.1\n";
  }
  chain += "S0 = 1\ncolumn 1 = S0\ncolumn 2 = S149\n";
  for (int i = 0; i < 400; ++i) dat += std::to_string(i) + " 1 0\n";
  write_file(dir / "chain.txt", chain);
  write_file(dir / "dat.txt", dat);
  const run_result r = run_limited(RATEFIT_EXE, {"chain.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: chain.txt: the model is too large: its 150 species with 150 sensitivities make a system "
                   "of 22650 equations, more than the 2048 ratefit solves (its matrices would need 3915 MiB each); no "
                   "result was written\n");
  EXPECT_EQ(r.out, "");
  // Simulated without sensitivities, the same chain is small enough.
  EXPECT_EQ(run_limited(RATEFIT_EXE, {"--simulate", "chain.txt"}, dir.path).status, 0);
}

}  // namespace
