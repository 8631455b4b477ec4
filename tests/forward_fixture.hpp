// Building blocks of forward computations in tests and benchmarks: surveys of
// the common arrays on a line of electrodes, their DAT files, grids like the
// ones the inversion generates (a node at every electrode and one midway,
// ten widening padding columns on each side, the 24 depth levels), element
// values of layered or uneven models, and one job's worth of state to read a
// data file, build a model and compute its response.
//
// Free of the test framework, so that the benchmarks can use it as well.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/forward/fwd_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace varnel::forward_fixture {

// An electrode position: x along the profile, z depth (downwards), metres.
struct Position {
  double x = 0.0;
  double z = 0.0;
};

// One measurement, its electrodes in the order of a DAT row: A, B, M, N;
// A, M, N for pole-dipole; A, M for pole-pole.
using Datum = std::vector<Position>;

// Array codes of the DAT header.
inline constexpr int32_t kWennerAlpha = 1;
inline constexpr int32_t kPolePole = 2;
inline constexpr int32_t kDipoleDipole = 3;
inline constexpr int32_t kPoleDipole = 6;

// Electrode x positions x0, x0 + a, ..., flat at depth 0.
inline std::vector<Position> line_of_electrodes(int n, double spacing, double x0 = 0.0) {
  std::vector<Position> e;
  for (int i = 0; i < n; ++i) e.push_back({x0 + spacing * i, 0.0});
  return e;
}

// Wenner-alpha A, B, M, N = e(i), e(i + 3a), e(i + a), e(i + 2a) for a = 1 ..
// amax (in electrode steps), every position along the line.
inline std::vector<Datum> wenner_alpha(const std::vector<Position>& e, int amax) {
  std::vector<Datum> out;
  const int n = static_cast<int>(e.size());
  for (int a = 1; a <= amax; ++a)
    for (int i = 0; i + 3 * a < n; ++i) out.push_back({e[i], e[i + 3 * a], e[i + a], e[i + 2 * a]});
  return out;
}

// Dipole-dipole with B left of A (positive geometric factor): B = e(i),
// A = e(i + a), M = e(i + a + n a), N = e(i + 2a + n a), for every dipole
// length a in `as`, n = 1 .. nmax and every position.
inline std::vector<Datum> dipole_dipole(const std::vector<Position>& e, const std::vector<int>& as,
                                        int nmax) {
  std::vector<Datum> out;
  const int count = static_cast<int>(e.size());
  for (int a : as)
    for (int n = 1; n <= nmax; ++n)
      for (int i = 0; i + (n + 2) * a < count; ++i)
        out.push_back({e[i + a], e[i], e[i + a + n * a], e[i + 2 * a + n * a]});
  return out;
}

// Pole-dipole A = e(i), M = e(i + n a), N = e(i + n a + a): a = 1 .. amax,
// n = 1 .. nmax, every position.
inline std::vector<Datum> pole_dipole(const std::vector<Position>& e, int amax, int nmax) {
  std::vector<Datum> out;
  const int count = static_cast<int>(e.size());
  for (int a = 1; a <= amax; ++a)
    for (int n = 1; n <= nmax; ++n)
      for (int i = 0; i + (n + 1) * a < count; ++i)
        out.push_back({e[i], e[i + n * a], e[i + n * a + a]});
  return out;
}

// Pole-pole A = e(i), M = e(i + a), a = 1 .. amax, every position.
inline std::vector<Datum> pole_pole(const std::vector<Position>& e, int amax) {
  std::vector<Datum> out;
  const int count = static_cast<int>(e.size());
  for (int a = 1; a <= amax; ++a)
    for (int i = 0; i + a < count; ++i) out.push_back({e[i], e[i + a]});
  return out;
}

// The text of a general-layout DAT file of one array type, every datum with
// the same value, without a topography list.
inline std::string dat_text(const std::vector<Datum>& data, int32_t arraycode, double spacing,
                            int32_t measuretype, double value = 1.0) {
  std::ostringstream out;
  out.precision(17);
  out << "forward test survey\n"
      << spacing << "\n11\n"
      << arraycode << "\nType of measurement (0=app. resistivity,1=resistance)\n"
      << measuretype << "\n"
      << data.size() << "\n1\n0\n";
  for (const Datum& d : data) {
    out << d.size();
    for (const Position& p : d) out << ' ' << p.x << ' ' << p.z;
    out << ' ' << value << '\n';
  }
  out << "0\n";
  return out.str();
}

