// Result files that cannot be written: a read-only working directory and a
// full file system. As root, permissions do not stop a write, so these use a
// private mount namespace (a read-only bind mount, a tiny tmpfs); where that
// is not allowed the tests say they were skipped.
#include <csignal>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using expected::bandsum::reading;


// Makes dir read-only for everybody, root included, then runs the program
// there; in a mount namespace of its own, so nothing outlives the run.
const char* const read_only_script =
    "mount --bind \"$1\" \"$1\" && mount -o remount,ro,bind \"$1\" || exit 99; cd \"$1\" && shift && exec \"$@\"";

// Mounts a 16 KiB tmpfs on dir, copies the inputs from src into it, fills it
// up, then runs the program there.
const char* const full_script =
    "mount -t tmpfs -o size=16k tmpfs \"$1\" || exit 99; cp \"$2\"/* \"$1\"/ || exit 98; cd \"$1\" && "
    "(dd if=/dev/zero of=filler bs=1k 2>/dev/null; true) && shift 2 && exec \"$@\"";

bool can_use_mounts() {
  scratch_dir dir;
  fs::create_directory(dir / "probe");
  const run_result r = run("/usr/bin/unshare", {"-m", "sh", "-c", read_only_script, "sh", (dir / "probe").string(),
                                                 "sh", "-c", "! touch x 2>/dev/null"},
                           dir.path);
  return r.status == 0;
}

void write_bandsum_inputs(const fs::path& dir) {
  write_file(dir / "peak.list", expected::bandsum::peaks);
  write_file(dir / "2d.txt", expected::bandsum::series);
  write_file(dir / "scale.txt", expected::bandsum::scale);
}

TEST(FaultInjection, BandsumInReadOnlyDirectory) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  scratch_dir dir;
  write_bandsum_inputs(dir.path);
  write_file(dir / "dat.txt", "previous results\n");
  const run_result r = run("/usr/bin/unshare", {"-m", "sh", "-c", read_only_script, "sh", dir.path.string(),
                                                 BANDSUM_EXE, "peak.list", "2d.txt"},
                           dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, reading);
  EXPECT_EQ(r.err, "bandsum: cannot create \"dat.txt\": Read-only file system\n");
  EXPECT_EQ(read_file(dir / "dat.txt"), "previous results\n");
}

TEST(FaultInjection, BandsumOnFullFileSystem) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  scratch_dir dir;
  fs::create_directory(dir / "inputs");
  fs::create_directory(dir / "full");
  write_bandsum_inputs(dir / "inputs");
  const run_result r = run("/usr/bin/unshare", {"-m", "sh", "-c", full_script, "sh", (dir / "full").string(),
                                                 (dir / "inputs").string(), BANDSUM_EXE, "peak.list", "2d.txt"},
                           dir.path);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, reading);
  EXPECT_EQ(r.err, "bandsum: cannot write \"dat.txt\": No space left on device\n");
}

TEST(FaultInjection, RatesimInReadOnlyDirectory) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  scratch_dir dir;
  write_file(dir / "guess.txt", expected::ratesim::worked_guess);
  write_file(dir / "sim.txt", "previous curves\n");
  const run_result r =
      run("/usr/bin/unshare", {"-m", "sh", "-c", read_only_script, "sh", dir.path.string(), RATESIM_EXE}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratesim: cannot create \"sim.txt\": Read-only file system\n");
  EXPECT_EQ(r.out.find("Saving"), std::string::npos);
  EXPECT_EQ(read_file(dir / "sim.txt"), "previous curves\n");
}

TEST(FaultInjection, RatesimOnFullFileSystem) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  scratch_dir dir;
  fs::create_directory(dir / "inputs");
  fs::create_directory(dir / "full");
  write_file(dir / "inputs" / "guess.txt", expected::ratesim::worked_guess);
  const run_result r = run("/usr/bin/unshare", {"-m", "sh", "-c", full_script, "sh", (dir / "full").string(),
                                                 (dir / "inputs").string(), RATESIM_EXE},
                           dir.path);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "ratesim: cannot write \"sim.txt\": No space left on device\n");
  EXPECT_EQ(r.out.find("Saving"), std::string::npos);
}

// A run that fills the file system half way through writing its result:
// mounts a 64 KiB tmpfs on $1, copies the files of $2 into it, fills it up
// to 8 KiB, runs the program ($5...) there, then leaves the folder's names
// and the result file $4 in $3.
const char* const mid_write_script =
    "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; cp \"$2\"/* \"$1\"/ || exit 98; cd \"$1\" || exit 97; "
    "dd if=/dev/zero of=filler bs=4k 2>/dev/null; truncate -s -8K filler || exit 96; out=$3; result=$4; shift 4; "
    "\"$@\"; status=$?; LC_ALL=C ls -A > \"$out/names\"; cp \"$result\" \"$out/result\"; exit $status";

