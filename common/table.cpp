#include "common/table.h"

#include <climits>
#include <iomanip>
#include <iostream>

#include "common/lines.h"
#include "common/numparse.h"

table fileIn(const char* path) {
  table t;
  const auto result = lines::for_each_line(path, [&t](std::string_view line) {
    if (lines::classify(line) != lines::kind::data) return true;
    std::vector<double>& row = t.emplace_back();
    const char* p = line.data();
    const char* const end = p + line.size();
    double value;
    while (numparse::scan_double(p, end, value)) row.push_back(value);
    return true;
  });
  if (result == lines::status::not_opened) std::cerr << "No such read-in file\n";
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

// Both counters run the same scan; a file that cannot be opened counts as
// one without lines.
line_counts count_lines(const char* path) {
  line_counts counts;
  lines::for_each_line(path, [&counts](std::string_view line) {
    switch (lines::classify(line)) {
      case lines::kind::data: count_one(counts.data); break;
      case lines::kind::separator: count_one(counts.separators); break;
      default: break;
    }
    return true;
  });
  return counts;
}

void print_value(double v) { std::cout << std::fixed << std::setprecision(6) << std::setw(8) << v << ' '; }
}  // namespace

int genV(const char* path) { return count_lines(path).data; }

int genV2(const char* path) { return count_lines(path).separators; }

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
