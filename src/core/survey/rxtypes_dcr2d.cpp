#include "core/survey/rxtypes_dcr2d.hpp"

#include <cmath>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::rxtypes_dcr2d {

void setup_rxdict_dcr2d(Rxdict& rxdict_dcr2d, int32_t nsite, const Dmatrix& location,
                        const std::vector<int32_t>* id) {
  if (nsite < 0) fail("setup_rxdict_dcr2d: negative number of receivers " + std::to_string(nsite));
  if (nsite > 0 && (location.rows() < 4 || location.cols() < nsite))
    fail("setup_rxdict_dcr2d: location matrix of " + std::to_string(location.rows()) + " x " +
         std::to_string(location.cols()) + " is too small for 4 x " + std::to_string(nsite));
  if (id != nullptr && id->size() < static_cast<std::size_t>(nsite))
    fail("setup_rxdict_dcr2d: " + std::to_string(id->size()) + " identifiers for " +
         std::to_string(nsite) + " receivers");

  rxdict_dcr2d.assign(static_cast<std::size_t>(nsite), Dc2drx{});
  for (int32_t i = 1; i <= nsite; ++i) {
    Dc2drx& rx = rxdict_dcr2d[i - 1];
    rx.xyz = {location(1, i), location(2, i)};
    rx.xyz_original = {location(3, i), location(4, i)};
    rx.id = id != nullptr ? (*id)[i - 1] : i;
  }
}

void deall_rxdict_dcr2d(Rxdict& rxdict_dcr2d) { Rxdict().swap(rxdict_dcr2d); }

std::array<double, 2> rx_id_to_position_dcr2d(const Rxdict& rxdict_dcr2d, int32_t id,
                                              int32_t mode) {
  std::array<double, 2> pos{maths::nan_rsp(), maths::nan_rsp()};
  for (const Dc2drx& rx : rxdict_dcr2d)
    if (rx.id == id) pos = mode == 1 ? rx.xyz : rx.xyz_original;
  if (std::isnan(pos[0]) || std::isnan(pos[1]))
    std::cout << text_io::free_format({"rx ID is not exist"}) << '\n';
  return pos;
}

int32_t rx_position_to_id_dcr2d(const Rxdict& rxdict_dcr2d, const std::array<double, 2>& rxpos,
                                int32_t mode) {
  int32_t found = 0;
  for (const Dc2drx& rx : rxdict_dcr2d) {
    const std::array<double, 2>& p = mode == 1 ? rx.xyz : rx.xyz_original;
    if (p[0] == rxpos[0] && p[1] == rxpos[1]) found = rx.id;
  }
  if (found == 0) std::cout << text_io::free_format({"rx position is not exist"}) << '\n';
  return found;
}

}  // namespace varnel::rxtypes_dcr2d
