#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::ascii_dcr2d_ceg_datafile {

namespace {

using Ceg = Ceg_file_rawdata_dcr2d;
using string_utility::rtrim;
using string_utility::strlowcase;

// Widths of the header text fields.
constexpr std::size_t text_width = 256;
constexpr std::size_t rho_type_width = 11;
constexpr std::size_t ip_include_width = 3;
constexpr std::size_t error_include_width = 3;
constexpr std::size_t position_type_width = 15;
constexpr std::size_t data_pattern_width = 100;

// Only the first characters of a header line count.
constexpr std::size_t header_line_width = 100;

// Pattern words are compared on their first six characters.
constexpr std::size_t pattern_word_width = 6;

// The column roles of a data row, in the order of the record's fields.
struct Role {
  std::string_view word;
  int32_t Ceg::*index;
  int32_t Ceg::*match;
  bool electrode;  // the column holds an electrode number
};

constexpr Role roles[] = {
    {"ec1", &Ceg::index_ec1, &Ceg::match_ec1, true},
    {"ec2", &Ceg::index_ec2, &Ceg::match_ec2, true},
    {"ep1", &Ceg::index_ep1, &Ceg::match_ep1, true},
    {"ep2", &Ceg::index_ep2, &Ceg::match_ep2, true},
    {"rho", &Ceg::index_rho_data, &Ceg::match_rho_data, false},
    {"err", &Ceg::index_rho_error, &Ceg::match_rho_error, false},
    {"ip", &Ceg::index_ip_data, &Ceg::match_ip_data, false},
    {"ip_err", &Ceg::index_ip_error, &Ceg::match_ip_error, false},
};
constexpr std::size_t ec1 = 0, ec2 = 1, ep1 = 2, ep2 = 3;

std::string_view adjustl(std::string_view text) {
  std::size_t p = 0;
  while (p < text.size() && text[p] == ' ') ++p;
  return text.substr(p);
}

// A header value cut to the width of its field; trailing blanks carry no
// meaning in memory.
std::string cut(const std::string& value, std::size_t width) {
  return std::string(rtrim(std::string_view(value).substr(0, width)));
}

std::string in_quotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

// The roles of the pattern's columns, in column order, up to the first word
// that is not a role (or the end of the pattern). Words are separated by
// blanks; each is compared on its first six characters.
std::vector<std::size_t> pattern_roles(std::string_view pattern) {
  std::vector<std::size_t> out;
  std::string_view rest = pattern;
  for (;;) {
    const std::size_t blank = rest.find(' ');
    const std::string_view whole = rest.substr(0, blank);
    const std::string_view word = whole.substr(0, pattern_word_width);
    std::size_t r = 0;
    while (r < std::size(roles) && (word.empty() || roles[r].word != word)) ++r;
    if (r == std::size(roles)) break;
    out.push_back(r);
    rest = adjustl(rest.substr(whole.size()));
  }
  return out;
}

// An electrode number as an integer, truncated toward zero; a value that has
// no integer form gives one that overflows every field (written as asterisks).
long long truncated(double v) {
  if (!(std::fabs(v) < 1.0e18)) return std::numeric_limits<long long>::max();
  return static_cast<long long>(v);
}

std::string number_text(double v) {
  if (std::isfinite(v) && std::fabs(v) < 1.0e18) return std::to_string(truncated(v));
  return text_io::free_real(v);
}

// Reads a header count; a count that cannot be read or is negative ends the
// job with the line of the file.
int32_t read_count(const text_io::Free_reader& r, const std::string& value, const char* label) {
  int32_t n = 0;
  if (!text_io::parse_free_int(value, n))
    r.fail(std::string("expected an integer for \"") + label + "\", found " + in_quotes(value));
  if (n < 0)
    r.fail(std::string("expected a count of zero or more for \"") + label + "\", found " +
           in_quotes(value));
  return n;
}

// One free-format record of n values appended to `out`; a failure names the
// file and line (from the reader) and what the record is.
void read_record(text_io::Free_reader& r, std::size_t n, std::vector<double>& out,
                 const std::string& what) {
  std::vector<double> v(n, 0.0);
  try {
    r.read_vector(v);
  } catch (const Error& e) {
    fail(std::string(e.what()) + " (" + what + ")");
  }
  out.insert(out.end(), v.begin(), v.end());
}

// Rows appended one after the other, as a rows x cols matrix.
Dmatrix to_matrix(const std::vector<double>& by_row, int rows, int cols) {
  Dmatrix m(rows, cols);
  for (int i = 1; i <= rows; ++i)
    for (int j = 1; j <= cols; ++j)
      m(i, j) = by_row[static_cast<std::size_t>(i - 1) * cols + (j - 1)];
  return m;
}

}  // namespace

