// The two job drivers. Each writes the job's status and the number of its
// final iteration (-1 when there is none).
#pragma once

#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/run/arg_reader.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel {

void solve_fwd(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration);
void solve_inv(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration);

// Steps the drivers share.

// The flat-surface test: true when the topography table has no rows or the
// absolute values of its vertical coordinates (column 2) sum to less than
// 1.0e-6. (A plain sum would let negative depths, or depths of both signs,
// pass as flat and drop the topography of the survey.)
bool is_flat_surface(const Dmatrix& topo);

// One entry per datum: err / val for a survey read from CEG files, 0 for
// any other survey.
std::vector<double> percent_error_dcr2d(const dataio_dcr2d::Main_data_dcr2d& d);

// CEG surveys only: err = percent_error * val, so that every datum keeps its
// relative error, now relative to the value in val. Other surveys keep err.
void scale_error_to_value_dcr2d(dataio_dcr2d::Main_data_dcr2d& d,
                                const std::vector<double>& percent_error);

}  // namespace varnel
