// The inversion driver: set-up (options, mode, data, models, inversion cells,
// error model, files of iteration 0), the Occam iterations with their search
// over the Lagrange multiplier, the stop rules, the final report and the
// release of the working state.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/fwd_dcr2d.hpp"
#include "core/inversion/ascii_dcr2d_error_file.hpp"
#include "core/inversion/ascii_prelambda.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"
#include "core/inversion/cmjkt_dcr2d.hpp"
#include "core/inversion/cmjkt_lapack_dcr2d.hpp"
#include "core/inversion/compute_data_error_dcr2d.hpp"
#include "core/inversion/dhat_dcr2d.hpp"
#include "core/inversion/jkcmjkt_dcr2d.hpp"
#include "core/inversion/jkcmjkt_lapack_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"
#include "core/inversion/occam.hpp"
#include "core/model/ascii_sgrid.hpp"
#include "core/model/ascii_updatefile_dcr2d.hpp"
#include "core/model/modelio_dcr2d.hpp"
#include "core/model/prior_model_dcr2d.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"
#include "core/run/memory_check.hpp"
#include "core/sensitivity/jkmask_dcr2d.hpp"
#include "core/sensitivity/sen_lapack_dcr2d.hpp"
#include "drivers.hpp"
#include "job.hpp"
#include "varnel_events.hpp"

namespace varnel {

namespace {

using dataio_dcr2d::Main_data_dcr2d;
using text_io::format;
using Clock = std::chrono::steady_clock;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The target band of the difference and pattern-constrained modes and their
// first multiplier, as single-precision numbers.
constexpr double kZeroBand = 4.999999873689376e-5;
constexpr double kPatternLambda = -1.6989699602127075;
const std::string kSeparator = "!---------------------------------------------------------";

using string_utility::isnumeric_string;
using string_utility::strlowcase;

void log(const std::string& line) { std::cout << line << '\n'; }

// Option texts are stored trimmed; the file names built from them are too.
std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(string_utility::rtrim(text.substr(first)));
}

// Seconds between two clock readings, in single precision.
double elapsed(Clock::time_point t0, Clock::time_point t1) {
  return static_cast<float>(std::chrono::duration<double>(t1 - t0).count());
}

// Everything one inversion run keeps between its steps.
struct Run {
  explicit Run(Job& j)
      : job(j), m(j.model_env()), m0(j.model_env()), info(j.info), o(j.occam), env(j.fwd_env()) {}

  Job& job;
  Main_data_dcr2d d, d0, r, r0;
  dcr2dphy::Gr2d_dcr_new grid, grid0;
  dcr2dphy::Model_inv_dcr2d m, m0;
  arg_reader::Arg_info& info;
  occam::Occam_state& o;
  fwd_dcr2d::Fwd_env env;

  double espacing_backup = 0.0;
  std::vector<double> rho0, logd0, logr0;
  std::vector<double> bmodel, bresp;
  Dmatrix bpotential;  // the potentials of the best trial
  double blambda = kNaN, brms = kNaN, bmodelnorm = kNaN;
  // The forward module holds the potentials of m and r.val its response, so
  // that neither the next iteration nor its Jacobian has to compute them.
  bool forward_current = false;
  Clock::time_point start;

  // Loop state.
  int32_t i = 0, ii = 0;
  std::string stop_condition;
  int32_t nan_count = 0, ndiverge = 0;
  double refrms = 999.0;
  double jktime = 0.0, cmjktime = 0.0, mutime = 0.0;
  int32_t nmu = 0;
  // Scratch of the model updates, reused by every trial.
  cal_model_update_lapack_dcr2d::Update_workspace update_ws;

