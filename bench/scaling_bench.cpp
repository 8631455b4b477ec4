// Times the stages of an Occam iteration for a survey of n electrodes 1 m
// apart: dipole-dipole (a = 1 .. 4, n = 1 .. 8) plus Wenner-alpha (a = 1 ..
// 16, as far as the line allows), apparent resistivities of a homogeneous
// earth.
//
// The grid is the one the inversion generates for the survey. On it: one
// forward computation with each solver ("fd" and "fe" on the flat grid;
// "hy" with the survey on a flat surface 1 m down, below two air rows), the
// bare band LU calls of a forward computation (eight factorisations and
// solutions on one thread, and for each solver the same calls spread over
// the job's threads as the solver spreads them: its floor), the
// full Jacobian from the potentials of the current model, Cm J^T, the Gram
// matrix, and the model update of a trial multiplier by each of its two
// routes (the plain solve when every singular value is kept, the truncated
// decomposition otherwise). Prints one JSON object; bench/inversion_bench.py
// --scaling runs it for 24 to 192 electrodes and adds full inversions.
//
//   build-perf/bench/scaling_bench electrodes [repeats [forward]]
//
// With "forward" it stops after the forward computations and their floors.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/forward_fixture.hpp"
#include "bench_util.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"
#include "core/inversion/cmjkt_lapack_dcr2d.hpp"
#include "core/inversion/compute_data_error_dcr2d.hpp"
#include "core/inversion/dhat_dcr2d.hpp"
#include "core/inversion/jkcmjkt_lapack_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"
#include "core/model/prior_model_dcr2d.hpp"
#include "core/sensitivity/sen_lapack_dcr2d.hpp"
#include "job.hpp"

namespace {

using namespace varnel;
using namespace varnel::forward_fixture;
using bench::Clock;
using bench::median_seconds;
using bench::seconds_since;

std::vector<Datum> survey(const std::vector<Position>& e) {
  std::vector<Datum> data = dipole_dipole(e, {1, 2, 3, 4}, 8);
  const std::vector<Datum> w = wenner_alpha(e, 16);
  data.insert(data.end(), w.begin(), w.end());
  return data;
}

struct Forward_time {
  double seconds = 0.0;
  int unknowns = 0, kl = 0, nrhs = 0;
};

// One forward computation on the grid xs x zs (median of repeats, after a
// first one that builds the sources and the grid arrays).
Forward_time time_forward(const std::string& solver, const std::string& file,
                          const std::vector<double>& xs, const std::vector<double>& zs,
                          const Dmatrix* topo, int repeats) {
  Forward_job job;
  job.read_data(file);
  job.make_model(xs, zs, solver, {0.01}, topo);
  job.run(solver);
  Forward_time t;
  t.seconds = median_seconds(repeats, [&] { job.run(solver); });
  t.unknowns = job.fwd.potential_dcr2d.rows();
  t.kl = job.phy.nozs + 1;
  t.nrhs = job.fwd.noelec;
  return t;
}

// The bare band LU calls of one forward computation of t, spread over the
// job's threads as the solver spreads its wavenumbers: its floor.
double floor_of(const Forward_time& t, int repeats) {
  return bench::bare_band_lu_seconds(t.unknowns, t.kl, t.kl, t.nrhs, repeats,
                                     omp_get_max_threads());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scaling_bench electrodes [repeats [forward]]\n");
    return 2;
  }
  const int electrodes = std::atoi(argv[1]);
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const bool forward_only = argc > 3 && std::string(argv[3]) == "forward";
  constexpr double spacing = 1.0;
  omp_set_dynamic(0);
  const Blas_single_thread blas_guard;  // as the drivers run
  const std::filesystem::path dir = scratch_folder("scaling_bench");

  const std::vector<Position> flat = line_of_electrodes(electrodes, spacing);
  const std::vector<Datum> data = survey(flat);
  const std::string flat_file = write_text(dir / "flat.dat", dat_text(data, 0, spacing, 0, 100.0));
  std::vector<Position> offset = flat;
  for (Position& p : offset) p.z = 1.0;
  const std::string offset_file =
      write_text(dir / "offset.dat", dat_text(survey(offset), 0, spacing, 0, 100.0));

  // The inversion's set-up on flat ground: the generated grid and model, one
  // cell per element, the roughness operators, a 3 % error floor.
  arg_reader::Arg_info info;
  Job job(info);
  dataio_dcr2d::Main_data_dcr2d d;
  dataio_dcr2d::read_dcr2d_datafile(d, flat_file, job.dataio, job.txrx);
  dcr2dphy::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m(job.model_env());
  m.set_grid(&grid);
  double rho = 0.0;
  prior_model_dcr2d::Prior_model_state prior;
  prior_model_dcr2d::create_prior_model_dcr2d(d, m, "fd", rho, prior);
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(m, g2u);
  m.initialize_inv(&g2u);
  dataio_dcr2d::Main_data_dcr2d r = d;
  r.model = &m;
  job.fwd.approx = "fd";
  const fwd_dcr2d::Fwd_env env = job.fwd_env();
  auto t0 = Clock::now();
  model_inv_parameters_lapack_dcr2d::cal_diffusion_coefficient_dcr2d(job.diffusion, m, d.espacing,
                                                                     0);
  const double t_operators = seconds_since(t0);

