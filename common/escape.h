// File names written into text that is read again: a comment line, a
// gnuplot string, the "data" and "sigma" lines of a mechanism file. A name
// may hold any byte but NUL; these forms keep every byte while no line feed
// or "#" of the name can end or cut the line it stands on.
#pragma once

#include <string>
#include <string_view>

// The text with every control character (bytes 1 to 31 and 127) written as
// \n, \r, \t or \xHH, and every other byte as it is: for messages, comments
// and titles, which are only read by people.
std::string visible(std::string_view text);

// Whether a file name must be quoted to be read back as it is from the rest
// of a mechanism file's line: it is empty, begins or ends with white space,
// begins with a double quote, or holds a "#", a control character, "->" or
// "<=>" (which would make the line a reaction).
bool needs_quotes(std::string_view name);

// The name in double quotes, with \\ for a backslash, \" for a double quote,
// \x23 for "#", \x3e for ">" and \n, \r, \t or \xHH for a control
// character.
std::string quote_name(std::string_view name);

// The name a quoted form (the whole text, quotes included) stands for;
// false when text is not such a form or its name would hold a NUL.
bool unquote_name(std::string_view text, std::string& name);
