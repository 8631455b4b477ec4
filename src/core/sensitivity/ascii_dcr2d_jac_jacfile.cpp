#include "core/sensitivity/ascii_dcr2d_jac_jacfile.hpp"

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_dcr2d_jac_jacfile {

namespace {

void add_value(std::string& text, double v) {
  text += text_io::format_e(v, 20, 10);
  text += '\n';
}

}  // namespace

void write_dcr2d_maskfile(const Dmatrix& jk2d, std::span<const double> xs,
                          std::span<const double> zs, const std::string& maskfile) {
  const auto ncol = static_cast<int>(xs.size()) - 1;
  const auto nrow = static_cast<int>(zs.size()) - 1;
  if (ncol < 1 || nrow < 1 || jk2d.cols() != ncol || jk2d.rows() != nrow)
    fail("internal error: a mask of " + std::to_string(jk2d.rows()) + " x " +
         std::to_string(jk2d.cols()) + " elements for a grid of " + std::to_string(nrow) + " x " +
         std::to_string(ncol));
  std::string text = text_io::format_i(ncol, 5) + text_io::format_i(nrow, 5) + "\n";
  text += "Horizontal Grid:\n";
  for (double x : xs) add_value(text, x);
  text += "Vertical Grid:\n";
  for (double z : zs) add_value(text, z);
  text += "Jk:\n";
  for (int ix = 1; ix <= ncol; ++ix)
    for (int iz = 1; iz <= nrow; ++iz) add_value(text, jk2d(iz, ix));
  const auto last = maskfile.find_last_not_of(' ');
  text_io::replace_file(maskfile.substr(0, last == std::string::npos ? 0 : last + 1), text,
                        "sensitivity mask");
}

}  // namespace varnel::ascii_dcr2d_jac_jacfile
