// Result files that cannot be written: a read-only working directory and a
// full file system. As root, permissions do not stop a write, so these use a
// private mount namespace (a read-only bind mount, a tiny tmpfs); where that
// is not allowed the tests say they were skipped.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
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

}  // namespace
