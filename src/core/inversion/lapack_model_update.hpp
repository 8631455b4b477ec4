// The LAPACK and BLAS routines of the model update besides the general ones
// of core/numerics/lapack.hpp (Fortran calling convention, every argument by
// reference, column-major storage): the pieces of the blocked factorisations,
// the symmetric product, the tridiagonal eigenvalues and the Cholesky
// factorisation of the test for an untruncated solution, and the steps of the
// singular value decomposition of a square matrix, so that its orthogonal
// factors can be applied to vectors without being formed.
#pragma once

#include <cstddef>

extern "C" {

// y := alpha A x + beta y for symmetric A held in one triangle.
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t uplo_len);
// Eigenvalues (jobz "N", ascending into d) of a symmetric tridiagonal matrix.
void dstev_(const char* jobz, const int* n, double* d, double* e, double* z, const int* ldz,
            double* work, int* info, std::size_t jobz_len);
// B := alpha op(A)^-1 B (side "L") or alpha B op(A)^-1 (side "R"), A triangular.
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m,
            const int* n, const double* alpha, const double* a, const int* lda, double* b,
            const int* ldb, std::size_t side_len, std::size_t uplo_len, std::size_t transa_len,
            std::size_t diag_len);
// The row interchanges k1 .. k2 of ipiv applied to the n columns of a.
void dlaswp_(const int* n, double* a, const int* lda, const int* k1, const int* k2, const int* ipiv,
             const int* incx);
// Cholesky factorisation; INFO > 0 when the matrix is not positive definite.
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info,
             std::size_t uplo_len);

// A = Q B P^T with B bidiagonal (diagonal d, off-diagonal e).
void dgebrd_(const int* m, const int* n, double* a, const int* lda, double* d, double* e,
             double* tauq, double* taup, double* work, const int* lwork, int* info);
// The pieces of the blocked reduction: a Householder reflector, a scaling,
// and the unblocked reduction of the last columns.
void dlarfg_(const int* n, double* alpha, double* x, const int* incx, double* tau);
void dscal_(const int* n, const double* a, double* x, const int* incx);
void dgebd2_(const int* m, const int* n, double* a, const int* lda, double* d, double* e,
             double* tauq, double* taup, double* work, int* info);
// B = U S VT, singular values into d in decreasing order.
void dbdsdc_(const char* uplo, const char* compq, const int* n, double* d, double* e, double* u,
             const int* ldu, double* vt, const int* ldvt, double* q, int* iq, double* work,
             int* iwork, int* info, std::size_t uplo_len, std::size_t compq_len);
// The least-squares solution of B x = b for bidiagonal B by divide and
// conquer, singular values at or below rcond times the largest treated as
// zero; d returns the singular values in decreasing order, rank how many
// were used.
void dlalsd_(const char* uplo, const int* smlsiz, const int* n, const int* nrhs, double* d,
             double* e, double* b, const int* ldb, const double* rcond, int* rank, double* work,
             int* iwork, int* info, std::size_t uplo_len);
// C := Q C, Q^T C, P C, ... with the reflectors left by dgebrd.
void dormbr_(const char* vect, const char* side, const char* trans, const int* m, const int* n,
             const int* k, const double* a, const int* lda, const double* tau, double* c,
             const int* ldc, double* work, const int* lwork, int* info, std::size_t vect_len,
             std::size_t side_len, std::size_t trans_len);
// The largest absolute entry of A (norm "M").
double dlange_(const char* norm, const int* m, const int* n, const double* a, const int* lda,
               double* work, std::size_t norm_len);
// Machine constants ("S": safe minimum, "P": precision).
double dlamch_(const char* cmach, std::size_t cmach_len);
}
