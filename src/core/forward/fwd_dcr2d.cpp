#include "core/forward/fwd_dcr2d.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/survey/data_factor_dcr2d.hpp"

namespace varnel::fwd_dcr2d {

namespace {

using dataio_dcr2d::Main_data_dcr2d;

std::string number_text(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

std::string position_text(const std::array<double, 2>& model,
                          const std::array<double, 2>& original) {
  std::string text = "x = " + number_text(model[0]) + ", z = " + number_text(model[1]);
  if (model != original)
    text += " (x = " + number_text(original[0]) + ", z = " + number_text(original[1]) +
            " in the data file)";
  return text;
}

const dcr2dphy::Model_inv_dcr2d& model_of(const Main_data_dcr2d& d) {
  if (d.model == nullptr) fail("internal error: the forward computation has no model");
  return *d.model;
}

const dcr2dphy::Gr2d_dcr_new& grid_of(const dcr2dphy::Model_inv_dcr2d& m) {
  dcr2dphy::Gr2d_dcr_new* grid = nullptr;
  m.get_grid(grid);
  if (grid == nullptr || !grid->is_allocated())
    fail("internal error: the forward computation has a model without a grid");
  return *grid;
}

// Largest distance (m) of an electrode from its node column: positions in
// model files carry five decimals.
constexpr double kOnNodeTolerance = 1.0e-4;

// The unknown of one electrode at its model position, or a job error when the
// position is on no grid node or on a node in the air.
int32_t unknown_of(int32_t id, const std::array<double, 2>& xyz,
                   const std::array<double, 2>& xyz_original, const dcr2dphy::Gr2d_dcr_new& grid,
                   const dcr2dphy::Earth_node& node) {
  // The node lookup snaps x to the node column at or left of it; an electrode
  // between two columns would silently be moved there.
  const std::span<const double> xs = grid.get_x_grid();
  const bool on_column = std::any_of(
      xs.begin(), xs.end(), [&](double x) { return std::abs(x - xyz[0]) <= kOnNodeTolerance; });
  const int32_t g = on_column ? grid.p2n(xyz[0], xyz[1]) : 0;
  if (g == 0)
    fail("electrode " + std::to_string(id) + " at " + position_text(xyz, xyz_original) +
         " lies on no node of the model grid; the grid needs a node at every electrode");
  if (node.numnp == 0) return g;
  const int32_t u = node.map[g - 1];
  if (u == 0)
    fail("electrode " + std::to_string(id) + " at " + position_text(xyz, xyz_original) +
         " lies on a grid node in the air, above the ground surface of the model");
  return u;
}

void check_id(int32_t id, int32_t noelec) {
  if (id < 1 || id > noelec)
    fail("internal error: electrode number " + std::to_string(id) + " outside 1 ... " +
         std::to_string(noelec));
}

// Some entry of column `col` is positive.
bool has_source(const Dmatrix& s, int32_t col) {
  for (int32_t i = 1; i <= s.rows(); ++i)
    if (s(i, col) > 0.0) return true;
  return false;
}

}  // namespace

std::vector<double> wavenumbers_dcr2d(double espacing) {
  std::vector<double> k(std::begin(dcr2dphy::k_ref), std::end(dcr2dphy::k_ref));
  for (double& v : k) v /= espacing;
  return k;
}

std::vector<double> weights_dcr2d(double espacing) {
  std::vector<double> g(std::begin(dcr2dphy::g_ref), std::end(dcr2dphy::g_ref));
  for (double& v : g) v /= espacing;
  return g;
}

void dcr2dfwd_lapack(Main_data_dcr2d& response, const Fwd_env& env) {
  Fwd_state& f = *env.fwd;
  const dcr2dphy::Model_inv_dcr2d& model = model_of(response);
  const dcr2dphy::Gr2d_dcr_new& grid = grid_of(model);
  const int32_t nnode = grid.get_n_node();
  constexpr int32_t kmax = 8;
  fwd_set_grid(f, grid);
  fwd_set_numnp(f, nnode);
  fwd_set_kmax(f, kmax);
  fwd_set_noelec(f, response.noelec);

  global_index_electrode_cal_dcr2d(response, env);

  const std::vector<double> k = wavenumbers_dcr2d(response.espacing);
  const std::vector<double> g = weights_dcr2d(response.espacing);

  dcr2dphy::Earth_node node;
  model.get_earth_node(node);
  const int32_t nrow = node.numnp != 0 ? node.numnp : nnode;
  const int32_t ncol = f.noelec * kmax;

  // The sources depend only on the electrodes and the grid, which stay the
  // same during a run.
  if (f.forcing_term.rows() != nrow || f.forcing_term.cols() != ncol) {
    f.forcing_term.assign(nrow, ncol, 0.0);
    create_forcing_term_dcr2d(f.forcing_term, env);
  }
  f.potential_dcr2d = f.forcing_term;

  dcr2dphy_lapack::compute_potential_dcr2d(f.potential_dcr2d, model, k, f.approx, *env.phy,
                                           env.output_level);

  compute_apparent_resistance_dcr2d(response, g, env);

  // A data set with a negative geometric factor holds apparent resistivities.
  double smallest = 0.0;
  bool any = false;
  for (double v : response.geo_k) {
    if (std::isnan(v)) continue;
    smallest = any ? std::min(smallest, v) : v;
    any = true;
  }
  if (any && smallest < 0.0)
    for (std::size_t j = 0; j < response.val.size() && j < response.geo_k.size(); ++j)
      response.val[j] *= response.geo_k[j];
}

void global_index_electrode_cal_dcr2d(const Main_data_dcr2d& r, const Fwd_env& env) {
  Fwd_state& f = *env.fwd;
  const dcr2dphy::Gr2d_dcr_new& grid = grid_of(model_of(r));
  fwd_set_grid(f, grid);
  fwd_set_numnp(f, grid.get_n_node());
  fwd_set_noelec(f, r.noelec);
  if (static_cast<int32_t>(f.gie_dcr2d.size()) == f.noelec) return;
  f.gie_dcr2d.assign(f.noelec, 0);

  dcr2dphy::Earth_node node;
  model_of(r).get_earth_node(node);
  const auto& txdict = env.txrx->txdict_dcr2d;
  const auto& rxdict = env.txrx->rxdict_dcr2d;
  for (const auto& tx : txdict) {
    check_id(tx.id, f.noelec);
    f.gie_dcr2d[tx.id - 1] = unknown_of(tx.id, tx.xyz, tx.xyz_original, grid, node);
  }
  if (static_cast<int32_t>(txdict.size()) < f.noelec)
    for (const auto& rx : rxdict) {
      check_id(rx.id, f.noelec);
      if (f.gie_dcr2d[rx.id - 1] == 0)
        f.gie_dcr2d[rx.id - 1] = unknown_of(rx.id, rx.xyz, rx.xyz_original, grid, node);
    }
}

void create_forcing_term_dcr2d(Dmatrix& s, const Fwd_env& env) {
  const Fwd_state& f = *env.fwd;
  s.assign(s.rows(), s.cols(), 0.0);
  const auto put = [&](int32_t id) {
    check_id(id, f.noelec);
    const int32_t u = f.gie_dcr2d[id - 1];
    if (u < 1 || u > s.rows())
      fail("internal error: electrode " + std::to_string(id) + " has no unknown");
    for (int32_t kk = 1; kk <= f.kmax; ++kk) s(u, id + f.noelec * (kk - 1)) = 1.0;
  };
  const auto& txdict = env.txrx->txdict_dcr2d;
  for (const auto& tx : txdict) put(tx.id);
  // Potential electrodes get sources too: the sensitivities use reciprocity.
  if (static_cast<int32_t>(txdict.size()) < f.noelec)
    for (const auto& rx : env.txrx->rxdict_dcr2d) {
      check_id(rx.id, f.noelec);
      if (!has_source(s, rx.id)) put(rx.id);
    }
}

void compute_apparent_resistance_dcr2d(Main_data_dcr2d& response, const std::vector<double>& g,
                                       const Fwd_env& env) {
  const Fwd_state& f = *env.fwd;
  const Dmatrix& phi = f.potential_dcr2d;
  const int32_t noelec = f.noelec;
  const int32_t nodata = response.nodata;
  const int32_t nc = response.nc;
  const int32_t np = response.np;
  response.val.assign(nodata, 0.0);
  if (static_cast<std::size_t>(phi.cols()) < static_cast<std::size_t>(noelec) * g.size())
    fail("internal error: the potentials hold fewer sources than the response needs");

  // Unknown of the potential electrode in slot m of datum j.
  const auto unknown_at = [&](int32_t m, int32_t j) {
    const int32_t id = response.rx_index(m, j);
    check_id(id, static_cast<int32_t>(f.gie_dcr2d.size()));
    const int32_t u = f.gie_dcr2d[id - 1];
    if (u < 1 || u > phi.rows())
      fail("internal error: potential electrode " + std::to_string(id) + " has no unknown");
    return u;
  };

  // For every wavenumber the current slots of a datum are visited in
  // ascending electrode order, so the sums are formed in the order of a loop
  // over the electrodes.
  for (int32_t kk = 1; kk <= static_cast<int32_t>(g.size()); ++kk) {
    for (int32_t j = 1; j <= nodata; ++j) {
      int32_t slots[2] = {1, 2};
      if (nc >= 2 && response.tx_index(2, j) < response.tx_index(1, j))
        std::swap(slots[0], slots[1]);
      for (int32_t s = 0; s < nc && s < 2; ++s) {
        const int32_t l = slots[s];
        const int32_t e = response.tx_index(l, j);
        if (e < 1 || e > noelec) continue;
        const int32_t col = e + noelec * (kk - 1);
        for (int32_t m = 1; m <= np; ++m)
          response.val[j - 1] +=
              data_factor_dcr2d::compute_sign(l, m) * phi(unknown_at(m, j), col) * g[kk - 1];
      }
    }
  }
}

void fwd_set_grid(Fwd_state& f, const dcr2dphy::Gr2d_dcr_new& grid) { f.grid = &grid; }
void fwd_set_numnp(Fwd_state& f, int32_t n) { f.numnp = n; }
void fwd_set_kmax(Fwd_state& f, int32_t n) { f.kmax = n; }
void fwd_set_noelec(Fwd_state& f, int32_t n) { f.noelec = n; }

}  // namespace varnel::fwd_dcr2d
