#include "integrator/kinet_integ.h"

#include "common/cli.h"
#include "common/file_identity.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "common/atomic_file.h"
#include "common/lines.h"
#include "common/numparse.h"
#include "integrator/bandsum_options.h"
#include "integrator/corrected_series.h"
#include "integrator/series_reader.h"
#include "integrator/time_text.h"
#include "instrument/times.h"
#include "integrator/window_cells.h"

namespace {

using numparse::is_space;

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string where(const char* path, long long line_no) {
  return std::string("bandsum: ") + path + " line " + std::to_string(line_no) + ": ";
}

// Quotes a piece of input for a message, cut short if it is long.
std::string quoted(std::string_view text) {
  constexpr std::size_t most = 40;
  std::string q(1, '"');
  q.append(text.substr(0, most));
  q.append(text.size() > most ? "...\"" : "\"");
  return q;
}

// Reads a peak index as formatted input of an int reads it: white space,
// optional sign, digits. Values beyond an int fail.
bool read_index(const char*& p, const char* end, int& index) {
  while (p != end && is_space(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || !is_digit(*p)) return false;
  long long magnitude = 0;
  const auto result = std::from_chars(p, end, magnitude);
  p = result.ptr;
  if (result.ec != std::errc()) return false;
  const long long value = negative ? -magnitude : magnitude;
  if (value < INT_MIN || value > INT_MAX) return false;
  index = static_cast<int>(value);
  return true;
}

// The next white-space-delimited word at p, or an empty view.
std::string_view next_token(const char*& p, const char* end) {
  while (p != end && is_space(*p)) ++p;
  const char* const first = p;
  while (p != end && !is_space(*p)) ++p;
  return {first, static_cast<std::size_t>(p - first)};
}

// A bound in single precision, widened: the longest prefix of the token that
// strtof converts. Fails on a token without such a prefix and on NaN.
bool read_bound(std::string_view token, double& bound) {
  const std::string text(token);  // strtof needs the terminating NUL
  char* stop = nullptr;
  const float value = std::strtof(text.c_str(), &stop);
  if (stop == text.c_str() || std::isnan(value)) return false;
  bound = static_cast<double>(value);
  return true;
}

// Reads x and the intensity of a sample line. With cells, also finds the
// cell of x, and when no window counts the sample, reads the intensity only
// as far as to see that it is a number.
[[gnu::always_inline]] inline bool read_sample(std::string_view line, window_cells* cells, double& x, double& y) {
  const char* p = line.data();
  const char* const end = p + line.size();
  if (!numparse::scan_double(p, end, x)) return false;
  if (cells == nullptr) return numparse::scan_double(p, end, y);
  locate(*cells, x);
  return cells->from == cells->to ? numparse::skip_double(p, end) : numparse::scan_double(p, end, y);
}

}  // namespace

std::string peaksIn(const char* path, std::vector<peak>& windows) {
  std::vector<bool> given(windows.size(), false);
  std::string error;
  long long line_no = 0;
  const auto status = lines::for_each_line(path, [&](std::string_view line) {
    ++line_no;
    if (line.empty() || line.front() == '#') return true;
    const char* p = line.data();
    const char* const end = p + line.size();

    int index = 0;
    if (!read_index(p, end, index)) {
      error = where(path, line_no) + "a peak line must begin with the peak index (a whole number)";
      return false;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= windows.size()) {
      error = where(path, line_no) + "peak index " + std::to_string(index) + " is outside 0 to " +
              std::to_string(static_cast<long long>(windows.size()) - 1) + " (the list holds " +
              std::to_string(windows.size()) + " peak lines)";
      return false;
    }
    const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
    if (colon == nullptr) {
      error = where(path, line_no) + "no \":\" after the peak index and label";
      return false;
    }
    p = colon + 1;
    const std::string_view first = next_token(p, end);
    const std::string_view second = next_token(p, end);
    if (second.empty()) {
      error = where(path, line_no) + "two bounds must follow the \":\"";
      return false;
    }
    double a = 0;
    double b = 0;
    for (const auto& [token, value] : {std::pair{first, &a}, std::pair{second, &b}}) {
      if (!read_bound(token, *value)) {
        error = where(path, line_no) + "the bound " + quoted(token) + " is not a number";
        return false;
      }
    }
    windows[static_cast<std::size_t>(index)] = a > b ? peak{b, a} : peak{a, b};
    given[static_cast<std::size_t>(index)] = true;
    return true;
  });

  if (status == lines::status::not_opened) return "peak.list file not found";
  if (!error.empty()) return error;
  if (status == lines::status::read_error) return std::string("bandsum: ") + path + ": read error: " + std::strerror(errno);
  for (std::size_t k = 0; k < given.size(); ++k) {
    if (!given[k]) return std::string("bandsum: ") + path + ": no line sets the window of peak " + std::to_string(k);
  }
  return {};
}

void genIntegral(const point& s, const std::vector<peak>& windows, std::vector<double>& sums) {
  // Adding 0.0 outside a window leaves a sum as it is (a sum that starts at
  // +0.0 never becomes -0.0), so the test needs no branch.
  for (std::size_t k = 0; k < windows.size(); ++k) {
    const bool inside = s.x < windows[k].hi && s.x > windows[k].lo;
    sums[k] = (inside ? s.y : 0.0) + sums[k];
  }
}

std::string seriesIn(const char* path, const std::vector<peak>& windows, grid& sums, int& nBlocks) {
  sums.assign(windows.size(), {});
  std::vector<double> current(windows.size(), 0.0);  // sums of the spectrum being read
  window_cells cells;
  window_cells* const cell_index = cut_cells(windows, cells) ? &cells : nullptr;  // else every window is tested
  std::error_code size_error;
  const std::uintmax_t file_bytes = std::filesystem::file_size(path, size_error);
  int block = 0;  // the spectrum being read

  const auto read = [&, cell_index](std::string_view line) __attribute__((always_inline)) {
    double x = 0.0;
    double y = 0.0;
    if (!read_sample(line, cell_index, x, y)) return false;
    if (cell_index != nullptr) {
      add_to_cell(*cell_index, y, current);
    } else {
      genIntegral(point{x, y, block}, windows, current);
    }
    return true;
  };
  const auto close = [&](const series_position& at) {
    // Spectra are alike, so the first one's share of the file tells about
    // how many there are: room for them all (and a little more) keeps the
    // sums from growing by doubling. At most 32 MiB is set aside this way,
    // whatever the file claims.
    if (std::string e = too_many_integrals(at, sums.size()); !e.empty()) return e;
    if (at.blocks == 0 && !size_error && at.bytes_read > 0 && !sums.empty()) {
      const std::uintmax_t most = (std::uintmax_t{1} << 22) / sums.size();
      const std::uintmax_t estimate = std::min(file_bytes / static_cast<std::uintmax_t>(at.bytes_read), most);
      for (auto& row : sums) row.reserve(static_cast<std::size_t>(estimate + estimate / 100 + 2));
    }
    for (std::size_t k = 0; k < current.size(); ++k) {
      sums[k].push_back(current[k]);
      current[k] = 0.0;
    }
    ++block;
    return std::string();
  };
  return read_series(path, nBlocks, read, close);
}

namespace {

// Appends v as printf prints it with format (one conversion of a double).
void append_printf(std::string& out, const char* format, double v) {
  char text[400];  // the widest "%10.9f" of a double is 320 characters
  const int length = std::snprintf(text, sizeof text, format, v);
  if (length > 0) out.append(text, static_cast<std::size_t>(std::min<int>(length, sizeof text - 1)));
}

}  // namespace

void append_dat_line(std::string& out, const grid& sums, int nPeaks, int j, const table& scale, bool absolute,
                     const std::vector<double>* times) {
  const double ratio = scale[1][1] / scale[1][0];
  if (times != nullptr) {
    append_given_time(out, (*times)[static_cast<std::size_t>(j)]);
  } else {
    append_step_time(out, scale[2][0], j);
  }
  for (int k = 0; k < nPeaks; ++k) {
    const double value =
        (sums[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] * ratio) / scale[0][static_cast<std::size_t>(k)];
    append_printf(out, "%10.9f ", absolute ? std::fabs(value) : value);
  }
  out += '\n';
}

std::string write_dat(const grid& sums, int nPeaks, int nBlocks, const table& scale,
                      const std::vector<double>* times) {
  const auto failed = [](const std::string& error) { return "bandsum: " + error; };
  new_file dat;
  if (std::string error = new_file_open("dat.txt", dat); !error.empty()) return failed(error);

  // The lines go to the new file a buffer at a time; it replaces "dat.txt"
  // only once all of them are written.
  constexpr std::size_t buffer_size = std::size_t{1} << 16;
  std::string buffer;
  buffer.reserve(buffer_size + 4096);
  for (int j = 0; j < nBlocks; ++j) {
    append_dat_line(buffer, sums, nPeaks, j, scale, false, times);
    if (buffer.size() >= buffer_size) {
      if (std::string error = new_file_write(dat, buffer); !error.empty()) return failed(error);
      buffer.clear();
    }
  }
  if (std::string error = new_file_write(dat, buffer); !error.empty()) return failed(error);
  if (std::string error = new_file_commit(dat); !error.empty()) return failed(error);
  return {};
}

namespace {

// Console texts of a run.
const char* const usage_banner =
    "##############################################\n"
    "##############################################\n"
    "\n"
    "ERROR: Not enough input files specified.\n"
    "\n"
    "USAGE: bandsum peak.list 2d.txt  \n"
    "\n"
    "reads in file called scale.txt too      \n"
    "\n"
    "##############################################\n"
    "##############################################\n";

const char* const scale_banner =
    "###############################################################\n"
    " not enough scaling elements in first row of \"scale.txt\" file \n"
    " to match \"peak.list\" components \n"
    "###############################################################\n";

const char* const help_text =
    "USAGE: bandsum peak.list 2d.txt\n"
    "       bandsum [--baseline N] [--noise LO HI] [--times FILE] peak.list 2d.txt\n"
    "\n"
    "Sums the intensities inside every peak window of peak.list over every\n"
    "spectrum of the series 2d.txt, scales them with \"scale.txt\" from the\n"
    "working directory, and writes one line per spectrum to \"dat.txt\": the\n"
    "spectrum's time, then one scaled integral per peak.\n"
    "\n"
    "  peak.list  lines \"INDEX LABEL: BOUND BOUND\", peaks numbered from 0\n"
    "  2d.txt     lines \"x intensity\", each spectrum closed by a line \"&\"\n"
    "  scale.txt  row 0: one divisor per peak; row 1: a b, every integral is\n"
    "             multiplied by b / a; row 2: the time step between spectra\n"
    "\n"
    "Lines beginning with \"#\" are comments.\n"
    "\n"
    "Options, before the two paths:\n"
    "  --baseline N   subtract from every window a straight line through the\n"
    "                 mean of the N samples just below and just above it\n"
    "  --noise LO HI  the samples with LO < x < HI hold no band: their scatter\n"
    "                 about a straight line is the noise of the spectrum, and\n"
    "                 \"sigma.txt\" gets the standard uncertainty of every value\n"
    "                 of \"dat.txt\", in the same layout\n"
    "  --times FILE   the time of every spectrum, one a line (as specconv writes\n"
    "                 them), instead of the time step of \"scale.txt\"\n";

// Writes text to a console stream line by line, flushing at every line end.
void say(std::ostream& out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      out << std::endl;
    } else {
      out << *p;
    }
  }
}

