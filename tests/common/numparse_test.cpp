// The fast number reader against the reference it must equal: formatted
// input of doubles from a string stream in the classic locale.
#include "common/numparse.h"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::uint64_t> with_stream(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::uint64_t> row;
  double v;
  while (in >> v) row.push_back(std::bit_cast<std::uint64_t>(v));
  return row;
}

std::vector<std::uint64_t> with_scanner(const std::string& line) {
  std::vector<std::uint64_t> row;
  const char* p = line.data();
  const char* const end = p + line.size();
  double v;
  while (numparse::scan_double(p, end, v)) row.push_back(std::bit_cast<std::uint64_t>(v));
  return row;
}

std::string digits(std::mt19937_64& rng, int max_len) {
  std::string s(std::uniform_int_distribution<int>(0, max_len)(rng), '0');
  for (char& c : s) c = static_cast<char>('0' + rng() % 10);
  return s;
}

// One token: usually a plausible number, sometimes a hostile variant.
std::string token(std::mt19937_64& rng) {
  static const char* const junk[] = {"inf", "nan", "-inf", "NaN", "infinity", "0x1p3", "0X1A", "e", "E5", ".",
                                     "+", "-", "+-", "--1", "..5", "1..", ",", "1,5", "x", "#", "&", "\xEF\xBB\xBF",
                                     "1e", "1e+", "1e-", "1E", ".e1", "+.e1", "1ex", "1e+x", "-.", "0e", "\x01"};
  switch (rng() % 9) {
    case 0: return junk[rng() % std::size(junk)];
    case 1: {  // extreme exponents: overflow, underflow, subnormals
      static const char* const exps[] = {"308", "309", "-308", "-324", "-325", "-330", "400", "-400", "99999999999",
                                         "-99999999999", "0", "+0", "-0"};
      return (rng() % 2 ? "" : "-") + digits(rng, 3) + "." + digits(rng, 3) + (rng() % 2 ? "e" : "E") +
             exps[rng() % std::size(exps)];
    }
    case 2: {  // long digit strings near rounding boundaries
      std::string s = digits(rng, 40) + "." + digits(rng, 40);
      if (rng() % 3 == 0) s += "e" + std::to_string(static_cast<int>(rng() % 700) - 350);
      return s;
    }
    case 8: {  // around the limits of exact short conversion: 19 digits, 2^53, 1e22
      std::string s = digits(rng, 21);
      if (s.empty()) s = "9";
      if (rng() % 2) s.insert(rng() % (s.size() + 1), ".");
      return s + "e" + std::to_string(static_cast<int>(rng() % 61) - 30);
    }
    case 3: return "1.7976931348623157e308" + std::string(rng() % 2 ? "" : "1");
    case 4: return "2.4703282292062327e-324" + std::string(rng() % 2 ? "" : "1");
    default: {
      std::string s;
      const int sign = static_cast<int>(rng() % 4);
      if (sign == 1) s += '-';
      if (sign == 2) s += '+';
      s += digits(rng, 8);
      if (rng() % 2) s += "." + digits(rng, 8);
      if (rng() % 3 == 0) {
        s += rng() % 2 ? 'e' : 'E';
        const int esign = static_cast<int>(rng() % 3);
        if (esign == 1) s += '-';
        if (esign == 2) s += '+';
        s += digits(rng, 3);
      }
      if (rng() % 6 == 0) s += "kg";
      return s;
    }
  }
}

std::string separator(std::mt19937_64& rng) {
  static const char* const seps[] = {" ", " ", "  ", "\t", "\r", "\v", "\f", "", "-", "+", ".", "e"};
  return seps[rng() % std::size(seps)];
}

TEST(NumParse, EqualsStreamExtractionOnGeneratedLines) {
  std::mt19937_64 rng(20261207);
  int compared = 0;
  for (int i = 0; i < 120000; ++i) {
    std::string line = rng() % 4 == 0 ? separator(rng) : "";
    const int n = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < n; ++k) line += token(rng) + separator(rng);
    ASSERT_EQ(with_scanner(line), with_stream(line)) << "line: [" << line << "]";
    ++compared;
  }
  EXPECT_EQ(compared, 120000);
}

TEST(NumParse, EqualsStreamExtractionOnEdgeForms) {
  const std::string lines[] = {
      "", " ", "0", "-0", "+0", "00", "0.0e0", "1e308", "1e309", "-1e309", "1.7976931348623158e308",
      "1.7976931348623159e308", "4.9406564584124654e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
      "1e-400", "-1e-400", "0.1", "9007199254740993", "9007199254740993.0000000000000000000001",
      std::string(800, '9'), "0." + std::string(500, '0') + "1", "1" + std::string(400, '0'),
      "1e0000000000000000000000000001", "1e-0000000000000000000000000000000001", "5kg 3", "1-2", "+.5 3.", "9007199254740992",
      "9007199254740992e22", "9007199254740992e-22", "9007199254740993e-22", "1e22", "1e23", "1e-22", "1e-23",
      "1234567890123456789", "12345678901234567890", "0.000000000000000000001234", "123456789.0123456789e3",
  };
  for (const auto& line : lines) EXPECT_EQ(with_scanner(line), with_stream(line)) << "line: [" << line << "]";
}

TEST(NumParse, QuickFormsAndTheirNearMissesEqualStreamExtraction) {
  // Numbers the word-wide quick path reads, and forms it must leave to the
  // full read, each followed by what may end or continue it, with the line
  // ending at every place around the eight bytes that path looks at.
  const std::string numbers[] = {"1234567", "12345678", "1.234567", "123456.7", "1234567.", ".1234567", "-.1234567",
                                 "+1.5", "0.00015", "-0.001718", "1.", ".5", "5", "-5", "-", ".", "+", "1..2", "1.2.3",
                                 "12.5e3", "1.5E-2", "7e1", "-0", "0.0000000", "00000001", "+-1", "9999999.9"};
  const std::string after[] = {"", " ", "e", "E", "e5", "x", "9", "0", ".", "-", "\xB9", std::string(1, '\0')};
  const std::string pads[] = {"", " 1", "      ", " 2.5 ", "12345678"};
  for (const auto& n : numbers) {
    for (const auto& a : after) {
      for (const auto& pad : pads) {
        const std::string line = n + a + pad;
        EXPECT_EQ(with_scanner(line), with_stream(line)) << "line: [" << line << "]";
      }
    }
  }
}

TEST(NumParse, SkipMovesAsScanMoves) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string line = separator(rng);
    for (int k = 0; k < 4; ++k) line += token(rng) + separator(rng);
    const char* const end = line.data() + line.size();
    const char* p = line.data();
    const char* q = p;
    for (bool more = true; more;) {
      double v;
      more = numparse::scan_double(p, end, v);
      ASSERT_EQ(numparse::skip_double(q, end), more) << "line: [" << line << "]";
      ASSERT_EQ(p - line.data(), q - line.data()) << "line: [" << line << "]";
    }
  }
}

TEST(NumParse, StopsRightAfterTheNumber) {
  const std::string line = "  12.5kg";
  const char* p = line.data();
  double v = 0;
  ASSERT_TRUE(numparse::scan_double(p, line.data() + line.size(), v));
  EXPECT_EQ(v, 12.5);
  EXPECT_EQ(std::string(p), "kg");
}

}  // namespace
