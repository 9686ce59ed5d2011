#include "instrument/delimited.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fast_float/fast_float.h>

#include "common/lines.h"
#include "common/numparse.h"

namespace instrument {

namespace {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string separator_name(char c) {
  switch (c) {
    case ',': return "a comma";
    case ';': return "a semicolon";
    case '\t': return "a tab";
    default: return "blanks";
  }
}

std::string quoted_text(std::string_view s) {
  std::string q(1, '"');
  q.append(s.substr(0, 40));
  q.append(s.size() > 40 ? "...\"" : "\"");
  return q;
}

}  // namespace

char find_separator(std::string_view row) {
  if (row.find('\t') != std::string_view::npos) return '\t';
  if (row.find(';') != std::string_view::npos) return ';';
  if (row.find(',') == std::string_view::npos) return ' ';
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = row.find(',', from);
    const std::string_view field = trim(row.substr(from, comma == std::string_view::npos ? comma : comma - from));
    if (field.find(' ') != std::string_view::npos && field.front() != '"') return ' ';
    if (comma == std::string_view::npos) return ',';
    from = comma + 1;
  }
}

void split_fields(std::string_view row, char separator, std::vector<std::string_view>& fields,
                  std::vector<bool>& quoted) {
  fields.clear();
  quoted.clear();
  if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
  std::size_t at = 0;
  const auto is_sep = [separator](char c) { return separator == ' ' ? c == ' ' || c == '\t' : c == separator; };
  if (separator == ' ') {
    while (at < row.size() && is_sep(row[at])) ++at;
    if (at == row.size()) return;
  }
  for (;;) {
    while (at < row.size() && is_blank(row[at]) && !is_sep(row[at])) ++at;
    std::string_view field;
    bool in_quotes = false;
    if (at < row.size() && row[at] == '"') {
      const std::size_t close = row.find('"', at + 1);
      const std::size_t stop = close == std::string_view::npos ? row.size() : close;
      field = row.substr(at + 1, stop - at - 1);
      in_quotes = true;
      at = stop == row.size() ? stop : stop + 1;
      while (at < row.size() && !is_sep(row[at])) ++at;  // text after the closing quote is dropped
    } else {
      const std::size_t first = at;
      while (at < row.size() && !is_sep(row[at])) ++at;
      field = trim(row.substr(first, at - first));
    }
    fields.push_back(field);
    quoted.push_back(in_quotes);
    if (at == row.size()) return;
    ++at;  // the separator
    if (separator == ' ') {
      while (at < row.size() && is_sep(row[at])) ++at;
      if (at == row.size()) return;
    }
  }
}

bool field_number(std::string_view field, bool comma, double& out) {
  field = trim(field);
  const char mark = comma ? ',' : '.';
  const char* p = field.data();
  const char* const end = p + field.size();
  const bool negative = p != end && *p == '-';
  if (p != end && (*p == '+' || *p == '-')) ++p;
  if (p == end || !((*p >= '0' && *p <= '9') || *p == mark)) return false;
  if (negative) --p;  // fast_float reads the minus sign itself
  double value = 0.0;
  const auto result = fast_float::from_chars_advanced(p, end, value, fast_float::parse_options{fast_float::chars_format::general, mark});
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return false;
  out = value;
  return true;
}

namespace {

// Reads the rows of one table; see read_delimited.
class table_reader {
 public:
  table_reader(const std::string& path, const delimited_options& options, const spectrum_sink& sink)
      : path_(path), options_(options), sink_(sink), separator_(options.separator), shape_(options.shape) {}

  // One line of the file; false to stop.
  bool line(std::string_view text) {
    ++line_no_;
    if (line_no_ == 1) strip_bom(text);
    if (trim(text).empty() || text.front() == '#') return true;
    if (separator_ == 0) separator_ = find_separator(text);
    return started_ ? data_row(text) : first_rows(text);
  }

