// The steps a driver takes with a data set, for the data file targets: read
// it (through the list reader when the name is not a .dat or .ceg file),
// write its response back in the layout that was read, and generate the
// prior model of an inversion without a model file from its electrodes.
#pragma once

#include <string>

#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/model/prior_model_dcr2d.hpp"
#include "core/survey/dataio_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"
#include "fuzz_input.hpp"

namespace varnel_fuzz {

inline void survey_pipeline(const std::string& datafile) {
  using namespace varnel;
  dataio_dcr2d::Main_data_dcr2d d;
  dataio_dcr2d::Dataio_state io;
  txrx_info_dcr2d::Txrx_info_state txrx;
  dataio_dcr2d::read_dcr2d_datafile(d, datafile, io, txrx);
  dataio_dcr2d::write_dcr2d_datafile(d, work_dir() + "/response", 0, io, txrx);

  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m({&param, &phy});
  m.set_grid(&grid);
  double initial_rho = 0.0;
  prior_model_dcr2d::Prior_model_state state;
  prior_model_dcr2d::create_prior_model_dcr2d(d, m, "fd", initial_rho, state);
}

}  // namespace varnel_fuzz
