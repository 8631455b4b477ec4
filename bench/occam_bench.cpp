// Times the model-covariance products of one Occam iteration: Cm J^T by the
// roughness operators and the Gram matrix J Cm J^T by the matrix product and
// by the parallel loop, on a grid of nx x nz cells (one cell per element,
// real diffusion operators) with a random sensitivity matrix, for one and
// for two threads.
//
//   build-bench/bench/occam_bench [nodata] [nx] [nz] [repeats]
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/inversion/cmjkt_lapack_dcr2d.hpp"
#include "core/inversion/jkcmjkt_lapack_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace {

using namespace varnel;

template <class F>
double best_seconds(int repeats, F f) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int nodata = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int nx = argc > 2 ? std::atoi(argv[2]) : 60;
  const int nz = argc > 3 ? std::atoi(argv[3]) : 25;
  const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;

  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d model{{&param, &phy}};
  model.set_grid(&grid);
  std::vector<double> xs{0.0}, zs{0.0};
  for (int i = 1; i <= nx; ++i) xs.push_back(xs.back() + 1.0);
  for (int i = 1; i <= nz; ++i) zs.push_back(zs.back() + 0.25 * std::pow(1.1, i));
  const std::vector<double> cond{0.01};
  model.initialize(xs, zs, "fd", &cond);
  model.initialize_inv(nullptr);
  const int ncell = model.get_ncell();

  model_inv_parameters_dcr2d::Diffusion_state diffusion;
  const double t_ops = best_seconds(1, [&] {
    model_inv_parameters_lapack_dcr2d::cal_diffusion_coefficient_dcr2d(diffusion, model, 2.0, 0);
  });

  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dmatrix jkt(ncell, nodata);
  for (int j = 1; j <= nodata; ++j)
    for (int i = 1; i <= ncell; ++i) jkt(i, j) = u(rng);
  dataio_dcr2d::Main_data_dcr2d r;
  r.nodata = nodata;
  r.model = &model;

  std::printf("%d data x %d cells (%d x %d), roughness operators %.3f s\n", nodata, ncell, nx, nz,
              t_ops);
  std::printf("threads  cal_cmjkt_dcr2d  gramman(dgemm)  gramman(loop)   [best of %d, s]\n",
              repeats);
  for (int threads : {1, 2}) {
    omp_set_num_threads(threads);
    cmjkt_dcr2d::Cmjkt_state s;
    jkcmjkt_dcr2d::Jkcmjkt_state g;
    const double t_cm =
        best_seconds(repeats, [&] { cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, diffusion, jkt, r); });
    const double t_blas = best_seconds(
        repeats, [&] { jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(g, jkt, s.cmjkt, nodata, 0); });
    const double t_loop = best_seconds(
        repeats, [&] { jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(g, jkt, s.cmjkt, nodata, 1); });
    std::printf("%7d  %15.3f  %14.3f  %13.3f\n", threads, t_cm, t_blas, t_loop);
  }
  return 0;
}
