// Numeric tables: the plain-text parameter files both programs read
// ("scale.txt", "guess.txt"), their line counters and console dumps.
#pragma once

#include <vector>

// One row per data line of the file, in file order; rows may differ in length
// and may be empty.
using table = std::vector<std::vector<double>>;

// Reads a numeric table file. A file that cannot be opened gives an empty
// table and the message "No such read-in file" on standard error.
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
