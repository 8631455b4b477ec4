// Deduplication, ordering and search routines of the matrix module.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/matrix.hpp"

namespace varnel {
// Matrices in failure messages, row by row.
template <class T>
static void PrintTo(const Array2<T>& m, std::ostream* os) {
  for (int i = 1; i <= m.rows(); ++i) {
    *os << "(";
    for (int j = 1; j <= m.cols(); ++j) *os << (j > 1 ? ", " : "") << m(i, j);
    *os << ") ";
  }
}
}  // namespace varnel

namespace {

using namespace varnel;

const double nan = std::numeric_limits<double>::quiet_NaN();

// A matrix from its rows.
template <class T>
Array2<T> rows_of(std::initializer_list<std::initializer_list<T>> rows) {
  const int nr = static_cast<int>(rows.size());
  const int nc = nr ? static_cast<int>(rows.begin()->size()) : 0;
  Array2<T> m(nr, nc);
  int i = 1;
  for (const auto& r : rows) {
    int j = 1;
    for (T v : r) m(i, j++) = v;
    ++i;
  }
  return m;
}
Dmatrix drows(std::initializer_list<std::initializer_list<double>> rows) {
  return rows_of<double>(rows);
}
Imatrix irows(std::initializer_list<std::initializer_list<int32_t>> rows) {
  return rows_of<int32_t>(rows);
}

template <class T>
Array2<T> transposed(const Array2<T>& a) {
  Array2<T> t(a.cols(), a.rows());
  for (int i = 1; i <= a.rows(); ++i)
    for (int j = 1; j <= a.cols(); ++j) t(j, i) = a(i, j);
  return t;
}

template <class T>
std::string show(const Array2<T>& m) {
  std::ostringstream os;
  varnel::PrintTo(m, &os);
  return os.str();
}

// Equality that lets NaN match NaN in the same place.
bool same_entries(const Dmatrix& a, const Dmatrix& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const double x = a.storage()[k], y = b.storage()[k];
    if (!(x == y || (std::isnan(x) && std::isnan(y)))) return false;
  }
  return true;
}

struct Rank2Case {
  std::string name;
  Dmatrix in;
  std::string mode;
  int32_t ref_index;
  Dmatrix want;
};

const Dmatrix electrodes = drows({{3, 1}, {1, 5}, {3, 1}, {1, 2}});

TEST(MatrixUniqueRank2, DistinctRowsOrColumnsInKeyOrder) {
  const std::vector<Rank2Case> cases = {
      {"key column 1, equal keys by first appearance", electrodes, "ROW", 1,
       drows({{1, 5}, {1, 2}, {3, 1}})},
      {"key column 2", electrodes, "ROW", 2, drows({{3, 1}, {1, 2}, {1, 5}})},
      {"mode folded to upper case", electrodes, "row", 1, drows({{1, 5}, {1, 2}, {3, 1}})},
      {"column mode, lower-case word", transposed(electrodes), "col", 1,
       transposed(drows({{1, 5}, {1, 2}, {3, 1}}))},
      {"column mode, key row 2", transposed(electrodes), "COL", 2,
       transposed(drows({{3, 1}, {1, 2}, {1, 5}}))},
      {"single row", drows({{4, -1, 2}}), "ROW", 3, drows({{4, -1, 2}})},
      {"all rows equal", drows({{2, 2}, {2, 2}, {2, 2}}), "ROW", 1, drows({{2, 2}})},
      {"rows with NaN never equal, not even themselves", drows({{1, nan}, {0, 0}, {1, nan}}), "ROW",
       1, drows({{0, 0}, {1, nan}, {1, nan}})},
      {"last-bit difference is distinct",
       drows({{1.0, 0}, {std::nextafter(1.0, 2.0), 0}, {1.0, 0}}), "ROW", 1,
       drows({{1.0, 0}, {std::nextafter(1.0, 2.0), 0}})},
      {"duplicate far from its first appearance",
       drows({{5, 0}, {4, 0}, {3, 0}, {2, 0}, {5, 0}, {4, 1}}), "ROW", 1,
       drows({{2, 0}, {3, 0}, {4, 0}, {4, 1}, {5, 0}})},
  };
  for (const auto& c : cases) {
    const Dmatrix got = matrix::unique_rank2(c.in, c.mode, c.ref_index);
    EXPECT_TRUE(same_entries(got, c.want)) << c.name << ": got " << show(got);
  }
  EXPECT_TRUE(same_entries(matrix::unique_rank2(electrodes), drows({{1, 5}, {1, 2}, {3, 1}})))
      << "defaults are row mode and key column 1";
}

