// The finite-element derivative blocks: for every finite-element element, the
// stiffness and mass entries of its triangles per unit conductivity, in the
// rows and columns of its four corners, and their combination da + k^2 dc per
// wavenumber; for the "fe" solver also the derivative of its Bessel boundary
// terms.
#include "core/sensitivity/sen_dcr2d.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/numerics/bessel.hpp"

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

// What the element blocks read of the grid.
struct Element_geometry {
  const dcr2dphy::Gr2d_dcr_new& grid;
  std::span<const double> xs, zs;
  const Imatrix& n1d;  // node -> (column, row)
};

using Block4 = std::array<std::array<double, 4>, 4>;

// An element's corners (TL, BL, BR, TR, as grid nodes), its two triangles,
// and the stiffness and mass per unit conductivity of the triangles that take
// its conductivity, in the rows and columns of the corners.
struct Element_block {
  std::array<int32_t, 4> corner{};
  Block4 stiffness{}, mass{};
  std::array<int32_t, 3> upper{}, lower{};
  bool upper_counts = false;
};

// The corner position (0 TL, 1 BL, 2 BR, 3 TR) of every vertex of a triangle.
std::array<int, 3> corner_positions(const std::array<int32_t, 3>& p,
                                    const std::array<int32_t, 4>& corner) {
  std::array<int, 3> q{};
  for (int a = 0; a < 3; ++a)
    for (int c = 0; c < 4; ++c)
      if (corner[c] == p[a]) q[a] = c;
  return q;
}

