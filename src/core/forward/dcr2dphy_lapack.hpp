// Banded assembly and solution of the forward systems: one band matrix per
// wavenumber (LAPACK band storage, KL = KU = nozs + 1), factorised once with
// dgbtrf and solved with dgbtrs for every source electrode at once. "fd" is
// the finite-difference operator on all nodes, "fe" linear finite elements
// on two triangles per element with a Bessel boundary, "hy" the
// finite-difference operator on the earth nodes with finite-element equations
// at the nodes next to the sloping surface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::dcr2dphy_lapack {

using dcr2dphy::Dcr2dphy_state;
using dcr2dphy::Model_fwd_dcr2d;

// Solves in place: b is nrow x (noelec kmax); the columns of wavenumber kk
// (noelec of them, block kk) hold the sources on entry and the transformed
// potentials on return. approx is folded to lower case: "fd", "fe" or "hy";
// any other code prints "Under development" and leaves b as it is. A failed
// factorisation ends the job ("Factorization Error"). output_level 3 prints
// the LAPACK status of every factorisation and solution.
void compute_potential_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                             const std::vector<double>& wavenumber, std::string_view approx,
                             Dcr2dphy_state& s, int32_t output_level = 0);
void compute_potential_fd_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level = 0);
void compute_potential_fe_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                int32_t output_level = 0);
void compute_potential_hy_earth_dcr2d(Dmatrix& b, const Model_fwd_dcr2d& model,
                                      const std::vector<double>& wavenumber, Dcr2dphy_state& s,
                                      int32_t output_level = 0);

// Scratch of one thread's band assembly.
struct Band_scratch {
  Dmatrix bfe;               // finite-element band of one wavenumber
  std::vector<double> diag;  // finite-difference diagonal of one wavenumber
  // The entries of bfe that hold boundary terms; the others stay 0.
  std::vector<std::size_t> touched;
};
// Fills ab (reshaped to ldab x n) with the system of wavenumber kindex,
// 1-based. It is called for several wavenumbers at once, each with its own
// ab and scratch, so it must leave every shared state as it is.
using Band_assembly = std::function<void(Dmatrix& ab, Band_scratch& scratch, int32_t kindex)>;
// Per wavenumber: the INFO of dgbtrf and of dgbtrs (not solved when the
// factorisation failed) and an error raised by the assembly.
struct Band_solve_status {
  std::vector<int> factor_info, solve_info;
  std::vector<std::exception_ptr> error;
};

// Assembles, factorises (dgbtrf, KL = KU = nozs + 1, LDAB = 3 nozs + 4) and
// solves (dgbtrs with trans "N" or "T") the system of every wavenumber for
// its block of b.cols() / kmax columns. The wavenumbers are solved
// concurrently on the OpenMP threads, each in the same way as alone, so the
// result does not depend on the thread count; the BLAS library runs single-
// threaded meanwhile. Failures are returned, not raised.
void solve_band_systems_dcr2d(Dmatrix& b, int32_t n, int32_t nozs, int32_t kmax, char trans,
                              const Band_assembly& assemble, Band_solve_status& status);

// The coefficient operations of the flat and of the earth operator that do
// not depend on the wavenumber (each computed once and kept in the state).
void fd_prepare_dgbtrf(Dcr2dphy_state& s);
void fd_prepare_earth_dgbtrf(Dcr2dphy_state& s, const dcr2dphy::Earth_node& node,
                             const std::vector<int32_t>& aerow);

// Step 1 of every solve: the model's grid and conductivities and the
// wavenumbers go into the state, and the conductivity-dependent couplings of
// an earlier model are released, so that the next assembly builds the
// operator of this model.
void set_solver_model_dcr2d(Dcr2dphy_state& s, const Model_fwd_dcr2d& model,
                            const std::vector<double>& wavenumber);

// Band storage: A(i, j) is c(kl + ku + 1 + i - j, j), c being ldab x n.
void fd_create_c_matrix_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                               int32_t kindex, Dcr2dphy_state& s);
void fd_create_c_matrix_earth_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                                     int32_t kindex, const dcr2dphy::Earth_node& node,
                                     const std::vector<int32_t>& aerow, Dcr2dphy_state& s);
