// NaN fillers, geometric means, the interpolation steps of the multiplier
// search and finiteness tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::maths {

// A quiet NaN (bit pattern 0x7FF8000000000000): a value that does not exist.
double nan_rsp();
std::vector<double> nan_rsp_1d(int nrow);
Dmatrix nan_rsp_2d(int nrow, int ncolumn);

// Geometric means of positive data: 10 raised to the mean of the base-10
// logarithms of all elements, summed in storage order. An empty array, or one
// with a negative element, gives NaN; a zero element gives 0.
double cal_geometric_mean_1d(const std::vector<double>& d);
double cal_geometric_mean_2d(const Dmatrix& d);
// A three-dimensional array of extents n1 x n2 x n3 held in one column-major
// vector of n1 * n2 * n3 elements.
double cal_geometric_mean_3d(const std::vector<double>& d, int n1, int n2, int n3);

// Abscissa of the vertex of the parabola through three points: column 1 of the
// 3 x 2 array holds x1, x2, x3, column 2 the ordinates f1, f2, f3. Collinear
// points divide by zero (the result is not finite).
double parabolic_interpolation(const Dmatrix& xx);

// Abscissa at which the straight line through (xx[0], yy[0]) and
// (xx[1], yy[1]) reaches upper_level.
double linear_search(const std::array<double, 2>& xx, const std::array<double, 2>& yy,
                     double upper_level);

// Electromagnetic skin depth in metres for a period in seconds and a
// conductivity in S/m.
double skin_depth(double period, double cond);

// True when abs(x) is at most the largest finite double (false for NaN and
// both infinities).
bool isfinite_real(double x);
// Every 32-bit integer is finite.
bool isfinite_integer(int32_t x);

}  // namespace varnel::maths
