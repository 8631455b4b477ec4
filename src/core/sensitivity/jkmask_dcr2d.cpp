// Cells made of several elements (merged below the spread, or defined by a
// model update file) are divided by their total area in the earth, so that a
// merged cell has the same kind of value as a single element; the areas are
// summed in one sequential pass, which keeps the result independent of the
// thread count.
#include "core/sensitivity/jkmask_dcr2d.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/sensitivity/ascii_dcr2d_jac_jacfile.hpp"

namespace varnel::jkmask_dcr2d {

namespace {

using dcr2dphy::Gr2d_dcr_new;
using dcr2dphy::Model_inv_dcr2d;

// What the mask needs of a model and its grid.
struct Mask_geometry {
  const Gr2d_dcr_new* grid = nullptr;
  std::span<const double> xs, zs;
  int32_t nx = 0, nz = 0;
  std::vector<int32_t> aerow;  // empty without topography
  const std::vector<int32_t>* g2u = nullptr;
  const Imatrix* e2d = nullptr;

  int32_t cell(int32_t iz, int32_t ix) const {
    return (*g2u)[static_cast<std::size_t>((*e2d)(iz, ix) - 1)];
  }
  // First element row of column ix that lies in the earth.
  int32_t top_row(int32_t ix) const {
    return aerow.empty() ? 1 : std::max(1, aerow[static_cast<std::size_t>(ix - 1)]);
  }
};

Mask_geometry geometry_of(const Model_inv_dcr2d& m, int32_t ncell) {
  Mask_geometry g;
  Gr2d_dcr_new* grid = nullptr;
  m.get_grid(grid);
  if (grid == nullptr || !grid->is_allocated()) fail("internal error: the mask needs a model grid");
  g.grid = grid;
  g.xs = grid->get_x_grid();
  g.zs = grid->get_z_grid();
  g.nx = grid->get_nx_element();
  g.nz = grid->get_nz_element();
  m.get_air_earth_row(g.aerow);
  m.get_update_mapping(g.g2u);
  grid->get_element_mapping(g.e2d, "2dto1d");
  const auto nelem = static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.nz);
  if (g.g2u == nullptr || g.g2u->size() != nelem || g.e2d == nullptr)
    fail("internal error: the mask needs the element-to-cell map of the model");
  if (!g.aerow.empty() && g.aerow.size() < static_cast<std::size_t>(g.nx))
    fail("internal error: the air-earth rows do not cover the grid");
  for (int32_t c : *g.g2u)
    if (c < 0 || c > ncell)
      fail("internal error: cell " + std::to_string(c) +
           " has no row in the sensitivity matrix of " + std::to_string(ncell) + " cells");
  return g;
}

// Sum over all data of |jkt(c, j)| for every cell c.
std::vector<double> cell_sums(const Dmatrix& jkt) {
  const int32_t ncell = jkt.rows(), ndata = jkt.cols();
  std::vector<double> jk1d(static_cast<std::size_t>(ncell), 0.0);
#pragma omp parallel for schedule(static)
  for (int32_t c = 1; c <= ncell; ++c) {
    double s = 0.0;
    for (int32_t j = 1; j <= ndata; ++j) s += std::abs(jkt(c, j));
    jk1d[static_cast<std::size_t>(c - 1)] = s;
  }
  return jk1d;
}

// Area in the earth of every cell.
std::vector<double> cell_areas(const Mask_geometry& g, std::size_t ncell) {
  std::vector<double> area(ncell, 0.0);
  for (int32_t ix = 1; ix <= g.nx; ++ix) {
    const double dx = g.xs[static_cast<std::size_t>(ix)] - g.xs[static_cast<std::size_t>(ix - 1)];
    for (int32_t iz = g.top_row(ix); iz <= g.nz; ++iz) {
      const double dz = g.zs[static_cast<std::size_t>(iz)] - g.zs[static_cast<std::size_t>(iz - 1)];
      const int32_t c = g.cell(iz, ix);
      if (c != 0) area[static_cast<std::size_t>(c - 1)] += std::abs(dx * dz);
    }
  }
  return area;
}

}  // namespace

Dmatrix jk_mask_values(const Dmatrix& jkt, const Model_inv_dcr2d& m) {
  const Mask_geometry g = geometry_of(m, jkt.rows());
  std::vector<double> jk1d = cell_sums(jkt);
  const std::vector<double> area = cell_areas(g, jk1d.size());
  for (std::size_t c = 0; c < jk1d.size(); ++c)
    if (area[c] > 0.0) jk1d[c] /= area[c];

  const double nan = maths::nan_rsp();
  Dmatrix jk2d(g.nz, g.nx);
#pragma omp parallel for schedule(static)
  for (int32_t ix = 1; ix <= g.nx; ++ix) {
    for (int32_t iz = 1; iz <= g.nz; ++iz) {
      const int32_t c = g.cell(iz, ix);
      jk2d(iz, ix) = c == 0 ? nan : jk1d[static_cast<std::size_t>(c - 1)];
    }
  }
  return jk2d;
}

void cal_jk_mask(const Dmatrix& jkt, const std::string& mask_file, const Model_inv_dcr2d& m) {
  const Dmatrix jk2d = jk_mask_values(jkt, m);
  Gr2d_dcr_new* grid = nullptr;
  m.get_grid(grid);
  ascii_dcr2d_jac_jacfile::write_dcr2d_maskfile(jk2d, grid->get_x_grid(), grid->get_z_grid(),
                                                mask_file);
}

}  // namespace varnel::jkmask_dcr2d