  bool difference() const { return info.time_lapse == 2; }
  int32_t nodata() const { return d.nodata; }
};

// --- set-up ----------------------------------------------------------------

void copy_options(Run& run) {
  Job& job = run.job;
  const auto& info = run.info;
  job.fwd.approx = info.approx;
  job.diffusion.diffusion_parameter = info.diffusion_parameter;
  run.o.ilambda = info.ilambda;
  run.o.minlambda = info.minlambda;
  job.param.nxgrid = info.nxgrid;
  run.o.target_level = info.target_level;
  run.o.fixlambda = info.fixlambda;
}

void read_prescribed_multipliers(Run& run) {
  if (trim(run.info.prelambda_file).empty()) return;
  ascii_prelambda::read_prelambda_file(run.info.prelambda_file, run.o.prelambda, run.o.nprelambda);
  if (run.o.nprelambda < 1)
    fail(run.info.prelambda_file + ": the file holds no Lagrange multipliers");
  run.info.enditer = run.o.nprelambda;
}

void set_threads(arg_reader::Arg_info& info) {
  if (info.ncore == 0) info.ncore = std::min(omp_get_num_procs(), 12);
  omp_set_dynamic(0);
  omp_set_num_threads(info.ncore);
}

void choose_mode(Run& run) {
  occam::Occam_state& o = run.o;
  o.startiter = 1;
  o.enditer = run.info.enditer;
  o.upper_level = 1.05 * o.target_level;
  o.lower_level = 0.95 * o.target_level;
  o.iterrms.assign(o.enditer + 1, 3, 0.0);
  if (run.info.time_lapse == 2) {
    log("! Inversion Mode: Difference Time Lapse Inversion");
    o.target_level = 0.0;
    o.upper_level = kZeroBand;
    o.lower_level = -kZeroBand;
  } else if (run.info.pcinv) {
    log("! Inversion Mode: Pattern-Constrained Inversion");
    o.target_level = 0.0;
    o.upper_level = kZeroBand;
    o.lower_level = -kZeroBand;
    if (o.ilambda == 2.0) o.ilambda = kPatternLambda;
    if (run.info.ndiverge == 1) run.info.ndiverge = 3;
  } else {
    log("! Inversion Mode: Normal");
  }
}

void read_data(Run& run) {
  Job& job = run.job;
  dataio_dcr2d::read_dcr2d_datafile(run.d, run.info.data_file, job.dataio, job.txrx);
  if (run.info.espacing > 0.0) {
    run.espacing_backup = run.d.espacing;
    run.d.espacing = run.info.espacing;
  }
  // A survey counts as flat only when its depths are all (nearly) zero; a
  // plain sum would let negative or mixed depths pass and drop the surface.
  if (is_flat_surface(run.d.topo)) job.fwd.approx = "fd";
  if (run.difference()) {
    dataio_dcr2d::read_dcr2d_datafile(run.d0, run.info.data_prior, job.dataio, job.txrx, "df");
    dataio_dcr2d::read_dcr2d_datafile(run.r0, run.info.response_prior, job.dataio, job.txrx, "rf");
    if (run.d0.nodata != run.d.nodata || run.r0.nodata != run.d.nodata)
      fail("the reference data (" + std::to_string(run.d0.nodata) + " data in " +
           run.info.data_prior + ") and reference response (" + std::to_string(run.r0.nodata) +
           " data in " + run.info.response_prior + ") must have the " +
           std::to_string(run.d.nodata) + " data of " + run.info.data_file);
  }
}

void read_model(Run& run, const std::string& file, dcr2dphy::Model_inv_dcr2d& model) {
  if (!modelio_dcr2d::is_model_file_name(file)) modelio_dcr2d::fail_unknown_model_file(file);
  const std::string& approx = run.job.fwd.approx;
  modelio_dcr2d::read_dcr2d_model(file, model, approx, approx != "fd" ? &run.d.topo : nullptr);
}

// Reads and completes the initial and prior models; false on a grid
// mismatch (status 2).
bool set_up_models(Run& run) {
  const std::string& approx = run.job.fwd.approx;
  const bool have_prior = !trim(run.info.model_prior).empty();
  const bool have_initial = !trim(run.info.model_initial).empty();
  run.m0.set_grid(&run.grid0);
  if (have_prior) read_model(run, run.info.model_prior, run.m0);
  run.m.set_grid(&run.grid);
  if (have_initial) read_model(run, run.info.model_initial, run.m);

  if (!have_prior && !have_initial) {
    std::vector<double> sgrid;
    const bool with_sgrid = !trim(run.info.sgrid_file).empty();
    if (with_sgrid) {
      ascii_sgrid::read_sgrid_dcr2d(run.info.sgrid_file, sgrid);
      if (sgrid.empty()) fail(run.info.sgrid_file + ": the grid coordinate file holds no values");
    }
    prior_model_dcr2d::Prior_model_state state;
    prior_model_dcr2d::create_prior_model_dcr2d(run.d, run.m, approx, run.info.initial_rho, state,
                                                with_sgrid ? &sgrid : nullptr);
    log(format("(A, f10.2, A)", {"!-> Initial Model: ", run.info.initial_rho, " Ohm-m"}));
    run.m.duplicate(run.m0, approx);
    run.m0.set_grid(&run.grid);
  } else if (!have_prior) {
    run.m.duplicate(run.m0, approx);
    const double c = prior_model_dcr2d::compute_initial_conductivity_dcr2d(run.d, run.m.info,
                                                                           run.info.initial_rho);
    run.m0.set_con_fwd(std::vector<double>(run.m0.val.size(), c), approx);
  } else if (!have_initial) {
    run.m0.duplicate(run.m, approx);
    run.m0.set_grid(&run.grid);
  } else {
    if (!run.grid.compare(run.grid0)) {
      log(text_io::free_format(
          {"! Grid of Initial Model is not consistent with that of Prior Model"}));
      return false;
    }
    run.m0.set_grid(&run.grid);
  }
  return true;
}

void set_up_cells(Run& run) {
  std::vector<int32_t> g2u;
  const bool model_file =
      !trim(run.info.model_initial).empty() || !trim(run.info.model_prior).empty();
  if (model_file && !trim(run.info.model_updatefile).empty()) {
    const auto umodel =
        ascii_updatefile_dcr2d::read_model_updatefile_dcr2d(run.info.model_updatefile);
    dcr2dphy::cal_update_model_dcr(run.m, g2u, &umodel);
  } else {
    dcr2dphy::cal_update_model_dcr(run.m, g2u);
  }
  if (run.info.msub) {
    const Dmatrix& pelec = run.job.txrx.pelec_dcr2d;
    double xmin = std::numeric_limits<double>::infinity(), xmax = -xmin, zmax = -xmin;
    for (int32_t e = 1; e <= pelec.rows(); ++e) {
      if (!std::isnan(pelec(e, 1))) {
        xmin = std::min(xmin, pelec(e, 1));
        xmax = std::max(xmax, pelec(e, 1));
      }
      if (!std::isnan(pelec(e, 2))) zmax = std::max(zmax, pelec(e, 2));
    }
    const std::array<double, 2> x_criteria{xmin, xmax};
    const double z_criteria =
        zmax + (run.info.z_criteria != 0.0 ? run.info.z_criteria : 2.0 * run.d.espacing);
    run.m.initialize_inv(&g2u, &x_criteria, z_criteria);
    run.m0.initialize_inv(&g2u, &x_criteria, z_criteria);
  } else {
    run.m.initialize_inv(&g2u);
    run.m0.initialize_inv(&g2u);
  }
}

void set_up_arrays(Run& run) {
  occam::Occam_state& o = run.o;
  const auto n = static_cast<std::size_t>(run.nodata());
  const auto ncell = static_cast<std::size_t>(run.m.get_ncell());
  o.logd.assign(n, 0.0);
  o.logr.assign(n, 0.0);
  o.logrho.assign(ncell, 0.0);
  o.logrho0.assign(ncell, 0.0);
  for (std::size_t k = 0; k < n; ++k) o.logd[k] = std::log(run.d.val[k]);
  std::vector<double> val;
  run.m0.get_con_inv(val);
  run.rho0.assign(val.size(), 0.0);
  for (std::size_t c = 0; c < val.size(); ++c) {
    run.rho0[c] = 1.0 / val[c];
    o.logrho0[c] = std::log(run.rho0[c]);
  }
}

void set_up_errors(Run& run) {
  const std::string& error_file = run.info.error_file;
  double perror_uniform = 1.0;
  Dmatrix perror;
  std::string perror_mode;
  bool table = false;
  if (!trim(error_file).empty()) {
    if (isnumeric_string(error_file)) {
      if (!text_io::parse_free_real(error_file, perror_uniform))
        fail("the error value \"" + trim(error_file) + "\" is not a number");
    } else {
      ascii_dcr2d_error_file::ascii_dcr2d_error(perror, perror_mode, error_file);
      table = true;
      if (strlowcase(trim(perror_mode)) == "level") {
        for (int32_t k = 1; k <= perror.rows(); ++k)
          std::cout << " !-> Level: "
                    << format("(I3, 1x, F10.5)",
                              {static_cast<long long>(perror(k, 1)), perror(k, 2)})
                    << '\n';
      } else {
        log(text_io::free_format({"!-> Specify Errorbar for each datum"}));
      }
    }
  }
  compute_data_error_dcr2d::cal_error_perror_uniform_dcr2d(run.d.val, run.r, perror_uniform);
  if (table) {
    const std::string mode = strlowcase(trim(perror_mode));
    if (mode == "level")
      compute_data_error_dcr2d::cal_error_perror_level_dcr2d(run.d.val, run.r, perror);
    else if (mode == "data")
      compute_data_error_dcr2d::cal_error_perror_data_dcr2d(run.d.val, run.r, perror, error_file);
  }
  if (run.info.pcinv) {
    run.o.loge.assign(static_cast<std::size_t>(run.nodata()), 0.0);
    for (std::size_t k = 0; k < run.o.loge.size(); ++k) run.o.loge[k] = run.r.err[k] / run.d.val[k];
  }
  log("!-> Compute Data Covariance: Cd");
  occam::cal_data_covariance(run.o, run.d.val, run.r.err, run.info.pcinv, run.info.time_lapse);
}

double current_rms(Run& run) {
  if (run.difference()) return occam::cal_rms_tl(run.o, run.r.val, run.logd0, run.logr0);
  return occam::cal_rms(run.o, run.r.val, run.info.pcinv, run.info.pciplus);
}

std::string char_iter(int32_t iter) { return format("(I3.3)", {iter}); }

// The response and model files of an iteration.
void write_iteration_files(Run& run, int32_t iter) {
  Job& job = run.job;
  const std::string base = trim(run.info.response_file) + "_" + char_iter(iter);
  if (run.info.espacing > 0.0) run.r.espacing = run.espacing_backup;
  dataio_dcr2d::write_dcr2d_datafile(run.r, base, 0, job.dataio, job.txrx);
  modelio_dcr2d::write_dcr2d_model(base + ".m2d", run.m);
}

// --- the loop --------------------------------------------------------------

void log_rms_per_file(Run& run) {
  std::vector<double> rms_sep;
  occam::cal_rms_sep_dcr2d(run.o, rms_sep, run.r.val, run.job.dataio);
  for (std::size_t k = 0; k < rms_sep.size(); ++k)
    log(format("('!-> ', I2, ', RMS Misfit: ', f10.4)", {static_cast<int>(k + 1), rms_sep[k]}));
}

std::vector<double> cell_conductivities(const dcr2dphy::Model_inv_dcr2d& m) {
  std::vector<double> con;
  m.get_con_inv(con);
  return con;
}

void compute_sensitivity(Run& run, int32_t iter) {
  Job& job = run.job;
  log("!-> Computing Full Sensitivity: ");
  const bool jk_approx = trim(run.info.jk_method) != "FULL" && iter != 1;
  const auto t0 = Clock::now();
  sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(run.r, jk_approx, job.sen, run.env,
                                                     run.forward_current);
  run.jktime += elapsed(t0, Clock::now());
  if (!jk_approx) run.forward_current = true;
  if (trim(run.info.jk_method) != "FULL") {
    job.sen.logr_i.assign(run.r.val.size(), 0.0);
    for (std::size_t k = 0; k < run.r.val.size(); ++k) job.sen.logr_i[k] = std::log(run.r.val[k]);
    std::vector<double> res;
    run.m.get_res_inv(res);
    job.sen.logrho_i.assign(res.size(), 0.0);
    for (std::size_t c = 0; c < res.size(); ++c) job.sen.logrho_i[c] = std::log(res[c]);
  }
}

void compute_covariance_products(Run& run) {
  Job& job = run.job;
  log("!-> Computing CmJkT:");
  const auto t0 = Clock::now();
  cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(job.cmjkt, job.diffusion, job.sen.jkt, run.r);
  run.cmjktime += elapsed(t0, Clock::now());
  log("!-> Compute GrammN (Jk*CmJkT):");
  jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(job.jkcmjkt, job.sen.jkt, job.cmjkt.cmjkt, run.nodata(),
                                          0);
}

void linearise(Run& run) {
  std::vector<double> res;
  run.m.get_res_inv(res);
  run.o.logrho.assign(res.size(), 0.0);
  for (std::size_t c = 0; c < res.size(); ++c) run.o.logrho[c] = std::log(res[c]);
  dhat_dcr2d::cal_dhat_dcr2d(run.o, run.job.sen.jkt, run.nodata(), run.info.pcinv,
                             run.info.pciplus);
  if (run.difference())
    for (std::size_t k = 0; k < run.o.d_hat.size(); ++k)
      run.o.d_hat[k] = run.o.d_hat[k] - run.logd0[k] + run.logr0[k];
}

enum class Trial { evaluated, failed, stop };

// Evaluates row ll of the search table.
Trial evaluate_trial(Run& run, int32_t ll, std::vector<double>& con) {
  Job& job = run.job;
  Dmatrix& lr = run.o.lambdarms;
  const auto t0 = Clock::now();
  cal_model_update_lapack_dcr2d::cal_doccam_svd_reusing_dcr2d(
      run.update_ws, run.o, job.jkcmjkt.gramman, job.cmjkt.cmjkt, con, lr(ll, 1), run.nodata());
  run.mutime += elapsed(t0, Clock::now());
  ++run.nmu;
  double sum = 0.0;
  for (double c : con) sum += c;
  if (sum == 0.0) {
    lr(ll, 2) = kNaN;
    lr(ll, 3) = kNaN;
    ++run.nan_count;
    return run.nan_count > 3 ? Trial::stop : Trial::failed;
  }
  run.m.set_con_inv(con);
  fwd_dcr2d::dcr2dfwd_lapack(run.r, run.env);
  run.forward_current = false;  // m goes back to the best trial after the search
  lr(ll, 2) = current_rms(run);
  std::vector<double> rho;
  run.m.get_res_inv(rho);
  lr(ll, 3) = occam::cal_model_diff(rho, run.rho0);
  run.nan_count = 0;
  return Trial::evaluated;
}

// The best trial of the iteration: the first evaluated, then any inside the
// target band, else one closer to the target (a tie keeps the earlier row).
void consider_best(Run& run, int32_t ll, bool& has_best) {
  const Dmatrix& lr = run.o.lambdarms;
  const double rms = lr(ll, 2);
  const double target = run.o.target_level;
  bool better = !has_best;
  if (!better)
    better = (run.o.lower_level <= rms && rms <= run.o.upper_level) ||
             std::abs(rms - target) < std::abs(run.brms - target);
  if (!better) return;
  has_best = true;
  run.bmodel = cell_conductivities(run.m);
  run.bresp = run.r.val;
  // Kept for the next iteration, which starts from this model; the next
  // forward computation refills the other buffer.
  std::swap(run.bpotential, run.job.fwd.potential_dcr2d);
  run.blambda = lr(ll, 1);
  run.brms = lr(ll, 2);
  run.bmodelnorm = lr(ll, 3);
}

// The multiplier search of one iteration. Returns false when the run ends
// with status 3; has_best tells whether any trial succeeded.
bool search(Run& run, bool& endprocess, bool& has_best) {
  std::vector<double> con = cell_conductivities(run.m);
  occam::cal_initial_lambda(run.o);
  log("!-> Finding the best representative");
  has_best = false;
  bool check = true;
  while (check) {
    for (int32_t ll = 1; ll <= run.o.lambdarms.rows(); ++ll) {
      if (run.o.lambdarms(ll, 2) != 0.0) continue;
      const Trial t = evaluate_trial(run, ll, con);
      if (t == Trial::stop) return false;
      if (t == Trial::failed) continue;
      const double rms = run.o.lambdarms(ll, 2);
      if (std::isnan(rms)) continue;
      log(format("(A, e15.6, A, f10.4)",
                 {"!-> Lambda: ", std::pow(10.0, run.o.lambdarms(ll, 1)), " , RMS: ", rms}));
      consider_best(run, ll, has_best);
    }
    occam::phasei(run.o, check, endprocess);
  }
  return true;
}

std::string mask_file_name(const std::string& response_file) {
  const std::string r = trim(response_file);
  const std::size_t slash = r.rfind('/');
  const std::size_t k = slash == std::string::npos ? 0 : slash + 1;  // 1-based position
  if (k == 0 || k == 2) return "Jk_Homo.mask";
  return r.substr(0, k) + "Jk_Homo.mask";
}

void write_search_table(Run& run, int32_t iter) {
  const std::string file = trim(run.info.response_file) + "_" + char_iter(iter) + ".lr";
  std::string text;
  const Dmatrix& lr = run.o.lambdarms;
  for (int32_t ll = 1; ll <= lr.rows(); ++ll)
    text +=
        format("(f10.6, f6.2, f20.2)", {std::pow(10.0, lr(ll, 1)), lr(ll, 2), lr(ll, 3)}) + "\n";
  text_io::replace_file(file, text, "search table");
}

void accept_best(Run& run, int32_t iter) {
  Dmatrix& iterrms = run.o.iterrms;
  iterrms(iter + 1, 1) = run.blambda;
  iterrms(iter + 1, 2) = run.brms;
  iterrms(iter + 1, 3) = run.bmodelnorm;
  run.m.set_con_inv(run.bmodel);
  run.m.rms = run.brms;
  run.r.val = run.bresp;
  // The model is the best trial again, with the same conductivities, so
  // its potentials and response are the ones computed for that trial.
  std::swap(run.bpotential, run.job.fwd.potential_dcr2d);
  run.forward_current = true;
  if (iter == 1)
    jkmask_dcr2d::cal_jk_mask(run.job.sen.jkt, mask_file_name(run.info.response_file), run.m);
  write_iteration_files(run, iter);
  if (run.info.espacing > 0.0) run.r.espacing = run.info.espacing;
  write_search_table(run, iter);
}

// The first row of iterrms(1 .. iter + 1, 2) with the smallest RMS, less one.
int32_t best_iteration(const Run& run, int32_t iter) {
  int32_t best = 0;
  double best_rms = kNaN;
  for (int32_t k = 1; k <= iter + 1; ++k) {
    const double v = run.o.iterrms(k, 2);
    if (std::isnan(v)) continue;
    if (std::isnan(best_rms) || v < best_rms) {
      best_rms = v;
      best = k - 1;
    }
  }
  return best;
}

// The stop rules in order; true when the run ends.
bool stop_rules(Run& run, int32_t iter, bool endprocess) {
  run.ii = iter;
  if (run.brms > run.refrms) {
    ++run.ndiverge;
    if (run.ndiverge >= run.info.ndiverge) {
      run.stop_condition = "Diverge";
      run.i = best_iteration(run, iter);
      return true;
    }
  } else {
    run.ndiverge = 0;
    run.refrms = run.brms;
  }
  if (std::abs(run.brms - run.o.iterrms(iter, 2)) / run.brms < 0.001) {
    run.stop_condition = "Reach minimum";
    run.i = iter;
    return true;
  }
  if (endprocess) {
    run.stop_condition = "Reach Target";
    run.i = iter;
    return true;
  }
  if (iter == run.o.enditer) {
    run.stop_condition = "Reach Maximum Iteration";
    run.i = best_iteration(run, iter);
    return true;
  }
  return false;
}

void report(Run& run) {
  const double total = elapsed(run.start, Clock::now());
  log(kSeparator);
  log("!------------------- Final Result ------------------------");
  log(kSeparator);
  const Dmatrix& iterrms = run.o.iterrms;
  const int32_t i = run.i;
  log(format("(A, I2)", {"! Iteration: ", i}));
  log(format("(A, A)", {"! Stop Condition: ", trim(run.stop_condition)}));
  log(format("(A, e15.6)", {"! Lambda: ", std::pow(10.0, iterrms(i + 1, 1))}));
  log(format("(A, f10.4)", {"! RMS Misfit: ", iterrms(i + 1, 2)}));
  log(format("(A, f10.2)", {"! Model Misfit: ", iterrms(i + 1, 3)}));
  log(format("(A, f10.2)", {"! Total Calculation Time: ", total}));
  const double ii = run.ii, nmu = run.nmu;
  log(format("(A, f10.2)", {"! Average Sensitivity Calculation: ", run.jktime / ii}));
  log(format("(A, f10.2)", {"! Average CmJkT Calculation: ", run.cmjktime / ii}));
  log(format("(A, f10.2)", {"! Average Model Calculation: ", run.mutime / nmu}));
  log(format("(A, I4)", {"! Number of Model Calculation: ", run.nmu}));
  log(format("(A, I6)", {"! Number of model parameter: ", run.grid.get_n_element()}));
  log(format("(A, I6)", {"! Number of updated model parameter: ", run.m.get_ncell()}));
  if (run.difference()) {
    double sum = 0.0;
    for (int32_t k = 0; k < run.nodata(); ++k)
      sum += 100.0 * std::abs(run.d.val[k] - run.d0.val[k]) / run.d0.val[k];
    log(format("(A, f10.2)", {"! Data Difference: ", sum / run.nodata()}));
  }
}

void release(Run& run) {
  Job& job = run.job;
  job.occam.iterrms = Dmatrix();
  job.occam.logd.clear();
  job.occam.logr.clear();
  job.occam.logrho.clear();
  job.occam.logrho0.clear();
  job.occam.loge.clear();
  job.sen.logrho_i.clear();
  job.sen.logr_i.clear();
  job.sen.jkt = Dmatrix();
  model_inv_parameters_dcr2d::cleanup_diffusion_matrices(job.diffusion);
  cmjkt_dcr2d::cleanup_cmjkt_dcr2d(job.cmjkt);
  dcr2dphy::cleanup_physics_dcr2d(job.phy);
}

// One iteration; false when the run ends (i and stop_condition set, or
// status 3).
enum class Step { next, report, status3 };

Step iterate(Run& run, int32_t iter) {
  run.o.iter = iter;
  if (iter != 1 && !run.forward_current) {
    fwd_dcr2d::dcr2dfwd_lapack(run.r, run.env);
    run.forward_current = true;
  }
  const double rms = current_rms(run);
  run.o.iterrms(iter, 2) = rms;
  if (iter == 1) {
    varnel_events::emit_progress(1, 0, rms);
    log(format("(A, f10.4)", {"! Initial RMS Misfit: ", rms}));
    log_rms_per_file(run);
    if (rms < run.o.target_level) {
      run.i = 0;
      run.stop_condition = "Target RMS Misfit is too high!!!";
      return Step::report;
    }
  }
  log(kSeparator);
  log(format("(A, I2)", {"! Iteration: ", iter}));
  log(kSeparator);
  run.o.plambda = kNaN;

  compute_sensitivity(run, iter);
  compute_covariance_products(run);
  linearise(run);

  bool endprocess = false, has_best = false;
  if (!search(run, endprocess, has_best)) return Step::status3;
  if (!has_best) {
    // No trial of this iteration gave a model: there is nothing new to
    // accept, so the run ends with the best iteration so far.
    run.ii = iter;
    run.stop_condition = "No successful model update";
    run.i = best_iteration(run, iter - 1);
    return Step::report;
  }
  accept_best(run, iter);
  const double accepted = run.o.iterrms(iter + 1, 2);
  varnel_events::emit_progress(2, iter, accepted);
  log(format("(A, I2, A, f10.4)", {"! Iteration: ", iter, " , RMS: ", accepted}));
  log_rms_per_file(run);
  return stop_rules(run, iter, endprocess) ? Step::report : Step::next;
}

}  // namespace

