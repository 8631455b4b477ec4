// The five-point finite-difference operator of the 2.5-D DC problem on flat
// ground (one equation per grid node) and on uneven ground (one equation per
// earth unknown). See the header for the calling order and the lifetimes.
#include "core/forward/dcr2dphy_coef.hpp"

#include <cmath>
#include <cstddef>
#include <span>
#include <string>

#include "core/error.hpp"
#include "core/numerics/bessel.hpp"

namespace varnel::dcr2dphy {

namespace {

constexpr double half_pi = 1.5707963267948966;

// Above this value of k r the ratio K1/K0 is 1 to working precision.
constexpr double bessel_switch = 50.0;

// Read access to the grid in the 1-based notation of the formulas.
struct Grid_view {
  std::span<const double> xs_, zs_, dx_, dz_;
  const Imatrix* n2d_ = nullptr;
  const Imatrix* e2d_ = nullptr;

  explicit Grid_view(const Gr2d_dcr_new& g)
      : xs_(g.get_x_grid()), zs_(g.get_z_grid()), dx_(g.get_dx_grid()), dz_(g.get_dz_grid()) {
    g.get_node_mapping(n2d_, "2dto1d");
    g.get_element_mapping(e2d_, "2dto1d");
  }
  double xs(int32_t i) const { return xs_[static_cast<std::size_t>(i - 1)]; }
  double zs(int32_t i) const { return zs_[static_cast<std::size_t>(i - 1)]; }
  double dx(int32_t i) const { return dx_[static_cast<std::size_t>(i - 1)]; }
  double dz(int32_t i) const { return dz_[static_cast<std::size_t>(i - 1)]; }
  int32_t n2d(int32_t iz, int32_t ix) const { return (*n2d_)(iz, ix); }
  int32_t e2d(int32_t iz, int32_t ix) const { return (*e2d_)(iz, ix); }
};

// The solver's grid; the node counts of the state must be those of the grid.
const Gr2d_dcr_new& grid_of(const Dcr2dphy_state& s) {
  if (s.grid == nullptr) fail("dcr2dphy: the solver has no grid");
  if (s.noxs != s.grid->get_nx_node() || s.nozs != s.grid->get_nz_node())
    fail("dcr2dphy: the node counts do not match the grid");
  return *s.grid;
}

// As grid_of, for the flat-ground operations, which have one row per node.
const Gr2d_dcr_new& flat_grid_of(const Dcr2dphy_state& s) {
  const Gr2d_dcr_new& g = grid_of(s);
  if (s.numnp != g.get_n_node()) fail("dcr2dphy: the node count does not match the grid");
  return g;
}

void check_cond(const Dcr2dphy_state& s, const Gr2d_dcr_new& g) {
  if (s.cond.size() != static_cast<std::size_t>(g.get_n_element()))
    fail("dcr2dphy: the conductivities do not match the grid");
}

// atan(num / den) for the non-negative lengths of the boundary angles. A zero
// denominator gives pi/2 (atan of infinity); 0/0, a node at the centre
// itself, is taken as angle 0 so that no NaN reaches the operator.
double boundary_angle(double num, double den) {
  if (num == 0.0 && den == 0.0) return 0.0;
  return std::atan(num / den);
}

// An input array computed by an earlier step must exist with `rows` rows.
void require_rows(int32_t have, int32_t rows, const char* what, const char* who) {
  if (have != rows) fail(std::string(who) + ": " + what + " has not been computed for these nodes");
}

void check_wavenumbers(const Dcr2dphy_state& s, const char* who) {
  if (s.kmax < 0 || s.k.size() < static_cast<std::size_t>(s.kmax))
    fail(std::string(who) + ": fewer wavenumbers than kmax");
}

// The Bessel boundary factor of a point source at distance r, wavenumber k.
double alpha_of(double k, double r) {
  const double x = k * r;
  if (x > bessel_switch) return k;
  return k * bessel::besselk(1, x) / bessel::besselk(0, x);
}

// The grid-position values of dall for node (iz, ix): dz up, dz down,
// dx left, dx right; 1.0 where the neighbour does not exist.
void fill_dall_row(const Grid_view& g, int32_t noxs, int32_t nozs, int32_t iz, int32_t ix,
                   Dmatrix& dall, int32_t row) {
  dall(row, 1) = iz > 1 ? g.dz(iz - 1) : 1.0;
  dall(row, 2) = iz < nozs ? g.dz(iz) : 1.0;
  dall(row, 3) = ix > 1 ? g.dx(ix - 1) : 1.0;
  dall(row, 4) = ix < noxs ? g.dx(ix) : 1.0;
}

// Step 2 of the c_all fill for node (iz, ix): the conductivity of each
// existing surrounding element goes into both of its columns.
void fill_call_row(const Grid_view& g, const std::vector<double>& cond, int32_t noxs, int32_t nozs,
                   int32_t iz, int32_t ix, Dmatrix& c_all, int32_t row) {
  auto sigma = [&](int32_t ez, int32_t ex) {
    return cond[static_cast<std::size_t>(g.e2d(ez, ex) - 1)];
  };
  if (iz > 1 && ix > 1) c_all(row, 1) = c_all(row, 2) = sigma(iz - 1, ix - 1);  // TL
  if (iz < nozs && ix > 1) c_all(row, 3) = c_all(row, 4) = sigma(iz, ix - 1);   // BL
  if (iz < nozs && ix < noxs) c_all(row, 5) = c_all(row, 6) = sigma(iz, ix);    // BR
  if (iz > 1 && ix < noxs) c_all(row, 7) = c_all(row, 8) = sigma(iz - 1, ix);   // TR
}

// Step 3 of the c_all fill: column j times its half-face length, the dall
// column half_face[j].
void scale_call_columns(Dmatrix& c_all, const Dmatrix& dall) {
  static constexpr int half_face[9] = {0, 1, 3, 3, 2, 2, 4, 4, 1};
  const int32_t rows = c_all.rows();
#pragma omp parallel for schedule(static)
  for (int j = 1; j <= 8; ++j)
    for (int32_t n = 1; n <= rows; ++n) c_all(n, j) *= dall(n, half_face[j]);
}

// The couplings and the control-box area of row n from its c_all and dall.
void coefficient_row(Dcr2dphy_state& s, int32_t n) {
  const Dmatrix& c = s.c_all;
  const Dmatrix& d = s.dall;
  const auto i = static_cast<std::size_t>(n - 1);
  s.cl[i] = -((c(n, 1) + c(n, 4)) * 0.5) / d(n, 3);
  s.cr[i] = -((c(n, 8) + c(n, 5)) * 0.5) / d(n, 4);
  s.ct[i] = -((c(n, 2) + c(n, 7)) * 0.5) / d(n, 1);
  s.cb[i] = -((c(n, 3) + c(n, 6)) * 0.5) / d(n, 2);
  s.a_parameter[i] =
      (c(n, 2) * d(n, 1) + d(n, 1) * c(n, 7) + c(n, 3) * d(n, 2) + d(n, 2) * c(n, 6)) * 0.25;
}

void allocate_coefficients(Dcr2dphy_state& s, int32_t rows) {
  const auto n = static_cast<std::size_t>(rows);
  s.cl.assign(n, 0.0);
  s.cr.assign(n, 0.0);
  s.ct.assign(n, 0.0);
  s.cb.assign(n, 0.0);
  s.cp.assign(n, 0.0);
  s.a_parameter.assign(n, 0.0);
  s.c_matrix.assign(rows, 5, 0.0);
}

// The stencil entries of row `row` for a node at grid position (iz, ix).
void fill_stencil_row(Dcr2dphy_state& s, int32_t noxs, int32_t nozs, int32_t iz, int32_t ix,
                      int32_t row) {
  const auto i = static_cast<std::size_t>(row - 1);
  if (ix > 1) s.c_matrix(row, 1) = s.cl[i];
  if (iz > 1) s.c_matrix(row, 2) = s.ct[i];
  if (iz < nozs) s.c_matrix(row, 4) = s.cb[i];
  if (ix < noxs) s.c_matrix(row, 5) = s.cr[i];
}

// The wavenumber k(kindex), after checking that the diagonal can be formed
// from arrays of `rows` rows.
double wavenumber_for_diagonal(const Dcr2dphy_state& s, int32_t rows, int32_t kindex,
                               const char* who) {
  require_rows(s.c_matrix.rows(), rows, "c_matrix", who);
  require_rows(s.c_all.rows(), rows, "c_all", who);
  require_rows(s.alpha.rows(), rows, "alpha", who);
  require_rows(static_cast<int32_t>(s.zatax.size()), rows, "zatax", who);
  require_rows(static_cast<int32_t>(s.zataz.size()), rows, "zataz", who);
  if (kindex < 1 || kindex > s.alpha.cols() || static_cast<std::size_t>(kindex) > s.k.size())
    fail(std::string(who) + ": wavenumber index out of range");
  return s.k[static_cast<std::size_t>(kindex - 1)];
}

// diag = a_parameter k^2 + cp for every row.
void fill_diagonal(const Dcr2dphy_state& s, double k, std::span<double> diag) {
  for (std::size_t i = 0; i < diag.size(); ++i) diag[i] = s.a_parameter[i] * k * k + s.cp[i];
}

// The boundary terms shared by both variants, added to the diagonal diag;
// row n, wavenumber column kk.
struct Boundary_terms {
  const Dcr2dphy_state& s;
  int32_t kk;
  std::span<double> diag;

