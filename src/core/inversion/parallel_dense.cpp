#include "core/inversion/parallel_dense.hpp"

#include <algorithm>
#include <cstddef>

#include "core/inversion/blas_single_thread.hpp"
#include "core/inversion/lapack_model_update.hpp"
#include "core/numerics/lapack.hpp"

namespace varnel::parallel_dense {

namespace {

int32_t block_count(int32_t n) { return (n + block_size - 1) / block_size; }

// A factorisation step that leaves at most this many rows and columns runs
// on one thread: too little work to wake the others for.
constexpr int32_t small_rest = 256;

// Entry (i, j) of a column-major array, 0-based.
inline double* at(double* a, int32_t lda, int32_t i, int32_t j) {
  return a + static_cast<std::size_t>(j) * lda + i;
}
inline const double* at(const double* a, int32_t lda, int32_t i, int32_t j) {
  return a + static_cast<std::size_t>(j) * lda + i;
}

void zero_columns(double* c, int32_t ldc, int32_t rows, int32_t cols) {
  for (int32_t j = 0; j < cols; ++j) std::fill(at(c, ldc, 0, j), at(c, ldc, rows, j), 0.0);
}

}  // namespace

void gemm_tn(int32_t m, int32_t n, int32_t k, const double* a, int32_t lda, const double* b,
             int32_t ldb, double* c, int32_t ldc) {
  if (m <= 0 || n <= 0) return;
  const Blas_single_thread blas_guard;
  const double one = 1.0, zero = 0.0;
  const int32_t blocks = block_count(n);
#pragma omp parallel for schedule(dynamic, 1)
  for (int32_t q = 0; q < blocks; ++q) {
    const int32_t j0 = q * block_size, nb = std::min(block_size, n - j0);
    if (k <= 0) {
      zero_columns(at(c, ldc, 0, j0), ldc, m, nb);
      continue;
    }
    dgemm_("T", "N", &m, &nb, &k, &one, a, &lda, at(b, ldb, 0, j0), &ldb, &zero, at(c, ldc, 0, j0),
           &ldc, 1, 1);
  }
}

void gram_lower(int32_t n, int32_t k, const double* a, int32_t lda, double* c, int32_t ldc) {
  if (n <= 0) return;
  const Blas_single_thread blas_guard;
  const double one = 1.0, zero = 0.0;
  const int32_t blocks = block_count(n);
  // The first blocks are the longest; dynamic scheduling starts them first.
#pragma omp parallel for schedule(dynamic, 1)
  for (int32_t q = 0; q < blocks; ++q) {
    const int32_t j0 = q * block_size, nb = std::min(block_size, n - j0), rows = n - j0;
    if (k <= 0) {
      zero_columns(at(c, ldc, j0, j0), ldc, rows, nb);
      continue;
    }
    // C(j0:n, J) = A(:, j0:n)^T A(:, J)
    dgemm_("T", "N", &rows, &nb, &k, &one, at(a, lda, 0, j0), &lda, at(a, lda, 0, j0), &lda, &zero,
           at(c, ldc, j0, j0), &ldc, 1, 1);
  }
}

int32_t cholesky_lower(int32_t n, double* a, int32_t lda) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, minus_one = -1.0;
  for (int32_t k0 = 0; k0 < n; k0 += block_size) {
    int kb = std::min(block_size, n - k0), info = 0;
    dpotrf_("L", &kb, at(a, lda, k0, k0), &lda, &info, 1);
    if (info != 0) return k0 + info;
    const int32_t k1 = k0 + kb, rest = n - k1;
    if (rest == 0) break;
    const double* l11 = at(a, lda, k0, k0);
    // The panel below the diagonal block, L21 = A21 L11^-T, by row blocks.
    const int32_t row_blocks = block_count(rest);
    const bool shared = rest > small_rest;
#pragma omp parallel for schedule(dynamic, 1) if (shared)
    for (int32_t q = 0; q < row_blocks; ++q) {
      const int32_t i0 = k1 + q * block_size, mb = std::min(block_size, n - i0);
      dtrsm_("R", "L", "T", "N", &mb, &kb, &one, l11, &lda, at(a, lda, i0, k0), &lda, 1, 1, 1, 1);
    }
    // The trailing lower triangle, A22 -= L21 L21^T, by column blocks.
#pragma omp parallel for schedule(dynamic, 1) if (shared)
    for (int32_t q = 0; q < row_blocks; ++q) {
      const int32_t j0 = k1 + q * block_size, nb = std::min(block_size, n - j0), rows = n - j0;
      dgemm_("N", "T", &rows, &nb, &kb, &minus_one, at(a, lda, j0, k0), &lda, at(a, lda, j0, k0),
             &lda, &one, at(a, lda, j0, j0), &lda, 1, 1);
    }
  }
  return 0;
}

