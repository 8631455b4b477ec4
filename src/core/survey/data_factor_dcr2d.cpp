#include "core/survey/data_factor_dcr2d.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

#include "core/error.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace varnel::data_factor_dcr2d {

namespace {

template <class Rec>
void cal_geo_k(Rec& d, const txtypes_dcr2d::Txdict& txdict_dcr2d,
               const rxtypes_dcr2d::Rxdict& rxdict_dcr2d) {
  const int nd = d.nodata;
  if (nd < 0) fail("file " + d.filename + ": negative number of data " + std::to_string(nd));
  const int nc = param_dcr2d::celec(d.arraytype);
  const int np = param_dcr2d::nelec(d.arraytype) - nc;
  if (nd > 0 && (d.tx_index.rows() < nc || d.tx_index.cols() < nd || d.rx_index.rows() < np ||
                 d.rx_index.cols() < nd))
    fail("file " + d.filename + ": no electrode identifiers for the geometric factors of " +
         std::to_string(nd) + " data");
  d.geo_k.assign(static_cast<std::size_t>(nd), 0.0);

  const txrx_info_dcr2d::Original_positions tx_pos(txdict_dcr2d);
  const txrx_info_dcr2d::Original_positions rx_pos(rxdict_dcr2d);
  for (int i = 1; i <= nd; ++i) {
    double g = 0.0;
    for (int k = 1; k <= nc; ++k) {
      const std::array<double, 2> c = tx_pos(d.tx_index(k, i));
      for (int j = 1; j <= np; ++j) {
        const std::array<double, 2> p = rx_pos(d.rx_index(j, i));
        const double dx = c[0] - p[0];
        const double dz = c[1] - p[1];
        g += compute_sign(k, j) / std::sqrt(dx * dx + dz * dz);
      }
    }
    d.geo_k[i - 1] = std::numbers::pi / g;
  }
}

}  // namespace

void cal_geo_k_dat_dcr2d(Dat& d, const txtypes_dcr2d::Txdict& txdict_dcr2d,
                         const rxtypes_dcr2d::Rxdict& rxdict_dcr2d) {
  cal_geo_k(d, txdict_dcr2d, rxdict_dcr2d);
}

void cal_geo_k_ceg_dcr2d(Ceg& d, const txtypes_dcr2d::Txdict& txdict_dcr2d,
                         const rxtypes_dcr2d::Rxdict& rxdict_dcr2d) {
  cal_geo_k(d, txdict_dcr2d, rxdict_dcr2d);
}

int32_t compute_sign(int32_t i, int32_t j) {
  const auto s = [](int32_t n) { return n % 2 != 0 ? 1 : -1; };
  return s(i) * s(j);
}

double sensitivity_function(double z, double r_am, double r_an, double r_bm, double r_bn,
                            double target) {
  const double z2 = 4.0 * z * z;
  return 1.0 / std::sqrt(r_am * r_am + z2) - 1.0 / std::sqrt(r_an * r_an + z2) -
         1.0 / std::sqrt(r_bm * r_bm + z2) + 1.0 / std::sqrt(r_bn * r_bn + z2) - target;
}

void calculate_focus_point(double tx1, double tx2, double rx1, double rx2, int32_t array_type,
                           double& focus_x, double& focus_z, bool& success) {
  focus_x = (tx1 + tx2 + rx1 + rx2) / 4.0;
  focus_z = 0.0;
  success = true;

  const double r_am = std::abs(tx1 - rx1);
  const double r_an = std::abs(tx1 - rx2);
  const double r_bm = std::abs(tx2 - rx1);
  const double r_bn = std::abs(tx2 - rx2);
  constexpr double coincident = 1e-10;
  if (r_am < coincident || r_an < coincident || r_bm < coincident || r_bn < coincident) {
    success = false;
    return;
  }
  const double target = (1.0 / r_am - 1.0 / r_an - 1.0 / r_bm + 1.0 / r_bn) / 2.0;

  double lower = 0.001;
  double upper;
  switch (array_type) {
    case 1:
      upper = std::abs(tx2 - tx1);
      break;
    case 3:
      upper = 10.0 * std::max(std::abs(tx1 - tx2), std::abs(rx1 - rx2));
      break;
    case 7:
      upper = 1.5 * std::abs(tx1 - tx2);
      break;
    case 15:
      upper = 2.0 * std::abs(tx1 - tx2);
      break;
    default:
      upper = 10.0 * std::max({r_am, r_an, r_bm, r_bn});
      break;
  }

  auto f = [&](double z) { return sensitivity_function(z, r_am, r_an, r_bm, r_bn, target); };
  double f_lower = f(lower);
  const double f_upper = f(upper);
  if ((f_lower > 0.0 && f_upper > 0.0) || (f_lower < 0.0 && f_upper < 0.0)) {
    success = false;
    return;
  }

  constexpr double tolerance = 1e-6;
  constexpr int max_halvings = 100;
  for (int it = 1; it <= max_halvings; ++it) {
    const double mid = (lower + upper) / 2.0;
    const double f_mid = f(mid);
    if (std::abs(f_mid) < tolerance || (upper - lower) / 2.0 < tolerance) {
      focus_z = mid;
      return;
    }
    if ((f_lower < 0.0) != (f_mid < 0.0)) {
      upper = mid;
    } else {
      lower = mid;
      f_lower = f_mid;
    }
  }
  success = false;
}

void cal_pseudo_xz(const Imatrix& elec, int32_t ec1_index, int32_t ec2_index, int32_t ep1_index,
                   int32_t ep2_index, const Dmatrix& pelec, int32_t array_type,
                   std::vector<double>& xpos, std::vector<double>& zpos) {
  const int nd = elec.rows();
  for (int32_t c : {ec1_index, ec2_index, ep1_index, ep2_index})
    if (nd > 0 && (c < 1 || c > elec.cols()))
      fail("cal_pseudo_xz: electrode column " + std::to_string(c) + " is not one of the " +
           std::to_string(elec.cols()) + " columns");
  auto x_of = [&](int i, int32_t column) {
    const int32_t e = elec(i, column);
    if (e < 1 || e > pelec.rows() || pelec.cols() < 1)
      fail("cal_pseudo_xz: datum " + std::to_string(i) + " names electrode " + std::to_string(e) +
           ", not one of the " + std::to_string(pelec.rows()) + " electrodes");
    return pelec(e, 1);
  };
  xpos.assign(static_cast<std::size_t>(nd), 0.0);
  zpos.assign(static_cast<std::size_t>(nd), 0.0);
  for (int i = 1; i <= nd; ++i) {
    bool success = false;
    calculate_focus_point(x_of(i, ec1_index), x_of(i, ec2_index), x_of(i, ep1_index),
                          x_of(i, ep2_index), array_type, xpos[i - 1], zpos[i - 1], success);
  }
}

}  // namespace varnel::data_factor_dcr2d