TEST(MatrixSortRank2, StableInsertionSortByKey) {
  const std::vector<Rank2Case> cases = {
      {"equal keys keep input order", drows({{2, 1}, {1, 2}, {2, 3}, {1, 4}}), "ROW", 1,
       drows({{1, 2}, {1, 4}, {2, 1}, {2, 3}})},
      {"already sorted", drows({{1, 9}, {2, 8}, {3, 7}}), "ROW", 1,
       drows({{1, 9}, {2, 8}, {3, 7}})},
      {"reverse order", drows({{3, 7}, {2, 8}, {1, 9}}), "ROW", 1, drows({{1, 9}, {2, 8}, {3, 7}})},
      {"key column 2", drows({{3, 7}, {2, 8}, {1, 9}}), "ROW", 2, drows({{3, 7}, {2, 8}, {1, 9}})},
      // NaN is placed after the rows placed before it; a later smaller key
      // goes before the first greater placed key.
      {"NaN key in the middle", drows({{2, 1}, {nan, 2}, {1, 3}}), "ROW", 1,
       drows({{1, 3}, {2, 1}, {nan, 2}})},
      {"NaN key first", drows({{nan, 1}, {1, 2}, {0, 3}}), "ROW", 1,
       drows({{nan, 1}, {0, 3}, {1, 2}})},
      {"column mode", transposed(drows({{2, 1}, {1, 2}, {2, 3}, {1, 4}})), "Col", 1,
       transposed(drows({{1, 2}, {1, 4}, {2, 1}, {2, 3}}))},
      {"negative and mixed keys", drows({{0.5}, {-3}, {0}, {-3}, {7}}), "ROW", 1,
       drows({{-3}, {-3}, {0}, {0.5}, {7}})},
  };
  for (const auto& c : cases) {
    const Dmatrix got = matrix::sort_rank2(c.in, c.mode, c.ref_index);
    EXPECT_TRUE(same_entries(got, c.want)) << c.name << ": got " << show(got);
  }
}

TEST(MatrixIntegerRank2, SameOrderAsDoubleVersions) {
  const Imatrix pairs = irows({{3, 1}, {1, 5}, {3, 1}, {1, 2}});
  EXPECT_EQ(matrix::int_unique_rank2(pairs), irows({{1, 5}, {1, 2}, {3, 1}}));
  EXPECT_EQ(matrix::int_unique_rank2(pairs, "ROW", 2), irows({{3, 1}, {1, 2}, {1, 5}}));
  EXPECT_EQ(matrix::int_unique_rank2(transposed(pairs), "col"),
            transposed(irows({{1, 5}, {1, 2}, {3, 1}})));
  EXPECT_EQ(matrix::int_sort_rank2(irows({{2, 1}, {1, 2}, {2, 3}, {1, 4}})),
            irows({{1, 2}, {1, 4}, {2, 1}, {2, 3}}));
  EXPECT_EQ(matrix::int_sort_rank2(transposed(irows({{2, 1}, {1, 2}})), "COL"),
            transposed(irows({{1, 2}, {2, 1}})));
}

TEST(MatrixIntegerRank2, ZeroRowsAreKept) {
  // Unfilled slots of the work matrix must not pass for an all-zero row.
  EXPECT_EQ(matrix::int_unique_rank2(irows({{1, 1}, {0, 0}, {1, 1}})), irows({{0, 0}, {1, 1}}));
  EXPECT_EQ(matrix::int_unique_rank2(irows({{0, 0}, {0, 0}})), irows({{0, 0}}));
  // Columns (2, 0) and (0, 0): both kept, (0, 0) first by key row 1.
  EXPECT_EQ(matrix::int_unique_rank2(irows({{2, 0}, {0, 0}}), "COL"), irows({{0, 2}, {0, 0}}));
}

