// One Occam step in data space for a trial multiplier: the coefficients
// betak solve (J Cm J^T + 10^lambda diag(cd)) beta = d_hat, and the trial
// model is m = m0 + Cm J^T beta in ln resistivity, bounded to [-1.2, 13.8]
// and returned as cell conductivities.
//
// A failed decomposition or solve is written to the log and returned as a
// model of all zeros, which the inversion loop counts as a failed trial.
#pragma once

#include <cstdint>
#include <vector>

#include "core/inversion/occam.hpp"
#include "core/inversion/untruncated_check.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::cal_model_update_lapack_dcr2d {

// Bounds of the trial model on ln(resistivity).
inline constexpr double logrho_min = -1.2;
inline constexpr double logrho_max = 13.8;

// Scratch storage of the SVD solution, kept between the trials of a run so
// that no trial allocates its dense matrices anew, and the part of the test
// for an untruncated solution that serves every trial of one Gram matrix.
// Five n x n arrays and the decomposition's workspace at most.
struct Update_workspace {
  std::vector<double> inner;   // the regularised matrix, then its LU factors
  std::vector<double> square;  // inner^T inner, or the left singular vectors
  std::vector<double> factor;  // the Cholesky tests, or the right singular vectors
  std::vector<double> work, s, e, tauq, taup, tmp, sv, x, y, bd, be;
  std::vector<int> iwork, ipiv;
  untruncated_check::Check_state check;  // G^T G of the last Gram matrix (two n x n)
};

// How the last call of the SVD solution found betak.
enum class Update_route {
  none,         // no data, or the decomposition failed
  plain_solve,  // every singular value is kept: betak = inner^-1 d_hat by LU
  truncated     // the singular value decomposition
};

// The solution by truncated singular value decomposition; lambda is log10 of
// the multiplier. Reads o.cd, o.d_hat, o.logrho0; sets o.betak. gramman is
// nodata x nodata, cmjkt ncell x nodata, mm gets ncell conductivities.
//
// The expansion keeps every singular value s_i when s_n >= 0.001 s_1 and
// s_n > 1e-12 (the truncation rule cuts nothing then), and it is then the
// plain solution of the regularised system. That case is recognised without
// the decomposition (untruncated_check, with a margin of 0.1 per cent above
// the cut); the system is then solved by LU, which agrees with the
// decomposition to rounding. Everything else takes the decomposition: the
// bidiagonal reduction, whose orthogonal factors are applied to d_hat and to
// the solution rather than formed, and the truncated solution of the
// bidiagonal system by divide and conquer without its singular vectors as
// matrices, whenever the truncation it makes (every value above 0.001 of the
// largest) is the rule's; otherwise the singular vectors of the bidiagonal
// matrix are formed and the rule applied to them.
void cal_doccam_svd_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                          std::vector<double>& mm, double lambda, int32_t nodata);
// The same with the scratch storage of the caller; returns the route taken.
Update_route cal_doccam_svd_reusing_dcr2d(Update_workspace& ws, occam::Occam_state& o,
                                          const Dmatrix& gramman, const Dmatrix& cmjkt,
                                          std::vector<double>& mm, double lambda, int32_t nodata);

// The same step solved by LU factorisation with partial pivoting.
void cal_doccam_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                      std::vector<double>& mm, double lambda, int32_t nodata);

// The workspace length given to the decomposition of an n x n matrix with
// job "A" (n <= 10000) or "S": at least max(4 n^2 + n, 7 n, 1), and at least
// what the routine itself asks for, which exceeds that bound for n <= 5.
int svd_workspace_dcr2d(int32_t n);

}  // namespace varnel::cal_model_update_lapack_dcr2d
