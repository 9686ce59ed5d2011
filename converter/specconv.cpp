#include "converter/specconv.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "common/atomic_file.h"
#include "common/cli.h"
#include "instrument/file_series.h"
#include "instrument/jcamp.h"
#include "instrument/nmr_folder.h"
#include "instrument/times.h"

namespace fs = std::filesystem;
using namespace instrument;

namespace {

const char* const help_text =
    "USAGE: specconv [OPTIONS] INPUT...\n"
    "\n"
    "Turns instrument files into the spectrum series that bandsum reads (\"x y\"\n"
    "lines, every spectrum closed by \"&\") and a file of the spectra's times,\n"
    "one a line, for bandsum --times.\n"
    "\n"
    "  INPUT  a delimited table (CSV, semicolon, tab or blank separated), a\n"
    "         JCAMP-DX file, a folder of numbered NMR experiment folders, or\n"
    "         several single-spectrum files (names or a quoted pattern such as\n"
    "         \"spectra/*.jdx\"), ordered by their time stamps\n"
    "\n"
    "Options:\n"
    "  -o FILE               the series to write (default 2d.txt)\n"
    "  -t FILE               the times to write (default times.txt)\n"
    "  --list FILE           the files of a series, one a line\n"
    "  --separator C         , ; tab or blank (default: found from the first row)\n"
    "  --decimal-comma       a ',' in a number is the decimal mark, '.' is not\n"
    "  --decimal-point       a ',' is never a decimal mark\n"
    "  --spectra-in-rows     a matrix: first row the x axis, a spectrum a row\n"
    "  --spectra-in-columns  a matrix: first row the times, a spectrum a column\n"
    "  --long                rows \"time x intensity\"\n"
    "  --procno N            the processing folder pdata/N of NMR experiments (default 1)\n"
    "  --minutes, --hours    acquisition times in minutes or hours (default seconds)\n"
    "  --check               read the input and say what it holds; write nothing\n";

std::string quote(const std::string& s) { return "\"" + s + "\""; }

// Reads the value after an option.
bool value_of(int argc, char** argv, int& i, std::string& out) {
  if (i + 1 >= argc) return false;
  out = argv[++i];
  return true;
}

std::string separator_option(const std::string& v, char& out) {
  if (v == "," || v == ";") out = v[0];
  else if (v == "tab" || v == "\t") out = '\t';
  else if (v == "blank" || v == " ") out = ' ';
  else return "specconv: --separator takes , ; tab or blank, not " + quote(v);
  return {};
}

}  // namespace

std::string specconv_options_in(int argc, char** argv, specconv_options& o) {
  o = specconv_options{};
  bool shape_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string v;
    const auto shape = [&](layout l) {
      if (shape_given) return std::string("specconv: give one layout option at most");
      shape_given = true;
      o.table.shape = l;
      return std::string();
    };
    std::string e;
    if (a == "-o" || a == "-t" || a == "--list" || a == "--separator" || a == "--procno") {
      if (!value_of(argc, argv, i, v)) return "specconv: " + a + " takes a value";
      if (a == "-o") o.series = v;
      else if (a == "-t") o.times = v;
      else if (a == "--list") o.list = v;
      else if (a == "--procno") o.procno = v;
      else e = separator_option(v, o.table.separator);
    } else if (a == "--decimal-comma") {
      o.table.mark = decimal_mark::comma;
    } else if (a == "--decimal-point") {
      o.table.mark = decimal_mark::point;
    } else if (a == "--spectra-in-rows") {
      e = shape(layout::spectra_in_rows);
    } else if (a == "--spectra-in-columns") {
      e = shape(layout::spectra_in_columns);
    } else if (a == "--long") {
      e = shape(layout::long_table);
    } else if (a == "--minutes" || a == "--hours") {
      o.time_unit = a == "--minutes" ? 60.0 : 3600.0;
    } else if (a == "--check") {
      o.check = true;
    } else if (a.starts_with("-") && a != "-") {
      return "specconv: unknown option " + quote(a) + "; see specconv --help";
    } else {
      o.inputs.push_back(a);
    }
    if (!e.empty()) return e;
  }
  if (o.inputs.empty() == o.list.empty()) return "specconv: give the input files (or --list FILE, not both); see specconv --help";
  if (o.procno.empty() || o.procno.find_first_not_of("0123456789") != std::string::npos) {
    return "specconv: --procno takes a whole number, not " + quote(o.procno);
  }
  if (!o.check && o.series == o.times) return "specconv: the series and the times must go to two different files";
  return {};
}

namespace {

// Where the spectra go: the series file, piece by piece, and their times.
struct series_writer {
  const specconv_options& options;
  new_file series;
  std::string buffer;
  std::vector<double> times;
  std::size_t spectra = 0;
  std::size_t samples = 0;
  std::size_t untimed = 0;

