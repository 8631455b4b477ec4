// NaN fillers, geometric means, the interpolation steps of the multiplier
// search and finiteness tests.
#pragma once

#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::maths {

// A quiet NaN (bit pattern 0x7FF8000000000000): a value that does not exist.
double nan_rsp();
std::vector<double> nan_rsp_1d(int nrow);
Dmatrix nan_rsp_2d(int nrow, int ncolumn);

}  // namespace varnel::maths
