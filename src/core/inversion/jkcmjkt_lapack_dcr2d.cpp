#include "core/inversion/jkcmjkt_lapack_dcr2d.hpp"

#include <string>

#include "core/error.hpp"
#include "core/inversion/parallel_dense.hpp"

namespace varnel::jkcmjkt_lapack_dcr2d {

namespace {

void check_shapes(const Dmatrix& jkt, const Dmatrix& cmjkt, int32_t nodata) {
  if (jkt.rows() != cmjkt.rows() || jkt.cols() != nodata || cmjkt.cols() != nodata)
    fail("internal error: the Gram matrix of " + std::to_string(nodata) +
         " data needs two matrices with that many columns and equal rows, not " +
         std::to_string(jkt.rows()) + " x " + std::to_string(jkt.cols()) + " and " +
         std::to_string(cmjkt.rows()) + " x " + std::to_string(cmjkt.cols()));
}

}  // namespace

void cal_gramman_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt, int32_t nodata,
                       int32_t mode) {
  if (mode == 1)
    cal_gramman_parallel_dcr2d(s, jkt, cmjkt, nodata);
  else
    cal_gramman_lapack_dcr2d(s, jkt, cmjkt, nodata);
}

void cal_gramman_lapack_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt,
                              int32_t nodata) {
  check_shapes(jkt, cmjkt, nodata);
  jkcmjkt_dcr2d::allocate_gramman_dcr2d(s, nodata);
  if (nodata == 0) return;
  const int32_t k = jkt.rows(), ld = k > 0 ? k : 1;
  // In blocks of columns on the job's threads: the same matrix whatever
  // their number.
  parallel_dense::gemm_tn(nodata, nodata, k, jkt.data(), ld, cmjkt.data(), ld, s.gramman.data(),
                          nodata);
}

void cal_gramman_parallel_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt,
                                int32_t nodata) {
  check_shapes(jkt, cmjkt, nodata);
  jkcmjkt_dcr2d::allocate_gramman_dcr2d(s, nodata);
  const int32_t ncell = jkt.rows();
  Dmatrix& g = s.gramman;
  // Contiguous blocks of rows per thread; each sum runs in increasing k.
#pragma omp parallel for schedule(static)
  for (int32_t i = 1; i <= nodata; ++i)
    for (int32_t j = 1; j <= nodata; ++j) {
      double sum = 0.0;
      for (int32_t k = 1; k <= ncell; ++k) sum += jkt(k, i) * cmjkt(k, j);
      g(i, j) = sum;
    }
}

}  // namespace varnel::jkcmjkt_lapack_dcr2d
