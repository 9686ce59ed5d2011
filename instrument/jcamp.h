// JCAMP-DX files (4.24, 5.x, 6.0): XYDATA in AFFN and the compressed ASDF
// forms, XYPOINTS, several blocks, and NTUPLES NMR spectra (the real part).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "instrument/spectrum.h"

namespace instrument {

// The ordinates of one data line of "##XYDATA=(X++(Y..Y))" after its X.
struct asdf_line {
  double x = 0.0;           // the abscissa the line starts with (before XFACTOR)
  std::vector<double> y;    // every ordinate, the Y check value included
  bool ends_in_dif = false; // the last ordinate is in DIF form
};

// Decodes a data line in AFFN, PAC, SQZ, DIF and DUP forms, mixed as the
// format allows. Returns "" or what is wrong (no line number).
std::string decode_asdf(std::string_view line, asdf_line& out);

// Seconds since 1970-01-01 00:00 UTC of "YYYY/MM/DD[ HH:MM[:SS[.S]]][ +HHMM]"
// (or a two-digit year: 70 to 99 is 19YY, else 20YY); false when the text
// is not such a date.
bool parse_date(std::string_view text, double& seconds);

// Reads the JCAMP-DX file at path and hands every spectrum in it to sink as
// its block ends ("##END="): one per block with XYDATA or XYPOINTS, one per
// NTUPLES block (its real page). x = FIRSTX + i (LASTX - FIRSTX) / (NPOINTS
// - 1) for XYDATA, y = ordinate × YFACTOR. The time is that of "##LONGDATE="
// or "##DATE=" with "##TIME=", when the block has one. Returns "" or "PATH
// line N: ..." saying what was expected.
std::string read_jcamp(const std::string& path, const spectrum_sink& sink);

// True when the text starts (after blanks and a byte-order mark) with "##".
bool looks_like_jcamp(std::string_view head);

}  // namespace instrument
