// Placeholder bodies so the library links while the module is written.
#include "core/sensitivity/dcr2dphy_deriv.hpp"

#include "core/error.hpp"

namespace varnel::dcr2dphy {
void dcr2d_fd_coefficient_derivative_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                         const std::vector<double>& wavenumber) {
  varnel::fail("not implemented yet");
}
void dcr2d_fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                               const std::vector<double>& wavenumber,
                                               const Earth_node& node,
                                               const std::vector<int32_t>& aerow) {
  varnel::fail("not implemented yet");
}
void fd_coefficient_derivative_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node) {
  varnel::fail("not implemented yet");
}
void fd_cp_coefficient_derivative_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_cp_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                                            const std::vector<int32_t>& aerow) {
  varnel::fail("not implemented yet");
}
void element2node(Dcr2dphy_state& s, const Model_inv_dcr2d& m) {
  varnel::fail("not implemented yet");
}
}  // namespace varnel::dcr2dphy
