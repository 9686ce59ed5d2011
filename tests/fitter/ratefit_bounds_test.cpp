// ratefit on values with bounds, and the messages of the guess.txt mode
// that name the values to blame.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// A -> B whose [B]0 >= 0 ends at 0: reported at the bound with its
// one-sided limit (0.00372425; scipy's profile with k and [A]0 refitted
// gives 0.0037242522), k and [A]0 with it held (scipy: 0.2970682107 +-
// 0.002132, 0.9986049779 +- 0.003304). The result fits again as it stands.
TEST(RatefitBounds, AValueEndsAtItsBound) {
  scratch_dir dir;
  const fs::path example = fs::path(EXAMPLES_DIR) / "bounds";
  fs::copy_file(example / "ab.txt", dir / "ab.txt");
  fs::copy_file(example / "dat.txt", dir / "dat.txt");
  const run_result r = run(RATEFIT_EXE, {"ab.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "ab.fit.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "bounds-fit.txt"));
  const run_result again = run(RATEFIT_EXE, {"ab.fit.txt"}, dir.path);
  ASSERT_EQ(again.status, 0) << again.err;
  const std::string first = read_file(dir / "ab.fit.txt"), second = read_file(dir / "ab.fit.fit.txt");
  EXPECT_EQ(first.substr(first.find("\n# A -> B")), second.substr(second.find("\n# A -> B")));
}

TEST(RatefitBounds, GuessModeNamesTheValuesToBlame) {
  const struct {
    const char* name;
    std::string dat, guess, err;
  } cases[] = {
      {"one time only", "5 0.5\n5 0.5\n5 0.5\n5 0.51\n", "1 0.3\n2 0.3\n0 10\n",
       "ratefit: the data do not determine the fitted values: their normal matrix is singular (fix some of them); "
       "the data do not determine k and A0 apart (start them in \"guess.txt\" nearer their values; \"dat.txt\" needs "
       "rows at several times; a mechanism file can hold a value fixed); no result was written\n"},
      {"A gone at once", "0 1 0\n1 0 1\n2 0 1\n3 0 1\n4 0 1\n", "1 0.3\n1 0\n0 10\n",
       "ratefit: k grows without bound: its step is faster than the data can resolve (hold it fixed); k grows "
       "without bound (A is gone before the first times of \"dat.txt\": the data need earlier times, or start k in "
       "row 0 of \"guess.txt\" nearer its value); no result was written\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "dat.txt", c.dat);
    write_file(dir / "guess.txt", c.guess);
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_FALSE(fs::exists(dir / "fit.txt")) << c.name;
  }
}

}  // namespace
