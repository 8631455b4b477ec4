// The dictionary of transmitting (current) electrodes: one entry per electrode
// used as a current electrode, mapping its identifier (the electrode number) to
// its position and back. The forward solver addresses sources only through
// these identifiers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::txtypes_dcr2d {

struct Dc2dtx {
  int32_t np = 0;                        // not set by the set-up and not read
  std::array<double, 2> xyz{};           // (x, z) in model coordinates
  std::array<double, 2> xyz_original{};  // (x, z) as given in the data file
  double depth = 0.0;                    // source depth below the electrode
  int32_t id = 0;                        // electrode number
};

// Entry i of the dictionary is txdict[i - 1].
using Txdict = std::vector<Dc2dtx>;

// Makes the dictionary hold exactly ntx entries; entry i takes depth, x, z,
// original x and original z from column i of `transmitters` (5 x ntx) and its
// identifier from id(i), or i when `id` is null. A matrix or id list too small
// for ntx entries is a programming error and throws varnel::Error.
void setup_txdict_dcr2d(Txdict& txdict_dcr2d, int32_t ntx, const Dmatrix& transmitters,
                        const std::vector<int32_t>* id = nullptr);

// Releases the dictionary; it is empty afterwards.
void deall_txdict_dcr2d(Txdict& txdict_dcr2d);

// Position of the entry with identifier `id`: xyz for mode 1, xyz_original
// otherwise; the last of several entries with that identifier wins. (NaN, NaN)
// and a line on standard output when there is none.
std::array<double, 2> tx_id_to_position_dcr2d(const Txdict& txdict_dcr2d, int32_t id, int32_t mode);

// Identifier of the entry whose xyz (mode 1) or xyz_original (other modes)
// equals `txpos` exactly; the last match wins. 0 and a line on standard output
// when there is none.
int32_t tx_position_to_id_dcr2d(const Txdict& txdict_dcr2d, const std::array<double, 2>& txpos,
                                int32_t mode);

}  // namespace varnel::txtypes_dcr2d
