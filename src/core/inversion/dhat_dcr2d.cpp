#include "core/inversion/dhat_dcr2d.hpp"

#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/lapack.hpp"

namespace varnel::dhat_dcr2d {

namespace {

void check_length(const std::vector<double>& v, std::size_t n, const char* name) {
  if (v.size() != n)
    fail(std::string("array bound mismatch in the linearised data: ") + name + " holds " +
         std::to_string(v.size()) + " values, " + std::to_string(n) + " are needed");
}

}  // namespace

void cal_dhat_dcr2d(occam::Occam_state& o, const Dmatrix& jkt, int32_t nodata, bool pcinv,
                    bool pciplus) {
  const std::size_t n = static_cast<std::size_t>(nodata);
  const int c = jkt.rows();
  if (jkt.cols() != nodata)
    fail("array bound mismatch in the linearised data: the sensitivity matrix has " +
         std::to_string(jkt.cols()) + " columns for " + std::to_string(nodata) + " data");
  if (o.d_hat.empty()) o.d_hat.assign(n, 0.0);
  check_length(o.d_hat, n, "d_hat");
  check_length(o.logd, n, "logd");
  check_length(o.logr, n, "logr");
  if (pcinv) check_length(o.loge, n, "loge");
  check_length(o.logrho, static_cast<std::size_t>(c), "logrho");
  check_length(o.logrho0, static_cast<std::size_t>(c), "logrho0");

  // q = (logrho - logrho0)^T jkt: the change from the prior seen by each datum.
  std::vector<double> delta(static_cast<std::size_t>(c)), q(n, 0.0);
  for (int i = 0; i < c; ++i) delta[i] = o.logrho[i] - o.logrho0[i];
  if (c > 0 && nodata > 0) {
    const int nd = nodata, inc = 1;
    const double one = 1.0, zero = 0.0;
    dgemv_("T", &c, &nd, &one, jkt.data(), &c, delta.data(), &inc, &zero, q.data(), &inc, 1);
  }
  for (std::size_t j = 0; j < n; ++j) {
    const double p = !pcinv ? 0.0 : (pciplus ? o.loge[j] : -o.loge[j]);
    o.d_hat[j] = o.logd[j] - o.logr[j] + p + q[j];
  }
}

}  // namespace varnel::dhat_dcr2d
