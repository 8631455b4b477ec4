#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/numerics/lapack.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::cal_model_update_lapack_dcr2d {

namespace {

const char* svd_job(int32_t n) { return n <= 10000 ? "A" : "S"; }

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

// gramman + 10^lambda diag(cd).
Dmatrix regularised(const occam::Occam_state& o, const Dmatrix& gramman, double lambda, int32_t n) {
  Dmatrix inner = gramman;
  const double mu = std::pow(10.0, lambda);
  for (int32_t i = 1; i <= n; ++i) inner(i, i) += mu * o.cd[static_cast<std::size_t>(i - 1)];
  return inner;
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
  const int32_t n = nodata;
  if (o.betak.empty()) o.betak.assign(static_cast<std::size_t>(n), 0.0);
  check_inputs(o, gramman, cmjkt, mm, nodata);
  if (o.betak.size() != static_cast<std::size_t>(n))
    fail("array bound mismatch in the model update: betak holds " + std::to_string(o.betak.size()) +
         " values for " + std::to_string(n) + " data");
  if (n > 0) {
    Dmatrix inner = regularised(o, gramman, lambda, n);
    Dmatrix u(n, n), vt(n, n);
    std::vector<double> s(static_cast<std::size_t>(n)), tmp(s.size()), sv(s.size(), 0.0);
    const int lwork = svd_workspace_dcr2d(n);
    std::vector<double> work(static_cast<std::size_t>(lwork));
    std::vector<int> iwork(8 * static_cast<std::size_t>(n));
    int info = 0;
    const int nn = n, inc = 1;
    dgesdd_(svd_job(n), &nn, &nn, inner.data(), &nn, s.data(), u.data(), &nn, vt.data(), &nn,
            work.data(), &lwork, iwork.data(), &info, 1);
    if (info != 0) return report_failure("Error Occuring at SVD", mm);

    const double one = 1.0, zero = 0.0;
    dgemv_("T", &nn, &nn, &one, u.data(), &nn, o.d_hat.data(), &inc, &zero, tmp.data(), &inc, 1);
    // Truncated inverse: the first quarter of the singular values is cut only
    // where it is negligible in absolute terms; beyond it the expansion stops
    // at the first value below 0.001 of the largest.
    if (s[0] > 0.0)
      for (int32_t i = 1; i <= n; ++i) {
        const double si = s[static_cast<std::size_t>(i - 1)];
        if (i > n / 4 && si / s[0] < 0.001) break;
        if (si > 1.0e-12)
          sv[static_cast<std::size_t>(i - 1)] = tmp[static_cast<std::size_t>(i - 1)] / si;
      }
    dgemv_("T", &nn, &nn, &one, vt.data(), &nn, sv.data(), &inc, &zero, o.betak.data(), &inc, 1);
  }
  trial_model(o, cmjkt, mm, n);
}

void cal_doccam_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                      std::vector<double>& mm, double lambda, int32_t nodata) {
  const int32_t n = nodata;
  check_inputs(o, gramman, cmjkt, mm, nodata);
  o.betak = o.d_hat;  // the right-hand side, solved in place
  if (n > 0) {
    Dmatrix inner = regularised(o, gramman, lambda, n);
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
