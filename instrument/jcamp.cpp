#include "instrument/jcamp.h"

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fast_float/fast_float.h>

#include "common/lines.h"

namespace instrument {

namespace {

// The kinds of token on a compressed data line.
enum class token { absolute, dif, dup };

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The digit and sign of a SQZ character (@, A-I, a-i), or false.
bool sqz_char(char c, int& digit) {
  if (c == '@') digit = 0;
  else if (c >= 'A' && c <= 'I') digit = c - 'A' + 1;
  else if (c >= 'a' && c <= 'i') digit = -(c - 'a' + 1);
  else return false;
  return true;
}

// The digit and sign of a DIF character (%, J-R, j-r), or false.
bool dif_char(char c, int& digit) {
  if (c == '%') digit = 0;
  else if (c >= 'J' && c <= 'R') digit = c - 'J' + 1;
  else if (c >= 'j' && c <= 'r') digit = -(c - 'j' + 1);
  else return false;
  return true;
}

// The count digit of a DUP character (S-Z for 1 to 8, s for 9), or false.
bool dup_char(char c, int& digit) {
  if (c >= 'S' && c <= 'Z') digit = c - 'S' + 1;
  else if (c == 's') digit = 9;
  else return false;
  return true;
}

bool compressed_char(char c) {
  int d = 0;
  return (c != 'E' && c != 'e' && sqz_char(c, d)) || dif_char(c, d) || dup_char(c, d);
}

bool to_double(const std::string& text, double& out) {
  const char* first = text.data();
  const char* const end = first + text.size();
  if (first != end && *first == '+') ++first;
  const auto r = fast_float::from_chars(first, end, out);
  return r.ec == std::errc() && r.ptr == end && first != end && std::isfinite(out);
}

// The numbers of an AFFN or PAC line (blanks, commas or a sign between
// them, exponents allowed); false if the line is not of that form.
bool decode_affn(std::string_view line, std::vector<double>& values) {
  values.clear();
  std::size_t i = 0;
  std::string text;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r') {
      ++i;
      continue;
    }
    text.clear();
    if (c == '+' || c == '-') text += line[i++];
    std::size_t digits = 0;
    while (i < line.size() && (is_digit(line[i]) || line[i] == '.')) {
      digits += is_digit(line[i]);
      text += line[i++];
    }
    if (digits == 0) return false;
    if (i < line.size() && (line[i] == 'E' || line[i] == 'e')) {
      std::size_t j = i + 1;
      if (j < line.size() && (line[j] == '+' || line[j] == '-')) ++j;
      if (j >= line.size() || !is_digit(line[j])) return false;
      while (j < line.size() && is_digit(line[j])) ++j;
      text.append(line.substr(i, j - i));
      i = j;
    }
    double v = 0.0;
    if (!to_double(text, v)) return false;
    values.push_back(v);
  }
  return true;
}

}  // namespace

