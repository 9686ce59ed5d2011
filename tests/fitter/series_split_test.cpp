// A wide series read a second time on two threads, from where the first
// reading found its spectra: every spectrum once, in order, with its time
// and values; and the error a reading in one go meets first.
#include "fitter/series_split.h"

#include <gtest/gtest.h>

#include "fitter/series_relay.h"
#include "tests/support/blackbox.h"

using namespace kinetics;
using testing_support::scratch_dir;

namespace {

double value(std::size_t spectrum, std::size_t channel) { return static_cast<double>(spectrum * 10000 + channel); }

// A block series of wide spectra, with comments and blank lines between them.
std::string series_text(std::size_t spectra, std::size_t width) {
  std::string text = "# a wide series\n";
  for (std::size_t i = 0; i < spectra; ++i) {
    if (i % 3 == 1) text += "\n# spectrum " + std::to_string(i) + "\n";
    for (std::size_t c = 0; c < width; ++c) text += std::to_string(c) + " " + std::to_string(value(i, c)) + "\n";
    text += "&\n";
  }
  return text;
}

// The spectra as reread_series hands them over: their count, or where the
// first came out of order or with a wrong value.
std::string reread_all(const series_spec& spec, const series_map& map, std::size_t width, std::size_t& seen) {
  seen = 0;
  series_events events;
  events.grid = [](const vector_d&) { return std::string(); };
  events.spectrum = [&](std::size_t i, double t, const double* row) {
    EXPECT_EQ(i, seen);
    EXPECT_EQ(t, 2.0 + 0.5 * static_cast<double>(i));
    for (std::size_t c = 0; c < width; c += 97) ASSERT_EQ(row[c], value(i, c)) << i << " " << c;
    ++seen;
  };
  return reread_series(spec, 0, map, width, events, 3 * width * sizeof(double));  // 3 spectra a chunk
}

struct split_case {
  std::size_t spectra;
  std::string replace, with;  // an edit of the file after its first reading
  std::string error;          // "" for none, "same" for the one read_series_file gives on the edited file
};

TEST(SeriesSplit, SpectraComeInOrderAndTheFirstErrorIsTheOneOfAReadingInOneGo) {
  const std::size_t width = relay_width;
  const split_case cases[] = {
      {41, "", "", ""},                                            // 14 chunks, the last one short
      {2, "", "", ""},                                             // one chunk: read in one go
      {41, "\n0 390000.000000\n", "\n0 x90000.000000\n", "same"},  // a bad value in chunk 13
      {41, "\n1 30001.000000\n", "\n1 30001.000000\n1 3", "same"},  // a sample too many in chunk 1
      {41, "1023 401023.000000\n&\n", "", "changed"},              // the end cut off
  };
  for (const split_case& c : cases) {
    scratch_dir dir;
    const std::string path = (dir / "series.txt").string();
    std::string text = series_text(c.spectra, width);
    testing_support::write_file(path, text);
    series_spec spec;
    spec.file.path = path;
    spec.start = 2;
    spec.step = 0.5;
    series_map map;
    series_events ignore;
    ignore.grid = [](const vector_d&) { return std::string(); };
    ignore.spectrum = [](std::size_t, double, const double*) {};
    ASSERT_EQ(read_series_file(spec, 0, ignore, &map), "");
    ASSERT_EQ(map.at.size(), c.spectra);
    if (!c.replace.empty()) {
      const std::size_t at = text.find(c.replace);
      ASSERT_NE(at, std::string::npos) << c.replace;
      text = c.error == "changed" ? text.substr(0, at) : text.replace(at, c.replace.size(), c.with);
      testing_support::write_file(path, text);
    }
    std::size_t seen = 0;
    const std::string error = reread_all(spec, map, width, seen);
    if (c.error.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(seen, c.spectra);
    } else if (c.error == "same") {
      EXPECT_EQ(error, read_series_file(spec, 0, ignore)) << c.replace;
    } else {
      EXPECT_EQ(error, path + ": the file ends before spectrum 41, which its first reading found: was it changed since?");
    }
  }
}

}  // namespace
