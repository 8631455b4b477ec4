#include "core/forward/dcr2dphy_lapack.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/numerics/bessel.hpp"
#include "core/numerics/lapack.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::dcr2dphy_lapack {

namespace {

using dcr2dphy::Earth_node;
using dcr2dphy::Gr2d_dcr_new;
using Local3 = std::array<std::array<double, 3>, 3>;

// Above this argument K1/K0 is 1 to working precision.
constexpr double bessel_limit = 50.0;

// Wavenumbers are solved concurrently when the factorisation and solution of
// one take at least this many floating-point operations (about a
// millisecond).
constexpr double parallel_flops = 4.0e6;

// A(i, j) of a band matrix held in LAPACK band storage.
inline double& band(Dmatrix& c, int32_t kl, int32_t ku, int32_t i, int32_t j) {
  return c(kl + ku + 1 + i - j, j);
}
inline double band(const Dmatrix& c, int32_t kl, int32_t ku, int32_t i, int32_t j) {
  return c(kl + ku + 1 + i - j, j);
}

// ldab x n, all zero; the storage is kept when the shape is unchanged.
// Gives c the shape ldab x n, keeping its values when it has it: for a band
// that is written in full next.
void shape_band(Dmatrix& c, int32_t ldab, int32_t n) {
  if (c.rows() != ldab || c.cols() != n) c.assign(ldab, n, 0.0);
}

// The entries of scratch.bfe that the last boundary terms touched back to 0.
void clear_touched(Band_scratch& w) {
  double* p = w.bfe.data();
  for (const std::size_t q : w.touched) p[q] = 0.0;
  w.touched.clear();
}

void clear_band(Dmatrix& c, int32_t ldab, int32_t n) {
  if (c.rows() == ldab && c.cols() == n) {
    double* p = c.data();
    for (std::size_t q = 0; q < c.size(); ++q) p[q] = 0.0;
  } else {
    c.assign(ldab, n, 0.0);
  }
}

const Gr2d_dcr_new& grid_of(const Model_fwd_dcr2d& model) {
  Gr2d_dcr_new* g = nullptr;
  model.get_grid(g);
  if (g == nullptr) fail("internal error: the forward model refers to no grid");
  return *g;
}

const Imatrix& node_map_1d(const Gr2d_dcr_new& grid) {
  const Imatrix* n1d = nullptr;
  grid.get_node_mapping(n1d, "1dto2d");
  return *n1d;
}

const Imatrix& element_map_1d(const Gr2d_dcr_new& grid) {
  const Imatrix* e1d = nullptr;
  grid.get_element_mapping(e1d, "1dto2d");
  return *e1d;
}

// Step 1 of every solver: the model's grid and conductivities and the
// wavenumbers go into the module state.
void set_common_state(Dcr2dphy_state& s, const Model_fwd_dcr2d& model,
                      const std::vector<double>& wavenumber) {
  const Gr2d_dcr_new& grid = grid_of(model);
  dcr2dphy::dcr2d_set_grid(s, grid);
  std::vector<double> cond;
  model.get_con_fwd(cond);
  dcr2dphy::dcr2d_set_cond(s, cond);
  dcr2dphy::dcr2d_set_noxs(s, grid.get_nx_node());
  dcr2dphy::dcr2d_set_nozs(s, grid.get_nz_node());
  dcr2dphy::dcr2d_set_numnp(s, grid.get_n_node());
  dcr2dphy::dcr2d_set_kmax(s, static_cast<int32_t>(wavenumber.size()));
  s.k = wavenumber;
}

// Step 2 of "fd" and "hy": the couplings are rebuilt for this model.
void release_if_present(Dcr2dphy_state& s) {
  if (!s.c_all.empty()) dcr2dphy::release_conductivity_arrays(s);
}

// The wavenumber loop: assemble(ab, scratch, kindex) fills the band matrix
// of wavenumber kindex, which is factorised and solved for the block of
// columns of that wavenumber. The statuses are shown and a failed
// factorisation ends the job in wavenumber order, as a loop would have met
// them.
void solve_all_wavenumbers(Dmatrix& b, int32_t n, const Dcr2dphy_state& s, int32_t output_level,
                           const Band_assembly& assemble) {
  if (s.kmax <= 0) return;
  if (b.rows() != n)
    fail("internal error: the right-hand sides have " + std::to_string(b.rows()) +
         " rows for a system of " + std::to_string(n) + " unknowns");
  Band_solve_status status;
  solve_band_systems_dcr2d(b, n, s.nozs, s.kmax, 'N', assemble, status);
  const int32_t kl = s.nozs + 1, ku = s.nozs + 1, ldab = 3 * s.nozs + 4;
  for (int32_t kindex = 1; kindex <= s.kmax; ++kindex) {
    const auto q = static_cast<std::size_t>(kindex - 1);
    if (status.error[q]) std::rethrow_exception(status.error[q]);
    const int info = status.factor_info[q];
    if (output_level == 3) std::cout << text_io::free_format({"Factorize: ", info}) << '\n';
    if (info != 0) {
      std::cout << text_io::free_format({"Factorization Error"}) << '\n';
      std::cout << text_io::free_format({n, n, kl, ku, ldab, info}) << std::endl;
      fail("Factorization Error: the forward system is singular (dgbtrf INFO = " +
           std::to_string(info) + ")");
    }
    if (output_level == 3)
      std::cout << text_io::free_format({"Solve: ", status.solve_info[q]}) << '\n';
  }
}

// A(i, i) = diag(i) and the four neighbour couplings of c_matrix, over all
// grid nodes.
void fill_fd_band(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                  std::span<const double> diag, const Dcr2dphy_state& s) {
  clear_band(c, ldab, n);
  const Imatrix& n1d = node_map_1d(*s.grid);
  const Dmatrix& cm = s.c_matrix;
  const int32_t nozs = s.nozs, noxs = s.noxs;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t ix = n1d(i, 1), iz = n1d(i, 2);
    band(c, kl, ku, i, i) = diag[static_cast<std::size_t>(i - 1)];
    if (iz > 1) band(c, kl, ku, i, i - 1) = cm(i, 2);
    if (iz < nozs) band(c, kl, ku, i, i + 1) = cm(i, 4);
    if (ix > 1) band(c, kl, ku, i, i - nozs) = cm(i, 1);
    if (ix < noxs) band(c, kl, ku, i, i + nozs) = cm(i, 5);
  }
}

