#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace {

using namespace varnel::text_io;

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const varnel::Error& e) {
    return e.what();
  }
  return "(no error)";
}

struct Format_case {
  const char* fmt;
  std::vector<Item> items;
  std::string expected;
};

TEST(TextIoFormat, WritesFieldsAndRecords) {
  const Format_case cases[] = {
      // Iw, Iw.m, I0
      {"(I3.3)", {7}, "007"},
      {"(i4)", {-7}, "  -7"},
      {"(I6.4)", {-7}, " -0007"},
      {"(I3)", {-123}, "***"},
      {"(I3)", {1000}, "***"},
      {"(I0)", {-123456}, "-123456"},
      {"(I4.0)", {0}, "    "},
      {"(I20)", {-9223372036854775807LL - 1}, "-9223372036854775808"},
      // Fw.d: rounding, optional leading zero, negative zero, overflow, F0.d
      {"(F10.2)", {-3.14159}, "     -3.14"},
      {"(F10.4)", {0.00012345}, "    0.0001"},
      {"(F4.2)", {0.5}, "0.50"},
      {"(F4.2)", {-0.5}, "-.50"},
      {"(F3.2)", {-0.5}, "***"},
      {"(F10.2)", {-0.001}, "     -0.00"},
      {"(F5.2)", {-0.0}, "-0.00"},
      {"(F4.2)", {0.999}, "1.00"},
      {"(F4.1)", {99.96}, "****"},
      {"(F6.2)", {123.456}, "123.46"},
      {"(F5.2)", {123.456}, "*****"},
      {"(F5.0)", {2.6}, "   3."},
      {"(F2.0)", {0.4}, "0."},
      {"(F0.2)", {-0.5}, "-.50"},
      {"(F0.3)", {12.5}, "12.500"},
      {"(F8.3)", {2}, "   2.000"},
      {"(f20.2)", {1e15}, " 1000000000000000.00"},
      // Ew.d: 0.ddd form, exponents beyond 99, optional zero, carry, Ee
      {"(E20.10)", {100.0}, "    0.1000000000E+03"},
      {"(E20.10)", {0.0}, "    0.0000000000E+00"},
      {"(E10.3)", {-0.0}, "-0.000E+00"},
      {"(E16.10)", {-100.0}, "-.1000000000E+03"},
      {"(E15.10)", {-100.0}, "***************"},
      {"(E10.3)", {0.99996}, " 0.100E+01"},
      {"(E10.3)", {-0.0012345}, "-0.123E-02"},
      {"(E12.4)", {1e100}, "  0.1000+101"},
      {"(E12.4)", {1e-100}, "  0.1000E-99"},
      {"(E12.4)", {-1e-200}, " -0.1000-199"},
      {"(E9.3)", {-1e5}, "-.100E+06"},
      {"(E8.3)", {1e5}, ".100E+06"},
      {"(E7.3)", {1e5}, "*******"},
      {"(E12.4E3)", {1e5}, " 0.1000E+006"},
      {"(E9.1E1)", {1e10}, "*********"},
      // ESw.d
      {"(ES15.5)", {0.0012345}, "    1.23450E-03"},
      {"(1x, ES15.5)", {-2.0}, "    -2.00000E+00"},
      {"(ES10.3)", {9.99996}, " 1.000E+01"},
      {"(ES10.3)", {0.0}, " 0.000E+00"},
      {"(ES12.4)", {1e-300}, "  1.0000-300"},
      {"(ES12.4)", {-1.797e308}, " -1.7970+308"},
      {"(ES9.3)", {-1e-300}, "*********"},
      {"(ES10.0)", {26.0}, "    3.E+01"},
      // NaN and infinities
      {"(F10.4)", {nan_value}, "       NaN"},
      {"(E3.1)", {nan_value}, "NaN"},
      {"(F2.1)", {nan_value}, "**"},
      {"(E8.1)", {inf}, "Infinity"},
      {"(F7.1)", {inf}, "    Inf"},
      {"(F2.1)", {inf}, "**"},
      {"(ES9.1)", {-inf}, "-Infinity"},
      {"(F8.1)", {-inf}, "    -Inf"},
      {"(F3.1)", {-inf}, "***"},
      // A and Aw
      {"(A)", {"text "}, "text "},
      {"(A6)", {"abc"}, "   abc"},
      {"(A2)", {"abc"}, "ab"},
      {"(A3,'|')", {""}, "   |"},
      // literals, X, repeat counts and groups
      {"('!-> ', I2, ', RMS Misfit: ', f10.4)", {3, 1.25}, "!->  3, RMS Misfit:     1.2500"},
      {"('Resistivity:')", {}, "Resistivity:"},
      {"(\"say \"\"hi\"\"\", 'it''s')", {}, "say \"hi\"it's"},
      {"(9x, i30)", {5}, std::string(38, ' ') + "5"},
      {"(I4,1x,I4)", {10, 20}, "  10   20"},
      {"(I4, 2F10.2)", {1, 2.0, 3.0}, "   1      2.00      3.00"},
      {"(3(I2,'.'),x,'end')", {1, 2, 3}, " 1. 2. 3. end"},
      {"(a, /, /, a)", {"x", "y"}, "x\n\ny"},
      // output ends at the first data descriptor without an item
      {"(I4)", {}, ""},
      {"(I2,' | ',I2,' end')", {1}, " 1 | "},
      {"(I1,/,'b',I1)", {1}, "1\nb"},
      {"(I1,:,'never')", {1}, "1"},
      {"(I2,1x,I2)", {1}, " 1"},  // blanks of X do not end a record
      // format reversion: from the start, or from the last top-level group
      {"(I2)", {1, 2, 3}, " 1\n 2\n 3"},
      {"(2F5.1)", {1.0, 2.0, 3.0}, "  1.0  2.0\n  3.0"},
      {"('n', I2, 2(I2,'-'))", {1, 2, 3, 4, 5, 6, 7}, "n 1 2- 3-\n 4- 5-\n 6- 7-"},
      {"(I2,2(I2,(I3)))", {1, 2, 3, 4, 5, 6, 7, 8, 9}, " 1 2  3 4  5\n 6  7 8  9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format(c.fmt, c.items), c.expected) << c.fmt;
  }
}

TEST(TextIoFormat, RejectsBadFormatsAndItems) {
  struct Case {
    const char* fmt;
    std::vector<Item> items;
    const char* what;
  };
  const Case cases[] = {
      {"(F10.2)", {"text"}, "item 1 (a text) cannot be written with F10.2"},
      {"(I4, I4)", {1, 2.5}, "item 2 (a real) cannot be written with I4"},
      {"(A)", {3}, "item 1 (an integer) cannot be written with A"},
      {"I4", {1}, "expected '('"},
      {"(I4", {1}, "missing ')'"},
      {"(I4) x", {1}, "unexpected text after"},
      {"(Q4)", {1}, "unknown edit descriptor 'Q'"},
      {"(F10)", {1.0}, "expected '.d'"},
      {"(I)", {1}, "expected a width"},
      {"(2'ab')", {}, "repeat count before a quoted text"},
      {"('abc)", {}, "unterminated quoted text"},
      {"(0I4)", {1}, "repeat count 0"},
      {"('x')", {1}, "no data descriptor"},
  };
  for (const auto& c : cases) {
    const std::string msg = message_of([&] { format(c.fmt, c.items); });
    EXPECT_EQ(msg.rfind(std::string("format \"") + c.fmt + "\": ", 0), 0u) << msg;
    EXPECT_NE(msg.find(c.what), std::string::npos) << c.fmt << " -> " << msg;
  }
}

TEST(TextIoFreeFormat, WritesRealsAndRecords) {
  const struct {
    double v;
    const char* expected;
  } reals[] = {
      {1.0, "1.0000000000000000"},
      {123.5, "123.50000000000000"},
      {0.25, "0.25000000000000000"},
      {0.1, "0.10000000000000001"},
      {-7.0, "-7.0000000000000000"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1.0000000000000000E+16"},
      {0.09999999999999999, "9.9999999999999992E-02"},
      {1e-3, "1.0000000000000000E-03"},
      {1e20, "1.0000000000000000E+20"},
      {-2.5e-300, "-2.5000000000000000E-300"},
      {0.0, "0.0000000000000000"},
      {nan_value, "NaN"},
      {inf, "Infinity"},
      {-inf, "-Infinity"},
  };
  for (const auto& c : reals) EXPECT_EQ(free_real(c.v), c.expected) << c.v;

  EXPECT_EQ(free_format({"abc", 12, -3, 2.5}), " abc 12 -3 2.5000000000000000");
  EXPECT_EQ(free_format(std::vector<Item>{}), "");
}

TEST(TextIoParse, FreeItemsAndNumbers) {
  const struct {
    const char* text;
    const char* item;
  } items[] = {
      {"  abc def", "abc"},
      {"\tab\tc", "ab"},
      {"x,y", "x"},
      {"x/y", "x"},
      {"'a b, c' x", "a b, c"},
      {"\"it\"\"s\" x", "it\"s"},
      {"  ,x", ""},
      {"/", ""},
      {"", ""},
      {" \t ", ""},
  };
  for (const auto& c : items) EXPECT_EQ(first_free_item(c.text), c.item) << c.text;

  constexpr int32_t no_int = -99;
  constexpr double no_real = -99.5;
  const struct {
    const char* text;
    int32_t int_value;  // no_int: not an integer
    double real_value;  // no_real: not a real
  } numbers[] = {
      {"20,5", 20, 20.0},
      {"  20", 20, 20.0},
      {"\t-7/", -7, -7.0},
      {"+2147483647", 2147483647, 2147483647.0},
      {"-2147483648", -2147483647 - 1, -2147483648.0},
      {"2147483648", no_int, 2147483648.0},
      {"2.5", no_int, 2.5},
      {"1e3", no_int, 1000.0},
      {".5", no_int, 0.5},
      {"5.", no_int, 5.0},
      {"-.25e1", no_int, -2.5},
      {"1.0d0", no_int, 1.0},
      {"1e-3", no_int, 1e-3},
      {"1.5E+3 rest", no_int, 1500.0},
      {"-1.5D-2", no_int, -0.015},
      {"1.0+3", no_int, 1000.0},
      {"2.5-2", no_int, 0.025},
      {"1e-400", no_int, 0.0},
      {"1e400", no_int, no_real},
      {"1.5x", no_int, no_real},
      {"0x1", no_int, no_real},
      {"1e", no_int, no_real},
      {"1.0e+", no_int, no_real},
      {"e5", no_int, no_real},
      {".", no_int, no_real},
      {"+", no_int, no_real},
      {"1..2", no_int, no_real},
      {"'12'", no_int, no_real},
      {"abc", no_int, no_real},
      {", 5", no_int, no_real},
      {"", no_int, no_real},
      {"   ", no_int, no_real},
  };
  for (const auto& c : numbers) {
    int32_t i = no_int;
    EXPECT_EQ(parse_free_int(c.text, i), c.int_value != no_int) << c.text;
    EXPECT_EQ(i, c.int_value) << c.text;
    double x = no_real;
    EXPECT_EQ(parse_free_real(c.text, x), c.real_value != no_real) << c.text;
    EXPECT_EQ(x, c.real_value) << c.text;
  }

  double x = 0;
  ASSERT_TRUE(parse_free_real(" NaN", x));
  EXPECT_TRUE(std::isnan(x));
  ASSERT_TRUE(parse_free_real("-Infinity", x));
  EXPECT_EQ(x, -inf);
  ASSERT_TRUE(parse_free_real("+inf,", x));
  EXPECT_EQ(x, inf);
  EXPECT_FALSE(parse_free_real("infinit", x));
}

TEST(TextIoReader, ReadsRecords) {
  Free_reader r("data.dat",
                "3  2.5  'two words, quoted' ignored\r\n"
                "1, 2 ,3,4\n"
                "1.5d0\n"
                "\n"
                "  -2.5-1, 3*7 8\n"
                "2*'x y' z\n"
                "9 / 10 11\n"
                "a b c\r\n"
                "12");
  int32_t n = 0;
  double x = 0;
  std::string s;
  r.read(n, x, s);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(s, "two words, quoted");
  EXPECT_EQ(r.line(), 1);

  std::vector<int32_t> iv(4);
  r.read_vector(iv);
  EXPECT_EQ(iv, (std::vector<int32_t>{1, 2, 3, 4}));

  std::vector<double> dv(5);  // a record spanning three lines; "8" is left over
  r.read_vector(dv);
  EXPECT_EQ(dv, (std::vector<double>{1.5, -0.25, 7.0, 7.0, 7.0}));
  EXPECT_EQ(r.line(), 5);

  std::string s1, s2, s3;
  r.read(s1, s2, s3);
  EXPECT_EQ(s1, "x y");
  EXPECT_EQ(s2, "x y");
  EXPECT_EQ(s3, "z");

  int32_t a = -1, b = -1, c = -1;
  EXPECT_EQ(r.read_partial(a, b, c), 1);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(c, -1);

  std::string line;
  ASSERT_TRUE(r.read_line(line));
  EXPECT_EQ(line, "a b c");
  EXPECT_EQ(r.line(), 8);

  EXPECT_EQ(r.read_partial(a, b), 1);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(r.read_partial(a, b), 0);
  EXPECT_FALSE(r.read_line(line));
  EXPECT_EQ(r.line(), 9);
}

TEST(TextIoReader, ErrorsNameTheFileAndLine) {
  using Read = std::function<void(Free_reader&)>;
  const Read three_reals = [](Free_reader& r) {
    double a, b, c;
    r.read(a, b, c);
  };
  const Read two_ints = [](Free_reader& r) {
    int32_t a, b;
    r.read(a, b);
  };
  const struct {
    const char* text;
    Read read;
    const char* message;
  } cases[] = {
      {"1\n2\n1.5x 4\n", three_reals, "data.dat, line 3: expected a number, found \"1.5x\""},
      {"7 2.5\n", two_ints, "data.dat, line 1: expected an integer, found \"2.5\""},
      {"'5' 6\n", two_ints, "data.dat, line 1: expected an integer, found \"'5'\""},
      {"1 2\n\n", three_reals,
       "data.dat, line 2: unexpected end of file: expected 3 values, read 2"},
      {"", two_ints, "data.dat: unexpected end of file: expected 2 values, read 0"},
      {"1 / 2 3\n", three_reals, "data.dat, line 1: record ended by '/' after 1 of 3 values"},
      {"1,,2\n", three_reals, "data.dat, line 1: missing value: item 2 of 3 is empty"},
      {", 1 2\n", three_reals, "data.dat, line 1: missing value: item 1 of 3 is empty"},
      {"1 2*\n", three_reals, "data.dat, line 1: missing value: item 2 of 3 is empty"},
      {"1\n,\n,2\n", three_reals, "data.dat, line 3: missing value: item 2 of 3 is empty"},
      {"0*5 1\n", two_ints, "data.dat, line 1: expected a repeat count above zero, found \"0*\""},
      {"1 x\n",
       [](Free_reader& r) {
         double a, b;
         r.read_partial(a, b);
       },
       "data.dat, line 1: expected a number, found \"x\""},
      {"1 2\n",
       [](Free_reader& r) {
         std::vector<double> v(3);
         r.read_vector(v);
       },
       "data.dat, line 1: unexpected end of file: expected 3 values, read 2"},
      {"x\ny\n",
       [](Free_reader& r) {
         std::string s;
         r.read_line(s);
         r.read_line(s);
         r.fail("bad header");
       },
       "data.dat, line 2: bad header"},
  };
  for (const auto& c : cases) {
    Free_reader r("data.dat", c.text);
    EXPECT_EQ(message_of([&] { c.read(r); }), c.message) << c.text;
  }
}

TEST(TextIoReader, OpensFiles) {
  const std::string path = ::testing::TempDir() + "text_io_reader.dat";
  {
    std::ofstream out(path, std::ios::binary);
    out << "line one\r\n4 5\r\n";
  }
  {
    Free_reader r(path);
    EXPECT_EQ(r.name(), path);
    std::string line;
    ASSERT_TRUE(r.read_line(line));
    EXPECT_EQ(line, "line one");
    int32_t a = 0, b = 0;
    r.read(a, b);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
  }
  std::remove(path.c_str());
  EXPECT_EQ(message_of([&] { Free_reader r(path); }), path + ": cannot open file");
}

}  // namespace
