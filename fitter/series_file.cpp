#include "fitter/series_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "common/format.h"
#include "common/lines.h"
#include "common/numparse.h"

namespace kinetics {

namespace {

std::string in_quotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string at_line(const std::string& path, long long line, const std::string& message) {
  return path + " line " + std::to_string(line) + ": " + message;
}

// A word that is a number as a whole: "nan", "inf" and "1.5x" are not.
bool number(std::string_view w, double& out) {
  const char* p = w.data();
  return !w.empty() && numparse::scan_double(p, w.data() + w.size(), out) && p == w.data() + w.size();
}

bool separator(char c) { return numparse::is_space(c) || c == ',' || c == ';'; }

// The cells of a line split at blanks, tabs, commas and semicolons (a run of
// them is one separator); leading says whether the line starts with one.
std::vector<std::string_view> cells(std::string_view line, bool& leading) {
  std::vector<std::string_view> out;
  leading = !line.empty() && separator(line.front()) && !numparse::is_space(line.front());
  lines::split_words(line, separator, out);
  return out;
}

bool in_ranges(const series_spec& spec, double x) {
  if (spec.channels.empty()) return true;
  return std::any_of(spec.channels.begin(), spec.channels.end(),
                     [x](const auto& r) { return r.first <= x && x <= r.second; });
}

bool same_position(double a, double b) { return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b)); }

// The first bytes of a line, up to 16 of them, as two words whose bytes
// past them are zero.
struct line_start {
  std::uint64_t word[2] = {0, 0};
  std::size_t size = 0;  // 0: more than 16 bytes, not kept
};

// For n <= 8, the word whose first n bytes in memory are all ones, the
// others zero: the same bytes whatever the byte order.
constexpr std::array<std::uint64_t, 9> first_bytes = [] {
  std::array<std::uint64_t, 9> out{};
  for (std::size_t n = 0; n <= 8; ++n) {
    std::array<unsigned char, 8> b{};
    for (std::size_t i = 0; i < n; ++i) b[i] = 0xff;
    out[n] = std::bit_cast<std::uint64_t>(b);
  }
  return out;
}();

line_start start_of(std::string_view line, std::size_t n) {
  line_start s;
  if (n == 0 || n > 16 || n > line.size()) return s;
  std::memcpy(s.word, line.data(), n);
  s.size = n;
  return s;
}

// Whether line begins with the bytes of s and then a separator.
bool begins_with(std::string_view line, const line_start& s) {
  const std::size_t n = s.size;
  if (n == 0 || line.size() <= n || line.size() < 8) return false;
  std::uint64_t w;
  std::memcpy(&w, line.data(), 8);
  if (n <= 8) return (w & first_bytes[n]) == s.word[0] && separator(line[n]);
  if (w != s.word[0] || line.size() < 16) return false;
  std::memcpy(&w, line.data() + 8, 8);
  return (w & first_bytes[n - 8]) == s.word[1] && separator(line[n]);
}

std::string open_failure(const std::string& path, lines::status status) {
  if (status == lines::status::not_opened) {
    return "cannot read " + in_quotes(path) + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  }
  return "cannot read " + in_quotes(path) + ": " + std::strerror(errno);
}

// The times of the spectra, when a file or a step gives them.
struct time_source {
  const series_spec& spec;
  vector_d times;                // from the file
  std::vector<long long> lines;  // and their lines

  std::string load() {
    if (spec.times.line == 0) return {};
    long long no = 0;
    std::string error;
    errno = 0;
    const auto status = lines::for_each_line(spec.times.path.c_str(), [&](std::string_view line) {
      ++no;
      bool leading = false;
      const std::vector<std::string_view> c = cells(line, leading);
      if (c.empty() || c.front().front() == '#') return true;
      double t = 0;
      if (!number(c.front(), t)) {
        error = at_line(spec.times.path, no, in_quotes(c.front()) + " is not a number");
        return false;
      }
      times.push_back(t);
      lines.push_back(no);
      return true;
    });
    if (!error.empty()) return error;
    if (status != lines::status::done) return open_failure(spec.times.path, status);
    return {};
  }

  // The time of spectrum i, closed at line of the series.
  std::string time_of(std::size_t i, long long line, double& t) const {
    if (spec.times.line == 0) {
      t = spec.start + spec.step * static_cast<double>(i);
      return {};
    }
    if (i >= times.size()) {
      return at_line(spec.file.path, line, "spectrum " + std::to_string(i + 1) + " has no time: " + spec.times.path +
                                               " holds " + std::to_string(times.size()) + " times");
    }
    t = times[i];
    return {};
  }

