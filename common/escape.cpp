#include "common/escape.h"

#include "common/numparse.h"

namespace {

constexpr bool is_control(char c) { return (c >= 1 && c < 32) || c == 127 || c == 0; }

void append_escape(std::string& out, char c) {
  static const char hex[] = "0123456789abcdef";
  switch (c) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  const auto byte = static_cast<unsigned char>(c);
  out += "\\x";
  out += hex[byte >> 4];
  out += hex[byte & 15];
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (is_control(c)) {
      append_escape(out, c);
    } else {
      out += c;
    }
  }
  return out;
}

bool needs_quotes(std::string_view name) {
  if (name.empty() || numparse::is_space(name.front()) || numparse::is_space(name.back()) || name.front() == '"') {
    return true;
  }
  for (char c : name) {
    if (c == '#' || is_control(c)) return true;
  }
  // A line with an arrow is a reaction line, whatever its first word.
  return name.find("->") != std::string_view::npos || name.find("<=>") != std::string_view::npos;
}

std::string quote_name(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '#') {
      out += "\\x23";
    } else if (c == '>') {
      out += "\\x3e";
    } else if (is_control(c)) {
      append_escape(out, c);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool unquote_name(std::string_view text, std::string& name) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') return false;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i + 1 >= text.size()) return false;
    const char e = text[i];
    if (e == '\\' || e == '"') {
      out += e;
    } else if (e == 'n' || e == 'r' || e == 't') {
      out += e == 'n' ? '\n' : e == 'r' ? '\r' : '\t';
    } else if (e == 'x' && i + 3 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
      const char byte = static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      if (byte == '\0') return false;
      out += byte;
      i += 2;
    } else {
      return false;
    }
  }
  name = std::move(out);
  return true;
}
