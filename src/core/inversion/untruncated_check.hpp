// The test that tells, without a singular value decomposition, that the
// truncated expansion of the model update keeps every term for a trial
// multiplier: that the smallest singular value of inner = G + mu diag(cd)
// is at least a fraction (just above 0.001) of the largest one and above an
// absolute floor. The singular values are the square roots of the
// eigenvalues of M = inner^T inner; the largest is estimated by Lanczos
// steps and bounded from above by a Cholesky factorisation of b I - M, and
// the smallest bounded from below by one of M - t I. The bounds allow for
// the rounding of M and of the factorisations, so a case the test accepts is
// one the decomposition keeps whole.
//
// M = G^T G + mu (G^T D + D G) + mu^2 D^2 with D = diag(cd): G^T G is computed
// once for all trials of one Gram matrix and kept.
#pragma once

#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::untruncated_check {

// What the test keeps between calls: G^T G of the Gram matrix it was computed
// for (a copy of G and cd identify it), and scratch.
struct Check_state {
  int32_t n = 0;
  std::vector<double> g, cd;  // the Gram matrix and data variances of gtg
  std::vector<double> gtg;    // G^T G, lower triangle
  double g_norm = 0.0;        // Frobenius norm of G
  std::vector<double> lanczos, w, alpha, beta, ritz, ritz_off;
};

// True when every singular value s_i of gramman + mu diag(cd) (n x n, finite
// entries) satisfies s_i >= cut s_1 and s_i > floor, proved as described
// above; false when that is not proved. m and f are n x n scratch (m holds
// inner^T inner on return, lower triangle).
bool keeps_every_singular_value(Check_state& s, const Dmatrix& gramman,
                                const std::vector<double>& cd, double mu, int32_t n, double cut,
                                double floor, std::vector<double>& m, std::vector<double>& f);

// The largest Ritz value of the symmetric n x n matrix m (lower triangle,
// leading dimension n) after at most max_steps Lanczos steps from a fixed
// start vector with full reorthogonalisation: never above its largest
// eigenvalue, and close to it once the value has settled.
double largest_eigenvalue_below(Check_state& s, const double* m, int32_t n, int32_t max_steps = 40);

}  // namespace varnel::untruncated_check
