// bandsum --times FILE run as a user runs it: the times of the file in
// dat.txt and sigma.txt, and errors that leave dat.txt alone.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

const std::string old_dat = "previous results\n";
const std::string series = "0 1\n1 2\n2 4\n3 1\n4 0\n&\n0 2\n1 2\n2 6\n3 1\n4 1\n&\n";
const std::string reading = "\nReading \"scale.txt\" file. \n\n";
const std::string saving = "Saving \"dat.txt\" file used in kinetics simulations \n\n";

struct outcome {
  run_result result;
  std::string dat, sigma;
};

outcome bandsum(const std::vector<std::string>& args, const std::string& times, const std::string& scale) {
  scratch_dir dir;
  write_file(dir / "peak.list", "0 A: 0.5 2.5\n");
  write_file(dir / "2d.txt", series);
  write_file(dir / "scale.txt", scale);
  write_file(dir / "times.txt", times);
  write_file(dir / "dat.txt", old_dat);
  outcome o{run(BANDSUM_EXE, args, dir.path), read_file(dir / "dat.txt"), ""};
  if (std::filesystem::exists(dir / "sigma.txt")) o.sigma = read_file(dir / "sigma.txt");
  return o;
}

TEST(BandsumTimes, TimesOfTheFileInDatTxt) {
  const struct { const char* name; std::vector<std::string> args; std::string times, scale, dat; } cases[] = {
      {"exact times, no step needed", {"--times", "times.txt", "peak.list", "2d.txt"}, "0\n0.0333\n", "1\n1 1\n",
       "  0.0 6.000000000 \n0.0333 8.000000000 \n"},
      {"the step of scale.txt is not used", {"--times", "times.txt", "peak.list", "2d.txt"}, "# s\n60\n\n90.5\n",
       "1\n1 1\n0.5\n", " 60.0 6.000000000 \n 90.5 8.000000000 \n"},
      {"after another option", {"--baseline", "1", "--times", "times.txt", "peak.list", "2d.txt"}, "1e-7\n2\n",
       "1\n1 1\n", "0.0000001 4.000000000 \n  2.0 5.000000000 \n"},
  };
  for (const auto& c : cases) {
    const outcome o = bandsum(c.args, c.times, c.scale);
    EXPECT_EQ(o.result.status, 0) << c.name << o.result.err;
    EXPECT_EQ(o.result.out, reading + saving) << c.name;
    EXPECT_EQ(o.dat, c.dat) << c.name;
  }
  const outcome noise = bandsum({"--noise", "-1", "5", "--times", "times.txt", "peak.list", "2d.txt"}, "0.25\n0.0333\n", "1\n1 1\n");
  EXPECT_EQ(noise.result.status, 0) << noise.result.err;
  EXPECT_EQ(noise.dat.substr(0, 6), " 0.25 ");  // one decimal would print 0.2
  EXPECT_EQ(noise.sigma.substr(noise.sigma.find('\n') + 1, 7), "0.0333 ");
}

TEST(BandsumTimes, ErrorsLeaveDatTxtAlone) {
  const struct { const char* name; std::vector<std::string> args; std::string times, err; } cases[] = {
      {"one time short", {"--times", "times.txt", "peak.list", "2d.txt"}, "0\n",
       "bandsum: times.txt holds 1 times, but 2d.txt holds 2 spectra; --times needs one time a spectrum\n"},
      {"a word", {"--times", "times.txt", "peak.list", "2d.txt"}, "0\nlater\n",
       "bandsum: times.txt line 2: expected one time (a finite number) on the line, not \"later\"\n"},
      {"no such file", {"--times", "none.txt", "peak.list", "2d.txt"}, "",
       "bandsum: cannot open the times file none.txt: No such file or directory\n"},
      {"given twice", {"--times", "times.txt", "--times", "times.txt", "peak.list", "2d.txt"}, "", "bandsum: --times is given twice\n"},
      {"after the paths", {"peak.list", "2d.txt", "--times", "times.txt"}, "",
       "bandsum: \"--times\" comes after the peak list and the series; options go before them\n"},
  };
  for (const auto& c : cases) {
    const outcome o = bandsum(c.args, c.times, "1\n1 1\n1\n");
    EXPECT_EQ(o.result.status, 1) << c.name;
    EXPECT_EQ(o.result.err, c.err) << c.name;
    EXPECT_EQ(o.dat, old_dat) << c.name;
  }
}

}  // namespace