  // Forward computations with each solver, and the floors.
  const std::vector<double> xs(grid.get_x_grid().begin(), grid.get_x_grid().end());
  const std::vector<double> zs(grid.get_z_grid().begin(), grid.get_z_grid().end());
  // A forward computation takes well under a second: more repeats steady
  // its median on a shared machine.
  const int fwd_repeats = std::max(repeats, 11);
  const Forward_time fd = time_forward("fd", flat_file, xs, zs, nullptr, fwd_repeats);
  const Forward_time fe = time_forward("fe", flat_file, xs, zs, nullptr, fwd_repeats);
  const Dmatrix topo = topo_matrix(offset);
  const Forward_time hy = time_forward("hy", offset_file, xs,
                                       generated_zs(spacing, 1.0, {0.0, 0.5}), &topo, fwd_repeats);
  const double floor_one =
      bench::bare_band_lu_seconds(fd.unknowns, fd.kl, fd.kl, fd.nrhs, fwd_repeats);
  const double floor_fd = floor_of(fd, fwd_repeats), floor_fe = floor_of(fe, fwd_repeats),
               floor_hy = floor_of(hy, fwd_repeats);
  if (forward_only) {
    std::printf(
        "{\"electrodes\": %d, \"threads\": %d, \"unknowns\": %d,\n"
        " \"forward_fd\": %.6f, \"forward_fe\": %.6f, \"forward_hy\": %.6f,\n"
        " \"floor_fd\": %.6f, \"floor_fe\": %.6f, \"floor_hy\": %.6f}\n",
        electrodes, omp_get_max_threads(), fd.unknowns, fd.seconds, fe.seconds, hy.seconds,
        floor_fd, floor_fe, floor_hy);
    std::filesystem::remove_all(dir);
    return 0;
  }

  // One iteration at the starting model.
  fwd_dcr2d::dcr2dfwd_lapack(r, env);
  sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(r, false, job.sen, env, true);
  const double t_jacobian = median_seconds(repeats, [&] {
    sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(r, false, job.sen, env, true);
  });
  const double t_cmjkt = median_seconds(repeats, [&] {
    cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(job.cmjkt, job.diffusion, job.sen.jkt, r);
  });
  const double t_gram = median_seconds(repeats, [&] {
    jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(job.jkcmjkt, job.sen.jkt, job.cmjkt.cmjkt, d.nodata, 0);
  });

  occam::Occam_state& o = job.occam;
  o.logd.resize(d.val.size());
  for (std::size_t k = 0; k < d.val.size(); ++k) o.logd[k] = std::log(d.val[k]);
  compute_data_error_dcr2d::cal_error_perror_uniform_dcr2d(d.val, r, 3.0);
  occam::cal_data_covariance(o, d.val, r.err, false, 0);
  occam::cal_rms(o, r.val, false, false);
  std::vector<double> con;
  m.get_con_inv(con);
  o.logrho.assign(con.size(), 0.0);
  for (std::size_t c = 0; c < con.size(); ++c) o.logrho[c] = std::log(1.0 / con[c]);
  o.logrho0 = o.logrho;
  dhat_dcr2d::cal_dhat_dcr2d(o, job.sen.jkt, d.nodata, false, false);

  // The model update at falling multipliers until both routes are timed.
  namespace update = cal_model_update_lapack_dcr2d;
  update::Update_workspace ws;
  double t_plain = -1.0, t_truncated = -1.0, lambda_plain = 0.0, lambda_truncated = 0.0;
  for (double lambda = 3.0; lambda >= -10.0 && (t_plain < 0.0 || t_truncated < 0.0);
       lambda -= 1.0) {
    update::Update_route route = update::Update_route::none;
    const double t = median_seconds(repeats, [&] {
      route = update::cal_doccam_svd_reusing_dcr2d(ws, o, job.jkcmjkt.gramman, job.cmjkt.cmjkt, con,
                                                   lambda, d.nodata);
    });
    if (route == update::Update_route::plain_solve && t_plain < 0.0) {
      t_plain = t;
      lambda_plain = lambda;
    }
    if (route == update::Update_route::truncated && t_truncated < 0.0) {
      t_truncated = t;
      lambda_truncated = lambda;
    }
  }

  std::printf(
      "{\"electrodes\": %d, \"data\": %d, \"cells\": %d, \"nodes\": %d, \"threads\": %d,\n"
      " \"forward_fd\": %.6f, \"forward_fe\": %.6f, \"forward_hy\": %.6f,\n"
      " \"unknowns\": %d, \"kl\": %d, \"nrhs\": %d, \"floor_one\": %.6f,\n"
      " \"floor_fd\": %.6f, \"floor_fe\": %.6f, \"floor_hy\": %.6f,\n"
      " \"operators\": %.6f, \"jacobian\": %.6f, \"cmjkt\": %.6f, \"gram\": %.6f,\n"
      " \"update_plain\": %.6f, \"lambda_plain\": %.1f, \"update_truncated\": %.6f,"
      " \"lambda_truncated\": %.1f,\n \"peak_mib\": %.1f}\n",
      electrodes, d.nodata, m.get_ncell(), grid.get_n_node(), omp_get_max_threads(), fd.seconds,
      fe.seconds, hy.seconds, fd.unknowns, fd.kl, fd.nrhs, floor_one, floor_fd, floor_fe, floor_hy,
      t_operators, t_jacobian, t_cmjkt, t_gram, t_plain, lambda_plain, t_truncated,
      lambda_truncated, bench::peak_memory_mib());
  r.model = nullptr;
  std::filesystem::remove_all(dir);
  return 0;
}
