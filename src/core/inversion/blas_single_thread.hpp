// Sets the number of the BLAS library's own threads for a scope; the previous
// count comes back at the end of the scope.
//
// Blas_single_thread switches them off. The inversion calls BLAS and LAPACK
// on many small matrices (roughness operators of tens to a few hundred rows,
// band solves of one wavenumber, often from inside a parallel loop); threads
// inside each call would only compete with that loop and with each other,
// and cost far more than they save. It also keeps results independent of the
// thread count where the library's parallel routines are not: its threaded
// LU and Cholesky factorisations and matrix-vector products round differently
// with one and with two threads, its matrix-matrix products do not.
#pragma once

extern "C" {
int openblas_get_num_threads(void);
void openblas_set_num_threads(int num_threads);
}

namespace varnel {

class Blas_threads {
 public:
  explicit Blas_threads(int threads) : saved_(openblas_get_num_threads()) {
    if (threads < 1) threads = 1;
    if (threads != saved_) openblas_set_num_threads(threads);
  }
  ~Blas_threads() {
    if (openblas_get_num_threads() != saved_) openblas_set_num_threads(saved_);
  }
  Blas_threads(const Blas_threads&) = delete;
  Blas_threads& operator=(const Blas_threads&) = delete;

 private:
  int saved_;
};

class Blas_single_thread : public Blas_threads {
 public:
  Blas_single_thread() : Blas_threads(1) {}
};

}  // namespace varnel
