#include "core/model/prior_model_dcr2d.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>

#include "core/error.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/matrix.hpp"
#include "core/numerics/text_io.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::prior_model_dcr2d {

namespace {

using dataio_dcr2d::Main_data_dcr2d;

constexpr double kPi = 3.14159265358979323846;
// Percentage tolerance of the index lookups of the first pass.
constexpr double kFirstPassTol = 0.01;
// A refinement that has not settled after this many cycles never will: it
// keeps producing positions that differ by rounding only.
constexpr int kMaxReviseCycles = 200;

std::string number_text(double v) { return text_io::free_real(v); }

// A surface segment: points k and k+1 of the topography.
struct Segment {
  int32_t k = 0;
  double x1 = 0, z1 = 0, x2 = 0, z2 = 0;
  double angle = 0;  // degrees, signed
  bool flat() const { return z1 == z2; }
  double slope() const { return (z2 - z1) / (x2 - x1); }
};

std::vector<Segment> segments_of(const Main_data_dcr2d& d) {
  const int32_t ntopo = d.topo.rows();
  std::vector<Segment> out;
  for (int32_t k = 1; k < ntopo; ++k) {
    Segment s{k, d.topo(k, 1), d.topo(k, 2), d.topo(k + 1, 1), d.topo(k + 1, 2), 0.0};
    if (!(s.x2 > s.x1)) {
      if (s.x2 == s.x1)
        fail("topography points " + std::to_string(k) + " and " + std::to_string(k + 1) +
             " share x = " + number_text(s.x1) + " m at depths " + number_text(s.z1) + " and " +
             number_text(s.z2) + " m: a vertical surface segment cannot be meshed");
      fail("internal error: the topography is not ordered by x at point " + std::to_string(k + 1));
    }
    s.angle = std::atan((s.z2 - s.z1) / (s.x2 - s.x1)) * 180.0 / kPi;
    out.push_back(s);
  }
  return out;
}

// Index of a position that is a node by construction (a surface point).
int32_t node_of(double v, const std::vector<double>& nodes, double tol, const char* axis,
                const Segment& s) {
  const int32_t i = matrix::find_index_in(v, nodes, tol);
  if (i == 0)
    fail(std::string("internal error: surface segment ") + std::to_string(s.k) + " ends at " +
         axis + " = " + number_text(v) + " m, which is not a node of the generated grid");
  return i;
}

// Positions collected for one step before they join the node list.
struct Buffer {
  std::vector<double>& nodes;
  std::vector<double> added;
  void add(double p) {
    if (matrix::find_index_in(p, nodes, grid_tol) == 0) added.push_back(p);
  }
  void merge() {
    if (added.empty()) return;
    added.insert(added.end(), nodes.begin(), nodes.end());
    nodes = matrix::unique_rank1(added);
    added.clear();
  }
};

// Index of the last node not greater than v.
int32_t last_node_not_above(double v, const std::vector<double>& xs) {
  int32_t i = 0;
  for (std::size_t j = 0; j < xs.size(); ++j)
    if (xs[j] <= v) i = static_cast<int32_t>(j) + 1;
  return i;
}

void first_pass_flat(const Segment& s, Buffer& bx, int32_t nxgrid) {
  const std::vector<double>& xs = bx.nodes;
  const int32_t xi1 = last_node_not_above(s.x1, xs), xi2 = last_node_not_above(s.x2, xs);
  if (xi1 == 0 || xi2 == 0) fail("internal error: a flat surface segment lies outside the grid");
  if (xi2 - xi1 - 1 < nxgrid) {
    const double delx = (xs[xi2 - 1] - xs[xi1 - 1]) / nxgrid;
    const double x0 = xs[xi1 - 1];
    for (int32_t j = 1; j <= nxgrid; ++j) bx.add(x0 + j * delx);
  }
  bx.merge();
}

void first_pass_sloping(const Segment& s, Buffer& bx, Buffer& bz, int32_t nxgrid) {
  const std::vector<double>& xs = bx.nodes;
  const std::vector<double>& zs = bz.nodes;
  const int32_t xi1 = node_of(s.x1, xs, kFirstPassTol, "x", s);
  const int32_t xi2 = node_of(s.x2, xs, kFirstPassTol, "x", s);
  const int32_t zi1 = node_of(s.z1, zs, kFirstPassTol, "z", s);
  const int32_t zi2 = node_of(s.z2, zs, kFirstPassTol, "z", s);
  const int32_t xtgrid = xtgrid_of(std::abs(s.angle), nxgrid);
  if (std::abs(zi2 - zi1) == 1 && std::abs(xi2 - xi1) == 1) {
    // The two points are diagonal corners of one grid cell.
    const double dx = (xs[xi2 - 1] - xs[xi1 - 1]) / xtgrid;
    const double dz = (zs[zi2 - 1] - zs[zi1 - 1]) / xtgrid;
    const double x0 = xs[xi1 - 1], z0 = zs[zi1 - 1];
    for (int32_t j = 1; j <= xtgrid - 1; ++j) {
      bx.add(x0 + j * dx);
      bz.add(z0 + j * dz);
    }
  } else if (std::abs(zi2 - zi1) == 1) {
    std::cout << text_io::free_format({"more than one grid"}) << '\n';
  } else {
    // A node column where the segment crosses each row level it spans.
    const double slope = s.slope();
    for (int32_t j = std::min(zi1, zi2); j <= std::max(zi1, zi2); ++j)
      bx.add((zs[j - 1] - s.z1) / slope + s.x1);
  }
  const std::size_t capacity = static_cast<std::size_t>(10 * xtgrid);
  if (bx.added.size() > capacity || bz.added.size() > capacity)
    fail("surface segment " + std::to_string(s.k) + " from (" + number_text(s.x1) + ", " +
         number_text(s.z1) + ") to (" + number_text(s.x2) + ", " + number_text(s.z2) +
         ") m crosses " + std::to_string(std::max(bx.added.size(), bz.added.size())) +
         " grid levels; the grid generation supports at most " + std::to_string(capacity) +
         " per segment (add topography points along it or give a grid)");
  bx.merge();
  bz.merge();
}

// Second pass: intervals along a segment wider than twice the target width
// get one node, with the surface depth there as a new row.
void second_pass(const Segment& s, Buffer& bx, Buffer& bz, int32_t nxgrid) {
  const std::vector<double>& xs = bx.nodes;
  const int32_t xtgrid = xtgrid_of(std::abs(s.angle), nxgrid);
  const int32_t xi1 = node_of(s.x1, xs, grid_tol, "x", s);
  const int32_t xi2 = node_of(s.x2, xs, grid_tol, "x", s);
  const double delx = (s.x2 - s.x1) / xtgrid;
  const double slope = s.slope();
  for (int32_t j = xi1; j <= xi2 - 1; ++j) {
    const double dx = xs[j] - xs[j - 1];
    if (!(dx > delx)) continue;
    const double ff = dx / delx;
    if (ff < 2.0) continue;
    const double step = ff <= 2.5 ? dx / 2.0 : delx;
    const double p = xs[j - 1] + step;
    if (matrix::find_index_in(p, xs, grid_tol) != 0) continue;
    bx.add(p);
    bz.add((p - s.x1) * slope + s.z1);
  }
  bx.merge();
  bz.merge();
}

struct Indices {
  int32_t xi1, xi2, zi1, zi2;
  bool conforms() const { return xi2 - xi1 == std::abs(zi2 - zi1); }
};

Indices indices_of(const Segment& s, const std::vector<double>& xs, const std::vector<double>& zs) {
  return {node_of(s.x1, xs, grid_tol, "x", s), node_of(s.x2, xs, grid_tol, "x", s),
          node_of(s.z1, zs, grid_tol, "z", s), node_of(s.z2, zs, grid_tol, "z", s)};
}

}  // namespace