  std::string check_count(std::size_t spectra) const {
    if (spec.times.line == 0 || times.size() <= spectra) return {};
    return at_line(spec.times.path, lines[spectra], "a time without a spectrum: " + spec.file.path + " holds " +
                                                        std::to_string(spectra) + " spectra");
  }
};

// What every reader shares: the channels used, the row handed over, the
// check of the start time.
struct row_sink {
  const series_spec& spec;
  const series_events& events;
  double start;
  std::vector<char> use;
  vector_d row;
  std::size_t spectra = 0;
  bool quiet = false;  // the spectra are counted but not handed over

  std::string set_grid(const vector_d& all) {
    vector_d x;
    for (double v : all) {
      use.push_back(in_ranges(spec, v));
      if (use.back()) x.push_back(v);
    }
    if (x.empty()) return spec.file.path + ": no channel lies in the channel ranges of \"series channels\"";
    row.resize(x.size());
    return events.grid(x);
  }

  std::string hand(const vector_d& all, double t, long long line) {
    if (t < start) {
      return at_line(spec.file.path, line, "time " + format_g(t) + " is before the start time " + format_g(start));
    }
    for (std::size_t c = 0, k = 0; c < all.size(); ++c) {
      if (use[c]) row[k++] = all[c];
    }
    if (!quiet) events.spectrum(spectra, t, row.data());
    ++spectra;
    return {};
  }
};

// The block format: "x intensity" lines, every spectrum closed by "&".
struct block_reader {
  row_sink& sink;
  const time_source& times;
  const std::string& path;
  vector_d first_x, values;
  std::size_t samples = 0;
  long long open_since = 0;
  series_map* map = nullptr;
  // Every sample line of the first spectrum up to the end of its channel
  // position. Text is read the same way every time, so a later line that
  // begins with the same bytes and a separator has the same position, and
  // only its intensity needs reading.
  std::vector<line_start> first_text;
  std::string error;  // why line() failed

  // A number at p that is a word of its own: the line ends after it, or a
  // separator follows.
  static bool word_number(const char*& p, const char* end, double& v) {
    return numparse::scan_double(p, end, v) && (p == end || separator(*p));
  }

  // The two numbers of a sample line; x_end is where the first ends.
  static bool two_numbers(std::string_view line, double& x, double& y, std::size_t& x_end) {
    const char* p = line.data();
    const char* const end = p + line.size();
    if (!word_number(p, end, x)) return false;
    x_end = static_cast<std::size_t>(p - line.data());
    return word_number(p, end, y);
  }

  // Takes a sample line, not the first of its spectrum, from a spectrum
  // after the first, whose channel position is written as in the first
  // spectrum; false, with nothing changed, for any other line, which
  // sample() then reads in full. Nearly every line of a long series is
  // taken here.
  bool quick_sample(std::string_view line) {
    if (sink.spectra == 0 || samples == 0 || samples >= first_text.size()) return false;
    const line_start& s = first_text[samples];
    if (!begins_with(line, s)) return false;
    const char* p = line.data() + s.size;
    double y = 0;
    if (!word_number(p, line.data() + line.size(), y)) return false;
    values[samples++] = y;
    return true;
  }

  // Why a sample line is not two numbers. Its words are parted by blanks,
  // as the numbers are read.
  std::string bad_sample(std::string_view line, long long no) const {
    std::vector<std::string_view> c;
    lines::split_words(line, numparse::is_space, c);
    double v = 0;
    if (c.size() < 2) return at_line(path, no, "a sample line must hold two numbers, x and the intensity");
    return at_line(path, no, in_quotes(number(c[0], v) ? c[1] : c[0]) + " is not a number");
  }

  std::string sample(std::string_view line, long long no, std::uint64_t at) {
    double x = 0, y = 0;
    std::size_t x_end = 0;
    if (!two_numbers(line, x, y, x_end)) {
      if (std::all_of(line.begin(), line.end(), numparse::is_space)) return {};  // a blank line
      return bad_sample(line, no);
    }
    if (samples == 0) {
      open_since = no;
      if (map != nullptr) map->at.push_back(at), map->line.push_back(no);
    }
    if (sink.spectra == 0) {
      first_x.push_back(x);
      first_text.push_back(start_of(line, x_end));
      values.push_back(y);
    } else if (samples >= first_x.size()) {
      return at_line(path, no, "the spectrum holds more samples than the first, " + std::to_string(first_x.size()));
    } else if (!same_position(x, first_x[samples])) {
      return at_line(path, no, "channel position " + format_g(x) + " is not " + format_g(first_x[samples]) +
                                   ", that of sample " + std::to_string(samples + 1) +
                                   " of the first spectrum: every spectrum must have the same channels");
    } else {
      values[samples] = y;
    }
    ++samples;
    return {};
  }

