// The memory a job's dense inversion matrices need, checked before they are
// allocated: a job that cannot fit fails at once with the sizes, instead of
// being killed by the operating system half-way through an iteration.
#pragma once

#include <cstdint>

namespace varnel::memory_check {

// Bytes of the dense matrices of one Occam iteration for `nodata` data and
// `ncell` inversion cells: the Jacobian and Cm J^T (ncell x nodata each), the
// Gram matrix (nodata x nodata) and, during a model update, the regularised
// copy of it, the two singular-vector matrices of its decomposition and the
// decomposition's workspace (about 7 nodata^2): 8 (2 ncell nodata +
// 12 nodata^2 + 256 nodata) bytes; the last term covers the blocked
// workspace of small decompositions. Saturates at INT64_MAX.
int64_t inversion_matrix_bytes(int64_t nodata, int64_t ncell);

// The memory the job may use: the physical memory of the machine, or less
// when the process has a lower address-space or data-segment limit. 0 when
// it cannot be told.
int64_t usable_memory_bytes();

// Ends the job (varnel::Error) when the matrices of an inversion with
// `nodata` data and `ncell` cells need more than `available` bytes, with a
// message that gives the sizes. `available` <= 0 means unknown: no check.
void check_inversion_memory(int64_t nodata, int64_t ncell, int64_t available);

// The same against usable_memory_bytes().
void check_inversion_memory(int64_t nodata, int64_t ncell);

}  // namespace varnel::memory_check