int32_t xtgrid_of(double abs_angle, int32_t nxgrid) {
  if (abs_angle <= 45.0) return nxgrid;
  if (abs_angle <= 50.0) return 4;
  if (abs_angle <= 55.0) return 5;
  if (abs_angle <= 65.0) return 6;
  return 7;
}

double compute_initial_conductivity_dcr2d(const Main_data_dcr2d& d, std::string_view info,
                                          double initial_rho) {
  if (initial_rho != 0.0) return 1.0 / initial_rho;
  std::vector<double> v(d.val.begin(),
                        d.val.begin() + std::min<std::size_t>(d.val.size(), std::max(d.nodata, 0)));
  double kmin = std::numeric_limits<double>::infinity();
  for (double k : d.geo_k)
    if (!std::isnan(k)) kmin = std::min(kmin, k);
  if (d.resistance && kmin > 0.0 && kmin != std::numeric_limits<double>::infinity())
    for (std::size_t i = 0; i < v.size() && i < d.geo_k.size(); ++i) v[i] *= d.geo_k[i];
  const double g = maths::cal_geometric_mean_1d(v);
  return info == "LOG" ? std::log(1.0 / g) : 1.0 / g;
}

void create_grid_model_dcr2d(const Main_data_dcr2d& d, std::vector<double>& xs,
                             std::vector<double>& zs, int32_t nxgrid,
                             const std::vector<double>* s_grid) {
  if (!xs.empty() || !zs.empty())
    fail("internal error: the grid generation needs empty node lists");
  const int32_t ntopo = d.topo.rows();
  if (ntopo < 1 || d.topo.cols() < 2)
    fail("the survey has no electrode positions to build a grid on");
  if (!(d.espacing > 0.0) || !std::isfinite(d.espacing))
    fail("the electrode spacing of the survey is " + number_text(d.espacing) +
         " m; a grid needs a positive spacing");
  if (nxgrid < 1)
    fail("the grid refinement is " + std::to_string(nxgrid) + "; it must be at least 1");
  const double espacing = d.espacing;

  std::vector<double> z0(static_cast<std::size_t>(ntopo));
  for (int32_t k = 1; k <= ntopo; ++k) z0[k - 1] = d.topo(k, 2);
  zs = matrix::unique_rank1(z0);

  xs.assign(static_cast<std::size_t>(ntopo) + 20, 0.0);
  for (int32_t k = 1; k <= ntopo; ++k) xs[10 + k - 1] = d.topo(k, 1);
  const double h = espacing / 2.0;
  for (int32_t k = 1; k <= 10; ++k) {
    const double w = h * std::ldexp(1.0, k - 1);
    xs[(11 - k) - 1] = xs[(12 - k) - 1] - w;
    xs[(ntopo + 10 + k) - 1] = xs[(ntopo + 9 + k) - 1] + w;
  }

  const std::vector<Segment> segments = segments_of(d);
  std::vector<double> angle;
  for (const auto& s : segments) angle.push_back(s.angle);

  Buffer bx{xs, {}}, bz{zs, {}};
  for (const auto& s : segments) {
    if (s.flat())
      first_pass_flat(s, bx, nxgrid);
    else
      first_pass_sloping(s, bx, bz, nxgrid);
  }

  const double zmax = zs.back();
  for (double f : param_dcr2d::zs_default) bz.add(zmax + espacing * f);
  bz.merge();

  if (ntopo >= 2) {
    for (const auto& s : segments) {
      second_pass(s, bx, bz, nxgrid);
      if (s_grid != nullptr) {
        for (double z : *s_grid) bz.add(z);
        bz.merge();
      }
    }
  }

  revise_grid(d, angle, xs, zs);
}

