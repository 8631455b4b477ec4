// Times reading a large survey: a general-array DAT file of 20,000 data on
// 200 electrodes is read, filtered, set up (electrode table, dictionaries,
// identifiers, levels, geometric factors, topography) and merged.
//
//   build-bench/bench/survey_setup_bench [ndata] [nelectrodes] [repeats]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/survey/dataio_dcr2d.hpp"

namespace {

std::string make_survey(int ndata, int nelec) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "varnel_bench_survey.dat").string();
  std::ofstream out(path);
  out << "bench\n1.0\n11\n11\nType of measurement (0=app. resistivity,1=resistance)\n0\n"
      << ndata << "\n1\n0\n";
  unsigned long long state = 12345;
  auto next = [&](int n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state >> 33) % static_cast<unsigned long long>(n));
  };
  for (int i = 0; i < ndata; ++i) {
    // Dipole-dipole-like quadruples of distinct electrodes at x = 0 .. nelec-1.
    const int a = 1 + next(4), n = 1 + next(8);
    const int c2 = next(nelec - (n + 2) * a);
    const int c1 = c2 + a, p1 = c1 + n * a, p2 = p1 + a;
    out << "4 " << c1 << " 0 " << c2 << " 0 " << p1 << " 0 " << p2 << " 0 "
        << 50.0 + next(1000) / 10.0 << "\n";
  }
  out << "0\n";
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const int ndata = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int nelec = argc > 2 ? std::atoi(argv[2]) : 200;
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::string path = make_survey(ndata, nelec);
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    varnel::dataio_dcr2d::Main_data_dcr2d d;
    varnel::dataio_dcr2d::Dataio_state io;
    varnel::txrx_info_dcr2d::Txrx_info_state txrx;
    const auto t0 = std::chrono::steady_clock::now();
    varnel::dataio_dcr2d::read_dcr2d_datafile(d, path, io, txrx);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, s);
    if (r == 0)
      std::printf("survey: %d data, %d electrodes in the table, %d topography rows\n", d.nodata,
                  txrx.pelec_dcr2d.rows(), d.ntopo);
  }
  std::printf("read + filter + set-up + merge: best of %d runs %.3f s\n", repeats, best);
  std::filesystem::remove(path);
  return 0;
}