namespace {

// One token of a compressed line: its kind, its value and where it ends.
struct asdf_token {
  token kind = token::absolute;
  double value = 0.0;
  std::string text;
};

// Reads the token at line[i] (not a separator) and moves i past it.
std::string next_token(std::string_view line, std::size_t& i, asdf_token& t) {
  const char c = line[i];
  int digit = 0;
  t.kind = token::absolute;
  t.text.clear();
  if (c == '+' || c == '-' || is_digit(c) || c == '.') {
    t.text = c;
  } else if (sqz_char(c, digit)) {
    t.text = std::to_string(digit);  // a negative digit carries the sign of the number
  } else if (dif_char(c, digit)) {
    t.kind = token::dif;
    t.text = std::to_string(digit);
  } else if (dup_char(c, digit)) {
    t.kind = token::dup;
    t.text = std::to_string(digit);
  } else {
    return std::string("unexpected character \"") + c + "\" at column " + std::to_string(i + 1) +
           "; expected digits, a sign, or a SQZ, DIF or DUP character";
  }
  for (++i; i < line.size() && (is_digit(line[i]) || line[i] == '.');) t.text += line[i++];
  if (t.text == "+" || t.text == "-" || !to_double(t.text, t.value)) {
    return "\"" + t.text + "\" at column " + std::to_string(i) + " is not a number";
  }
  return {};
}

// Adds the ordinates of one token after the X; last is the kind of the
// token before (a DUP repeats it), last_dif its difference.
std::string add_token(const asdf_token& t, std::size_t column, asdf_line& out, token& last, double& last_dif) {
  if (t.kind == token::dup) {
    if (out.y.empty()) return "a DUP count at column " + std::to_string(column) + " has no ordinate before it to repeat";
    if (t.value < 1 || t.value != std::floor(t.value) || t.value > 1e7) {
      return "the DUP count " + t.text + " is not a whole number from 1 on";
    }
    for (double n = 1; n < t.value; ++n) out.y.push_back(last == token::dif ? out.y.back() + last_dif : out.y.back());
    return {};
  }
  if (t.kind == token::dif) {
    if (out.y.empty()) return "a DIF value at column " + std::to_string(column) + " has no ordinate before it";
    out.y.push_back(out.y.back() + t.value);
    last_dif = t.value;
  } else {
    out.y.push_back(t.value);
  }
  last = t.kind;
  return {};
}

}  // namespace

std::string decode_asdf(std::string_view line, asdf_line& out) {
  out = asdf_line{};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  bool compressed = false;
  for (const char c : line) compressed = compressed || compressed_char(c);
  if (std::vector<double> values; !compressed && decode_affn(line, values)) {
    if (values.empty()) return "expected the X of the line, then its ordinates";
    out.x = values.front();
    out.y.assign(values.begin() + 1, values.end());
    return {};
  }
  bool have_x = false;
  token last = token::absolute;  // the kind of the last ordinate token
  double last_dif = 0.0;
  asdf_token t;
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == ',') {
      ++i;
      continue;
    }
    if (std::string e = next_token(line, i, t); !e.empty()) return e;
    if (have_x) {
      if (std::string e = add_token(t, i, out, last, last_dif); !e.empty()) return e;
    } else if (t.kind != token::absolute) {
      return "the line must start with its X in plain digits";
    } else {
      out.x = t.value;
      have_x = true;
    }
  }
  if (!have_x) return "expected the X of the line, then its ordinates";
  out.ends_in_dif = last == token::dif;
  return {};
}

namespace {

long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// Reads a whole number of at most `most` digits at p.
bool whole(std::string_view s, std::size_t& p, int most, long long& v) {
  const std::size_t first = p;
  v = 0;
  while (p < s.size() && is_digit(s[p]) && p - first < static_cast<std::size_t>(most)) v = v * 10 + (s[p++] - '0');
  return p > first;
}

}  // namespace

bool parse_date(std::string_view s, double& seconds) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  std::size_t p = 0;
  long long y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  const std::size_t year_start = p;
  if (!whole(s, p, 4, y) || p >= s.size() || (s[p] != '/' && s[p] != '-')) return false;
  if (p - year_start <= 2) y += y >= 70 ? 1900 : 2000;
  ++p;
  if (!whole(s, p, 2, mo) || p >= s.size() || (s[p] != '/' && s[p] != '-')) return false;
  ++p;
  if (!whole(s, p, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  double fraction = 0.0;
  long long offset = 0;
  if (p < s.size() && (s[p] == ' ' || s[p] == 'T')) {
    while (p < s.size() && (s[p] == ' ' || s[p] == 'T')) ++p;
    if (p < s.size()) {
      if (!whole(s, p, 2, h) || p >= s.size() || s[p] != ':') return false;
      ++p;
      if (!whole(s, p, 2, mi)) return false;
      if (p < s.size() && s[p] == ':') {
        ++p;
        if (!whole(s, p, 2, sec)) return false;
        if (p < s.size() && s[p] == '.') {
          double scale = 0.1;
          for (++p; p < s.size() && is_digit(s[p]); ++p, scale /= 10) fraction += (s[p] - '0') * scale;
        }
      }
      while (p < s.size() && s[p] == ' ') ++p;
      if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        const bool minus = s[p++] == '-';
        long long hhmm = 0;
        if (!whole(s, p, 4, hhmm)) return false;
        offset = (hhmm / 100 * 3600 + hhmm % 100 * 60) * (minus ? -1 : 1);
      }
      if (h > 23 || mi > 59 || sec > 60) return false;
    }
  }
  seconds = static_cast<double>(days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
                                h * 3600 + mi * 60 + sec - offset) +
            fraction;
  return true;
}