// The same over the earth unknowns; neighbours in the air are not unknowns
// and their couplings are dropped.
void fill_fd_earth_band(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        std::span<const double> diag, const Earth_node& node,
                        const Dcr2dphy_state& s) {
  clear_band(c, ldab, n);
  const Imatrix& n1d = node_map_1d(*s.grid);
  const Dmatrix& cm = s.c_matrix;
  const int32_t nozs = s.nozs, noxs = s.noxs;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t g = node.n[static_cast<std::size_t>(i - 1)];
    const int32_t ix = n1d(g, 1), iz = n1d(g, 2);
    band(c, kl, ku, i, i) = diag[static_cast<std::size_t>(i - 1)];
    const auto couple = [&](int32_t h, int col) {
      const int32_t j = node.map[static_cast<std::size_t>(h - 1)];
      if (j != 0) band(c, kl, ku, i, j) = cm(i, col);
    };
    if (iz > 1) couple(g - 1, 2);
    if (iz < nozs) couple(g + 1, 4);
    if (ix > 1) couple(g - nozs, 1);
    if (ix < noxs) couple(g + nozs, 5);
  }
}

std::span<const double> diagonal_column(const Dcr2dphy_state& s) {
  return {&s.c_matrix(1, 3), static_cast<std::size_t>(s.c_matrix.rows())};
}

