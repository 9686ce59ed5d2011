// ratesim on a "guess.txt" as people and instruments really leave it. Every
// case has one outcome, and a failed run leaves "sim.txt" as it was.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace expected::ratesim;

const std::string old_sim = "previous curves\n";
const std::string nul(1, '\0');
const std::string folder = "<folder>";

TEST(RatesimHostile, GuessTxt) {
  const struct {
    const char* name;
    std::string guess;
    int status;
    std::string out, err, sim;
  } cases[] = {
      {"a folder", folder, 1, headings, "No such read-in file\n" + must_hold, old_sim},
      {"empty", "", 1, headings, must_hold, old_sim},
      {"binary junk", "\x01\x02\xff\xfe\x80junk\x7f" + nul + "\x1b[2J", 1, headings + "\n", must_hold, old_sim},
      {"10 MB of text after k", "1 " + std::string(10u << 20, 'x') + "\n1 0\n0 3\n", 0, headings + worked_echo + saving,
       "", worked_sim},
      {"10 MB comment", "#" + std::string(10u << 20, '#') + "\n1\n1 0\n0 3\n", 0, headings + worked_echo + saving, "",
       worked_sim},
      {"NUL cuts row 1 short", "1\n1" + nul + " 0\n0 3\n", 1, headings + "1.000000 \n1.000000 \n0.000000 3.000000 \n",
       must_hold, old_sim},
      {"cut off mid-exponent", "1\n1 0\n0 3e", 1, headings + "1.000000 \n1.000000 0.000000 \n0.000000 \n", must_hold,
       old_sim},
      {"cut off after a decimal point", "1\n1 0\n0 3.", 0, headings + worked_echo + saving, "", worked_sim},
      {"CR LF", "1\r\n1 0\r\n0 3\r\n", 0, headings + worked_echo + saving, "", worked_sim},
      {"byte-order mark", "\xEF\xBB\xBF" "1\r\n1 0\r\n0 3\r\n", 1, headings + "\n1.000000 0.000000 \n0.000000 3.000000 \n",
       must_hold, old_sim},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    if (c.guess == folder) {
      fs::create_directory(dir / "guess.txt");
    } else {
      write_file(dir / "guess.txt", c.guess);
    }
    write_file(dir / "sim.txt", old_sim);
    const run_result r = run(RATESIM_EXE, {}, dir.path);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "sim.txt"), c.sim) << c.name;
  }
}

TEST(RatesimHostile, ASimTxtThatIsGuessTxtIsRefused) {
  scratch_dir dir;
  write_file(dir / "guess.txt", worked_guess);
  fs::create_symlink("guess.txt", dir / "sim.txt");
  const run_result r = run(RATESIM_EXE, {}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratesim: the result \"sim.txt\" is the input \"guess.txt\": nothing was written\n");
  EXPECT_EQ(read_file(dir / "guess.txt"), worked_guess);
}

}  // namespace