  std::string close(long long no) {
    if (sink.spectra == 0) {
      if (samples == 0) return at_line(path, no, "the first spectrum holds no sample");
      if (std::string e = sink.set_grid(first_x); !e.empty()) return e;
    }
    if (samples != first_x.size()) {
      return at_line(path, no, "the spectrum closed here holds " + std::to_string(samples) +
                                   " samples, the first " + std::to_string(first_x.size()) +
                                   ": every spectrum must hold the same number of samples");
    }
    double t = 0;
    if (std::string e = times.time_of(sink.spectra, no, t); !e.empty()) return e;
    samples = 0;
    return sink.hand(values, t, no);
  }

  std::string read_line(std::string_view text, long long no, std::uint64_t at) {
    switch (lines::classify(text)) {
      case lines::kind::empty:
      case lines::kind::comment: return {};
      case lines::kind::separator: return close(no);
      case lines::kind::data: break;
    }
    return sample(text, no, at);
  }

  // Takes line no of the file, which begins at byte at; false, with the
  // reason in error, when it cannot be taken.
  bool line(std::string_view text, long long no, std::uint64_t at) {
    if (quick_sample(text)) return true;
    error = read_line(text, no, at);
    return error.empty();
  }

  std::string end() const {
    if (samples != 0) {
      return path + ": the samples from line " + std::to_string(open_since) +
             " on are not closed by a line beginning with \"&\"; every spectrum, the last included, must end with one";
    }
    return {};
  }
};

// The matrix table: a first row of channel positions (after an optional
// corner cell), then one row per spectrum, its time first.
struct table_reader {
  row_sink& sink;
  const std::string& path;
  std::vector<std::string> header;
  long long header_line = 0;
  bool corner = false;
  std::size_t width = 0;  // values per row, the time included
  vector_d values;
  std::string error;  // why line() failed

  std::string set_header(std::size_t row_cells, long long no) {
    if (row_cells == header.size()) {
      corner = true;
    } else if (row_cells != header.size() + 1) {
      return at_line(path, no, "the row holds " + std::to_string(row_cells) + " values, but line " +
                                   std::to_string(header_line) + " names " + std::to_string(header.size()) +
                                   " channel positions (and perhaps a corner cell)");
    }
    vector_d x;
    for (std::size_t i = corner ? 1 : 0; i < header.size(); ++i) {
      double v = 0;
      if (!number(header[i], v)) return at_line(path, header_line, in_quotes(header[i]) + " is not a number");
      x.push_back(v);
    }
    if (x.empty()) return at_line(path, header_line, "the first row names no channel position");
    width = x.size() + 1;
    values.resize(x.size());
    return sink.set_grid(x);
  }

  std::string row(const std::vector<std::string_view>& c, long long no) {
    if (width == 0) {
      if (std::string e = set_header(c.size(), no); !e.empty()) return e;
    }
    if (c.size() != width) {
      return at_line(path, no, "the row holds " + std::to_string(c.size()) + " values, the rows before " +
                                   std::to_string(width) + ": every row must hold the time and every channel");
    }
    double t = 0;
    if (!number(c[0], t)) return at_line(path, no, "time " + in_quotes(c[0]) + " is not a number");
    for (std::size_t i = 1; i < c.size(); ++i) {
      if (!number(c[i], values[i - 1])) return at_line(path, no, in_quotes(c[i]) + " is not a number");
    }
    return sink.hand(values, t, no);
  }

  bool line(std::string_view text, long long no, std::uint64_t) {
    error = read_line(text, no);
    return error.empty();
  }

  std::string read_line(std::string_view text, long long no) {
    bool leading = false;
    const std::vector<std::string_view> c = cells(text, leading);
    if (c.empty() || c.front().front() == '#') return {};
    if (header_line != 0) return row(c, no);
    header_line = no;
    for (std::string_view cell : c) header.emplace_back(cell);
    if (leading) header.insert(header.begin(), std::string());
    return {};
  }
};

