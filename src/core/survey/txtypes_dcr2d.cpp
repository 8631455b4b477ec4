#include "core/survey/txtypes_dcr2d.hpp"

#include <cmath>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::txtypes_dcr2d {

void setup_txdict_dcr2d(Txdict& txdict_dcr2d, int32_t ntx, const Dmatrix& transmitters,
                        const std::vector<int32_t>* id) {
  if (ntx < 0) fail("setup_txdict_dcr2d: negative number of transmitters " + std::to_string(ntx));
  if (ntx > 0 && (transmitters.rows() < 5 || transmitters.cols() < ntx))
    fail("setup_txdict_dcr2d: transmitter matrix of " + std::to_string(transmitters.rows()) +
         " x " + std::to_string(transmitters.cols()) + " is too small for 5 x " +
         std::to_string(ntx));
  if (id != nullptr && id->size() < static_cast<std::size_t>(ntx))
    fail("setup_txdict_dcr2d: " + std::to_string(id->size()) + " identifiers for " +
         std::to_string(ntx) + " transmitters");

  txdict_dcr2d.assign(static_cast<std::size_t>(ntx), Dc2dtx{});
  for (int32_t i = 1; i <= ntx; ++i) {
    Dc2dtx& tx = txdict_dcr2d[i - 1];
    tx.depth = transmitters(1, i);
    tx.xyz = {transmitters(2, i), transmitters(3, i)};
    tx.xyz_original = {transmitters(4, i), transmitters(5, i)};
    tx.id = id != nullptr ? (*id)[i - 1] : i;
  }
}

void deall_txdict_dcr2d(Txdict& txdict_dcr2d) { Txdict().swap(txdict_dcr2d); }

std::array<double, 2> tx_id_to_position_dcr2d(const Txdict& txdict_dcr2d, int32_t id,
                                              int32_t mode) {
  std::array<double, 2> pos{maths::nan_rsp(), maths::nan_rsp()};
  for (const Dc2dtx& tx : txdict_dcr2d)
    if (tx.id == id) pos = mode == 1 ? tx.xyz : tx.xyz_original;
  if (std::isnan(pos[0]) || std::isnan(pos[1]))
    std::cout << text_io::free_format({"Tx ID is.NOT.exist", id}) << '\n';
  return pos;
}

int32_t tx_position_to_id_dcr2d(const Txdict& txdict_dcr2d, const std::array<double, 2>& txpos,
                                int32_t mode) {
  int32_t found = 0;
  for (const Dc2dtx& tx : txdict_dcr2d) {
    const std::array<double, 2>& p = mode == 1 ? tx.xyz : tx.xyz_original;
    if (p[0] == txpos[0] && p[1] == txpos[1]) found = tx.id;
  }
  if (found == 0) std::cout << text_io::free_format({"Tx position is.NOT.exist"}) << '\n';
  return found;
}

}  // namespace varnel::txtypes_dcr2d
