// Telling whether a result would replace an input of the same run: by the
// identity of the files (device and inode, symbolic links followed), not by
// their names alone, so that "./dat.txt", a link to it or a second name of
// it all count.
#pragma once

#include <string>
#include <vector>

// The first result that names the same existing file as one of the inputs,
// as `the result "RESULT" is the input "INPUT": nothing was written`; or ""
// when there is none. Names that do not exist clash with nothing.
std::string result_is_input(const std::vector<std::string>& results, const std::vector<std::string>& inputs);
