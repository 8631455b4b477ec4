// Derivatives of the five-point operator with respect to the conductivity of
// every element around a node, and the twelve-entry blocks of dA/dsigma_e of
// every updatable element, on flat ground (rows are grid nodes) and on uneven
// ground (rows are earth unknowns).
//
// Position codes p = 1..4 are TL, BL, BR, TR: for a node the element in that
// direction, for an element the corner in that direction.
#include "core/sensitivity/dcr2dphy_deriv.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <string>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"

namespace varnel::dcr2dphy {

namespace {

// dcm_dcr2d has room for this many wavenumbers.
constexpr int32_t dcm_wavenumbers = 8;

const Gr2d_dcr_new& grid_of(const Model_inv_dcr2d& m) {
  Gr2d_dcr_new* g = nullptr;
  m.get_grid(g);
  if (g == nullptr) fail("coefficient derivatives: the model refers to no grid");
  return *g;
}

const Gr2d_dcr_new& grid_of(const Dcr2dphy_state& s) {
  if (s.grid == nullptr) fail("coefficient derivatives: the solver has no grid");
  return *s.grid;
}

// The grid position (row iz, column ix) of every row of the derivative arrays:
// the node itself on flat ground, the grid node of the unknown otherwise.
struct Row_position {
  int32_t iz = 0, ix = 0;
};

std::vector<Row_position> flat_positions(const Gr2d_dcr_new& grid) {
  const Imatrix* n1d = nullptr;
  grid.get_node_mapping(n1d, "1dto2d");
  std::vector<Row_position> pos(static_cast<std::size_t>(grid.get_n_node()));
  for (int32_t n = 1; n <= grid.get_n_node(); ++n)
    pos[static_cast<std::size_t>(n - 1)] = {(*n1d)(n, 2), (*n1d)(n, 1)};
  return pos;
}

void check_earth(const Gr2d_dcr_new& grid, const Earth_node& node, const char* who) {
  if (node.map.size() != static_cast<std::size_t>(grid.get_n_node()) || node.numnp < 0 ||
      node.n.size() < static_cast<std::size_t>(node.numnp))
    fail(std::string(who) + ": the earth-node list does not match the grid");
}

std::vector<Row_position> earth_positions(const Gr2d_dcr_new& grid, const Earth_node& node) {
  const Imatrix* n1d = nullptr;
  grid.get_node_mapping(n1d, "1dto2d");
  std::vector<Row_position> pos(static_cast<std::size_t>(node.numnp));
  for (int32_t u = 1; u <= node.numnp; ++u) {
    const int32_t g = node.n[static_cast<std::size_t>(u - 1)];
    pos[static_cast<std::size_t>(u - 1)] = {(*n1d)(g, 2), (*n1d)(g, 1)};
  }
  return pos;
}

void require_rows(int32_t have, int32_t rows, const char* what, const char* who) {
  if (have != rows)
    fail(std::string(who) + ": " + what + " has not been computed for these " +
         std::to_string(rows) + " rows");
}

// dcl, dcr, dct, dcb, dcp and da from the dall rows; the couplings to a
// neighbour outside the grid are zeroed by the row's grid position.
void derivative_rows(Dcr2dphy_state& s, const std::vector<Row_position>& pos, const char* who) {
  Dcr2dphy_derivatives& d = s.deriv;
  if (!d.dcl.empty()) return;
  const auto rows = static_cast<int32_t>(pos.size());
  require_rows(s.dall.rows(), rows, "dall", who);
  const Dmatrix& dall = s.dall;
  const int32_t noxs = s.noxs, nozs = s.nozs;
  d.dcl.assign(rows, 2, 0.0);
  d.dcr.assign(rows, 2, 0.0);
  d.dct.assign(rows, 2, 0.0);
  d.dcb.assign(rows, 2, 0.0);
  d.dcp.assign(rows, 4, 0.0);
  d.da.assign(rows, 4, 0.0);

#pragma omp parallel for schedule(static)
  for (int32_t n = 1; n <= rows; ++n) {
    const double d1 = dall(n, 1), d2 = dall(n, 2), d3 = dall(n, 3), d4 = dall(n, 4);
    d.dcl(n, 1) = -(d1 * 0.5) / d3;  // TL
    d.dcl(n, 2) = -(d2 * 0.5) / d3;  // BL
    d.dcr(n, 1) = -(d2 * 0.5) / d4;  // BR
    d.dcr(n, 2) = -(d1 * 0.5) / d4;  // TR
  }
#pragma omp parallel for schedule(static)
  for (int32_t n = 1; n <= rows; ++n) {
    const Row_position& p = pos[static_cast<std::size_t>(n - 1)];
    if (p.ix == 1) d.dcl(n, 1) = d.dcl(n, 2) = 0.0;
    if (p.ix == noxs) d.dcr(n, 1) = d.dcr(n, 2) = 0.0;
  }
#pragma omp parallel for schedule(static)
  for (int32_t n = 1; n <= rows; ++n) {
    const double d1 = dall(n, 1), d2 = dall(n, 2), d3 = dall(n, 3), d4 = dall(n, 4);
    d.dct(n, 1) = -(d3 * 0.5) / d1;  // TL
    d.dct(n, 2) = -(d4 * 0.5) / d1;  // TR
    d.dcb(n, 1) = -(d3 * 0.5) / d2;  // BL
    d.dcb(n, 2) = -(d4 * 0.5) / d2;  // BR
  }
#pragma omp parallel for schedule(static)
  for (int32_t n = 1; n <= rows; ++n) {
    const Row_position& p = pos[static_cast<std::size_t>(n - 1)];
    if (p.iz == 1) d.dct(n, 1) = d.dct(n, 2) = 0.0;
    if (p.iz == nozs) d.dcb(n, 1) = d.dcb(n, 2) = 0.0;
  }
#pragma omp parallel for schedule(static)
  for (int32_t n = 1; n <= rows; ++n) {
    d.dcp(n, 1) = (0.0 - d.dcl(n, 1)) - d.dct(n, 1);
    d.dcp(n, 2) = (0.0 - d.dcl(n, 2)) - d.dcb(n, 1);
    d.dcp(n, 3) = (0.0 - d.dcb(n, 2)) - d.dcr(n, 1);
    d.dcp(n, 4) = (0.0 - d.dcr(n, 2)) - d.dct(n, 2);
    const double d1 = dall(n, 1), d2 = dall(n, 2), d3 = dall(n, 3), d4 = dall(n, 4);
    d.da(n, 1) = (d3 * d1) * 0.25;
    d.da(n, 2) = (d3 * d2) * 0.25;
    d.da(n, 3) = (d4 * d2) * 0.25;
    d.da(n, 4) = (d4 * d1) * 0.25;
  }
}

// dcpm: the k^2 and coupling derivatives of the diagonal plus the derivative
// of the Bessel boundary term, chosen by the row's fdindex code.
void diagonal_derivatives(Dcr2dphy_state& s, const char* who) {
  Dcr2dphy_derivatives& d = s.deriv;
  if (!d.dcpm.empty()) return;
  const int32_t rows = d.dcp.rows();
  if (d.dcp.empty()) fail(std::string(who) + ": dcp has not been computed");
  require_rows(static_cast<int32_t>(s.fdindex.size()), rows, "fdindex", who);
  require_rows(s.dall.rows(), rows, "dall", who);
  require_rows(static_cast<int32_t>(s.zatax.size()), rows, "zatax", who);
  require_rows(static_cast<int32_t>(s.zataz.size()), rows, "zataz", who);
  require_rows(s.alpha.rows(), rows, "alpha", who);
  if (s.kmax < 0 || s.alpha.cols() < s.kmax || s.k.size() < static_cast<std::size_t>(s.kmax))
    fail(std::string(who) + ": fewer wavenumbers than kmax");

  std::vector<Dmatrix> dcpm(static_cast<std::size_t>(s.kmax));
  for (int32_t kk = 1; kk <= s.kmax; ++kk) {
    Dmatrix& m = dcpm[static_cast<std::size_t>(kk - 1)];
    m.assign(rows, 4, 0.0);
    const double k = s.k[static_cast<std::size_t>(kk - 1)];
#pragma omp parallel for schedule(static)
    for (int32_t n = 1; n <= rows; ++n) {
      const auto i = static_cast<std::size_t>(n - 1);
      for (int p = 1; p <= 4; ++p) m(n, p) = d.da(n, p) * k * k + d.dcp(n, p);
      const double a = s.alpha(n, kk);
      const double d1 = s.dall(n, 1), d2 = s.dall(n, 2), d3 = s.dall(n, 3), d4 = s.dall(n, 4);
      const double cx = std::cos(s.zatax[i]), cz = std::cos(s.zataz[i]);
      switch (s.fdindex[i]) {
        case 31:  // top-left corner: the BR element's left face
          m(n, 3) += a * d2 * 0.5;
          break;
        case 32:  // top-right corner: the BL element's right face
          m(n, 2) += a * d2 * 0.5;
          break;
        case 4:  // bottom row
          m(n, 1) += a * d3 * cz * 0.5;
          m(n, 4) += a * d4 * cz * 0.5;
          break;
        case 6:  // left column
          m(n, 3) += a * d2 * cx * 0.5;
          m(n, 4) += a * d1 * cx * 0.5;
          break;
        case 7:  // right column
          m(n, 1) += a * d1 * cx * 0.5;
          m(n, 2) += a * d2 * cx * 0.5;
          break;
        case 51:  // bottom-left corner: the TR element's bottom and left faces
          m(n, 4) += a * d4 * cz * 0.5 + a * d1 * cx * 0.5;
          break;
        case 52:  // bottom-right corner: the TL element's bottom and right faces
          m(n, 1) += a * d3 * cz * 0.5 + a * d1 * cx * 0.5;
          break;
        default:  // interior and top row: no boundary term
          break;
      }
    }
  }
  d.dcpm = std::move(dcpm);
}

// The row of a grid node in the derivative arrays: the node itself, or its
// earth unknown (0 in the air).
struct Row_of {
  const Earth_node* node = nullptr;
  int32_t operator()(int32_t g) const {
    return node == nullptr ? g : node->map[static_cast<std::size_t>(g - 1)];
  }
};

// The twelve entries of element e: for each corner its row (as a grid node),
// the grid nodes of the three columns and the derivative values, for
// wavenumber kk (0: columns only).
struct Corner_triple {
  int32_t row;
  std::array<int32_t, 3> col;
  std::array<double, 3> val;
};

std::array<Corner_triple, 4> element_entries(const Dcr2dphy_state& s, int32_t e, int32_t kk,
                                             const Row_of& row_of) {
  const Dcr2dphy_derivatives& d = s.deriv;
  const auto i = static_cast<std::size_t>(e - 1);
  const int32_t t = d.indextl[i], u = d.indexbl[i], v = d.indexbr[i], w = d.indextr[i];
  const int32_t nozs = s.nozs;
  std::array<Corner_triple, 4> c = {
      Corner_triple{t, {t + 1, t + nozs, t}, {}}, Corner_triple{u, {u - 1, u + nozs, u}, {}},
      Corner_triple{v, {v - 1, v - nozs, v}, {}}, Corner_triple{w, {w + 1, w - nozs, w}, {}}};
  if (kk == 0) return c;
  const Dmatrix& dcpm = d.dcpm[static_cast<std::size_t>(kk - 1)];
  auto fill = [&](Corner_triple& ct, auto values) {
    const int32_t r = row_of(ct.row);
    if (r != 0) ct.val = values(r);
  };
  fill(c[0], [&](int32_t r) {
    return std::array<double, 3>{d.dcb(r, 2), d.dcr(r, 1), dcpm(r, 3)};
  });
  fill(c[1], [&](int32_t r) {
    return std::array<double, 3>{d.dct(r, 2), d.dcr(r, 2), dcpm(r, 4)};
  });
  fill(c[2], [&](int32_t r) {
    return std::array<double, 3>{d.dct(r, 1), d.dcl(r, 1), dcpm(r, 1)};
  });
  fill(c[3], [&](int32_t r) {
    return std::array<double, 3>{d.dcb(r, 1), d.dcl(r, 2), dcpm(r, 2)};
  });
  return c;
}

// Steps 3 and 4 of the block computation: the columns once, the values at
// every call. A corner whose row is 0 (in the air) gets no entries.
void fill_element_blocks(Dcr2dphy_state& s, const Model_inv_dcr2d& m, const Row_of& row_of,
                         const char* who) {
  Dcr2dphy_derivatives& d = s.deriv;
  const int32_t noelem = grid_of(s).get_n_element();
  if (m.g2u.size() != static_cast<std::size_t>(noelem))
    fail(std::string(who) + ": the update map does not match the grid");
  if (s.kmax > dcm_wavenumbers)
    fail(std::string(who) + ": more than " + std::to_string(dcm_wavenumbers) + " wavenumbers");
  if (static_cast<int32_t>(d.dcpm.size()) < s.kmax)
    fail(std::string(who) + ": dcpm has not been computed for every wavenumber");
  const auto updated = [&](int32_t e) { return m.g2u[static_cast<std::size_t>(e - 1)] != 0; };

  if (d.dcm_dcr2d.empty() || d.dcm_elements != noelem) {
    d.dcm_dcr2d.assign(static_cast<std::size_t>(dcm_wavenumbers) * 12 * noelem, 0.0);
    d.dcm_elements = noelem;
    d.idcm_dcr2d.assign(12, noelem, 0);
#pragma omp parallel for schedule(static)
    for (int32_t e = 1; e <= noelem; ++e) {
      if (!updated(e)) continue;
      const auto c = element_entries(s, e, 0, row_of);
      for (int q = 0; q < 4; ++q) {
        if (row_of(c[q].row) == 0) continue;
        for (int j = 0; j < 3; ++j) d.idcm_dcr2d(3 * q + j + 1, e) = row_of(c[q].col[j]);
      }
    }
  }
  for (int32_t kk = 1; kk <= s.kmax; ++kk) {
#pragma omp parallel for schedule(static)
    for (int32_t e = 1; e <= noelem; ++e) {
      if (!updated(e)) continue;
      const auto c = element_entries(s, e, kk, row_of);
      for (int q = 0; q < 4; ++q) {
        if (row_of(c[q].row) == 0) continue;
        for (int j = 0; j < 3; ++j) d.dcm_dcr2d[d.dcm_at(kk, 3 * q + j + 1, e)] = c[q].val[j];
      }
    }
  }
}

// Step 1: the grid and its counts, and the wavenumbers unless the forward
// solver has set them.
void take_grid_and_wavenumbers(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                               const std::vector<double>& wavenumber) {
  const Gr2d_dcr_new& grid = grid_of(m);
  dcr2d_set_grid(s, grid);
  dcr2d_set_noxs(s, grid.get_nx_node());
  dcr2d_set_nozs(s, grid.get_nz_node());
  dcr2d_set_numnp(s, grid.get_n_node());
  if (s.k.empty()) {
    s.k = wavenumber;
    dcr2d_set_kmax(s, static_cast<int32_t>(wavenumber.size()));
  }
}

}  // namespace

void dcr2d_fd_coefficient_derivative_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                         const std::vector<double>& wavenumber) {
  take_grid_and_wavenumbers(s, m, wavenumber);
  fd_index_cal(s);
  fd_dall_cal(s);
  fd_zata_cal(s);
  fd_alpha_cal(s);
  fd_coefficient_derivative_cal(s);
  fd_cp_coefficient_derivative_cal(s);
  element2node(s, m);
  fill_element_blocks(s, m, Row_of{}, "dcr2d_fd_coefficient_derivative_cal");
}