  double c(int32_t n, int j) const { return s.c_all(n, j); }
  double a(int32_t n) const { return s.alpha(n, kk); }
  double cos_x(int32_t n) const { return std::cos(s.zatax[static_cast<std::size_t>(n - 1)]); }
  double cos_z(int32_t n) const { return std::cos(s.zataz[static_cast<std::size_t>(n - 1)]); }
  void add(int32_t n, double term) const { diag[static_cast<std::size_t>(n - 1)] += term; }

  void top_left(int32_t n) const { add(n, c(n, 5) * a(n) * 0.5); }
  void top_right(int32_t n) const { add(n, c(n, 4) * a(n) * 0.5); }
  void bottom(int32_t n) const { add(n, (c(n, 2) + c(n, 7)) * a(n) * cos_z(n) * 0.5); }
  void bottom_left(int32_t n) const {
    add(n, c(n, 7) * a(n) * cos_z(n) * 0.5 + a(n) * c(n, 8) * cos_x(n) * 0.5);
  }
  void bottom_right(int32_t n) const {
    add(n, c(n, 2) * a(n) * cos_z(n) * 0.5 + a(n) * c(n, 1) * cos_x(n) * 0.5);
  }
  void left(int32_t n) const { add(n, (c(n, 5) + c(n, 8)) * a(n) * cos_x(n) * 0.5); }
  void right(int32_t n) const { add(n, (c(n, 4) + c(n, 1)) * a(n) * cos_x(n) * 0.5); }
};

// Column 3 of c_matrix as a span.
std::span<double> diagonal_column(Dcr2dphy_state& s) {
  return {&s.c_matrix(1, 3), static_cast<std::size_t>(s.c_matrix.rows())};
}

// The unknowns of the earth variants: the unknown of grid node (iz, ix), 0 for
// a node in the air or a position outside the grid.
struct Earth_view {
  const Grid_view& g;
  const Earth_node& node;
  int32_t noxs, nozs;

