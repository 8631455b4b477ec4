// Generic array routines: deduplication and ordering of rows or columns
// (electrode positions, electrode pairs, grid coordinates, multiplier tables),
// index searches, a coordinate-list sparse matrix and a parallel matrix
// product.
//
// All comparisons are exact (no tolerance) except in find_index. Index results
// are 1-based, 0 meaning "not found". Mode words of the rank-2 routines are
// folded to upper case: "ROW" selects rows, any other word columns;
// issame_vector takes the full words "ROW" or "COLUMN" with their case.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::matrix {

// The distinct rows (mode "ROW") or distinct columns (other modes) of `array`,
// ordered ascending by column `ref_index` (rows) or row `ref_index` (columns);
// those with equal keys stay in the order of their first appearance. A row
// holding NaN equals no row, so each such row is kept. `array` has at least one
// row (row mode) or one column (column mode).
Dmatrix unique_rank2(const Dmatrix& array, std::string_view mode = "ROW", int32_t ref_index = 1);
Imatrix int_unique_rank2(const Imatrix& array, std::string_view mode = "ROW",
                         int32_t ref_index = 1);

// A copy of `array` with its rows ordered ascending by column `ref_index`
// (mode "ROW") or its columns ordered ascending by row `ref_index` (other
// modes). Stable insertion sort; a NaN key never compares greater, so its row
// goes after every row placed before it.
Dmatrix sort_rank2(const Dmatrix& array, std::string_view mode = "ROW", int32_t ref_index = 1);
Imatrix int_sort_rank2(const Imatrix& array, std::string_view mode = "ROW", int32_t ref_index = 1);

// Index of the first row (mode "ROW") or column (mode "COLUMN") of `array`
// whose entries all equal those of `element`; 0 when there is none, when the
// mode is neither word, or when `element` does not have the length of a row
// (column).
int32_t issame_vector(const std::vector<double>& element, const Dmatrix& array,
                      std::string_view mode);
int32_t int_issame_vector(const std::vector<int32_t>& element, const Imatrix& array,
                          std::string_view mode);

// Index of the first entry of `array` equal to `element`; 0 if none.
int32_t issame_element(double element, const std::vector<double>& array);
int32_t int_issame_element(int32_t element, const std::vector<int32_t>& array);

// The distinct values of `array` in ascending order.
std::vector<double> unique_rank1(const std::vector<double>& array);
std::vector<int32_t> int_unique_rank1(const std::vector<int32_t>& array);

// Index of the first element of `ref` within `tol` percent of `x` (for x = 0:
// within the absolute distance tol/100); 0 if none, and 0 without any
// comparison when the elements of `ref` sum to exactly zero.
int32_t find_index(double x, const std::vector<double>& ref, double tol);
// The same percentage rule without the zero-sum shortcut: node lists of a
// grid symmetric about 0 sum to zero and are ordinary lists.
int32_t find_index_in(double x, const std::vector<double>& ref, double tol);

// Reorders the rows of `xx` by the values in column `n` (exchange sort):
// ascending, or descending when `mode` is "descend" (case significant,
// trailing blanks ignored). Rows with equal keys come in no defined order.
void sortrows(Dmatrix& xx, int32_t n, std::string_view mode = "");
// The same on the columns of `xx`, key row `n`.
void sortcolumns(Dmatrix& xx, int32_t n, std::string_view mode = "");

// True when every element is strictly greater than its predecessor.
bool issorted(const std::vector<double>& x);

// Coordinate-list sparse matrix held in irn (row indices), jcn (column
// indices) and val, of which the first nnz entries are in use. If an entry
// (irow, icol) exists among them, coo_add adds `value` to it and coo_replace
// replaces it; otherwise the triple is appended: the arrays then hold exactly
// nnz + 1 entries and nnz increases by one.
void coo_add(std::vector<int32_t>& irn, std::vector<int32_t>& jcn, std::vector<double>& val,
             int32_t& nnz, int32_t irow, int32_t icol, double value);
void coo_replace(std::vector<int32_t>& irn, std::vector<int32_t>& jcn, std::vector<double>& val,
                 int32_t& nnz, int32_t irow, int32_t icol, double value);
// Reorders the first nnz triples ascending by row index (sortrows on the
// nnz x 3 table of row, column, value).
void coo_sort(std::vector<double>& val, std::vector<int32_t>& irn, std::vector<int32_t>& jcn,
              int32_t nnz);

// m1 x m2, the rows of the product divided among the threads in equal contiguous
// blocks; every entry is summed over k in ascending order, so the result does
// not depend on the thread count. Ends the job with "Matrix dimensions do not
// match" when the column count of m1 differs from the row count of m2.
Dmatrix matmul_parallel(const Dmatrix& m1, const Dmatrix& m2);

}  // namespace varnel::matrix
