// The grid of the resistivity solvers: Base_grid2d with the fixed numbering of
// nodes and elements that every model, potential and sensitivity vector follows,
// the distance of each node from the middle of the surface line, and the search
// from a position to a node or an element.
//
// Numbering: node (iz, ix) is (ix - 1)(nz + 1) + iz, element (iz, ix) is
// (ix - 1) nz + iz; columns from the left, rows from the top, all 1-based.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/model/base_grids.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::grid2d_dcr {

class Gr2d_dcr_new : public base_grids::Base_grid2d {
 public:
  // Base finalize, then the maps and distances are released.
  void finalize() override;

  // Base initialize, then the maps and the node distances are built.
  void initialize(std::span<const double> xs_in, std::span<const double> zs_in) override;

  // As duplicate_grid2d, with the positions taken through get_x_grid and
  // get_z_grid.
  virtual void duplicate(base_grids::Base_grid2d& target) const;

  // The first six characters of `mode`, folded to lower case, choose the map:
  // "1dto2d" gives e1d (element number -> (ix, iz)), "2dto1d" gives e2d
  // ((iz, ix) -> element number). On any other word a message is printed and
  // `mapping` is left unchanged. The view is valid until finalize/initialize.
  virtual void get_element_mapping(const Imatrix*& mapping, std::string_view mode) const;

  // Distance of every node (by node number) from (xc, 0), xc the middle of the
  // x range; the top row is measured along x only.
  virtual std::span<const double> get_node_distance() const;

  // Element containing (x, z): the last node column with xs <= x and, for
  // increasing zs, the last row with zs <= z (for decreasing zs, the last row
  // with zs >= z). A position on a node line belongs to the element to its
  // right and below it. 0 when the position has no column or no row.
  virtual int32_t p2e(double x, double z) const;

  // As get_element_mapping, for nodes: n1d for "1dto2d", n2d for "2dto1d".
  virtual void get_node_mapping(const Imatrix*& mapping, std::string_view mode) const;

  // Node at (x, z): the last node column with xs <= x and the first row with
  // |z - zs| < 1.0e-8. 0 when the position has no column or no row.
  virtual int32_t p2n(double x, double z) const;

 protected:
  std::vector<double> nd;  // numnp node distances
  Imatrix n2d;             // (nz + 1) x (nx + 1): (iz, ix) -> node number
  Imatrix e2d;             // nz x nx: (iz, ix) -> element number
  Imatrix n1d;             // numnp x 2: node number -> (ix, iz)
  Imatrix e1d;             // noelem x 2: element number -> (ix, iz)
};

}  // namespace varnel::grid2d_dcr