  std::string take(const spectrum& s, const std::string& source) {
    if (spectra == 0) {
      samples = s.x.size();
    } else if (s.x.size() != samples) {
      return source + ": spectrum " + std::to_string(spectra) + " holds " + std::to_string(s.x.size()) +
             " samples, but the first holds " + std::to_string(samples) +
             "; every spectrum of a series must hold the same number";
    }
    ++spectra;
    times.push_back(s.time);
    untimed += !s.timed;
    if (options.check) return {};
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      append_shortest(buffer, s.x[i]);
      buffer += ' ';
      append_shortest(buffer, s.y[i]);
      buffer += '\n';
    }
    buffer += "&\n";
    if (buffer.size() < (std::size_t{1} << 20)) return {};
    std::string e = new_file_write(series, buffer);
    buffer.clear();
    return e;
  }
};

bool has_pattern(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

// The files of a series: the inputs with every pattern expanded, or the list.
std::string series_files(const specconv_options& o, std::vector<std::string>& files) {
  if (!o.list.empty()) return read_path_list(o.list, files);
  for (const std::string& in : o.inputs) {
    if (has_pattern(in) && !fs::exists(in)) {
      const std::vector<std::string> found = expand_pattern(in);
      if (found.empty()) return "no file matches " + quote(in);
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(in);
    }
  }
  return {};
}

// Reads the input into the writer; dates is set when the times are
// acquisition dates (to be counted from the first spectrum).
std::string read_input(const specconv_options& o, series_writer& w, bool& dates) {
  std::vector<std::string> files;
  if (std::string e = series_files(o, files); !e.empty()) return e;
  dates = true;
  if (files.size() > 1 || !o.list.empty()) {
    return read_file_series(files, o.table, [&](const spectrum& s) { return w.take(s, "the series of files"); });
  }
  const std::string& in = files.front();
  if (fs::is_directory(in)) return read_nmr_folder(in, [&](const spectrum& s) { return w.take(s, in); }, o.procno);
  std::ifstream probe(in, std::ios::binary);
  char head[64] = {};
  probe.read(head, sizeof head);
  if (looks_like_jcamp(std::string_view(head, static_cast<std::size_t>(probe.gcount())))) {
    return read_jcamp(in, [&](const spectrum& s) { return w.take(s, in); });
  }
  dates = false;
  return read_delimited(in, o.table, [&](const spectrum& s) { return w.take(s, in); });
}

// A result that is one of the inputs would replace it: input files are only read.
std::string replaces_input(const specconv_options& o) {
  for (const std::string& in : o.inputs) {
    for (const std::string* out : {&o.series, &o.times}) {
      std::error_code ec;
      if (fs::equivalent(in, *out, ec)) {
        return "specconv: \"" + *out + "\" is the input " + in + "; write the results elsewhere (-o FILE, -t FILE)";
      }
    }
  }
  return {};
}

std::vector<double> times_written(const series_writer& w, const specconv_options& o, bool dates) {
  std::vector<double> t = w.times;
  if (!dates) return t;
  double first = t.front();
  for (const double v : t) first = std::min(first, v);
  for (double& v : t) v = (v - first) / o.time_unit;
  return t;
}

}  // namespace

int run_specconv(int argc, char** argv) {
  if (const cli::info what = cli::info_option(argc, argv, true); what != cli::info::none) {
    return cli::print_info(what, "specconv", help_text);
  }
  specconv_options o;
  if (std::string e = specconv_options_in(argc, argv, o); !e.empty()) return cli::fail_with(e);
  if (std::string e = replaces_input(o); !o.check && !e.empty()) return cli::fail_with(e);
  series_writer w{o, {}, {}, {}, 0, 0, 0};
  if (!o.check) {
    if (std::string e = new_file_open(o.series, w.series); !e.empty()) return cli::fail("specconv", e);
  }
  bool dates = false;
  if (std::string e = read_input(o, w, dates); !e.empty()) return cli::fail("specconv", e);
  if (w.spectra == 0) return cli::fail("specconv", "no spectrum found in the input");
  const bool timed = w.untimed == 0;
  const std::vector<double> times = times_written(w, o, dates);
  if (o.check) {
    std::cout << w.spectra << " spectra of " << w.samples << " samples"
              << (timed ? ", every one with its time" : ", without times") << std::endl;
    return 0;
  }
  if (std::string e = new_file_write(w.series, w.buffer); !e.empty()) return cli::fail("specconv", e);
  new_file times_file;
  if (timed) {
    if (std::string e = new_file_open(o.times, times_file); !e.empty()) return cli::fail("specconv", e);
    if (std::string e = new_file_write(times_file, times_text(times)); !e.empty()) return cli::fail("specconv", e);
  }
  std::vector<new_file*> all{&w.series};
  if (timed) all.push_back(&times_file);
  if (std::string e = new_files_commit(all); !e.empty()) return cli::fail("specconv", e);
  std::cout << "specconv: " << w.spectra << " spectra of " << w.samples << " samples written to \"" << o.series << "\"";
  if (timed) {
    std::cout << ", their times to \"" << o.times << "\"" << std::endl;
  } else {
    std::cout << "; not every spectrum of the input has a time, so no \"" << o.times
              << "\" is written (bandsum takes the step of scale.txt)"
              << std::endl;
  }
  return 0;
}
