#include "instrument/nmr_folder.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/lines.h"
#include "instrument/delimited.h"

namespace fs = std::filesystem;

namespace instrument {

std::string read_parameters(const std::string& path, std::map<std::string, std::string>& out) {
  out.clear();
  errno = 0;
  long long line_no = 0;
  const lines::status status = lines::for_each_line(path.c_str(), [&](std::string_view text) {
    ++line_no;
    if (line_no == 1) strip_bom(text);
    if (!text.starts_with("##$")) return true;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) return true;
    std::string_view value = text.substr(eq + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\t')) value.remove_suffix(1);
    if (value.starts_with("(")) return true;
    out[std::string(text.substr(3, eq - 3))] = std::string(value);
    return true;
  });
  if (status == lines::status::not_opened) return "cannot open " + path + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  if (status == lines::status::read_error) return path + ": read error: " + std::strerror(errno);
  return {};
}

namespace {

std::string number_parameter(const std::map<std::string, std::string>& p, const std::string& path,
                             const char* name, double& out) {
  const auto it = p.find(name);
  if (it == p.end()) return path + ": no \"##$" + name + "=\"; it is needed to read the spectrum";
  if (!field_number(it->second, false, out)) return path + ": \"##$" + name + "= " + it->second + "\" is not a number";
  return {};
}

std::string whole_parameter(const std::map<std::string, std::string>& p, const std::string& path, const char* name,
                            double lo, double hi, long long& out) {
  double v = 0.0;
  if (std::string e = number_parameter(p, path, name, v); !e.empty()) return e;
  if (v != std::floor(v) || v < lo || v > hi) {
    return path + ": \"##$" + name + "= " + p.at(name) + "\" must be a whole number from " +
           std::to_string(static_cast<long long>(lo)) + " to " + std::to_string(static_cast<long long>(hi));
  }
  out = static_cast<long long>(v);
  return {};
}

std::string processed_from(const std::map<std::string, std::string>& p, const std::string& path,
                           processed_parameters& out) {
  long long order = 0, exponent = 0, type = 0;
  if (std::string e = whole_parameter(p, path, "SI", 1, 1 << 28, out.size); !e.empty()) return e;
  if (std::string e = whole_parameter(p, path, "BYTORDP", 0, 1, order); !e.empty()) return e;
  if (std::string e = whole_parameter(p, path, "NC_proc", -1000, 1000, exponent); !e.empty()) return e;
  if (p.count("DTYPP") != 0) {
    if (std::string e = whole_parameter(p, path, "DTYPP", 0, 2, type); !e.empty()) return e;
    if (type == 1) return path + ": \"##$DTYPP= 1\" is not a stored form of a processed spectrum; expected 0 or 2";
  }
  for (const auto& [name, value] : {std::pair{"OFFSET", &out.offset}, std::pair{"SW_p", &out.width_hz},
                                    std::pair{"SF", &out.frequency}}) {
    if (std::string e = number_parameter(p, path, name, *value); !e.empty()) return e;
  }
  if (!(out.frequency > 0)) return path + ": \"##$SF=\" must be above 0";
  out.exponent = static_cast<int>(exponent);
  out.big_endian = order == 1;
  out.doubles = type == 2;
  return {};
}

template <class T>
T stored(const unsigned char* at, bool big_endian) {
  using bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  bits v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    const std::size_t shift = 8 * (big_endian ? sizeof(T) - 1 - i : i);
    v |= static_cast<bits>(at[i]) << shift;
  }
  return std::bit_cast<T>(v);
}

std::string read_binary(const std::string& path, std::vector<unsigned char>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path + ": " + std::strerror(errno != 0 ? errno : ENOENT);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return path + ": read error";
  return {};
}

}  // namespace

std::string read_processed(const std::string& pdata_dir, spectrum& out) {
  std::map<std::string, std::string> p;
  const std::string procs = pdata_dir + "/procs";
  if (std::string e = read_parameters(procs, p); !e.empty()) return e;
  processed_parameters pp;
  if (std::string e = processed_from(p, procs, pp); !e.empty()) return e;
  const std::string data = pdata_dir + "/1r";
  std::vector<unsigned char> bytes;
  if (std::string e = read_binary(data, bytes); !e.empty()) return e;
  const std::size_t each = pp.doubles ? 8 : 4;
  const std::size_t expected = static_cast<std::size_t>(pp.size) * each;
  if (bytes.size() != expected) {
    return data + ": holds " + std::to_string(bytes.size()) + " bytes; ##$SI= " + std::to_string(pp.size) +
           " points of " + std::to_string(each) + " bytes make " + std::to_string(expected);
  }
  out = spectrum{};
  out.x.resize(static_cast<std::size_t>(pp.size));
  out.y.resize(static_cast<std::size_t>(pp.size));
  const double step = pp.width_hz / pp.frequency / static_cast<double>(pp.size);
  for (std::size_t i = 0; i < out.x.size(); ++i) {
    out.x[i] = pp.offset - static_cast<double>(i) * step;
    const unsigned char* at = bytes.data() + i * each;
    const double v = pp.doubles ? stored<double>(at, pp.big_endian) : static_cast<double>(stored<std::int32_t>(at, pp.big_endian));
    out.y[i] = std::ldexp(v, pp.exponent);
  }
  return {};
}

namespace {

struct experiment {
  double when;
  long long number;
  std::string path;
};

bool all_digits(const std::string& s) {
  return !s.empty() && s.size() < 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string read_nmr_folder(const std::string& dir, const spectrum_sink& sink, const std::string& procno) {
  std::error_code ec;
  std::vector<experiment> found;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!all_digits(name) || !fs::is_directory(it->path() / "pdata" / procno)) continue;
    std::map<std::string, std::string> acqus;
    const std::string acq = it->path().string() + "/acqus";
    if (std::string e = read_parameters(acq, acqus); !e.empty()) return e;
    double when = 0.0;
    if (std::string e = number_parameter(acqus, acq, "DATE", when); !e.empty()) return e;
    found.push_back({when, std::stoll(name), it->path().string()});
  }
  if (ec) return "cannot read the folder " + dir + ": " + ec.message();
  if (found.empty()) {
    return dir + ": no numbered experiment folder with pdata/" + procno + " in it; expected folders 1, 2, ... each with acqus and pdata/" +
           procno + "/procs and 1r";
  }
  std::sort(found.begin(), found.end(), [](const experiment& a, const experiment& b) {
    return a.when != b.when ? a.when < b.when : a.number < b.number;
  });
  spectrum s;
  for (const experiment& e : found) {
    if (std::string error = read_processed(e.path + "/pdata/" + procno, s); !error.empty()) return error;
    s.time = e.when;
    s.timed = true;
    if (std::string error = sink(s); !error.empty()) return error;
  }
  return {};
}

}  // namespace instrument
