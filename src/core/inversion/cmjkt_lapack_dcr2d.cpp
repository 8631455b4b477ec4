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
  Dmatrix twice;  // cm cm, for the passes that apply the operator twice
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

// Data columns smoothed together: each operator is applied to all of them in
// one matrix product. The blocks are fixed, not shaped by the thread count,
// so every column is computed the same way whatever the number of threads.
// 64 columns (measured best from 2600 to 9200 cells) reuse an operator of a
// few hundred rows enough to pay for its packing in each product, and keep
// a line's panel in the core's cache.
constexpr int32_t block_columns = 64;

// Scratch of one thread: two line-length x block_columns panels.
struct Block_scratch {
  std::vector<double> panel, product;
};

// The square of every operator: a pass that applies an operator twice in a
// row applies its square once, the same product to rounding at half the
// cost.
void add_squares(std::vector<Line_pass>& passes) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, zero = 0.0;
  for (Line_pass& p : passes) {
    const int len = p.cm->rows();
    p.twice.assign(len, len);
    if (len > 0)
      dgemm_("N", "N", &len, &len, &len, &one, p.cm->data(), &len, p.cm->data(), &len, &zero,
             p.twice.data(), &len, 1, 1);
  }
}

// smooth for the nb columns of c (leading dimension ld) at once: per line,
// the cells of the line are gathered into a panel (0 at fixed positions),
// multiplied n times by the operator (n = 2: once by its square) and
// scattered back.
void smooth_block(const std::vector<Line_pass>& passes, double* c, int32_t ld, int32_t nb,
                  int32_t n, Block_scratch& w) {
  const double one = 1.0, zero = 0.0;
  for (const Line_pass& p : passes) {
    const Dmatrix& op = n == 2 ? p.twice : *p.cm;
    const int32_t products = n == 2 ? 1 : n;
    const auto len = static_cast<int32_t>(p.gindex.size());
    const std::size_t cells = static_cast<std::size_t>(len) * nb;
    if (w.panel.size() < cells) w.panel.resize(cells);
    if (w.product.size() < cells) w.product.resize(cells);
    double* t = w.panel.data();
    double* u = w.product.data();
    const int32_t* g = p.gindex.data();
    for (int32_t j = 0; j < nb; ++j) {
      const double* col = c + static_cast<std::size_t>(j) * ld - 1;
      double* out = t + static_cast<std::size_t>(j) * len;
      for (int32_t k = 0; k < len; ++k) out[k] = g[k] != 0 ? col[g[k]] : 0.0;
    }
    for (int32_t r = 0; r < products; ++r) {
      dgemm_("N", "N", &len, &nb, &len, &one, op.data(), &len, t, &len, &zero, u, &len, 1, 1);
      std::swap(t, u);
    }
    for (int32_t j = 0; j < nb; ++j) {
      double* col = c + static_cast<std::size_t>(j) * ld - 1;
      const double* in = t + static_cast<std::size_t>(j) * len;
      for (int32_t k = 0; k < len; ++k)
        if (g[k] != 0) col[g[k]] = in[k];
    }
  }
}

// The whole sequence Z (X X Z Z) x (ndiff - 1) X X Z on nb columns.
void covariance_block(const std::vector<Line_pass>& z, const std::vector<Line_pass>& x, double* c,
                      int32_t ld, int32_t nb, Block_scratch& w) {
  smooth_block(z, c, ld, nb, 1, w);
  for (int32_t round = 1; round < cmjkt_dcr2d::ndiff; ++round) {
    smooth_block(x, c, ld, nb, 2, w);
    smooth_block(z, c, ld, nb, 2, w);
  }
  smooth_block(x, c, ld, nb, 2, w);
  smooth_block(z, c, ld, nb, 1, w);
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

  std::vector<Line_pass> z = plan_passes(d, m, along_columns);
  std::vector<Line_pass> x = plan_passes(d, m, along_rows);
  add_squares(z);
  add_squares(x);
  // Each thread owns whole blocks of columns and its scratch; the BLAS
  // library's threads would only compete with the loop.
  const Blas_single_thread blas_guard;
  const int32_t nblock = (nodata + block_columns - 1) / block_columns;
#pragma omp parallel
  {
    Block_scratch w;
#pragma omp for schedule(dynamic, 1)
    for (int32_t b = 0; b < nblock; ++b) {
      const int32_t first = b * block_columns;
      const int32_t nb = std::min(block_columns, nodata - first);
      covariance_block(z, x, &s.cmjkt(1, first + 1), ncell, nb, w);
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