bool looks_like_jcamp(std::string_view head) {
  strip_bom(head);
  while (!head.empty() && (head.front() == ' ' || head.front() == '\t' || head.front() == '\r' || head.front() == '\n')) {
    head.remove_prefix(1);
  }
  return head.starts_with("##");
}

namespace {

// A label without blanks, dashes, slashes and underscores, in capitals.
std::string normal_label(std::string_view label) {
  std::string out;
  for (const char c : label) {
    if (c == ' ' || c == '-' || c == '/' || c == '_' || c == '\t') continue;
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return out;
}

std::string upper_compact(std::string_view v) { return normal_label(v); }

// The comma-separated entries of an NTUPLES list.
std::vector<std::string> list_entries(std::string_view v) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = v.find(',', from);
    std::string_view e = v.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
    while (!e.empty() && (e.front() == ' ' || e.front() == '\t')) e.remove_prefix(1);
    while (!e.empty() && (e.back() == ' ' || e.back() == '\t' || e.back() == '\r')) e.remove_suffix(1);
    out.emplace_back(e);
    if (comma == std::string_view::npos) return out;
    from = comma + 1;
  }
}

bool number_value(std::string_view v, double& out) {
  std::vector<double> values;
  if (!decode_affn(v, values) || values.size() != 1) return false;
  out = values.front();
  return true;
}

enum class data_mode { none, xydata, xypoints, skip };

// The reading of one file; see read_jcamp.
class jcamp_reader {
 public:
  jcamp_reader(const std::string& path, const spectrum_sink& sink) : path_(path), sink_(sink) {}

  bool line(std::string_view text) {
    ++line_no_;
    if (line_no_ == 1) strip_bom(text);
    if (const std::size_t c = text.find("$$"); c != std::string_view::npos) text = text.substr(0, c);
    std::string_view t = text;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    if (t.empty()) return true;
    if (t.starts_with("##")) return label_line(t);
    if (mode_ == data_mode::xydata) return xydata_line(t);
    if (mode_ == data_mode::xypoints) return xypoints_line(t);
    return true;  // continuation of a text value
  }

  std::string finish() {
    if (!error_.empty()) return error_;
    if (in_block_) return path_ + ": the block from line " + std::to_string(block_line_) + " is not closed by \"##END=\"";
    if (spectra_ == 0) return path_ + ": no spectrum found; expected \"##XYDATA=(X++(Y..Y))\", \"##XYPOINTS=(XY..XY)\" or an NTUPLES real page";
    return {};
  }

 private:
  bool fail(const std::string& what) {
    error_ = at_line(path_, line_no_) + what;
    return false;
  }

  void reset_block() {
    firstx_ = lastx_ = deltax_ = NAN;
    xfactor_ = yfactor_ = 1.0;
    npoints_ = -1;
    date_ = NAN;
    date_only_ = NAN;
    time_of_day_ = NAN;
    ntuples_ = false;
    symbols_.clear();
    firsts_.clear();
    lasts_.clear();
    factors_.clear();
    dims_.clear();
    have_data_ = false;
    data_ = spectrum{};
  }

