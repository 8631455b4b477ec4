// Dense products and factorisations of the inversion split into fixed
// blocks of 128 columns (or rows) that the OpenMP threads share, each block
// one single-threaded BLAS or LAPACK call. The blocks do not depend on the
// thread count, so neither does any entry of a result. The BLAS library's own
// threads are not used: its threaded factorisations round differently with
// each thread count, and its idle threads spin against the parallel loops of
// the inversion.
#pragma once

#include <cstdint>

namespace varnel::parallel_dense {

// Columns (rows) per block.
inline constexpr int32_t block_size = 128;

// C := A^T B with A k x m (leading dimension lda), B k x n (ldb) and C m x n
// (ldc), all column-major.
void gemm_tn(int32_t m, int32_t n, int32_t k, const double* a, int32_t lda, const double* b,
             int32_t ldb, double* c, int32_t ldc);

// The lower triangle (with the diagonal blocks in full) of C := A^T A, A k x n
// (lda), C n x n (ldc). The strictly upper part outside the diagonal blocks
// is not written.
void gram_lower(int32_t n, int32_t k, const double* a, int32_t lda, double* c, int32_t ldc);

// Cholesky factorisation A = L L^T of the n x n symmetric matrix held in the
// lower triangle of a (lda), overwritten by L; the upper triangle of the
// diagonal blocks is overwritten too. Returns 0, or the order of the first
// leading minor that is not positive definite (LAPACK's INFO).
int32_t cholesky_lower(int32_t n, double* a, int32_t lda);

// LU factorisation with partial pivoting A = P L U of the n x n matrix a
// (lda), in LAPACK's layout: ipiv (n, 1-based) as dgetrf leaves it. Returns
// 0, or the 1-based index of the first exactly zero pivot.
int32_t lu_factor(int32_t n, double* a, int32_t lda, int* ipiv);

// y := A^T x and y := A x (x with stride incx) for A m x n (lda): by blocks
// of 64 columns (entries of y) and of 256 rows, on one thread below 4e6
// entries.
void gemv_t(int m, int n, const double* a, int lda, const double* x, double* y);
void gemv_n(int m, int n, const double* a, int lda, const double* x, int incx, double* y);

// The reduction of the n x n matrix a (lda) to upper bidiagonal form
// a = Q B P^T, in LAPACK's layout (as dgebrd leaves it): d and e the diagonal
// and off-diagonal of B, the reflectors of Q and P in a with their factors
// in tauq and taup (n each). The blocked algorithm of dgebrd (panels of 32
// columns, the last 128 unblocked), with its two matrix-vector products per
// column over the unreduced matrix and its trailing updates shared by the
// threads. work holds at least 2 n x 32 + n values.
void bidiagonalize(int32_t n, double* a, int32_t lda, double* d, double* e, double* tauq,
                   double* taup, double* work);

}  // namespace varnel::parallel_dense
