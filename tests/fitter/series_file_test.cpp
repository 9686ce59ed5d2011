// Reading a block series whose later spectra write their channel positions
// as the first does, or otherwise: the same values and the same errors
// either way.
#include "fitter/series_file.h"

#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

using namespace kinetics;
using testing_support::scratch_dir;

namespace {

struct read_case {
  std::string first, later;  // the sample lines of the first spectrum and of the two after it
  std::string expected;      // the values of the later spectra, or the error after "s.txt line "
};

// Reads first, then later twice with every "y" replaced by 2 and then by 3.
std::string read_values(const read_case& c) {
  scratch_dir dir;
  const std::string path = (dir / "s.txt").string();
  std::string text = c.first + "&\n";
  for (const char v : {'2', '3'}) {
    std::string s = c.later;
    for (std::size_t at = s.find('y'); at != std::string::npos; at = s.find('y')) s[at] = v;
    text += s + "&\n";
  }
  testing_support::write_file(path, text);
  series_spec spec;
  spec.file.path = path;
  spec.step = 1;
  std::size_t width = 0;
  std::string out;
  series_events events;
  events.grid = [&](const vector_d& x) { return width = x.size(), std::string(); };
  events.spectrum = [&](std::size_t i, double, const double* row) {
    for (std::size_t k = 0; i > 0 && k < width; ++k) out += std::to_string(row[k]).substr(0, 4) + " ";
  };
  const std::string error = read_series_file(spec, 0, events);
  return error.empty() ? out : error.substr(path.size());
}

TEST(SeriesFile, LaterSpectraGiveTheirValuesAndErrorsHoweverTheirPositionsAreWritten) {
  // Lines of eight bytes or more, as the reader compares a word at a time.
  const read_case cases[] = {
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000 y.5\n", "2.00 2.50 3.00 3.50 "},  // written alike
      {"1.000000 1\n2.000000 1\n", "1.0 y\n2.00000 y\n", "2.00 2.00 3.00 3.00 "},         // written otherwise
      {" 1.00000\t1\r\n2.000000 1;\r\n", " 1.00000\ty\r\n2.000000 y;\r\n", "2.00 2.00 3.00 3.00 "},
      {"1234.567891 1\n1234.567892 1\n", "1234.567891 y.000\n1234.567892 y.000\n", "2.00 2.00 3.00 3.00 "},
      {"1.00000000000000000 1\n2 1\n", "1.00000000000000000 y\n2 y\n", "2.00 2.00 3.00 3.00 "},  // too long to keep
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000 ye1\n", "2.00 20.0 3.00 30.0 "},
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000 yx\n", " line 5: \"2x\" is not a number"},
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000\n",
       " line 5: a sample line must hold two numbers, x and the intensity"},
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000,y\n",  // blanks part the two numbers
       " line 5: a sample line must hold two numbers, x and the intensity"},
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.0000001 y\n",
       " line 5: channel position 2.0000001 is not 2, that of sample 2 of the first spectrum: every spectrum must "
       "have the same channels"},
      {"1.000000 1\n2.000000 1\n", "1.000000 y\n2.000000 y\n3.000000 y\n",
       " line 6: the spectrum holds more samples than the first, 2"},
  };
  for (const read_case& c : cases) EXPECT_EQ(read_values(c), c.expected) << c.later;
}

}  // namespace
