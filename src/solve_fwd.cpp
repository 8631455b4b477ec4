// The forward driver: reads a survey and a model, computes the response of the
// model for every measurement and its misfit against the observed values, and
// writes the response as a data file and the model back with the misfit.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/error.hpp"
#include "core/forward/fwd_dcr2d.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/inversion/occam.hpp"
#include "core/model/modelio_dcr2d.hpp"
#include "drivers.hpp"
#include "job.hpp"
#include "varnel_events.hpp"

namespace varnel {

bool is_flat_surface(const Dmatrix& topo) {
  if (topo.rows() == 0) return true;
  double sum = 0.0;
  for (int32_t i = 1; i <= topo.rows(); ++i) sum += std::abs(topo(i, 2));
  return sum < 1.0e-6;
}

std::vector<double> percent_error_dcr2d(const dataio_dcr2d::Main_data_dcr2d& d) {
  const auto n = static_cast<std::size_t>(std::max(d.nodata, 0));
  std::vector<double> percent_error(n, 0.0);
  if (d.ext != "ceg") return percent_error;
  for (std::size_t i = 0; i < n && i < d.val.size() && i < d.err.size(); ++i)
    percent_error[i] = d.err[i] / d.val[i];
  return percent_error;
}

void scale_error_to_value_dcr2d(dataio_dcr2d::Main_data_dcr2d& d,
                                const std::vector<double>& percent_error) {
  if (d.ext != "ceg") return;
  const auto n = static_cast<std::size_t>(std::max(d.nodata, 0));
  d.err.resize(n);
  for (std::size_t i = 0; i < n; ++i)
    d.err[i] = (i < percent_error.size() ? percent_error[i] : 0.0) * d.val[i];
}

void solve_fwd(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration) {
  status = 0;
  final_iteration = -1;
  Job job(info);
  varnel_events::emit_progress(0, -1, 0.0);

  job.fwd.approx = info.approx;
  job.param.nxgrid = info.nxgrid;

  if (info.ncore == 0) info.ncore = std::min(omp_get_num_procs(), 12);
  omp_set_dynamic(0);
  omp_set_num_threads(info.ncore);
  // The wavenumbers are solved on the job's threads, each band solve on one
  // BLAS thread.
  const Blas_single_thread blas_guard;

  dataio_dcr2d::Main_data_dcr2d d;
  dataio_dcr2d::read_dcr2d_datafile(d, info.data_file, job.dataio, job.txrx);

  const std::vector<double> percent_error = percent_error_dcr2d(d);

  if (is_flat_surface(d.topo)) job.fwd.approx = "fd";

  // The dispatcher leaves the model empty for a name it does not know.
  if (!modelio_dcr2d::is_model_file_name(info.model_prior))
    modelio_dcr2d::fail_unknown_model_file(info.model_prior);
  dcr2dphy::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m(job.model_env());
  m.set_grid(&grid);
  modelio_dcr2d::read_dcr2d_model(info.model_prior, m, job.fwd.approx,
                                  job.fwd.approx != "fd" ? &d.topo : nullptr);
  d.model = &m;

  const auto n = static_cast<std::size_t>(d.nodata);
  job.occam.logd.assign(n, 0.0);
  job.occam.logr.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) job.occam.logd[i] = std::log(d.val[i]);

  // The covariance belongs to the observed data: it is formed before the
  // response replaces them.
  occam::cal_data_covariance(job.occam, d.val, d.err, info.pcinv, info.time_lapse);

  fwd_dcr2d::dcr2dfwd_lapack(d, job.fwd_env());

  scale_error_to_value_dcr2d(d, percent_error);

  m.rms = occam::cal_rms(job.occam, d.val, info.pcinv, info.pciplus);

  dataio_dcr2d::write_dcr2d_datafile(d, info.response_file, 0, job.dataio, job.txrx);
  modelio_dcr2d::write_dcr2d_model(info.model_prior, m);

  final_iteration = 0;
  varnel_events::emit_progress(3, 0, m.rms);
  d.model = nullptr;
}

}  // namespace varnel
