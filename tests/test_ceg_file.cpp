#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"

namespace {

using namespace varnel::ascii_dcr2d_ceg_datafile;
using Ceg = Ceg_file_rawdata_dcr2d;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const varnel::Error& e) {
    return e.what();
  }
  return "(no error)";
}

std::string temp_path(const std::string& name) { return ::testing::TempDir() + "ceg_" + name; }

std::string write_text(const std::string& name, const std::string& text) {
  const std::string path = temp_path(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Ceg read_file(const std::string& path) {
  Ceg d;
  d.filename = path;
  read_dcr2d_ceg_datafile(d);
  return d;
}

Ceg read_text_as_file(const std::string& name, const std::string& text) {
  return read_file(write_text(name, text));
}

const std::string fixture = std::string(VARNEL_TEST_DATA) + "/ceg/mixed_case.ceg";

// A small valid file: four electrodes, two dipole-dipole rows; line numbers
// in the comments.
const std::string header =
    "Survey Type: dcr2d\n"                      // 1
    "Profile Name: line 1\n"                    // 2
    "Array Type: dipole-dipole\n"               // 3
    "Electrode Spacing: 2\n"                    // 4
    "Number of Data: 2\n"                       // 5
    "Number of Electrode: 4\n"                  // 6
    "Rho Type: resistivity\n"                   // 7
    "IP Include: no\n"                          // 8
    "Error Include: yes\n"                      // 9
    "Position Type: along surface\n"            // 10
    "Data Pattern: ec1 ec2 ep1 ep2 rho err\n";  // 11
const std::string electrodes =
    "\n"                    // 12
    "Electrode Position\n"  // 13
    "1 0 0\n"               // 14
    "2 2 0.5\n"             // 15
    "3 4 0\n"               // 16
    "4 6 0\n";              // 17
const std::string data =
    "\n"                   // 18
    "List\n"               // 19
    "1 2 3 4 10.5 0.5\n"   // 20
    "2 1 4 3 11.5 0.6\n";  // 21
const std::string small_file = header + electrodes + data;

// The text with the whole line `from` replaced by the line(s) `to`, or
// removed when `to` is empty.
std::string with_line(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t p = text.find(from + "\n");
  if (p == std::string::npos || (p > 0 && text[p - 1] != '\n')) {
    ADD_FAILURE() << "no line \"" << from << "\"";
    return text;
  }
  return text.substr(0, p) + (to.empty() ? to : to + "\n") + text.substr(p + from.size() + 1);
}
std::string without_line(const std::string& text, const std::string& line) {
  return with_line(text, line, "");
}

// ---------------------------------------------------------------------------

TEST(CegFileRead, ReadsMixedCaseFixture) {
  Ceg d = read_file(fixture);
  // Capital keys are recognised; every value is folded to lower case.
  EXPECT_EQ(d.survey_type, "dcr2d");
  EXPECT_EQ(d.profile, "north line");
  EXPECT_EQ(d.configuration, "dipole-dipole");
  EXPECT_DOUBLE_EQ(d.espacing, 2.5);
  EXPECT_EQ(d.nodata, 4);
  EXPECT_EQ(d.noelec, 6);
  EXPECT_EQ(d.rho_type, "resistance");
  EXPECT_EQ(d.ip_include, "no");
  EXPECT_EQ(d.error_include, "yes");
  EXPECT_EQ(d.position_type, "as");
  EXPECT_EQ(d.data_pattern, "ec1 ec2 ep1 ep2 rho err");

  ASSERT_EQ(d.electrode_position.rows(), 6);
  ASSERT_EQ(d.electrode_position.cols(), 3);
  const double positions[6][3] = {{1, 0.0, 0.0}, {2, 2.5, 0.25}, {3, 5.0, 0.5},
                                  {4, 7.5, 0.4}, {5, 10.0, 0.2}, {6, 12.5, 0.0}};
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 3; ++j)
      EXPECT_DOUBLE_EQ(d.electrode_position(i, j), positions[i - 1][j - 1]) << i << "," << j;

  // Lines before "LIST" are skipped; row 2 has extra values (ignored), row 3
  // continues on the next line.
  EXPECT_EQ(d.ncomp, 6);
  ASSERT_EQ(d.rawdata.rows(), 4);
  ASSERT_EQ(d.rawdata.cols(), 6);
  const double rows[4][6] = {{1, 2, 3, 4, 12.5, 0.5},
                             {2, 3, 4, 5, 10.25, 0.4},
                             {3, 4, 5, 6, 8.125, 0.3},
                             {1, 2, 5.9, 6, 3.0625, 0.1}};
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 6; ++j)
      EXPECT_DOUBLE_EQ(d.rawdata(i, j), rows[i - 1][j - 1]) << i << "," << j;
  EXPECT_EQ(d.row_line, (std::vector<int32_t>{23, 24, 26, 27}));

  EXPECT_EQ(d.ntopo, 3);
  ASSERT_EQ(d.topo.rows(), 3);
  ASSERT_EQ(d.topo.cols(), 2);
  EXPECT_DOUBLE_EQ(d.topo(2, 1), 6.25);
  EXPECT_DOUBLE_EQ(d.topo(2, 2), 0.5);
  EXPECT_DOUBLE_EQ(d.topo(3, 1), 12.5);

  extract_dcr2d_ceg_datafile(d);
  EXPECT_EQ(d.arraytype, 3);
  EXPECT_EQ(d.measuretype, 1);      // Resistance
  EXPECT_EQ(d.x_position_type, 2);  // AS
  EXPECT_EQ(d.data_format, 999);
  EXPECT_EQ(d.ip_flag, 999);
}

