// ratesim run as a user runs it: in a fresh directory, every output byte
// compared.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace expected::ratesim;

const std::string old_sim = "previous curves\n";

struct outcome {
  run_result result;
  std::string sim;
};

outcome ratesim(const std::string& guess, const std::vector<std::string>& args = {}) {
  scratch_dir dir;
  write_file(dir / "guess.txt", guess);
  write_file(dir / "sim.txt", old_sim);
  outcome o;
  o.result = run(RATESIM_EXE, args, dir.path);
  o.sim = read_file(dir / "sim.txt");
  return o;
}

TEST(Ratesim, WorkedExample) {
  const outcome o = ratesim(worked_guess);
  EXPECT_EQ(o.result.status, 0);
  EXPECT_EQ(o.result.out, headings + worked_echo + saving);
  EXPECT_EQ(o.result.err, "");
  EXPECT_EQ(o.sim, worked_sim);
}

// The lines "t.000000 1.000000 0.000000" for whole t from first to last.
std::string constant_lines(int first, int last) {
  std::string s;
  for (int t = first; t <= last; ++t) s += std::to_string(t) + ".000000 1.000000 0.000000\n";
  return s;
}

TEST(Ratesim, StartAndEndCases) {
  const struct {
    const char* name;
    const char* guess;
    std::string sim;
  } cases[] = {
      {"end before begin: one observation", "1\n2 0.5\n0 -1\n", "0.000000 2.000000 0.500000\n"},
      {"end equal to begin", "1\n2 0.5\n0 0\n", "0.000000 2.000000 0.500000\n"},
      {"end one step after begin", "1\n2 0.5\n0 0.01\n", "0.000000 2.000000 0.500000\n"},
      {"fractional begin not written", "1\n1 0\n0.5 3.5\n",
       "1.000000 0.606531 0.393469\n2.000000 0.223130 0.776870\n3.000000 0.082085 0.917915\n"},
      {"begin 1 to 4", "1\n1 0\n1 4\n",
       "1.000000 1.000000 0.000000\n2.000000 0.367879 0.632121\n3.000000 0.135335 0.864665\n"
       "4.000000 0.049787 0.950213\n"},
      {"begin 0.0005", "1\n1 0\n0.0005 2.5\n",
       "0.000500 1.000000 0.000000\n1.000500 0.367879 0.632121\n2.000500 0.135335 0.864665\n"},
      {"begin -1 to 1", "1\n1 0\n-1 1\n",
       "-1.000000 1.000000 0.000000\n0.000000 0.367879 0.632121\n1.000000 0.135335 0.864665\n"},
      {"k 0 keeps the initial state", "0\n0.3 0.7\n0 2\n",
       "0.000000 0.300000 0.700000\n1.000000 0.300000 0.700000\n2.000000 0.300000 0.700000\n"},
      {"negative k makes A grow", "-1\n1 0\n0 2\n",
       "0.000000 1.000000 0.000000\n1.000000 2.718282 -1.718282\n2.000000 7.389056 -6.389056\n"},
      {"only the first rate constant counts", "1 5 7\n1 0 9\n0 1 8\n",
       "0.000000 1.000000 0.000000\n1.000000 0.367879 0.632121\n"},
      {"times of 10 or more widen the field", "0\n1 0\n9 11\n",
       "9.000000 1.000000 0.000000\n10.000000 1.000000 0.000000\n11.000000 1.000000 0.000000\n"},
      {"end 20 misses its own line", "0\n1 0\n0 20\n", constant_lines(0, 19)},
      {"end 100 runs to 99", "0\n1 0\n0 100\n", constant_lines(0, 99)},
      {"comments and CR LF", "# k\r\n1\r\n# A0 B0\r\n1 0\r\n0 1\r\n",
       "0.000000 1.000000 0.000000\n1.000000 0.367879 0.632121\n"},
  };
  for (const auto& c : cases) {
    const outcome o = ratesim(c.guess);
    EXPECT_EQ(o.result.status, 0) << c.name << "\n" << o.result.err;
    EXPECT_EQ(o.result.err, "") << c.name;
    EXPECT_EQ(o.sim, c.sim) << c.name;
  }
}

TEST(Ratesim, EchoesTheWholeTable) {
  const outcome o = ratesim("1 5 7\n1 0 9\n0 1 8\n12.5 -0.25\n");
  EXPECT_EQ(o.result.out, headings +
                              "1.000000 5.000000 7.000000 \n1.000000 0.000000 9.000000 \n"
                              "0.000000 1.000000 8.000000 \n12.500000 -0.250000 \n" +
                              saving);
}

TEST(Ratesim, LineForTheEndTimeFromOneToAThousand) {
  // With begin_time 0 every whole time up to the last observed one is
  // written; the line for end_time T itself is missing where the rounding of
  // n * 0.01 puts the last loop test a hair above T.
  for (int T = 1; T <= 1000; ++T) {
    const outcome o = ratesim("0\n1 0\n0 " + std::to_string(T) + "\n");
    ASSERT_EQ(o.result.status, 0) << T;
    const bool missing = (T >= 17 && T <= 31) || (T >= 96 && T <= 127);
    EXPECT_EQ(o.sim, constant_lines(0, missing ? T - 1 : T)) << "end_time " << T;
  }
}