  int32_t u(int32_t iz, int32_t ix) const {
    if (iz < 1 || iz > nozs || ix < 1 || ix > noxs) return 0;
    return node.map[static_cast<std::size_t>(g.n2d(iz, ix) - 1)];
  }
};

// The row of the surface node of node column ix. A column without an earth
// element (aerow 0) keeps all its nodes, as in the earth-node list, so its
// surface is row 1.
void check_earth(const Gr2d_dcr_new& grid, const Earth_node& node,
                 const std::vector<int32_t>* aerow, const char* who) {
  if (node.map.size() != static_cast<std::size_t>(grid.get_n_node()) || node.numnp < 0)
    fail(std::string(who) + ": the earth-node list does not match the grid");
  if (aerow != nullptr && aerow->size() < static_cast<std::size_t>(grid.get_nx_node()))
    fail(std::string(who) + ": fewer interface rows than node columns");
}

int32_t aerow_of(const std::vector<int32_t>& aerow, int32_t ix) {
  const int32_t row = aerow[static_cast<std::size_t>(ix - 1)];
  return row >= 1 ? row : 1;
}

// The centre of the boundary condition on uneven ground: the surface node of
// node column noxs / 2 (a one-column grid uses column 1).
struct Centre {
  double xc, zc;
};

Centre earth_centre(const Grid_view& g, const std::vector<int32_t>& aerow, int32_t noxs) {
  const int32_t ic = noxs / 2 >= 1 ? noxs / 2 : 1;
  return {g.xs(ic), g.zs(aerow_of(aerow, ic))};
}

}  // namespace

// ---------------------------------------------------------------------------
// Flat ground
// ---------------------------------------------------------------------------

void fd_index_cal(Dcr2dphy_state& s) {
  if (!s.fdindex.empty()) return;
  const Grid_view g(flat_grid_of(s));
  const int32_t noxs = s.noxs, nozs = s.nozs;
  s.fdindex.assign(static_cast<std::size_t>(s.numnp), 0);
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz) {
      int32_t code = 1;
      if (iz == 1)
        code = ix == 1 ? 31 : (ix == noxs ? 32 : 2);
      else if (iz == nozs)
        code = ix == 1 ? 51 : (ix == noxs ? 52 : 4);
      else if (ix == 1)
        code = 6;
      else if (ix == noxs)
        code = 7;
      s.fdindex[static_cast<std::size_t>(g.n2d(iz, ix) - 1)] = code;
    }
}

