// The two job drivers. Each writes the job's status and the number of its
// final iteration (-1 when there is none).
#pragma once

#include <cstdint>

#include "core/run/arg_reader.hpp"

namespace varnel {

void solve_fwd(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration);
void solve_inv(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration);

}  // namespace varnel