// The same matrices once the state is prepared, with the diagonal of the
// wavenumber in diag instead of in the state: safe for several wavenumbers
// at once.
void fd_band_matrix_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                           int32_t kindex, const Dcr2dphy_state& s, std::vector<double>& diag);
void fd_band_matrix_earth_dgbtrf(Dmatrix& c, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                                 int32_t kindex, const dcr2dphy::Earth_node& node,
                                 const std::vector<int32_t>& aerow, const Dcr2dphy_state& s,
                                 std::vector<double>& diag);
// The hybrid system of wavenumber kindex: the earth operator with the
// flagged equations replaced by afe + k^2 cfe (built in w.bfe). The state
// must be prepared (fd_prepare_earth_dgbtrf).
void hy_band_matrix_dgbtrf(Dmatrix& ab, Band_scratch& w, int32_t kl, int32_t ku, int32_t ldab,
                           int32_t n, int32_t kindex, const Model_fwd_dcr2d& model,
                           const Dmatrix& afe, const Dmatrix& cfe, const Dcr2dphy_state& s);
// The hybrid replacement: the equation of every unknown whose grid node has
// approx = 2 takes the entries of bfe over the 3 x 3 block of nodes around it
// (earth unknowns only); all other equations are left as they are.
void hy_replace_fe_equations_dgbtrf(Dmatrix& ab, const Dmatrix& bfe, int32_t kl, int32_t ku,
                                    int32_t n, const Model_fwd_dcr2d& model,
                                    const dcr2dphy::Earth_node& node);
// Stiffness and mass of all triangles, over all nodes or the earth unknowns.
void compute_afe_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model);
void compute_cfe_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model);
void compute_afe_earth_dgbtrf(Dmatrix& afe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model);
void compute_cfe_earth_dgbtrf(Dmatrix& cfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                              const Model_fwd_dcr2d& model);
// The Bessel boundary matrix of the "fe" solver for wavenumber ky.
void compute_bfe_dgbtrf(Dmatrix& bfe, int32_t kl, int32_t ku, int32_t ldab, int32_t n,
                        const Model_fwd_dcr2d& model, double ky);
// Adds the boundary terms of compute_bfe_dgbtrf to bfe (already shaped);
// with touched, appends the storage index of every entry it adds to.
void add_fe_boundary_terms(Dmatrix& bfe, int32_t kl, int32_t ku, const Model_fwd_dcr2d& model,
                           double ky, std::vector<std::size_t>* touched);

// The nodes of the two triangles of element enum of type etype (2: split from
// top-left to bottom-right, 3: from bottom-left to top-right), upper first.
void fe_node_index(std::array<int32_t, 3>& uindex, std::array<int32_t, 3>& lindex, int32_t enumber,
                   int32_t etype, const dcr2dphy::Gr2d_dcr_new& grid);
// The four corners of an element: TL, BL, BR, TR.
void node_index(std::array<int32_t, 4>& nindex, int32_t enumber,
                const dcr2dphy::Gr2d_dcr_new& grid);
// The boundary edges of the "fe" solver: the left edge of the elements of the
// first column, the right edge of the last column, the bottom edge of the last
// row.
enum class Fe_edge { left, right, bottom };
// For every element of en, its edge of the given side: the distance from
// (xcen, 0) to the edge's midpoint, the edge length and the cosine of the angle
// between that radius and the outward normal. xs, zs are the node positions.
void compute_fe_dist_angle(std::vector<double>& dist, std::vector<double>& blength,
                           std::vector<double>& cangle, const std::vector<int32_t>& en,
                           Fe_edge edge, std::span<const double> xs, std::span<const double> zs,
                           double xcen, const dcr2dphy::Gr2d_dcr_new& grid);
// The grid node and its neighbours in the 3 x 3 block around it (4, 6 or 9).
void compute_fe_jindex(int32_t nindex, std::vector<int32_t>& jindex,
                       const dcr2dphy::Gr2d_dcr_new& grid);

}  // namespace varnel::dcr2dphy_lapack
