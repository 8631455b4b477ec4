#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/inversion/lapack_model_update.hpp"
#include "core/inversion/parallel_dense.hpp"
#include "core/inversion/untruncated_check.hpp"
#include "core/numerics/lapack.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::cal_model_update_lapack_dcr2d {

namespace {

// The truncation rule: beyond the first quarter the expansion stops at the
// first singular value below this fraction of the largest; values at or
// below the floor never contribute.
constexpr double relative_cut = 0.001;
constexpr double absolute_floor = 1.0e-12;

// The plain solve is taken only with this much room above the cut: a case so
// close to it is left to the decomposition.
constexpr double cut_margin = 1.001;

// From this order on the bidiagonal reduction runs on the job's threads.
constexpr int32_t parallel_reduction = 256;

const char* svd_job(int32_t n) { return n <= 10000 ? "A" : "S"; }

std::size_t squared(int32_t n) { return static_cast<std::size_t>(n) * static_cast<std::size_t>(n); }

template <class T>
T* sized(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

void check_inputs(const occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                  const std::vector<double>& mm, int32_t nodata) {
  const std::size_t n = static_cast<std::size_t>(nodata),
                    c = static_cast<std::size_t>(cmjkt.rows());
  auto mismatch = [](const std::string& what) {
    fail("array bound mismatch in the model update: " + what);
  };
  if (gramman.rows() != nodata || gramman.cols() != nodata || cmjkt.cols() != nodata)
    mismatch("the Gram matrix is " + std::to_string(gramman.rows()) + " x " +
             std::to_string(gramman.cols()) + " and Cm J^T has " + std::to_string(cmjkt.cols()) +
             " columns for " + std::to_string(nodata) + " data");
  if (o.cd.size() != n || o.d_hat.size() != n)
    mismatch("cd holds " + std::to_string(o.cd.size()) + " and d_hat " +
             std::to_string(o.d_hat.size()) + " values for " + std::to_string(nodata) + " data");
  if (mm.size() != c || o.logrho0.size() != c)
    mismatch("the model holds " + std::to_string(mm.size()) + " and the prior " +
             std::to_string(o.logrho0.size()) + " values for " + std::to_string(c) + " cells");
}

// inner = gramman + 10^lambda diag(cd), n x n with leading dimension n.
void regularised(const occam::Occam_state& o, const Dmatrix& gramman, double lambda, int32_t n,
                 double* inner) {
  std::copy(gramman.data(), gramman.data() + squared(n), inner);
  const double mu = std::pow(10.0, lambda);
  for (int32_t i = 0; i < n; ++i)
    inner[static_cast<std::size_t>(i) * n + i] += mu * o.cd[static_cast<std::size_t>(i)];
}

bool all_finite(const double* a, std::size_t count) {
  for (std::size_t q = 0; q < count; ++q)
    if (!std::isfinite(a[q])) return false;
  return true;
}

void report_failure(const char* what, std::vector<double>& mm) {
  std::cout << text_io::free_format({what}) << '\n';
  std::fill(mm.begin(), mm.end(), 0.0);
}

// mm = 1 / exp(bounded(logrho0 + cmjkt betak)).
void trial_model(const occam::Occam_state& o, const Dmatrix& cmjkt, std::vector<double>& mm,
                 int32_t n) {
  const int c = cmjkt.rows(), nd = n, inc = 1;
  const double one = 1.0, zero = 0.0;
  std::fill(mm.begin(), mm.end(), 0.0);
  if (c > 0 && n > 0)
    dgemv_("N", &c, &nd, &one, cmjkt.data(), &c, o.betak.data(), &inc, &zero, mm.data(), &inc, 1);
  for (std::size_t i = 0; i < mm.size(); ++i) {
    double v = mm[i] + o.logrho0[i];
    if (v < logrho_min) v = logrho_min;
    if (v > logrho_max) v = logrho_max;
    mm[i] = 1.0 / std::exp(v);
  }
}

// --- the plain solve -------------------------------------------------------------

// betak = inner^-1 d_hat by LU with partial pivoting, in place in inner;
// false when a pivot is exactly zero.
bool plain_solve(Update_workspace& ws, occam::Occam_state& o, int n) {
  int* ipiv = sized(ws.ipiv, static_cast<std::size_t>(n));
  if (parallel_dense::lu_factor(n, ws.inner.data(), n, ipiv) != 0) return false;
  int info = 0;
  std::copy(o.d_hat.begin(), o.d_hat.end(), o.betak.begin());
  const int nrhs = 1;
  dgetrs_("N", &n, &nrhs, ws.inner.data(), &n, ipiv, o.betak.data(), &n, &info, 1);
  return info == 0;
}

// --- the decomposition -------------------------------------------------------------

// sv(i) = tmp(i) / s(i) for the singular values the truncation keeps, 0 for
// the others: the first quarter is cut only where a value is negligible in
// absolute terms; beyond it the expansion stops at the first value below
// 0.001 of the largest.
void truncated_inverse(const double* s, const double* tmp, double* sv, int n) {
  std::fill(sv, sv + n, 0.0);
  if (!(s[0] > 0.0)) return;
  for (int32_t i = 1; i <= n; ++i) {
    const double si = s[i - 1];
    if (i > n / 4 && si / s[0] < relative_cut) break;
    if (si > absolute_floor) sv[i - 1] = tmp[i - 1] / si;
  }
}

// betak from the decomposition as the library routine returns it (inner is
// overwritten); false when it fails.
bool decomposition_solve(Update_workspace& ws, occam::Occam_state& o, int n) {
  double* u = sized(ws.square, squared(n));
  double* vt = sized(ws.factor, squared(n));
  double* s = sized(ws.s, static_cast<std::size_t>(n));
  double* tmp = sized(ws.tmp, static_cast<std::size_t>(n));
  double* sv = sized(ws.sv, static_cast<std::size_t>(n));
  const int lwork = svd_workspace_dcr2d(n);
  double* work = sized(ws.work, static_cast<std::size_t>(lwork));
  int* iwork = sized(ws.iwork, 8 * static_cast<std::size_t>(n));
  int info = 0;
  const int inc = 1;
  dgesdd_(svd_job(n), &n, &n, ws.inner.data(), &n, s, u, &n, vt, &n, work, &lwork, iwork, &info, 1);
  if (info != 0) return false;
  const double one = 1.0, zero = 0.0;
  dgemv_("T", &n, &n, &one, u, &n, o.d_hat.data(), &inc, &zero, tmp, &inc, 1);
  truncated_inverse(s, tmp, sv, n);
  dgemv_("T", &n, &n, &one, vt, &n, sv, &inc, &zero, o.betak.data(), &inc, 1);
  return true;
}

// Whether the decomposition routine would scale inner before reducing it
// (largest entry near under- or overflow, or zero): such a matrix is left to
// the routine as a whole.
bool scaled_by_the_routine(const double* a, int n) {
  const double largest = dlange_("M", &n, &n, a, &n, nullptr, 1);
  const double smlnum = std::sqrt(dlamch_("S", 1)) / dlamch_("P", 1);
  return !(largest >= smlnum && largest <= 1.0 / smlnum);
}

// The number of singular values (descending) the truncation rule keeps,
// or -1 when it skips one below the floor before it stops, which a cut by a
// threshold cannot do.
int kept_by_the_rule(const double* s, int n) {
  if (!(s[0] > 0.0)) return -1;
  for (int32_t i = 1; i <= n; ++i) {
    const double si = s[i - 1];
    if (i > n / 4 && si / s[0] < relative_cut) return i - 1;
    if (!(si > absolute_floor)) return -1;
  }
  return n;
}

// x := the truncated solution Vb S^+ Ub^T x of the bidiagonal system (d, e)
// by divide and conquer, every singular value at or below 0.001 of the
// largest treated as zero. False unless that kept exactly the values the
// rule keeps (or when it failed); d and e are left as they are.
bool bidiagonal_least_squares(Update_workspace& ws, const double* d, const double* e, double* x,
                              int n) {
  constexpr int smlsiz = 25;  // the size below which the routine solves directly
  const int levels = std::max(0, static_cast<int>(std::log2(n / (smlsiz + 1.0))) + 1);
  const std::size_t nn = static_cast<std::size_t>(n);
  double* work =
      sized(ws.work, 9 * nn + 2 * nn * smlsiz + 8 * nn * levels + nn + (smlsiz + 1) * (smlsiz + 1));
  int* iwork = sized(ws.iwork, 3 * nn * levels + 11 * nn);
  double* bd = sized(ws.bd, nn);
  double* be = sized(ws.be, nn);
  std::copy(d, d + n, bd);
  std::copy(e, e + n, be);
  const int nrhs = 1;
  int rank = 0, info = 0;
  dlalsd_("U", &smlsiz, &n, &nrhs, bd, be, x, &n, &relative_cut, &rank, work, iwork, &info, 1);
  return info == 0 && rank == kept_by_the_rule(bd, n);
}

// x := the truncated solution by the singular vectors of the bidiagonal
// matrix, formed by divide and conquer, as the decomposition routine forms
// them; d and e are destroyed. False when the decomposition fails.
bool bidiagonal_vectors_solve(Update_workspace& ws, double* d, double* e, double* x, int n) {
  const std::size_t nn = static_cast<std::size_t>(n);
  double* ub = sized(ws.square, squared(n));
  double* vtb = sized(ws.factor, squared(n));
  double* tmp = sized(ws.tmp, nn);
  double* sv = sized(ws.sv, nn);
  double* work = sized(ws.work, 3 * squared(n) + 4 * nn);
  int* iwork = sized(ws.iwork, 8 * nn);
  double q = 0.0;
  int iq = 0, info = 0;
  dbdsdc_("U", "I", &n, d, e, ub, &n, vtb, &n, &q, &iq, work, iwork, &info, 1, 1);
  if (info != 0) return false;
  const int inc = 1;
  const double one = 1.0, zero = 0.0;
  dgemv_("T", &n, &n, &one, ub, &n, x, &inc, &zero, tmp, &inc, 1);  // Ub^T x
  truncated_inverse(d, tmp, sv, n);
  dgemv_("T", &n, &n, &one, vtb, &n, sv, &inc, &zero, x, &inc, 1);  // Vb sv
  return true;
}

// The steps the decomposition routine takes for a square matrix: the
// bidiagonal reduction inner = Q B P^T, then the decomposition of B.
// U = Q Ub and V = P Vb are not formed: Q^T is applied to d_hat and P to the
// solution. Equal to the routine's result to rounding. False when the
// decomposition fails; betak is written only after it has succeeded.
bool bidiagonal_solve(Update_workspace& ws, occam::Occam_state& o, int n) {
  const std::size_t nn = static_cast<std::size_t>(n);
  if (3 * squared(n) + 4 * nn > static_cast<std::size_t>(INT_MAX))
    return decomposition_solve(ws, o, n);
  double* a = ws.inner.data();
  double* s = sized(ws.s, nn);
  double* e = sized(ws.e, nn);
  double* tauq = sized(ws.tauq, nn);
  double* taup = sized(ws.taup, nn);
  double* x = sized(ws.x, nn);
  int lwork = static_cast<int>(128 * nn);  // the blocked reduction needs 2 n x 64
  double* work = sized(ws.work, static_cast<std::size_t>(lwork));
  int info = 0;
  // A large matrix is reduced on the job's threads; a small one faster by
  // the library on one.
  if (n >= parallel_reduction)
    parallel_dense::bidiagonalize(n, a, n, s, e, tauq, taup, work);
  else
    dgebrd_(&n, &n, a, &n, s, e, tauq, taup, work, &lwork, &info);
  if (info != 0) return false;

  const int one_column = 1;
  std::copy(o.d_hat.begin(), o.d_hat.end(), x);
  lwork = static_cast<int>(nn);
  dormbr_("Q", "L", "T", &n, &one_column, &n, a, &n, tauq, x, &n, work, &lwork, &info, 1, 1, 1);
  double* c = sized(ws.y, nn);  // Q^T d_hat, kept for the second way
  std::copy(x, x + n, c);
  if (!bidiagonal_least_squares(ws, s, e, x, n)) {
    std::copy(c, c + n, x);
    if (!bidiagonal_vectors_solve(ws, s, e, x, n)) return false;
  }
  std::copy(x, x + n, o.betak.begin());
  work = sized(ws.work, nn);
  dormbr_("P", "L", "N", &n, &one_column, &n, a, &n, taup, o.betak.data(), &n, work, &lwork, &info,
          1, 1, 1);
  return true;
}

// betak by the truncated decomposition of inner (overwritten); false when
// the decomposition fails, betak then unchanged.
bool truncated_solve(Update_workspace& ws, occam::Occam_state& o, int n, bool finite) {
  // The routine reduces a 1 x 1 matrix by another path; it also takes the
  // matrices it rejects (NaN, infinity) or scales.
  if (n < 2 || !finite || scaled_by_the_routine(ws.inner.data(), n))
    return decomposition_solve(ws, o, n);
  return bidiagonal_solve(ws, o, n);
}

}  // namespace

int svd_workspace_dcr2d(int32_t n) {
  const long long nn = n;
  long long lwork = std::max({4 * nn * nn + nn, 7 * nn, 1LL});
  if (n > 0) {
    // A workspace query reads no array but the first of work.
    int info = 0, query = -1, ld = n, iwork = 0;
    double wanted = 0.0, dummy = 0.0;
    dgesdd_(svd_job(n), &ld, &ld, &dummy, &ld, &dummy, &dummy, &ld, &dummy, &ld, &wanted, &query,
            &iwork, &info, 1);
    if (info == 0) lwork = std::max(lwork, static_cast<long long>(std::ceil(wanted)));
  }
  // LAPACK counts in int; a larger need makes the decomposition fail and
  // the trial with it.
  return static_cast<int>(std::min<long long>(lwork, INT_MAX));
}

void cal_doccam_svd_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                          std::vector<double>& mm, double lambda, int32_t nodata) {
  Update_workspace ws;
  cal_doccam_svd_reusing_dcr2d(ws, o, gramman, cmjkt, mm, lambda, nodata);
}