TEST(MatrixIssameVector, FirstMatchingRowOrColumn) {
  const Dmatrix a = drows({{1, 2, 3}, {4, 5, 6}, {1, 2, 3}});
  struct Case {
    std::string name;
    std::vector<double> element;
    std::string mode;
    int32_t want;
  };
  const std::vector<Case> cases = {
      {"first of two equal rows", {1, 2, 3}, "ROW", 1},
      {"second row", {4, 5, 6}, "ROW", 2},
      {"no such row", {4, 5, 7}, "ROW", 0},
      {"column", {2, 5, 2}, "COLUMN", 2},
      {"no such column", {2, 5, 3}, "COLUMN", 0},
      {"row element compared as column", {1, 2, 3}, "COLUMN", 0},
      {"abbreviated word", {1, 2, 3}, "COL", 0},
      {"lower-case word", {1, 2, 3}, "row", 0},
      {"other word", {1, 2, 3}, "ROWS", 0},
      {"NaN never matches", {nan, 2, 3}, "ROW", 0},
      {"last-bit difference", {1, 2, std::nextafter(3.0, 4.0)}, "ROW", 0},
      {"wrong length", {1, 2}, "ROW", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matrix::issame_vector(c.element, a, c.mode), c.want) << c.name;

  const Imatrix ia = irows({{1, 2}, {3, 4}, {3, 4}});
  EXPECT_EQ(matrix::int_issame_vector({3, 4}, ia, "ROW"), 2);
  EXPECT_EQ(matrix::int_issame_vector({2, 4, 4}, ia, "COLUMN"), 2);
  EXPECT_EQ(matrix::int_issame_vector({3, 4}, ia, "COL"), 0);
  EXPECT_EQ(matrix::int_issame_vector({4, 3}, ia, "ROW"), 0);
}

TEST(MatrixIssameElement, FirstEqualEntry) {
  const std::vector<double> d = {0.5, -1.0, 0.5, 2.0};
  EXPECT_EQ(matrix::issame_element(0.5, d), 1);
  EXPECT_EQ(matrix::issame_element(2.0, d), 4);
  EXPECT_EQ(matrix::issame_element(0.25, d), 0);
  EXPECT_EQ(matrix::issame_element(nan, {nan}), 0);
  EXPECT_EQ(matrix::issame_element(1.0, {}), 0);
  EXPECT_EQ(matrix::int_issame_element(7, {3, 7, 7}), 2);
  EXPECT_EQ(matrix::int_issame_element(8, {3, 7, 7}), 0);
}

TEST(MatrixUniqueRank1, DistinctValuesAscending) {
  struct Case {
    std::vector<double> in, want;
  };
  const std::vector<Case> cases = {
      {{2, 1, 2, 3}, {1, 2, 3}},
      {{5, 5}, {5}},
      {{7}, {7}},
      {{-0.5, -3, 10, -3, -0.5}, {-3, -0.5, 10}},
      // Spacings below one, the distance by which the scan starts below the
      // minimum.
      {{0.5, 0.25, 0.5, 0.75}, {0.25, 0.5, 0.75}},
      {{}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(matrix::unique_rank1(c.in), c.want);

  struct IntCase {
    std::vector<int32_t> in, want;
  };
  const std::vector<IntCase> int_cases = {
      {{5, 5}, {5}},
      {{3, -1, 3, 2, -1}, {-1, 2, 3}},
      {{9, 8, 7, 6}, {6, 7, 8, 9}},
      {{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()},
       {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}},
      {{}, {}},
  };
  for (const auto& c : int_cases) EXPECT_EQ(matrix::int_unique_rank1(c.in), c.want);
}

TEST(MatrixFindIndex, PercentageAndAbsoluteTolerance) {
  struct Case {
    std::string name;
    double x;
    std::vector<double> ref;
    double tol;
    int32_t want;
  };
  const std::vector<Case> cases = {
      {"5 % and 0.5 % differences, tol 1", 10, {10.5, 10.05}, 1, 2},
      {"tol 0.4 matches neither", 10, {10.5, 10.05}, 0.4, 0},
      {"first of several matches", 10, {10.05, 10.0}, 1, 1},
      {"x = 0 uses absolute distance tol/100", 0, {0.5, 0.001}, 1, 2},
      {"x = 0, distance equal to tol/100 is no match", 0, {0.01, 5}, 1, 0},
      {"percentage equal to tol is no match", 4, {5}, 25, 0},
      {"percentage just below tol", 4, {5}, 25.0001, 1},
      {"negative x, relative to |x|", -10, {-10.05, 3}, 1, 1},
      {"zero sum: symmetric values", 1, {-1, 1}, 50, 0},
      {"zero sum: symmetric values, x = -1", -1, {-1, 1}, 50, 0},
      {"zero sum: all zero", 0, {0, 0}, 10, 0},
      {"zero sum: empty", 3, {}, 10, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(matrix::find_index(c.x, c.ref, c.tol), c.want) << c.name;
}

bool key_ordered(const Dmatrix& m, int n, bool descend) {
  for (int i = 2; i <= m.rows(); ++i)
    if (descend ? m(i, n) > m(i - 1, n) : m(i, n) < m(i - 1, n)) return false;
  return true;
}

// The rows of a matrix as a sorted list, to compare contents regardless of
// order.
std::vector<std::vector<double>> row_set(const Dmatrix& m) {
  std::vector<std::vector<double>> r;
  for (int i = 1; i <= m.rows(); ++i) {
    r.emplace_back();
    for (int j = 1; j <= m.cols(); ++j) r.back().push_back(m(i, j));
  }
  std::sort(r.begin(), r.end());
  return r;
}

TEST(MatrixSortrows, ExchangeSortByKeyColumn) {
  struct Case {
    std::string name;
    Dmatrix in;
    int32_t n;
    std::string mode;
    bool descend;
  };
  const Dmatrix m = drows({{3, 0.1, 7}, {1, 0.2, 9}, {2, 0.3, 9}, {1, 0.4, 8}, {5, 0.5, -1}});
  const std::vector<Case> cases = {
      {"ascending, key 1", m, 1, "", false},
      {"ascending, key 3", m, 3, "", false},
      {"descending", m, 1, "descend", true},
      {"descending, trailing blanks", m, 3, "descend   ", true},
      {"case significant: ascending", m, 1, "Descend", false},
      {"other word: ascending", m, 1, "ascend", false},
      {"two rows", drows({{2, 0}, {1, 1}}), 1, "", false},
  };
  for (const auto& c : cases) {
    Dmatrix got = c.in;
    matrix::sortrows(got, c.n, c.mode);
    EXPECT_TRUE(key_ordered(got, c.n, c.descend)) << c.name << ": got " << show(got);
    EXPECT_EQ(row_set(got), row_set(c.in)) << c.name << ": rows must move whole";
  }
  // Distinct keys (column 2) leave one possible order.
  Dmatrix x = m;
  matrix::sortrows(x, 2, "descend");
  EXPECT_EQ(x, drows({{5, 0.5, -1}, {1, 0.4, 8}, {2, 0.3, 9}, {1, 0.2, 9}, {3, 0.1, 7}}));
}

TEST(MatrixSortrows, OneRowUnchanged) {
  for (const char* mode : {"", "descend"}) {
    Dmatrix one = drows({{4, nan, -2}});
    const Dmatrix before = one;
    matrix::sortrows(one, 2, mode);
    EXPECT_TRUE(same_entries(one, before)) << mode;
  }
}

TEST(MatrixSortcolumns, SortrowsOnColumns) {
  const Dmatrix m = drows({{3, 1, 2, 1}, {0.1, 0.2, 0.3, 0.4}});
  for (const char* mode : {"", "descend"}) {
    for (int n : {1, 2}) {
      Dmatrix by_columns = m;
      matrix::sortcolumns(by_columns, n, mode);
      Dmatrix by_rows = transposed(m);
      matrix::sortrows(by_rows, n, mode);
      EXPECT_EQ(by_columns, transposed(by_rows)) << mode << " key row " << n;
      EXPECT_TRUE(key_ordered(transposed(by_columns), n, std::string(mode) == "descend"));
    }
  }
}

TEST(MatrixIssorted, StrictlyIncreasing) {
  const std::vector<std::pair<std::vector<double>, bool>> cases = {
      {{}, true},           {{4}, true},        {{1, 2, 3}, true},
      {{-5, 0, 0.5}, true}, {{1, 1, 2}, false}, {{3, 2}, false},
      {{1, nan}, false},    {{nan, 1}, false},  {{1, 3, 2}, false},
  };
  for (const auto& [x, want] : cases) EXPECT_EQ(matrix::issorted(x), want) << x.size();
}

TEST(MatrixCoo, AddReplaceAndAppend) {
  std::vector<int32_t> irn, jcn;
  std::vector<double> val;
  int32_t nnz = 0;
  matrix::coo_add(irn, jcn, val, nnz, 2, 3, 1.5);
  matrix::coo_add(irn, jcn, val, nnz, 1, 1, 4.0);
  matrix::coo_add(irn, jcn, val, nnz, 2, 3, 0.25);  // existing entry: summed
  matrix::coo_add(irn, jcn, val, nnz, 3, 2, -1.0);  // (3, 2) differs from (2, 3)
  EXPECT_EQ(nnz, 3);
  EXPECT_EQ(irn, (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(jcn, (std::vector<int32_t>{3, 1, 2}));
  EXPECT_EQ(val, (std::vector<double>{1.75, 4.0, -1.0}));

  matrix::coo_replace(irn, jcn, val, nnz, 1, 1, 9.0);
  matrix::coo_replace(irn, jcn, val, nnz, 4, 4, 2.0);
  EXPECT_EQ(nnz, 4);
  EXPECT_EQ(irn, (std::vector<int32_t>{2, 1, 3, 4}));
  EXPECT_EQ(jcn, (std::vector<int32_t>{3, 1, 2, 4}));
  EXPECT_EQ(val, (std::vector<double>{1.75, 9.0, -1.0, 2.0}));
}

TEST(MatrixCoo, OnlyTheFirstNnzEntriesCount) {
  // A stale entry beyond nnz is neither found nor kept.
  std::vector<int32_t> irn = {1, 5}, jcn = {1, 5};
  std::vector<double> val = {1.0, 8.0};
  int32_t nnz = 1;
  matrix::coo_add(irn, jcn, val, nnz, 5, 5, 2.0);
  EXPECT_EQ(nnz, 2);
  EXPECT_EQ(irn, (std::vector<int32_t>{1, 5}));
  EXPECT_EQ(val, (std::vector<double>{1.0, 2.0}));
}

TEST(MatrixCoo, SortByRowIndexKeepsTriplesTogether) {
  std::vector<int32_t> irn = {3, 1, 2, 1, 9}, jcn = {30, 10, 20, 11, 99};
  std::vector<double> val = {3.5, 1.5, 2.5, 1.25, 9.5};
  matrix::coo_sort(val, irn, jcn, 4);  // the fifth entry is not in use
  EXPECT_EQ(irn[0], 1);
  EXPECT_EQ(irn[1], 1);
  EXPECT_EQ(irn[2], 2);
  EXPECT_EQ(irn[3], 3);
  for (int k = 0; k < 4; ++k) {
    // Each value encodes its column: column 10 * row (+1) and value row + 0.5
    // (or 0.25 for the second entry of row 1).
    EXPECT_EQ(jcn[k] / 10, irn[k]) << k;
    EXPECT_EQ(std::floor(val[k]), irn[k]) << k;
    EXPECT_EQ(jcn[k] == 11, val[k] == 1.25) << k;
  }
  EXPECT_EQ(irn[4], 9);
  EXPECT_EQ(jcn[4], 99);
  EXPECT_EQ(val[4], 9.5);
}

Dmatrix filled(int nr, int nc, double seed) {
  Dmatrix m(nr, nc);
  for (int j = 1; j <= nc; ++j)
    for (int i = 1; i <= nr; ++i) m(i, j) = std::sin(seed * i + 0.37 * j) * (1 + i % 3);
  return m;
}

TEST(MatrixMatmulParallel, ProductIndependentOfThreadCount) {
  struct Case {
    int n, k, m;
  };
  const int saved = omp_get_max_threads();
  for (const Case& c : std::vector<Case>{{1, 3, 2}, {7, 5, 3}, {64, 17, 9}, {0, 4, 2}, {3, 0, 2}}) {
    const Dmatrix a = filled(c.n, c.k, 0.9), b = filled(c.k, c.m, 1.3);
    Dmatrix want(c.n, c.m, 0.0);
    for (int i = 1; i <= c.n; ++i)
      for (int j = 1; j <= c.m; ++j)
        for (int k = 1; k <= c.k; ++k) want(i, j) += a(i, k) * b(k, j);
    for (int threads : {1, 2, 3}) {
      omp_set_num_threads(threads);
      const Dmatrix got = matrix::matmul_parallel(a, b);
      EXPECT_EQ(got, want) << c.n << "x" << c.k << " times " << c.k << "x" << c.m << " with "
                           << threads << " threads";
    }
  }
  omp_set_num_threads(saved);
}

TEST(MatrixMatmulParallel, DimensionMismatchEndsTheJob) {
  try {
    matrix::matmul_parallel(Dmatrix(2, 3), Dmatrix(2, 3));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Matrix dimensions do not match");
  }
}

}  // namespace
