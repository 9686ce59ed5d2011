// Reading a series on one thread while its spectra are used on another:
// folding a wide spectrum into the reduction costs about as much as reading
// its text, so with two cores the two go on side by side.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "fitter/series_file.h"

namespace kinetics {

// Spectra this wide or wider are handed to a thread of their own; narrower
// ones cost little to use and are used at once, on the reader's thread.
constexpr std::size_t relay_width = 1024;

// Stands between a reader and the events that use its spectra. The reader
// is given events(); every spectrum then reaches the events given here in
// its order, once, on a second thread when the spectra are wide. finish()
// (or the destructor) waits until all have been used, and throws again what
// using one threw; after such a throw the spectra that follow are dropped.
// finish() runs at_end, when given, on the thread that used the spectra
// after the last of them (and not after a throw, nor from the destructor):
// what it allocates comes from where that thread freed memory.
class series_relay {
 public:
  explicit series_relay(const series_events& use, std::function<void()> at_end = {});
  series_relay(const series_relay&) = delete;
  series_relay& operator=(const series_relay&) = delete;
  ~series_relay();

  const series_events& events() const { return front_; }
  void finish();

 private:
  struct slot {
    std::size_t spectrum = 0;
    double t = 0;
    std::vector<double> row;
  };
  void hand(std::size_t spectrum, double t, const double* row);
  void serve();

  void end();
  void close(bool ending);

  const series_events& use_;
  std::function<void()> at_end_;
  series_events front_;
  std::size_t width_ = 0;
  std::vector<slot> slots_;  // a ring: taken_ is the next to use, filled_ of them wait
  std::size_t taken_ = 0, filled_ = 0;
  bool closing_ = false, ending_ = false;
  std::exception_ptr failure_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::thread user_;
};

// Reads the series of spec as read_series_file does, its spectra handed to
// events through a relay, and then runs at_end (when given) as the relay's
// finish() does, unless the reading failed.
std::string read_series_relayed(const series_spec& spec, double start, const series_events& events,
                                series_map* map = nullptr, std::function<void()> at_end = {});

}  // namespace kinetics
