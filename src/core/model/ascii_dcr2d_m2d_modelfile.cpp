#include "core/model/ascii_dcr2d_m2d_modelfile.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <vector>

#include "core/error.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_dcr2d_m2d_modelfile {

namespace {

using dcr2dphy::Model_fwd_dcr2d;
using dcr2dphy::Model_inv_dcr2d;
using text_io::Free_reader;

constexpr std::size_t header_width = 100;       // header lines are read as "(A100)"
constexpr long long max_elements = 10'000'000;  // beyond this a count is taken as corrupt

// A number as it appears in a message: the shortest text that reads back to it.
std::string shown(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

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

// The next line, cut to the width of a header.
std::string read_header(Free_reader& in, const std::string& what) {
  std::string line;
  if (!in.read_line(line)) in.fail("unexpected end of file: expected " + what);
  if (line.size() > header_width) line.resize(header_width);
  return line;
}

// The text after the first colon of a header; nothing when there is no colon.
std::string_view after_colon(std::string_view header) {
  const auto p = header.find(':');
  return p == std::string_view::npos ? std::string_view() : header.substr(p + 1);
}

double read_position(Free_reader& in, const std::string& what) {
  double v = 0.0;
  read_record(in, what, v);
  if (!std::isfinite(v)) in.fail(what + " must be finite, found " + shown(v));
  return v;
}

// Checks a resistivity of the file and returns its conductivity.
double conductivity_of(const Free_reader& in, const std::string& what, double res) {
  if (!(res > 0.0) || !std::isfinite(res))
    in.fail(what + " must be positive and finite, found " + shown(res));
  const double con = 1.0 / res;
  if (!std::isfinite(con)) in.fail(what + " is too small, found " + shown(res));
  return con;
}

}  // namespace

void write_dcr2d_m2d_modelfile(const std::string& modelfile, const Model_fwd_dcr2d& m) {
  const grid2d_dcr::Gr2d_dcr_new* g = m.grid;
  if (!m.is_allocated() || g == nullptr || !g->is_allocated())
    fail(modelfile + ": cannot write a model that has not been initialized");
  const auto* inv = dynamic_cast<const Model_inv_dcr2d*>(&m);

  const int32_t nx = g->get_nx_element();
  const int32_t nz = g->get_nz_element();
  const Imatrix* e2d = nullptr;
  g->get_element_mapping(e2d, "2dto1d");
  std::vector<double> res;
  m.get_res_fwd(res);
  if (e2d == nullptr || res.size() != static_cast<std::size_t>(g->get_n_element()))
    fail(modelfile + ": the model's values do not match its grid");

  std::string text;
  const auto record = [&text](const std::string& line) {
    text += line;
    text += '\n';
  };
  // A misfit or a count too wide for its field would be written as asterisks,
  // which no reader takes back; such values are written at their full width.
  std::string misfit = text_io::format("('RMS Misfit: ', F10.5)", {inv ? inv->rms : 0.0});
  if (misfit.find('*') != std::string::npos)
    misfit = text_io::format("('RMS Misfit: ', F0.5)", {inv->rms});
  record(misfit);
  std::string counts = text_io::format("(I4,1x,I4)", {nx, nz});
  if (counts.find('*') != std::string::npos) counts = text_io::format("(I0,1x,I0)", {nx, nz});
  record(counts);
  record(text_io::format("('Horizontal Grid:')", {}));
  for (const double x : g->get_x_grid()) record(text_io::format("(E20.10)", {x}));
  record(text_io::format("('Vertical Grid:')", {}));
  for (const double z : g->get_z_grid()) record(text_io::format("(E20.10)", {z}));
  record(text_io::format("('Resistivity:')", {}));
  for (int32_t ix = 1; ix <= nx; ++ix)
    for (int32_t iz = 1; iz <= nz; ++iz)
      record(text_io::format("(E20.10)", {res[static_cast<std::size_t>((*e2d)(iz, ix) - 1)]}));

  text_io::replace_file(modelfile, text, "model file");
}

void read_dcr2d_m2d_modelfile(const std::string& modelfile, Model_fwd_dcr2d& m,
                              std::string_view approx, const Dmatrix* topo) {
  if (m.grid == nullptr) fail(modelfile + ": the model to read into has no grid");
  auto* inv = dynamic_cast<Model_inv_dcr2d*>(&m);
  Free_reader in(modelfile);

  // Line 1: the misfit, wanted by inverse models only.
  const std::string misfit_line = read_header(in, "the 'RMS Misfit:' line");
  double rms = 0.0;
  if (inv != nullptr && !text_io::parse_free_real(after_colon(misfit_line), rms)) {
    in.fail("expected the misfit after the colon of 'RMS Misfit:', found \"" +
            text_io::first_free_item(after_colon(misfit_line)) + "\"");
  }

  int32_t nx = 0, nz = 0;
  read_record(in, "the numbers of element columns and rows (nx nz)", nx, nz);
  if (nx < 1 || nz < 1) {
    in.fail("expected at least one element column and row, found nx = " + std::to_string(nx) +
            ", nz = " + std::to_string(nz));
  }
  if (static_cast<long long>(nx) * nz > max_elements) {
    in.fail("a grid of nx = " + std::to_string(nx) + " by nz = " + std::to_string(nz) +
            " elements is larger than the " + std::to_string(max_elements) + " accepted");
  }

  // The positions are collected as they are read, so a count that the file
  // does not back up ends at the end of the file, not in a large allocation.
  std::vector<double> xs, zs;
  read_header(in, "the 'Horizontal Grid:' line");
  for (int32_t ix = 1; ix <= nx + 1; ++ix)
    xs.push_back(read_position(in, "the x position of node column " + std::to_string(ix)));
  read_header(in, "the 'Vertical Grid:' line");
  for (int32_t iz = 1; iz <= nz + 1; ++iz)
    zs.push_back(read_position(in, "the z position of node row " + std::to_string(iz)));

  // The element numbering of the grid these positions make; the model's own
  // grid is rebuilt only once the whole file has been read.
  grid2d_dcr::Gr2d_dcr_new layout;
  layout.initialize(xs, zs);
  const Imatrix* e2d = nullptr;
  layout.get_element_mapping(e2d, "2dto1d");
  std::vector<double> cond(static_cast<std::size_t>(layout.get_n_element()));

  const std::string res_line = read_header(in, "the 'Resistivity:' line");
  const std::string_view res_text = after_colon(res_line);
  double uniform = 0.0;
  if (!string_utility::is_blank(res_text) && !text_io::parse_free_real(res_text, uniform)) {
    in.fail("expected a resistivity or nothing after the colon of 'Resistivity:', found \"" +
            text_io::first_free_item(res_text) + "\"");
  }
  if (uniform != 0.0) {
    std::fill(cond.begin(), cond.end(), conductivity_of(in, "the uniform resistivity", uniform));
  } else {
    for (int32_t ix = 1; ix <= nx; ++ix) {
      for (int32_t iz = 1; iz <= nz; ++iz) {
        const int32_t e = (*e2d)(iz, ix);
        const std::string what = "resistivity of element " + std::to_string(e);
        double res = 0.0;
        read_record(in, "the " + what, res);
        cond[static_cast<std::size_t>(e - 1)] = conductivity_of(in, what, res);
      }
    }
  }

  m.initialize(xs, zs, approx, &cond, topo);
  if (inv != nullptr) inv->rms = rms;
}

}  // namespace varnel::ascii_dcr2d_m2d_modelfile
