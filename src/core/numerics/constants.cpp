#include "core/numerics/constants.hpp"

#include "core/numerics/maths.hpp"

namespace varnel::constants {

void initialize_constants(Constants& c) { c.rsp_nan = maths::nan_rsp(); }

}  // namespace varnel::constants