void fd_dall_cal(Dcr2dphy_state& s) {
  if (!s.dall.empty()) return;
  const Grid_view g(flat_grid_of(s));
  s.dall.assign(s.numnp, 4, 0.0);
  for (int32_t ix = 1; ix <= s.noxs; ++ix)
    for (int32_t iz = 1; iz <= s.nozs; ++iz)
      fill_dall_row(g, s.noxs, s.nozs, iz, ix, s.dall, g.n2d(iz, ix));
}

void fd_zata_cal(Dcr2dphy_state& s) {
  if (!s.zatax.empty()) return;
  const Grid_view g(flat_grid_of(s));
  const int32_t noxs = s.noxs, nozs = s.nozs;
  s.zatax.assign(static_cast<std::size_t>(s.numnp), 0.0);
  s.zataz.assign(static_cast<std::size_t>(s.numnp), 0.0);
  auto at = [](std::vector<double>& v, int32_t n) -> double& {
    return v[static_cast<std::size_t>(n - 1)];
  };
  const double xc = (g.xs(noxs) + g.xs(1)) * 0.5;
  const double zc = 0.0;

  for (int32_t ix = 1; ix <= noxs; ++ix)
    at(s.zataz, g.n2d(nozs, ix)) =
        boundary_angle(std::abs(xc - g.xs(ix)), std::abs(zc - g.zs(nozs)));
  for (int32_t n : {g.n2d(nozs, 1), g.n2d(nozs, noxs)}) at(s.zatax, n) = half_pi - at(s.zataz, n);
  if (nozs <= 1) return;
  for (int32_t iz = 2; iz <= nozs; ++iz)
    at(s.zatax, g.n2d(iz, 1)) = boundary_angle(std::abs(zc - g.zs(iz)), std::abs(xc - g.xs(1)));
  for (int32_t iz = 2; iz <= nozs; ++iz)
    at(s.zatax, g.n2d(iz, noxs)) =
        boundary_angle(std::abs(zc - g.zs(iz)), std::abs(xc - g.xs(noxs)));
}

void fd_alpha_cal(Dcr2dphy_state& s) {
  if (!s.alpha.empty()) return;
  check_wavenumbers(s, "fd_alpha_cal");
  const Gr2d_dcr_new& grid = flat_grid_of(s);
  const Grid_view g(grid);
  const std::span<const double> nd = grid.get_node_distance();
  const int32_t noxs = s.noxs, nozs = s.nozs;
  s.alpha.assign(s.numnp, s.kmax, 0.0);
  for (int32_t kk = 1; kk <= s.kmax; ++kk) {
    const double k = s.k[static_cast<std::size_t>(kk - 1)];
    auto set = [&](int32_t n) {
      s.alpha(n, kk) = alpha_of(k, nd[static_cast<std::size_t>(n - 1)]);
    };
    for (int32_t iz = 1; iz <= nozs; ++iz) set(g.n2d(iz, 1));
    for (int32_t iz = 1; iz <= nozs; ++iz) set(g.n2d(iz, noxs));
    for (int32_t ix = 1; ix <= noxs; ++ix) set(g.n2d(nozs, ix));
  }
}

