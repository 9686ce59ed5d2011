// ratefit against hostile names and failing helpers: file names that would
// run gnuplot commands or not read back, results that are inputs, names too
// long for the folder, a cut-off picture and a signal while gnuplot draws.
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::string decay_dat() {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    const double a = std::exp(-0.1 * i) + 0.001 * std::sin(3.0 * i);
    text += std::to_string(i) + " " + std::to_string(a) + " " + std::to_string(1 - a) + "\n";
  }
  return text;
}

const std::string model = "A -> B  k = 0.3\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n";

// A gnuplot of the test's own, first on the PATH, running script.
std::vector<std::string> with_gnuplot(const fs::path& bin, const std::string& script, std::vector<std::string> args) {
  fs::create_directories(bin);
  write_file(bin / "gnuplot", "#!/bin/sh\n" + script);
  fs::permissions(bin / "gnuplot", fs::perms::owner_all);
  args.insert(args.begin(), {"PATH=" + bin.string() + ":" + std::getenv("PATH"), RATEFIT_EXE});
  return args;
}

TEST(RatefitHostile, AFolderNameWithALineFeedRunsNoCommandAndReadsBack) {
  scratch_dir dir;
  const std::string folder = "x\nsystem(\"touch PWNED\")\nset output 'PWNED2'\n#";
  fs::create_directory(dir / folder);
  write_file(dir / folder / "m.txt", model);
  write_file(dir / folder / "dat.txt", decay_dat());
  const run_result r = run(RATEFIT_EXE, {folder + "/m.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"m.curve.txt", "m.fit.txt", "m.png", folder}));
  const std::string fit = read_file(dir / "m.fit.txt");
  EXPECT_NE(fit.find("\ndata \"x\\nsystem(\\\"touch PWNED\\\")\\nset output 'PWNED2'\\n\\x23/dat.txt\"\n"),
            std::string::npos)
      << fit;
  EXPECT_EQ(fit.find("# ratefit: x\\nsystem"), 0u) << "the heading shows the name escaped on one line";
  // The fit file names its data so that it fits again as it stands.
  const run_result again = run(RATEFIT_EXE, {"m.fit.txt"}, dir.path);
  EXPECT_EQ(again.status, 0) << again.err;
}

TEST(RatefitHostile, DataFileNamesThatNeedQuotesReadBack) {
  for (const std::string& folder : {std::string(" lead"), std::string("a#b"), std::string("\"q\""), std::string("tab\t"), std::string("a->b")}) {
    scratch_dir dir;
    fs::create_directory(dir / folder);
    write_file(dir / folder / "m.txt", model);
    write_file(dir / folder / "dat.txt", decay_dat());
    ASSERT_EQ(run(RATEFIT_EXE, {folder + "/m.txt"}, dir.path).status, 0) << folder;
    const run_result again = run(RATEFIT_EXE, {"--simulate", "m.fit.txt"}, dir.path);
    EXPECT_EQ(again.status, 0) << folder << ": " << again.err;
  }
  scratch_dir dir;  // a plain name is written as it was
  write_file(dir / "m.txt", model);
  write_file(dir / "dat.txt", decay_dat());
  ASSERT_EQ(run(RATEFIT_EXE, {"m.txt"}, dir.path).status, 0);
  EXPECT_NE(read_file(dir / "m.fit.txt").find("\ndata dat.txt\n"), std::string::npos);
}

TEST(RatefitHostile, AResultThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  const struct {
    std::vector<std::string> args;
    std::string link, target;  // link -> target made before the run
    std::string err;
  } cases[] = {
      {{"m.txt", "m.curve.txt"}, "", "", "the result \"m.curve.txt\" is the input \"m.curve.txt\""},
      {{"m.txt"}, "m.fit.txt", "dat.txt", "the result \"m.fit.txt\" is the input \"dat.txt\""},
      {{"m.txt"}, "m.png", "m.txt", "the result \"m.png\" is the input \"m.txt\""},
      {{"m.txt", "models.txt"}, "", "", "the result \"models.txt\" is the input \"models.txt\""},
      {{"--simulate", "m.txt"}, "m.curve.txt", "dat.txt", "the result \"m.curve.txt\" is the input \"dat.txt\""},
      {{}, "fitcurve.txt", "dat.txt", "the result \"fitcurve.txt\" is the input \"dat.txt\""},
      {{"--sigma", "fit.txt"}, "", "", "the result \"fit.txt\" is the input \"fit.txt\""},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "m.txt", model);
    write_file(dir / "m.curve.txt", model);
    write_file(dir / "models.txt", model);
    write_file(dir / "fit.txt", decay_dat());
    write_file(dir / "guess.txt", "0.3\n1 0\n0 39\n");
    write_file(dir / "dat.txt", decay_dat());
    if (!c.link.empty()) {
      fs::remove(dir / c.link);
      fs::create_symlink(c.target, dir / c.link);
    }
    const std::vector<std::string> before = names_in(dir.path);
    const run_result r = run(RATEFIT_EXE, c.args, dir.path);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.out, "") << c.err;
    EXPECT_EQ(r.err, "ratefit: " + c.err + ": nothing was written\n");
    EXPECT_EQ(names_in(dir.path), before) << c.err;
    EXPECT_EQ(read_file(dir / "dat.txt"), decay_dat());
    EXPECT_EQ(read_file(dir / "m.txt"), model);
  }
}

