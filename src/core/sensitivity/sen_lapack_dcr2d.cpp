// The sensitivity matrix by the adjoint method. After one forward computation
// with a unit source at every electrode, the derivative of the potential of
// source A at electrode M with respect to a cell conductivity is
// -psi_M^T (dA/dsigma_c) phi_A, with psi_M the adjoint field of M
// (A^T psi_M = e_M). The operators of the "fd" and "fe" solvers are
// symmetric, so the forward solution for a source at M is that field; the
// hybrid operator is not, and its adjoint fields are solved for. The vectors
// (dA/dsigma_c) phi_A are built once per source and wavenumber from the
// per-element blocks of the coefficient derivatives; the Jacobian sums them
// with the fields of the potential electrodes over the wavenumbers.
#include "core/sensitivity/sen_lapack_dcr2d.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/numerics/lapack.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/sensitivity/dcr2dphy_deriv.hpp"
#include "core/survey/data_factor_dcr2d.hpp"

namespace varnel::sen_lapack_dcr2d {

namespace {

using dataio_dcr2d::Main_data_dcr2d;
using dcr2dphy::Model_inv_dcr2d;
using sen_dcr2d::Dcphi_dcr2d_layout;
using sen_dcr2d::Dcphi_dcr2d_matrix;
using sen_dcr2d::Sen_state;

const Model_inv_dcr2d& model_of(const Main_data_dcr2d& d) {
  if (d.model == nullptr) fail("internal error: the sensitivity computation has no model");
  return *d.model;
}

// The vector of (kk, e), kk and e 1-based.
const Dcphi_dcr2d_matrix& dcphi_at(const Sen_state& sen, int32_t kk, int32_t e) {
  return sen.dcphi_dcr2d_full[static_cast<std::size_t>(kk - 1) +
                              static_cast<std::size_t>(sen.dcphi_kmax) * (e - 1)];
}

// The element blocks have room for this many wavenumbers.
constexpr int32_t max_wavenumbers = 8;

// One entry of dA/dsigma_c: row, column and value per wavenumber.
struct Term {
  int32_t row, col;
  std::array<double, max_wavenumbers> coef;
};

// Where the rows of dA/dsigma of every element come from.
struct Block_sources {
  const Model_inv_dcr2d& model;
  const dcr2dphy::Dcr2dphy_derivatives& d;
  const Sen_state& sen;
  std::vector<int32_t> fe_of;  // per grid element: its fecell position, 0 for none
  bool fe_operator = false;    // the "fe" solver: finite-element blocks throughout
  bool hybrid = false;         // the hybrid solver on earth unknowns
  int32_t kmax = 0;
};

// The three finite-difference entries of element f in the row of corner t
// (1 TL, 2 BL, 3 BR, 4 TR).
void fd_corner_terms(const Block_sources& s, int32_t f, int t, std::vector<Term>& out) {
  const dcr2dphy::Dcr2dphy_derivatives& d = s.d;
  const int32_t row = d.idcm_dcr2d(3 * t, f);
  if (row == 0) return;  // a corner in the air has no equation
  for (int32_t j = 3 * t - 2; j <= 3 * t; ++j) {
    const int32_t col = d.idcm_dcr2d(j, f);
    if (col == 0) continue;
    Term term{row, col, {}};
    for (int32_t kk = 1; kk <= s.kmax; ++kk) term.coef[kk - 1] = d.dcm_dcr2d[d.dcm_at(kk, j, f)];
    out.push_back(term);
  }
}

// The finite-element entries of element f in the row of corner q (1 TL,
// 2 BL, 3 BR, 4 TR): from the fecell blocks, or from the blocks of the other
// elements with triangles. An element without triangles has none.
void fe_corner_terms(const Block_sources& s, int32_t f, int q, std::vector<Term>& out) {
  const Sen_state& sen = s.sen;
  const auto fi = static_cast<std::size_t>(f - 1);
  if (const int32_t i = s.fe_of[fi]; i != 0) {
    const std::array<const std::vector<Dmatrix>*, 4> rows = {&sen.dktlm, &sen.dkblm, &sen.dkbrm,
                                                             &sen.dktrm};
    const int32_t row = sen.nindex(i, q);
    if (row == 0) return;
    for (int p = 1; p <= 4; ++p) {
      const int32_t col = sen.nindex(i, p);
      if (col == 0) continue;
      Term term{row, col, {}};
      for (int32_t kk = 1; kk <= s.kmax; ++kk) term.coef[kk - 1] = (*rows[q - 1])[kk - 1](i, p);
      out.push_back(term);
    }
    return;
  }
  const sen_dcr2d::Fe_element_blocks& b = sen.fe_blocks;
  const int32_t at = fi < b.position.size() ? b.position[fi] : 0;
  if (at == 0) return;
  const int32_t row = b.nindex(q, at);
  if (row == 0) return;
  for (int p = 1; p <= 4; ++p) {
    const int32_t col = b.nindex(p, at);
    if (col == 0) continue;
    Term term{row, col, {}};
    for (int32_t kk = 1; kk <= s.kmax; ++kk) term.coef[kk - 1] = b.dk[kk - 1](4 * (q - 1) + p, at);
    out.push_back(term);
  }
}

// The rows of dA/dsigma_f of member element f. With the "fe" solver every row
// is a finite-element row. In the hybrid system the row of a corner is the
// equation of that node: a finite-element equation at a node flagged 2, where
// the element enters through its triangles, and a finite-difference equation
// elsewhere, where it enters through its twelve entries. On flat ground every
// row is a finite-difference row.
void member_terms(const Block_sources& s, int32_t f, std::vector<Term>& out) {
  if (s.fe_operator) {
    for (int q = 1; q <= 4; ++q) fe_corner_terms(s, f, q, out);
    return;
  }
  if (!s.hybrid) {
    for (int t = 1; t <= 4; ++t) fd_corner_terms(s, f, t, out);
    return;
  }
  const auto fi = static_cast<std::size_t>(f - 1);
  const std::array<int32_t, 4> corner = {s.d.indextl[fi], s.d.indexbl[fi], s.d.indexbr[fi],
                                         s.d.indextr[fi]};
  for (int q = 1; q <= 4; ++q) {
    if (s.model.approx[static_cast<std::size_t>(corner[q - 1] - 1)] == 2)
      fe_corner_terms(s, f, q, out);
    else
      fd_corner_terms(s, f, q, out);
  }
}

// The entries of every member of the cell. A cell's conductivity is shared by
// all its members, so a cell of several elements sums their rows, whatever
// kind each member is.
std::vector<Term> cell_terms(const Block_sources& s, const dcr2dphy::Model_inv_cell_dcr2d& cell) {
  std::vector<Term> terms;
  for (int32_t f : cell.fwd_id) member_terms(s, f, terms);
  return terms;
}

// How the vectors are formed, the same for every source and wavenumber: term
// t adds coef[kk - 1][t] x phi(col[t]) to slot slot[t] of the layout.
struct Dcphi_plan {
  std::vector<int32_t> slot, col;
  std::vector<std::vector<double>> coef;
};

// The layout (one slot per distinct row of a cell) and the plan of all cells.
Dcphi_plan plan_cells(const Block_sources& s, Dcphi_dcr2d_layout& layout) {
  const Model_inv_dcr2d& model = s.model;
  const auto ncell = static_cast<int32_t>(model.inv.size());
  std::vector<std::vector<Term>> terms(static_cast<std::size_t>(ncell));
  std::vector<std::vector<int32_t>> rows(static_cast<std::size_t>(ncell));
#pragma omp parallel for schedule(dynamic, 16)
  for (int32_t c = 0; c < ncell; ++c) {
    terms[c] = cell_terms(s, model.inv[static_cast<std::size_t>(c)]);
    for (const Term& t : terms[c]) rows[c].push_back(t.row);
    std::sort(rows[c].begin(), rows[c].end());
    rows[c].erase(std::unique(rows[c].begin(), rows[c].end()), rows[c].end());
  }
  layout.first.assign(static_cast<std::size_t>(ncell) + 1, 0);
  layout.index.clear();
  Dcphi_plan p;
  p.coef.assign(static_cast<std::size_t>(s.kmax), {});
  for (int32_t c = 0; c < ncell; ++c) {
    const int32_t base = layout.first[c];
    layout.index.insert(layout.index.end(), rows[c].begin(), rows[c].end());
    layout.first[c + 1] = base + static_cast<int32_t>(rows[c].size());
    for (const Term& t : terms[c]) {
      p.slot.push_back(
          base + static_cast<int32_t>(std::lower_bound(rows[c].begin(), rows[c].end(), t.row) -
                                      rows[c].begin()));
      p.col.push_back(t.col);
      for (int32_t kk = 0; kk < s.kmax; ++kk) p.coef[kk].push_back(t.coef[kk]);
    }
  }
  return p;
}

// Per grid element: its position in the model's fecell list (1-based), 0 for
// a finite-difference element or without the blocks.
std::vector<int32_t> fe_positions(const Model_inv_dcr2d& model, const Sen_state& sen) {
  std::vector<int32_t> fe_of(model.g2u.size(), 0);
  if (model.nfe == 0) return fe_of;
  if (sen.nindex.rows() != model.nfe || model.fecell.size() < static_cast<std::size_t>(model.nfe))
    fail("internal error: the finite-element derivative blocks do not match the model");
  for (int32_t i = 1; i <= model.nfe; ++i) {
    const int32_t e = model.fecell[static_cast<std::size_t>(i - 1)];
    if (e < 1 || static_cast<std::size_t>(e) > fe_of.size())
      fail("internal error: finite-element element " + std::to_string(e) + " is not in the grid");
    fe_of[static_cast<std::size_t>(e - 1)] = i;
  }
  return fe_of;
}

// The sources of the element rows for this model, checked against it.
Block_sources block_sources(const Model_inv_dcr2d& model, const dcr2dphy::Dcr2dphy_derivatives& d,
                            const Sen_state& sen, int32_t kmax) {
  if (kmax < 1 || kmax > max_wavenumbers)
    fail("internal error: " + std::to_string(kmax) + " wavenumbers in the sensitivity computation");
  Block_sources s{model, d, sen, {}, sen.fe_blocks.solver == "fe", model.node.numnp != 0, kmax};
  const std::size_t noelem = model.g2u.size();
  const auto too_few = [&](const std::vector<Dmatrix>& v) {
    return static_cast<int32_t>(v.size()) < kmax;
  };
  if (!sen.fe_blocks.solver.empty() &&
      (sen.fe_blocks.position.size() != noelem || too_few(sen.fe_blocks.dk)))
    fail("internal error: the finite-element element blocks do not match the model");
  if (s.fe_operator) {
    s.fe_of.assign(noelem, 0);
    return s;
  }
  if (d.idcm_dcr2d.cols() != static_cast<int32_t>(noelem) ||
      d.dcm_elements != static_cast<int32_t>(noelem) || d.indextl.size() != noelem ||
      d.indexbl.size() != noelem || d.indexbr.size() != noelem || d.indextr.size() != noelem)
    fail("internal error: the coefficient derivatives do not match the model grid");
  if (s.hybrid) {
    if (sen.fe_blocks.solver != "hy")
      fail("internal error: the finite-element blocks of the hybrid mesh have not been computed");
    if (model.nfe != 0 &&
        (too_few(sen.dktlm) || too_few(sen.dkblm) || too_few(sen.dkbrm) || too_few(sen.dktrm)))
      fail("internal error: the finite-element derivative blocks lack wavenumbers");
    int32_t nnode = 0;
    for (const int32_t t : d.indexbr) nnode = std::max(nnode, t);
    if (static_cast<int32_t>(model.approx.size()) < nnode)
      fail("internal error: the model has no solver flag for every node");
  }
  s.fe_of = fe_positions(model, sen);
  return s;
}

// The rank-one update of the stored Jacobian with the change of the model
// since it was stored and the change of the responses.
void broyden_update(const Main_data_dcr2d& response, Sen_state& sen) {
  const Model_inv_dcr2d& model = model_of(response);
  const int32_t ncell = sen.jkt.rows(), nodata = sen.jkt.cols();
  if (static_cast<int32_t>(sen.logrho_i.size()) != ncell ||
      static_cast<int32_t>(sen.logr_i.size()) != nodata ||
      static_cast<int32_t>(response.val.size()) < nodata)
    fail("internal error: the Jacobian update has no stored model and responses to start from");
  std::vector<double> res;
  model.get_res_inv(res);
  std::vector<double> dm(static_cast<std::size_t>(ncell));
  double s = 0.0;
  for (int32_t c = 1; c <= ncell; ++c) {
    dm[c - 1] = std::log(res[c - 1]) - sen.logrho_i[c - 1];
    s += dm[c - 1] * dm[c - 1];
  }
  // An unchanged model gives no direction to update along.
  if (s == 0.0) return;

#pragma omp parallel for schedule(static)
  for (int32_t d = 1; d <= nodata; ++d) {
    double* col = &sen.jkt(1, d);
    double p = 0.0;
    for (int32_t c = 0; c < ncell; ++c) p += col[c] * dm[c];
    const double u = (std::log(response.val[d - 1]) - sen.logr_i[d - 1] - p) / s;
    for (int32_t c = 0; c < ncell; ++c) col[c] += dm[c] * u;
  }
}

// The data that have the same current electrodes in the same slots, in
// datum order; every datum belongs to one group.
struct Source_group {
  int32_t first_datum = 0;
  std::vector<int32_t> data;  // 1-based
};

std::vector<Source_group> source_groups(const Main_data_dcr2d& response) {
  std::map<std::pair<int32_t, int32_t>, std::size_t> position;
  std::vector<Source_group> groups;
  for (int32_t d = 1; d <= response.nodata; ++d) {
    const int32_t a = response.tx_index(1, d);
    const int32_t b = response.nc == 2 ? response.tx_index(2, d) : 0;
    const auto [at, fresh] = position.try_emplace({a, b}, groups.size());
    if (fresh) groups.push_back({d, {}});
    groups[at->second].data.push_back(d);
  }
  return groups;
}

// Step 8: jkt(c, d) = dV_d / dsigma_c, summed over the wavenumbers, the
// current electrodes A of the datum and its potential electrodes M with the
// sign of the pair: -g(kk) sign psi_M^T (dA/dsigma_c) phi_A, with the fields
// psi of `adjoint`.
void assemble_derivatives(const Main_data_dcr2d& response, const Dmatrix& adjoint,
                          const std::vector<double>& g, int32_t noelec, Sen_state& sen) {
  const int32_t nodata = response.nodata, ncell = sen.jkt.rows();
  const int32_t nc = response.nc, np = response.np;
  const auto kmax = static_cast<int32_t>(g.size());
  const int32_t nrow = adjoint.rows();
  const auto electrode_ok = [&](int32_t e) { return e >= 1 && e <= noelec; };
  if (nc < 1 || nc > 2 || np < 1 || np > 2)
    fail("internal error: " + std::to_string(nc) + " current and " + std::to_string(np) +
         " potential electrodes per datum");
  for (int32_t d = 1; d <= nodata; ++d) {
    for (int32_t l = 1; l <= nc; ++l)
      if (!electrode_ok(response.tx_index(l, d)))
        fail("internal error: datum " + std::to_string(d) + " has no current electrode");
    for (int32_t m = 1; m <= np; ++m)
      if (!electrode_ok(response.rx_index(m, d)))
        fail("internal error: datum " + std::to_string(d) + " has no potential electrode");
  }
  const Dcphi_dcr2d_layout& layout = sen.dcphi_layout;
  const int32_t* index = layout.index.data();
  const std::size_t slots = layout.index.size();
  const std::vector<Source_group> groups = source_groups(response);

  // The data of one group share their current electrodes, so the weighted
  // sum of their cell vectors is formed once per wavenumber and read from the
  // cache by each of them; every datum is still computed as on its own.
#pragma omp parallel
  {
    std::vector<double> source(slots);
#pragma omp for schedule(dynamic, 1)
    for (std::size_t q = 0; q < groups.size(); ++q) {
      const Source_group& group = groups[q];
      for (int32_t kk = 1; kk <= kmax; ++kk) {
        // The sign of a pair (l, m) is the product of a sign per current
        // slot and one per potential slot, so the sum over the pairs
        // factorises.
        std::array<const double*, 2> v{};
        std::array<double, 2> sv{};
        for (int32_t l = 1; l <= nc; ++l) {
          v[l - 1] = dcphi_at(sen, kk, response.tx_index(l, group.first_datum)).val.data();
          sv[l - 1] = data_factor_dcr2d::compute_sign(l, 1);
        }
        for (std::size_t j = 0; j < slots; ++j) {
          double value = sv[0] * v[0][j];
          if (nc == 2) value += sv[1] * v[1][j];
          source[j] = value;
        }
        for (const int32_t d : group.data) {
          double* jk = &sen.jkt(1, d);
          std::array<const double*, 2> psi{};
          std::array<double, 2> sp{};
          for (int32_t m = 1; m <= np; ++m) {
            psi[m - 1] = adjoint.data() + static_cast<std::size_t>(nrow) *
                                              (response.rx_index(m, d) - 1 + noelec * (kk - 1));
            sp[m - 1] = data_factor_dcr2d::compute_sign(1, m);
          }
          for (int32_t c = 0; c < ncell; ++c) {
            double sum = 0.0;
            for (int32_t j = layout.first[c]; j < layout.first[c + 1]; ++j) {
              const int32_t r = index[j] - 1;
              double field = sp[0] * psi[0][r];
              if (np == 2) field += sp[1] * psi[1][r];
              sum += field * source[static_cast<std::size_t>(j)];
            }
            jk[c] -= g[kk - 1] * sum;
          }
        }
      }
    }
  }
}

// The adjoint fields of the hybrid system. Its finite-element rows carry the
// consistent mass matrix of the triangles and its finite-difference rows the
// lumped one, so the matrix is not symmetric and the forward solutions are not
// its adjoint fields (using them instead puts errors of a few per cent of the
// largest sensitivity of a datum into the Jacobian). The matrices of the
// forward solve are assembled again, factorised and solved transposed for the
// unit sources of every electrode.
Dmatrix hybrid_adjoint(const Model_inv_dcr2d& model, const Dmatrix& sources, int32_t kmax,
                       dcr2dphy::Dcr2dphy_state& phy) {
  namespace lapack = dcr2dphy_lapack;
  const dcr2dphy::Earth_node& node = model.node;
  const int32_t n = node.numnp;
  if (sources.rows() != n || kmax < 1 || sources.cols() % kmax != 0 ||
      static_cast<int32_t>(phy.k.size()) < kmax)
    fail("internal error: the adjoint sources do not match the hybrid system");
  const int32_t kl = phy.nozs + 1, ku = kl, ldab = 3 * phy.nozs + 4;
  Dmatrix afe, cfe;
  lapack::compute_afe_earth_dgbtrf(afe, kl, ku, ldab, n, model);
  lapack::compute_cfe_earth_dgbtrf(cfe, kl, ku, ldab, n, model);
  lapack::fd_prepare_earth_dgbtrf(phy, node, model.aerow);
  Dmatrix psi = sources;
  // The wavenumbers concurrently, as in the forward solve.
  lapack::Band_solve_status status;
  lapack::solve_band_systems_dcr2d(
      psi, n, phy.nozs, kmax, 'T',
      [&](Dmatrix& ab, lapack::Band_scratch& w, int32_t kk) {
        lapack::hy_band_matrix_dgbtrf(ab, w, kl, ku, ldab, n, kk, model, afe, cfe, phy);
      },
      status);
  for (int32_t kk = 1; kk <= kmax; ++kk) {
    const auto q = static_cast<std::size_t>(kk - 1);
    if (status.error[q]) std::rethrow_exception(status.error[q]);
    if (status.factor_info[q] != 0)
      fail("Factorization Error: the hybrid system is singular (dgbtrf INFO = " +
           std::to_string(status.factor_info[q]) + ")");
  }
  // The coefficients are left as a loop over the wavenumbers leaves them.
  dcr2dphy::fd_cp_coefficient_earth_cal(phy, kmax, node, model.aerow);
  return psi;
}

// Steps 9 and 10: d ln V / d ln rho_c = -sigma_c (dV / dsigma_c) / V. When the
// responses are apparent resistivities (a negative geometric factor) V holds
// the factor, which the last step takes out again.
void logarithmic_scaling(const Main_data_dcr2d& response, Sen_state& sen) {
  const Model_inv_dcr2d& model = model_of(response);
  const int32_t nodata = response.nodata, ncell = sen.jkt.rows();
  std::vector<double> sigma;
  model.get_con_inv(sigma);
#pragma omp parallel for schedule(static)
  for (int32_t d = 1; d <= nodata; ++d) {
    double* jk = &sen.jkt(1, d);
    for (int32_t c = 0; c < ncell; ++c) jk[c] = -(sigma[c] * jk[c] / response.val[d - 1]);
  }

  bool any = false;
  double smallest = 0.0;
  for (double v : response.geo_k) {
    if (std::isnan(v)) continue;
    smallest = any ? std::min(smallest, v) : v;
    any = true;
  }
  if (!any || !(smallest < 0.0)) return;
#pragma omp parallel for schedule(static)
  for (int32_t d = 1; d <= nodata; ++d) {
    double* jk = &sen.jkt(1, d);
    for (int32_t c = 0; c < ncell; ++c) jk[c] *= response.geo_k[d - 1];
  }
}

// Whether the potentials held by the forward module have the shape of the
// potentials of this data set and model.
bool potentials_fit(const Main_data_dcr2d& response, const fwd_dcr2d::Fwd_state& fwd) {
  const Model_inv_dcr2d& model = model_of(response);
  if (model.grid == nullptr) return false;
  const int32_t nrow = model.node.numnp != 0 ? model.node.numnp : model.grid->get_n_node();
  return fwd.kmax > 0 && fwd.noelec == response.noelec &&
         static_cast<int32_t>(response.val.size()) == response.nodata &&
         fwd.potential_dcr2d.rows() == nrow && fwd.potential_dcr2d.cols() == fwd.noelec * fwd.kmax;
}

}  // namespace

void compute_sensitivity_lapack_dcr2d(Main_data_dcr2d& response, bool approx, Sen_state& sen,
                                      const fwd_dcr2d::Fwd_env& env, bool forward_current) {
  const Model_inv_dcr2d& model = model_of(response);
  const int32_t ncell = model.get_ncell();
  const bool stored = sen.jkt.rows() == ncell && sen.jkt.cols() == response.nodata;
  if (approx) {
    if (!stored)
      fail("internal error: the Jacobian update has no stored Jacobian of " +
           std::to_string(ncell) + " cells and " + std::to_string(response.nodata) + " data");
    broyden_update(response, sen);
    return;
  }
  if (!stored) sen.jkt.assign(ncell, response.nodata, 0.0);

  const std::vector<double> k = fwd_dcr2d::wavenumbers_dcr2d(response.espacing);
  const std::vector<double> g = fwd_dcr2d::weights_dcr2d(response.espacing);
  const fwd_dcr2d::Fwd_state& fwd = *env.fwd;
  if (forward_current && potentials_fit(response, fwd)) {
    // The solver state still holds the model that was computed last; the
    // adjoint fields of the hybrid system are assembled from this one.
    dcr2dphy_lapack::set_solver_model_dcr2d(*env.phy, model, k);
  } else {
    fwd_dcr2d::dcr2dfwd_lapack(response, env);
  }
  std::fill(sen.jkt.data(), sen.jkt.data() + sen.jkt.size(), 0.0);
  dcr2dphy::Dcr2dphy_state& phy = *env.phy;
  const bool hybrid = model.node.numnp != 0;
  const Dmatrix adjoint =
      hybrid ? hybrid_adjoint(model, fwd.forcing_term, fwd.kmax, phy) : Dmatrix{};

  // The element rows of dA/dsigma: the finite-difference blocks with the
  // finite-element blocks of the hybrid mesh on uneven ground; the
  // finite-element blocks alone for the "fe" solver, whose operator has no
  // finite-difference rows.
  if (hybrid) {
    dcr2dphy::dcr2d_fd_coefficient_derivative_earth_cal(phy, model, k, model.node, model.aerow);
    sen_dcr2d::compute_fe_dk(sen, model, k);
    sen_dcr2d::compute_fe_element_blocks(sen.fe_blocks, model, k, "hy");
  } else if (string_utility::strlowcase(fwd.approx) == "fe") {
    sen_dcr2d::compute_fe_element_blocks(sen.fe_blocks, model, k, "fe");
  } else {
    dcr2dphy::dcr2d_fd_coefficient_derivative_cal(phy, model, k);
    sen.fe_blocks = sen_dcr2d::Fe_element_blocks{};
  }

  compute_dcphi_full_dcr2d(response, fwd.potential_dcr2d, fwd.kmax, fwd.noelec, sen, phy);
  assemble_derivatives(response, hybrid ? adjoint : fwd.potential_dcr2d, g, fwd.noelec, sen);
  logarithmic_scaling(response, sen);
  clear_sensitivity_cache(sen);
}

void compute_dcphi_full_dcr2d(const Main_data_dcr2d& response, const Dmatrix& potential_dcr2d,
                              int32_t kmax, int32_t noelec, Sen_state& sen,
                              const dcr2dphy::Dcr2dphy_state& phy) {
  const Model_inv_dcr2d& model = model_of(response);
  const int32_t ncell = model.get_ncell();
  if (static_cast<int32_t>(model.inv.size()) != ncell)
    fail("internal error: the model's cells do not match its cell count");
  for (const auto& cell : model.inv)
    for (const int32_t f : cell.fwd_id)
      if (f < 1 || static_cast<std::size_t>(f) > model.g2u.size())
        fail("internal error: cell member " + std::to_string(f) + " is not in the grid");
  const Block_sources sources = block_sources(model, phy.deriv, sen, kmax);
  const int32_t nrow = potential_dcr2d.rows();
  if (potential_dcr2d.cols() < noelec * kmax)
    fail("internal error: the potentials hold fewer sources than the sensitivities need");

  const Dcphi_plan plan = plan_cells(sources, sen.dcphi_layout);
  for (const int32_t col : plan.col)
    if (col < 1 || col > nrow)
      fail("internal error: a cell vector refers to row " + std::to_string(col) +
           " outside the potentials");
  for (const int32_t row : sen.dcphi_layout.index)
    if (row < 1 || row > nrow)
      fail("internal error: a cell vector has row " + std::to_string(row) +
           " outside the potentials");

  const std::size_t entries = static_cast<std::size_t>(kmax) * noelec;
  if (sen.dcphi_dcr2d_full.size() != entries || sen.dcphi_kmax != kmax) {
    sen.dcphi_dcr2d_full.assign(entries, Dcphi_dcr2d_matrix{});
    sen.dcphi_kmax = kmax;
  }
  const std::size_t slots = sen.dcphi_layout.index.size();
  const std::size_t nterm = plan.slot.size();
#pragma omp parallel for schedule(dynamic, 1)
  for (int32_t q = 0; q < static_cast<int32_t>(entries); ++q) {
    const int32_t kk = q % kmax + 1, e = q / kmax + 1;
    Dcphi_dcr2d_matrix& m = sen.dcphi_dcr2d_full[static_cast<std::size_t>(q)];
    m.val.assign(slots, 0.0);
    m.allocated = true;
    const double* phi =
        potential_dcr2d.data() + static_cast<std::size_t>(nrow) * (e - 1 + noelec * (kk - 1));
    const double* coef = plan.coef[static_cast<std::size_t>(kk - 1)].data();
    for (std::size_t t = 0; t < nterm; ++t) m.val[plan.slot[t]] += coef[t] * phi[plan.col[t] - 1];
  }
}

void clear_sensitivity_cache(Sen_state& sen) {
  for (Dcphi_dcr2d_matrix& m : sen.dcphi_dcr2d_full) {
    m.val.clear();
    m.val.shrink_to_fit();
    m.allocated = false;
  }
}

}  // namespace varnel::sen_lapack_dcr2d