// Corner coordinates of a triangle given by grid node numbers.
void triangle_coordinates(const std::array<int32_t, 3>& p, const Gr2d_dcr_new& grid,
                          std::array<double, 3>& x, std::array<double, 3>& z) {
  const Imatrix& n1d = node_map_1d(grid);
  const auto xs = grid.get_x_grid();
  const auto zs = grid.get_z_grid();
  for (int q = 0; q < 3; ++q) {
    x[q] = xs[static_cast<std::size_t>(n1d(p[q], 1) - 1)];
    z[q] = zs[static_cast<std::size_t>(n1d(p[q], 2) - 1)];
  }
}

double triangle_area(const std::array<double, 3>& x, const std::array<double, 3>& z) {
  return std::abs((x[1] - x[0]) * (z[2] - z[0]) - (x[2] - x[0]) * (z[1] - z[0])) * 0.5;
}

// Linear-element stiffness sigma (bi bj + ci cj) / (4 S).
Local3 triangle_stiffness(const std::array<double, 3>& x, const std::array<double, 3>& z,
                          double sigma) {
  const double area = triangle_area(x, z);
  const std::array<double, 3> bc = {z[1] - z[2], z[2] - z[0], z[0] - z[1]};
  const std::array<double, 3> cc = {x[2] - x[1], x[0] - x[2], x[1] - x[0]};
  Local3 a{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = sigma * (bc[i] * bc[j] + cc[i] * cc[j]) / (4.0 * area);
  return a;
}

// Linear-element mass: 2R on the diagonal, R off it, R = S sigma / 12.
Local3 triangle_mass(const std::array<double, 3>& x, const std::array<double, 3>& z, double sigma) {
  const double r = triangle_area(x, z) * sigma / 12.0;
  Local3 a{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = i == j ? 2.0 * r : r;
  return a;
}

// Adds a local 3 x 3 block at the unknowns u; an unknown 0 (a node in the air)
// takes no part.
void scatter(Dmatrix& c, int32_t kl, int32_t ku, const std::array<int32_t, 3>& u, const Local3& a,
             std::vector<std::size_t>* touched = nullptr) {
  for (int i = 0; i < 3; ++i) {
    if (u[i] == 0) continue;
    for (int j = 0; j < 3; ++j) {
      if (u[j] == 0) continue;
      double& entry = band(c, kl, ku, u[i], u[j]);
      entry += a[i][j];
      if (touched != nullptr) touched->push_back(static_cast<std::size_t>(&entry - c.data()));
    }
  }
}

enum class Element_matrix { stiffness, mass };

// Stiffness or mass of the two triangles of every finite-element element,
// upper triangle first; with `earth` the rows and columns are the earth
// unknowns of the nodes.
void assemble_triangles(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model, Element_matrix kind, bool earth) {
  clear_band(c, ldab, n);
  const Gr2d_dcr_new& grid = grid_of(model);
  std::vector<double> ucon, lcon;
  model.get_fe_ucon_fwd(ucon);
  model.get_fe_lcon_fwd(lcon);
  const int32_t noelem = grid.get_n_element();
  for (int32_t e = 1; e <= noelem; ++e) {
    const int32_t etype = model.elem[static_cast<std::size_t>(e - 1)];
    if (etype != 2 && etype != 3) continue;
    std::array<int32_t, 3> upper{}, lower{};
    fe_node_index(upper, lower, e, etype, grid);
    const std::array<const std::array<int32_t, 3>*, 2> tri = {&upper, &lower};
    const std::array<double, 2> sigma = {ucon[static_cast<std::size_t>(e - 1)],
                                         lcon[static_cast<std::size_t>(e - 1)]};
    for (int t = 0; t < 2; ++t) {
      std::array<double, 3> x{}, z{};
      triangle_coordinates(*tri[t], grid, x, z);
      const Local3 a = kind == Element_matrix::stiffness ? triangle_stiffness(x, z, sigma[t])
                                                         : triangle_mass(x, z, sigma[t]);
      std::array<int32_t, 3> u = *tri[t];
      if (earth)
        for (auto& p : u) p = model.node.map[static_cast<std::size_t>(p - 1)];
      scatter(c, kl, ku, u, a);
    }
  }
}

// The stiffness band afe and the mass band cfe, assembled side by side when
// the system is large enough to pay for a second thread.
void assemble_stiffness_and_mass(Dmatrix& afe, Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab,
                                 int32_t n, const Model_fwd_dcr2d& model, bool earth) {
  const bool two = static_cast<double>(ldab) * n >= 1.0e5 && omp_get_max_threads() > 1;
  std::exception_ptr error[2];
#pragma omp parallel for num_threads(two ? 2 : 1) schedule(static, 1)
  for (int part = 0; part < 2; ++part) {
    try {
      if (part == 0)
        assemble_triangles(afe, kl, ku, ldab, n, model, Element_matrix::stiffness, earth);
      else
        assemble_triangles(cfe, kl, ku, ldab, n, model, Element_matrix::mass, earth);
    } catch (...) {
      error[part] = std::current_exception();
    }
  }
  for (const auto& e : error)
    if (e) std::rethrow_exception(e);
}

// The unknown of every grid node in the hybrid numbering.
int32_t unknown_of(const Earth_node& node, int32_t g) {
  return node.map[static_cast<std::size_t>(g - 1)];
}

}  // namespace

void compute_potential_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                             const std::vector<double>& wavenumber, std::string_view approx,
                             Dcr2dphy_state& s, int32_t output_level) {
  std::string code = string_utility::strlowcase(approx);
  while (!code.empty() && code.back() == ' ') code.pop_back();
  if (code == "fd") {
    compute_potential_fd_dcr2d(b, model, wavenumber, s, output_level);
  } else if (code == "fe") {
    compute_potential_fe_dcr2d(b, model, wavenumber, s, output_level);
  } else if (code == "hy") {
    compute_potential_hy_earth_dcr2d(b, model, wavenumber, s, output_level);
  } else {
    std::cout << text_io::free_format({"Under development"}) << std::endl;
  }
}

