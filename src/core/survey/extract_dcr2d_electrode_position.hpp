// Electrode tables of the data files. Every electrode row holds four values:
// x in model coordinates (horizontal distance), z, and x and z as given in the
// data file. A DAT file's table is the set of distinct electrode positions of
// its data, ascending by x; a CEG file's table is its electrode list in file
// order. Along-surface x coordinates are turned into horizontal distances.
//
// The module also holds the fast exact row deduplication and the hashed
// position keys that the survey set-up uses on large surveys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/numerics/array2.hpp"
#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"

namespace varnel::extract_dcr2d_electrode_position {

using Dat = ascii_dcr2d_dat_datafile::Dat_file_rawdata_dcr2d;
using Ceg = ascii_dcr2d_ceg_datafile::Ceg_file_rawdata_dcr2d;

// Builds d.pelec (noelec x 4) and d.noelec from the general rows: the (x, z)
// pairs of electrode 1 of every datum, then of electrode 2, and so on, made
// distinct and ordered ascending by x (equal x in order of first appearance),
// then converted by adjust_position_dcr2d. Only general-layout records
// (data_format 11, which every record has after reading) have their table
// built; others are left as they are. A rawdata matrix too small for nodata
// rows of nelec(arraytype) electrodes ends the job.
void electrode_position_dcr2d_dat(Dat& d);

// Builds d.pelec from columns 2 and 3 (x, z) of the electrode list, all noelec
// rows in file order, converted by adjust_position_dcr2d. An electrode list
// with fewer than noelec rows or 3 columns ends the job.
void electrode_position_dcr2d_ceg(Ceg& d);

// Replaces pelec (n x 2: x, z, in table order) by the n x 4 electrode rows
// (model x, z, file x, file z). For x_position_type 2 (along surface) model x
// is the cumulative horizontal distance: row 1 keeps its x; row i adds a step
// derived from dx = x(i) - x(i-1) and dz = z(i) - z(i-1): the slope angle
// arcsin(dz/dx) in whole degrees (halves away from zero), limited to 65
// degrees in magnitude; the step is dx for a zero angle and dz / tan(angle)
// otherwise, and the running sum is rounded to 0.1 m (halves away from zero).
// Slopes where |dz/dx| exceeds 1 (steeper than vertical along the surface)
// take the 65-degree limit with the sign of dz/dx. Two consecutive electrodes
// at the same along-surface x (dx = 0) are a vertical step: the step is 0.
// Finite input therefore gives finite model x. Any other position type
// copies x. pelec with fewer than 2 columns ends the job.
void adjust_position_dcr2d(Dmatrix& pelec, int32_t x_position_type);

// The same result as matrix::unique_rank2(array, "ROW", ref_index): the
// distinct rows in order of first appearance (exact equality, -0.0 equal to
// 0.0, a row holding NaN equal to no row), then ordered stably ascending by
// column ref_index. Rows are found by hashing, so the cost is linear in the
// row count plus the sort, where unique_rank2 is quadratic. When the key
// column holds NaN (which unique_rank2 places in its own way) the work is
// handed to unique_rank2. An array without rows gives 0 rows of its width.
Dmatrix unique_rows_fast(const Dmatrix& array, int32_t ref_index);

// Hash of an exact (x, z) position: -0.0 hashes as 0.0, so positions equal
// under == hash alike. Used with std::array's ==; a position holding NaN never
// equals a stored key.
struct Position_hash {
  std::size_t operator()(const std::array<double, 2>& p) const noexcept;
};

}  // namespace varnel::extract_dcr2d_electrode_position
