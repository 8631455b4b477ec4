// State of the sensitivity computation: the transposed Jacobian, the cell
// vectors (dA/dsigma_c) phi of every source, the model and responses at the
// last stored Jacobian, and the finite-element derivative blocks of the
// hybrid mesh and of the "fe" solver.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::sen_dcr2d {

// The sparse vectors (dA/dsigma_c) phi of all cells touch the same rows for
// every source and wavenumber, so their slots are laid out once: the slots of
// cell c are first[c - 1] .. first[c] - 1 (0-based; first has ncell + 1
// entries), one per distinct row its member elements touch, and slot j
// belongs to row index[j] (a node or hybrid unknown). Sizing by distinct rows
// fits cells of any shape.
struct Dcphi_dcr2d_layout {
  std::vector<int32_t> first;
  std::vector<int32_t> index;
  // Number of slots of cell c (1-based).
  int32_t n(int32_t c) const { return first[c] - first[c - 1]; }
};

// The vectors of all cells for one (wavenumber, electrode), slot by slot.
struct Dcphi_dcr2d_matrix {
  std::vector<double> val;
  bool allocated = false;
};

// The derivative of the finite-element entries of one element per unit
// conductivity: row arrays of its four corners (columns TL, BL, BR, TR).
struct Derivative_matrix {
  Dmatrix tl, tr, bl, br;  // nfe x 4
  Imatrix nindex;          // nfe x 4: corners as hybrid unknowns
  int32_t n = 0;           // nfe; 0 while not computed
};

// The finite-element rows of dA/dsigma_e of elements with triangles that the
// fecell blocks do not cover: every updated element of the "fe" solver, or
// the ring of elements around the cut ones of the hybrid mesh. Per element,
// stiffness + k^2 mass of the triangles that take its conductivity and, for
// "fe", the derivative of the Bessel boundary terms of its edges on the left,
// right and bottom of the grid. Corners in the order TL, BL, BR, TR; they are
// hybrid unknowns (0 in the air) on a model with earth nodes, else grid nodes.
struct Fe_element_blocks {
  std::string solver;             // "fe" or "hy" once computed, empty before
  std::vector<int32_t> position;  // per grid element: its column in nindex and dk, 0 for none
  Imatrix nindex;                 // 4 x elements: the corners as unknowns
  std::vector<Dmatrix> dk;  // per wavenumber: 16 x elements, row 4(q-1)+p = (corner q, corner p)
};

struct Sen_state {
  Dmatrix jkt;  // ncell x nodata: d ln(response d) / d ln(resistivity of cell c)
  std::vector<Dcphi_dcr2d_matrix> dcphi_dcr2d_full;  // kmax x noelec, (kk, e) at kk-1 + kmax (e-1)
  int32_t dcphi_kmax = 0;
  Dcphi_dcr2d_layout dcphi_layout;  // the slots of the cell vectors
  std::vector<double> logrho_i;     // ln cell resistivities at the stored Jacobian
  std::vector<double> logr_i;       // ln responses at the stored Jacobian
  // Finite-element blocks per wavenumber: entry (kk, i, c) of each.
  std::vector<Dmatrix> dktlm, dktrm, dkbrm, dkblm;  // per wavenumber: nfe x 4
  Imatrix nindex;                                   // nfe x 4
  Derivative_matrix da, dc;                         // stiffness and mass per unit conductivity
  Fe_element_blocks fe_blocks;                      // the other elements with triangles
};

// The two finite-element blocks (once per pair of records).
void compute_fe_da_dc(Derivative_matrix& da, Derivative_matrix& dc,
                      const dcr2dphy::Model_inv_dcr2d& model);
// The per-wavenumber finite-element blocks da + k^2 dc.
void compute_fe_dk(Sen_state& sen, const dcr2dphy::Model_inv_dcr2d& model,
                   const std::vector<double>& k);

// The blocks of every element with triangles outside the fecell list, for
// the solver "fe" (with the boundary terms) or "hy".
void compute_fe_element_blocks(Fe_element_blocks& out, const dcr2dphy::Model_inv_dcr2d& model,
                               const std::vector<double>& k, std::string_view solver);

}  // namespace varnel::sen_dcr2d