// The block of element e of code etype with upper and lower conductivities
// ucon and lcon: the lower triangle always takes the element's conductivity,
// the upper one unless it is the air part of a cut element.
Element_block element_block(const Element_geometry& g, int32_t e, int32_t etype, double ucon,
                            double lcon) {
  Element_block b;
  dcr2dphy_lapack::node_index(b.corner, e, g.grid);
  dcr2dphy_lapack::fe_node_index(b.upper, b.lower, e, etype, g.grid);
  b.upper_counts = !(std::abs(ucon - lcon) / lcon > air_contrast);
  std::array<const std::array<int32_t, 3>*, 2> triangles = {&b.lower, &b.upper};
  const int ntri = b.upper_counts ? 2 : 1;
  for (int t = 0; t < ntri; ++t) {
    const std::array<int32_t, 3>& p = *triangles[t];
    if (p[0] == 0) continue;  // no triangles for this element code
    std::array<double, 3> x{}, z{};
    for (int a = 0; a < 3; ++a) {
      x[a] = g.xs[static_cast<std::size_t>(g.n1d(p[a], 1) - 1)];
      z[a] = g.zs[static_cast<std::size_t>(g.n1d(p[a], 2) - 1)];
    }
    const std::array<int, 3> q = corner_positions(p, b.corner);
    const double area =
        std::abs((x[1] - x[0]) * (z[2] - z[0]) - (x[2] - x[0]) * (z[1] - z[0])) * 0.5;
    const std::array<double, 3> bb = {z[1] - z[2], z[2] - z[0], z[0] - z[1]};
    const std::array<double, 3> cc = {x[2] - x[1], x[0] - x[2], x[1] - x[0]};
    for (int a = 0; a < 3; ++a)
      for (int c = 0; c < 3; ++c) {
        b.stiffness[q[a]][q[c]] += (bb[a] * bb[c] + cc[a] * cc[c]) / (4.0 * area);
        b.mass[q[a]][q[c]] += a == c ? 2.0 * area / 12.0 : area / 12.0;
      }
  }
  return b;
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

  const Element_geometry geo{grid, xs, zs, *n1d};
#pragma omp parallel for schedule(static)
  for (int32_t i = 1; i <= nfe; ++i) {
    const int32_t e = model.fecell[static_cast<std::size_t>(i - 1)];
    const auto ei = static_cast<std::size_t>(e - 1);
    if (!isupdated[ei]) continue;
    const Element_block b = element_block(geo, e, model.elem[ei], ucon[ei], lcon[ei]);
    for (int q = 0; q < 4; ++q) {
      da.nindex(i, q + 1) = unknown(b.corner[q]);
      dc.nindex(i, q + 1) = da.nindex(i, q + 1);
      for (int p = 0; p < 4; ++p) {
        row_array(da, q)(i, p + 1) = b.stiffness[q][p];
        row_array(dc, q)(i, p + 1) = b.mass[q][p];
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

namespace {

// Above this argument K1 / K0 is taken as 1, as the solver does.
constexpr double bessel_limit = 50.0;

// The Bessel boundary terms of the "fe" solver per unit conductivity: for
// every boundary edge of an element with triangles, b = k cos(theta)
// K1(k r) / K0(k r) L / 6 (without the Bessel ratio when k r > 50), spread
// as 2b on the diagonal and b off it over the triangle that holds the edge.
// The edges and the distance r follow the solver: the left column, the right
// column and the bottom row in turn, r held per element (a bottom corner
// element uses the distance of its bottom edge for its side edge too).
void add_boundary_terms(Fe_element_blocks& out, const dcr2dphy::Model_inv_dcr2d& model,
                        const std::vector<double>& k, const Element_geometry& g,
                        const std::vector<double>& ucon, const std::vector<double>& lcon) {
  using dcr2dphy_lapack::Fe_edge;
  const int32_t nx = g.grid.get_nx_element(), nz = g.grid.get_nz_element();
  const int32_t noxs = g.grid.get_nx_node();
  if (nx < 1 || nz < 1) return;
  const double xcen = g.xs[static_cast<std::size_t>(noxs / 2 - 1)];
  const Imatrix* e2d = nullptr;
  g.grid.get_element_mapping(e2d, "2dto1d");
  const auto has_triangles = [&](int32_t e) {
    return model.elem[static_cast<std::size_t>(e - 1)] != 1;
  };
  std::array<std::vector<int32_t>, 3> en;
  for (int32_t iz = 1; iz <= nz; ++iz)
    if (has_triangles((*e2d)(iz, 1))) en[0].push_back((*e2d)(iz, 1));
  for (int32_t iz = 1; iz <= nz; ++iz)
    if (has_triangles((*e2d)(iz, nx))) en[1].push_back((*e2d)(iz, nx));
  for (int32_t ix = 1; ix <= nx; ++ix)
    if (has_triangles((*e2d)(nz, ix))) en[2].push_back((*e2d)(nz, ix));
  const std::array<Fe_edge, 3> side = {Fe_edge::left, Fe_edge::right, Fe_edge::bottom};

  std::array<std::vector<double>, 3> dist, length, cosine;
  std::vector<double> element_dist(static_cast<std::size_t>(g.grid.get_n_element()), 0.0);
  for (int s = 0; s < 3; ++s) {
    dcr2dphy_lapack::compute_fe_dist_angle(dist[s], length[s], cosine[s], en[s], side[s], g.xs,
                                           g.zs, xcen, g.grid);
    for (std::size_t q = 0; q < en[s].size(); ++q)
      element_dist[static_cast<std::size_t>(en[s][q] - 1)] = dist[s][q];
  }

  for (int s = 0; s < 3; ++s)
    for (std::size_t q = 0; q < en[s].size(); ++q) {
      const int32_t e = en[s][q];
      const auto ei = static_cast<std::size_t>(e - 1);
      const int32_t at = out.position[ei];
      if (at == 0) continue;
      const int32_t etype = model.elem[ei];
      const Element_block b = element_block(g, e, etype, ucon[ei], lcon[ei]);
      const bool use_upper =
          (side[s] == Fe_edge::left && etype == 3) || (side[s] == Fe_edge::right && etype == 2);
      if (use_upper && !b.upper_counts) continue;  // the edge belongs to the air
      const std::array<int32_t, 3>& tri = use_upper ? b.upper : b.lower;
      if (tri[0] == 0) continue;
      const std::array<int, 3> pos = corner_positions(tri, b.corner);
      for (std::size_t kk = 0; kk < k.size(); ++kk) {
        const double x = k[kk] * element_dist[ei];
        double beta = k[kk] * cosine[s][q];
        if (x <= bessel_limit) beta *= bessel::besselk(1, x) / bessel::besselk(0, x);
        const double bb = beta * length[s][q] / 6.0;
        for (int a = 0; a < 3; ++a)
          for (int c = 0; c < 3; ++c)
            out.dk[kk](4 * pos[a] + pos[c] + 1, at) += a == c ? 2.0 * bb : bb;
      }
    }
}

}  // namespace

void compute_fe_element_blocks(Fe_element_blocks& out, const dcr2dphy::Model_inv_dcr2d& model,
                               const std::vector<double>& k, std::string_view solver) {
  dcr2dphy::Gr2d_dcr_new* gp = nullptr;
  model.get_grid(gp);
  if (gp == nullptr) fail("compute_fe_element_blocks: the model refers to no grid");
  const dcr2dphy::Gr2d_dcr_new& grid = *gp;
  const auto noelem = static_cast<std::size_t>(grid.get_n_element());
  const bool fe = solver == "fe";
  const bool earth = model.node.numnp != 0;
  std::vector<double> ucon, lcon;
  model.get_fe_ucon_fwd(ucon);
  model.get_fe_lcon_fwd(lcon);
  if (model.g2u.size() != noelem || model.elem.size() != noelem || ucon.size() != noelem ||
      lcon.size() != noelem)
    fail("compute_fe_element_blocks: the model's element arrays do not match the grid");
  if (earth && model.node.map.size() != static_cast<std::size_t>(grid.get_n_node()))
    fail("compute_fe_element_blocks: the earth-node list does not match the grid");

  // The elements with blocks: in "fe" every updated element with triangles;
  // in "hy" those of them that are not in the fecell list (the ring of
  // elements around the cut ones), whose fecell blocks exist already.
  std::vector<bool> listed(noelem, false);
  if (!fe) {
    if (model.nfe < 0 || model.fecell.size() < static_cast<std::size_t>(model.nfe))
      fail("compute_fe_element_blocks: the model's fecell list is shorter than nfe");
    for (int32_t i = 0; i < model.nfe; ++i) {
      const int32_t e = model.fecell[static_cast<std::size_t>(i)];
      if (e < 1 || static_cast<std::size_t>(e) > noelem)
        fail("compute_fe_element_blocks: fecell holds element " + std::to_string(e) +
             ", which is not in the grid");
      listed[static_cast<std::size_t>(e - 1)] = true;
    }
  }
  out.solver = std::string(solver);
  out.position.assign(noelem, 0);
  std::vector<int32_t> elements;
  for (std::size_t e = 0; e < noelem; ++e)
    if (model.g2u[e] != 0 && model.elem[e] != 1 && !listed[e]) {
      elements.push_back(static_cast<int32_t>(e) + 1);
      out.position[e] = static_cast<int32_t>(elements.size());
    }
  const auto count = static_cast<int32_t>(elements.size());
  out.nindex.assign(4, count, 0);
  out.dk.assign(k.size(), Dmatrix(16, count, 0.0));

  const auto xs = grid.get_x_grid();
  const auto zs = grid.get_z_grid();
  const Imatrix* n1d = nullptr;
  grid.get_node_mapping(n1d, "1dto2d");
  const Element_geometry geo{grid, xs, zs, *n1d};
#pragma omp parallel for schedule(static)
  for (int32_t i = 1; i <= count; ++i) {
    const int32_t e = elements[static_cast<std::size_t>(i - 1)];
    const auto ei = static_cast<std::size_t>(e - 1);
    const Element_block b = element_block(geo, e, model.elem[ei], ucon[ei], lcon[ei]);
    for (int q = 0; q < 4; ++q)
      out.nindex(q + 1, i) =
          earth ? model.node.map[static_cast<std::size_t>(b.corner[q] - 1)] : b.corner[q];
    for (std::size_t kk = 0; kk < k.size(); ++kk) {
      const double k2 = k[kk] * k[kk];
      for (int q = 0; q < 4; ++q)
        for (int p = 0; p < 4; ++p)
          out.dk[kk](4 * q + p + 1, i) = b.stiffness[q][p] + k2 * b.mass[q][p];
    }
  }
  if (fe) add_boundary_terms(out, model, k, geo, ucon, lcon);
}

}  // namespace varnel::sen_dcr2d