// The messages of the readers and writers carry the program's name already
// (all but the historical "peak.list file not found").
int fail(const std::string& message) { return cli::fail_with(message); }

// With --times, the times file must give one time a spectrum.
std::string times_match(const bandsum_options& options, const std::vector<double>* times, const char* series_path,
                        int nBlocks) {
  if (times == nullptr || times->size() == static_cast<std::size_t>(nBlocks)) return {};
  return "bandsum: " + options.times + " holds " + std::to_string(times->size()) + " times, but " + series_path +
         " holds " + std::to_string(nBlocks) + " spectra; --times needs one time a spectrum";
}

// The rest of a run with --baseline or --noise: one pass over the series,
// then "dat.txt" and "sigma.txt" replaced together.
int run_with_options(const bandsum_options& options, const char* series_path, const std::vector<peak>& windows,
                     const table& scale, const std::vector<double>* times) {
  grid sums;
  grid sigmas;
  int nBlocks = 0;
  if (const std::string error = seriesInCorrected(series_path, windows, options, sums, sigmas, nBlocks); !error.empty()) {
    return fail(error);
  }
  if (const std::string error = times_match(options, times, series_path, nBlocks); !error.empty()) return fail(error);
  const int nPeaks = static_cast<int>(windows.size());
  if (const std::string error = write_results(sums, options.noise ? &sigmas : nullptr, nPeaks, nBlocks, scale, times);
      !error.empty()) {
    return fail(error);
  }
  std::cout << "Saving \"dat.txt\" file used in kinetics simulations " << std::endl << std::endl;
  if (options.noise) {
    std::cout << "Saving \"sigma.txt\" file with the standard uncertainty of every integral " << std::endl << std::endl;
  }
  return 0;
}

}  // namespace

