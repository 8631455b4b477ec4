#include "core/inversion/model_inv_parameters_dcr2d.hpp"

#include <algorithm>
#include <span>
#include <string>

#include "core/error.hpp"

namespace varnel::model_inv_parameters_dcr2d {

namespace {

// Distances between the centres of consecutive cells of sizes d (1-based
// rows of out, n = d.size() >= 3).
void centre_distances(std::span<const double> d, Dmatrix& out) {
  const int32_t n = static_cast<int32_t>(d.size());
  out.assign(n, 2);
  auto h = [&](int32_t i) { return d[static_cast<std::size_t>(i - 1)]; };
#pragma omp parallel for schedule(static)
  for (int32_t i = 1; i <= n; ++i) {
    if (i == 1) {
      out(i, 1) = (h(1) + h(2)) / 2.0;
      out(i, 2) = (h(1) + h(3)) / 2.0 + h(2);
    } else if (i == n) {
      out(i, 1) = (h(n - 1) + h(n)) / 2.0;
      out(i, 2) = (h(n - 2) + h(n)) / 2.0 + h(n - 1);
    } else {
      out(i, 1) = (h(i - 1) + h(i)) / 2.0;
      out(i, 2) = (h(i) + h(i + 1)) / 2.0;
    }
  }
}

}  // namespace

void cal_distance_b2b_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, Dmatrix& width, Dmatrix& height) {
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();
  // The one-sided end rows of the operators reach two centres inward.
  if (nx < 3 || nz < 3)
    fail(
        "the roughness operators need at least 3 element columns and 3 element rows; the grid "
        "has " +
        std::to_string(nx) + " x " + std::to_string(nz));
  centre_distances(grid.get_dz_grid(), height);
  centre_distances(grid.get_dx_grid(), width);
}

void cal_kappa_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const std::vector<bool>& isupdated,
                     double espacing, double diffusion_parameter, Dmatrix& kappa) {
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();
  if (static_cast<int32_t>(isupdated.size()) != grid.get_n_element())
    fail("internal error: the update flags do not match the grid");
  const auto zs = grid.get_z_grid();
  const auto dz = grid.get_dz_grid();
  const Imatrix* e2d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");
  const double shallow = espacing / diffusion_parameter;

  kappa.assign(nz, nx, espacing * espacing);
  for (int32_t ix = 1; ix <= nx; ++ix) {
    int32_t n = 0;
    bool have_surface = false;
    double s = 0.0;
    for (int32_t iz = 1; iz <= nz; ++iz) {
      if (!isupdated[static_cast<std::size_t>((*e2d)(iz, ix) - 1)]) continue;
      const double top = zs[static_cast<std::size_t>(iz - 1)];
      if (!have_surface) {
        s = top;
        have_surface = true;
      }
      const double depth = top - s + dz[static_cast<std::size_t>(iz - 1)] / 2.0;
      if (depth > shallow) {
        ++n;
        const double mfactor = std::max(0.2, 1.0 - 0.1 * n);
        kappa(iz, ix) = depth * depth * mfactor * mfactor;
      }
    }
  }
  for (int32_t ix = 1; ix <= nx; ++ix)
    for (int32_t iz = 1; iz <= nz; ++iz) kappa(iz, ix) *= 0.25;
}

void cleanup_diffusion_matrices(Diffusion_state& s) {
  s.diffu_ud.clear();
  s.diffu_ud.shrink_to_fit();
  s.diffu_lr.clear();
  s.diffu_lr.shrink_to_fit();
}

}  // namespace varnel::model_inv_parameters_dcr2d