void compute_potential_fd_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level) {
  set_common_state(s, model, wavenumber);
  release_if_present(s);
  fd_prepare_dgbtrf(s);
  const int32_t n = s.numnp;
  solve_all_wavenumbers(b, n, s, output_level, [&](Dmatrix& ab, Band_scratch& w, int32_t kindex) {
    fd_band_matrix_dgbtrf(ab, s.nozs + 1, s.nozs + 1, 3 * s.nozs + 4, n, kindex, s, w.diag);
  });
  // The coefficients are left as a loop over the wavenumbers leaves them.
  if (s.kmax > 0) dcr2dphy::fd_cp_coefficient_cal(s, s.kmax);
}

void compute_potential_fe_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level) {
  set_common_state(s, model, wavenumber);
  const int32_t n = s.numnp;
  const int32_t kl = s.nozs + 1, ku = s.nozs + 1, ldab = 3 * s.nozs + 4;
  Dmatrix afe, cfe;
  assemble_stiffness_and_mass(afe, cfe, kl, ku, ldab, n, model, false);
  solve_all_wavenumbers(b, n, s, output_level, [&](Dmatrix& ab, Band_scratch& w, int32_t kindex) {
    const double k = s.k[static_cast<std::size_t>(kindex - 1)];
    // ab = afe + bfe + k^2 cfe. The boundary terms bfe touch a few entries
    // only: they are accumulated into a band kept at zero elsewhere, and
    // those entries are summed in the same order as the others.
    clear_touched(w);
    shape_band(w.bfe, ldab, n);
    add_fe_boundary_terms(w.bfe, kl, ku, model, k, &w.touched);
    shape_band(ab, ldab, n);
    double* pa = ab.data();
    const double *ps = afe.data(), *pb = w.bfe.data(), *pc = cfe.data();
    for (std::size_t q = 0; q < ab.size(); ++q) pa[q] = ps[q] + pc[q] * k * k;
    for (const std::size_t q : w.touched) pa[q] = ps[q] + pb[q] + pc[q] * k * k;
  });
}

