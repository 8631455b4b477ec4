// Times one full sensitivity matrix of the 48-electrode dipole-dipole survey
// of forward_bench (a = 1 .. 4, n = 1 .. 8, electrodes 1 m apart) on a grid
// like the one the inversion generates, for each solver: "fd" and "fe" on
// flat ground, "hy" on a flat surface 1 m below the top of the grid (two air
// rows above it). Every element below the surface is its own cell. Besides
// the full computation (which includes its forward computation) a forward
// computation alone and a rank-one update are timed.
//
//   build-bench/bench/sensitivity_bench [repeats]
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/forward_fixture.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/sensitivity/sen_lapack_dcr2d.hpp"

namespace {

using namespace varnel::forward_fixture;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Result {
  std::string solver;
  int cells = 0, data = 0, unknowns = 0;
  double forward = 0.0, first = 0.0, full = 0.0, update = 0.0;  // s
};

Result time_solver(const std::string& solver, const std::string& file,
                   const std::vector<double>& xs, const std::vector<double>& zs,
                   const varnel::Dmatrix* topo, int repeats) {
  Forward_job job;
  job.read_data(file);
  job.make_model(xs, zs, solver, {0.01}, topo);
  std::vector<int32_t> g2u;
  varnel::dcr2dphy::cal_update_model_dcr(job.model, g2u);
  job.model.initialize_inv(&g2u);
  varnel::sen_dcr2d::Sen_state sen;
  job.fwd.approx = solver;
  const varnel::fwd_dcr2d::Fwd_env env{&job.fwd, &job.phy, &job.txrx, 0};

  Result r;
  r.solver = solver;
  r.cells = job.model.ncell;
  r.data = job.d.nodata;
  auto t0 = Clock::now();
  varnel::sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(job.d, false, sen, env);
  r.first = seconds_since(t0);
  r.unknowns = job.fwd.potential_dcr2d.rows();

  std::vector<double> forward, full, update;
  for (int i = 0; i < repeats; ++i) {
    t0 = Clock::now();
    job.run(solver);
    forward.push_back(seconds_since(t0));
    t0 = Clock::now();
    varnel::sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(job.d, false, sen, env);
    full.push_back(seconds_since(t0));
  }
  // A rank-one update after a small change of every cell.
  std::vector<double> res;
  job.model.get_res_inv(res);
  sen.logrho_i.clear();
  for (double v : res) sen.logrho_i.push_back(std::log(v));
  sen.logr_i.clear();
  for (double v : job.d.val) sen.logr_i.push_back(std::log(v));
  std::vector<double> con;
  job.model.get_con_inv(con);
  for (std::size_t c = 0; c < con.size(); ++c) con[c] *= 1.0 + 0.01 * std::sin(0.1 * c);
  job.model.set_con_inv(con);
  job.run(solver);
  for (int i = 0; i < repeats; ++i) {
    t0 = Clock::now();
    varnel::sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(job.d, true, sen, env);
    update.push_back(seconds_since(t0));
  }
  r.forward = median(forward);
  r.full = median(full);
  r.update = median(update);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  constexpr double spacing = 1.0;
  const std::filesystem::path dir = scratch_folder("sensitivity_bench");

  const std::vector<Position> flat = line_of_electrodes(48, spacing);
  const std::vector<Datum> data = dipole_dipole(flat, {1, 2, 3, 4}, 8);
  const std::string flat_file =
      write_text(dir / "flat.dat", dat_text(data, kDipoleDipole, spacing, 1, 1.0));
  const std::vector<double> xs = generated_xs(flat, spacing);
  const std::vector<double> zs = generated_zs(spacing);

  constexpr double depth = 1.0;
  std::vector<Position> offset = flat;
  for (Position& p : offset) p.z = depth;
  const std::vector<Datum> offset_data = dipole_dipole(offset, {1, 2, 3, 4}, 8);
  const std::string offset_file =
      write_text(dir / "offset.dat", dat_text(offset_data, kDipoleDipole, spacing, 1, 1.0));
  const std::vector<double> zs_offset = generated_zs(spacing, depth, {0.0, 0.5});
  const varnel::Dmatrix topo = topo_matrix(offset);

  std::printf("survey: %zu dipole-dipole data on %zu electrodes; %d OpenMP threads; median of %d\n",
              data.size(), flat.size(), omp_get_max_threads(), repeats);
  std::vector<Result> results;
  results.push_back(time_solver("fd", flat_file, xs, zs, nullptr, repeats));
  results.push_back(time_solver("fe", flat_file, xs, zs, nullptr, repeats));
  results.push_back(time_solver("hy", offset_file, xs, zs_offset, &topo, repeats));

  std::printf("\n%-6s %6s %5s %9s %12s %12s %14s %12s\n", "solver", "cells", "data", "unknowns",
              "forward [ms]", "first [ms]", "Jacobian [ms]", "update [ms]");
  for (const Result& r : results)
    std::printf("%-6s %6d %5d %9d %12.1f %12.1f %14.1f %12.2f\n", r.solver.c_str(), r.cells, r.data,
                r.unknowns, 1e3 * r.forward, 1e3 * r.first, 1e3 * r.full, 1e3 * r.update);
  std::printf(
      "\nforward: one forward computation; first: the first full Jacobian (with the one-off\n"
      "derivative set-up); Jacobian: a later full one, its forward computation included;\n"
      "update: the rank-one update.\n");
  std::filesystem::remove_all(dir);
  return 0;
}
