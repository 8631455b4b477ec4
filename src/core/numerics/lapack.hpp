// The LAPACK and BLAS routines the library calls (Fortran calling convention,
// every argument by reference, column-major storage). Declared here once.
#pragma once

#include <cstddef>

extern "C" {

// Band LU factorisation and solution of the forward systems.
void dgbtrf_(const int* m, const int* n, const int* kl, const int* ku, double* ab,
             const int* ldab, int* ipiv, int* info);
void dgbtrs_(const char* trans, const int* n, const int* kl, const int* ku, const int* nrhs,
             const double* ab, const int* ldab, const int* ipiv, double* b, const int* ldb,
             int* info, std::size_t trans_len);
void dgbsv_(const int* n, const int* kl, const int* ku, const int* nrhs, double* ab,
            const int* ldab, int* ipiv, double* b, const int* ldb, int* info);

// Dense algebra of the inversion.
void dgesdd_(const char* jobz, const int* m, const int* n, double* a, const int* lda, double* s,
             double* u, const int* ldu, double* vt, const int* ldvt, double* work,
             const int* lwork, int* iwork, int* info, std::size_t jobz_len);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, std::size_t trans_len);
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a,
            const int* lda, const double* x, const int* incx, const double* beta, double* y,
            const int* incy, std::size_t trans_len);
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b,
            const int* ldb, const double* beta, double* c, const int* ldc, std::size_t transa_len,
            std::size_t transb_len);
}