void compute_potential_hy_earth_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                      const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                      int32_t output_level) {
  set_common_state(s, model, wavenumber);
  release_if_present(s);
  if (model.node.numnp == 0)
    fail("internal error: the hybrid solver needs the earth nodes of a model with topography");
  const dcr2dphy::Earth_node& node = model.node;
  const int32_t n = node.numnp;
  const int32_t kl = s.nozs + 1, ku = s.nozs + 1, ldab = 3 * s.nozs + 4;
  fd_prepare_earth_dgbtrf(s, node, model.aerow);
  Dmatrix afe, cfe;
  assemble_stiffness_and_mass(afe, cfe, kl, ku, ldab, n, model, true);
  solve_all_wavenumbers(b, n, s, output_level, [&](Dmatrix& ab, Band_scratch& w, int32_t kindex) {
    hy_band_matrix_dgbtrf(ab, w, kl, ku, ldab, n, kindex, model, afe, cfe, s);
  });
  if (s.kmax > 0) dcr2dphy::fd_cp_coefficient_earth_cal(s, s.kmax, node, model.aerow);
}

void hy_band_matrix_dgbtrf(Dmatrix& ab, Band_scratch& w, int32_t kl, int32_t ku, int32_t ldab,
                           int32_t n, int32_t kindex, const Model_fwd_dcr2d& model,
                           const Dmatrix& afe, const Dmatrix& cfe, const Dcr2dphy_state& s) {
  const double k = s.k[static_cast<std::size_t>(kindex - 1)];
  shape_band(w.bfe, ldab, n);
  double* pb = w.bfe.data();
  const double *ps = afe.data(), *pc = cfe.data();
  for (std::size_t q = 0; q < w.bfe.size(); ++q) pb[q] = ps[q] + k * k * pc[q];
  fd_band_matrix_earth_dgbtrf(ab, kl, ku, ldab, n, kindex, model.node, model.aerow, s, w.diag);
  hy_replace_fe_equations_dgbtrf(ab, w.bfe, kl, ku, n, model, model.node);
}

void solve_band_systems_dcr2d(Dmatrix& b, int32_t n, int32_t nozs, int32_t kmax, char trans,
                              const Band_assembly& assemble, Band_solve_status& status) {
  const int kl = nozs + 1, ku = nozs + 1, ldab = 3 * nozs + 4;
  const auto count = static_cast<std::size_t>(kmax);
  status.factor_info.assign(count, 0);
  status.solve_info.assign(count, 0);
  status.error.assign(count, nullptr);
  if (kmax <= 0 || n <= 0) return;
  const int nrhs = b.cols() / kmax;
  // Each wavenumber has its own matrix and columns; the BLAS library's
  // threads would only compete with the loop. A small system is solved
  // faster than the threads are woken.
  const Blas_single_thread blas_guard;
  const double flops = 2.0 * n * kl * (kl + ku) + 2.0 * n * (2 * kl + ku) * nrhs;
  const int threads =
      flops < parallel_flops ? 1 : std::max(1, std::min(kmax, omp_get_max_threads()));
#pragma omp parallel num_threads(threads)
  {
    Dmatrix ab;
    Band_scratch scratch;
    std::vector<int> ipiv(static_cast<std::size_t>(n), 0);
#pragma omp for schedule(dynamic, 1)
    for (int32_t kindex = 1; kindex <= kmax; ++kindex) {
      const auto q = static_cast<std::size_t>(kindex - 1);
      try {
        assemble(ab, scratch, kindex);
        int info = 0;
        dgbtrf_(&n, &n, &kl, &ku, ab.data(), &ldab, ipiv.data(), &info);
        status.factor_info[q] = info;
        if (info == 0) {
          // The columns of one wavenumber are contiguous in column-major
          // storage.
          double* block = b.data() + q * static_cast<std::size_t>(nrhs) * n;
          int solve_info = 0;
          dgbtrs_(&trans, &n, &kl, &ku, &nrhs, ab.data(), &ldab, ipiv.data(), block, &n,
                  &solve_info, 1);
          status.solve_info[q] = solve_info;
        }
      } catch (...) {
        status.error[q] = std::current_exception();
      }
    }
  }
}

