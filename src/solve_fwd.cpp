#include "drivers.hpp"
#include "job.hpp"
#include "varnel_events.hpp"

namespace varnel {

void solve_fwd(arg_reader::Arg_info& info, int32_t& status, int32_t& final_iteration) {
  status = 0;
  final_iteration = -1;
  Job job(info);
  varnel_events::emit_progress(0, -1, 0.0);
  fail("the forward driver is not available yet in this version of varnel");
}

}  // namespace varnel
