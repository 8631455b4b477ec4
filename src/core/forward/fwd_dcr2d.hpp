// The forward response of a model for every measurement of a data set: a
// unit point source at every electrode in use, the potentials of all sources
// for the eight wavenumbers, their weighted sum over the wavenumbers, and per
// datum the transfer resistance phi_A(M) - phi_A(N) - phi_B(M) + phi_B(N),
// converted to apparent resistivity when the data are held that way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace varnel::fwd_dcr2d {

// State of the forward module, one per job. The potentials of the last model
// computed stay here for the sensitivity computation.
struct Fwd_state {
  std::string approx = "hy";  // solver code "fd", "fe" or "hy"
  const dcr2dphy::Gr2d_dcr_new* grid = nullptr;
  int32_t numnp = 0;
  int32_t kmax = 0;
  int32_t noelec = 0;
  std::vector<int32_t> gie_dcr2d;  // per electrode: its unknown, 0 when unused
  Dmatrix forcing_term;            // nrow x (noelec kmax) unit sources
  Dmatrix potential_dcr2d;         // same shape: the transformed potentials
};

// What a forward computation reads and writes of its job.
struct Fwd_env {
  Fwd_state* fwd = nullptr;
  dcr2dphy::Dcr2dphy_state* phy = nullptr;
  const txrx_info_dcr2d::Txrx_info_state* txrx = nullptr;  // the dictionaries
  int32_t output_level = 0;
};

// The wavenumbers k_ref / espacing (1/m) and weights g_ref / espacing of a
// survey with electrode spacing espacing, eight each.
std::vector<double> wavenumbers_dcr2d(double espacing);
std::vector<double> weights_dcr2d(double espacing);

// Computes response.val for response.model.
void dcr2dfwd_lapack(dataio_dcr2d::Main_data_dcr2d& response, const Fwd_env& env);

// The unknown of every electrode (computed once per run). An electrode on no
// grid node, or on a node in the air, ends the job with a message naming it.
void global_index_electrode_cal_dcr2d(const dataio_dcr2d::Main_data_dcr2d& r, const Fwd_env& env);

// Unit sources of every electrode in use, for every wavenumber.
void create_forcing_term_dcr2d(Dmatrix& s, const Fwd_env& env);

// val from the potentials with the wavenumber weights g.
void compute_apparent_resistance_dcr2d(dataio_dcr2d::Main_data_dcr2d& response,
                                       const std::vector<double>& g, const Fwd_env& env);

void fwd_set_grid(Fwd_state& f, const dcr2dphy::Gr2d_dcr_new& grid);
void fwd_set_numnp(Fwd_state& f, int32_t n);
void fwd_set_kmax(Fwd_state& f, int32_t n);
void fwd_set_noelec(Fwd_state& f, int32_t n);

}  // namespace varnel::fwd_dcr2d
