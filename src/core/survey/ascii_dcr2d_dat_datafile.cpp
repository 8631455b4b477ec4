#include "core/survey/ascii_dcr2d_dat_datafile.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/text_io.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::ascii_dcr2d_dat_datafile {

namespace {

using text_io::Free_reader;

constexpr std::size_t profile_width = 100;  // the profile line is read as "(A100)"
constexpr int32_t general_layout = 11;      // layout selector of the general layout

// The reader's own explanation of an error, without its "<file>, line <n>: ".
std::string detail_of(const Free_reader& in, const Error& e) {
  const std::string msg = e.what();
  for (const std::string& prefix :
       {in.name() + ", line " + std::to_string(in.line()) + ": ", in.name() + ": "}) {
    if (msg.compare(0, prefix.size(), prefix) == 0) return msg.substr(prefix.size());
  }
  return msg;
}

// One free-format record; a malformed or missing value is reported as
// "<file>, line <n>: expected <what> (<detail>)".
template <class... T>
void read_record(Free_reader& in, const std::string& what, T&... items) {
  try {
    in.read(items...);
  } catch (const Error& e) {
    in.fail("expected " + what + " (" + detail_of(in, e) + ")");
  }
}

void read_values(Free_reader& in, const std::string& what, std::vector<double>& v) {
  try {
    in.read_vector(v);
  } catch (const Error& e) {
    in.fail("expected " + what + " (" + detail_of(in, e) + ")");
  }
}

// A number as it appears in a message: the shortest text that reads back to it.
std::string shown(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Upper bound of the rows a file can hold: every row takes a line of its own,
// and a line holds at least one character and its line end.
long long max_rows_of(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) return -1;  // unknown: no bound
  return static_cast<long long>(size / 2 + 1);
}

// A count read from the file: not negative, and not more rows than the file
// can hold (a corrupt count would otherwise size arrays from garbage).
void check_count(const Free_reader& in, const std::string& name, int32_t count,
                 long long max_rows) {
  if (count < 0) in.fail(name + " must not be negative, found " + std::to_string(count));
  if (max_rows >= 0 && count > max_rows)
    in.fail(name + " " + std::to_string(count) + " is more than the file can hold (at most " +
            std::to_string(max_rows) + " rows)");
}

void check_flag(const Free_reader& in, const std::string& name, int32_t v) {
  if (v != 0 && v != 1) in.fail(name + " must be 0 or 1, found " + std::to_string(v));
}

[[noreturn]] void unsupported_code(const Free_reader& in, int32_t code) {
  in.fail("array type " + std::to_string(code) +
          " is not supported; codes 1 to 15 (general layout) or 1, 3, 7 (simple layout)");
}

// The layout of one simple row, for messages.
std::string simple_columns(int32_t arraytype, int32_t ip_flag) {
  std::string s = arraytype == 1 ? "x, a, value" : "x, a, n, value";
  if (ip_flag == 1) s += ", ip";
  return s;
}

void read_general(Free_reader& in, Dat_file_rawdata_dcr2d& d, long long max_rows) {
  read_record(in, "the array type", d.arraytype);
  if (d.arraytype == 0) d.arraytype = 11;
  if (d.arraytype < 1 || d.arraytype > 15) unsupported_code(in, d.arraytype);
  const int32_t ne = param_dcr2d::nelec(d.arraytype);
  if (ne == 0)
    in.fail("array type " + std::to_string(d.arraytype) +
            " has no electrode layout and cannot be read");

  std::string skipped;
  if (!in.read_line(skipped))
    in.fail("unexpected end of file: expected the text line before the measurement type");

  read_record(in, "the measurement type (0 apparent resistivity, 1 resistance)", d.measuretype);
  check_flag(in, "the measurement type", d.measuretype);
  read_record(in, "the number of data", d.nodata);
  check_count(in, "the number of data", d.nodata, max_rows);
  read_record(in, "the x position type", d.x_position_type);
  read_record(in, "the IP flag (0 or 1)", d.ip_flag);
  check_flag(in, "the IP flag", d.ip_flag);

  d.ncomp = 2 + 2 * ne + d.ip_flag;
  d.rawdata = maths::nan_rsp_2d(d.nodata, d.ncomp);
  std::vector<double> row(static_cast<std::size_t>(d.ncomp));
  for (int32_t i = 1; i <= d.nodata; ++i) {
    const std::string datum = "datum " + std::to_string(i) + " of " + std::to_string(d.nodata);
    read_values(in, std::to_string(d.ncomp) + " values of " + datum, row);
    if (row[0] != static_cast<double>(ne))
      in.fail(datum + ": the electrode count is " + shown(row[0]) + ", array type " +
              std::to_string(d.arraytype) + " has " + std::to_string(ne) + " electrodes");
    for (int32_t j = 1; j <= d.ncomp; ++j) d.rawdata(i, j) = row[j - 1];
  }
}

void read_simple(Free_reader& in, Dat_file_rawdata_dcr2d& d, long long max_rows) {
  const int32_t code = d.data_format;
  if (code < 1 || code > 15) unsupported_code(in, code);
  if (code != 1 && code != 3 && code != 7)
    in.fail("array type " + std::to_string(code) +
            " has no simple layout; simple layouts exist for codes 1, 3 and 7, "
            "other arrays use the general layout (11)");
  d.arraytype = code;

  read_record(in, "the number of data", d.nodata);
  check_count(in, "the number of data", d.nodata, max_rows);
  read_record(in, "the type of x-location (0 first electrode, otherwise midpoint)",
              d.x_position_type);
  read_record(in, "the IP flag (0 or 1)", d.ip_flag);
  check_flag(in, "the IP flag", d.ip_flag);
  std::cout << text_io::free_format({d.ip_flag}) << '\n';

  d.ncomp = 2 + 2 * param_dcr2d::nelec(d.arraytype) + d.ip_flag;
  d.rawdata = maths::nan_rsp_2d(d.nodata, d.ncomp);
  const int32_t ncol = param_dcr2d::ncol4res2d(d.arraytype) + d.ip_flag;
  std::vector<double> res2d(static_cast<std::size_t>(ncol));
  std::vector<double> row;
  for (int32_t i = 1; i <= d.nodata; ++i) {
    read_values(in,
                std::to_string(ncol) + " values (" + simple_columns(d.arraytype, d.ip_flag) +
                    ") of datum " + std::to_string(i) + " of " + std::to_string(d.nodata),
                res2d);
    convert_res2d_to_rawdata(d.arraytype, res2d, d.x_position_type, d.ip_flag, row);
    for (int32_t j = 1; j <= d.ncomp; ++j) d.rawdata(i, j) = row[j - 1];
    std::cout << text_io::free_format(std::vector<text_io::Item>(row.begin(), row.end())) << '\n';
  }
  d.data_format = general_layout;
  d.x_position_type = 2;  // along surface
  d.measuretype = 0;      // apparent resistivity
}

// The optional topography list after the data rows: its count on the next
// line (none when the file ends, the item holds a comma or the line is
// blank), then one line of x and z per point.
void read_topography(Free_reader& in, Dat_file_rawdata_dcr2d& d, long long max_rows) {
  d.ntopo = 0;
  d.topo.clear();
  std::string line;
  if (!in.read_line(line)) return;
  const std::string t = text_io::first_free_item(line);
  if (t.empty() || t.find(',') != std::string::npos) return;
  int32_t ntopo = 0;
  if (!text_io::parse_free_int(t, ntopo))
    in.fail("expected the number of topography points (an integer), found \"" + t + "\"");
  check_count(in, "the number of topography points", ntopo, max_rows);
  d.ntopo = ntopo;
  if (d.ntopo == 0) return;
  d.topo.assign(d.ntopo, 2, 0.0);
  for (int32_t k = 1; k <= d.ntopo; ++k) {
    double x = 0.0, z = 0.0;
    read_record(
        in, "x and z of topography point " + std::to_string(k) + " of " + std::to_string(d.ntopo),
        x, z);
    d.topo(k, 1) = x;
    d.topo(k, 2) = z;
  }
}

// An integer in "(Iw)"; a value too wide for the field, which would come out
// as asterisks that no reader takes back, is written at its full width.
std::string integer_field(long long v, int w) {
  std::string s = text_io::format_i(v, w);
  if (s.find('*') != std::string::npos) s = text_io::format_i(v, 0);
  return s;
}

// One position as "(1x, F10.2, 1x, F10.2)", widened like integer_field.
std::string position_field(double x, double z) {
  std::string s;
  for (const double v : {x, z}) {
    std::string f = text_io::format_f(v, 10, 2);
    if (f.find('*') != std::string::npos) f = text_io::format_f(v, 0, 2);
    s += ' ';
    s += f;
  }
  return s;
}

std::string without_trailing_blanks(const std::string& s) {
  const auto end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

}  // namespace

void read_dcr2d_dat_datafile(Dat_file_rawdata_dcr2d& d) {
  Free_reader in(d.filename);
  const long long max_rows = max_rows_of(d.filename);

  std::string line;
  if (!in.read_line(line)) in.fail("the file is empty: expected the profile name on line 1");
  if (line.size() > profile_width) line.resize(profile_width);
  d.profile = line;
  read_record(in, "the electrode spacing", d.espacing);
  d.rawdata.clear();

  read_record(in, "the layout selector (11 general layout, or the array type of a simple layout)",
              d.data_format);
  if (d.data_format == general_layout)
    read_general(in, d, max_rows);
  else
    read_simple(in, d, max_rows);

  read_topography(in, d, max_rows);
}

void setup_dat_data_vector_dcr2d(Dat_file_rawdata_dcr2d& d) {
  const auto n = static_cast<std::size_t>(d.nodata < 0 ? 0 : d.nodata);
  const int32_t nc = param_dcr2d::celec(d.arraytype);
  const int32_t np = param_dcr2d::nelec(d.arraytype) - nc;
  d.val.assign(n, 0.0);
  d.err.assign(n, 0.0);
  d.geo_k.assign(n, 0.0);
  d.level.assign(n, 0);
  d.tx_index.assign(nc, static_cast<int>(n), 0);
  d.rx_index.assign(np, static_cast<int>(n), 0);
}

void write_dcr2d_dat_datafile(const Dat_file_rawdata_dcr2d& d, const std::string& datafile,
                              const txtypes_dcr2d::Txdict& txdict_dcr2d,
                              const rxtypes_dcr2d::Rxdict& rxdict_dcr2d) {
  const int32_t nodata = d.nodata < 0 ? 0 : d.nodata;
  if (d.tx_index.cols() < nodata || d.rx_index.cols() < nodata ||
      d.val.size() < static_cast<std::size_t>(nodata))
    fail(datafile + ": cannot write " + std::to_string(nodata) +
         " data: the electrode indices or values of the record are missing");
  const int topo_cols = d.topo.cols() >= 4 ? 3 : 1;  // file coordinates of a merged row
  if (d.ntopo > 0 && (d.topo.rows() < d.ntopo || d.topo.cols() < 2))
    fail(datafile + ": cannot write " + std::to_string(d.ntopo) +
         " topography points: the record holds fewer");

  std::string text;
  const auto record = [&text](const std::string& line) {
    text += line;
    text += '\n';
  };
  record(without_trailing_blanks(d.profile));
  std::string spacing = text_io::format("(F10.2)", {d.espacing});
  if (spacing.find('*') != std::string::npos) spacing = text_io::format_f(d.espacing, 0, 2);
  record(spacing);
  record("11");
  record(integer_field(d.arraytype, 3));
  record("Type of measurement (0=app. resistivity,1=resistance)");
  record(integer_field(d.measuretype, 1));
  record(integer_field(nodata, 5));
  record(integer_field(d.x_position_type, 1));
  // No IP value is written, so the file declares none: a flag of 1 would make
  // every row one value short when the file is read back.
  record(integer_field(0, 1));

  const int ntx = d.tx_index.rows();
  const int nrx = d.rx_index.rows();
  for (int32_t i = 1; i <= nodata; ++i) {
    std::string row = integer_field(ntx + nrx, 1);
    for (int j = 1; j <= ntx; ++j) {
      const auto p = txtypes_dcr2d::tx_id_to_position_dcr2d(txdict_dcr2d, d.tx_index(j, i), 2);
      row += position_field(p[0], p[1]);
    }
    for (int j = 1; j <= nrx; ++j) {
      const auto p = rxtypes_dcr2d::rx_id_to_position_dcr2d(rxdict_dcr2d, d.rx_index(j, i), 2);
      row += position_field(p[0], p[1]);
    }
    row += text_io::format("(1x, ES15.5)", {d.val[i - 1]});
    record(row);
  }

  const int32_t ntopo = d.ntopo < 0 ? 0 : d.ntopo;
  record(integer_field(ntopo, 4));
  for (int32_t k = 1; k <= ntopo; ++k)
    record(position_field(d.topo(k, topo_cols), d.topo(k, topo_cols + 1)));
  for (int k = 0; k < 4; ++k) record("0");

  text_io::replace_file(datafile, text, "data file");
}

void convert_res2d_to_rawdata(int32_t arraytype, const std::vector<double>& res2d,
                              int32_t type_of_position, int32_t ip_flag,
                              std::vector<double>& rawdata) {
  if (ip_flag != 0 && ip_flag != 1)
    fail("convert_res2d_to_rawdata: the IP flag must be 0 or 1, found " + std::to_string(ip_flag));
  const int32_t ne = param_dcr2d::nelec(arraytype);
  rawdata.assign(static_cast<std::size_t>(2 + 2 * ne + ip_flag), 0.0);
  rawdata[0] = ne;
  if (arraytype != 1 && arraytype != 3 && arraytype != 7) return;  // no simple layout

  const auto need = static_cast<std::size_t>(param_dcr2d::ncol4res2d(arraytype) + ip_flag);
  if (res2d.size() < need)
    fail("convert_res2d_to_rawdata: array type " + std::to_string(arraytype) + " needs " +
         std::to_string(need) + " values, given " + std::to_string(res2d.size()));

  // 1-based views of the simple row r and the general row w.
  const auto r = [&res2d](int k) { return res2d[static_cast<std::size_t>(k - 1)]; };
  const auto w = [&rawdata](int k) -> double& { return rawdata[static_cast<std::size_t>(k - 1)]; };
  const bool midpoint = type_of_position != 0;
  const double x = r(1);
  const double a = r(2);
  double c1 = 0, c2 = 0, p1 = 0, p2 = 0;
  int value_at = 4;
  if (arraytype == 1) {  // Wenner: x, a, value
    const double x1 = midpoint ? x - 1.5 * a : x;
    c1 = x1;
    c2 = x1 + 3 * a;
    p1 = x1 + a;
    p2 = x1 + 2 * a;
    value_at = 3;
  } else if (arraytype == 3) {  // dipole-dipole: x, a, n, value
    const double n = r(3);
    const double x1 = midpoint ? x - (n + 2) * a / 2 : x;
    c1 = x1 + a;
    c2 = x1;
    p1 = x1 + a + n * a;
    p2 = x1 + 2 * a + n * a;
  } else {  // Wenner-Schlumberger: x, a, n, value
    const double n = r(3);
    const double x1 = midpoint ? x - (2 * n + 1) * a / 2 : x;
    c1 = x1;
    c2 = x1 + 2 * n * a + a;
    p1 = x1 + n * a;
    p2 = x1 + n * a + a;
  }
  w(2) = c1;
  w(4) = c2;
  w(6) = p1;
  w(8) = p2;
  w(10) = r(value_at);
  if (ip_flag == 1) w(11) = r(value_at + 1);
}

}  // namespace varnel::ascii_dcr2d_dat_datafile