TEST(RatefitHostile, AnExperimentsResultThatIsAnInputIsRefused) {
  // An experiment's data file, and the results made per experiment or for a
  // series, are checked as the model's own are.
  const std::string experiments = "A -> B  k = 0.3\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n"
                                  "experiment one\ndata dat.txt\nexperiment two\ndata two.txt\n";
  const struct {
    std::string link, target;
  } cases[] = {{"x.one.curve.txt", "dat.txt"}, {"x.two.png", "two.txt"}, {"x.spectra.txt", "two.txt"}};
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "x.txt", experiments);
    write_file(dir / "dat.txt", decay_dat());
    write_file(dir / "two.txt", decay_dat());
    fs::create_symlink(c.target, dir / c.link);
    const std::vector<std::string> before = names_in(dir.path);
    const run_result r = run(RATEFIT_EXE, {"x.txt"}, dir.path);
    EXPECT_EQ(r.status, 1) << c.link;
    EXPECT_EQ(r.err, "ratefit: the result \"" + c.link + "\" is the input \"" + c.target + "\": nothing was written\n");
    EXPECT_EQ(names_in(dir.path), before) << c.link;
    EXPECT_EQ(read_file(dir / c.target), decay_dat());
  }
}

TEST(RatefitHostile, ANameTooLongForTheFolderTouchesNoResult) {
  scratch_dir dir;
  const std::string name(247, 'n');  // name.fit.txt fits in 255 bytes, name.curve.txt does not
  write_file(dir / (name + ".txt"), model);
  write_file(dir / "dat.txt", decay_dat());
  write_file(dir / (name + ".fit.txt"), "old fit\n");
  const run_result r = run(RATEFIT_EXE, {name + ".txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: cannot create \"" + name + ".curve.txt\": File name too long\n");
  EXPECT_EQ(read_file(dir / (name + ".fit.txt")), "old fit\n");
  EXPECT_EQ(names_in(dir.path).size(), 3u);
}

TEST(RatefitHostile, APictureGnuplotCutShortIsNotSaved) {
  const std::string cut = "cat > /dev/null; printf '\\211PNG\\r\\n\\032\\n\\0\\0\\0\\rIHDR cut short'\n";
  const struct {
    std::string script, warning;
  } cases[] = {
      {cut, "gnuplot's picture is not a whole PNG file"},
      {cut + "exit 3\n", "gnuplot failed"},
      {"exit 0\n", "gnuplot's picture is not a whole PNG file"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "m.txt", model);
    write_file(dir / "dat.txt", decay_dat());
    write_file(dir / "m.png", "old picture\n");
    const run_result r = run("/usr/bin/env", with_gnuplot(dir / "bin", c.script, {"m.txt"}), dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "ratefit: warning: no picture \"m.png\": " + c.warning + "\n");
    EXPECT_EQ(read_file(dir / "m.png"), "old picture\n");
    EXPECT_TRUE(fs::exists(dir / "m.fit.txt") && fs::exists(dir / "m.curve.txt"));
    EXPECT_EQ(r.out.find("Saving \"m.png\""), std::string::npos);
    EXPECT_EQ(names_in(dir.path).size(), 6u) << "bin, dat.txt, m.txt and the three results";
  }
}

bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_text, name, state;
  return stat >> pid_text >> name >> state && state != "Z";
}