void fd_call_cal(Dcr2dphy_state& s) {
  if (!s.c_all.empty()) return;
  const Gr2d_dcr_new& grid = flat_grid_of(s);
  check_cond(s, grid);
  require_rows(s.dall.rows(), s.numnp, "dall", "fd_call_cal");
  const Grid_view g(grid);
  const int32_t noxs = s.noxs, nozs = s.nozs;
  s.c_all.assign(s.numnp, 8, 0.0);
  // Each thread fills the rows of the nodes of its own columns.
#pragma omp parallel for schedule(static)
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz)
      fill_call_row(g, s.cond, noxs, nozs, iz, ix, s.c_all, g.n2d(iz, ix));
  scale_call_columns(s.c_all, s.dall);
}

void fd_coefficient_cal(Dcr2dphy_state& s) {
  if (!s.c_matrix.empty()) return;
  const Grid_view g(flat_grid_of(s));
  require_rows(s.dall.rows(), s.numnp, "dall", "fd_coefficient_cal");
  require_rows(s.c_all.rows(), s.numnp, "c_all", "fd_coefficient_cal");
  allocate_coefficients(s, s.numnp);
  for (int32_t n = 1; n <= s.numnp; ++n) {
    coefficient_row(s, n);
    const auto i = static_cast<std::size_t>(n - 1);
    s.cp[i] = -(s.cl[i] + s.cr[i] + s.ct[i] + s.cb[i]);
  }
  for (int32_t ix = 1; ix <= s.noxs; ++ix)
    for (int32_t iz = 1; iz <= s.nozs; ++iz)
      fill_stencil_row(s, s.noxs, s.nozs, iz, ix, g.n2d(iz, ix));
}

void fd_cp_coefficient_cal(Dcr2dphy_state& s, int32_t kindex) {
  fd_diagonal_cal(s, kindex, diagonal_column(s));
}

void fd_diagonal_cal(const Dcr2dphy_state& s, int32_t kindex, std::span<double> diag) {
  const double k = wavenumber_for_diagonal(s, s.numnp, kindex, "fd_cp_coefficient_cal");
  if (diag.size() != static_cast<std::size_t>(s.numnp))
    fail("fd_cp_coefficient_cal: the diagonal does not have one entry per node");
  const Grid_view g(flat_grid_of(s));
  const int32_t noxs = s.noxs, nozs = s.nozs;
  fill_diagonal(s, k, diag);

  const Boundary_terms b{s, kindex, diag};
  b.top_left(g.n2d(1, 1));
  b.top_right(g.n2d(1, noxs));
  for (int32_t ix = 2; ix <= noxs - 1; ++ix) b.bottom(g.n2d(nozs, ix));
  b.bottom_left(g.n2d(nozs, 1));
  b.bottom_right(g.n2d(nozs, noxs));
  for (int32_t iz = 2; iz <= nozs - 1; ++iz) b.left(g.n2d(iz, 1));
  for (int32_t iz = 2; iz <= nozs - 1; ++iz) b.right(g.n2d(iz, noxs));
}

// ---------------------------------------------------------------------------
// Uneven ground: rows are earth unknowns
// ---------------------------------------------------------------------------

