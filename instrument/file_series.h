// A series of single-spectrum files (JCAMP-DX or delimited text, a file
// each), ordered by their time stamps.
#pragma once

#include <string>
#include <vector>

#include "instrument/delimited.h"
#include "instrument/spectrum.h"

namespace instrument {

// Reads the one spectrum of a file: JCAMP-DX when it starts with "##",
// delimited text otherwise. A file of several spectra is an error.
std::string read_single(const std::string& path, const delimited_options& options, spectrum& out);

// The files matching a shell pattern ("spectra/*.jdx"), in name order; an
// empty list when none matches.
std::vector<std::string> expand_pattern(const std::string& pattern);

// The paths of a list file, one a line (empty lines and "#" lines
// skipped); a relative path is taken from the list file's folder.
std::string read_path_list(const std::string& list, std::vector<std::string>& paths);

// Reads every file and hands the spectra to sink in the order of their time
// stamps: the acquisition time a file holds, or else its modification time
// (files of equal stamps keep their order). Every file must hold a time, or
// none. Returns "" or a message naming the file.
std::string read_file_series(const std::vector<std::string>& paths, const delimited_options& options,
                             const spectrum_sink& sink);

}  // namespace instrument