// A folder of this process under the system's temporary folder.
inline std::filesystem::path scratch_folder(const std::string& tag) {
  const std::filesystem::path p =
      std::filesystem::temp_directory_path() / ("varnel_" + tag + "_" + std::to_string(getpid()));
  std::filesystem::create_directories(p);
  return p;
}

inline std::string write_text(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
  out.close();
  if (!out) fail("cannot write " + file.string());
  return file.string();
}

// Sorted distinct values (within 1e-9).
inline std::vector<double> sorted_distinct(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::vector<double> out;
  for (double x : v)
    if (out.empty() || x - out.back() > 1e-9) out.push_back(x);
  return out;
}

// `core` (ascending) with ten columns added on each side whose widths grow
// as h, 2h, 4h, ..., 512h outwards, h = spacing / 2 (0.5 to 256 spacings).
inline std::vector<double> padded(const std::vector<double>& core, double spacing) {
  std::vector<double> left, right;
  double xl = core.front(), xr = core.back(), w = spacing / 2.0;
  for (int k = 0; k < 10; ++k, w *= 2.0) {
    left.push_back(xl -= w);
    right.push_back(xr += w);
  }
  std::vector<double> xs(left.rbegin(), left.rend());
  xs.insert(xs.end(), core.begin(), core.end());
  xs.insert(xs.end(), right.begin(), right.end());
  return xs;
}

// Horizontal nodes of a generated grid: every electrode x, one node midway
// between neighbouring electrodes, and the padding.
inline std::vector<double> generated_xs(const std::vector<Position>& electrodes, double spacing) {
  std::vector<double> x;
  for (const Position& p : electrodes) x.push_back(p.x);
  x = sorted_distinct(x);
  std::vector<double> core;
  for (std::size_t i = 0; i < x.size(); ++i) {
    core.push_back(x[i]);
    if (i + 1 < x.size()) core.push_back(0.5 * (x[i] + x[i + 1]));
  }
  return padded(core, spacing);
}

// Vertical nodes of a generated grid: z0 + spacing x the 24 depth levels,
// with `extra` positions merged in.
inline std::vector<double> generated_zs(double spacing, double z0 = 0.0,
                                        const std::vector<double>& extra = {}) {
  std::vector<double> z(extra);
  for (double f : param_dcr2d::zs_default) z.push_back(z0 + spacing * f);
  return sorted_distinct(z);
}

// One value per element (element (iz, ix) is number (ix - 1) nz + iz) from
// a function of the element centre (x, z).
inline std::vector<double> element_values(const std::vector<double>& xs,
                                          const std::vector<double>& zs,
                                          const std::function<double(double, double)>& f) {
  std::vector<double> v;
  for (std::size_t ix = 0; ix + 1 < xs.size(); ++ix)
    for (std::size_t iz = 0; iz + 1 < zs.size(); ++iz)
      v.push_back(f(0.5 * (xs[ix] + xs[ix + 1]), 0.5 * (zs[iz] + zs[iz + 1])));
  return v;
}

// Conductivity of a two-layer earth: 1/rho1 above depth h, 1/rho2 below.
inline std::function<double(double, double)> two_layer(double rho1, double rho2, double h) {
  return [=](double, double z) { return z < h ? 1.0 / rho1 : 1.0 / rho2; };
}

// The surface as ntopo x 2 rows (x, z) of a topography matrix.
inline Dmatrix topo_matrix(const std::vector<Position>& surface) {
  Dmatrix t(static_cast<int>(surface.size()), 2);
  for (std::size_t k = 0; k < surface.size(); ++k) {
    t(static_cast<int>(k) + 1, 1) = surface[k].x;
    t(static_cast<int>(k) + 1, 2) = surface[k].z;
  }
  return t;
}

