// The dictionary of receiving (potential) electrodes: one entry per electrode
// used as a potential electrode, mapping its identifier (the electrode number)
// to its position and back.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::rxtypes_dcr2d {

struct Dc2drx {
  int32_t id = 0;                        // electrode number
  std::array<double, 2> xyz{};           // (x, z) in model coordinates
  std::array<double, 2> xyz_original{};  // (x, z) as given in the data file
};

// Entry i of the dictionary is rxdict[i - 1].
using Rxdict = std::vector<Dc2drx>;

// Makes the dictionary hold exactly nsite entries; entry i takes x, z,
// original x and original z from column i of `location` (4 x nsite) and its
// identifier from id(i), or i when `id` is null. A matrix or id list too small
// for nsite entries is a programming error and throws varnel::Error.
void setup_rxdict_dcr2d(Rxdict& rxdict_dcr2d, int32_t nsite, const Dmatrix& location,
                        const std::vector<int32_t>* id = nullptr);

// Releases the dictionary; it is empty afterwards.
void deall_rxdict_dcr2d(Rxdict& rxdict_dcr2d);

// Position of the entry with identifier `id`: xyz for mode 1, xyz_original
// otherwise; the last of several entries with that identifier wins. (NaN, NaN)
// and a line on standard output when there is none.
std::array<double, 2> rx_id_to_position_dcr2d(const Rxdict& rxdict_dcr2d, int32_t id, int32_t mode);

// Identifier of the entry whose xyz (mode 1) or xyz_original (other modes)
// equals `rxpos` exactly; the last match wins. 0 and a line on standard output
// when there is none.
int32_t rx_position_to_id_dcr2d(const Rxdict& rxdict_dcr2d, const std::array<double, 2>& rxpos,
                                int32_t mode);

}  // namespace varnel::rxtypes_dcr2d
