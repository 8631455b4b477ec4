// Placeholder bodies so the library links while the module is written.
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/error.hpp"

namespace varnel::dcr2dphy {
void fd_index_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_dall_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_zata_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_alpha_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_call_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_coefficient_cal(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_cp_coefficient_cal(Dcr2dphy_state& s, int32_t kindex) { varnel::fail("not implemented yet"); }
void fd_index_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow) { varnel::fail("not implemented yet"); }
void fd_dall_earth_cal(Dcr2dphy_state& s, const Earth_node& node) { varnel::fail("not implemented yet"); }
void fd_zata_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow) { varnel::fail("not implemented yet"); }
void cal_node_distance_earth(const Gr2d_dcr_new& grid, const Earth_node& node,
                             const std::vector<int32_t>& aerow, std::vector<double>& nd) { varnel::fail("not implemented yet"); }
void fd_alpha_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow) { varnel::fail("not implemented yet"); }
void fd_call_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow) { varnel::fail("not implemented yet"); }
void fd_coefficient_earth_cal(Dcr2dphy_state& s, const Earth_node& node) { varnel::fail("not implemented yet"); }
void fd_cp_coefficient_earth_cal(Dcr2dphy_state& s, int32_t kindex, const Earth_node& node,
                                 const std::vector<int32_t>& aerow) { varnel::fail("not implemented yet"); }
void release_conductivity_arrays(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void cleanup_physics_dcr2d(Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
}
