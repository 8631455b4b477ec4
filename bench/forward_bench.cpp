// Times one forward computation of a 48-electrode dipole-dipole survey
// (a = 1 .. 4, n = 1 .. 8, electrodes 1 m apart) on a grid like the one the
// inversion generates, for each solver: "fd" and "fe" on flat ground, "hy"
// on a flat surface 1 m below the top of the grid (two air rows above it,
// so the hybrid mesher and the earth-node numbering are at work).
//
// The band LU calls are timed where they happen: this program defines
// dgbtrf_ and dgbtrs_, which the library's objects linked into it resolve
// to, and forwards each call to the LAPACK of the process. As a floor, a
// bare loop of the same calls (same n, KL, KU and NRHS, eight factorisations
// and solutions) on a diagonally dominant band matrix is timed too.
//
//   build-accbench/bench/forward_bench [repeats]
#include <dlfcn.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/forward_fixture.hpp"
#include "bench_util.hpp"
#include "core/numerics/lapack.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Time spent inside the band LU routines, and the shape of the last call.
struct Lapack_meter {
  std::atomic<long long> nanoseconds{0};
  std::atomic<int> factorisations{0}, solutions{0};
  int n = 0, kl = 0, ku = 0, nrhs = 0;
  void reset() {
    nanoseconds = 0;
    factorisations = 0;
    solutions = 0;
  }
};
Lapack_meter meter;

using Dgbtrf = void (*)(const int*, const int*, const int*, const int*, double*, const int*, int*,
                        int*);
using Dgbtrs = void (*)(const char*, const int*, const int*, const int*, const int*, const double*,
                        const int*, const int*, double*, const int*, int*, std::size_t);

template <typename F>
F next_symbol(const char* name) {
  void* p = dlsym(RTLD_NEXT, name);
  if (p == nullptr) {
    std::fprintf(stderr, "forward_bench: no %s in the LAPACK of the process\n", name);
    std::exit(2);
  }
  return reinterpret_cast<F>(p);
}

void add_time(Clock::time_point t0) {
  meter.nanoseconds +=
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
}

}  // namespace

extern "C" {

void dgbtrf_(const int* m, const int* n, const int* kl, const int* ku, double* ab, const int* ldab,
             int* ipiv, int* info) {
  static const Dgbtrf real = next_symbol<Dgbtrf>("dgbtrf_");
  const auto t0 = Clock::now();
  real(m, n, kl, ku, ab, ldab, ipiv, info);
  add_time(t0);
  ++meter.factorisations;
  meter.n = *n, meter.kl = *kl, meter.ku = *ku;
}

void dgbtrs_(const char* trans, const int* n, const int* kl, const int* ku, const int* nrhs,
             const double* ab, const int* ldab, const int* ipiv, double* b, const int* ldb,
             int* info, std::size_t trans_len) {
  static const Dgbtrs real = next_symbol<Dgbtrs>("dgbtrs_");
  const auto t0 = Clock::now();
  real(trans, n, kl, ku, nrhs, ab, ldab, ipiv, b, ldb, info, trans_len);
  add_time(t0);
  ++meter.solutions;
  meter.nrhs = *nrhs;
}
}

