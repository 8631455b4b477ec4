// The sensitivity mask file: the grid's node coordinates and one mask value
// per element.
//
//   counts     element columns, element rows       (2I5)
//   "Horizontal Grid:", then every x node          (E20.10) each
//   "Vertical Grid:", then every z node            (E20.10) each
//   "Jk:", then the values column by column, top
//   to bottom within a column                      (E20.10) each
#pragma once

#include <span>
#include <string>

#include "core/numerics/array2.hpp"

namespace varnel::ascii_dcr2d_jac_jacfile {

// Writes jk2d (rows = element rows, columns = element columns) with the node
// coordinates xs and zs. An existing file of that name is replaced as a
// whole; the new content appears at once (written aside, then renamed).
void write_dcr2d_maskfile(const Dmatrix& jk2d, std::span<const double> xs,
                          std::span<const double> zs, const std::string& maskfile);

}  // namespace varnel::ascii_dcr2d_jac_jacfile
