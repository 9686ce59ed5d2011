// bandsum on input files as people and instruments really leave them: a
// folder instead of a file, empty, binary, enormous lines, NUL bytes, cut
// off mid-number, CR LF ends and byte-order marks. Every case has one
// documented outcome, and a failed run leaves "dat.txt" as it was.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace expected::bandsum;

const std::string old_dat = "previous results\n";
const std::string bad_sample = ": a sample line must begin with two numbers, x and the intensity\n";
const std::string no_index = ": a peak line must begin with the peak index (a whole number)\n";

const std::string nul(1, '\0');
const std::string junk = "\x01\x02\xff\xfe\x80junk\x7f" + nul + "\x1b[2J";
const std::string folder = "<folder>";  // stands for a directory in place of the file

struct hostile_case {
  const char* name;
  std::string peak_list, spectra, scale_table;
  int status;
  std::string out, err, dat;
};

std::string big(std::size_t bytes, const std::string& unit) {
  std::string s;
  s.reserve(bytes + unit.size());
  while (s.size() < bytes) s += unit;
  return s;
}

TEST(BandsumHostile, EveryInputFile) {
  const std::size_t ten_mb = 10u << 20;
  const hostile_case cases[] = {
      // A folder where a file should be.
      {"peak list is a folder", folder, series, scale, 1, reading, "peak.list file not found\n", old_dat},
      {"series is a folder", peaks, folder, scale, 1, reading, "bandsum: cannot open the spectrum series 2d.txt\n",
       old_dat},
      {"scale.txt is a folder", peaks, series, folder, 1, "", "No such read-in file\n" + scale_banner, old_dat},
      // Empty files.
      {"empty peak list: no peaks", "", series, scale, 0, reading + saving, "", "  0.0 \n  0.5 \n"},
      {"empty series", peaks, "", scale, 1, reading,
       "bandsum: 2d.txt: no spectrum found; every spectrum must end with a line beginning with \"&\"\n", old_dat},
      {"empty scale.txt", peaks, series, "", 1, "", scale_banner, old_dat},
      // Binary junk.
      {"junk peak list", junk, series, scale, 1, reading, "bandsum: peak.list line 1" + no_index, old_dat},
      {"junk series", peaks, junk, scale, 1, reading, "bandsum: 2d.txt line 1" + bad_sample, old_dat},
      {"junk scale.txt", peaks, series, junk, 1, "", scale_banner, old_dat},
      // Lines of ten megabytes.
      {"10 MB after the bounds", "0 A: 1.0 2.0" + big(ten_mb, " x") + "\n1 B: 3.0 2.5\n", series, scale, 0,
       reading + saving, "", worked_dat},
      {"10 MB peak index", big(ten_mb, "9") + " A: 1 2\n1 B: 3 4\n", series, scale, 1, reading,
       "bandsum: peak.list line 1" + no_index, old_dat},
      {"10 MB after a sample", peaks, "1.50 10.0" + big(ten_mb, " 7") + "\n2.70 4.0\n&\n", scale, 0, reading + saving,
       "", "  0.0 2.500000000 0.666666667 \n"},
      {"10 MB of digits as x", peaks, "1." + big(ten_mb, "5") + " 10.0\n2.70 4.0\n&\n", scale, 0, reading + saving,
       "", "  0.0 2.500000000 0.666666667 \n"},
      {"10 MB row 0", peaks, series, big(ten_mb, "2 3 ") + "\n4 2\n0.5\n", 0, reading + saving, "", worked_dat},
      // NUL bytes.
      {"NUL inside a bound", "0 A: 1.0" + nul + "x 2.0\n1 B: 3.0 2.5\n", series, scale, 0, reading + saving,
       "", worked_dat},
      {"NUL after x", peaks, "1.50" + nul + " 10.0\n2.70 4.0\n&\n", scale, 1, reading,
       "bandsum: 2d.txt line 1" + bad_sample, old_dat},
      {"NUL ends row 0", peaks, series, "2" + nul + " 3\n4 2\n0.5\n", 1, "", scale_banner, old_dat},
      // Cut off in the middle of a number.
      {"peak list cut after a decimal point", "0 A: 1.0 2.0\n1 B: 3.0 2.", series, scale, 0, reading + saving, "",
       worked_dat},
      {"series cut mid-exponent", peaks, "1.50 10.0\n2.70 4.0\n&\n1.50 2e", scale, 1, reading,
       "bandsum: 2d.txt line 4" + bad_sample, old_dat},
      {"series cut before its last separator", peaks, "1.50 10.0\n2.70 4.0\n&\n1.50 20.0\n2.70 6.", scale, 1,
       reading,
       "bandsum: 2d.txt: the samples from line 4 on are not closed by a line beginning with \"&\"; every spectrum, "
       "the last included, must end with one\n",
       old_dat},
      {"scale.txt cut mid-exponent", peaks, series, "2 3\n4 2\n0.5e", 1, "",
       "bandsum: row 2 of \"scale.txt\" (its third data line) must hold the time step between spectra\n", old_dat},
      // CR LF line ends and byte-order marks.
      {"CR LF everywhere", "0 A: 1.0 2.0\r\n1 B: 3.0 2.5\r\n", "1.50 10.0\r\n2.70 4.0\r\n&\r\n1.50 20.0\r\n2.70 6.0\r\n&\r\n",
       "2 3\r\n4 2\r\n0.5\r\n", 0, reading + saving, "", worked_dat},
      {"byte-order mark on the peak list", "\xEF\xBB\xBF" + peaks, series, scale, 1, reading,
       "bandsum: peak.list line 1" + no_index, old_dat},
      {"byte-order mark on the series", peaks, "\xEF\xBB\xBF# exported\r\n" + series, scale, 1, reading,
       "bandsum: 2d.txt line 1" + bad_sample, old_dat},
      {"byte-order mark on scale.txt", peaks, series, "\xEF\xBB\xBF" + scale, 1, "", scale_banner, old_dat},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    const std::map<std::string, std::string> given = {
        {"peak.list", c.peak_list}, {"2d.txt", c.spectra}, {"scale.txt", c.scale_table}};
    for (const auto& [name, bytes] : given) {
      if (bytes == folder) {
        fs::create_directory(dir / name);
      } else {
        write_file(dir / name, bytes);
      }
    }
    write_file(dir / "dat.txt", old_dat);
    const run_result r = run(BANDSUM_EXE, {"peak.list", "2d.txt"}, dir.path);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "dat.txt"), c.dat) << c.name;
  }
}