void read_dcr2d_ceg_datafile(Ceg_file_rawdata_dcr2d& d) {
  text_io::Free_reader r(d.filename);
  std::string line;

  // Header: "key: value" lines until a line without a colon or an unknown key.
  for (;;) {
    if (!r.read_line(line))
      r.fail(
          "unexpected end of file in the header: expected \"key: value\" lines ended by a line "
          "without a colon");
    const std::string_view head = std::string_view(line).substr(0, header_line_width);
    const std::size_t colon = head.find(':');
    if (colon == std::string_view::npos) break;
    const std::string key = strlowcase(rtrim(head.substr(0, colon)));
    const std::string value = strlowcase(rtrim(adjustl(head.substr(colon + 1))));
    if (key == "survey type") {
      d.survey_type = cut(value, text_width);
    } else if (key == "profile name") {
      d.profile = cut(value, text_width);
    } else if (key == "array type") {
      d.configuration = cut(value, text_width);
    } else if (key == "electrode spacing") {
      if (!text_io::parse_free_real(value, d.espacing))
        r.fail("expected a number for \"Electrode Spacing\", found " + in_quotes(value));
    } else if (key == "number of data") {
      d.nodata = read_count(r, value, "Number of Data");
    } else if (key == "number of electrode") {
      d.noelec = read_count(r, value, "Number of Electrode");
    } else if (key == "rho type") {
      d.rho_type = cut(value, rho_type_width);
    } else if (key == "ip include") {
      d.ip_include = cut(value, ip_include_width);
    } else if (key == "error include") {
      d.error_include = cut(value, error_include_width);
    } else if (key == "position type") {
      d.position_type = cut(value, position_type_width);
    } else if (key == "data pattern") {
      d.data_pattern = cut(value, data_pattern_width);
    } else {
      break;
    }
  }

  if (d.survey_type != "dcr2d") fail("Incorrect survey type");
  if (d.rho_type != "resistivity" && d.rho_type != "resistance") fail("Incorrect rho type");
  if (d.position_type != "along surface" && d.position_type != "true horizon" &&
      d.position_type != "as" && d.position_type != "th")
    fail("Incorrect position type");

  // Electrode title and list.
  if (!r.read_line(line)) r.fail("unexpected end of file: expected the electrode title line");
  std::vector<double> values;
  for (int32_t i = 1; i <= d.noelec; ++i)
    read_record(
        r, 3, values,
        "electrode " + std::to_string(i) + " of " + std::to_string(d.noelec) + ": number, x, z");
  d.electrode_position = to_matrix(values, d.noelec, 3);

  identify_order_ceg_pattern_dcr2d(d);

  // Data title: skipped up to the line "List".
  for (;;) {
    if (!r.read_line(line))
      r.fail("unexpected end of file: expected the line \"List\" before the data rows");
    if (strlowcase(rtrim(line)) == "list") break;
  }

  // Rows and their lines are collected as read, so a count in the header that
  // the file does not back up ends at the end of the file, not in a large
  // allocation.
  values.clear();
  d.row_line.clear();
  for (int32_t i = 1; i <= d.nodata; ++i) {
    read_record(r, static_cast<std::size_t>(d.ncomp), values,
                "data row " + std::to_string(i) + " of " + std::to_string(d.nodata) + ": " +
                    std::to_string(d.ncomp) + " values in the order of the data pattern");
    d.row_line.push_back(r.line());
  }
  d.rawdata = to_matrix(values, d.nodata, d.ncomp);

  // Optional topography: a point count, then x, z per point.
  d.ntopo = 0;
  d.topo.clear();
  if (r.read_line(line)) {
    const std::string_view t = rtrim(adjustl(line));
    int32_t n = 0;
    if (t != "List" && text_io::parse_free_int(t, n)) {
      if (n < 0) r.fail("expected a topography point count of zero or more, found " + in_quotes(t));
      values.clear();
      for (int32_t k = 1; k <= n; ++k)
        read_record(
            r, 2, values,
            "topography point " + std::to_string(k) + " of " + std::to_string(n) + ": x, z");
      d.ntopo = n;
      d.topo = to_matrix(values, n, 2);
    }
  }
}