void solve_inv(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration) {
  status = 0;
  final_iteration = -1;
  Job job(info);
  Run run(job);
  run.o.target_level = 1.0;
  varnel_events::emit_progress(0, -1, 0.0);

  copy_options(run);
  read_prescribed_multipliers(run);
  run.start = Clock::now();
  set_threads(info);
  // The job's parallelism is OpenMP's: every BLAS call runs on one thread,
  // inside loops that share blocks of work among the job's threads. Idle
  // BLAS threads would spin against those loops, and the library's threaded
  // factorisations round differently with each thread count.
  const Blas_single_thread blas_guard;
  choose_mode(run);
  read_data(run);
  if (!set_up_models(run)) {
    status = 2;
    return;
  }
  set_up_cells(run);
  // The dense matrices of an iteration must fit before anything large is made.
  memory_check::check_inversion_memory(run.nodata(), run.m.get_ncell());
  run.r = run.d;
  run.r.model = &run.m;
  set_up_arrays(run);
  log("!-> Compute Model Covariance: ");
  model_inv_parameters_lapack_dcr2d::cal_diffusion_coefficient_dcr2d(job.diffusion, run.m0,
                                                                     run.d.espacing, 0);
  fwd_dcr2d::dcr2dfwd_lapack(run.r, run.env);
  run.forward_current = true;
  set_up_errors(run);

  if (run.difference()) {
    run.logd0.resize(run.d0.val.size());
    run.logr0.resize(run.r0.val.size());
    for (std::size_t k = 0; k < run.logd0.size(); ++k) run.logd0[k] = std::log(run.d0.val[k]);
    for (std::size_t k = 0; k < run.logr0.size(); ++k) run.logr0[k] = std::log(run.r0.val[k]);
  }
  run.m.rms = current_rms(run);
  write_iteration_files(run, 0);
  if (info.espacing > 0.0) run.r.espacing = info.espacing;
  run.bmodel.assign(static_cast<std::size_t>(run.m.get_ncell()), 0.0);
  run.bresp.assign(static_cast<std::size_t>(run.nodata()), 0.0);

  bool ended = false;
  for (int32_t iter = run.o.startiter; iter <= run.o.enditer; ++iter) {
    const Step s = iterate(run, iter);
    if (s == Step::status3) {
      status = 3;
      run.r.model = nullptr;
      return;
    }
    if (s == Step::report) {
      ended = true;
      break;
    }
  }
  if (!ended) fail("internal error: the iterations ended without a stop rule");
  report(run);
  final_iteration = run.i;
  varnel_events::emit_progress(3, run.i, run.o.iterrms(run.i + 1, 2));
  release(run);
  run.r.model = nullptr;
}

}  // namespace varnel