TEST(RatefitHostile, ASignalWhileGnuplotDrawsStopsItAndLeavesTheOldResults) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    scratch_dir dir;
    write_file(dir / "m.txt", model);
    write_file(dir / "dat.txt", decay_dat());
    for (const char* result : {"m.fit.txt", "m.curve.txt", "m.png"}) write_file(dir / result, "old\n");
    const fs::path pid_file = dir / "bin" / "pid";
    const pid_t pid = start("/usr/bin/env",
                            with_gnuplot(dir / "bin", "echo $$ > '" + pid_file.string() + "'; exec sleep 60\n", {"m.txt"}),
                            dir.path);
    for (int i = 0; i < 3000 && (!fs::exists(pid_file) || fs::file_size(pid_file) == 0); ++i) ::usleep(10000);
    ASSERT_TRUE(fs::exists(pid_file)) << "gnuplot did not start";
    const pid_t gnuplot = std::stoi(read_file(pid_file));
    ::kill(pid, sig);
    EXPECT_EQ(wait_for(pid), 128 + sig);
    for (int i = 0; i < 200 && alive(gnuplot); ++i) ::usleep(10000);
    EXPECT_FALSE(alive(gnuplot)) << "gnuplot outlived ratefit";
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"bin", "dat.txt", "m.curve.txt", "m.fit.txt", "m.png", "m.txt"}));
    for (const char* result : {"m.fit.txt", "m.curve.txt", "m.png"}) EXPECT_EQ(read_file(dir / result), "old\n");
  }
}

TEST(RatefitHostile, AFitPastItsBudgetEndsWithWhereItWas) {
  scratch_dir dir;
  write_file(dir / "m.txt", model);
  write_file(dir / "dat.txt", decay_dat());
  write_file(dir / "guess.txt", "0.3\n1 0\n0 39\n");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--max-seconds", "1e-9", "m.txt"},
       "ratefit: m.txt: out of time: the fit took more than its 1e-09 seconds (--max-seconds) in start 1 of 5, at "
       "k = 0.3, [A]0 = 1; no result was written\n"},
      {{"--max-seconds", "1e-9"},
       "ratefit: out of time: the fit took more than its 1e-09 seconds (--max-seconds) in start 1 of 5, at k = 0.3, "
       "[A]0 = 1, [B]0 = 0; no result was written\n"},
  };
  for (const auto& c : cases) {
    const run_result r = run(RATEFIT_EXE, c.args, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"dat.txt", "guess.txt", "m.txt"}));
  }
  for (const char* bad : {"0", "-1", "x", "inf", "nan", "1s"}) {
    const run_result r = run(RATEFIT_EXE, {"--max-seconds", bad, "m.txt"}, dir.path);
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.err, "ratefit: --max-seconds takes a number of seconds above 0: ratefit --max-seconds S ...\n") << bad;
  }
  const run_result within = run(RATEFIT_EXE, {"--max-seconds", "600", "m.txt"}, dir.path);
  EXPECT_EQ(within.status, 0) << within.err;
}

// Another run holding the folder's lock (as a run does while it renames its
// results) keeps this one from renaming any of its own until it lets go.
TEST(RatefitHostile, RunsInOneFolderTakeTurnsAtTheRenames) {
  scratch_dir dir;
  write_file(dir / "m.txt", model);
  write_file(dir / "dat.txt", decay_dat());
  for (const char* result : {"m.fit.txt", "m.curve.txt", "m.png"}) write_file(dir / result, "old\n");
  const int folder = ::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  const pid_t pid = start(RATEFIT_EXE, {"m.txt"}, dir.path);
  std::size_t pending = 0;  // new files complete and waiting for the lock
  for (int i = 0; i < 3000 && pending < 3; ++i) {
    ::usleep(10000);
    pending = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) pending += entry.path().filename().string()[0] == '.';
  }
  ::usleep(200000);
  for (const char* result : {"m.fit.txt", "m.curve.txt", "m.png"}) EXPECT_EQ(read_file(dir / result), "old\n");
  EXPECT_EQ(pending, 3u);
  ::flock(folder, LOCK_UN);
  ::close(folder);
  EXPECT_EQ(wait_for(pid), 0);
  for (const char* result : {"m.fit.txt", "m.curve.txt", "m.png"}) EXPECT_NE(read_file(dir / result), "old\n");
}

}  // namespace
