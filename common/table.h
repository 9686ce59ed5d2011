// Numeric tables: the plain-text parameter files both programs read
// ("scale.txt", "guess.txt"), their line counters and console dumps.
#pragma once

#include <cstddef>
#include <vector>

// One row per data line of the file, in file order; rows may differ in length
// and may be empty.
using table = std::vector<std::vector<double>>;

// The most a table read from a file holds: a file of more rows or numbers
// (an endless pipe) is read up to there, with a message on standard error.
constexpr std::size_t table_max_rows = std::size_t{1} << 20;      // 1,048,576
constexpr std::size_t table_max_numbers = std::size_t{1} << 24;   // 16,777,216

// Reads a numeric table file. A file that cannot be opened gives an empty
// table and the message "No such read-in file" on standard error; a file
// beyond the limits above gives its first rows and numbers and the message
// "\"PATH\": a table holds at most 1048576 rows and 16777216 numbers; the
// rest of the file is not read".
table fileIn(const char* path);

// Number of data lines of a file (0, silently, when it cannot be opened).
// Equals the number of rows fileIn gives for the same file.
int genV(const char* path);

// Number of block separator lines ("&" first) of a file (0 when it cannot be
// opened).
int genV2(const char* path);

// Prints every value of every row to standard output, "%8.6f" and a blank
// each, one line per row.
void print_dat(const table& t);

// Prints the first value of each row in the same format, one line per row;
// an empty row prints an empty line.
void print_time(const table& t);