// 200 MB without a line feed, as the peak list or as the series (a pipe from
// /dev/zero): bandsum ends with a message, its memory bounded, under a 1 GB
// address-space limit where the build allows one (not with a sanitizer).
TEST(BandsumHostile, EndlessLineKeepsMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit = "";
#else
  const std::string limit = "ulimit -v 1000000 && ";
#endif
  const std::string script = limit + "head -c 200000000 /dev/zero | exec \"$0\" \"$@\"";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"peak.list", "/dev/stdin"}, "bandsum: /dev/stdin line 1" + bad_sample},
      {{"/dev/stdin", "2d.txt"}, "bandsum: /dev/stdin: no line sets the window of peak 0\n"},  // read once, by the count
  };
  for (const auto& [args, err] : cases) {
    scratch_dir dir;
    write_file(dir / "peak.list", peaks);
    write_file(dir / "2d.txt", series);
    write_file(dir / "scale.txt", scale);
    std::vector<std::string> all = {"-c", script, BANDSUM_EXE};
    all.insert(all.end(), args.begin(), args.end());
    const run_result r = run("/bin/sh", all, dir.path);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, err);
    EXPECT_LT(r.max_rss_kib, 64L << 10) << args[0];
  }
}

TEST(BandsumHostile, AResultThatIsAnInputIsRefused) {
  const struct {
    std::vector<std::string> args;
    std::string link, target, err;
  } cases[] = {
      {{"dat.txt", "2d.txt"}, "", "", "the result \"dat.txt\" is the input \"dat.txt\""},
      {{"peak.list", "2d.txt"}, "dat.txt", "2d.txt", "the result \"dat.txt\" is the input \"2d.txt\""},
      {{"--noise", "0", "1", "peak.list", "2d.txt"}, "sigma.txt", "scale.txt",
       "the result \"sigma.txt\" is the input \"scale.txt\""},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "peak.list", peaks);
    write_file(dir / "2d.txt", series);
    write_file(dir / "scale.txt", scale);
    write_file(dir / "dat.txt", peaks);
    if (!c.link.empty()) {
      fs::remove(dir / c.link);
      fs::create_symlink(c.target, dir / c.link);
    }
    const run_result r = run(BANDSUM_EXE, c.args, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "bandsum: " + c.err + ": nothing was written\n");
    EXPECT_EQ(read_file(dir / "2d.txt"), series);
    EXPECT_EQ(read_file(dir / "scale.txt"), scale);
  }
}

}  // namespace
