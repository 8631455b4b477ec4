// Placeholder bodies so the library links while the module is written.
#include "core/sensitivity/sen_dcr2d.hpp"

#include "core/error.hpp"

namespace varnel::sen_dcr2d {
void compute_fe_da_dc(Derivative_matrix& da, Derivative_matrix& dc,
                      const dcr2dphy::Model_inv_dcr2d& model) {
  varnel::fail("not implemented yet");
}
void compute_fe_dk(Sen_state& sen, const dcr2dphy::Model_inv_dcr2d& model,
                   const std::vector<double>& k) {
  varnel::fail("not implemented yet");
}
}  // namespace varnel::sen_dcr2d