int run_bandsum(int argc, char** argv) {
  if (const cli::info what = cli::info_option(argc, argv, true); what != cli::info::none) {
    return cli::print_info(what, "bandsum", help_text);
  }
  if (argc <= 2) {
    say(std::cerr, usage_banner);
    return 1;
  }
  bandsum_options options;
  int first_path = 1;
  if (const std::string error = options_in(argc, argv, options, first_path); !error.empty()) return fail(error);
  const char* const peak_path = argv[first_path];
  const char* const series_path = argv[first_path + 1];
  std::vector<std::string> results{"dat.txt"};
  if (options.noise) results.push_back("sigma.txt");
  if (std::string error = result_is_input(results, {peak_path, series_path, "scale.txt"}); !error.empty()) {
    return fail("bandsum: " + error);
  }

  const table scale = fileIn("scale.txt");
  const int nPeaks = genV(peak_path);
  const std::size_t scale_entries = scale.empty() ? 0 : scale[0].size();
  if (static_cast<long long>(scale_entries) < nPeaks) {
    say(std::cerr, scale_banner);
    return 1;
  }
  if (scale.size() < 2 || scale[1].size() < 2) {
    return fail("bandsum: row 1 of \"scale.txt\" (its second data line) must hold two numbers a b; "
                "every integral is multiplied by b / a");
  }
  if (options.times.empty() && (scale.size() < 3 || scale[2].empty())) {
    return fail("bandsum: row 2 of \"scale.txt\" (its third data line) must hold the time step between spectra");
  }

  std::cout << std::endl << "Reading \"scale.txt\" file. " << std::endl << std::endl;

  // The windows come first so that the series can be summed as it is read.
  std::vector<peak> windows(static_cast<std::size_t>(nPeaks), peak{0.0, 0.0});
  if (const std::string error = peaksIn(peak_path, windows); !error.empty()) return fail(error);

  std::vector<double> given_times;
  if (!options.times.empty()) {
    if (std::string error = instrument::read_times(options.times, given_times); !error.empty()) {
      return fail("bandsum: " + error);
    }
  }
  const std::vector<double>* const times = options.times.empty() ? nullptr : &given_times;
  if (options.baseline != 0 || options.noise) return run_with_options(options, series_path, windows, scale, times);

  grid sums;
  int nBlocks = 0;
  if (const std::string error = seriesIn(series_path, windows, sums, nBlocks); !error.empty()) return fail(error);

  if (const std::string error = times_match(options, times, series_path, nBlocks); !error.empty()) return fail(error);
  if (const std::string error = write_dat(sums, nPeaks, nBlocks, scale, times); !error.empty()) return fail(error);

  std::cout << "Saving \"dat.txt\" file used in kinetics simulations " << std::endl << std::endl;
  return 0;
}
