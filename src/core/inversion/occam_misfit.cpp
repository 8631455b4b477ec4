// The misfit measures of the Occam search: data covariance, RMS misfit of a
// response (normal, pattern-constrained, time-lapse, per input file) and the
// model misfit against the prior. With no data (or no cells) the means are
// 0 / 0, NaN.
#include <cmath>
#include <cstddef>
#include <string>

#include "core/error.hpp"
#include "core/inversion/occam.hpp"

namespace varnel::occam {

namespace {

void check_length(const std::vector<double>& v, std::size_t n, const char* name) {
  if (v.size() < n)
    fail(std::string("internal error: ") + name + " holds " + std::to_string(v.size()) +
         " values, the misfit needs " + std::to_string(n));
}

void set_logr(Occam_state& o, const std::vector<double>& val) {
  o.logr.resize(val.size());
  for (std::size_t i = 0; i < val.size(); ++i) o.logr[i] = std::log(val[i]);
}

}  // namespace

void cal_data_covariance(Occam_state& o, const std::vector<double>& val,
                         const std::vector<double>& err, bool pcinv, int32_t tlinv) {
  const std::size_t n = val.size();
  o.cd.assign(n, 1.0);
  if (pcinv || tlinv == 2) return;
  check_length(err, n, "the error vector");
  for (std::size_t i = 0; i < n; ++i) o.cd[i] = err[i] * err[i] / (val[i] * val[i]);
}

double cal_rms(Occam_state& o, const std::vector<double>& val, bool pcinv, bool pciplus) {
  const std::size_t n = val.size();
  check_length(o.logd, n, "logd");
  check_length(o.cd, n, "the data covariance");
  // A forward run of a pattern-constrained request has no pattern term: an
  // empty loge counts as zero.
  const bool pattern = pcinv && !o.loge.empty();
  if (pattern) check_length(o.loge, n, "loge");
  const double sign = pciplus ? 1.0 : -1.0;
  set_logr(o, val);
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double residual = o.logd[i] - o.logr[i];
    if (pattern) residual += sign * o.loge[i];
    sum += residual * residual / o.cd[i];
  }
  return std::sqrt(sum / static_cast<double>(n));
}

double cal_rms_tl(Occam_state& o, const std::vector<double>& val, const std::vector<double>& logd0,
                  const std::vector<double>& logr0) {
  const std::size_t n = val.size();
  check_length(o.logd, n, "logd");
  check_length(o.cd, n, "the data covariance");
  check_length(logd0, n, "logd0");
  check_length(logr0, n, "logr0");
  set_logr(o, val);
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double residual = (o.logd[i] - o.logr[i]) - (logd0[i] - logr0[i]);
    sum += residual * residual / o.cd[i];
  }
  return std::sqrt(sum / static_cast<double>(n));
}

void cal_rms_sep_dcr2d(const Occam_state& o, std::vector<double>& rms,
                       const std::vector<double>& val, const dataio_dcr2d::Dataio_state& io) {
  std::vector<int32_t> counts;
  if (!io.d_dat.empty())
    for (const auto& f : io.d_dat) counts.push_back(f.nodata);
  else
    for (const auto& f : io.d_ceg) counts.push_back(f.nodata);
  rms.assign(counts.size(), 0.0);
  std::size_t at = 0;
  for (std::size_t k = 0; k < counts.size(); ++k) {
    const auto nk = static_cast<std::size_t>(counts[k] > 0 ? counts[k] : 0);
    check_length(val, at + nk, "the response");
    check_length(o.logd, at + nk, "logd");
    check_length(o.cd, at + nk, "the data covariance");
    double sum = 0.0;
    for (std::size_t i = at; i < at + nk; ++i) {
      const double residual = o.logd[i] - std::log(val[i]);
      sum += residual * residual / o.cd[i];
    }
    rms[k] = std::sqrt(sum / static_cast<double>(nk));
    at += nk;
  }
}

double cal_model_diff(const std::vector<double>& m, const std::vector<double>& m0) {
  const std::size_t n = m.size();
  check_length(m0, n, "the prior model");
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += std::abs((m[i] - m0[i]) * 100.0 / m0[i]);
  return sum / static_cast<double>(n);
}

}  // namespace varnel::occam
