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
#include "core/numerics/array2.hpp"

namespace varnel::cal_model_update_lapack_dcr2d {

// Bounds of the trial model on ln(resistivity).
inline constexpr double logrho_min = -1.2;
inline constexpr double logrho_max = 13.8;

// The solution by truncated singular value decomposition; lambda is log10 of
// the multiplier. Reads o.cd, o.d_hat, o.logrho0; sets o.betak. gramman is
// nodata x nodata, cmjkt ncell x nodata, mm gets ncell conductivities.
void cal_doccam_svd_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                          std::vector<double>& mm, double lambda, int32_t nodata);

// The same step solved by LU factorisation with partial pivoting.
void cal_doccam_dcr2d(occam::Occam_state& o, const Dmatrix& gramman, const Dmatrix& cmjkt,
                      std::vector<double>& mm, double lambda, int32_t nodata);

// The workspace length given to the decomposition of an n x n matrix with
// job "A" (n <= 10000) or "S": at least max(4 n^2 + n, 7 n, 1), and at least
// what the routine itself asks for, which exceeds that bound for n <= 5.
int svd_workspace_dcr2d(int32_t n);

}  // namespace varnel::cal_model_update_lapack_dcr2d