void fd_index_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow) {
  if (!s.fdindex.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "fd_index_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  s.fdindex.assign(static_cast<std::size_t>(node.numnp), 1);
  auto set = [&](int32_t iz, int32_t ix, int32_t code) {
    const int32_t u = e.u(iz, ix);
    if (u != 0) s.fdindex[static_cast<std::size_t>(u - 1)] = code;
  };
  for (int32_t ix = 2; ix <= noxs - 1; ++ix) set(aerow_of(aerow, ix), ix, 2);
  set(aerow_of(aerow, 1), 1, 31);
  set(aerow_of(aerow, noxs), noxs, 32);
  for (int32_t iz = aerow_of(aerow, 1) + 1; iz <= nozs - 1; ++iz) set(iz, 1, 6);
  for (int32_t iz = aerow_of(aerow, noxs) + 1; iz <= nozs - 1; ++iz) set(iz, noxs, 7);
  set(nozs, 1, 51);
  set(nozs, noxs, 52);
  for (int32_t ix = 2; ix <= noxs - 1; ++ix) set(nozs, ix, 4);
}

void fd_dall_earth_cal(Dcr2dphy_state& s, const Earth_node& node) {
  if (!s.dall.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, nullptr, "fd_dall_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  s.dall.assign(node.numnp, 4, 0.0);
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz)
      if (const int32_t u = e.u(iz, ix); u != 0) fill_dall_row(g, noxs, nozs, iz, ix, s.dall, u);
}

void fd_zata_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow) {
  if (!s.zatax.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "fd_zata_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  s.zatax.assign(static_cast<std::size_t>(node.numnp), 0.0);
  s.zataz.assign(static_cast<std::size_t>(node.numnp), 0.0);
  auto at = [](std::vector<double>& v, int32_t u) -> double& {
    return v[static_cast<std::size_t>(u - 1)];
  };
  const auto [xc, zc] = earth_centre(g, aerow, noxs);

  for (int32_t ix = 1; ix <= noxs; ++ix)
    if (const int32_t u = e.u(nozs, ix); u != 0)
      at(s.zataz, u) = boundary_angle(std::abs(xc - g.xs(ix)), std::abs(zc - g.zs(nozs)));
  for (int32_t ix : {1, noxs})
    if (const int32_t u = e.u(nozs, ix); u != 0) at(s.zatax, u) = half_pi - at(s.zataz, u);
  if (nozs <= 1) return;
  for (int32_t ix : {1, noxs})
    for (int32_t iz = 2; iz <= nozs; ++iz)
      if (const int32_t u = e.u(iz, ix); u != 0)
        at(s.zatax, u) = boundary_angle(std::abs(zc - g.zs(iz)), std::abs(xc - g.xs(ix)));
}

void cal_node_distance_earth(const Gr2d_dcr_new& grid, const Earth_node& node,
                             const std::vector<int32_t>& aerow, std::vector<double>& nd) {
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "cal_node_distance_earth");
  const int32_t noxs = grid.get_nx_node(), nozs = grid.get_nz_node();
  const Earth_view e{g, node, noxs, nozs};
  const auto [xc, zc] = earth_centre(g, aerow, noxs);
  nd.assign(static_cast<std::size_t>(node.numnp), 0.0);
  auto set = [&](int32_t iz, int32_t ix) {
    if (const int32_t u = e.u(iz, ix); u != 0) {
      const double ddx = g.xs(ix) - xc, ddz = g.zs(iz) - zc;
      nd[static_cast<std::size_t>(u - 1)] = std::sqrt(ddx * ddx + ddz * ddz);
    }
  };
  for (int32_t iz = 1; iz <= nozs; ++iz) set(iz, 1);
  for (int32_t iz = 1; iz <= nozs; ++iz) set(iz, noxs);
  for (int32_t ix = 2; ix <= noxs - 1; ++ix) set(nozs, ix);
}

void fd_alpha_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow) {
  if (!s.alpha.empty()) return;
  check_wavenumbers(s, "fd_alpha_earth_cal");
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "fd_alpha_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  std::vector<double> nd;
  cal_node_distance_earth(grid, node, aerow, nd);
  s.alpha.assign(node.numnp, s.kmax, 0.0);
  for (int32_t kk = 1; kk <= s.kmax; ++kk) {
    const double k = s.k[static_cast<std::size_t>(kk - 1)];
    auto set = [&](int32_t iz, int32_t ix) {
      if (const int32_t u = e.u(iz, ix); u != 0)
        s.alpha(u, kk) = alpha_of(k, nd[static_cast<std::size_t>(u - 1)]);
    };
    for (int32_t iz = 1; iz <= nozs; ++iz) set(iz, 1);
    for (int32_t iz = 1; iz <= nozs; ++iz) set(iz, noxs);
    for (int32_t ix = 1; ix <= noxs; ++ix) set(nozs, ix);
  }
}

void fd_call_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow) {
  if (!s.c_all.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "fd_call_earth_cal");
  check_cond(s, grid);
  require_rows(s.dall.rows(), node.numnp, "dall", "fd_call_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  s.c_all.assign(node.numnp, 8, 0.0);
  // The unknowns of different node columns are different rows of c_all.
#pragma omp parallel for schedule(static)
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = aerow_of(aerow, ix); iz <= nozs; ++iz)
      if (const int32_t u = e.u(iz, ix); u != 0)
        fill_call_row(g, s.cond, noxs, nozs, iz, ix, s.c_all, u);
  scale_call_columns(s.c_all, s.dall);
}

