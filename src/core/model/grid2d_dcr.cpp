#include "core/model/grid2d_dcr.hpp"

#include <cmath>
#include <iostream>
#include <string>

#include "core/numerics/string_utility.hpp"

namespace varnel::grid2d_dcr {

namespace {

enum class Map_mode { one_to_two, two_to_one, none };

Map_mode mapping_mode(std::string_view mode) {
  const std::string word = string_utility::strlowcase(mode.substr(0, 6));
  if (word == "1dto2d") return Map_mode::one_to_two;
  if (word == "2dto1d") return Map_mode::two_to_one;
  std::cout << "! Please specify mode: (1) 1dto2d or (2) 2dto1d\n";
  return Map_mode::none;
}

// The last node column with xs <= x: the first column with xs > x, minus 1;
// 0 when there is none.
int32_t column_of(std::span<const double> xs, double x) {
  for (std::size_t i = 0; i < xs.size(); ++i)
    if (xs[i] > x) return static_cast<int32_t>(i);
  return 0;
}

// Entry (i, j) of a map; 0 for an index pair outside it (a search that found
// nothing gives index 0).
int32_t lookup(const Imatrix& map, int32_t i, int32_t j) {
  if (i < 1 || j < 1 || i > map.rows() || j > map.cols()) return 0;
  return map(i, j);
}

}  // namespace

void Gr2d_dcr_new::finalize() {
  Base_grid2d::finalize();
  e2d.clear();
  e1d.clear();
  n2d.clear();
  n1d.clear();
  nd = {};
}

void Gr2d_dcr_new::initialize(std::span<const double> xs_in, std::span<const double> zs_in) {
  Base_grid2d::initialize(xs_in, zs_in);

  const int32_t mx = get_nx_element();
  const int32_t mz = get_nz_element();
  const int32_t nnode = get_n_node();
  const int32_t nelem = get_n_element();
  nd.assign(static_cast<std::size_t>(nnode), 0.0);
  e2d.assign(mz, mx);
  e1d.assign(nelem, 2);
  n2d.assign(mz + 1, mx + 1);
  n1d.assign(nnode, 2);

  int32_t k = 0;
  for (int32_t ix = 1; ix <= mx; ++ix)
    for (int32_t iz = 1; iz <= mz; ++iz) {
      ++k;
      e2d(iz, ix) = k;
      e1d(k, 1) = ix;
      e1d(k, 2) = iz;
    }

  k = 0;
  for (int32_t ix = 1; ix <= mx + 1; ++ix)
    for (int32_t iz = 1; iz <= mz + 1; ++iz) {
      ++k;
      n2d(iz, ix) = k;
      n1d(k, 1) = ix;
      n1d(k, 2) = iz;
    }

  // Distances from the middle of the surface line; the top row lies on it
  // whatever its own z.
  const std::span<const double> x = get_x_grid();
  const std::span<const double> z = get_z_grid();
  const double xc = (x.front() + x.back()) * 0.5;
  k = 0;
  for (int32_t ix = 1; ix <= mx + 1; ++ix)
    for (int32_t iz = 1; iz <= mz + 1; ++iz) {
      const double ddx = xc - x[ix - 1];
      nd[k] = iz == 1 ? std::abs(ddx) : std::sqrt(ddx * ddx + z[iz - 1] * z[iz - 1]);
      ++k;
    }
}

void Gr2d_dcr_new::duplicate(base_grids::Base_grid2d& target) const {
  // Copies first: the target may be this grid.
  const std::span<const double> xv = get_x_grid(), zv = get_z_grid();
  const std::vector<double> x(xv.begin(), xv.end()), z(zv.begin(), zv.end());
  if (target.is_allocated()) target.finalize();
  target.initialize(x, z);
}

void Gr2d_dcr_new::get_element_mapping(const Imatrix*& mapping, std::string_view mode) const {
  switch (mapping_mode(mode)) {
    case Map_mode::one_to_two:
      mapping = &e1d;
      break;
    case Map_mode::two_to_one:
      mapping = &e2d;
      break;
    case Map_mode::none:
      break;
  }
}

std::span<const double> Gr2d_dcr_new::get_node_distance() const { return nd; }

int32_t Gr2d_dcr_new::p2e(double x, double z) const {
  const int32_t column = column_of(get_x_grid(), x);
  const std::span<const double> zv = get_z_grid();
  int32_t row = 0;
  if (zv.size() >= 2) {
    const bool downwards = zv[1] > zv[0];
    for (std::size_t i = 0; i < zv.size(); ++i)
      if (downwards ? zv[i] > z : zv[i] < z) {
        row = static_cast<int32_t>(i);
        break;
      }
  }
  return lookup(e2d, row, column);
}

void Gr2d_dcr_new::get_node_mapping(const Imatrix*& mapping, std::string_view mode) const {
  switch (mapping_mode(mode)) {
    case Map_mode::one_to_two:
      mapping = &n1d;
      break;
    case Map_mode::two_to_one:
      mapping = &n2d;
      break;
    case Map_mode::none:
      break;
  }
}

int32_t Gr2d_dcr_new::p2n(double x, double z) const {
  const int32_t column = column_of(get_x_grid(), x);
  const std::span<const double> zv = get_z_grid();
  int32_t row = 0;
  for (std::size_t i = 0; i < zv.size(); ++i)
    if (std::abs(z - zv[i]) < 1.0e-8) {
      row = static_cast<int32_t>(i + 1);
      break;
    }
  return lookup(n2d, row, column);
}

}  // namespace varnel::grid2d_dcr
