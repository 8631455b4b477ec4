#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"

#include <functional>

#include "core/error.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/numerics/lapack.hpp"

namespace varnel::model_inv_parameters_lapack_dcr2d {

namespace {

constexpr int kl = 2, ku = 2, ldab = 2 * kl + ku + 1;

// (I - K D2)^-1 for a line of n cells: kappa(i) the diffusion coefficient and
// h(i, 1), h(i, 2) the centre distances of cell i (see cal_distance_b2b_dcr2d).
void diffusion_inverse(int32_t n, const std::function<double(int32_t)>& kappa, const Dmatrix& h,
                       Dmatrix& out) {
  Dmatrix ab(ldab, n);
  // Entry (i, j) of A in LAPACK band storage (with room for the LU fill-in).
  auto a = [&](int32_t i, int32_t j) -> double& { return ab(kl + ku + 1 + i - j, j); };

  // The end rows take the one-sided second difference through the first (or
  // last) three centres, so that every row of A sums to 1 and smoothing keeps
  // a constant vector unchanged.
  auto end_row = [&](int32_t i, int32_t inward) {
    const double k = kappa(i), h1 = h(i, 1), h2 = h(i, 2);
    a(i, i) = 1.0 - 2.0 * k / (h1 * h2);
    a(i, i + inward) = 2.0 * k / (h1 * (h2 - h1));
    a(i, i + 2 * inward) = -2.0 * k / (h2 * (h2 - h1));
  };
  end_row(1, 1);
#pragma omp parallel for schedule(static)
  for (int32_t i = 2; i <= n - 1; ++i) {
    const double k = kappa(i), hu = h(i, 1), hd = h(i, 2);
    a(i, i - 1) = -2.0 * k / (hu * (hu + hd));
    a(i, i) = 1.0 + 2.0 * k / (hu * hd);
    a(i, i + 1) = -2.0 * k / (hd * (hu + hd));
  }
  end_row(n, -1);

  out.assign(n, n);
  for (int32_t i = 1; i <= n; ++i) out(i, i) = 1.0;
  std::vector<int> ipiv(static_cast<std::size_t>(n));
  int info = 0;
  const int nn = n;
  // A singular A leaves whatever the solver returns; the operators are
  // strictly diagonally dominant in their interior rows.
  dgbsv_(&nn, &kl, &ku, &nn, ab.data(), &ldab, ipiv.data(), out.data(), &nn, &info);
}

const Imatrix& element_map(const grid2d_dcr::Gr2d_dcr_new& grid) {
  const Imatrix* e2d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");
  return *e2d;
}

}  // namespace

void cal_diffusion_coefficient_dcr2d(Diffusion_state& s, const dcr2dphy::Model_inv_dcr2d& m,
                                     double espacing, int32_t mode) {
  if (mode == 1) return;
  cal_diffusion_coefficient_full_dcr2d(s, m, espacing);
}

void cal_diffusion_coefficient_full_dcr2d(Diffusion_state& s, const dcr2dphy::Model_inv_dcr2d& m,
                                          double espacing) {
  if (!s.diffu_ud.empty() || !s.diffu_lr.empty())
    fail("internal error: the roughness operators exist already");
  if (m.grid == nullptr) fail("internal error: the model refers to no grid");
  const grid2d_dcr::Gr2d_dcr_new& grid = *m.grid;
  std::vector<bool> isupdated;
  m.get_isupdated(isupdated);
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();

  const Blas_single_thread blas_guard;  // many small band solves
  Dmatrix width, height, kappa;
  model_inv_parameters_dcr2d::cal_distance_b2b_dcr2d(grid, width, height);
  model_inv_parameters_dcr2d::cal_kappa_dcr2d(grid, isupdated, espacing, s.diffusion_parameter,
                                              kappa);
  s.diffu_ud.resize(static_cast<std::size_t>(nx));
  for (int32_t jj = 1; jj <= nx; ++jj) {
    auto& d = s.diffu_ud[static_cast<std::size_t>(jj - 1)];
    cal_ud_diffusion_dcr2d(grid, kappa, height, jj, d.val, d.eindex);
  }
  s.diffu_lr.resize(static_cast<std::size_t>(nz));
  for (int32_t ii = 1; ii <= nz; ++ii) {
    auto& d = s.diffu_lr[static_cast<std::size_t>(ii - 1)];
    cal_lr_diffusion_dcr2d(grid, kappa, width, ii, d.val, d.eindex);
  }
}

void cal_ud_diffusion_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const Dmatrix& kappa,
                            const Dmatrix& height, int32_t jj, Dmatrix& ud,
                            std::vector<int32_t>& eindex) {
  const int32_t nz = grid.get_nz_element();
  const Imatrix& e2d = element_map(grid);
  diffusion_inverse(
      nz, [&](int32_t i) { return kappa(i, jj); }, height, ud);
  eindex.resize(static_cast<std::size_t>(nz));
  for (int32_t i = 1; i <= nz; ++i) eindex[static_cast<std::size_t>(i - 1)] = e2d(i, jj);
}

void cal_lr_diffusion_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const Dmatrix& kappa,
                            const Dmatrix& width, int32_t ii, Dmatrix& lr,
                            std::vector<int32_t>& eindex) {
  const int32_t nx = grid.get_nx_element();
  const Imatrix& e2d = element_map(grid);
  diffusion_inverse(
      nx, [&](int32_t j) { return kappa(ii, j); }, width, lr);
  eindex.resize(static_cast<std::size_t>(nx));
  for (int32_t j = 1; j <= nx; ++j) eindex[static_cast<std::size_t>(j - 1)] = e2d(ii, j);
}

}  // namespace varnel::model_inv_parameters_lapack_dcr2d