int32_t lu_factor(int32_t n, double* a, int32_t lda, int* ipiv) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, minus_one = -1.0;
  const int inc = 1;
  for (int32_t k0 = 0; k0 < n; k0 += block_size) {
    int kb = std::min(block_size, n - k0), rows = n - k0, info = 0;
    // The panel of columns k0 .. k1 - 1 from the diagonal down.
    dgetrf_(&rows, &kb, at(a, lda, k0, k0), &lda, ipiv + k0, &info);
    if (info != 0) return k0 + info;
    for (int32_t i = k0; i < k0 + kb; ++i) ipiv[i] += k0;
    const int32_t k1 = k0 + kb;
    // Its row interchanges in the other columns, and the update of the
    // columns right of it: U12 = L11^-1 A12, A22 -= L21 U12. Every block of
    // columns on its own.
    int first = k0 + 1, last = k1;
    const int32_t blocks = block_count(n);
#pragma omp parallel for schedule(dynamic, 1) if (n - k1 > small_rest)
    for (int32_t q = 0; q < blocks; ++q) {
      const int32_t j0 = q * block_size;
      int nb = std::min(block_size, n - j0);
      if (j0 >= k0 && j0 < k1) continue;  // the panel itself
      dlaswp_(&nb, at(a, lda, 0, j0), &lda, &first, &last, ipiv, &inc);
      if (j0 < k1) continue;  // columns left of the panel take only the interchanges
      dtrsm_("L", "L", "N", "U", &kb, &nb, &one, at(a, lda, k0, k0), &lda, at(a, lda, k0, j0), &lda,
             1, 1, 1, 1);
      int below = n - k1;
      if (below > 0)
        dgemm_("N", "N", &below, &nb, &kb, &minus_one, at(a, lda, k1, k0), &lda, at(a, lda, k0, j0),
               &lda, &one, at(a, lda, k1, j0), &lda, 1, 1);
    }
  }
  return 0;
}

namespace {

// Products with fewer entries are made on one thread: below about a few
// milliseconds of work, waking the other threads for every column costs
// more than it saves on a busy machine.
constexpr double parallel_entries = 4.0e6;

}  // namespace

void gemv_t(int m, int n, const double* a, int lda, const double* x, double* y) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, zero = 0.0;
  const int inc = 1;
  if (static_cast<double>(m) * n < parallel_entries) {
    dgemv_("T", &m, &n, &one, a, &lda, x, &inc, &zero, y, &inc, 1);
    return;
  }
  constexpr int cols = 64;
  const int blocks = (n + cols - 1) / cols;
#pragma omp parallel for schedule(static)
  for (int q = 0; q < blocks; ++q) {
    int nb = std::min(cols, n - q * cols);
    dgemv_("T", &m, &nb, &one, at(a, lda, 0, q * cols), &lda, x, &inc, &zero, y + q * cols, &inc,
           1);
  }
}

void gemv_n(int m, int n, const double* a, int lda, const double* x, int incx, double* y) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, zero = 0.0;
  const int inc = 1;
  if (static_cast<double>(m) * n < parallel_entries) {
    dgemv_("N", &m, &n, &one, a, &lda, x, &incx, &zero, y, &inc, 1);
    return;
  }
  constexpr int rows = 256;
  const int blocks = (m + rows - 1) / rows;
#pragma omp parallel for schedule(static)
  for (int q = 0; q < blocks; ++q) {
    int mb = std::min(rows, m - q * rows);
    dgemv_("N", &mb, &n, &one, a + q * rows, &lda, x, &incx, &zero, y + q * rows, &inc, 1);
  }
}