void dcr2d_fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                               const std::vector<double>& wavenumber,
                                               const Earth_node& node,
                                               const std::vector<int32_t>& aerow) {
  take_grid_and_wavenumbers(s, m, wavenumber);
  check_earth(grid_of(s), node, "dcr2d_fd_coefficient_derivative_earth_cal");
  fd_index_earth_cal(s, node, aerow);
  fd_dall_earth_cal(s, node);
  fd_zata_earth_cal(s, node, aerow);
  fd_alpha_earth_cal(s, node, aerow);
  fd_coefficient_derivative_earth_cal(s, node);
  fd_cp_coefficient_derivative_earth_cal(s, node, aerow);
  element2node(s, m);
  fill_element_blocks(s, m, Row_of{&node}, "dcr2d_fd_coefficient_derivative_earth_cal");
}

void fd_coefficient_derivative_cal(Dcr2dphy_state& s) {
  if (!s.deriv.dcl.empty()) return;
  derivative_rows(s, flat_positions(grid_of(s)), "fd_coefficient_derivative_cal");
}

void fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node) {
  if (!s.deriv.dcl.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  check_earth(grid, node, "fd_coefficient_derivative_earth_cal");
  derivative_rows(s, earth_positions(grid, node), "fd_coefficient_derivative_earth_cal");
}

void fd_cp_coefficient_derivative_cal(Dcr2dphy_state& s) {
  if (!s.deriv.dcpm.empty()) return;
  fd_index_cal(s);
  diagonal_derivatives(s, "fd_cp_coefficient_derivative_cal");
}

void fd_cp_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                                            const std::vector<int32_t>& aerow) {
  if (!s.deriv.dcpm.empty()) return;
  fd_index_earth_cal(s, node, aerow);
  diagonal_derivatives(s, "fd_cp_coefficient_derivative_earth_cal");
}

void element2node(Dcr2dphy_state& s, const Model_inv_dcr2d& m) {
  Dcr2dphy_derivatives& d = s.deriv;
  if (!d.indextl.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();
  const int32_t noelem = grid.get_n_element();
  const int32_t nozs = grid.get_nz_node();
  if (m.g2u.size() != static_cast<std::size_t>(noelem))
    fail("element2node: the update map does not match the grid");
  const Imatrix* e2d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");
  const auto size = static_cast<std::size_t>(noelem);
  d.indextl.assign(size, 0);
  d.indextr.assign(size, 0);
  d.indexbl.assign(size, 0);
  d.indexbr.assign(size, 0);
#pragma omp parallel for schedule(static)
  for (int32_t ix = 1; ix <= nx; ++ix)
    for (int32_t iz = 1; iz <= nz; ++iz) {
      const auto e = static_cast<std::size_t>((*e2d)(iz, ix) - 1);
      if (m.g2u[e] == 0) continue;
      const int32_t t = (ix - 1) * nozs + iz;
      d.indextl[e] = t;
      d.indexbl[e] = t + 1;
      d.indextr[e] = t + nozs;
      d.indexbr[e] = t + nozs + 1;
    }
}

}  // namespace varnel::dcr2dphy
