// The sensitivity matrix d ln(response) / d ln(cell resistivity).
//
// The truth it is checked against does not come from the adjoint formula:
// central differences of the logarithmic forward response with respect to the
// logarithm of every cell resistivity, computed by the forward solver alone.
// The cases run on small grids (a few hundred cells) with surveys of mixed
// arrays: flat ground with the finite-difference solver (resistances, apparent
// resistivities with negative geometric factors, a pole-dipole survey), the
// hybrid and finite-element solvers below a falling surface, and cells of
// several elements of various shapes, some mixing finite-element and
// finite-difference elements. Two more truths need no differences: scaling
// every resistivity scales every response (the columns sum to 1), and the
// symmetric operators give a datum and its reciprocal the same column. The
// rank-one update is checked against the secant condition and the invariance
// it leaves orthogonal to the model change. Measured figures are printed as
// "[ figures ]" lines.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/sensitivity/sen_lapack_dcr2d.hpp"
#include "forward_fixture.hpp"

namespace {

using namespace varnel::forward_fixture;
using varnel::Dmatrix;
using varnel::dcr2dphy::Model_inv_dcr2d;
namespace sen = varnel::sen_dcr2d;
namespace senl = varnel::sen_lapack_dcr2d;
namespace phy = varnel::dcr2dphy;

// ---------------------------------------------------------------------------
// Surveys and grids

// Twelve electrodes 1 m apart, x = 0 ... 11, on the surface `surface` (depth
// as a function of x).
std::vector<Position> electrodes(const std::function<double(double)>& surface) {
  std::vector<Position> e;
  for (int i = 0; i < 12; ++i) e.push_back({1.0 * i, surface(i)});
  return e;
}

double flat_surface(double) { return 0.0; }

// Flat from x = 0 to 4, falling at 45 degrees to depth 3 at x = 7, flat to
// x = 11: the cut cells are the unit cells of columns x = 4 ... 7, rows 0 ... 3.
const std::vector<Position> kFalling = {{0.0, 0.0}, {4.0, 0.0}, {7.0, 3.0}, {11.0, 3.0}};
double falling_surface(double x) { return surface_depth(kFalling, x); }

// Four-electrode data of several arrays (A, B, M, N as electrode numbers
// 0 ... 11): Wenner-alpha, dipole-dipole with B left of A, Schlumberger,
// gradient and the reciprocal of the first dipole-dipole datum. With
// `negative` the dipole-dipole data have A left of B, so their geometric
// factors are negative and the data set holds apparent resistivities.
std::vector<Datum> mixed_survey(const std::vector<Position>& e, bool negative) {
  const std::vector<std::array<int, 4>> abmn = {
      {0, 3, 1, 2}, {4, 7, 5, 6},  {0, 6, 2, 4},  {3, 9, 5, 7}, {1, 10, 4, 7},
      {1, 0, 3, 4}, {3, 2, 6, 7},  {6, 5, 8, 9},  {2, 0, 6, 8}, {8, 7, 10, 11},
      {0, 9, 4, 5}, {2, 11, 6, 7}, {0, 11, 2, 3}, {3, 4, 1, 0},
  };
  std::vector<Datum> out;
  for (std::size_t i = 0; i < abmn.size(); ++i) {
    std::array<int, 4> q = abmn[i];
    if (negative && i >= 5 && i <= 9) std::swap(q[0], q[1]);
    out.push_back({e[q[0]], e[q[1]], e[q[2]], e[q[3]]});
  }
  return out;
}

// Pole-dipole data A, M, N.
std::vector<Datum> pole_dipole_survey(const std::vector<Position>& e) {
  const std::vector<std::array<int, 3>> amn = {{0, 1, 2}, {0, 3, 4},  {2, 4, 5},  {5, 7, 8},
                                               {3, 6, 8}, {11, 9, 8}, {10, 6, 5}, {9, 4, 2},
                                               {1, 5, 7}, {7, 3, 2},  {4, 8, 10}, {6, 2, 1}};
  std::vector<Datum> out;
  for (const auto& q : amn) out.push_back({e[q[0]], e[q[1]], e[q[2]]});
  return out;
}

// Node columns: every electrode, four widening padding columns on each side.
std::vector<double> small_xs() {
  std::vector<double> xs = {-8.0, -4.0, -2.0, -1.0};
  for (int i = 0; i <= 11; ++i) xs.push_back(i);
  for (double x : {12.0, 13.0, 15.0, 19.0}) xs.push_back(x);
  return xs;
}

// Node rows: unit rows down to the foot of the slope (3 m), then widening.
std::vector<double> small_zs() {
  return {0.0, 1.0, 2.0, 3.0, 3.5, 4.0, 5.0, 6.0, 7.5, 9.5, 12.0, 16.0, 21.0};
}

// An earth whose resistivity varies from element to element (10 to 90
// ohm m), so that no symmetry hides an error.
std::vector<double> varied_earth(const std::vector<double>& xs, const std::vector<double>& zs) {
  return element_values(xs, zs, [](double x, double z) {
    return 1.0 / (50.0 + 40.0 * std::sin(0.9 * x + 0.1) * std::cos(0.7 * z + 0.3));
  });
}

// ---------------------------------------------------------------------------
// One job with its sensitivity state

enum class Cells { own, merged_below_spread, shapes };

struct Case {
  const char* name;
  const char* solver;  // "fd", "fe" or "hy"
  bool topography;     // the falling surface instead of flat ground
  int survey;          // 0 mixed, 1 mixed with negative factors, 2 pole-dipole
  Cells cells;
};

struct Sen_job {
  Forward_job f;
  sen::Sen_state sen;
  std::string solver;
  std::vector<bool> air_upper;  // per element: the upper triangle is air

