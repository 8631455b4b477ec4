// State of the sensitivity computation: the transposed Jacobian, the cell
// vectors (dA/dsigma_c) phi of every source, the model and responses at the
// last stored Jacobian, and the finite-element derivative blocks of the
// hybrid mesh.
#pragma once

#include <cstdint>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::sen_dcr2d {

// The sparse vector (dA/dsigma_c) phi of one cell: slot j holds the value at
// row index[j] (a node or hybrid unknown); index 0 marks an unused slot.
struct Dcphi_dcr2d_cell {
  int32_t n = 0;
  std::vector<double> val;
  std::vector<int32_t> index;
};

// The vectors of all cells for one (wavenumber, electrode).
struct Dcphi_dcr2d_matrix {
  std::vector<Dcphi_dcr2d_cell> cell;
  bool allocated = false;
};

// The derivative of the finite-element entries of one element per unit
// conductivity: row arrays of its four corners (columns TL, BL, BR, TR).
struct Derivative_matrix {
  Dmatrix tl, tr, bl, br;  // nfe x 4
  Imatrix nindex;          // nfe x 4: corners as hybrid unknowns
  int32_t n = 0;           // nfe; 0 while not computed
};

struct Sen_state {
  Dmatrix jkt;  // ncell x nodata: d ln(response d) / d ln(resistivity of cell c)
  std::vector<Dcphi_dcr2d_matrix> dcphi_dcr2d_full;  // kmax x noelec, (kk, e) at kk-1 + kmax (e-1)
  int32_t dcphi_kmax = 0;
  std::vector<double> logrho_i;  // ln cell resistivities at the stored Jacobian
  std::vector<double> logr_i;    // ln responses at the stored Jacobian
  // Finite-element blocks per wavenumber: entry (kk, i, c) of each.
  std::vector<Dmatrix> dktlm, dktrm, dkbrm, dkblm;  // per wavenumber: nfe x 4
  Imatrix nindex;                                   // nfe x 4
  Derivative_matrix da, dc;                         // stiffness and mass per unit conductivity
};

// The two finite-element blocks (once per pair of records).
void compute_fe_da_dc(Derivative_matrix& da, Derivative_matrix& dc,
                      const dcr2dphy::Model_inv_dcr2d& model);
// The per-wavenumber finite-element blocks da + k^2 dc.
void compute_fe_dk(Sen_state& sen, const dcr2dphy::Model_inv_dcr2d& model,
                   const std::vector<double>& k);

}  // namespace varnel::sen_dcr2d
