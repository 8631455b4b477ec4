// Model files (".m2d"): the grid of a model, one resistivity per element and
// the misfit of the model, as plain text.
//
//   RMS Misfit:    0.00000            misfit, F10.5 (0 for a forward model)
//      2    1                         nx and nz, I4,1x,I4
//   Horizontal Grid:
//       0.0000000000E+00              nx + 1 node x positions, E20.10
//   Vertical Grid:
//       0.0000000000E+00              nz + 1 node z positions, E20.10
//   Resistivity:
//       0.1000000000E+03              nx nz resistivities (ohm-m), E20.10,
//                                     column by column, top to bottom
//
// The reader takes one free-format record per line and only the first 100
// characters of the header lines. A value after the colon of the
// "Resistivity:" line other than 0 gives every element that resistivity, and
// no per-element lines are read then.
#pragma once

#include <string>
#include <string_view>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::ascii_dcr2d_m2d_modelfile {

// Writes the model (forward or inverse; only an inverse model has a misfit)
// to `modelfile`, replacing an existing file. The text goes to a temporary
// file in the same folder first, which is renamed into place when complete,
// so a failure leaves any earlier file as it was. Throws varnel::Error naming
// the file when the model has no grid or the file cannot be written.
void write_dcr2d_m2d_modelfile(const std::string& modelfile, const dcr2dphy::Model_fwd_dcr2d& m);

// Reads `modelfile` into m, which must refer to a grid: the misfit (inverse
// models only), the grid, and the conductivities 1/resistivity; then m is
// initialized through its own dispatch with approx and topo. The whole file
// is read and checked before m is touched, so a bad file (missing, malformed,
// too short, counts below 1 or above 10 million elements, a resistivity that
// is not positive and finite) throws varnel::Error naming the file and the
// line, and leaves m as it was.
void read_dcr2d_m2d_modelfile(const std::string& modelfile, dcr2dphy::Model_fwd_dcr2d& m,
                              std::string_view approx, const Dmatrix* topo = nullptr);

}  // namespace varnel::ascii_dcr2d_m2d_modelfile