  bool label_line(std::string_view t) {
    if (mode_ == data_mode::xydata && !end_table()) return false;
    mode_ = data_mode::none;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return fail("a label line must read \"##LABEL= value\"");
    const std::string label = normal_label(t.substr(2, eq - 2));
    std::string_view value = t.substr(eq + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (label == "TITLE") {
      if (in_block_ && have_data_) return fail("a new \"##TITLE=\" begins before the block from line " + std::to_string(block_line_) + " ends with \"##END=\"");
      ++depth_;
      in_block_ = true;
      block_line_ = line_no_;
      reset_block();
      return true;
    }
    if (label == "END") return end_block();
    if (!in_block_) return fail("\"##" + std::string(t.substr(2, eq - 2)) + "=\" comes before the \"##TITLE=\" that begins a block");
    return value_label(label, value);
  }

  bool numeric(std::string_view value, double& out, const char* label) {
    if (!number_value(value, out)) return fail(std::string("##") + label + "= must hold one number");
    return true;
  }

  bool value_label(const std::string& label, std::string_view value) {
    if (label == "FIRSTX") return numeric(value, firstx_, "FIRSTX");
    if (label == "LASTX") return numeric(value, lastx_, "LASTX");
    if (label == "DELTAX") return numeric(value, deltax_, "DELTAX");
    if (label == "XFACTOR") return numeric(value, xfactor_, "XFACTOR");
    if (label == "YFACTOR") return numeric(value, yfactor_, "YFACTOR");
    if (label == "NPOINTS") {
      double n = 0;
      if (!numeric(value, n, "NPOINTS")) return false;
      if (n < 0 || n != std::floor(n) || n > 1e12) return fail("##NPOINTS= must be a whole number");
      npoints_ = static_cast<long long>(n);
      return true;
    }
    if (label == "LONGDATE") return date_value(value, date_);
    if (label == "DATE") return date_value(value, date_only_, true);
    if (label == "TIME") return time_value(value);
    if (label == "NTUPLES") {
      ntuples_ = true;
      return true;
    }
    if (label == "SYMBOL") {
      symbols_.clear();
      for (const std::string& e : list_entries(value)) symbols_.push_back(upper_compact(e));
      return true;
    }
    if (label == "FIRST") return number_list(value, firsts_);
    if (label == "LAST") return number_list(value, lasts_);
    if (label == "FACTOR") return number_list(value, factors_);
    if (label == "VARDIM") return number_list(value, dims_);
    if (label == "PAGE") return true;
    if (label == "ENDNTUPLES") return true;
    if (label == "XYDATA") return begin_xydata(value, false);
    if (label == "DATATABLE") return begin_xydata(value, true);
    if (label == "XYPOINTS") return begin_xypoints(value);
    return true;
  }

  bool number_list(std::string_view value, std::vector<double>& out) {
    out.clear();
    for (const std::string& e : list_entries(value)) {
      double v = NAN;
      if (!e.empty() && !number_value(e, v)) return fail("the list entry \"" + e + "\" is not a number");
      out.push_back(v);
    }
    return true;
  }

  bool date_value(std::string_view value, double& out, bool lenient = false) {
    if (parse_date(value, out)) return true;
    if (lenient) return true;  // a date written otherwise gives no time
    return fail("##LONGDATE= must read YYYY/MM/DD HH:MM:SS");
  }

  bool time_value(std::string_view value) {
    double s = 0;
    if (parse_date("2000/01/01 " + std::string(value), s)) time_of_day_ = s - 946684800.0;
    return true;
  }

  // The entry of an NTUPLES list for the variable with symbol sym.
  double ntuple(const std::vector<double>& list, const std::string& sym, double otherwise) const {
    for (std::size_t i = 0; i < symbols_.size() && i < list.size(); ++i) {
      if (symbols_[i] == sym && !std::isnan(list[i])) return list[i];
    }
    return otherwise;
  }

  bool begin_xydata(std::string_view value, bool table) {
    const std::string form = upper_compact(value);
    if (table) {
      if (!ntuples_) return fail("##DATA TABLE= outside an NTUPLES block");
      if (form.starts_with("(X++(I..I))")) {
        mode_ = data_mode::skip;
        return true;
      }
      if (!form.starts_with("(X++(R..R))")) return fail("expected \"##DATA TABLE= (X++(R..R)), XYDATA\" or (X++(I..I))");
      if (have_data_) return fail("a second real page in one NTUPLES block");
      firstx_ = ntuple(firsts_, "X", NAN);
      lastx_ = ntuple(lasts_, "X", NAN);
      xfactor_ = ntuple(factors_, "X", 1.0);
      yfactor_ = ntuple(factors_, "R", 1.0);
      if (npoints_ < 0) {
        const double dim = ntuple(dims_, "X", NAN);
        if (!std::isnan(dim)) {
          if (dim < 0 || dim != std::floor(dim) || dim > 1e12) return fail("##VAR_DIM= of X must be a whole number");
          npoints_ = static_cast<long long>(dim);
        }
      }
    } else if (form != "(X++(Y..Y))") {
      return fail("expected \"##XYDATA=(X++(Y..Y))\", not \"" + std::string(value) + "\"");
    }
    if (have_data_) return fail("a second data table in the block from line " + std::to_string(block_line_));
    if (std::isnan(lastx_) && !std::isnan(deltax_) && npoints_ > 0) {
      lastx_ = firstx_ + deltax_ * static_cast<double>(npoints_ - 1);  // without ##LASTX=, from ##DELTAX=
    }
    if (std::isnan(firstx_) || std::isnan(lastx_) || npoints_ < 0) {
      return fail("the data table needs ##FIRSTX=, ##LASTX= and ##NPOINTS= (or FIRST, LAST and VAR_DIM) before it");
    }
    mode_ = data_mode::xydata;
    have_data_ = true;
    check_pending_ = false;
    data_ = spectrum{};
    table_line_ = line_no_;
    return true;
  }

  bool begin_xypoints(std::string_view value) {
    if (upper_compact(value) != "(XY..XY)") return fail("expected \"##XYPOINTS=(XY..XY)\"");
    if (have_data_) return fail("a second data table in the block from line " + std::to_string(block_line_));
    mode_ = data_mode::xypoints;
    have_data_ = true;
    data_ = spectrum{};
    table_line_ = line_no_;
    return true;
  }

  bool xydata_line(std::string_view t) {
    if (std::string e = decode_asdf(t, line_); !e.empty()) return fail(e);
    std::size_t from = 0;
    if (check_pending_) {
      if (line_.y.empty()) return fail("expected the Y check value (the last ordinate of the line before)");
      if (!same(line_.y.front(), data_.y.back())) {
        return fail("the Y check value " + shortest(line_.y.front()) + " is not the last ordinate " +
                    shortest(data_.y.back()) + " of the line before");
      }
      from = 1;
    }
    // The X of the line is that of its first ordinate.
    const long long index = static_cast<long long>(data_.y.size()) - static_cast<long long>(from);
    if (npoints_ > 1 && !line_.y.empty()) {
      const double spacing = (lastx_ - firstx_) / static_cast<double>(npoints_ - 1);
      const double expected = firstx_ + static_cast<double>(index) * spacing;
      if (std::fabs(line_.x * xfactor_ - expected) > std::fabs(spacing) + 1e-9 * std::fabs(expected)) {
        return fail("the line's X " + shortest(line_.x) + " is not that of point " + std::to_string(index) + " (" +
                    shortest(expected / xfactor_) + " before XFACTOR); a line is missing or out of place");
      }
    }
    data_.y.insert(data_.y.end(), line_.y.begin() + static_cast<std::ptrdiff_t>(from), line_.y.end());
    check_pending_ = line_.ends_in_dif;
    if (npoints_ >= 0 && static_cast<long long>(data_.y.size()) > npoints_ + (check_pending_ ? 1 : 0)) {
      return fail("more ordinates than ##NPOINTS= " + std::to_string(npoints_));
    }
    return true;
  }

  bool xypoints_line(std::string_view t) {
    std::vector<double> v;
    if (!decode_affn(t, v)) return fail("expected pairs of numbers \"x, y\"");
    if (v.size() % 2 != 0) return fail("expected pairs of numbers \"x, y\"; this line holds an odd count");
    for (std::size_t i = 0; i < v.size(); i += 2) {
      data_.x.push_back(v[i] * xfactor_);
      data_.y.push_back(v[i + 1] * yfactor_);
    }
    return true;
  }

  static bool same(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
  }

  static std::string shortest(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
  }

  // The end of an XYDATA table: the last line may carry only the Y check.
  bool end_table() {
    mode_ = data_mode::none;
    if (npoints_ >= 0 && static_cast<long long>(data_.y.size()) != npoints_) {
      return fail("the data table from line " + std::to_string(table_line_) + " holds " +
                  std::to_string(data_.y.size()) + " ordinates; ##NPOINTS= says " + std::to_string(npoints_));
    }
    const double n = static_cast<double>(npoints_);
    data_.x.resize(data_.y.size());
    for (std::size_t i = 0; i < data_.y.size(); ++i) {
      data_.x[i] = npoints_ > 1 ? firstx_ + static_cast<double>(i) * ((lastx_ - firstx_) / (n - 1)) : firstx_;
      data_.y[i] *= yfactor_;
    }
    return true;
  }

  bool end_block() {
    if (!in_block_) return fail("\"##END=\" without a block open");
    if (mode_ == data_mode::xydata && !end_table()) return false;
    mode_ = data_mode::none;
    if (have_data_) {
      if (npoints_ >= 0 && static_cast<long long>(data_.x.size()) != npoints_) {
        return fail("the block holds " + std::to_string(data_.x.size()) + " points; ##NPOINTS= says " + std::to_string(npoints_));
      }
      const double when = !std::isnan(date_) ? date_
                          : !std::isnan(date_only_) ? date_only_ + (std::isnan(time_of_day_) ? 0.0 : time_of_day_)
                                                    : NAN;
      data_.timed = !std::isnan(when);
      data_.time = data_.timed ? when : 0.0;
      ++spectra_;
      if (std::string e = sink_(data_); !e.empty()) {
        error_ = std::move(e);
        return false;
      }
    }
    have_data_ = false;
    if (--depth_ <= 0) {
      depth_ = 0;
      in_block_ = false;
    }
    return true;
  }

  const std::string& path_;
  const spectrum_sink& sink_;
  long long line_no_ = 0;
  long long block_line_ = 0;
  long long table_line_ = 0;
  int depth_ = 0;
  bool in_block_ = false;
  long long spectra_ = 0;
  data_mode mode_ = data_mode::none;
  double firstx_ = NAN, lastx_ = NAN, deltax_ = NAN, xfactor_ = 1.0, yfactor_ = 1.0;
  long long npoints_ = -1;
  double date_ = NAN, date_only_ = NAN, time_of_day_ = NAN;
  bool ntuples_ = false;
  std::vector<std::string> symbols_;
  std::vector<double> firsts_, lasts_, factors_, dims_;
  bool have_data_ = false;
  bool check_pending_ = false;
  asdf_line line_;
  spectrum data_;
  std::string error_;
};

}  // namespace

std::string read_jcamp(const std::string& path, const spectrum_sink& sink) {
  jcamp_reader reader(path, sink);
  errno = 0;
  const lines::status status = lines::for_each_line(path.c_str(), [&](std::string_view text) { return reader.line(text); });
  if (status == lines::status::not_opened) return "cannot open " + path + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  if (status == lines::status::read_error) return path + ": read error: " + std::strerror(errno);
  return reader.finish();
}

}  // namespace instrument