void hy_replace_fe_equations_dgbtrf(Dmatrix& ab, const Dmatrix& bfe, int32_t kl, int32_t ku,
                                    int32_t n, const Model_fwd_dcr2d& model,
                                    const dcr2dphy::Earth_node& node) {
  const Gr2d_dcr_new& grid = grid_of(model);
  std::vector<int32_t> jindex;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t g = node.n[static_cast<std::size_t>(i - 1)];
    if (model.approx[static_cast<std::size_t>(g - 1)] != 2) continue;
    compute_fe_jindex(g, jindex, grid);
    for (const int32_t h : jindex) {
      const int32_t j = unknown_of(node, h);
      if (j != 0) band(ab, kl, ku, i, j) = band(bfe, kl, ku, i, j);
    }
  }
}

void set_solver_model_dcr2d(Dcr2dphy_state& s, const Model_fwd_dcr2d& model,
                            const std::vector<double>& wavenumber) {
  set_common_state(s, model, wavenumber);
  release_if_present(s);
}

void fd_prepare_dgbtrf(Dcr2dphy_state& s) {
  dcr2dphy::fd_index_cal(s);
  dcr2dphy::fd_dall_cal(s);
  dcr2dphy::fd_zata_cal(s);
  dcr2dphy::fd_alpha_cal(s);
  dcr2dphy::fd_call_cal(s);
  dcr2dphy::fd_coefficient_cal(s);
}

void fd_prepare_earth_dgbtrf(Dcr2dphy_state& s, const dcr2dphy::Earth_node& node,
                             const std::vector<int32_t>& aerow) {
  dcr2dphy::fd_index_earth_cal(s, node, aerow);
  dcr2dphy::fd_dall_earth_cal(s, node);
  dcr2dphy::fd_zata_earth_cal(s, node, aerow);
  dcr2dphy::fd_alpha_earth_cal(s, node, aerow);
  dcr2dphy::fd_call_earth_cal(s, node, aerow);
  dcr2dphy::fd_coefficient_earth_cal(s, node);
}

void fd_create_c_matrix_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                               int32_t kindex, Dcr2dphy_state& s) {
  fd_prepare_dgbtrf(s);
  dcr2dphy::fd_cp_coefficient_cal(s, kindex);
  fill_fd_band(c, kl, ku, ldab, n, diagonal_column(s), s);
}

void fd_band_matrix_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                           int32_t kindex, const Dcr2dphy_state& s, std::vector<double>& diag) {
  diag.resize(static_cast<std::size_t>(s.c_matrix.rows()));
  dcr2dphy::fd_diagonal_cal(s, kindex, diag);
  fill_fd_band(c, kl, ku, ldab, n, diag, s);
}

void fd_create_c_matrix_earth_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                                     int32_t kindex, const dcr2dphy::Earth_node& node,
                                     const std::vector<int32_t>& aerow, Dcr2dphy_state& s) {
  fd_prepare_earth_dgbtrf(s, node, aerow);
  dcr2dphy::fd_cp_coefficient_earth_cal(s, kindex, node, aerow);
  fill_fd_earth_band(c, kl, ku, ldab, n, diagonal_column(s), node, s);
}

void fd_band_matrix_earth_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                                 int32_t kindex, const dcr2dphy::Earth_node& node,
                                 const std::vector<int32_t>& aerow, const Dcr2dphy_state& s,
                                 std::vector<double>& diag) {
  diag.resize(static_cast<std::size_t>(s.c_matrix.rows()));
  dcr2dphy::fd_diagonal_earth_cal(s, kindex, node, aerow, diag);
  fill_fd_earth_band(c, kl, ku, ldab, n, diag, node, s);
}