  varnel::fwd_dcr2d::Fwd_env env() { return {&f.fwd, &f.phy, &f.txrx, 0}; }
  Model_inv_dcr2d& model() { return f.model; }

  void jacobian(bool approx = false) {
    f.fwd.approx = solver;
    senl::compute_sensitivity_lapack_dcr2d(f.d, approx, sen, env());
  }
  const std::vector<double>& forward() { return f.run(solver); }

  std::vector<double> cell_conductivities() {
    std::vector<double> c;
    model().get_con_inv(c);
    return c;
  }
  // Sets the cell conductivities, keeping the air parts of cut elements.
  void set_cells(const std::vector<double>& con) {
    Model_inv_dcr2d& m = model();
    const bool has_upper = m.sval.size() == m.val.size();
    for (std::size_t c = 0; c < con.size(); ++c) {
      m.inv[c].val = con[c];
      for (int32_t k : m.inv[c].fwd_id) {
        m.val[k - 1] = con[c];
        if (has_upper && !air_upper[k - 1]) m.sval[k - 1] = con[c];
      }
    }
  }
};

// Cells of several shapes: horizontal pairs, vertical triples, 2 x 2 blocks,
// L shapes and pairs of elements far apart, with some elements fixed.
std::vector<int32_t> shaped_cells(const Model_inv_dcr2d& m, int32_t nx, int32_t nz) {
  std::vector<int32_t> g2u(m.val.size(), 0);
  const auto at = [&](int32_t iz, int32_t ix) -> int32_t& { return g2u[(ix - 1) * nz + iz - 1]; };
  int32_t next = 0;
  const auto earth = [&](int32_t iz, int32_t ix) {
    const std::size_t k = static_cast<std::size_t>((ix - 1) * nz + iz - 1);
    return m.val[k] > 1e-4;  // not air
  };
  for (int32_t ix = 1; ix <= nx; ++ix)
    for (int32_t iz = 1; iz <= nz; ++iz) {
      if (!earth(iz, ix) || at(iz, ix) != 0) continue;
      const int32_t shape = next % 6;
      ++next;
      at(iz, ix) = next;
      std::vector<std::pair<int32_t, int32_t>> more;
      if (shape == 0) more = {{iz, ix + 1}};                                  // pair
      if (shape == 1) more = {{iz + 1, ix}, {iz + 2, ix}};                    // column of three
      if (shape == 2) more = {{iz + 1, ix}, {iz, ix + 1}, {iz + 1, ix + 1}};  // block
      if (shape == 3) more = {{iz + 1, ix}, {iz + 1, ix + 1}};                // L
      if (shape == 4) more = {{iz, ix + 7}};                                  // far apart
      for (const auto& [z, x] : more)
        if (z <= nz && x <= nx && earth(z, x) && at(z, x) == 0) at(z, x) = next;
    }
  // Some elements stay fixed: a column of them and a corner, renumbered.
  for (int32_t iz = 1; iz <= nz; ++iz) at(iz, 9) = 0;
  at(nz, nx) = 0;
  std::vector<int32_t> renumber(static_cast<std::size_t>(next) + 1, 0);
  int32_t count = 0;
  for (int32_t& c : g2u)
    if (c != 0) {
      if (renumber[c] == 0) renumber[c] = ++count;
      c = renumber[c];
    }
  return g2u;
}

void build(Sen_job& job, const Case& c) {
  job.solver = c.solver;
  const auto surface = c.topography ? falling_surface : flat_surface;
  const std::vector<Position> e = electrodes(surface);
  std::vector<Datum> data;
  int32_t code = 11;
  int32_t measuretype = 1;
  if (c.survey == 2) {
    data = pole_dipole_survey(e);
    code = kPoleDipole;
  } else {
    data = mixed_survey(e, c.survey == 1);
    if (c.survey == 1) measuretype = 0;
  }
  const std::string tag = std::string(c.name) + (c.topography ? "_topo" : "_flat");
  const std::string file = write_text(scratch_folder("sensitivity") / (tag + ".dat"),
                                      dat_text(data, code, 1.0, measuretype, 1.0));
  job.f.read_data(file);

  const std::vector<double> xs = small_xs(), zs = small_zs();
  const int32_t nx = static_cast<int32_t>(xs.size()) - 1, nz = static_cast<int32_t>(zs.size()) - 1;
  std::vector<double> cond = varied_earth(xs, zs);
  Model_inv_dcr2d& m = job.model();
  if (c.topography && std::string(c.solver) == "hy") {
    Dmatrix topo(job.f.d.ntopo, 2);
    for (int k = 1; k <= job.f.d.ntopo; ++k)
      topo(k, 1) = job.f.d.topo(k, 1), topo(k, 2) = job.f.d.topo(k, 2);
    // The mesher makes its own air from a homogeneous model; the varied
    // earth is set afterwards on the elements that are not air.
    testing::internal::CaptureStdout();
    job.f.make_model(xs, zs, "hy", {0.02}, &topo);
    testing::internal::GetCapturedStdout();
    for (std::size_t k = 0; k < cond.size(); ++k)
      if (m.val[k] > 1e-4) {
        if (m.sval[k] == m.val[k]) m.sval[k] = cond[k];
        m.val[k] = cond[k];
      }
  } else if (c.topography) {
    const Fe_surface_model s = fe_surface_model(xs, zs, kFalling, 1.0, 1.0 / job.f.param.airresist);
    for (std::size_t k = 0; k < cond.size(); ++k) {
      if (s.val[k] != 1.0) cond[k] = s.val[k];  // air
    }
    job.f.make_model(xs, zs, "fe", cond);
    m.elem = s.elem;
    m.sval = cond;
    for (std::size_t k = 0; k < cond.size(); ++k)
      if (s.sval[k] != s.val[k]) m.sval[k] = s.sval[k];
  } else {
    job.f.make_model(xs, zs, c.solver, cond);
  }
  job.air_upper.assign(m.val.size(), false);
  if (m.sval.size() == m.val.size())
    for (std::size_t k = 0; k < m.val.size(); ++k) job.air_upper[k] = m.sval[k] != m.val[k];

  std::vector<int32_t> g2u;
  phy::cal_update_model_dcr(m, g2u);
  if (c.cells == Cells::shapes) g2u = shaped_cells(m, nx, nz);
  if (c.cells == Cells::merged_below_spread) {
    const std::array<double, 2> spread = {0.0, 11.0};
    m.initialize_inv(&g2u, &spread, 3.2);
  } else {
    m.initialize_inv(&g2u);
  }
  // A cell takes the value of one member; give every member that value.
  job.set_cells(job.cell_conductivities());
}

// ---------------------------------------------------------------------------
// Central differences of ln(response) in ln(cell resistivity)

constexpr double kStep = 1e-3;

Dmatrix central_differences(Sen_job& job) {
  const std::vector<double> base = job.cell_conductivities();
  const int32_t ncell = static_cast<int32_t>(base.size()), nodata = job.f.d.nodata;
  Dmatrix fd(ncell, nodata);
  std::vector<double> con = base;
  for (int32_t c = 1; c <= ncell; ++c) {
    std::vector<double> up, down;
    con[c - 1] = base[c - 1] * std::exp(-kStep);  // resistivity up by e^h
    job.set_cells(con);
    up = job.forward();
    con[c - 1] = base[c - 1] * std::exp(kStep);
    job.set_cells(con);
    down = job.forward();
    con[c - 1] = base[c - 1];
    for (int32_t d = 1; d <= nodata; ++d)
      fd(c, d) = (std::log(up[d - 1]) - std::log(down[d - 1])) / (2.0 * kStep);
  }
  job.set_cells(base);
  job.forward();
  return fd;
}

struct Agreement {
  double worst_relative = 0.0;  // over entries above 1e-3 of their datum's largest
  double worst_scaled = 0.0;    // |J - FD| / largest |FD| of the datum, all entries
  int32_t entries = 0;          // entries in worst_relative
};

Agreement compare(const Dmatrix& jkt, const Dmatrix& fd) {
  Agreement a;
  for (int32_t d = 1; d <= fd.cols(); ++d) {
    double scale = 0.0;
    for (int32_t c = 1; c <= fd.rows(); ++c) scale = std::max(scale, std::abs(fd(c, d)));
    for (int32_t c = 1; c <= fd.rows(); ++c) {
      const double gap = std::abs(jkt(c, d) - fd(c, d));
      if (!(gap / scale <= a.worst_scaled)) a.worst_scaled = gap / scale;
      if (std::abs(fd(c, d)) > 1e-3 * scale) {
        ++a.entries;
        if (!(gap / std::abs(fd(c, d)) <= a.worst_relative))
          a.worst_relative = gap / std::abs(fd(c, d));
      }
    }
  }
  return a;
}

// Every element belongs to a cell.
bool all_elements_in_cells(const Model_inv_dcr2d& m) {
  return std::none_of(m.g2u.begin(), m.g2u.end(), [](int32_t c) { return c == 0; });
}

// Some cell holds a member with triangles next to one without, and some cell
// holds a cut element (in the fecell list) next to another element.
struct Mixing {
  bool fe_with_fd = false, cut_with_other = false;
};

Mixing cell_mixing(const Model_inv_dcr2d& m) {
  std::vector<bool> cut(m.val.size(), false);
  for (int32_t i = 0; i < m.nfe; ++i) cut[m.fecell[i] - 1] = true;
  Mixing x;
  for (const auto& cell : m.inv) {
    bool fe = false, fd = false, has_cut = false;
    for (int32_t k : cell.fwd_id) {
      (m.elem[k - 1] == 1 ? fd : fe) = true;
      has_cut = has_cut || cut[k - 1];
    }
    x.fe_with_fd = x.fe_with_fd || (fe && fd);
    x.cut_with_other = x.cut_with_other || (has_cut && cell.n > 1);
  }
  return x;
}

class SensitivityFiniteDifferences : public testing::TestWithParam<Case> {};

// Bounds of the agreement: the central differences carry a truncation error
// of order h^2 = 1e-6 of the response's third derivative.
constexpr double kRelativeBound = 1e-4;  // entries above 1e-3 of the datum's largest
constexpr double kScaledBound = 1e-6;    // all entries, against the datum's largest

TEST_P(SensitivityFiniteDifferences, JacobianIsTheDerivativeOfTheForwardResponse) {
  const Case& c = GetParam();
  Sen_job job;
  build(job, c);
  const Model_inv_dcr2d& m = job.model();
  ASSERT_GT(m.ncell, 50);
  const std::string solver = c.solver;
  if (c.topography && solver == "hy") ASSERT_GT(m.nfe, 0);
  if (c.survey == 1) ASSERT_FALSE(job.f.d.resistance) << "the case needs a negative factor";
  if (c.cells != Cells::own)
    ASSERT_TRUE(std::any_of(m.inv.begin(), m.inv.end(), [](const auto& x) { return x.n > 1; }))
        << "the case needs cells of several elements";
  if (c.cells == Cells::shapes && solver == "hy") {
    const Mixing x = cell_mixing(m);
    ASSERT_TRUE(x.fe_with_fd && x.cut_with_other) << "the case needs mixed cells";
  }

  job.jacobian();
  const Dmatrix jkt = job.sen.jkt;
  ASSERT_EQ(jkt.rows(), m.ncell);
  ASSERT_EQ(jkt.cols(), job.f.d.nodata);
  // The cache of cell vectors lives only during the computation.
  for (const auto& v : job.sen.dcphi_dcr2d_full) EXPECT_FALSE(v.allocated);

  const Dmatrix fd = central_differences(job);
  const Agreement a = compare(jkt, fd);
  std::printf(
      "[ figures ] %-26s %3d cells, %2d data: worst relative %.2e (%d entries above 1e-3 of the "
      "datum's largest), worst scaled %.2e\n",
      c.name, m.ncell, job.f.d.nodata, a.worst_relative, a.entries, a.worst_scaled);
  EXPECT_LT(a.worst_relative, kRelativeBound);
  EXPECT_LT(a.worst_scaled, kScaledBound);

  // Scaling every resistivity by one factor scales every response by it.
  if (all_elements_in_cells(m))
    for (int32_t d = 1; d <= jkt.cols(); ++d) {
      double sum = 0.0;
      for (int32_t cell = 1; cell <= jkt.rows(); ++cell) sum += jkt(cell, d);
      EXPECT_NEAR(sum, 1.0, 1e-9) << "datum " << d;
    }
  // Datum 14 is datum 6 with the dipoles exchanged; the operators of "fd" and
  // "fe" are symmetric, so both have the same response and derivatives.
  if (c.survey == 0 && solver != "hy")
    for (int32_t cell = 1; cell <= jkt.rows(); ++cell)
      EXPECT_NEAR(jkt(cell, 14), jkt(cell, 6), 1e-10) << "cell " << cell;
}

INSTANTIATE_TEST_SUITE_P(
    Sensitivity, SensitivityFiniteDifferences,
    testing::Values(Case{"FdFlatResistance", "fd", false, 0, Cells::own},
                    Case{"FdFlatApparentResistivity", "fd", false, 1, Cells::own},
                    Case{"FdFlatPoleDipole", "fd", false, 2, Cells::own},
                    Case{"FdFlatMergedBelowSpread", "fd", false, 0, Cells::merged_below_spread},
                    Case{"FdFlatShapedCells", "fd", false, 0, Cells::shapes},
                    Case{"FeFlat", "fe", false, 0, Cells::own},
                    Case{"FeFlatShapedCells", "fe", false, 0, Cells::shapes},
                    Case{"FeSlope", "fe", true, 0, Cells::own},
                    Case{"HySlope", "hy", true, 0, Cells::own},
                    Case{"HySlopeApparentResistivity", "hy", true, 1, Cells::own},
                    Case{"HySlopeShapedCells", "hy", true, 0, Cells::shapes}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Cell vectors

// A cell's vector has one slot per distinct row its members touch: a pair of
// elements far apart has eight, more than the 2 x 2 + 2 of a horizontal run.
TEST(SensitivityCellVectors, HaveOneSlotPerDistinctRowOfTheirMembers) {
  Sen_job job;
  build(job, {"Slots", "hy", true, 0, Cells::shapes});
  job.jacobian();
  // The derivative blocks and the potentials stay; rebuild the vectors.
  senl::compute_dcphi_full_dcr2d(job.f.d, job.f.fwd.potential_dcr2d, job.f.fwd.kmax,
                                 job.f.fwd.noelec, job.sen, job.f.phy);
  const Model_inv_dcr2d& m = job.model();
  const sen::Dcphi_dcr2d_layout& layout = job.sen.dcphi_layout;
  ASSERT_EQ(layout.first.size(), static_cast<std::size_t>(m.ncell) + 1);
  const int32_t nozs = job.f.grid.get_nz_node(), nz = job.f.grid.get_nz_element();
  int wider = 0;
  for (int32_t c = 1; c <= m.ncell; ++c) {
    std::set<int32_t> rows;  // earth unknowns of the members' corners
    for (int32_t k : m.inv[c - 1].fwd_id) {
      const int32_t t = ((k - 1) / nz) * nozs + (k - 1) % nz + 1;
      for (int32_t g : {t, t + 1, t + nozs, t + nozs + 1})
        if (const int32_t u = m.node.map[g - 1]; u != 0) rows.insert(u);
    }
    ASSERT_EQ(layout.n(c), static_cast<int32_t>(rows.size())) << "cell " << c;
    const std::set<int32_t> slots(layout.index.begin() + layout.first[c - 1],
                                  layout.index.begin() + layout.first[c]);
    EXPECT_EQ(slots, rows) << "cell " << c;
    wider += layout.n(c) > 2 * m.inv[c - 1].n + 2;
  }
  EXPECT_GT(wider, 0) << "the case should hold cells wider than a horizontal run";
  for (const auto& v : job.sen.dcphi_dcr2d_full) {
    EXPECT_TRUE(v.allocated);
    EXPECT_EQ(v.val.size(), layout.index.size());
  }
  senl::clear_sensitivity_cache(job.sen);
  for (const auto& v : job.sen.dcphi_dcr2d_full) {
    EXPECT_FALSE(v.allocated);
    EXPECT_TRUE(v.val.empty());
  }
}

// ---------------------------------------------------------------------------
// Rank-one update

// What the inversion stores after a Jacobian: ln of the cell resistivities
// and of the responses.
void store_reference(Sen_job& job) {
  std::vector<double> res;
  job.model().get_res_inv(res);
  job.sen.logrho_i.clear();
  for (double r : res) job.sen.logrho_i.push_back(std::log(r));
  job.sen.logr_i.clear();
  for (double v : job.f.d.val) job.sen.logr_i.push_back(std::log(v));
}

// The update makes the Jacobian reproduce the change of the responses along
// the change of the model (the secant condition) and leaves its action on
// every direction orthogonal to that change as it was; both together fix the
// rank-one update, which also equals J + dm (dlogr - J^T dm)^T / |dm|^2
// entry by entry.
TEST(SensitivityUpdate, SatisfiesTheSecantConditionAndChangesNothingElse) {
  Sen_job job;
  build(job, {"Update", "fd", false, 0, Cells::own});
  job.jacobian();
  const Dmatrix j0 = job.sen.jkt;
  store_reference(job);
  const std::vector<double> logr0 = job.sen.logr_i;
  const int32_t ncell = j0.rows(), nodata = j0.cols();

  // A smooth change of the logarithmic model.
  std::vector<double> dm(ncell), con = job.cell_conductivities();
  for (int32_t c = 0; c < ncell; ++c) {
    dm[c] = 0.05 * std::sin(0.7 * c + 0.3);
    con[c] *= std::exp(-dm[c]);  // ln rho up by dm
  }
  job.set_cells(con);
  const std::vector<double> val = job.forward();
  job.jacobian(true);
  const Dmatrix& j1 = job.sen.jkt;
  ASSERT_EQ(j1.rows(), ncell);
  ASSERT_EQ(job.f.d.val, val) << "the update runs no forward computation";

  double s = 0.0;
  for (double v : dm) s += v * v;
  // Directions orthogonal to dm.
  std::vector<std::vector<double>> orthogonal;
  for (double f : {0.13, 0.41, 1.7}) {
    std::vector<double> w(ncell);
    double wd = 0.0;
    for (int32_t c = 0; c < ncell; ++c) wd += (w[c] = std::cos(f * c)) * dm[c];
    for (int32_t c = 0; c < ncell; ++c) w[c] -= wd / s * dm[c];
    orthogonal.push_back(w);
  }
  double worst_secant = 0.0;
  for (int32_t d = 1; d <= nodata; ++d) {
    const double dlogr = std::log(val[d - 1]) - logr0[d - 1];
    double predicted = 0.0, scale = std::abs(dlogr), old_prediction = 0.0;
    for (int32_t c = 1; c <= ncell; ++c) {
      predicted += j1(c, d) * dm[c - 1];
      old_prediction += j0(c, d) * dm[c - 1];
      scale += std::abs(j1(c, d) * dm[c - 1]);
    }
    EXPECT_NEAR(predicted, dlogr, 1e-13 * scale) << "datum " << d;
    worst_secant = std::max(worst_secant, std::abs(predicted - dlogr) / scale);
    // The old Jacobian did not fit the change exactly (the response is not
    // linear in the model), so the update has something to do.
    EXPECT_GT(std::abs(old_prediction - dlogr), 1e-8) << "datum " << d;

    for (const auto& w : orthogonal) {
      double before = 0.0, after = 0.0, wscale = 0.0;
      for (int32_t c = 1; c <= ncell; ++c) {
        before += j0(c, d) * w[c - 1];
        after += j1(c, d) * w[c - 1];
        wscale += std::abs(j0(c, d) * w[c - 1]);
      }
      EXPECT_NEAR(after, before, 1e-13 * wscale) << "datum " << d;
    }

    const double u = (dlogr - old_prediction) / s;
    for (int32_t c = 1; c <= ncell; ++c)
      EXPECT_NEAR(j1(c, d), j0(c, d) + dm[c - 1] * u, 1e-15 + 1e-13 * std::abs(j0(c, d)));
  }
  std::printf("[ figures ] rank-one update: worst relative secant residual %.2e\n", worst_secant);
}

// With no change of the model since the stored Jacobian there is no
// direction to update along; the Jacobian stays as it is.
TEST(SensitivityUpdate, UnchangedModelLeavesTheJacobian) {
  Sen_job job;
  build(job, {"Unchanged", "fd", false, 2, Cells::own});
  job.jacobian();
  store_reference(job);
  const Dmatrix j0 = job.sen.jkt;
  // Other responses than the stored ones would give an update if the model
  // had changed.
  for (double& v : job.f.d.val) v *= 1.1;
  job.jacobian(true);
  EXPECT_EQ(job.sen.jkt, j0);
}

TEST(SensitivityUpdate, WithoutAStoredJacobianEndsTheJob) {
  Sen_job job;
  build(job, {"NoReference", "fd", false, 0, Cells::own});
  job.forward();
  EXPECT_THROW(job.jacobian(true), varnel::Error);
}

// ---------------------------------------------------------------------------
// Threads

struct Thread_count_guard {
  int saved = omp_get_max_threads();
  ~Thread_count_guard() { omp_set_num_threads(saved); }
};

TEST(SensitivityThreads, ResultsDoNotDependOnTheThreadCount) {
  Thread_count_guard guard;
  for (const Case& c : {Case{"ThreadsHy", "hy", true, 0, Cells::shapes},
                        Case{"ThreadsFe", "fe", true, 0, Cells::own},
                        Case{"ThreadsFd", "fd", false, 2, Cells::merged_below_spread}}) {
    SCOPED_TRACE(c.name);
    std::array<Dmatrix, 2> full, updated;
    for (int threads = 1; threads <= 2; ++threads) {
      omp_set_num_threads(threads);
      Sen_job job;
      build(job, c);
      job.jacobian();
      full[threads - 1] = job.sen.jkt;
      store_reference(job);
      std::vector<double> con = job.cell_conductivities();
      for (std::size_t k = 0; k < con.size(); ++k) con[k] *= 1.0 + 0.02 * std::cos(0.3 * k);
      job.set_cells(con);
      job.forward();
      job.jacobian(true);
      updated[threads - 1] = job.sen.jkt;
    }
    EXPECT_EQ(full[0], full[1]);
    EXPECT_EQ(updated[0], updated[1]);
  }
}

}  // namespace