void revise_grid(const Main_data_dcr2d& d, const std::vector<double>& angle,
                 std::vector<double>& xs, std::vector<double>& zs) {
  std::vector<Segment> sloping;
  for (const auto& s : segments_of(d))
    if (!s.flat()) sloping.push_back(s);
  for (auto& s : sloping)
    if (static_cast<std::size_t>(s.k) <= angle.size()) s.angle = angle[s.k - 1];
  if (sloping.empty()) return;

  Buffer bx{xs, {}}, bz{zs, {}};
  for (int cycle = 1;; ++cycle) {
    const std::size_t nx = xs.size(), nz = zs.size();
    // Sweep A: a node column where the segment crosses each row level.
    for (const auto& s : sloping) {
      const Indices i = indices_of(s, xs, zs);
      if (i.conforms()) continue;
      const double t = std::tan(s.angle * kPi / 180.0);
      const int32_t step = i.zi1 < i.zi2 ? 1 : -1;
      for (int32_t j = i.zi1 + step; j != i.zi2 + step; j += step)
        bx.add(xs[i.xi1 - 1] + (zs[j - 1] - zs[i.zi1 - 1]) / t);
      bx.merge();
    }
    // Sweep B: a node row where the segment crosses each node column.
    for (const auto& s : sloping) {
      const Indices i = indices_of(s, xs, zs);
      if (i.conforms()) continue;
      const double t = std::tan(s.angle * kPi / 180.0);
      if (i.xi1 < i.xi2)
        for (int32_t j = i.xi1 + 1; j <= i.xi2; ++j)
          bz.add(zs[i.zi1 - 1] + t * (xs[j - 1] - xs[i.xi1 - 1]));
      bz.merge();
    }
    if (xs.size() == nx && zs.size() == nz) return;
    if (cycle == kMaxReviseCycles)
      fail("the grid refinement along the sloping surface did not settle after " +
           std::to_string(kMaxReviseCycles) + " cycles (" + std::to_string(xs.size()) +
           " node columns, " + std::to_string(zs.size()) + " node rows); give a grid instead");
  }
}

void create_prior_model_dcr2d(const Main_data_dcr2d& d, dcr2dphy::Model_fwd_dcr2d& m,
                              std::string_view approx, double& initial_rho,
                              Prior_model_state& state, const std::vector<double>* s_grid) {
  param_dcr2d::Param_dcr2d* param = m.env().param;
  if (param == nullptr) fail("internal error: the model has no job settings");
  state.espacing = d.espacing;
  std::vector<double> xs, zs;
  create_grid_model_dcr2d(d, xs, zs, param->nxgrid, s_grid);
  const double sigma0 = compute_initial_conductivity_dcr2d(d, "LIN", initial_rho);
  param->airresist = std::min(2.0e9, param->airresist / sigma0);
  const std::vector<double> cond{sigma0};
  m.initialize(xs, zs, approx, &cond, &d.topo);
  if (initial_rho == 0.0) initial_rho = 1.0 / sigma0;
}

}  // namespace varnel::prior_model_dcr2d