struct Header_case {
  const char* name;
  const char* from;  // a line of the small file
  const char* to;    // its replacement
  std::string Ceg::*field;
  const char* expected;
};

TEST(CegFileRead, HeaderValuesAreFoldedAndCutToTheirWidths) {
  const std::string long_name(120, 'N');
  const std::string line100 = "Profile Name: " + long_name;  // only 100 characters count
  const std::string cut100(100 - 14, 'n');
  const Header_case cases[] = {
      {"capital survey type", "Survey Type: dcr2d", "Survey Type: DCR2D", &Ceg::survey_type,
       "dcr2d"},
      {"capital key", "Survey Type: dcr2d", "SURVEY TYPE: dcr2d", &Ceg::survey_type, "dcr2d"},
      {"blanks before the colon", "Survey Type: dcr2d", "Survey Type   :   dcr2d   ",
       &Ceg::survey_type, "dcr2d"},
      {"colon inside the value", "Profile Name: line 1", "Profile Name: Line:A  B", &Ceg::profile,
       "line:a  b"},
      {"first 100 characters", "Profile Name: line 1", line100.c_str(), &Ceg::profile,
       cut100.c_str()},
      {"rho type cut to 11", "Rho Type: resistivity", "Rho Type: ResistivityOhmM", &Ceg::rho_type,
       "resistivity"},
      {"rho type resistance", "Rho Type: resistivity", "Rho Type: RESISTANCE", &Ceg::rho_type,
       "resistance"},
      {"ip include cut to 3", "IP Include: no", "IP Include: YESS", &Ceg::ip_include, "yes"},
      {"error include cut to 3", "Error Include: yes", "Error Include: NOPE", &Ceg::error_include,
       "nop"},
      {"position type cut to 15", "Position Type: along surface",
       "Position Type: Along Surface  (m)", &Ceg::position_type, "along surface"},
      {"position type true horizon", "Position Type: along surface", "Position Type: True Horizon",
       &Ceg::position_type, "true horizon"},
      {"position type th", "Position Type: along surface", "Position Type: TH", &Ceg::position_type,
       "th"},
      {"array type", "Array Type: dipole-dipole", "Array Type: Wenner", &Ceg::configuration,
       "wenner"},
      {"keys in another order", "Survey Type: dcr2d", "", &Ceg::survey_type, "dcr2d"},
  };
  for (const Header_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = with_line(small_file, c.from, c.to);
    // The last case moves the survey type behind the data pattern.
    if (std::string(c.to).empty())
      text = with_line(text, "Data Pattern: ec1 ec2 ep1 ep2 rho err",
                       "Data Pattern: ec1 ec2 ep1 ep2 rho err\nsurvey type: DCR2D");
    const Ceg d = read_text_as_file("header.ceg", text);
    EXPECT_EQ(d.*c.field, c.expected);
    EXPECT_EQ(d.nodata, 2);
    EXPECT_EQ(d.rawdata.rows(), 2);
  }
}