namespace {

using namespace varnel::forward_fixture;

struct Result {
  std::string solver;
  int n = 0, kl = 0, nrhs = 0;
  double first = 0.0;    // first computation (with the one-off set-up), s
  double forward = 0.0;  // median of the repeated computations, s
  double lapack = 0.0;   // of it inside dgbtrf/dgbtrs, s
  double floor = 0.0;    // bare loop of the same calls, s
};

Result time_solver(const std::string& solver, const std::string& file,
                   const std::vector<double>& xs, const std::vector<double>& zs,
                   const varnel::Dmatrix* topo, int repeats) {
  Forward_job job;
  job.read_data(file);
  job.make_model(xs, zs, solver, {0.01}, topo);
  Result r;
  r.solver = solver;
  auto t0 = Clock::now();
  job.run(solver);
  r.first = seconds_since(t0);
  std::vector<double> wall, inside;
  for (int i = 0; i < repeats; ++i) {
    meter.reset();
    t0 = Clock::now();
    job.run(solver);
    wall.push_back(seconds_since(t0));
    inside.push_back(1e-9 * static_cast<double>(meter.nanoseconds.load()));
  }
  // The repetition of median wall time, with its own LAPACK time.
  std::vector<std::size_t> order(wall.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](auto a, auto b) { return wall[a] < wall[b]; });
  const std::size_t mid = order[order.size() / 2];
  r.forward = wall[mid];
  r.lapack = inside[mid];
  r.n = meter.n, r.kl = meter.kl, r.nrhs = meter.nrhs;
  r.floor = varnel::bench::bare_band_lu_seconds(meter.n, meter.kl, meter.ku, meter.nrhs, repeats,
                                                omp_get_max_threads());
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
  constexpr double spacing = 1.0;
  const std::filesystem::path dir = scratch_folder("forward_bench");

  // Flat ground at depth 0.
  const std::vector<Position> flat = line_of_electrodes(48, spacing);
  const std::vector<Datum> data = dipole_dipole(flat, {1, 2, 3, 4}, 8);
  const std::string flat_file =
      write_text(dir / "flat.dat", dat_text(data, kDipoleDipole, spacing, 1, 1.0));
  const std::vector<double> xs = generated_xs(flat, spacing);
  const std::vector<double> zs = generated_zs(spacing);

  // The same survey on a surface 1 m down, below two air rows.
  constexpr double depth = 1.0;
  std::vector<Position> offset = flat;
  for (Position& p : offset) p.z = depth;
  const std::vector<Datum> offset_data = dipole_dipole(offset, {1, 2, 3, 4}, 8);
  const std::string offset_file =
      write_text(dir / "offset.dat", dat_text(offset_data, kDipoleDipole, spacing, 1, 1.0));
  const std::vector<double> zs_offset = generated_zs(spacing, depth, {0.0, 0.5});
  const varnel::Dmatrix topo = topo_matrix(offset);

  std::printf(
      "survey: %zu dipole-dipole data on %zu electrodes; grid %zu x %zu nodes "
      "(hy: %zu x %zu, surface at %.1f m); %d OpenMP threads; median of %d runs\n",
      data.size(), flat.size(), xs.size(), zs.size(), xs.size(), zs_offset.size(), depth,
      omp_get_max_threads(), repeats);

  std::vector<Result> results;
  results.push_back(time_solver("fd", flat_file, xs, zs, nullptr, repeats));
  results.push_back(time_solver("fe", flat_file, xs, zs, nullptr, repeats));
  results.push_back(time_solver("hy", offset_file, xs, zs_offset, &topo, repeats));

  std::printf("\n%-6s %9s %4s %5s %11s %11s %12s %8s %15s %12s\n", "solver", "unknowns", "KL",
              "NRHS", "first [ms]", "one [ms]", "LAPACK [ms]", "share", "outside/LAPACK",
              "floor [ms]");
  for (const Result& r : results)
    std::printf("%-6s %9d %4d %5d %11.2f %11.2f %12.2f %7.1f%% %15.2f %12.2f\n", r.solver.c_str(),
                r.n, r.kl, r.nrhs, 1e3 * r.first, 1e3 * r.forward, 1e3 * r.lapack,
                100.0 * r.lapack / r.forward, (r.forward - r.lapack) / r.lapack, 1e3 * r.floor);
  std::printf(
      "\nfirst: the first computation, with the one-off set-up; one: a later one (median);\n"
      "LAPACK: its time inside dgbtrf/dgbtrs, summed over the threads that solve the\n"
      "wavenumbers concurrently (share and outside/LAPACK are then per thread-second);\n"
      "floor: the same 8 calls alone, spread over the threads as the solver spreads them.\n"
      "Target: one at most 1.25 x floor.\n");
  std::filesystem::remove_all(dir);
  return 0;
}
