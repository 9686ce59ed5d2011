#include "fitter/series_split.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/parallel.h"
#include "fitter/series_relay.h"

namespace kinetics {

namespace {

// The spectra of a chunk: as many as bytes hold, at least one.
std::size_t chunk_spectra(std::size_t width, std::size_t bytes) {
  return std::max<std::size_t>(bytes / (std::max<std::size_t>(width, 1) * sizeof(double)), 1);
}

struct split_plan {
  const series_spec& spec;
  double start;
  const series_map& map;
  std::size_t width;
  const series_events& events;
  std::size_t per_chunk;

  std::size_t chunks() const { return (map.at.size() + per_chunk - 1) / per_chunk; }
  std::size_t first_of(std::size_t c) const { return c * per_chunk; }
  std::size_t size_of(std::size_t c) const { return std::min(per_chunk, map.at.size() - first_of(c)); }
};

constexpr std::size_t no_chunk = std::numeric_limits<std::size_t>::max();

// Whose turn it is: the chunk handed over next; and the first chunk a
// thread failed in. The chunks after it are not needed: its error is the
// one reported.
struct turns {
  std::mutex lock;
  std::condition_variable changed;
  std::size_t next = 0;
  std::size_t failed = no_chunk;
};

// What a thread met: the chunk it failed in (no_chunk when none), and why.
struct lane_result {
  std::size_t chunk = no_chunk;
  std::string error;
  std::exception_ptr thrown;
};

// One of the two threads: it reads chunks first, first + 2, ..., each into
// a buffer, and hands each over when its turn comes.
class lane {
 public:
  lane(const split_plan& plan, turns& turns, std::size_t first) : plan_(plan), turns_(turns), chunk_(first) {}

  lane_result run() {
    series_events mine;
    mine.grid = [](const vector_d&) { return std::string(); };
    mine.spectrum = [this](std::size_t i, double t, const double* row) { take(i, t, row); };
    try {
      rows_.resize(plan_.per_chunk * plan_.width);
      times_.resize(plan_.per_chunk);
      std::string error = reread_spectra(
          plan_.spec, plan_.start, plan_.map, [this](std::size_t& first, std::size_t& count) { return next(first, count); },
          mine);
      if (!error.empty()) fail(std::move(error), nullptr);
    } catch (...) {
      fail({}, std::current_exception());
    }
    return std::move(result_);
  }

 private:
  bool next(std::size_t& first, std::size_t& count) {
    if (started_) chunk_ += 2;
    started_ = true;
    if (stop_ || chunk_ >= plan_.chunks()) return false;
    std::lock_guard<std::mutex> hold(turns_.lock);
    if (turns_.failed < chunk_) return false;
    first = plan_.first_of(chunk_);
    count = plan_.size_of(chunk_);
    return true;
  }

  void take(std::size_t i, double t, const double* row) {
    const std::size_t j = i - plan_.first_of(chunk_);
    std::copy(row, row + plan_.width, rows_.begin() + static_cast<long>(j * plan_.width));
    times_[j] = t;
    if (j + 1 == plan_.size_of(chunk_)) hand_over();
  }

  // Waits for the chunk's turn and hands its spectra over; stops instead
  // when the other thread has failed in a chunk before.
  void hand_over() {
    std::unique_lock<std::mutex> hold(turns_.lock);
    turns_.changed.wait(hold, [this] { return turns_.next == chunk_ || turns_.failed < chunk_; });
    if (turns_.next != chunk_) {
      stop_ = true;
      return;
    }
    hold.unlock();  // only the thread whose turn it is gets here
    try {
      const std::size_t first = plan_.first_of(chunk_);
      for (std::size_t j = 0; j < plan_.size_of(chunk_); ++j) {
        plan_.events.spectrum(first + j, times_[j], rows_.data() + j * plan_.width);
      }
    } catch (...) {
      fail({}, std::current_exception());
      return;
    }
    hold.lock();
    ++turns_.next;
    turns_.changed.notify_all();
  }

  void fail(std::string error, std::exception_ptr thrown) {
    stop_ = true;
    if (result_.chunk == no_chunk) result_ = lane_result{chunk_, std::move(error), std::move(thrown)};
    std::lock_guard<std::mutex> hold(turns_.lock);
    turns_.failed = std::min(turns_.failed, chunk_);
    turns_.changed.notify_all();
  }

  const split_plan& plan_;
  turns& turns_;
  std::size_t chunk_;
  bool started_ = false, stop_ = false;
  std::vector<double> rows_, times_;
  lane_result result_;
};

}  // namespace

std::string reread_series(const series_spec& spec, double start, const series_map& map, std::size_t width,
                          const series_events& events, std::size_t chunk_bytes) {
  const split_plan plan{spec, start, map, width, events, chunk_spectra(width, chunk_bytes)};
  if (width < relay_width || task_threads() < 2 || plan.chunks() < 2) return read_series_file(spec, start, events);
  turns t;
  lane even(plan, t, 0), odd(plan, t, 1);
  lane_result from_odd;
  std::thread other([&] { from_odd = odd.run(); });
  const lane_result from_even = even.run();
  other.join();
  // Every chunk before the first failure was read whole, so the earlier of
  // the two is the one a single reading meets first.
  const lane_result& first = from_even.chunk <= from_odd.chunk ? from_even : from_odd;
  if (first.thrown) std::rethrow_exception(first.thrown);
  return first.error;
}

}  // namespace kinetics
