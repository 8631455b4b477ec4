#include "core/inversion/cmjkt_lapack_dcr2d.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/blas_single_thread.hpp"
#include "core/numerics/lapack.hpp"

namespace varnel::cmjkt_lapack_dcr2d {

namespace {

constexpr int32_t along_columns = 1, along_rows = 2;  // the modes of load_cm_dcr2d

// One line (element column or row) to smooth: its operator and, per
// position, the cell it reads and writes (0 for a fixed element).
struct Line_pass {
  const Dmatrix* cm = nullptr;
  std::vector<int32_t> gindex;
};

// The lines of one direction in processing order, with their cell maps.
// They depend on the model only, so one plan serves every data column.
std::vector<Line_pass> plan_passes(const Diffusion_state& d, const dcr2dphy::Model_inv_dcr2d& m,
                                   int32_t mode) {
  if (m.grid == nullptr) fail("internal error: the model refers to no grid");
  const grid2d_dcr::Gr2d_dcr_new& grid = *m.grid;
  const int32_t nx = grid.get_nx_element(), nz = grid.get_nz_element();
  const int32_t nline = mode == along_columns ? nx : nz;  // lines of this direction
  const int32_t len = mode == along_columns ? nz : nx;    // positions per line
  const int32_t ncell = m.get_ncell();
  const Imatrix *e2d = nullptr, *e1d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");
  grid.get_element_mapping(e1d, "1dto2d");
  std::vector<bool> isupdated;
  m.get_isupdated(isupdated);
  const std::vector<int32_t>* g2u = nullptr;
  m.get_update_mapping(g2u);
  if (static_cast<int32_t>(isupdated.size()) != grid.get_n_element() ||
      static_cast<int32_t>(g2u->size()) != grid.get_n_element())
    fail("internal error: the update map of the inverse model does not match its grid");

  auto element = [&](int32_t line, int32_t k) {
    return mode == along_columns ? (*e2d)(k, line) : (*e2d)(line, k);
  };
  auto updatable = [&](int32_t e) { return isupdated[static_cast<std::size_t>(e - 1)]; };

  std::vector<int32_t> lines;
  if (ncell == grid.get_n_element()) {
    // One cell per element: every line that holds an updatable element.
    for (int32_t ii = 1; ii <= nline; ++ii)
      for (int32_t k = 1; k <= len; ++k)
        if (updatable(element(ii, k))) {
          lines.push_back(ii);
          break;
        }
  } else {
    // Merged or fixed elements: the lines of the cells' first elements, in
    // the order of the cells. A cell without elements has no line.
    std::vector<bool> updated(static_cast<std::size_t>(nline) + 1, false);
    for (int32_t c = 1; c <= ncell; ++c) {
      const auto& fwd_id = m.inv[static_cast<std::size_t>(c - 1)].fwd_id;
      if (fwd_id.empty()) continue;
      const int32_t ii = (*e1d)(fwd_id.front(), mode == along_columns ? 1 : 2);
      if (updated[static_cast<std::size_t>(ii)]) continue;
      updated[static_cast<std::size_t>(ii)] = true;
      lines.push_back(ii);
    }
  }

  std::vector<Line_pass> passes;
  for (int32_t ii : lines) {
    Line_pass p;
    const std::vector<int32_t>* cm_index = nullptr;
    cmjkt_dcr2d::load_cm_dcr2d(d, ii, p.cm, cm_index, mode);
    if (p.cm->rows() != len || p.cm->cols() != len || static_cast<int32_t>(cm_index->size()) != len)
      fail("internal error: the roughness operators do not match the grid of the model");
    p.gindex.assign(static_cast<std::size_t>(len), 0);
    for (int32_t k = 1; k <= len; ++k)
      if (updatable(element(ii, k)))
        p.gindex[static_cast<std::size_t>(k - 1)] =
            (*g2u)[static_cast<std::size_t>((*cm_index)[static_cast<std::size_t>(k - 1)] - 1)];
    passes.push_back(std::move(p));
  }
  return passes;
}

// Applies every line pass to jk, each operator n times; jk_temp and work are
// scratch of the line length.
void smooth(const std::vector<Line_pass>& passes, std::span<double> jk, int32_t n,
            std::vector<double>& jk_temp, std::vector<double>& work) {
  for (const Line_pass& p : passes) {
    const std::size_t len = p.gindex.size();
    jk_temp.assign(len, 0.0);
    work.resize(len);
    for (std::size_t k = 0; k < len; ++k)
      if (p.gindex[k] != 0) jk_temp[k] = jk[static_cast<std::size_t>(p.gindex[k] - 1)];
    for (int32_t r = 0; r < n; ++r) cal_cmjkt_lapack_dcr2d(*p.cm, jk_temp, work);
    for (std::size_t k = 0; k < len; ++k)
      if (p.gindex[k] != 0) jk[static_cast<std::size_t>(p.gindex[k] - 1)] = jk_temp[k];
  }
}

void check_cells(std::span<double> jk, const dcr2dphy::Model_inv_dcr2d& m) {
  if (static_cast<int32_t>(jk.size()) != m.get_ncell())
    fail("internal error: a vector of " + std::to_string(jk.size()) + " values for " +
         std::to_string(m.get_ncell()) + " cells");
}

}  // namespace

void cal_cmjkt_dcr2d(cmjkt_dcr2d::Cmjkt_state& s, const Diffusion_state& d, const Dmatrix& jkt,
                     const dataio_dcr2d::Main_data_dcr2d& r) {
  cal_cmjkt_diffu_matrix_dcr2d(s, d, jkt, r);
}

void cal_cmjkt_diffu_matrix_dcr2d(cmjkt_dcr2d::Cmjkt_state& s, const Diffusion_state& d,
                                  const Dmatrix& jkt, const dataio_dcr2d::Main_data_dcr2d& r) {
  if (r.model == nullptr) fail("internal error: the data set refers to no model");
  const dcr2dphy::Model_inv_dcr2d& m = *r.model;
  const int32_t ncell = m.get_ncell(), nodata = r.nodata;
  if (jkt.rows() != ncell || jkt.cols() != nodata)
    fail("internal error: the sensitivity matrix is " + std::to_string(jkt.rows()) + " x " +
         std::to_string(jkt.cols()) + ", the model and data need " + std::to_string(ncell) + " x " +
         std::to_string(nodata));
  s.cmjkt = jkt;
  if (ncell == 0 || nodata == 0) return;

  const std::vector<Line_pass> z = plan_passes(d, m, along_columns);
  const std::vector<Line_pass> x = plan_passes(d, m, along_rows);
  // Every data column is smoothed on its own; each thread owns a block of
  // columns and its scratch. BLAS threads inside the small matrix-vector
  // products would only compete with the loop (four times slower measured
  // with 100 x 100 operators).
  const Blas_single_thread blas_guard;
#pragma omp parallel
  {
    std::vector<double> jk_temp, work;
#pragma omp for schedule(static)
    for (int32_t j = 1; j <= nodata; ++j) {
      const std::span<double> v(&s.cmjkt(1, j), static_cast<std::size_t>(ncell));
      smooth(z, v, 1, jk_temp, work);
      for (int32_t round = 1; round < cmjkt_dcr2d::ndiff; ++round) {
        smooth(x, v, 2, jk_temp, work);
        smooth(z, v, 2, jk_temp, work);
      }
      smooth(x, v, 2, jk_temp, work);
      smooth(z, v, 1, jk_temp, work);
    }
  }
}

void diffu_z_dcr2d(const Diffusion_state& d, std::span<double> jk,
                   const dcr2dphy::Model_inv_dcr2d& m, int32_t n) {
  check_cells(jk, m);
  std::vector<double> jk_temp, work;
  smooth(plan_passes(d, m, along_columns), jk, n, jk_temp, work);
}

void diffu_x_dcr2d(const Diffusion_state& d, std::span<double> jk,
                   const dcr2dphy::Model_inv_dcr2d& m, int32_t n) {
  check_cells(jk, m);
  std::vector<double> jk_temp, work;
  smooth(plan_passes(d, m, along_rows), jk, n, jk_temp, work);
}

void cal_cmjkt_lapack_dcr2d(const Dmatrix& cm, std::span<double> jkt_temp, std::span<double> work) {
  const int rows = cm.rows(), cols = cm.cols(), inc = 1;
  const double alpha = 1.0, beta = 0.0;
  std::fill(work.begin(), work.end(), 0.0);
  dgemv_("N", &rows, &cols, &alpha, cm.data(), &rows, jkt_temp.data(), &inc, &beta, work.data(),
         &inc, 1);
  std::copy(work.begin(), work.end(), jkt_temp.begin());
}

}  // namespace varnel::cmjkt_lapack_dcr2d
