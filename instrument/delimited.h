// Delimited text tables as instruments and spreadsheets export them: comma,
// semicolon, tab or blank separated, with header rows, decimal commas,
// matrices in either orientation and long tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "instrument/spectrum.h"

namespace instrument {

// How the spectra lie in a table.
enum class layout {
  automatic,           // decided from the first rows (see read_delimited)
  spectra_in_rows,     // first row: a corner cell, then the x of every channel; each row: time, intensities
  spectra_in_columns,  // first row: a corner cell, then the time of every spectrum; each row: x, intensities
  long_table,          // rows "time x intensity", a spectrum per run of rows of one time
  single,              // rows "x intensity": one spectrum without a time
};

// How a ',' inside a number is read.
enum class decimal_mark {
  automatic,  // a decimal mark, unless ',' separates the fields (then only inside a quoted field)
  point,      // never a decimal mark
  comma,      // always, and '.' is not one
};

struct delimited_options {
  char separator = 0;  // ',', ';', '\t' or ' ' (runs of blanks and tabs); 0: found from the first row
  decimal_mark mark = decimal_mark::automatic;
  layout shape = layout::automatic;
};

// What a read found.
struct delimited_found {
  char separator = 0;
  layout shape = layout::automatic;
  long long header_rows = 0;
};

// The separator of a row: a tab if it holds one, else ';' if it holds one,
// else ',' if it holds one and no field between commas holds a blank,
// else ' '.
char find_separator(std::string_view row);

// Splits a row at separator (' ': at runs of blanks and tabs) into fields
// without the blanks around them and without enclosing double quotes; sets
// quoted[i] for a field that was quoted. A carriage return at the end is
// dropped.
void split_fields(std::string_view row, char separator, std::vector<std::string_view>& fields,
                  std::vector<bool>& quoted);

// Reads a whole field as a number: optional sign, digits with one optional
// decimal mark, optional exponent. With comma, the mark is ',' instead of '.';
// false for anything else (inf, nan, hexadecimal, trailing text).
bool field_number(std::string_view field, bool comma, double& out);

// Reads the table at path and hands its spectra to sink in order: a row
// spectrum as soon as its row is read, long-table spectra when their time
// changes, columns and single spectra at the end. Empty lines and lines
// beginning with "#" are skipped; a UTF-8 byte-order mark is passed over.
//
// With layout::automatic: two fields a row give a single spectrum; three
// fields a row are a long table when the first row is a header of words or
// the first two numeric rows share their time, otherwise (and with more
// fields) a matrix of spectra in rows. A header is any leading rows that are
// not all numbers (for a matrix: the rows before the first whose fields
// after the first are all numbers, which is the axis row).
//
// Returns "" or a message "PATH line N: ..." saying what was expected.
std::string read_delimited(const std::string& path, const delimited_options& options, const spectrum_sink& sink,
                           delimited_found* found = nullptr);

}  // namespace instrument
