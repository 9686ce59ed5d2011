#include "fitter/series_relay.h"

#include <algorithm>
#include <utility>

namespace kinetics {

namespace {

// The spectra read ahead of the one being used: as many as 8 MiB hold (a
// fold of the reduction takes as long as reading a dozen; 16 MiB were no
// faster, only more fresh pages to touch, and 4 MiB slower), at least 2.
std::size_t relay_slots(std::size_t width) {
  return std::clamp<std::size_t>((std::size_t{8} << 20) / (width * sizeof(double)), 2, 64);
}

}  // namespace

series_relay::series_relay(const series_events& use, std::function<void()> at_end)
    : use_(use), at_end_(std::move(at_end)) {
  front_.grid = [this](const vector_d& x) {
    width_ = x.size();
    return use_.grid(x);
  };
  front_.spectrum = [this](std::size_t spectrum, double t, const double* row) { hand(spectrum, t, row); };
}

series_relay::~series_relay() {
  try {
    close(false);
  } catch (...) {  // already reported, or dropped with the results it would have spoilt
  }
}

void series_relay::hand(std::size_t spectrum, double t, const double* row) {
  if (width_ < relay_width) {
    use_.spectrum(spectrum, t, row);
    return;
  }
  std::unique_lock<std::mutex> hold(lock_);
  if (!user_.joinable()) {
    slots_.assign(relay_slots(width_), slot{0, 0, std::vector<double>(width_)});
    user_ = std::thread([this] { serve(); });
  }
  changed_.wait(hold, [this] { return filled_ < slots_.size(); });
  slot& s = slots_[(taken_ + filled_) % slots_.size()];
  hold.unlock();  // the slot is the reader's until it is counted as filled
  s.spectrum = spectrum;
  s.t = t;
  std::copy(row, row + width_, s.row.begin());
  hold.lock();
  ++filled_;
  changed_.notify_all();
}

// Runs at_end_ once, unless using a spectrum failed; a throw is kept.
void series_relay::end() {
  if (!at_end_ || failure_) return;
  try {
    std::exchange(at_end_, nullptr)();
  } catch (...) {
    failure_ = std::current_exception();
  }
}

void series_relay::serve() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return filled_ > 0 || closing_; });
    if (filled_ == 0) {
      if (ending_) end();
      return;
    }
    slot& s = slots_[taken_];
    const bool failed = failure_ != nullptr;
    hold.unlock();  // the slot is the user's until it is counted as used
    if (!failed) {
      try {
        use_.spectrum(s.spectrum, s.t, s.row.data());
      } catch (...) {
        hold.lock();
        failure_ = std::current_exception();
        hold.unlock();
      }
    }
    hold.lock();
    taken_ = (taken_ + 1) % slots_.size();
    --filled_;
    changed_.notify_all();
  }
}

void series_relay::finish() { close(true); }

void series_relay::close(bool ending) {
  if (user_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closing_ = true;
      ending_ = ending;
    }
    changed_.notify_all();
    user_.join();
  } else if (ending) {
    end();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

std::string read_series_relayed(const series_spec& spec, double start, const series_events& events,
                                series_map* map, std::function<void()> at_end) {
  series_relay relay(events, std::move(at_end));
  if (std::string error = read_series_file(spec, start, relay.events(), map); !error.empty()) return error;
  relay.finish();
  return {};
}

}  // namespace kinetics
