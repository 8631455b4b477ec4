// The sensitivity mask of a model: how strongly the data constrain each part
// of the section, as the summed absolute sensitivity of each element's
// inversion cell per unit area.
#pragma once

#include <string>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::jkmask_dcr2d {

// The mask of every element of m's grid (rows = element rows, columns =
// element columns): for an element of cell c, the sum over all data of
// |jkt(c, j)| divided by the area of the cell, where the area counts the
// cell's elements in the earth (on a model with topography the elements above
// the air-earth row of each column are left out). Elements of no cell
// (fixed, air) are NaN. jkt has one row per cell and one column per datum.
Dmatrix jk_mask_values(const Dmatrix& jkt, const dcr2dphy::Model_inv_dcr2d& m);

// Computes the mask and writes it to `mask_file` (trailing blanks are not part
// of the name).
void cal_jk_mask(const Dmatrix& jkt, const std::string& mask_file,
                 const dcr2dphy::Model_inv_dcr2d& m);

}  // namespace varnel::jkmask_dcr2d