TEST(CegFileRead, HeaderEndsAtALineThatIsNotAKnownKey) {
  // The profile line is moved to the place of the separator: a line without
  // a colon, a key preceded by a blank or an unknown key ends the header and
  // is consumed; the electrode title follows directly.
  const std::string base = without_line(header, "Profile Name: line 1");
  const char* enders[] = {"", "no colon here", " Profile Name: hidden", "Remark: hidden",
                          "PROFILE NAME hidden"};
  for (const char* ender : enders) {
    SCOPED_TRACE(ender);
    const std::string text = base + ender + "\n" + electrodes.substr(1) + data;
    const Ceg d = read_text_as_file("ender.ceg", text);
    EXPECT_EQ(d.profile, "");
    ASSERT_EQ(d.electrode_position.rows(), 4);
    EXPECT_DOUBLE_EQ(d.electrode_position(2, 3), 0.5);
    ASSERT_EQ(d.rawdata.rows(), 2);
    EXPECT_DOUBLE_EQ(d.rawdata(2, 5), 11.5);
  }
}

TEST(CegFileRead, RejectsWrongSurveyRhoOrPositionType) {
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {with_line(small_file, "Survey Type: dcr2d", "Survey Type: dc2d"), "Incorrect survey type"},
      {without_line(small_file, "Survey Type: dcr2d"), "Incorrect survey type"},
      // A blank before the first key ends the header at once.
      {with_line(small_file, "Survey Type: dcr2d", " Survey Type: dcr2d"), "Incorrect survey type"},
      {with_line(small_file, "Rho Type: resistivity", "Rho Type: apparent resistivity"),
       "Incorrect rho type"},
      {without_line(small_file, "Rho Type: resistivity"), "Incorrect rho type"},
      {with_line(small_file, "Position Type: along surface", "Position Type: surface"),
       "Incorrect position type"},
      {with_line(small_file, "Position Type: along surface", "Position Type: as-is"),
       "Incorrect position type"},
      // Checked in this order.
      {with_line(with_line(small_file, "Rho Type: resistivity", "Rho Type: x"),
                 "Survey Type: dcr2d", "Survey Type: x"),
       "Incorrect survey type"},
      {with_line(with_line(small_file, "Rho Type: resistivity", "Rho Type: x"),
                 "Position Type: along surface", "Position Type: x"),
       "Incorrect rho type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = write_text("checks.ceg", c.text);
    EXPECT_EQ(message_of([&] { read_file(path); }), c.message);
  }
}