  // After the last line: the spectra still held, or the message.
  std::string finish() {
    if (!error_.empty()) return error_;
    if (!started_ && pending_.empty() && header_rows_ > 0) return path_ + ": no data rows after the header";
    if (!started_ && pending_.empty()) {
      return path_ + ": no table rows found; expected rows of numbers separated by commas, semicolons, tabs or blanks";
    }
    if (!pending_.empty()) {  // one numeric row of three: a long table of one sample
      shape_ = layout::long_table;
      started_ = true;
      if (!take(pending_)) return error_;
    }
    if (shape_ == layout::spectra_in_columns) {
      if (columns_.empty() || columns_.front().x.empty()) return path_ + ": the matrix has an axis row but no data rows";
      for (const spectrum& s : columns_) {
        if (std::string e = sink_(s); !e.empty()) return e;
      }
    } else if ((shape_ == layout::long_table || shape_ == layout::single) && !current_.x.empty()) {
      if (std::string e = sink_(current_); !e.empty()) return e;
    } else if (shape_ == layout::spectra_in_rows && rows_read_ == 0) {
      return path_ + ": the matrix has an axis row but no data rows";
    } else if ((shape_ == layout::long_table || shape_ == layout::single) && current_.x.empty()) {
      return path_ + ": no data rows after the header";
    }
    return {};
  }

  delimited_found found() const { return {separator_, shape_, header_rows_}; }

 private:
  bool fail(const std::string& what) {
    error_ = at_line(path_, line_no_) + what;
    return false;
  }

  bool comma_is_mark(bool quoted) const {
    if (options_.mark == decimal_mark::point) return false;
    if (options_.mark == decimal_mark::comma) return true;
    return separator_ != ',' || quoted;
  }

  // Reads every field of the current split as a number (0 for one that is
  // not); returns the index of the first from `from` on that is not one, or
  // fields_.size().
  std::size_t numbers_from(std::size_t from) {
    values_.clear();
    std::size_t bad = fields_.size();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      double v = 0.0;
      const std::string_view f = fields_[i];
      const bool comma = options_.mark == decimal_mark::comma ||
                         (comma_is_mark(quoted_[i]) && f.find(',') != std::string_view::npos);
      if (!field_number(f, comma, v)) {
        if (i >= from && bad == fields_.size()) bad = i;
        v = 0.0;
      }
      values_.push_back(v);
    }
    return bad;
  }

  // Whether a field after the first of the current split is a number.
  bool number_after_first() const {
    double v = 0.0;
    for (std::size_t i = 1; i < fields_.size(); ++i) {
      const bool comma = options_.mark == decimal_mark::comma ||
                         (comma_is_mark(quoted_[i]) && fields_[i].find(',') != std::string_view::npos);
      if (field_number(fields_[i], comma, v)) return true;
    }
    return false;
  }

  // The rows up to the first data row decide the layout.
  bool first_rows(std::string_view text) {
    split_fields(text, separator_, fields_, quoted_);
    const std::size_t n = fields_.size();
    if (n < 2) {
      return fail("a row holds one field; expected at least two separated by " + separator_name(separator_) +
                  " (x and an intensity, or a time and intensities)");
    }
    const bool all_numeric = numbers_from(0) == n;
    const bool tail_numeric = numbers_from(1) == n;
    if (!pending_.empty()) {  // three fields, the first row numeric: a long table if the time repeats
      std::vector<double> first = pending_;
      pending_.clear();
      if (!all_numeric) return fail(expected_numbers());
      shape_ = values_[0] == first[0] ? layout::long_table : layout::spectra_in_rows;
      if (shape_ == layout::spectra_in_rows) return fail_or_axis(first) && data_row(text);
      started_ = true;
      width_ = 3;
      return take(first) && take(values_);
    }
    if (shape_ == layout::automatic) {
      if (!number_after_first()) {  // a title or a header of words
        ++header_rows_;
        return true;
      }
      if (n == 2) {
        shape_ = layout::single;
      } else if (n == 3 && all_numeric) {
        pending_ = values_;
        pending_line_ = line_no_;
        return true;
      } else if (n == 3 && !tail_numeric) {
        shape_ = layout::long_table;
      } else {
        shape_ = layout::spectra_in_rows;
      }
    }
    const bool matrix = shape_ == layout::spectra_in_rows || shape_ == layout::spectra_in_columns;
    if (matrix ? !tail_numeric : !all_numeric) {
      ++header_rows_;
      return true;
    }
    if (matrix) return fail_or_axis(values_);
    width_ = shape_ == layout::single ? 2 : 3;
    if (n != width_) return fail(width_message(n));
    started_ = true;
    return take(values_);
  }

