// The working state of one job. Each module whose procedures share state
// during a run keeps it in a member of Job; the drivers create one Job and pass
// the members to the procedures that touch them. Nothing of a job outlives it,
// so tests may run many jobs in one process; the one-job-per-process rule is
// kept at the C entry point only.
#pragma once

#include "core/forward/fwd_dcr2d.hpp"
#include "core/inversion/cmjkt_dcr2d.hpp"
#include "core/inversion/jkcmjkt_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/inversion/occam.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/constants.hpp"
#include "core/run/arg_reader.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/survey/dataio_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace varnel {

struct Job {
  explicit Job(arg_reader::Arg_info& options) : info(options) {}

  arg_reader::Arg_info& info;             // the run options of the request
  constants::Constants constants;         // the NaN marker and the output level
  param_dcr2d::Param_dcr2d param;         // air resistivity, grid refinement
  dcr2dphy::Dcr2dphy_state phy;           // the solver module's shared values
  dataio_dcr2d::Dataio_state dataio;      // the records of the data files read
  txrx_info_dcr2d::Txrx_info_state txrx;  // electrode table, roles, dictionaries
  fwd_dcr2d::Fwd_state fwd;               // sources and potentials of the forward solver
  occam::Occam_state occam;               // misfit and multiplier search
  sen_dcr2d::Sen_state sen;               // the Jacobian and its work arrays
  model_inv_parameters_dcr2d::Diffusion_state diffusion;  // the roughness operators
  cmjkt_dcr2d::Cmjkt_state cmjkt;                         // Cm J^T of the iteration
  jkcmjkt_dcr2d::Jkcmjkt_state jkcmjkt;                   // the Gram matrix J Cm J^T

  // The environment models of this job are built in.
  dcr2dphy::Model_env model_env() { return {&param, &phy}; }
  // What the forward solver reads and writes of this job.
  fwd_dcr2d::Fwd_env fwd_env() { return {&fwd, &phy, &txrx, constants.output_level}; }
};

}  // namespace varnel
