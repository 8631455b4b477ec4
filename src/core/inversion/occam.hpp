// The state of the Occam search and the misfit measures: the data
// covariance, the RMS misfit of a response (normal, pattern-constrained and
// time-lapse), the misfit per input file, the model misfit, and the search
// over the Lagrange multiplier (first trials of an iteration, the step that
// proposes the next trial or ends the search).
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
  // Guards of the search in the current iteration (reset by
  // cal_initial_lambda): passes through phasei, and retries one decade higher
  // after a pass in which every trial failed.
  int32_t npass = 0;
  int32_t nretry = 0;
};

// A search never takes more passes than this in one iteration: a sequence of
// misfits that keeps the proposals moving (or keeps shifting the trials a
// decade up) would otherwise never end.
inline constexpr int32_t max_search_passes = 30;

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

// Rebuilds lambdarms with the first trials of iteration o.iter: the
// prescribed multiplier of the iteration, or three multipliers around the
// first one (iteration 1) or around the one accepted in the previous
// iteration, sorted by log10 lambda. Resets the search guards.
void cal_initial_lambda(Occam_state& o);

// One step of the search after every unevaluated trial has been evaluated:
// drops failed (NaN) trials, then either appends the next trial (RMS 0),
// re-arms the trials for evaluation, or ends the search (check false).
// endprocess is true when a trial lies inside the target band.
void phasei(Occam_state& o, bool& check, bool& endprocess);

// Appends the unevaluated trial (new_lambda, 0, 0) to lambdarms; nlambda is
// the row count, increased by one.
void add_element(Occam_state& o, double new_lambda, int32_t& nlambda);

}  // namespace varnel::occam