void fd_coefficient_earth_cal(Dcr2dphy_state& s, const Earth_node& node) {
  if (!s.c_matrix.empty()) return;
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, nullptr, "fd_coefficient_earth_cal");
  require_rows(s.dall.rows(), node.numnp, "dall", "fd_coefficient_earth_cal");
  require_rows(s.c_all.rows(), node.numnp, "c_all", "fd_coefficient_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  const int32_t unknowns = node.numnp;
  allocate_coefficients(s, unknowns);
#pragma omp parallel for schedule(static)
  for (int32_t u = 1; u <= unknowns; ++u) coefficient_row(s, u);
  for (std::size_t i = 0; i < static_cast<std::size_t>(unknowns); ++i)
    s.cp[i] = -(s.cl[i] + s.cr[i] + s.ct[i] + s.cb[i]);
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz)
      if (const int32_t u = e.u(iz, ix); u != 0) fill_stencil_row(s, noxs, nozs, iz, ix, u);
}

void fd_cp_coefficient_earth_cal(Dcr2dphy_state& s, int32_t kindex, const Earth_node& node,
                                 const std::vector<int32_t>& aerow) {
  fd_diagonal_earth_cal(s, kindex, node, aerow, diagonal_column(s));
}

void fd_diagonal_earth_cal(const Dcr2dphy_state& s, int32_t kindex, const Earth_node& node,
                           const std::vector<int32_t>& aerow, std::span<double> diag) {
  const double k = wavenumber_for_diagonal(s, node.numnp, kindex, "fd_cp_coefficient_earth_cal");
  if (diag.size() != static_cast<std::size_t>(node.numnp))
    fail("fd_cp_coefficient_earth_cal: the diagonal does not have one entry per unknown");
  const Gr2d_dcr_new& grid = grid_of(s);
  const Grid_view g(grid);
  check_earth(grid, node, &aerow, "fd_cp_coefficient_earth_cal");
  const int32_t noxs = s.noxs, nozs = s.nozs;
  const Earth_view e{g, node, noxs, nozs};
  fill_diagonal(s, k, diag);

  const Boundary_terms b{s, kindex, diag};
  auto apply = [&](int32_t iz, int32_t ix, void (Boundary_terms::*term)(int32_t) const) {
    if (const int32_t u = e.u(iz, ix); u != 0) (b.*term)(u);
  };
  // Top corners only where the grid's top node is in the earth.
  apply(1, 1, &Boundary_terms::top_left);
  apply(1, noxs, &Boundary_terms::top_right);
  // The end columns from their surface node down, the surface node included.
  for (int32_t iz = aerow_of(aerow, 1); iz <= nozs - 1; ++iz) apply(iz, 1, &Boundary_terms::left);
  for (int32_t iz = aerow_of(aerow, noxs); iz <= nozs - 1; ++iz)
    apply(iz, noxs, &Boundary_terms::right);
  for (int32_t ix = 2; ix <= noxs - 1; ++ix) apply(nozs, ix, &Boundary_terms::bottom);
  apply(nozs, 1, &Boundary_terms::bottom_left);
  apply(nozs, noxs, &Boundary_terms::bottom_right);
}

// ---------------------------------------------------------------------------
// Release
// ---------------------------------------------------------------------------

void release_conductivity_arrays(Dcr2dphy_state& s) {
  s.c_all = Dmatrix{};
  s.c_matrix = Dmatrix{};
  s.cl = {};
  s.cr = {};
  s.ct = {};
  s.cb = {};
  s.cp = {};
  s.a_parameter = {};
}

void cleanup_physics_dcr2d(Dcr2dphy_state& s) {
  s.fdindex = {};
  s.dall = Dmatrix{};
  s.zatax = {};
  s.zataz = {};
  s.alpha = Dmatrix{};
  release_conductivity_arrays(s);
  s.cond = {};
  s.k = {};
  s.deriv = Dcr2dphy_derivatives{};  // the coefficient derivatives of the sensitivities
}

}  // namespace varnel::dcr2dphy
