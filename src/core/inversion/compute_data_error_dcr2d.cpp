#include "core/inversion/compute_data_error_dcr2d.hpp"

#include <cstddef>

#include "core/error.hpp"

namespace varnel::compute_data_error_dcr2d {

namespace {

std::size_t data_count(const std::vector<double>& ref, const Main_data_dcr2d& d, bool levels) {
  const auto n = static_cast<std::size_t>(d.nodata > 0 ? d.nodata : 0);
  if (ref.size() < n || d.err.size() < n || (levels && d.level.size() < n))
    fail("internal error: the error floor needs " + std::to_string(n) +
         " reference values, errors and levels");
  return n;
}

// The candidate is formed as ref times p, then divided by 100; it replaces
// the error only when strictly larger.
void raise(double& err, double ref, double p) {
  const double e = ref * p / 100.0;
  if (e > err) err = e;
}

}  // namespace

void cal_error_perror_uniform_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                    double perror) {
  const std::size_t n = data_count(ref, d, false);
  for (std::size_t i = 0; i < n; ++i) raise(d.err[i], ref[i], perror);
}

void cal_error_perror_level_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                  const Dmatrix& perror) {
  const std::size_t n = data_count(ref, d, true);
  if (perror.rows() > 0 && perror.cols() < 2)
    fail("internal error: the error table needs two columns");
  for (int32_t j = 1; j <= perror.rows(); ++j)
    for (std::size_t i = 0; i < n; ++i)
      if (static_cast<double>(d.level[i]) == perror(j, 1)) raise(d.err[i], ref[i], perror(j, 2));
}

void cal_error_perror_data_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                 const Dmatrix& perror, const std::string& table) {
  const std::size_t n = data_count(ref, d, false);
  // Each datum needs its own row; rows past the last datum are not used.
  if (static_cast<std::size_t>(perror.rows()) < n)
    fail(table + ": holds " + std::to_string(perror.rows()) + " rows of per-datum errors, the " +
         "data set has " + std::to_string(n) + " data");
  if (n > 0 && perror.cols() < 2) fail("internal error: the error table needs two columns");
  for (std::size_t i = 0; i < n; ++i)
    raise(d.err[i], ref[i], perror(static_cast<int32_t>(i) + 1, 2));
}

}  // namespace varnel::compute_data_error_dcr2d
