// Placeholder bodies so the library links while the module is written.
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/error.hpp"

namespace varnel::dcr2dphy_lapack {
void compute_potential_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                             const std::vector<double>& wavenumber, std::string_view approx,
                             Dcr2dphy_state& s, int32_t output_level) { varnel::fail("not implemented yet"); }
void compute_potential_fd_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level) { varnel::fail("not implemented yet"); }
void compute_potential_fe_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level) { varnel::fail("not implemented yet"); }
void compute_potential_hy_earth_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                      const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                      int32_t output_level) { varnel::fail("not implemented yet"); }
void fd_create_c_matrix_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                               int32_t kindex, Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void fd_create_c_matrix_earth_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                                     int32_t kindex, const dcr2dphy::Earth_node& node,
                                     const std::vector<int32_t>& aerow, Dcr2dphy_state& s) { varnel::fail("not implemented yet"); }
void compute_afe_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model) { varnel::fail("not implemented yet"); }
void compute_cfe_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model) { varnel::fail("not implemented yet"); }
void compute_afe_earth_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model) { varnel::fail("not implemented yet"); }
void compute_cfe_earth_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model) { varnel::fail("not implemented yet"); }
void compute_bfe_dgbtrf(Dmatrix& bfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model, double ky) { varnel::fail("not implemented yet"); }
void fe_node_index(std::array<int32_t, 3>& uindex, std::array<int32_t, 3>& lindex, int32_t enumber,
                   int32_t etype, const dcr2dphy::Gr2d_dcr_new& grid) { varnel::fail("not implemented yet"); }
void node_index(std::array<int32_t, 4>& nindex, int32_t enumber,
                const dcr2dphy::Gr2d_dcr_new& grid) { varnel::fail("not implemented yet"); }
void compute_fe_jindex(int32_t nindex, std::vector<int32_t>& jindex,
                       const dcr2dphy::Gr2d_dcr_new& grid) { varnel::fail("not implemented yet"); }
}