void identify_order_ceg_pattern_dcr2d(Ceg_file_rawdata_dcr2d& d) {
  for (const Role& role : roles) {
    d.*role.index = 0;
    d.*role.match = 0;
  }
  const std::vector<std::size_t> columns = pattern_roles(d.data_pattern);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const Role& role = roles[columns[c]];
    d.*role.index = static_cast<int32_t>(c + 1);  // a role named twice keeps the later column
    d.*role.match = 1;
  }
  d.ncomp = static_cast<int32_t>(columns.size());
}

void extract_dcr2d_ceg_datafile(Ceg_file_rawdata_dcr2d& d) {
  d.measuretype = param_dcr2d::get_measure_index(d.rho_type);
  d.arraytype = param_dcr2d::get_arraytype(d.configuration);
  d.x_position_type = param_dcr2d::get_position_type_index(d.position_type);

  if (d.arraytype == 0) fail_at(d.filename, 0, "unknown array type " + in_quotes(d.configuration));
  if (d.match_rho_data != 1)
    fail_at(d.filename, 0,
            "the data pattern " + in_quotes(d.data_pattern) + " has no \"rho\" column");

  // The electrode roles the array needs: C1 (and C2), P1 (and P2).
  const int32_t ncurrent = param_dcr2d::celec(d.arraytype);
  const int32_t npotential = param_dcr2d::nelec(d.arraytype) - ncurrent;
  std::vector<std::size_t> needed;
  if (ncurrent >= 1) needed.push_back(ec1);
  if (ncurrent >= 2) needed.push_back(ec2);
  if (npotential >= 1) needed.push_back(ep1);
  if (npotential >= 2) needed.push_back(ep2);
  for (std::size_t r : needed)
    if (d.*roles[r].match != 1)
      fail_at(d.filename, 0,
              "the data pattern " + in_quotes(d.data_pattern) + " has no " +
                  in_quotes(roles[r].word) + " column, which the array type " +
                  in_quotes(d.configuration) + " needs");

  // Every needed electrode number must select a line of the electrode list.
  for (int32_t i = 1; i <= d.nodata; ++i) {
    const std::size_t row = static_cast<std::size_t>(i - 1);
    const int line = row < d.row_line.size() ? d.row_line[row] : 0;
    for (std::size_t r : needed) {
      const double k = d.rawdata(i, d.*roles[r].index);
      if (k >= 1.0 && k < static_cast<double>(d.noelec) + 1.0) continue;
      fail_at(d.filename, line,
              "data row " + std::to_string(i) + " names electrode " + number_text(k) + " as " +
                  in_quotes(roles[r].word) + ", but the electrode list holds electrodes 1 to " +
                  std::to_string(d.noelec));
    }
  }
}

void setup_ceg_data_vector_dcr2d(Ceg_file_rawdata_dcr2d& d) {
  if (!d.val.empty() || !d.err.empty() || !d.geo_k.empty() || !d.level.empty() ||
      !d.tx_index.empty() || !d.rx_index.empty())
    fail_at(d.filename, 0, "the per-datum arrays of the record exist already");
  const int32_t n = param_dcr2d::nelec(d.arraytype);
  const int32_t nc = param_dcr2d::celec(d.arraytype);
  if (n == 0)
    fail_at(d.filename, 0,
            "array type code " + std::to_string(d.arraytype) + " has no electrode counts");
  if (d.nodata < 0) fail_at(d.filename, 0, "negative number of data");
  const auto nodata = static_cast<std::size_t>(d.nodata);
  d.val.assign(nodata, 0.0);
  d.err.assign(nodata, 0.0);
  d.geo_k.assign(nodata, 0.0);
  d.level.assign(nodata, 0);
  d.tx_index.assign(nc, d.nodata, 0);
  d.rx_index.assign(n - nc, d.nodata, 0);
}