TEST(CegFileRead, TopographyIsOptional) {
  struct Case {
    const char* tail;  // what follows the data rows
    int32_t ntopo;
  };
  const Case cases[] = {
      {"", 0},
      {"List\n", 0},
      {"   List   \n", 0},
      {"\n", 0},
      {"none\n1 2\n", 0},
      {"0\n", 0},
      {"2\n0 0.5\n6, 0.25\n", 2},
      {"  2  points\n0 0.5\n6 0.25 extra\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    const Ceg d = read_text_as_file("topo.ceg", small_file + c.tail);
    EXPECT_EQ(d.ntopo, c.ntopo);
    EXPECT_EQ(d.topo.rows(), c.ntopo);
    if (c.ntopo == 2) {
      ASSERT_EQ(d.topo.cols(), 2);
      EXPECT_DOUBLE_EQ(d.topo(1, 2), 0.5);
      EXPECT_DOUBLE_EQ(d.topo(2, 1), 6.0);
      EXPECT_DOUBLE_EQ(d.topo(2, 2), 0.25);
    }
  }
  // Without a line end after the last row.
  std::string text = small_file;
  text.pop_back();
  EXPECT_EQ(read_text_as_file("topo_no_newline.ceg", text).ntopo, 0);
}

TEST(CegFileRead, ListLineIsFoundInAnyCaseInTheFirstColumn) {
  const std::string before_list = header + electrodes + "\nData\n";
  for (const char* list : {"List", "LIST", "list   "}) {
    SCOPED_TRACE(list);
    const Ceg d = read_text_as_file("list.ceg", before_list + list + "\n" + data.substr(6));
    EXPECT_DOUBLE_EQ(d.rawdata(1, 5), 10.5);
  }
  // " List" does not start in the first column: the search runs to the end.
  const std::string path =
      write_text("list_indented.ceg", before_list + " List\n" + data.substr(6));
  EXPECT_THAT(message_of([&] { read_file(path); }),
              HasSubstr("expected the line \"List\" before the data rows"));
}

TEST(CegFileRead, ReadsOnlyThePatternsColumns) {
  // "note" stops the pattern: five values per row, the rest of the line is
  // not read.
  const std::string text = with_line(with_line(small_file, "Data Pattern: ec1 ec2 ep1 ep2 rho err",
                                               "Data Pattern: EC1 EC2 EP1 EP2 RHO note ERR"),
                                     "1 2 3 4 10.5 0.5", "1 2 3 4 10.5 7 0.5");
  const Ceg d =
      read_text_as_file("note.ceg", with_line(text, "2 1 4 3 11.5 0.6", "2 1 4 3 11.5 8 0.6"));
  EXPECT_EQ(d.ncomp, 5);
  EXPECT_EQ(d.index_rho_data, 5);
  EXPECT_EQ(d.index_rho_error, 0);
  ASSERT_EQ(d.rawdata.cols(), 5);
  EXPECT_DOUBLE_EQ(d.rawdata(1, 5), 10.5);
  EXPECT_DOUBLE_EQ(d.rawdata(2, 1), 2.0);
  EXPECT_DOUBLE_EQ(d.rawdata(2, 5), 11.5);
}

struct Pattern_case {
  const char* pattern;
  int32_t ncomp;
  // index_ec1, ec2, ep1, ep2, rho_data, rho_error, ip_data, ip_error
  int32_t index[8];
};

TEST(CegFilePattern, ColumnsOfTheRoles) {
  const Pattern_case cases[] = {
      {"ec1 ec2 ep1 ep2 rho err", 6, {1, 2, 3, 4, 5, 6, 0, 0}},
      {"ec1 ec2 ep1 ep2 rho err ip ip_error", 8, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"ec1 ec2 ep1 ep2 rho note err", 5, {1, 2, 3, 4, 5, 0, 0, 0}},
      {"ec1,ec2,ep1,ep2,rho", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"rho ep1   ec1  ip_err", 4, {3, 0, 2, 0, 1, 0, 0, 4}},
      {"ec1 ep1 rho err rho", 5, {1, 0, 2, 0, 5, 4, 0, 0}},  // later column wins
      {"ec1 ec2 ep1ep2 rho", 2, {1, 2, 0, 0, 0, 0, 0, 0}},
      {"ec1 errors rho", 1, {1, 0, 0, 0, 0, 0, 0, 0}},  // six characters: "errors"
      {"ec1 ip_errors rho", 3, {1, 0, 0, 0, 3, 0, 0, 2}},
      {"rhoa err", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  // One record for all cases: the fields of an earlier pattern must not
  // survive a later one.
  Ceg d;
  for (const Pattern_case& c : cases) {
    SCOPED_TRACE(c.pattern);
    d.data_pattern = c.pattern;
    identify_order_ceg_pattern_dcr2d(d);
    EXPECT_EQ(d.ncomp, c.ncomp);
    const int32_t index[8] = {d.index_ec1,     d.index_ec2,      d.index_ep1,
                              d.index_ep2,     d.index_rho_data, d.index_rho_error,
                              d.index_ip_data, d.index_ip_error};
    const int32_t match[8] = {d.match_ec1,     d.match_ec2,      d.match_ep1,
                              d.match_ep2,     d.match_rho_data, d.match_rho_error,
                              d.match_ip_data, d.match_ip_error};
    for (int k = 0; k < 8; ++k) {
      EXPECT_EQ(index[k], c.index[k]) << "role " << k;
      EXPECT_EQ(match[k], c.index[k] != 0 ? 1 : 0) << "role " << k;
    }
  }
}

// ---------------------------------------------------------------------------

TEST(CegFileExtract, HeaderTextsToCodes) {
  struct Case {
    const char* array;
    const char* rho;
    const char* position;
    int32_t arraytype, measuretype, x_position_type;
  };
  const Case cases[] = {
      {"Array Type: dipole-dipole", "Rho Type: resistivity", "Position Type: along surface", 3, 0,
       2},
      {"Array Type: DD", "Rho Type: Resistance", "Position Type: AS", 3, 1, 2},
      {"Array Type: Wenner", "Rho Type: resistivity", "Position Type: true horizon", 1, 0, 1},
      {"Array Type: wa", "Rho Type: resistivity", "Position Type: TH", 1, 0, 1},
      {"Array Type: Wenner-Schlumberger", "Rho Type: resistivity", "Position Type: th", 7, 0, 1},
      {"Array Type: gd", "Rho Type: resistivity", "Position Type: as", 15, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.array);
    std::string text = with_line(small_file, "Array Type: dipole-dipole", c.array);
    text = with_line(text, "Rho Type: resistivity", c.rho);
    text = with_line(text, "Position Type: along surface", c.position);
    Ceg d = read_text_as_file("extract.ceg", text);
    extract_dcr2d_ceg_datafile(d);
    EXPECT_EQ(d.arraytype, c.arraytype);
    EXPECT_EQ(d.measuretype, c.measuretype);
    EXPECT_EQ(d.x_position_type, c.x_position_type);
  }
}

TEST(CegFileExtract, RejectsRecordsThatCannotBeSetUp) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> parts;  // the message starts with the first
  };
  const std::string pattern = "Data Pattern: ec1 ec2 ep1 ep2 rho err";
  const Case cases[] = {
      {"unknown array",
       with_line(small_file, "Array Type: dipole-dipole", "Array Type: Schlumberger"),
       {": ", "unknown array type \"schlumberger\""}},
      {"no rho",
       with_line(small_file, pattern, "Data Pattern: ec1 ec2 ep1 ep2 err"),
       {": ", "no \"rho\" column"}},
      {"rho after an unknown word",
       with_line(small_file, pattern, "Data Pattern: ec1 ec2 ep1 ep2 value rho"),
       {": ", "no \"rho\" column"}},
      {"no ep2",
       with_line(small_file, pattern, "Data Pattern: ec1 ec2 ep1 rho err"),
       {": ", "no \"ep2\" column", "\"dipole-dipole\""}},
      {"no ec1",
       with_line(small_file, pattern, "Data Pattern: ec2 ep1 ep2 rho err"),
       {": ", "no \"ec1\" column"}},
      {"no ec2",
       with_line(small_file, pattern, "Data Pattern: ec1 ep1 ep2 rho err"),
       {": ", "no \"ec2\" column"}},
      {"no ep1",
       with_line(small_file, pattern, "Data Pattern: ec1 ec2 ep2 rho err"),
       {": ", "no \"ep1\" column"}},
      {"electrode above the list",
       with_line(small_file, "2 1 4 3 11.5 0.6", "2 1 4 5 11.5 0.6"),
       {", line 21: ", "data row 2 names electrode 5 as \"ep2\"", "1 to 4"}},
      {"electrode 0.5 truncates to 0",
       with_line(small_file, "1 2 3 4 10.5 0.5", "0.5 2 3 4 10.5 0.5"),
       {", line 20: ", "data row 1 names electrode 0 as \"ec1\""}},
      {"negative electrode",
       with_line(small_file, "2 1 4 3 11.5 0.6", "2 -1 4 3 11.5 0.6"),
       {", line 21: ", "names electrode -1 as \"ec2\""}},
      {"electrode 4.9 truncates to 4, 5 is out",
       with_line(small_file, "2 1 4 3 11.5 0.6", "2 1 4.9 5.0 11.5 0.6"),
       {", line 21: ", "names electrode 5 as \"ep2\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write_text("extract_bad.ceg", c.text);
    Ceg d = read_file(path);
    const std::string message = message_of([&] { extract_dcr2d_ceg_datafile(d); });
    EXPECT_THAT(message, StartsWith(path + c.parts[0]));
    for (std::size_t k = 1; k < c.parts.size(); ++k) EXPECT_THAT(message, HasSubstr(c.parts[k]));
  }
}

TEST(CegFileExtract, AcceptsElectrodeNumbersThatTruncateIntoTheList) {
  Ceg d = read_text_as_file("extract_ok.ceg",
                            with_line(small_file, "2 1 4 3 11.5 0.6", "2.2 1.99 4.9 3 11.5 0.6"));
  extract_dcr2d_ceg_datafile(d);
  EXPECT_EQ(d.arraytype, 3);
}

// ---------------------------------------------------------------------------

TEST(CegFileReadErrors, NameTheFileTheLineAndWhatWasExpected) {
  struct Case {
    const char* name;
    std::string text;
    std::string place;  // ", line <n>: " after the path
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {"end in the header",
       "Survey Type: dcr2d\nProfile Name: x\n",
       ", line 2: ",
       {"end of file in the header"}},
      {"empty file", "", ": ", {"end of file in the header"}},
      {"end before the electrode title",
       header + "\n",
       ", line 12: ",
       {"expected the electrode title line"}},
      {"end in the electrode list",
       header + "\nElectrode Position\n1 0 0\n2 2 0\n",
       ", line 15: ",
       {"electrode 3 of 4"}},
      {"end before List",
       header + electrodes + "\nData\n",
       ", line 19: ",
       {"expected the line \"List\" before the data rows"}},
      {"end in the data rows",
       header + electrodes + "\nList\n1 2 3 4 10.5 0.5\n",
       ", line 20: ",
       {"data row 2 of 2", "6 values"}},
      {"end inside a data row",
       header + electrodes + "\nList\n1 2 3 4 10.5 0.5\n2 1 4\n",
       ", line 21: ",
       {"data row 2 of 2"}},
      {"malformed spacing",
       with_line(small_file, "Electrode Spacing: 2", "Electrode Spacing: two"),
       ", line 4: ",
       {"\"Electrode Spacing\"", "\"two\""}},
      {"empty spacing",
       with_line(small_file, "Electrode Spacing: 2", "Electrode Spacing:"),
       ", line 4: ",
       {"\"Electrode Spacing\""}},
      {"malformed number of data",
       with_line(small_file, "Number of Data: 2", "Number of Data: ten"),
       ", line 5: ",
       {"integer", "\"Number of Data\"", "\"ten\""}},
      {"real number of electrodes",
       with_line(small_file, "Number of Electrode: 4", "Number of Electrode: 4.5"),
       ", line 6: ",
       {"integer", "\"Number of Electrode\""}},
      {"negative number of electrodes",
       with_line(small_file, "Number of Electrode: 4", "Number of Electrode: -4"),
       ", line 6: ",
       {"zero or more", "\"Number of Electrode\""}},
      {"malformed electrode row",
       with_line(small_file, "3 4 0", "3 x4 0"),
       ", line 16: ",
       {"x4", "electrode 3 of 4"}},
      {"malformed data value",
       with_line(small_file, "2 1 4 3 11.5 0.6", "2 1 4 3 11.5.2 0.6"),
       ", line 21: ",
       {"data row 2 of 2"}},
      {"malformed topography point",
       small_file + "2\n0 0\n1 zz\n",
       ", line 24: ",
       {"zz", "topography point 2 of 2"}},
      {"end in the topography",
       small_file + "2\n0 0\n",
       ", line 23: ",
       {"topography point 2 of 2"}},
      {"negative topography count", small_file + "-2\n", ", line 22: ", {"zero or more"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write_text("bad.ceg", c.text);
    const std::string message = message_of([&] { read_file(path); });
    EXPECT_THAT(message, StartsWith(path + c.place));
    for (const std::string& part : c.parts) EXPECT_THAT(message, HasSubstr(part));
  }
}

TEST(CegFileReadErrors, MissingFileIsNamed) {
  const std::string path = temp_path("does_not_exist.ceg");
  std::filesystem::remove(path);
  EXPECT_THAT(message_of([&] { read_file(path); }), StartsWith(path + ": "));
}

// ---------------------------------------------------------------------------

TEST(CegFileSetup, SizesThePerDatumArrays) {
  struct Case {
    int32_t arraytype;
    int tx_rows, rx_rows;
  };
  const Case cases[] = {{3, 2, 2}, {1, 2, 2}, {2, 1, 1}, {6, 1, 2}, {15, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arraytype);
    Ceg d;
    d.arraytype = c.arraytype;
    d.nodata = 3;
    setup_ceg_data_vector_dcr2d(d);
    EXPECT_EQ(d.val, std::vector<double>(3, 0.0));
    EXPECT_EQ(d.err, std::vector<double>(3, 0.0));
    EXPECT_EQ(d.geo_k, std::vector<double>(3, 0.0));
    EXPECT_EQ(d.level, std::vector<int32_t>(3, 0));
    EXPECT_EQ(d.tx_index, varnel::Imatrix(c.tx_rows, 3, 0));
    EXPECT_EQ(d.rx_index, varnel::Imatrix(c.rx_rows, 3, 0));
    // The arrays must not exist yet.
    EXPECT_THAT(message_of([&] { setup_ceg_data_vector_dcr2d(d); }), HasSubstr("exist already"));
  }
  Ceg unextracted;  // arraytype 999
  unextracted.nodata = 3;
  EXPECT_THAT(message_of([&] { setup_ceg_data_vector_dcr2d(unextracted); }),
              HasSubstr("no electrode counts"));
}

// ---------------------------------------------------------------------------

// The fixture read, extracted and set up, with values and errors of its own.
Ceg fixture_with_values() {
  Ceg d = read_file(fixture);
  extract_dcr2d_ceg_datafile(d);
  setup_ceg_data_vector_dcr2d(d);
  d.val = {123.456789, 0.0123456, 98765.4321, 1.0};
  d.err = {0.5, 0.25, 1.5e-3, 2.0};
  return d;
}

TEST(CegFileWrite, WritesTheExactLayout) {
  const Ceg d = fixture_with_values();
  const std::string path = temp_path("layout.ceg");
  write_dcr2d_ceg_datafile(d, path);
  const std::string expected =
      "Survey Type: dcr2d\n"
      "Profile Name: north line\n"
      "Array Type: dipole-dipole\n"
      "Electrode Spacing:       2.50\n"
      "Number of Data:      4\n"
      "Number of Electrode:    6\n"
      "Rho Type: resistance\n"
      "IP Include: no\n"
      "Error Include: yes\n"
      "Position Type: as\n"
      "Data Pattern: ec1 ec2 ep1 ep2 rho err\n"
      "\n"
      "Electrode Position\n"
      "   1      0.00      0.00\n"
      "   2      2.50      0.25\n"
      "   3      5.00      0.50\n"
      "   4      7.50      0.40\n"
      "   5     10.00      0.20\n"
      "   6     12.50      0.00\n"
      "\n"
      "List\n"
      "    1    2    3    4     1.23457E+02     5.00000E-01\n"
      "    2    3    4    5     1.23456E-02     2.50000E-01\n"
      "    3    4    5    6     9.87654E+04     1.50000E-03\n"
      "    1    2    5    6     1.00000E+00     2.00000E+00\n"
      "   3\n"
      "      0.00      0.00\n"
      "      6.25      0.50\n"
      "     12.50      0.00\n";
  EXPECT_EQ(read_text(path), expected);
}

TEST(CegFileWrite, RoundTrip) {
  const Ceg d = fixture_with_values();
  const std::string path = temp_path("round_trip.ceg");
  write_dcr2d_ceg_datafile(d, path);
  Ceg back = read_file(path);
  extract_dcr2d_ceg_datafile(back);

  EXPECT_EQ(back.survey_type, d.survey_type);
  EXPECT_EQ(back.profile, d.profile);
  EXPECT_EQ(back.configuration, d.configuration);
  EXPECT_EQ(back.rho_type, d.rho_type);
  EXPECT_EQ(back.ip_include, d.ip_include);
  EXPECT_EQ(back.error_include, d.error_include);
  EXPECT_EQ(back.position_type, d.position_type);
  EXPECT_EQ(back.data_pattern, d.data_pattern);
  EXPECT_EQ(back.arraytype, d.arraytype);
  EXPECT_EQ(back.measuretype, d.measuretype);
  EXPECT_EQ(back.x_position_type, d.x_position_type);
  EXPECT_DOUBLE_EQ(back.espacing, d.espacing);
  EXPECT_EQ(back.nodata, d.nodata);
  EXPECT_EQ(back.noelec, d.noelec);
  EXPECT_EQ(back.ncomp, d.ncomp);

  ASSERT_EQ(back.electrode_position.rows(), d.noelec);
  for (int i = 1; i <= d.noelec; ++i) {
    EXPECT_EQ(back.electrode_position(i, 1), std::trunc(d.electrode_position(i, 1)));
    for (int j = 2; j <= 3; ++j)
      EXPECT_NEAR(back.electrode_position(i, j), d.electrode_position(i, j), 0.005);
  }
  ASSERT_EQ(back.rawdata.rows(), d.nodata);
  ASSERT_EQ(back.rawdata.cols(), d.ncomp);
  for (int i = 1; i <= d.nodata; ++i) {
    for (int j = 1; j <= 4; ++j)
      EXPECT_EQ(back.rawdata(i, j), std::trunc(d.rawdata(i, j))) << i << "," << j;
    const double v = d.val[static_cast<std::size_t>(i - 1)];
    const double e = d.err[static_cast<std::size_t>(i - 1)];
    EXPECT_NEAR(back.rawdata(i, d.index_rho_data), v, 5e-6 * std::fabs(v)) << i;
    EXPECT_NEAR(back.rawdata(i, d.index_rho_error), e, 5e-6 * std::fabs(e)) << i;
  }
  ASSERT_EQ(back.ntopo, d.ntopo);
  for (int k = 1; k <= d.ntopo; ++k)
    for (int j = 1; j <= 2; ++j) EXPECT_NEAR(back.topo(k, j), d.topo(k, j), 0.005);
}

TEST(CegFileWrite, TopographyOfTwoOrFourColumns) {
  Ceg d = fixture_with_values();
  d.ntopo = 2;
  d.topo = varnel::Dmatrix(2, 2);
  d.topo(1, 1) = 1.0, d.topo(1, 2) = 0.25, d.topo(2, 1) = 3.0, d.topo(2, 2) = 0.75;
  const std::string two = temp_path("topo2.ceg");
  write_dcr2d_ceg_datafile(d, two);
  EXPECT_THAT(read_text(two), HasSubstr("\n   2\n      1.00      0.25\n      3.00      0.75\n"));

  // After the merge: model x, z, file x, file z.
  d.topo = varnel::Dmatrix(2, 4);
  const double rows[2][4] = {{101.0, 0.25, 1.5, 9.0}, {103.0, 0.75, 3.5, 9.0}};
  for (int k = 1; k <= 2; ++k)
    for (int j = 1; j <= 4; ++j) d.topo(k, j) = rows[k - 1][j - 1];
  const std::string four = temp_path("topo4.ceg");
  write_dcr2d_ceg_datafile(d, four);
  EXPECT_THAT(read_text(four), HasSubstr("\n   2\n      1.50      0.25\n      3.50      0.75\n"));

  d.ntopo = 0;
  write_dcr2d_ceg_datafile(d, four);
  const std::string text = read_text(four);
  EXPECT_EQ(text.substr(text.size() - 53),
            "    1    2    5    6     1.00000E+00     2.00000E+00\n");
}

TEST(CegFileWrite, RoleNamedTwiceKeepsTheEarlierColumnFromRawdata) {
  Ceg d;
  d.survey_type = "dcr2d";
  d.rho_type = "resistivity";
  d.position_type = "as";
  d.data_pattern = "ec1 ec2 ep1 ep2 ep2 rho rho err";
  identify_order_ceg_pattern_dcr2d(d);
  ASSERT_EQ(d.ncomp, 8);
  d.nodata = 1;
  d.rawdata = varnel::Dmatrix(1, 8);
  const double row[8] = {1, 2, 3, 4.7, 4, 55.5, 66.5, 0.5};
  for (int j = 1; j <= 8; ++j) d.rawdata(1, j) = row[j - 1];
  d.val = {7.0};
  d.err = {0.125};
  const std::string path = temp_path("twice.ceg");
  write_dcr2d_ceg_datafile(d, path);
  EXPECT_THAT(read_text(path), HasSubstr("\nList\n    1    2    3    4    4     5.55000E+01     "
                                         "7.00000E+00     1.25000E-01\n"));
}

TEST(CegFileWrite, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
  const std::filesystem::path dir = std::filesystem::path(temp_path("replace_dir"));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "out.ceg").string();
  std::ofstream(path) << "old content that is longer than nothing\n";
  const Ceg d = fixture_with_values();
  write_dcr2d_ceg_datafile(d, path);
  EXPECT_THAT(read_text(path), StartsWith("Survey Type: dcr2d\n"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            1);

  // A name that cannot be replaced (a folder): the error names it, the folder
  // stays and no temporary file is left beside it.
  const std::string blocked = (dir / "blocked.ceg").string();
  std::filesystem::create_directory(blocked);
  EXPECT_THAT(message_of([&] { write_dcr2d_ceg_datafile(d, blocked); }),
              StartsWith(blocked + ": "));
  EXPECT_TRUE(std::filesystem::is_directory(blocked));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(CegFileWrite, FolderThatCannotBeWrittenIsAnError) {
  const std::string path = temp_path("no_such_folder") + "/out.ceg";
  std::filesystem::remove_all(temp_path("no_such_folder"));
  const Ceg d = fixture_with_values();
  EXPECT_THAT(message_of([&] { write_dcr2d_ceg_datafile(d, path); }), StartsWith(path + ": "));
  EXPECT_FALSE(std::filesystem::exists(temp_path("no_such_folder")));
}

TEST(CegFileWrite, RecordWithoutValuesIsAnError) {
  Ceg d = read_file(fixture);
  extract_dcr2d_ceg_datafile(d);  // not set up: no val, no err
  const std::string path = temp_path("no_values.ceg");
  std::filesystem::remove(path);
  EXPECT_THAT(message_of([&] { write_dcr2d_ceg_datafile(d, path); }), StartsWith(path + ": "));
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
