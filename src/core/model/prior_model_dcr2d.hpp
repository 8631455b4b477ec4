// The prior model of an inversion that starts without a model file: a grid
// built from the survey itself (a node column at every topography point,
// refined between them and padded by ten widening columns on each side; node
// rows at the surface depths and 24 levels below, scaled by the electrode
// spacing), refined until every sloping surface segment runs through a node at
// each node column and row it spans, and one homogeneous conductivity from the
// data.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::prior_model_dcr2d {

// Tolerance of the test whether a position is already a node, a percentage.
inline constexpr double grid_tol = 1.0e-10;

// What the generation keeps between calls.
struct Prior_model_state {
  double espacing = 0.0;  // electrode spacing of the last data set, m
};

// Parts a segment interval is divided into, by the absolute slope angle in
// degrees: nxgrid up to 45, then 4, 5, 6 and 7 above 45, 50, 55 and 65.
int32_t xtgrid_of(double abs_angle, int32_t nxgrid);

// One conductivity (S/m): 1/initial_rho when that is not 0, else the inverse
// of the geometric mean of the apparent resistivities (of the stored values
// when they are not resistances or some geometric factor is not positive).
// With info "LOG" its natural logarithm.
double compute_initial_conductivity_dcr2d(const dataio_dcr2d::Main_data_dcr2d& d,
                                          std::string_view info, double initial_rho);

// Node positions from the survey; xs and zs must be empty. s_grid adds depth
// levels.
void create_grid_model_dcr2d(const dataio_dcr2d::Main_data_dcr2d& d, std::vector<double>& xs,
                             std::vector<double>& zs, int32_t nxgrid,
                             const std::vector<double>* s_grid = nullptr);

// The conformity refinement of the sloping segments; xs and zs are replaced.
void revise_grid(const dataio_dcr2d::Main_data_dcr2d& d, const std::vector<double>& angle,
                 std::vector<double>& xs, std::vector<double>& zs);

// Builds the grid and a homogeneous model m (whose grid reference is set) for
// solver `approx`, and scales the job's air resistivity by the background
// resistivity (capped at 2.0e9 ohm-m). initial_rho 0 receives the resistivity
// derived from the data.
void create_prior_model_dcr2d(const dataio_dcr2d::Main_data_dcr2d& d, dcr2dphy::Model_fwd_dcr2d& m,
                              std::string_view approx, double& initial_rho,
                              Prior_model_state& state,
                              const std::vector<double>* s_grid = nullptr);

}  // namespace varnel::prior_model_dcr2d