void compute_afe_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model) {
  assemble_triangles(afe, kl, ku, ldab, n, model, Element_matrix::stiffness, false);
}

void compute_cfe_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model) {
  assemble_triangles(cfe, kl, ku, ldab, n, model, Element_matrix::mass, false);
}

void compute_afe_earth_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model) {
  assemble_triangles(afe, kl, ku, ldab, n, model, Element_matrix::stiffness, true);
}

void compute_cfe_earth_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model) {
  assemble_triangles(cfe, kl, ku, ldab, n, model, Element_matrix::mass, true);
}

void compute_bfe_dgbtrf(Dmatrix& bfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model, double ky) {
  clear_band(bfe, ldab, n);
  add_fe_boundary_terms(bfe, kl, ku, model, ky, nullptr);
}

void add_fe_boundary_terms(Dmatrix& bfe, int32_t kl, int32_t ku, const Model_fwd_dcr2d& model,
                           double ky, std::vector<std::size_t>* touched) {
  const Gr2d_dcr_new& grid = grid_of(model);
  const auto xs = grid.get_x_grid();
  const auto zs = grid.get_z_grid();
  const int32_t noxs = grid.get_nx_node();
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();
  if (nx < 1 || nz < 1) return;
  const double xcen = xs[static_cast<std::size_t>(noxs / 2 - 1)];
  const Imatrix* e2d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");

  // The finite-element elements along the left, right and bottom edges.
  const auto is_fe = [&](int32_t e) { return model.elem[static_cast<std::size_t>(e - 1)] != 1; };
  std::vector<int32_t> left, right, bottom;
  for (int32_t iz = 1; iz <= nz; ++iz)
    if (is_fe((*e2d)(iz, 1))) left.push_back((*e2d)(iz, 1));
  for (int32_t iz = 1; iz <= nz; ++iz)
    if (is_fe((*e2d)(iz, nx))) right.push_back((*e2d)(iz, nx));
  for (int32_t ix = 1; ix <= nx; ++ix)
    if (is_fe((*e2d)(nz, ix))) bottom.push_back((*e2d)(nz, ix));

  struct Edges {
    const std::vector<int32_t>* en;
    Fe_edge side;
    std::vector<double> dist, length, cosine;
  };
  std::array<Edges, 3> lists = {Edges{&left, Fe_edge::left, {}, {}, {}},
                                Edges{&right, Fe_edge::right, {}, {}, {}},
                                Edges{&bottom, Fe_edge::bottom, {}, {}, {}}};
  // The distance is held per element, the lists written in turn: a bottom
  // corner element takes the distance of its bottom edge for its side edge.
  std::vector<double> element_dist(static_cast<std::size_t>(grid.get_n_element()), 0.0);
  for (auto& l : lists) {
    compute_fe_dist_angle(l.dist, l.length, l.cosine, *l.en, l.side, xs, zs, xcen, grid);
    for (std::size_t q = 0; q < l.en->size(); ++q)
      element_dist[static_cast<std::size_t>((*l.en)[q] - 1)] = l.dist[q];
  }

  std::vector<double> ucon, lcon;
  model.get_fe_ucon_fwd(ucon);
  model.get_fe_lcon_fwd(lcon);
  for (const auto& l : lists) {
    for (std::size_t q = 0; q < l.en->size(); ++q) {
      const int32_t e = (*l.en)[q];
      const int32_t etype = model.elem[static_cast<std::size_t>(e - 1)];
      std::array<int32_t, 3> upper{}, lower{};
      fe_node_index(upper, lower, e, etype, grid);
      // The triangle that holds the edge.
      const bool use_upper =
          (l.side == Fe_edge::left && etype == 3) || (l.side == Fe_edge::right && etype == 2);
      const std::array<int32_t, 3>& tri = use_upper ? upper : lower;
      if (tri[0] == 0) continue;  // no triangles for this element code
      const double sigma =
          use_upper ? ucon[static_cast<std::size_t>(e - 1)] : lcon[static_cast<std::size_t>(e - 1)];
      const double x = ky * element_dist[static_cast<std::size_t>(e - 1)];
      double beta = sigma * ky * l.cosine[q];
      if (x <= bessel_limit) beta *= bessel::besselk(1, x) / bessel::besselk(0, x);
      const double bb = beta * l.length[q] / 6.0;
      Local3 a{};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) a[i][j] = i == j ? 2.0 * bb : bb;
      scatter(bfe, kl, ku, tri, a, touched);
    }
  }
}

