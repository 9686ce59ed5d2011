// Spectra handed across threads: each once, in order, with its values, and
// a failure of their use carried to the reader.
#include "fitter/series_relay.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace kinetics;

namespace {

double value(std::size_t spectrum, std::size_t channel) { return static_cast<double>(spectrum * 7919 + channel); }

struct relay_case {
  std::size_t width, spectra, throw_at;  // throw_at past spectra: no throw
};

// Hands spectra of the case to a relay, as a reader would, and returns how
// many were used; sets thrown when finish threw.
// ended_at: how many were used when the relay's end ran (-1: it did not).
std::size_t relay_all(const relay_case& c, bool& thrown, bool& same_thread, long& ended_at) {
  std::size_t used = 0;
  std::thread::id user;
  ended_at = -1;
  same_thread = true;
  const std::thread::id reader = std::this_thread::get_id();
  series_events use;
  use.grid = [](const vector_d&) { return std::string(); };
  use.spectrum = [&](std::size_t i, double t, const double* row) {
    if (i == c.throw_at) throw std::runtime_error("spectrum " + std::to_string(i));
    EXPECT_EQ(i, used);
    EXPECT_EQ(t, 0.5 * static_cast<double>(i));
    for (std::size_t ch = 0; ch < c.width; ++ch) ASSERT_EQ(row[ch], value(i, ch)) << i << " " << ch;
    same_thread = same_thread && std::this_thread::get_id() == reader;
    user = std::this_thread::get_id();
    ++used;
  };
  series_relay relay(use, [&] {
    EXPECT_EQ(ended_at, -1) << "ends once";
    if (used > 0) {
      EXPECT_EQ(std::this_thread::get_id(), user) << "on the thread that used the spectra";
    }
    ended_at = static_cast<long>(used);
  });
  EXPECT_EQ(relay.events().grid(vector_d(c.width)), "");
  std::vector<double> row(c.width);
  for (std::size_t i = 0; i < c.spectra; ++i) {
    for (std::size_t ch = 0; ch < c.width; ++ch) row[ch] = value(i, ch);
    relay.events().spectrum(i, 0.5 * static_cast<double>(i), row.data());
    std::fill(row.begin(), row.end(), -1.0);  // the reader's row is its own again
  }
  thrown = false;
  try {
    relay.finish();
  } catch (const std::runtime_error& e) {
    thrown = true;
    EXPECT_EQ(e.what(), "spectrum " + std::to_string(c.throw_at));
  }
  return used;
}

TEST(SeriesRelay, EverySpectrumIsUsedOnceInOrderAndAFailureComesBack) {
  const relay_case cases[] = {
      {relay_width, 300, 1000},  // more spectra than slots: the reader waits for the user
      {relay_width * 4, 5, 1000}, {relay_width, 300, 40},  // a failure: the rest are dropped
      {16, 10, 1000},                                      // narrow: used at once, on the reader's thread
      {relay_width, 0, 1000},                              // no spectrum: no thread to end
  };
  for (const relay_case& c : cases) {
    bool thrown = false, same_thread = false;
    long ended_at = 0;
    const std::size_t used = relay_all(c, thrown, same_thread, ended_at);
    EXPECT_EQ(ended_at, thrown ? -1 : static_cast<long>(c.spectra)) << c.width << " " << c.spectra;
    EXPECT_EQ(used, std::min(c.spectra, c.throw_at)) << c.width << " " << c.spectra;
    EXPECT_EQ(thrown, c.throw_at < c.spectra) << c.width << " " << c.spectra;
    if (c.spectra > 0) {
      EXPECT_EQ(same_thread, c.width < relay_width) << c.width;
    }
  }
}

}  // namespace
