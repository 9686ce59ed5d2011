#include "common/escape.h"

#include <gtest/gtest.h>

namespace {

TEST(Escape, VisibleShowsControlCharactersOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/dat.txt", "plain/dat.txt"},
      {"a\nb", "a\\nb"},
      {"tab\there\r", "tab\\there\\r"},
      {std::string("\x01\x7f", 2), "\\x01\\x7f"},
      {"back\\slash # and 'quote'", "back\\slash # and 'quote'"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(visible(text), shown) << text;
}

TEST(Escape, QuotesExactlyTheNamesThatWouldNotReadBack) {
  const std::pair<std::string, bool> cases[] = {
      {"dat.txt", false},        {"dir with blanks/dat.txt", false}, {"dir/\"x\"", false},
      {"", true},                {" lead", true},                     {"trail ", true},
      {"a#b/dat.txt", true},     {"a\nb", true},                      {"\"quoted\"", true},
      {"cr\r", true},           {"a->b", true},                      {"a<=>b", true},
      {"a>b-", false},
  };
  for (const auto& [name, quoted] : cases) EXPECT_EQ(needs_quotes(name), quoted) << name;
}

TEST(Escape, QuotedNamesReadBackToEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  for (const std::string& name :
       {std::string("x\nsystem(\"touch p\")/dat.txt"), std::string(" a#b\\c "), std::string("a->b<=>c"), all}) {
    const std::string quoted = quote_name(name);
    EXPECT_EQ(quoted.find('\n'), std::string::npos);
    EXPECT_EQ(quoted.find('#'), std::string::npos);
    EXPECT_EQ(quoted.find('>'), std::string::npos);
    std::string back;
    ASSERT_TRUE(unquote_name(quoted, back)) << quoted;
    EXPECT_EQ(back, name);
  }
  EXPECT_EQ(quote_name("a\"b#"), "\"a\\\"b\\x23\"");
}

TEST(Escape, MalformedQuotedFormsAreRefused) {
  for (const char* text : {"\"", "\"open", "no quotes", "\"a\"b\"", "\"bad \\q\"", "\"cut \\x2\"", "\"nul \\x00\"",
                           "\"end \\\""}) {
    std::string name = "unchanged";
    EXPECT_FALSE(unquote_name(text, name)) << text;
    EXPECT_EQ(name, "unchanged");
  }
}

}  // namespace
