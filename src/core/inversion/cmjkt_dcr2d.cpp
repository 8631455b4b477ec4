#include "core/inversion/cmjkt_dcr2d.hpp"

#include <string>

#include "core/error.hpp"

namespace varnel::cmjkt_dcr2d {

void load_cm_dcr2d(const model_inv_parameters_dcr2d::Diffusion_state& d, int32_t ii,
                   const Dmatrix*& cm, const std::vector<int32_t>*& cm_index, int32_t mode) {
  if (mode != 1 && mode != 2) return;
  const auto& ops = mode == 1 ? d.diffu_ud : d.diffu_lr;
  if (ii < 1 || ii > static_cast<int32_t>(ops.size()))
    fail("internal error: no roughness operator " + std::to_string(ii) +
         (mode == 1 ? " among the element columns" : " among the element rows"));
  const auto& op = ops[static_cast<std::size_t>(ii - 1)];
  cm = &op.val;
  cm_index = &op.eindex;
}

void cleanup_cmjkt_dcr2d(Cmjkt_state& s) { s.cmjkt.clear(); }

}  // namespace varnel::cmjkt_dcr2d