void compute_fe_dist_angle(std::vector<double>& dist, std::vector<double>& blength,
                           std::vector<double>& cangle, const std::vector<int32_t>& en,
                           Fe_edge edge, std::span<const double> xs, std::span<const double> zs,
                           double xcen, const dcr2dphy::Gr2d_dcr_new& grid) {
  const Imatrix& e1d = element_map_1d(grid);
  const std::size_t m = en.size();
  dist.assign(m, 0.0);
  blength.assign(m, 0.0);
  cangle.assign(m, 0.0);
  for (std::size_t q = 0; q < m; ++q) {
    // 0-based positions of the element's left column and top row.
    const auto ix = static_cast<std::size_t>(e1d(en[q], 1) - 1);
    const auto iz = static_cast<std::size_t>(e1d(en[q], 2) - 1);
    if (edge == Fe_edge::bottom) {
      const double xm = (xs[ix] + xs[ix + 1]) * 0.5 - xcen;
      const double zb = zs[iz + 1];
      dist[q] = std::sqrt(xm * xm + zb * zb);
      blength[q] = xs[ix + 1] - xs[ix];
      cangle[q] = zb / dist[q];
    } else {
      const double xe = edge == Fe_edge::left ? xs[ix] : xs[ix + 1];
      const double zm = (zs[iz] + zs[iz + 1]) * 0.5;
      const double d = xe - xcen;
      dist[q] = std::sqrt(d * d + zm * zm);
      blength[q] = zs[iz + 1] - zs[iz];
      cangle[q] = std::abs(d) / dist[q];
    }
  }
}

void fe_node_index(std::array<int32_t, 3>& uindex, std::array<int32_t, 3>& lindex, int32_t enumber,
                   int32_t etype, const dcr2dphy::Gr2d_dcr_new& grid) {
  std::array<int32_t, 4> c{};  // TL, BL, BR, TR
  node_index(c, enumber, grid);
  const int32_t tl = c[0], bl = c[1], br = c[2], tr = c[3];
  if (etype == 2) {
    uindex = {tl, br, tr};
    lindex = {tl, bl, br};
  } else if (etype == 3) {
    uindex = {tl, bl, tr};
    lindex = {tr, bl, br};
  }
}

void node_index(std::array<int32_t, 4>& nindex, int32_t enumber,
                const dcr2dphy::Gr2d_dcr_new& grid) {
  const Imatrix& e1d = element_map_1d(grid);
  const int32_t nozs = grid.get_nz_node();
  const int32_t tl = (e1d(enumber, 1) - 1) * nozs + e1d(enumber, 2);
  nindex = {tl, tl + 1, tl + nozs + 1, tl + nozs};
}

void compute_fe_jindex(int32_t nindex, std::vector<int32_t>& jindex,
                       const dcr2dphy::Gr2d_dcr_new& grid) {
  const Imatrix& n1d = node_map_1d(grid);
  const int32_t nozs = grid.get_nz_node(), noxs = grid.get_nx_node();
  const int32_t ix = n1d(nindex, 1), iz = n1d(nindex, 2);
  jindex.clear();
  for (int32_t jx = ix - 1; jx <= ix + 1; ++jx) {
    if (jx < 1 || jx > noxs) continue;
    for (int32_t jz = iz - 1; jz <= iz + 1; ++jz)
      if (jz >= 1 && jz <= nozs) jindex.push_back((jx - 1) * nozs + jz);
  }
}

}  // namespace varnel::dcr2dphy_lapack