TEST(FaultInjection, FileSystemFullHalfWayLeavesThePreviousResult) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  std::string long_series;  // 2000 spectra: a dat.txt of 38 KB
  for (int i = 0; i < 2000; ++i) long_series += "1.5 1\n&\n";
  std::string decay;  // 400 rows of A -> B
  for (int i = 0; i < 400; ++i) {
    const double a = std::exp(-0.05 * i);
    decay += std::to_string(i) + " " + std::to_string(a) + " " + std::to_string(1 - a) + "\n";
  }
  const std::string old_result = "  0.0 1.000000000 \n  1.0 0.990000000 \n";
  const struct {
    const char* result;
    std::string program;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> inputs;
    std::string err, names;
  } cases[] = {
      {"dat.txt", BANDSUM_EXE, {"peak.list", "2d.txt"},
       {{"peak.list", "0 A: 1 2\n"}, {"2d.txt", long_series}, {"scale.txt", "1\n1 1\n1\n"}},
       "bandsum: cannot write \"dat.txt\": No space left on device\n", "2d.txt\ndat.txt\nfiller\npeak.list\nscale.txt\n"},
      {"sim.txt", RATESIM_EXE, {}, {{"guess.txt", "1e-3\n1 0\n0 2000\n"}},  // 2001 lines, 54 KB
       "ratesim: cannot write \"sim.txt\": No space left on device\n", "filler\nguess.txt\nsim.txt\n"},
      {"fit.txt", RATEFIT_EXE, {}, {{"guess.txt", "0.1\n1 0\n0 10\n"}, {"dat.txt", decay}},  // fitcurve.txt: 24 KB
       "ratefit: cannot write \"fitcurve.txt\": No space left on device\n", "dat.txt\nfiller\nfit.txt\nguess.txt\n"},
      {"m.fit.txt", RATEFIT_EXE, {"m.txt"}, {{"m.txt", "A -> B  k = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n"},
                                              {"dat.txt", decay}},
       "ratefit: cannot write \"m.curve.txt\": No space left on device\n", "dat.txt\nfiller\nm.fit.txt\nm.txt\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    for (const char* sub : {"inputs", "full", "out"}) fs::create_directory(dir / sub);
    for (const auto& [name, bytes] : c.inputs) write_file(dir / "inputs" / name, bytes);
    write_file(dir / "inputs" / c.result, old_result);
    std::vector<std::string> args = {"-m", "sh", "-c", mid_write_script, "sh", (dir / "full").string(),
                                     (dir / "inputs").string(), (dir / "out").string(), c.result, c.program};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run("/usr/bin/unshare", args, dir.path);
    EXPECT_EQ(r.status, 1) << c.result;
    EXPECT_EQ(r.err, c.err) << c.result;
    EXPECT_EQ(read_file(dir / "out" / "result"), old_result) << c.result;
    EXPECT_EQ(read_file(dir / "out" / "names"), c.names) << c.result;
  }
}

// A disk that fills up at the picture: the fit and the curves are written,
// the old picture stays, and the run says why there is no new one.
TEST(FaultInjection, FileSystemFullAtThePictureKeepsTheOldPicture) {
  if (!fs::exists("/usr/bin/unshare") || !can_use_mounts()) GTEST_SKIP() << "skipped: no private mounts allowed here";
  std::string decay;  // 40 rows: a fit and curve file of a few KB, a picture of tens of KB
  for (int i = 0; i < 40; ++i) {
    const double a = std::exp(-0.1 * i);
    decay += std::to_string(i) + " " + std::to_string(a) + " " + std::to_string(1 - a) + "\n";
  }
  scratch_dir dir;
  for (const char* sub : {"inputs", "full", "out"}) fs::create_directory(dir / sub);
  write_file(dir / "inputs" / "m.txt", "A -> B  k = 0.3\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n");
  write_file(dir / "inputs" / "dat.txt", decay);
  write_file(dir / "inputs" / "m.png", "old picture\n");
  const run_result r = run("/usr/bin/unshare", {"-m", "sh", "-c", mid_write_script, "sh", (dir / "full").string(),
                                                 (dir / "inputs").string(), (dir / "out").string(), "m.png",
                                                 RATEFIT_EXE, "m.txt"},
                           dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "ratefit: warning: no picture \"m.png\": cannot write \"m.png\": No space left on device\n");
  EXPECT_EQ(read_file(dir / "out" / "result"), "old picture\n");
  EXPECT_EQ(read_file(dir / "out" / "names"), "dat.txt\nfiller\nm.curve.txt\nm.fit.txt\nm.png\nm.txt\n");
}

