// The structure of a spectrum series, read once for every way of summing
// it: sample lines, spectra closed by "&" lines and all of one length, and
// the messages when the series is not so. What a sample adds to and what a
// closed spectrum leaves are the caller's.
#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "common/lines.h"

// Where the reading of a series is.
struct series_position {
  const char* path;
  long long line_no = 0;
  long long bytes_read = 0;   // up to the end of the current line
  long long open_since = 0;   // line of the first sample of the spectrum being read
  int blocks = 0;             // spectra closed so far
  std::size_t samples = 0;    // in the spectrum being read
  std::size_t first_samples = 0;
};

// "bandsum: PATH line N: ", the start of a message about the current line.
inline std::string where(const series_position& at) {
  return std::string("bandsum: ") + at.path + " line " + std::to_string(at.line_no) + ": ";
}

// The most integrals (peaks times spectra) bandsum holds until it writes
// them: 16,777,216, 128 MiB of sums (as many again of uncertainties).
constexpr std::size_t max_integrals = std::size_t{1} << 24;

// The message when closing the spectrum at `at` would hold more integrals
// of `peaks` peaks than that, or "".
inline std::string too_many_integrals(const series_position& at, std::size_t peaks) {
  if (peaks == 0 || static_cast<std::size_t>(at.blocks) < max_integrals / peaks) return {};
  return where(at) + std::to_string(peaks) + " peaks over more than " + std::to_string(max_integrals / peaks) +
         " spectra are more than the " + std::to_string(max_integrals) +
         " integrals bandsum holds; split the series or the peak list";
}

// Reads the series at path. Calls read_sample(line) for every sample line,
// which reads the sample and returns false when the line does not begin
// with two numbers; and close(at) for every "&" line once the spectrum's
// length is checked, which returns a message or "". On success nBlocks is
// the number of spectra; returns a message, or an empty string.
template <class ReadSample, class Close>
std::string read_series(const char* path, int& nBlocks, ReadSample&& read_sample, Close&& close) {
  series_position at{path};
  std::string error;
  const auto status = lines::for_each_line(path, [&](std::string_view line) __attribute__((always_inline)) {
    ++at.line_no;
    at.bytes_read += static_cast<long long>(line.size()) + 1;
    switch (lines::classify(line)) {
      case lines::kind::empty:
      case lines::kind::comment: return true;
      case lines::kind::separator:
        if (at.blocks == 0) {
          at.first_samples = at.samples;
        } else if (at.samples != at.first_samples) {
          error = where(at) + "the spectrum closed here holds " + std::to_string(at.samples) +
                  " samples, but the first spectrum holds " + std::to_string(at.first_samples) +
                  "; every spectrum must hold the same number of samples";
          return false;
        }
        if (at.blocks == INT_MAX) {
          error = where(at) + "more spectra than bandsum can count";
          return false;
        }
        error = close(static_cast<const series_position&>(at));
        if (!error.empty()) return false;
        ++at.blocks;
        at.samples = 0;
        return true;
      case lines::kind::data: break;
    }
    if (!read_sample(line)) {
      error = where(at) + "a sample line must begin with two numbers, x and the intensity";
      return false;
    }
    if (at.samples == 0) at.open_since = at.line_no;
    ++at.samples;
    return true;
  });
  if (status == lines::status::not_opened) return std::string("bandsum: cannot open the spectrum series ") + path;
  if (!error.empty()) return error;
  if (status == lines::status::read_error) return std::string("bandsum: ") + path + ": read error: " + std::strerror(errno);
  if (at.samples != 0) {
    return std::string("bandsum: ") + path + ": the samples from line " + std::to_string(at.open_since) +
           " on are not closed by a line beginning with \"&\"; every spectrum, the last included, must end with one";
  }
  if (at.blocks == 0) {
    return std::string("bandsum: ") + path + ": no spectrum found; every spectrum must end with a line beginning with \"&\"";
  }
  nBlocks = at.blocks;
  return {};
}