  // The axis row of a matrix: its fields after the corner.
  bool fail_or_axis(const std::vector<double>& row) {
    axis_.assign(row.begin() + 1, row.end());
    width_ = row.size();
    started_ = true;
    if (shape_ == layout::spectra_in_columns) {
      columns_.resize(axis_.size());
      for (std::size_t k = 0; k < axis_.size(); ++k) {
        columns_[k].time = axis_[k];
        columns_[k].timed = true;
      }
    } else {
      current_.x = axis_;
      current_.timed = true;
    }
    return true;
  }

  std::string expected_numbers() {
    const std::size_t bad = numbers_from(0);
    return "field " + std::to_string(bad + 1) + " is " + quoted_text(fields_[bad]) + "; expected a number";
  }

  std::string width_message(std::size_t n) const {
    return "the row holds " + std::to_string(n) + " fields; expected " + std::to_string(width_) + " as in " +
           (shape_ == layout::spectra_in_rows || shape_ == layout::spectra_in_columns ? "the axis row"
                                                                                      : "the first data row");
  }

  // The numbers of a data row, by the quick path when they are plain.
  bool row_values(std::string_view text) {
    values_.clear();
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool quick = options_.mark != decimal_mark::comma;
    while (quick) {
      double v = 0.0;
      if (!numparse::scan_double(p, end, v)) break;
      values_.push_back(v);
      const char* after = p;
      while (p != end && numparse::is_space(*p)) ++p;
      if (p == end) return true;
      if (separator_ == ' ') {
        if (p == after) break;
        continue;
      }
      if (*p != separator_) break;
      ++p;
    }
    split_fields(text, separator_, fields_, quoted_);
    if (numbers_from(0) != fields_.size()) return fail(expected_numbers());
    return true;
  }

  bool data_row(std::string_view text) {
    if (!row_values(text)) return false;
    if (values_.size() != width_) return fail(width_message(values_.size()));
    return take(values_);
  }

  // One data row of width_ numbers.
  bool take(const std::vector<double>& row) {
    switch (shape_) {
      case layout::spectra_in_rows: {
        current_.time = row[0];
        current_.y.assign(row.begin() + 1, row.end());
        ++rows_read_;
        std::string e = sink_(current_);
        if (!e.empty()) error_ = std::move(e);
        return error_.empty();
      }
      case layout::spectra_in_columns:
        for (std::size_t k = 0; k < columns_.size(); ++k) {
          columns_[k].x.push_back(row[0]);
          columns_[k].y.push_back(row[k + 1]);
        }
        return true;
      case layout::long_table:
        if (!current_.x.empty() && row[0] != current_.time) {
          std::string e = sink_(current_);
          if (!e.empty()) {
            error_ = std::move(e);
            return false;
          }
          current_.x.clear();
          current_.y.clear();
        }
        current_.time = row[0];
        current_.timed = true;
        current_.x.push_back(row[1]);
        current_.y.push_back(row[2]);
        return true;
      default:
        current_.x.push_back(row[0]);
        current_.y.push_back(row[1]);
        return true;
    }
  }

  const std::string& path_;
  const delimited_options& options_;
  const spectrum_sink& sink_;
  char separator_;
  layout shape_;
  long long line_no_ = 0;
  long long header_rows_ = 0;
  long long pending_line_ = 0;
  long long rows_read_ = 0;
  bool started_ = false;  // the layout and the width are known
  std::size_t width_ = 0;
  std::vector<double> pending_;
  std::vector<double> axis_;
  std::vector<double> values_;
  std::vector<std::string_view> fields_;
  std::vector<bool> quoted_;
  spectrum current_;
  std::vector<spectrum> columns_;
  std::string error_;
};

}  // namespace

std::string read_delimited(const std::string& path, const delimited_options& options, const spectrum_sink& sink,
                           delimited_found* found) {
  table_reader reader(path, options, sink);
  errno = 0;
  const lines::status status = lines::for_each_line(path.c_str(), [&](std::string_view text) { return reader.line(text); });
  if (status == lines::status::not_opened) return "cannot open " + path + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  if (status == lines::status::read_error) return path + ": read error: " + std::strerror(errno);
  std::string error = reader.finish();
  if (found != nullptr) *found = reader.found();
  return error;
}

}  // namespace instrument