// Hands the lines of path from byte from (line number line + 1) on to
// reader until it fails or enough() holds after a line. Returns its error,
// or the reading's failure, or an empty string; ended tells whether the
// file ended first.
template <class Reader, class Enough>
std::string read_lines_from(const std::string& path, Reader& reader, std::uint64_t from, long long line,
                            Enough enough, bool& ended) {
  bool failed = false;
  errno = 0;
  const auto status = lines::for_each_line_from(path.c_str(), from, [&](std::string_view text, std::uint64_t at) {
    failed = !reader.line(text, ++line, at);
    return !failed && !enough();
  });
  ended = status == lines::status::done;
  if (failed) return reader.error;
  if (status != lines::status::done && status != lines::status::stopped) return open_failure(path, status);
  return {};
}

template <class Reader>
std::string read_lines(const std::string& path, Reader& reader) {
  bool ended = false;
  return read_lines_from(path, reader, 0, 0, [] { return false; }, ended);
}

// Reads count spectra from the spectrum map says begins at index first on.
std::string reread_from(const series_map& map, std::size_t first, std::size_t count, block_reader& reader) {
  const std::string& path = reader.path;
  if (first + count > map.at.size()) return path + ": the series holds " + std::to_string(map.at.size()) + " spectra";
  reader.sink.spectra = first;
  reader.samples = 0;
  const std::size_t end = first + count;
  bool ended = false;
  const std::string error = read_lines_from(
      path, reader, map.at[first], map.line[first] - 1, [&] { return reader.sink.spectra >= end; }, ended);
  if (!error.empty() || !ended) return error;
  return path + ": the file ends before spectrum " + std::to_string(reader.sink.spectra + 1) +
         ", which its first reading found: was it changed since?";
}

}  // namespace

std::string read_series_file(const series_spec& spec, double start, const series_events& events, series_map* map) {
  time_source times{spec, {}, {}};
  if (std::string e = times.load(); !e.empty()) return e;
  row_sink sink{spec, events, start, {}, {}, 0, false};
  const std::string& path = spec.file.path;
  if (spec.table) {
    table_reader reader{sink, path, {}, 0, false, 0, {}, {}};
    if (std::string e = read_lines(path, reader); !e.empty()) return e;
  } else {
    block_reader reader{sink, times, path, {}, {}, 0, 0, map, {}, {}};
    if (std::string e = read_lines(path, reader); !e.empty()) return e;
    if (std::string e = reader.end(); !e.empty()) return e;
  }
  if (sink.spectra == 0) return path + ": no spectrum";
  return times.check_count(sink.spectra);
}

std::string reread_spectra(const series_spec& spec, double start, const series_map& map, const next_spectra& next,
                           const series_events& events) {
  time_source times{spec, {}, {}};
  if (std::string e = times.load(); !e.empty()) return e;
  row_sink sink{spec, events, start, {}, {}, 0, false};
  block_reader reader{sink, times, spec.file.path, {}, {}, 0, 0, nullptr, {}, {}};
  std::size_t first = 0, count = 0;
  while (next(first, count)) {
    if (count == 0) continue;
    if (reader.first_x.empty() && first > 0) {  // the channels, from the first spectrum
      sink.quiet = true;
      if (std::string e = reread_from(map, 0, 1, reader); !e.empty()) return e;
      sink.quiet = false;
    }
    if (std::string e = reread_from(map, first, count, reader); !e.empty()) return e;
  }
  return {};
}

std::string read_known_spectrum(const known_spectrum& k, const series_spec& spec, const vector_d& x,
                                std::vector<double>& out) {
  const std::string& path = k.file.path;
  out.clear();
  long long no = 0;
  std::string error;
  errno = 0;
  const auto status = lines::for_each_line(path.c_str(), [&](std::string_view line) {
    ++no;
    bool leading = false;
    const std::vector<std::string_view> c = cells(line, leading);
    if (c.empty() || c.front().front() == '#' || c.front().front() == '&') return true;
    double at = 0, v = 0;
    if (c.size() < 2 || !number(c[0], at) || !number(c[1], v)) {
      error = at_line(path, no, "a line of a spectrum must hold two numbers, x and the value");
    } else if (in_ranges(spec, at) && (out.size() >= x.size() || !same_position(at, x[out.size()]))) {
      error = at_line(path, no, "channel position " + format_g(at) + " is not a channel of the series " +
                                    (out.size() < x.size() ? "here (" + format_g(x[out.size()]) + ")" : "(it ends before)"));
    } else if (in_ranges(spec, at)) {
      out.push_back(v);
    }
    return error.empty();
  });
  if (!error.empty()) return error;
  if (status != lines::status::done) return open_failure(path, status);
  if (out.size() != x.size()) {
    return path + ": the spectrum holds " + std::to_string(out.size()) + " of the series' " +
           std::to_string(x.size()) + " channels";
  }
  return {};
}

}  // namespace kinetics
