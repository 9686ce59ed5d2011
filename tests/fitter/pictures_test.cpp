// Pictures drawn together by a gnuplot of the test's own, which sends back
// the script it reads as the picture: every picture in the order of its
// job, with the error of its own, however many are drawn at once.
#include "fitter/pictures.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/blackbox.h"

using namespace kinetics;
using namespace testing_support;

namespace {

const std::string signature("\x89PNG\r\n\x1a\n", 8), iend("\0\0\0\0IEND\xae\x42\x60\x82", 12);

// PATH with a gnuplot that copies its script to its output, the lines that
// reset gnuplot between pictures left out (or what edit says), and fails
// on a script that has "fail" in it, for the life of the record; it keeps
// every script it ran.
struct fake_gnuplot {
  scratch_dir dir;
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  explicit fake_gnuplot(const std::string& edit = "s/\\nreset session\\n//g") {
    const std::string script = "\"" + (dir / "script").string() + "$$\"";
    write_file(dir / "gnuplot", "#!/bin/sh\ncat \"$1\" > " + script + "\nif grep -q fail " + script +
                                    "; then exit 3; fi\nexec sed -z '" + edit + "' " + script + "\n");
    std::filesystem::permissions(dir / "gnuplot", std::filesystem::perms::owner_all);
    setenv("PATH", (dir.path.string() + ":" + path).c_str(), 1);
  }
  ~fake_gnuplot() { setenv("PATH", path.c_str(), 1); }
  long runs() const {
    long n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) n += entry.path().filename() != "gnuplot";
    return n;
  }
};

TEST(Pictures, DrawnTogetherInTheOrderOfTheirJobs) {
  const fake_gnuplot gnuplot;
  const std::string large = signature + std::string(3 << 20, 'x') + iend;  // more than a pipe holds
  std::vector<picture_job> jobs{
      {"a.png", signature + "a" + iend, ""},
      {"b.png", "fail", ""},
      {"c.png", signature + "c", ""},
      {"d.png", large, ""},
      {"e.png", signature + "e" + iend, "no values"},
  };
  for (int i = 0; i < 20; ++i) jobs.push_back({"n" + std::to_string(i) + ".png", signature + std::to_string(i) + iend, ""});
  const std::vector<picture> drawn = draw_pictures(jobs);
  ASSERT_EQ(drawn.size(), jobs.size());
  const struct {
    std::string png, error;
  } want[] = {
      {jobs[0].script, ""},
      {"", "gnuplot failed"},
      {"", "gnuplot's picture is not a whole PNG file"},
      {large, ""},
      {"", "no values"},
  };
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(drawn[i].file, jobs[i].file);
    EXPECT_EQ(drawn[i].png, i < std::size(want) ? want[i].png : jobs[i].script) << jobs[i].file;
    EXPECT_EQ(drawn[i].error, i < std::size(want) ? want[i].error : "") << jobs[i].file;
  }
}

TEST(Pictures, AFewGnuplotsDrawThemAllAndOneThatFailsDrawsItsOwnAgainOneEach) {
  const struct {
    std::vector<std::string> scripts;
    std::size_t lanes;
    long runs;
  } cases[] = {
      {{"a", "b", "c", "d"}, 2, 2},
      {{"a", "b", "c", "d", "e"}, 1, 1},
      {{"a", "b", "c"}, 4, 3},
      {{"a", "fail", "c", "d"}, 2, 4},  // b's gnuplot failed, with d: both again
  };
  for (const auto& c : cases) {
    const fake_gnuplot gnuplot;
    std::vector<picture_job> jobs;
    for (const std::string& s : c.scripts) jobs.push_back({s + ".png", s == "fail" ? s : signature + s + iend, ""});
    pictures_under_way drawing = start_pictures(jobs, c.lanes);
    const std::vector<picture> drawn = finish_pictures(drawing);
    EXPECT_EQ(gnuplot.runs(), c.runs) << c.scripts.size();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const bool fails = c.scripts[i] == "fail";
      EXPECT_EQ(drawn[i].png, fails ? "" : jobs[i].script) << jobs[i].file;
      EXPECT_EQ(drawn[i].error, fails ? "gnuplot failed" : "") << jobs[i].file;
    }
  }
}

TEST(Pictures, GnuplotsStartedAheadDrawTheFirstSharesAndThoseLeftOverEnd) {
  const struct {
    std::size_t ahead, jobs;
    long runs;  // every gnuplot started ahead, and those started for the shares left
  } cases[] = {{2, 3, 3}, {2, 1, 2}, {1, 1, 1}};
  const std::string large = signature + std::string(3 << 20, 'x') + iend;  // more than a pipe holds
  for (const auto& c : cases) {
    const fake_gnuplot gnuplot("s/^.*\\nreset session\\n//");  // the warm-up left out
    gnuplots_ready ahead = ready_gnuplots(c.ahead);
    std::vector<picture_job> jobs;
    for (std::size_t i = 0; i < c.jobs; ++i) {
      jobs.push_back({std::to_string(i) + ".png", i == 0 ? large : signature + std::to_string(i) + iend, ""});
    }
    pictures_under_way drawing = start_pictures(jobs, c.jobs, std::move(ahead));
    const std::vector<picture> drawn = finish_pictures(drawing);
    EXPECT_EQ(gnuplot.runs(), c.runs) << c.ahead << " " << c.jobs;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(drawn[i].png, jobs[i].script) << jobs[i].file;
      EXPECT_EQ(drawn[i].error, "") << jobs[i].file;
    }
  }
}

TEST(Pictures, WithoutGnuplotEachSaysSo) {
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", "/nonexistent", 1);
  const std::vector<picture> drawn = draw_pictures({{"a.png", "plot x", ""}, {"b.png", "plot x", ""}});
  setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(drawn.size(), 2u);
  for (const picture& p : drawn) EXPECT_EQ(p.error, "cannot run gnuplot: No such file or directory");
}

TEST(Pictures, LeftUnfinishedTheirGnuplotsAreWaitedFor) {
  const fake_gnuplot gnuplot;
  { const pictures_under_way drawing = start_pictures({{"a.png", signature + "a" + iend, ""}}); }
  EXPECT_EQ(draw_pictures({{"b.png", signature + "b" + iend, ""}}).front().error, "");
}

}  // namespace
