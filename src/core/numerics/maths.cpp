#include "core/numerics/maths.hpp"

#include <bit>

namespace varnel::maths {

double nan_rsp() { return std::bit_cast<double>(UINT64_C(0x7FF8000000000000)); }

std::vector<double> nan_rsp_1d(int nrow) {
  return std::vector<double>(static_cast<std::size_t>(nrow > 0 ? nrow : 0), nan_rsp());
}

Dmatrix nan_rsp_2d(int nrow, int ncolumn) {
  if (nrow <= 0 || ncolumn <= 0) return Dmatrix(nrow > 0 ? nrow : 0, ncolumn > 0 ? ncolumn : 0);
  return Dmatrix(nrow, ncolumn, nan_rsp());
}

}  // namespace varnel::maths
