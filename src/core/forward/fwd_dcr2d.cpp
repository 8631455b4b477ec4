// Placeholder bodies so the library links while the module is written.
#include "core/forward/fwd_dcr2d.hpp"
#include "core/error.hpp"

namespace varnel::fwd_dcr2d {
void dcr2dfwd_lapack(dataio_dcr2d::Main_data_dcr2d& response, const Fwd_env& env) { varnel::fail("not implemented yet"); }
void global_index_electrode_cal_dcr2d(const dataio_dcr2d::Main_data_dcr2d& r, const Fwd_env& env) { varnel::fail("not implemented yet"); }
void create_forcing_term_dcr2d(Dmatrix& s, const Fwd_env& env) { varnel::fail("not implemented yet"); }
void compute_apparent_resistance_dcr2d(dataio_dcr2d::Main_data_dcr2d& response,
                                       const std::vector<double>& g, const Fwd_env& env) { varnel::fail("not implemented yet"); }
void fwd_set_grid(Fwd_state& f, const dcr2dphy::Gr2d_dcr_new& grid) { varnel::fail("not implemented yet"); }
void fwd_set_numnp(Fwd_state& f, int32_t n) { varnel::fail("not implemented yet"); }
void fwd_set_kmax(Fwd_state& f, int32_t n) { varnel::fail("not implemented yet"); }
void fwd_set_noelec(Fwd_state& f, int32_t n) { varnel::fail("not implemented yet"); }
}