// Depth of the polyline `surface` (ascending x, extended flat beyond its
// ends) at x.
inline double surface_depth(const std::vector<Position>& surface, double x) {
  if (x <= surface.front().x) return surface.front().z;
  for (std::size_t k = 0; k + 1 < surface.size(); ++k)
    if (x <= surface[k + 1].x) {
      const Position &p = surface[k], &q = surface[k + 1];
      return p.z + (q.z - p.z) * (x - p.x) / (q.x - p.x);
    }
  return surface.back().z;
}

// A model of earth conductivity `earth` below the polyline `surface` and
// `air` above it, for the "fe" solver on all grid nodes. Every node line
// of a sloping segment must run diagonally through grid cells (one row per
// column); such a cut cell is split along its diagonal: its upper triangle
// is air (sval), its lower one earth (val). Fails on a cell the surface cuts
// in another way.
struct Fe_surface_model {
  std::vector<double> val, sval;
  std::vector<int32_t> elem;
};

inline Fe_surface_model fe_surface_model(const std::vector<double>& xs,
                                         const std::vector<double>& zs,
                                         const std::vector<Position>& surface, double earth,
                                         double air) {
  constexpr double tol = 1e-9;
  Fe_surface_model m;
  for (std::size_t ix = 0; ix + 1 < xs.size(); ++ix) {
    const double s0 = surface_depth(surface, xs[ix]), s1 = surface_depth(surface, xs[ix + 1]);
    for (std::size_t iz = 0; iz + 1 < zs.size(); ++iz) {
      const double top = zs[iz], bottom = zs[iz + 1];
      if (top >= std::max(s0, s1) - tol) {  // wholly below the surface
        m.val.push_back(earth), m.sval.push_back(earth), m.elem.push_back(2);
      } else if (bottom <= std::min(s0, s1) + tol) {  // wholly in the air
        m.val.push_back(air), m.sval.push_back(air), m.elem.push_back(2);
      } else if (std::abs(s0 - top) < tol && std::abs(s1 - bottom) < tol) {
        m.val.push_back(earth), m.sval.push_back(air), m.elem.push_back(2);  // TL to BR
      } else if (std::abs(s0 - bottom) < tol && std::abs(s1 - top) < tol) {
        m.val.push_back(earth), m.sval.push_back(air), m.elem.push_back(3);  // BL to TR
      } else {
        fail("the surface cuts a cell off its diagonal at x = " + std::to_string(xs[ix]) +
             ", z = " + std::to_string(top));
      }
    }
  }
  return m;
}

// The state of one forward job: settings, solver module, grid, model, data
// set and forward module. Each job reads one data file and computes one
// model, so that no module state of one case leaks into another.
struct Forward_job {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d model{dcr2dphy::Model_env{&param, &phy}};
  dataio_dcr2d::Main_data_dcr2d d;
  dataio_dcr2d::Dataio_state io;
  txrx_info_dcr2d::Txrx_info_state txrx;
  fwd_dcr2d::Fwd_state fwd;

  Forward_job() { model.set_grid(&grid); }
  Forward_job(const Forward_job&) = delete;
  Forward_job& operator=(const Forward_job&) = delete;

  void read_data(const std::string& file) { dataio_dcr2d::read_dcr2d_datafile(d, file, io, txrx); }

  // cond: one value (homogeneous) or one per element; topo only for "hy" on
  // uneven ground.
  void make_model(const std::vector<double>& xs, const std::vector<double>& zs,
                  const std::string& approx, const std::vector<double>& cond,
                  const Dmatrix* topo = nullptr) {
    model.initialize(xs, zs, approx, &cond, topo);
    d.model = &model;
  }

  // The response of every datum (d.val after the computation).
  const std::vector<double>& run(const std::string& approx) {
    fwd.approx = approx;
    fwd_dcr2d::dcr2dfwd_lapack(d, {&fwd, &phy, &txrx, 0});
    return d.val;
  }

  // Apparent resistivity geo_k x response of datum i (0-based); the
  // response is a resistance when every geometric factor is positive.
  double rhoa(std::size_t i) const { return d.resistance ? d.geo_k[i] * d.val[i] : d.val[i]; }
};

}  // namespace varnel::forward_fixture