Update_route cal_doccam_svd_reusing_dcr2d(Update_workspace& ws, occam::Occam_state& o,
                                          const Dmatrix& gramman, const Dmatrix& cmjkt,
                                          std::vector<double>& mm, double lambda, int32_t nodata) {
  const int32_t n = nodata;
  if (o.betak.empty()) o.betak.assign(static_cast<std::size_t>(n), 0.0);
  check_inputs(o, gramman, cmjkt, mm, nodata);
  if (o.betak.size() != static_cast<std::size_t>(n))
    fail("array bound mismatch in the model update: betak holds " + std::to_string(o.betak.size()) +
         " values for " + std::to_string(n) + " data");
  // The factorisations and products below round differently with one and
  // with two BLAS threads; one thread keeps the trial models independent of
  // the thread count.
  const Blas_single_thread blas_guard;
  Update_route route = Update_route::none;
  if (n > 0) {
    regularised(o, gramman, lambda, n, sized(ws.inner, squared(n)));
    // A matrix with a NaN or an infinity goes to the decomposition, which
    // rejects it.
    const bool finite = all_finite(ws.inner.data(), squared(n));
    if (finite && untruncated_check::keeps_every_singular_value(
                      ws.check, gramman, o.cd, std::pow(10.0, lambda), n, cut_margin * relative_cut,
                      cut_margin * absolute_floor, ws.square, ws.factor)) {
      if (plain_solve(ws, o, n))
        route = Update_route::plain_solve;
      else
        regularised(o, gramman, lambda, n, ws.inner.data());
    }
    if (route == Update_route::none) {
      if (!truncated_solve(ws, o, n, finite)) {
        report_failure("Error Occuring at SVD", mm);
        return Update_route::none;
      }
      route = Update_route::truncated;
    }
  }
  trial_model(o, cmjkt, mm, n);
  return route;
}

void cal_doccam_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                      std::vector<double>& mm, double lambda, int32_t nodata) {
  const int32_t n = nodata;
  check_inputs(o, gramman, cmjkt, mm, nodata);
  o.betak = o.d_hat;  // the right-hand side, solved in place
  if (n > 0) {
    std::vector<double> inner(squared(n));
    regularised(o, gramman, lambda, n, inner.data());
    std::vector<int> ipiv(static_cast<std::size_t>(n));
    int info = 0;
    const int nn = n, nrhs = 1;
    dgetrf_(&nn, &nn, inner.data(), &nn, ipiv.data(), &info);
    if (info != 0) return report_failure("Error Occuring at Factorization", mm);
    dgetrs_("N", &nn, &nrhs, inner.data(), &nn, ipiv.data(), o.betak.data(), &nn, &info, 1);
    if (info != 0) return report_failure("Error Occuring at System solver in cal_model_update", mm);
  }
  trial_model(o, cmjkt, mm, n);
}

}  // namespace varnel::cal_model_update_lapack_dcr2d
