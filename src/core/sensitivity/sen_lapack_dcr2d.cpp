// Placeholder bodies so the library links while the module is written.
#include "core/sensitivity/sen_lapack_dcr2d.hpp"

#include "core/error.hpp"

namespace varnel::sen_lapack_dcr2d {
void compute_sensitivity_lapack_dcr2d(dataio_dcr2d::Main_data_dcr2d& response, bool approx,
                                      sen_dcr2d::Sen_state& sen, const fwd_dcr2d::Fwd_env& env) {
  varnel::fail("not implemented yet");
}
void compute_dcphi_full_dcr2d(const dataio_dcr2d::Main_data_dcr2d& response,
                              const Dmatrix& potential_dcr2d, int32_t kmax, int32_t noelec,
                              sen_dcr2d::Sen_state& sen, const dcr2dphy::Dcr2dphy_state& phy) {
  varnel::fail("not implemented yet");
}
void clear_sensitivity_cache(sen_dcr2d::Sen_state& sen) { varnel::fail("not implemented yet"); }
}  // namespace varnel::sen_lapack_dcr2d
