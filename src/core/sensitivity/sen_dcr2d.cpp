// The finite-element derivative blocks of the hybrid mesh: for every
// finite-element element, the stiffness and mass entries of its triangles per
// unit conductivity, in the rows and columns of its four corners, and their
// combination da + k^2 dc per wavenumber.
#include "core/sensitivity/sen_dcr2d.hpp"

#include <array>
#include <cmath>
#include <cstddef>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"

namespace varnel::sen_dcr2d {

namespace {

// A triangle depends on the element's conductivity unless it is the air part
// of a cut element: an upper conductivity that differs from the lower one by
// more than this fraction marks air. The comparison is made with the
// single-precision value of 0.01, as the meshing writes it.
constexpr double air_contrast = static_cast<double>(0.01f);

void allocate(Derivative_matrix& r, int32_t nfe) {
  r.tl.assign(nfe, 4, 0.0);
  r.tr.assign(nfe, 4, 0.0);
  r.bl.assign(nfe, 4, 0.0);
  r.br.assign(nfe, 4, 0.0);
  r.nindex.assign(nfe, 4, 0);
  r.n = nfe;
}

// The row array of corner q (0 TL, 1 BL, 2 BR, 3 TR).
Dmatrix& row_array(Derivative_matrix& r, int q) {
  switch (q) {
    case 0:
      return r.tl;
    case 1:
      return r.bl;
    case 2:
      return r.br;
    default:
      return r.tr;
  }
}

}  // namespace

void compute_fe_da_dc(Derivative_matrix& da, Derivative_matrix& dc,
                      const dcr2dphy::Model_inv_dcr2d& model) {
  if (da.n != 0 && dc.n != 0) return;
  dcr2dphy::Gr2d_dcr_new* gp = nullptr;
  model.get_grid(gp);
  if (gp == nullptr) fail("compute_fe_da_dc: the model refers to no grid");
  const dcr2dphy::Gr2d_dcr_new& grid = *gp;

  const int32_t nfe = model.nfe;
  allocate(da, nfe);
  allocate(dc, nfe);
  if (nfe == 0) return;

  const auto noelem = static_cast<std::size_t>(grid.get_n_element());
  std::vector<bool> isupdated;
  model.get_isupdated(isupdated);
  std::vector<double> ucon, lcon;
  model.get_fe_ucon_fwd(ucon);
  model.get_fe_lcon_fwd(lcon);
  if (isupdated.size() != noelem || ucon.size() != noelem || lcon.size() != noelem ||
      model.elem.size() != noelem || model.fecell.size() < static_cast<std::size_t>(nfe))
    fail("compute_fe_da_dc: the model's element arrays do not match the grid");
  if (model.node.map.size() != static_cast<std::size_t>(grid.get_n_node()))
    fail("compute_fe_da_dc: the model has no earth nodes for its finite-element elements");
  const auto xs = grid.get_x_grid();
  const auto zs = grid.get_z_grid();
  const Imatrix* n1d = nullptr;
  grid.get_node_mapping(n1d, "1dto2d");
  const auto unknown = [&](int32_t g) { return model.node.map[static_cast<std::size_t>(g - 1)]; };

#pragma omp parallel for schedule(static)
  for (int32_t i = 1; i <= nfe; ++i) {
    const int32_t e = model.fecell[static_cast<std::size_t>(i - 1)];
    const auto ei = static_cast<std::size_t>(e - 1);
    if (!isupdated[ei]) continue;

    std::array<int32_t, 4> corner{};  // TL, BL, BR, TR
    dcr2dphy_lapack::node_index(corner, e, grid);
    for (int q = 0; q < 4; ++q) {
      da.nindex(i, q + 1) = unknown(corner[q]);
      dc.nindex(i, q + 1) = da.nindex(i, q + 1);
    }

    std::array<int32_t, 3> upper{}, lower{};
    dcr2dphy_lapack::fe_node_index(upper, lower, e, model.elem[ei], grid);
    const bool air_above = std::abs(ucon[ei] - lcon[ei]) / lcon[ei] > air_contrast;
    std::array<const std::array<int32_t, 3>*, 2> triangles = {&lower, &upper};
    const int ntri = air_above ? 1 : 2;

    for (int t = 0; t < ntri; ++t) {
      const std::array<int32_t, 3>& p = *triangles[t];
      if (p[0] == 0) continue;  // no triangles for this element code
      std::array<double, 3> x{}, z{};
      std::array<int, 3> q{};  // corner position of each vertex
      for (int a = 0; a < 3; ++a) {
        x[a] = xs[static_cast<std::size_t>((*n1d)(p[a], 1) - 1)];
        z[a] = zs[static_cast<std::size_t>((*n1d)(p[a], 2) - 1)];
        for (int c = 0; c < 4; ++c)
          if (corner[c] == p[a]) q[a] = c;
      }
      const double area =
          std::abs((x[1] - x[0]) * (z[2] - z[0]) - (x[2] - x[0]) * (z[1] - z[0])) * 0.5;
      const std::array<double, 3> b = {z[1] - z[2], z[2] - z[0], z[0] - z[1]};
      const std::array<double, 3> c = {x[2] - x[1], x[0] - x[2], x[1] - x[0]};
      for (int a = 0; a < 3; ++a)
        for (int bb = 0; bb < 3; ++bb) {
          row_array(da, q[a])(i, q[bb] + 1) += (b[a] * b[bb] + c[a] * c[bb]) / (4.0 * area);
          row_array(dc, q[a])(i, q[bb] + 1) += a == bb ? 2.0 * area / 12.0 : area / 12.0;
        }
    }
  }
}

void compute_fe_dk(Sen_state& sen, const dcr2dphy::Model_inv_dcr2d& model,
                   const std::vector<double>& k) {
  compute_fe_da_dc(sen.da, sen.dc, model);
  const int32_t nfe = sen.da.n;
  const std::size_t kmax = k.size();
  std::array<std::vector<Dmatrix>*, 4> out = {&sen.dktlm, &sen.dktrm, &sen.dkbrm, &sen.dkblm};
  const std::array<const Dmatrix*, 4> a = {&sen.da.tl, &sen.da.tr, &sen.da.br, &sen.da.bl};
  const std::array<const Dmatrix*, 4> m = {&sen.dc.tl, &sen.dc.tr, &sen.dc.br, &sen.dc.bl};
  for (auto* v : out) v->assign(kmax, Dmatrix(nfe, 4, 0.0));
  sen.nindex = sen.da.nindex;
  for (std::size_t kk = 0; kk < kmax; ++kk) {
    const double k2 = k[kk] * k[kk];
    for (int r = 0; r < 4; ++r) {
      Dmatrix& dst = (*out[r])[kk];
      const double* pa = a[r]->data();
      const double* pm = m[r]->data();
      double* pd = dst.data();
      for (std::size_t q = 0; q < dst.size(); ++q) pd[q] = pa[q] + k2 * pm[q];
    }
  }
}

}  // namespace varnel::sen_dcr2d