TEST(Ratesim, UnusableGuessLeavesSimTxtAlone) {
  const std::string too_long =
      "ratesim: the span from begin_time to end_time in \"guess.txt\" needs 2147483647 or more steps of 0.01, more "
      "than ratesim can count\n";
  const struct {
    const char* name;
    const char* guess;  // nullptr: no guess.txt
    std::string echo, err;
  } cases[] = {
      {"guess.txt missing", nullptr, "", "No such read-in file\n" + must_hold},
      {"two rows", "1\n1 0\n", "1.000000 \n1.000000 0.000000 \n", must_hold},
      {"row 0 empty", "k\n1 0\n0 3\n", "\n1.000000 0.000000 \n0.000000 3.000000 \n", must_hold},
      {"row 1 short", "1\n1\n0 3\n", "1.000000 \n1.000000 \n0.000000 3.000000 \n", must_hold},
      {"row 2 short", "1\n1 0\n3\n", "1.000000 \n1.000000 0.000000 \n3.000000 \n", must_hold},
      // From 0 to 21474836.47 the loop stops after 2147483646 steps; one
      // hair more and it would go on to 2147483647.
      {"span of 2147483647 steps", "1\n1 0\n0 21474836.470000003\n",
       "1.000000 \n1.000000 0.000000 \n0.000000 21474836.470000 \n", too_long},
      {"span of more steps", "1\n1 0\n0 21474837\n", "1.000000 \n1.000000 0.000000 \n0.000000 21474837.000000 \n",
       too_long},
      {"end time too large to count", "1\n1 0\n0 1e22\n",
       "1.000000 \n1.000000 0.000000 \n0.000000 10000000000000000000000.000000 \n", too_long},
      {"begin time too far below the end", "1\n1 0\n-1e22 0\n",
       "1.000000 \n1.000000 0.000000 \n-10000000000000000000000.000000 0.000000 \n", too_long},
      {"begin so large that steps do not move the time", "1\n1 0\n1e30 1e30\n",
       "1.000000 \n1.000000 0.000000 \n1000000000000000019884624838656.000000 1000000000000000019884624838656.000000 \n",
       too_long},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    if (c.guess != nullptr) write_file(dir / "guess.txt", c.guess);
    write_file(dir / "sim.txt", old_sim);
    const run_result r = run(RATESIM_EXE, {}, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, headings + c.echo) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "sim.txt"), old_sim) << c.name;
  }
}

TEST(Ratesim, HelpAndVersionTouchNothing) {
  for (const char* flag : {"--help", "-h", "--version"}) {
    scratch_dir dir;
    const run_result r = run(RATESIM_EXE, {flag, "more"}, dir.path);
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(r.err, "") << flag;
    EXPECT_NE(r.out.find(std::string(flag) == "--version" ? "ratesim " : "USAGE: ratesim"), std::string::npos) << flag;
    EXPECT_TRUE(fs::is_empty(dir.path)) << flag;
  }
}

TEST(Ratesim, OtherArgumentsAreIgnored) {
  const outcome o = ratesim("1\n1 0\n0 1\n", {"x", "--help"});
  EXPECT_EQ(o.result.status, 0);
  EXPECT_EQ(o.sim, "0.000000 1.000000 0.000000\n1.000000 0.367879 0.632121\n");
}

TEST(Ratesim, SimTxtThatCannotBeCreated) {
  scratch_dir dir;
  write_file(dir / "guess.txt", "1\n1 0\n0 1\n");
  fs::create_directory(dir / "sim.txt");
  const run_result r = run(RATESIM_EXE, {}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratesim: cannot create \"sim.txt\": Is a directory\n");
  EXPECT_EQ(r.out.find("Saving"), std::string::npos);
}

TEST(Ratesim, SimTxtThatCannotBeWritten) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  scratch_dir dir;
  write_file(dir / "guess.txt", "1\n1 0\n0 1\n");
  fs::create_symlink("/dev/full", dir / "sim.txt");
  const run_result r = run(RATESIM_EXE, {}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratesim: cannot write \"sim.txt\": No space left on device\n");
  EXPECT_EQ(r.out.find("Saving"), std::string::npos);
}

TEST(Ratesim, UnwritableDirectory) {
  scratch_dir dir;
  write_file(dir / "guess.txt", "1\n1 0\n0 1\n");
  fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
  const run_result r = run_unprivileged(RATESIM_EXE, {}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratesim: cannot create \"sim.txt\": Permission denied\n");
}

TEST(Ratesim, ExampleGuess) {
  scratch_dir dir;
  fs::copy_file(fs::path(EXAMPLES_DIR) / "guess.txt", dir / "guess.txt");
  const run_result r = run(RATESIM_EXE, {}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, headings + "0.080000 \n1.000000 0.000000 \n0.000000 59.000000 \n" + saving);
  const std::string sim = read_file(dir / "sim.txt");
  EXPECT_EQ(std::count(sim.begin(), sim.end(), '\n'), 60) << "one line for each time 0 to 59";
  EXPECT_EQ(sim.substr(0, 54), "0.000000 1.000000 0.000000\n1.000000 0.923116 0.076884\n");
  const std::string last = "59.000000 0.008915 0.991085\n";  // exp(-0.08 * 59) = 0.0089152
  ASSERT_GE(sim.size(), last.size());
  EXPECT_EQ(sim.substr(sim.size() - last.size()), last);
}

}  // namespace
