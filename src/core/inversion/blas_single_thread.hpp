// Switches the BLAS library's own threads off for a scope. The inversion
// calls BLAS and LAPACK on many small matrices (roughness operators of tens to
// a few hundred rows, often from inside a parallel loop); threads inside each
// call would only compete with that loop and with each other, and cost far
// more than they save. The previous thread count comes back at the end of
// the scope.
#pragma once

extern "C" {
int openblas_get_num_threads(void);
void openblas_set_num_threads(int num_threads);
}

namespace varnel {

class Blas_single_thread {
 public:
  Blas_single_thread() : saved_(openblas_get_num_threads()) { openblas_set_num_threads(1); }
  ~Blas_single_thread() { openblas_set_num_threads(saved_); }
  Blas_single_thread(const Blas_single_thread&) = delete;
  Blas_single_thread& operator=(const Blas_single_thread&) = delete;

 private:
  int saved_;
};

}  // namespace varnel
