// A small flat model for the targets whose files refer to one: a 6 x 4
// element grid from x = -2 to 10 m and z = 0 to 6 m, 100 ohm-m.
#pragma once

#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel_fuzz {

struct Small_model {
  varnel::param_dcr2d::Param_dcr2d param;
  varnel::dcr2dphy::Dcr2dphy_state phy;
  varnel::grid2d_dcr::Gr2d_dcr_new grid;
  varnel::dcr2dphy::Model_inv_dcr2d m{{&param, &phy}};

  Small_model() {
    const std::vector<double> xs = {-2, 0, 2, 4, 6, 8, 10}, zs = {0, 1, 2, 4, 6};
    const std::vector<double> cond = {0.01};
    m.set_grid(&grid);
    m.initialize(xs, zs, "fd", &cond);
  }
};

}  // namespace varnel_fuzz
