#include "common/table.h"

#include <climits>
#include <iomanip>
#include <iostream>

#include "common/lines.h"
#include "common/numparse.h"

namespace {

// Reads the numbers of a piece of a data line into row (pieces end at white
// space, so no number is split). Returns whether the row goes on into the
// next piece: false once a word that is not a number ends it.
bool read_numbers(std::string_view text, std::vector<double>& row) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    while (p != end && numparse::is_space(*p)) ++p;
    if (p == end) return true;
    double value;
    if (!numparse::scan_double(p, end, value)) return false;
    row.push_back(value);
  }
}

}  // namespace

table fileIn(const char* path) {
  table t;
  bool reading = false;  // the numbers of the line under way are still being read
  std::size_t numbers = 0;
  const auto result = lines::for_each_line(path, [&](std::string_view text, lines::piece where) {
    if (where.first) {
      reading = lines::classify(text) == lines::kind::data;
      if (reading && t.size() == table_max_rows) return false;
      if (reading) t.emplace_back();
    }
    if (!reading) return true;
    const std::size_t before = t.back().size();
    reading = read_numbers(text, t.back());
    numbers += t.back().size() - before;
    if (numbers <= table_max_numbers) return true;
    t.back().resize(t.back().size() - (numbers - table_max_numbers));
    return false;
  });
  if (result == lines::status::not_opened) std::cerr << "No such read-in file\n";
  if (result == lines::status::stopped) {
    std::cerr << "\"" << path << "\": a table holds at most " << table_max_rows << " rows and " << table_max_numbers
              << " numbers; the rest of the file is not read\n";
  }
  return t;
}

namespace {
struct line_counts {
  int data = 0;
  int separators = 0;
};

// The counts are ints; a file of more lines than an int holds (gigabytes of
// line feeds) stops counting at INT_MAX instead of overflowing.
void count_one(int& n) {
  if (n < INT_MAX) ++n;
}

// Both counters run the same scan, which ends once the count of the class
// asked for has reached INT_MAX (so an endless pipe is not read forever); a
// file that cannot be opened counts as one without lines.
line_counts count_lines(const char* path, lines::kind counted) {
  line_counts counts;
  lines::for_each_line(path, [&counts, counted](std::string_view line) {
    switch (lines::classify(line)) {
      case lines::kind::data: count_one(counts.data); break;
      case lines::kind::separator: count_one(counts.separators); break;
      default: break;
    }
    return (counted == lines::kind::data ? counts.data : counts.separators) < INT_MAX;
  });
  return counts;
}

void print_value(double v) { std::cout << std::fixed << std::setprecision(6) << std::setw(8) << v << ' '; }
}  // namespace

int genV(const char* path) { return count_lines(path, lines::kind::data).data; }

int genV2(const char* path) { return count_lines(path, lines::kind::separator).separators; }

void print_dat(const table& t) {
  for (const auto& row : t) {
    for (double v : row) print_value(v);
    std::cout << std::endl;
  }
}

void print_time(const table& t) {
  for (const auto& row : t) {
    if (!row.empty()) print_value(row.front());
    std::cout << std::endl;
  }
}
