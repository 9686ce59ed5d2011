// Processed NMR experiment folders: both byte orders, the scaling exponent,
// the exact ppm axis, the order by acquisition time, and malformed folders.
#include "instrument/nmr_folder.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

using namespace instrument;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The bytes of 32-bit integers in the given byte order.
std::string int32_bytes(const std::vector<std::int32_t>& v, bool big_endian) {
  std::string out;
  for (const std::int32_t value : v) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((u >> (8 * (big_endian ? 3 - i : i))) & 0xff);
  }
  return out;
}

// Writes experiment folder NUMBER with its acqus, procs and 1r.
void write_experiment(const fs::path& dir, int number, long long date, const std::vector<std::int32_t>& points,
                      bool big_endian, int exponent) {
  const fs::path pdata = dir / std::to_string(number) / "pdata" / "1";
  fs::create_directories(pdata);
  write_file(dir / std::to_string(number) / "acqus", "##TITLE= Parameter file\n##$DATE= " + std::to_string(date) +
                                                        "\n##$SW_h= 4000\n##END=\n");
  write_file(pdata / "procs", "##TITLE= Parameter file\n##$BYTORDP= " + std::string(big_endian ? "1" : "0") +
                                  "\n##$NC_proc= " + std::to_string(exponent) + "\n##$SI= " +
                                  std::to_string(points.size()) +
                                  "\n##$OFFSET= 12.5\n##$SW_p= 3000\n##$SF= 500.0\n##$DTYPP= 0\n##$XDIM= (0..1)\n0 0\n##END=\n");
  write_file(pdata / "1r", int32_bytes(points, big_endian));
}

TEST(NmrFolder, BothByteOrdersAndTheExponent) {
  const std::vector<std::int32_t> points{0, 1, -1, 65536, -2147483647 - 1, 2147483647};
  for (const bool big : {false, true}) {
    for (const int exponent : {0, 3, -2}) {
      scratch_dir dir;
      write_experiment(dir.path, 10, 1000, points, big, exponent);
      spectrum s;
      ASSERT_EQ(read_processed((dir / "10/pdata/1").string(), s), "");
      ASSERT_EQ(s.y.size(), points.size());
      for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(s.y[i], static_cast<double>(points[i]) * std::pow(2.0, exponent)) << big << " " << i;
        // 3000 Hz / 500 MHz = 6 ppm over 6 points: 1 ppm apart from 12.5 down.
        EXPECT_EQ(s.x[i], 12.5 - static_cast<double>(i)) << i;
      }
    }
  }
}

TEST(NmrFolder, ExperimentsInTheOrderOfTheirTimes) {
  scratch_dir dir;
  write_experiment(dir.path, 1, 5000, {1, 1}, false, 0);
  write_experiment(dir.path, 2, 4000, {2, 2}, true, 0);
  write_experiment(dir.path, 10, 6000, {3, 3}, false, 0);
  fs::create_directories(dir / "notes");
  std::vector<double> ys, times;
  const std::string e = read_nmr_folder(dir.path.string(), [&](const spectrum& s) {
    ys.push_back(s.y[0]);
    times.push_back(s.time);
    return std::string();
  });
  EXPECT_EQ(e, "");
  EXPECT_EQ(ys, (std::vector<double>{2, 1, 3}));
  EXPECT_EQ(times, (std::vector<double>{4000, 5000, 6000}));
}

TEST(NmrFolder, MalformedExperimentsAreNamed) {
  scratch_dir dir;
  write_experiment(dir.path, 1, 5000, {1, 2, 3}, false, 0);
  const std::string pdata = (dir / "1/pdata/1").string();
  spectrum s;
  write_file(dir / "1/pdata/1/1r", std::string(11, '\0'));
  EXPECT_EQ(read_processed(pdata, s), pdata + "/1r: holds 11 bytes; ##$SI= 3 points of 4 bytes make 12");
  write_file(dir / "1/pdata/1/procs", "##$BYTORDP= 2\n##$SI= 3\n");
  EXPECT_EQ(read_processed(pdata, s), pdata + "/procs: \"##$BYTORDP= 2\" must be a whole number from 0 to 1");
  write_file(dir / "1/pdata/1/procs", "##$BYTORDP= 0\n##$SI= 3\n##$NC_proc= 0\n##$OFFSET= 1\n##$SF= 1\n");
  EXPECT_EQ(read_processed(pdata, s), pdata + "/procs: no \"##$SW_p=\"; it is needed to read the spectrum");
  scratch_dir empty;
  EXPECT_EQ(read_nmr_folder(empty.path.string(), [](const spectrum&) { return std::string(); }),
            empty.path.string() + ": no numbered experiment folder with pdata/1 in it; expected folders 1, 2, ... each "
                                  "with acqus and pdata/1/procs and 1r");
}

}  // namespace