void write_dcr2d_ceg_datafile(const Ceg_file_rawdata_dcr2d& d, const std::string& datafile) {
  using text_io::format;
  const auto bad_record = [&](const std::string& what) {
    fail_at(datafile, 0, "cannot write the record: " + what);
  };
  if (d.nodata < 0 || d.ncomp < 0 || d.noelec < 0 || d.ntopo < 0) bad_record("negative count");
  if (d.rawdata.rows() < d.nodata || d.rawdata.cols() < d.ncomp)
    bad_record("the data table is smaller than Number of Data x the pattern's columns");
  if (d.electrode_position.rows() < d.noelec || (d.noelec > 0 && d.electrode_position.cols() < 3))
    bad_record("the electrode list is smaller than Number of Electrode");
  if (d.ntopo > 0 && (d.topo.rows() < d.ntopo || d.topo.cols() < 2))
    bad_record("the topography table is smaller than its point count");
  const auto nodata = static_cast<std::size_t>(d.nodata);
  if (d.match_rho_data == 1 && d.val.size() < nodata) bad_record("the values are not set up");
  if (d.match_rho_error == 1 && d.err.size() < nodata) bad_record("the errors are not set up");

  std::string out;
  const auto put = [&](std::string_view label, std::string_view value) {
    out.append(label).append(value).append("\n");
  };
  put("Survey Type: ", rtrim(d.survey_type));
  put("Profile Name: ", rtrim(d.profile));
  put("Array Type: ", rtrim(d.configuration));
  put("Electrode Spacing: ", format("(F10.2)", {d.espacing}));
  put("Number of Data: ", format("(I6)", {d.nodata}));
  put("Number of Electrode: ", format("(I4)", {d.noelec}));
  put("Rho Type: ", rtrim(d.rho_type));
  put("IP Include: ", rtrim(d.ip_include));
  put("Error Include: ", rtrim(d.error_include));
  put("Position Type: ", rtrim(d.position_type));
  put("Data Pattern: ", rtrim(d.data_pattern));

  put("", "");
  put("Electrode Position", "");
  for (int32_t i = 1; i <= d.noelec; ++i)
    put("", format("(I4, 2F10.2)", {truncated(d.electrode_position(i, 1)),
                                    d.electrode_position(i, 2), d.electrode_position(i, 3)}));

  put("", "");
  put("List", "");

  // Electrode-number columns: those the index fields point to, and also an
  // earlier column of a role named twice in the pattern. Such an earlier
  // column is written from rawdata; only the column the index field points
  // to is replaced by val or err.
  std::vector<bool> electrode(static_cast<std::size_t>(d.ncomp) + 1, false);
  for (const Role& role : roles)
    if (role.electrode && d.*role.match == 1 && d.*role.index >= 1 && d.*role.index <= d.ncomp)
      electrode[static_cast<std::size_t>(d.*role.index)] = true;
  const std::vector<std::size_t> columns = pattern_roles(d.data_pattern);
  for (std::size_t c = 0; c < columns.size() && c < static_cast<std::size_t>(d.ncomp); ++c)
    if (roles[columns[c]].electrode) electrode[c + 1] = true;

  for (int32_t i = 1; i <= d.nodata; ++i) {
    for (int32_t c = 1; c <= d.ncomp; ++c) {
      double v = d.rawdata(i, c);
      if (d.match_rho_data == 1 && c == d.index_rho_data)
        v = d.val[static_cast<std::size_t>(i - 1)];
      if (d.match_rho_error == 1 && c == d.index_rho_error)
        v = d.err[static_cast<std::size_t>(i - 1)];
      if (electrode[static_cast<std::size_t>(c)])
        out += format("(I5)", {truncated(v)});
      else
        out += format("(1x, ES15.5)", {v});
    }
    out += "\n";
  }

  if (d.ntopo != 0) {
    put("", format("(I4)", {d.ntopo}));
    for (int32_t k = 1; k <= d.ntopo; ++k) {
      const double x = d.topo.cols() >= 3 ? d.topo(k, 3) : d.topo(k, 1);
      put(format("(F10.2)", {x}), format("(F10.2)", {d.topo(k, 2)}));
    }
  }

  text_io::replace_file(datafile, out, "data file");
}

}  // namespace varnel::ascii_dcr2d_ceg_datafile
