#include "core/numerics/matrix.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <utility>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/string_utility.hpp"

namespace varnel::matrix {

namespace {

bool row_mode(std::string_view mode) {
  return string_utility::same_text(string_utility::strupcase(mode), "ROW");
}

template <class T>
Array2<T> transpose(const Array2<T>& a) {
  Array2<T> t(a.cols(), a.rows());
  for (int j = 1; j <= a.cols(); ++j)
    for (int i = 1; i <= a.rows(); ++i) t(j, i) = a(i, j);
  return t;
}

template <class T>
void copy_row(const Array2<T>& from, int i, Array2<T>& to, int r) {
  for (int k = 1; k <= from.cols(); ++k) to(r, k) = from(i, k);
}

template <class T>
void swap_rows(Array2<T>& a, int i, int j) {
  for (int k = 1; k <= a.cols(); ++k) std::swap(a(i, k), a(j, k));
}

// Index of the first of rows 1 .. limit of `array` equal to `element` in every
// column; 0 if none.
template <class T>
int32_t first_same_row(const std::vector<T>& element, const Array2<T>& array, int limit) {
  if (element.size() != static_cast<std::size_t>(array.cols())) return 0;
  for (int r = 1; r <= limit; ++r) {
    bool same = true;
    for (int k = 1; k <= array.cols() && same; ++k) same = array(r, k) == element[k - 1];
    if (same) return r;
  }
  return 0;
}

template <class T>
int32_t first_same_column(const std::vector<T>& element, const Array2<T>& array) {
  if (element.size() != static_cast<std::size_t>(array.rows())) return 0;
  for (int c = 1; c <= array.cols(); ++c) {
    bool same = true;
    for (int k = 1; k <= array.rows() && same; ++k) same = array(k, c) == element[k - 1];
    if (same) return c;
  }
  return 0;
}

template <class T>
int32_t same_vector(const std::vector<T>& element, const Array2<T>& array, std::string_view mode) {
  if (string_utility::same_text(mode, "ROW")) return first_same_row(element, array, array.rows());
  if (string_utility::same_text(mode, "COLUMN")) return first_same_column(element, array);
  return 0;
}

// Stable insertion sort of the rows by column c. The result starts filled with
// `fill`; row i goes before the first placed row whose key is strictly
// greater, or after all placed rows.
template <class T>
Array2<T> insertion_sort_rows(const Array2<T>& array, int32_t c, T fill) {
  const int nrow = array.rows();
  Array2<T> sorted(nrow, array.cols(), fill);
  if (nrow == 0) return sorted;
  assert(c >= 1 && c <= array.cols());
  copy_row(array, 1, sorted, 1);
  int filled = 1;
  for (int i = 2; i <= nrow; ++i) {
    int pos = filled + 1;
    for (int j = 1; j <= filled; ++j) {
      if (sorted(j, c) > array(i, c)) {
        pos = j;
        break;
      }
    }
    for (int r = filled; r >= pos; --r) copy_row(sorted, r, sorted, r + 1);
    copy_row(array, i, sorted, pos);
    ++filled;
  }
  return sorted;
}

template <class T>
Array2<T> sort_rank2_impl(const Array2<T>& array, std::string_view mode, int32_t ref_index,
                          T fill) {
  if (row_mode(mode)) return insertion_sort_rows(array, ref_index, fill);
  return transpose(insertion_sort_rows(transpose(array), ref_index, fill));
}

// Distinct rows in order of first appearance, then sorted by column
// ref_index. A new row is compared with rows 1 .. limit of the work matrix,
// where limit is the whole work matrix when `search_all` is set (its unfilled
// rows are NaN and never match) and the rows filled so far otherwise (integer
// matrices have no value that matches nothing).
template <class T>
Array2<T> unique_rows(const Array2<T>& array, int32_t ref_index, T fill, bool search_all) {
  const int nrow = array.rows();
  const int ncol = array.cols();
  if (nrow == 0) return Array2<T>(0, ncol);
  Array2<T> buffer(nrow, ncol, fill);
  copy_row(array, 1, buffer, 1);
  int count = 1;
  std::vector<T> element(static_cast<std::size_t>(ncol));
  for (int i = 2; i <= nrow; ++i) {
    for (int k = 1; k <= ncol; ++k) element[k - 1] = array(i, k);
    if (first_same_row(element, buffer, search_all ? nrow : count) == 0) {
      copy_row(array, i, buffer, count + 1);
      ++count;
    }
  }
  Array2<T> distinct(count, ncol);
  for (int r = 1; r <= count; ++r) copy_row(buffer, r, distinct, r);
  return insertion_sort_rows(distinct, ref_index, fill);
}

template <class T>
Array2<T> unique_rank2_impl(const Array2<T>& array, std::string_view mode, int32_t ref_index,
                            T fill, bool search_all) {
  if (row_mode(mode)) return unique_rows(array, ref_index, fill, search_all);
  return transpose(unique_rows(transpose(array), ref_index, fill, search_all));
}

template <class T>
int32_t same_element(T element, const std::vector<T>& array) {
  for (std::size_t i = 0; i < array.size(); ++i)
    if (array[i] == element) return static_cast<int32_t>(i + 1);
  return 0;
}

void exchange_sort_rows(Dmatrix& xx, int32_t n, std::string_view mode) {
  const bool descend = string_utility::same_text(mode, "descend");
  const int nrow = xx.rows();
  if (nrow > 1) assert(n >= 1 && n <= xx.cols());
  for (int i = 1; i <= nrow - 1; ++i) {
    for (int j = i + 1; j <= nrow; ++j) {
      const bool exchange = descend ? xx(j, n) > xx(i, n) : xx(i, n) > xx(j, n);
      if (exchange) swap_rows(xx, i, j);
    }
  }
}

template <bool Add>
void coo_set(std::vector<int32_t>& irn, std::vector<int32_t>& jcn, std::vector<double>& val,
             int32_t& nnz, int32_t irow, int32_t icol, double value) {
  assert(nnz >= 0 && static_cast<std::size_t>(nnz) <= irn.size() &&
         static_cast<std::size_t>(nnz) <= jcn.size() &&
         static_cast<std::size_t>(nnz) <= val.size());
  for (int32_t k = 0; k < nnz; ++k) {
    if (irn[k] == irow && jcn[k] == icol) {
      if (Add)
        val[k] += value;
      else
        val[k] = value;
      return;
    }
  }
  const std::size_t n = static_cast<std::size_t>(nnz);
  irn.resize(n);
  jcn.resize(n);
  val.resize(n);
  irn.push_back(irow);
  jcn.push_back(icol);
  val.push_back(value);
  ++nnz;
}

}  // namespace

Dmatrix unique_rank2(const Dmatrix& array, std::string_view mode, int32_t ref_index) {
  return unique_rank2_impl(array, mode, ref_index, maths::nan_rsp(), true);
}

Imatrix int_unique_rank2(const Imatrix& array, std::string_view mode, int32_t ref_index) {
  return unique_rank2_impl<int32_t>(array, mode, ref_index, 0, false);
}

Dmatrix sort_rank2(const Dmatrix& array, std::string_view mode, int32_t ref_index) {
  return sort_rank2_impl(array, mode, ref_index, maths::nan_rsp());
}

Imatrix int_sort_rank2(const Imatrix& array, std::string_view mode, int32_t ref_index) {
  return sort_rank2_impl<int32_t>(array, mode, ref_index, 0);
}

int32_t issame_vector(const std::vector<double>& element, const Dmatrix& array,
                      std::string_view mode) {
  return same_vector(element, array, mode);
}

int32_t int_issame_vector(const std::vector<int32_t>& element, const Imatrix& array,
                          std::string_view mode) {
  return same_vector(element, array, mode);
}

int32_t issame_element(double element, const std::vector<double>& array) {
  return same_element(element, array);
}

int32_t int_issame_element(int32_t element, const std::vector<int32_t>& array) {
  return same_element(element, array);
}

std::vector<double> unique_rank1(const std::vector<double>& array) {
  // lower starts one below the minimum; each step takes the smallest element
  // strictly greater than the last one taken, until the maximum is reached.
  // NaN elements never compare and are left out.
  std::vector<double> out;
  bool any = false;
  double lo = 0.0, hi = 0.0;
  for (double v : array) {
    if (std::isnan(v)) continue;
    if (!any || v < lo) lo = v;
    if (!any || v > hi) hi = v;
    any = true;
  }
  if (!any) return out;
  double lower = lo - 1.0;
  const double upper = hi;
  while (lower < upper) {
    double next = upper;
    for (double v : array)
      if (v > lower && v < next) next = v;
    lower = next;
    out.push_back(lower);
  }
  return out;
}

std::vector<int32_t> int_unique_rank1(const std::vector<int32_t>& array) {
  std::vector<int32_t> distinct;
  for (int32_t v : array)
    if (same_element(v, distinct) == 0) distinct.push_back(v);
  std::vector<int32_t> out;
  out.reserve(distinct.size());
  for (std::size_t n = 0; n < distinct.size(); ++n) {
    bool found = false;
    int32_t best = 0;
    for (int32_t v : distinct) {
      if (n > 0 && v <= out.back()) continue;
      if (!found || v < best) best = v;
      found = true;
    }
    out.push_back(best);
  }
  return out;
}

int32_t find_index(double x, const std::vector<double>& ref, double tol) {
  double sum = 0.0;
  for (double v : ref) sum += v;
  if (sum == 0.0) return 0;
  return find_index_in(x, ref, tol);
}

int32_t find_index_in(double x, const std::vector<double>& ref, double tol) {
  for (std::size_t i = 0; i < ref.size(); ++i) {
    const bool match =
        x == 0.0 ? std::fabs(ref[i] - x) < tol / 100.0 : std::fabs((ref[i] - x) / x) * 100.0 < tol;
    if (match) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

void sortrows(Dmatrix& xx, int32_t n, std::string_view mode) { exchange_sort_rows(xx, n, mode); }

void sortcolumns(Dmatrix& xx, int32_t n, std::string_view mode) {
  Dmatrix t = transpose(xx);
  exchange_sort_rows(t, n, mode);
  xx = transpose(t);
}

bool issorted(const std::vector<double>& x) {
  for (std::size_t i = 1; i < x.size(); ++i)
    if (!(x[i] > x[i - 1])) return false;
  return true;
}

void coo_add(std::vector<int32_t>& irn, std::vector<int32_t>& jcn, std::vector<double>& val,
             int32_t& nnz, int32_t irow, int32_t icol, double value) {
  coo_set<true>(irn, jcn, val, nnz, irow, icol, value);
}

void coo_replace(std::vector<int32_t>& irn, std::vector<int32_t>& jcn, std::vector<double>& val,
                 int32_t& nnz, int32_t irow, int32_t icol, double value) {
  coo_set<false>(irn, jcn, val, nnz, irow, icol, value);
}

void coo_sort(std::vector<double>& val, std::vector<int32_t>& irn, std::vector<int32_t>& jcn,
              int32_t nnz) {
  assert(nnz >= 0 && static_cast<std::size_t>(nnz) <= irn.size() &&
         static_cast<std::size_t>(nnz) <= jcn.size() &&
         static_cast<std::size_t>(nnz) <= val.size());
  Dmatrix table(nnz, 3);
  for (int k = 1; k <= nnz; ++k) {
    table(k, 1) = irn[k - 1];
    table(k, 2) = jcn[k - 1];
    table(k, 3) = val[k - 1];
  }
  sortrows(table, 1);
  for (int k = 1; k <= nnz; ++k) {
    irn[k - 1] = static_cast<int32_t>(table(k, 1));
    jcn[k - 1] = static_cast<int32_t>(table(k, 2));
    val[k - 1] = table(k, 3);
  }
}

Dmatrix matmul_parallel(const Dmatrix& m1, const Dmatrix& m2) {
  if (m1.cols() != m2.rows()) fail("Matrix dimensions do not match");
  const int nrow = m1.rows();
  const int ncol = m2.cols();
  const int ninner = m1.cols();
  Dmatrix m3(nrow, ncol, 0.0);
  // Static schedule: each thread takes one contiguous block of rows of equal
  // size. Every entry accumulates k = 1 .. ninner in order.
#pragma omp parallel for schedule(static)
  for (int i = 1; i <= nrow; ++i) {
    for (int j = 1; j <= ncol; ++j) {
      double s = 0.0;
      for (int k = 1; k <= ninner; ++k) s += m1(i, k) * m2(k, j);
      m3(i, j) = s;
    }
  }
  return m3;
}

}  // namespace varnel::matrix