// SIGTERM or SIGINT while ratesim writes a long run: the new file goes, the
// previous sim.txt stays, and the signal ends the program as it would have.
TEST(FaultInjection, SignalDuringALongRunLeavesThePreviousSimTxt) {
  for (const int sig : {SIGTERM, SIGINT}) {
    scratch_dir dir;
    write_file(dir / "guess.txt", "1e-9\n1 0\n0 20000000\n");  // 2e9 steps
    write_file(dir / "sim.txt", "previous curves\n");
    const pid_t pid = start(RATESIM_EXE, {}, dir.path);
    bool writing = false;  // the new file holds lines
    for (int i = 0; i < 6000 && !writing && fs::file_size(dir / "sim.txt") == 16; ++i) {
      ::usleep(10000);
      for (const auto& entry : fs::directory_iterator(dir.path)) {
        writing = writing || (entry.path().filename().string().starts_with(".sim.txt") && entry.file_size() > 0);
      }
    }
    ::kill(pid, sig);
    EXPECT_EQ(wait_for(pid), 128 + sig);
    EXPECT_TRUE(writing) << "no new file appeared";
    EXPECT_TRUE(read_file(dir / "sim.txt") == "previous curves\n") << "sim.txt was changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2) << "a stray file";
  }
}

// Signals at moments spread over a run that writes files in pairs: every
// group of results is afterwards all old or all new and whole, and nothing
// else is left in the folder. Whatever the machine's speed, each moment
// falls somewhere in the run or after it, and either way this must hold.
TEST(FaultInjection, SignalsAtAnyMomentLeavePairsOldOrNewTogether) {
  std::string decay;
  for (int i = 0; i < 300; ++i) {
    const double a = std::exp(-0.05 * i);
    decay += std::to_string(0.5 * i) + " " + std::to_string(a) + " " + std::to_string(1 - a) + "\n";
  }
  const std::string old = "old result\n";
  const struct {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> inputs;
    std::vector<std::string> results;  // one group, replaced together
  } cases[] = {
      {{RATEFIT_EXE, "m.txt"}, {{"m.txt", "A -> B  k = 0.3\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n"}, {"dat.txt", decay}},
       {"m.fit.txt", "m.curve.txt", "m.png"}},
      {{RATEFIT_EXE}, {{"guess.txt", "0.5\n1 0\n0 150\n"}, {"dat.txt", decay}}, {"fit.txt", "fitcurve.txt"}},
      {{BANDSUM_EXE, "--noise", "0", "3", "peak.list", "2d.txt"},
       {{"peak.list", "0 A: 4 6\n"}, {"2d.txt", [] {
          std::string series;
          for (int j = 0; j < 3000; ++j) series += "1 0.1\n2 0.2\n2.5 0.1\n5 1\n&\n";
          return series;
        }()},
        {"scale.txt", "1\n1 1\n1\n"}},
       {"dat.txt", "sigma.txt"}},
  };
  for (const auto& c : cases) {
    scratch_dir reference;
    for (const auto& [name, bytes] : c.inputs) write_file(reference / name, bytes);
    const std::vector<std::string> rest(c.args.begin() + 1, c.args.end());
    ASSERT_EQ(run(c.args[0], rest, reference.path).status, 0) << c.args[0];
    for (int moment = 0; moment < 12; ++moment) {
      scratch_dir dir;
      for (const auto& [name, bytes] : c.inputs) write_file(dir / name, bytes);
      for (const std::string& name : c.results) write_file(dir / name, old);
      const pid_t pid = start(c.args[0], rest, dir.path);
      ::usleep(static_cast<useconds_t>(moment * moment * 500));  // 0 to 60 ms
      ::kill(pid, moment % 2 ? SIGTERM : SIGHUP);
      wait_for(pid);
      std::size_t fresh = 0;
      for (const std::string& name : c.results) {
        const std::string bytes = read_file(dir / name);
        EXPECT_TRUE(bytes == old || bytes == read_file(reference / name)) << name << " at moment " << moment;
        fresh += bytes != old;
      }
      EXPECT_TRUE(fresh == 0 || fresh == c.results.size()) << c.results[0] << " at moment " << moment;
      EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator())),
                c.inputs.size() + c.results.size())
          << "a stray file, " << c.results[0] << " at moment " << moment;
    }
  }
}

}  // namespace