namespace {

// The reduction's panel width and the size of its unblocked end (LAPACK's
// defaults for dgebrd).
constexpr int32_t panel = 32, unblocked = 128;

// LAPACK's dlabrd for m >= n: reduces the first nb rows and columns of the
// m x n matrix a to upper bidiagonal form and returns X (m x nb) and Y
// (n x nb) for the update of the rest, A := A - V Y^T - X U^T. Written out so
// that its two products with the unreduced matrix run on the threads. All
// indices are 1-based, as in the original.
void reduce_panel(int m, int n, int nb, double* a, int lda, double* d, double* e, double* tauq,
                  double* taup, double* x, int ldx, double* y, int ldy) {
  const auto A = [&](int i, int j) { return at(a, lda, i - 1, j - 1); };
  const auto X = [&](int i, int j) { return at(x, ldx, i - 1, j - 1); };
  const auto Y = [&](int i, int j) { return at(y, ldy, i - 1, j - 1); };
  const double one = 1.0, zero = 0.0, minus_one = -1.0;
  const int inc = 1;
  for (int i = 1; i <= nb; ++i) {
    int mi = m - i + 1, im1 = i - 1;
    // Update A(i:m, i).
    dgemv_("N", &mi, &im1, &minus_one, A(i, 1), &lda, Y(i, 1), &ldy, &one, A(i, i), &inc, 1);
    dgemv_("N", &mi, &im1, &minus_one, X(i, 1), &ldx, A(1, i), &inc, &one, A(i, i), &inc, 1);
    // The reflector Q(i) that annihilates A(i+1:m, i).
    dlarfg_(&mi, A(i, i), A(std::min(i + 1, m), i), &inc, &tauq[i - 1]);
    d[i - 1] = *A(i, i);
    if (i >= n) continue;
    *A(i, i) = one;
    int ni = n - i, mi1 = m - i, ii = i;
    // Y(i+1:n, i).
    gemv_t(mi, ni, A(i, i + 1), lda, A(i, i), Y(i + 1, i));
    dgemv_("T", &mi, &im1, &one, A(i, 1), &lda, A(i, i), &inc, &zero, Y(1, i), &inc, 1);
    dgemv_("N", &ni, &im1, &minus_one, Y(i + 1, 1), &ldy, Y(1, i), &inc, &one, Y(i + 1, i), &inc,
           1);
    dgemv_("T", &mi, &im1, &one, X(i, 1), &ldx, A(i, i), &inc, &zero, Y(1, i), &inc, 1);
    dgemv_("T", &im1, &ni, &minus_one, A(1, i + 1), &lda, Y(1, i), &inc, &one, Y(i + 1, i), &inc,
           1);
    dscal_(&ni, &tauq[i - 1], Y(i + 1, i), &inc);
    // Update A(i, i+1:n).
    dgemv_("N", &ni, &ii, &minus_one, Y(i + 1, 1), &ldy, A(i, 1), &lda, &one, A(i, i + 1), &lda, 1);
    dgemv_("T", &im1, &ni, &minus_one, A(1, i + 1), &lda, X(i, 1), &ldx, &one, A(i, i + 1), &lda,
           1);
    // The reflector P(i) that annihilates A(i, i+2:n).
    dlarfg_(&ni, A(i, i + 1), A(i, std::min(i + 2, n)), &lda, &taup[i - 1]);
    e[i - 1] = *A(i, i + 1);
    *A(i, i + 1) = one;
    // X(i+1:m, i).
    gemv_n(mi1, ni, A(i + 1, i + 1), lda, A(i, i + 1), lda, X(i + 1, i));
    dgemv_("T", &ni, &ii, &one, Y(i + 1, 1), &ldy, A(i, i + 1), &lda, &zero, X(1, i), &inc, 1);
    dgemv_("N", &mi1, &ii, &minus_one, A(i + 1, 1), &lda, X(1, i), &inc, &one, X(i + 1, i), &inc,
           1);
    dgemv_("N", &im1, &ni, &one, A(1, i + 1), &lda, A(i, i + 1), &lda, &zero, X(1, i), &inc, 1);
    dgemv_("N", &mi1, &im1, &minus_one, X(i + 1, 1), &ldx, X(1, i), &inc, &one, X(i + 1, i), &inc,
           1);
    dscal_(&mi1, &taup[i - 1], X(i + 1, i), &inc);
  }
}

}  // namespace

void bidiagonalize(int32_t n, double* a, int32_t lda, double* d, double* e, double* tauq,
                   double* taup, double* work) {
  const Blas_single_thread blas_guard;
  const double one = 1.0, minus_one = -1.0;
  const int ldx = n, ldy = n;
  double* x = work;
  double* y = work + static_cast<std::size_t>(n) * panel;
  int i = 0;  // 0-based first row and column of the panel
  for (; n - i > unblocked && n - i > panel; i += panel) {
    const int rest = n - i, after = rest - panel;
    reduce_panel(rest, rest, panel, at(a, lda, i, i), lda, d + i, e + i, tauq + i, taup + i, x, ldx,
                 y, ldy);
    // A(i+nb:n, i+nb:n) -= V Y^T + X U^T, by blocks of columns.
    const int k1 = i + panel;
    const int blocks = (after + block_size - 1) / block_size;
#pragma omp parallel for schedule(dynamic, 1)
    for (int q = 0; q < blocks; ++q) {
      const int j0 = q * block_size;
      int nb = std::min(block_size, after - j0), rows = after, kb = panel;
      double* c = at(a, lda, k1, k1 + j0);
      dgemm_("N", "T", &rows, &nb, &kb, &minus_one, at(a, lda, k1, i), &lda,
             at(y, ldy, panel + j0, 0), &ldy, &one, c, &lda, 1, 1);
      dgemm_("N", "N", &rows, &nb, &kb, &minus_one, at(x, ldx, panel, 0), &ldx,
             at(a, lda, i, k1 + j0), &lda, &one, c, &lda, 1, 1);
    }
    for (int j = i; j < k1; ++j) {
      *at(a, lda, j, j) = d[j];
      *at(a, lda, j, j + 1) = e[j];
    }
  }
  int rest = n - i, info = 0;
  if (rest > 0)
    dgebd2_(&rest, &rest, at(a, lda, i, i), &lda, d + i, e + i, tauq + i, taup + i, work, &info);
}

}  // namespace varnel::parallel_dense
