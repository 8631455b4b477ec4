#include "core/survey/data_filter_dcr2d.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::data_filter_dcr2d {

namespace {

// Keeps the rows of rawdata(1..nodata, :) whose entry in column `col` is not
// <= 0 (so NaN stays). Each row is handled by one thread; a kept row goes to
// its rank among the kept rows.
void filter_rows(Dmatrix& rawdata, int32_t& nodata, int col, const std::string& what) {
  const int nd = nodata;
  if (nd <= 0) return;
  if (rawdata.rows() < nd || col < 1 || col > rawdata.cols())
    fail(what + ": the value column " + std::to_string(col) + " is not in the " +
         std::to_string(rawdata.rows()) + " x " + std::to_string(rawdata.cols()) +
         " data rows of " + std::to_string(nd) + " data");

  std::vector<uint8_t> keep(static_cast<std::size_t>(nd));
#pragma omp parallel for schedule(static)
  for (int i = 1; i <= nd; ++i) keep[i - 1] = rawdata(i, col) <= 0.0 ? 0 : 1;

  // Rank of each kept row (a prefix count; cheap next to the copy).
  std::vector<int> rank(static_cast<std::size_t>(nd), 0);
  int nkeep = 0;
  for (int i = 1; i <= nd; ++i)
    if (keep[i - 1] != 0) rank[i - 1] = ++nkeep;
  if (nkeep == nd) return;

  const int ncol = rawdata.cols();
  Dmatrix kept(nkeep, ncol);
#pragma omp parallel for schedule(static)
  for (int i = 1; i <= nd; ++i) {
    if (keep[i - 1] == 0) continue;
    for (int k = 1; k <= ncol; ++k) kept(rank[i - 1], k) = rawdata(i, k);
  }
  rawdata = std::move(kept);
  nodata = nkeep;
}

}  // namespace

void negative_filter_dcr2d_dat_file(Dat& d) {
  filter_rows(d.rawdata, d.nodata, d.ncomp - d.ip_flag, "DAT file " + d.filename);
}

void negative_filter_dcr2d_ceg_file(Ceg& d) {
  filter_rows(d.rawdata, d.nodata, d.index_rho_data, "CEG file " + d.filename);
}

}  // namespace varnel::data_filter_dcr2d
