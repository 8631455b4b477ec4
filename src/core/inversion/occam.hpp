// The state of the Occam search and the misfit measures: the data
// covariance, the RMS misfit of a response (normal, pattern-constrained and
// time-lapse), the misfit per input file, and the model misfit.
#pragma once

#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::occam {

// The search and misfit state of one job.
struct Occam_state {
  double target_level = 1.0;
  double upper_level = 0.0, lower_level = 0.0;
  double ilambda = 2.0;  // log10 of the first multiplier
  double iextend = 0.5;  // spacing of the trial multipliers, log10
  double minlambda = -10.0;
  double plambda = 0.0;  // log10 of the last proposal of this iteration
  bool fixlambda = false;
  std::vector<double> prelambda;
  int32_t nprelambda = 0;
  int32_t iter = 0, startiter = 0, enditer = 0;
  Dmatrix lambdarms;         // trials: log10 lambda, RMS (0 = not evaluated), model misfit
  Dmatrix iterrms;           // (enditer + 1) x 3 per-iteration results
  std::vector<double> logd;  // ln of the observed values
  std::vector<double> logr;  // ln of the response last scored
  std::vector<double> loge;  // relative error bars (pattern-constrained)
  std::vector<double> cd;    // data variance of the misfit
  std::vector<double> logrho, logrho0;
  std::vector<double> d_hat, betak;
};

// cd = (err / val)^2, or 1 for pattern-constrained (pcinv) and difference
// (tlinv = 2) inversions.
void cal_data_covariance(Occam_state& o, const std::vector<double>& val,
                         const std::vector<double>& err, bool pcinv, int32_t tlinv);

// RMS misfit of a response against logd; sets logr.
double cal_rms(Occam_state& o, const std::vector<double>& val, bool pcinv, bool pciplus);

// Time-lapse RMS misfit of the change against the reference change.
double cal_rms_tl(Occam_state& o, const std::vector<double>& val, const std::vector<double>& logd0,
                  const std::vector<double>& logr0);

// One RMS misfit per main data file, in reading order.
void cal_rms_sep_dcr2d(const Occam_state& o, std::vector<double>& rms,
                       const std::vector<double>& val, const dataio_dcr2d::Dataio_state& io);

// Mean absolute difference from the prior in per cent, over all cells.
double cal_model_diff(const std::vector<double>& m, const std::vector<double>& m0);

}  // namespace varnel::occam
