#include "core/model/dcr2dphy_model.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::dcr2dphy {

namespace {

const char* const length_message = "Error: number of model parameter is not consistant";

const Imatrix& element_map(const Gr2d_dcr_new& grid) {
  const Imatrix* e2d = nullptr;
  grid.get_element_mapping(e2d, "2dto1d");
  return *e2d;
}

Gr2d_dcr_new& grid_of(const Model_fwd_dcr2d& m) {
  if (m.grid == nullptr) fail("internal error: the model refers to no grid");
  return *m.grid;
}

double air_resistivity(const Model_env& env) {
  if (env.param == nullptr) fail("internal error: the model has no job settings");
  return env.param->airresist;
}

}  // namespace

void dcr2d_set_cond(Dcr2dphy_state& s, const std::vector<double>& cond) { s.cond = cond; }
void dcr2d_set_grid(Dcr2dphy_state& s, const Gr2d_dcr_new& grid) { s.grid = &grid; }
void dcr2d_set_kmax(Dcr2dphy_state& s, int32_t kmax) { s.kmax = kmax; }
void dcr2d_set_numnp(Dcr2dphy_state& s, int32_t numnp) { s.numnp = numnp; }
void dcr2d_set_nozs(Dcr2dphy_state& s, int32_t nozs) { s.nozs = nozs; }
void dcr2d_set_noxs(Dcr2dphy_state& s, int32_t noxs) { s.noxs = noxs; }

// --- Model_fwd_dcr2d ------------------------------------------------------

void Model_fwd_dcr2d::duplicate_fwd(Model_fwd_dcr2d& target, std::string_view approx_word) const {
  const Gr2d_dcr_new& g = grid_of(*this);
  // Copies first: the target may share this model's grid, which its finalize empties.
  const std::vector<double> xs(g.get_x_grid().begin(), g.get_x_grid().end());
  const std::vector<double> zs(g.get_z_grid().begin(), g.get_z_grid().end());
  const std::vector<double> val_copy = val;
  const std::vector<int32_t> approx_copy = approx, elem_copy = elem;
  if (target.allocated) {
    Gr2d_dcr_new* target_grid = target.grid;
    target.finalize();
    target.grid = target_grid;
  }
  if (target.grid == nullptr) fail("internal error: the target model refers to no grid");
  target.initialize(xs, zs, approx_word);
  if (target.val.size() != val_copy.size()) fail(length_message);
  target.val = val_copy;
  target.approx = approx_copy;
  target.elem = elem_copy;
  if (approx_word == "fe" || approx_word == "hy") {
    target.sval = sval;
    target.aerow = aerow;
    target.node = node;
  }
}

void Model_fwd_dcr2d::finalize() {
  val.clear();
  approx.clear();
  elem.clear();
  if (grid != nullptr) grid->finalize();
  grid = nullptr;
  allocated = false;
}

void Model_fwd_dcr2d::get_con_fwd(std::vector<double>& con) const { con = val; }

void Model_fwd_dcr2d::get_fe_lcon_fwd(std::vector<double>& con) const { con = val; }

void Model_fwd_dcr2d::get_fecell(std::vector<int32_t>& fecell_out, int32_t* nfe_out) const {
  if (nfe_out != nullptr) *nfe_out = nfe;
  if (nfe == 0) return;
  fecell_out = fecell;
}

void Model_fwd_dcr2d::get_fe_ucon_fwd(std::vector<double>& con) const { con = sval; }

void Model_fwd_dcr2d::get_elem(std::vector<int32_t>& elem_out) const { elem_out = elem; }

void Model_fwd_dcr2d::get_grid(Gr2d_dcr_new*& grid_out) const { grid_out = grid; }

void Model_fwd_dcr2d::set_con_fwd(const std::vector<double>& con, std::string_view approx_word) {
  if (static_cast<int32_t>(con.size()) != grid_of(*this).get_n_element()) fail(length_message);
  val = con;
  if (approx_word == "fe") sval = val;
}

void Model_fwd_dcr2d::initialize(std::span<const double> xs, std::span<const double> zs,
                                 std::string_view approx_word, const std::vector<double>* cond,
                                 const Dmatrix* topo) {
  Gr2d_dcr_new& g = grid_of(*this);
  // The positions may be views of this very grid, which initialize replaces.
  const std::vector<double> xs_copy(xs.begin(), xs.end()), zs_copy(zs.begin(), zs.end());
  g.initialize(xs_copy, zs_copy);
  const auto noelem = static_cast<std::size_t>(g.get_n_element());
  const auto numnp = static_cast<std::size_t>(g.get_n_node());
  val.assign(noelem, 0.0);
  elem.assign(noelem, 1);
  approx.assign(numnp, 1);
  info = "LIN";
  allocated = true;
  nfe = 0;
  aerow.clear();
  node = Earth_node{};
  if (cond != nullptr) {
    if (cond->size() == 1)
      std::fill(val.begin(), val.end(), (*cond)[0]);
    else if (cond->size() == noelem)
      val = *cond;
    else
      fail(length_message);
  }
  if (approx_word == "fd") return;
  if (approx_word == "fe") {
    sval = val;
    approx.assign(numnp, 2);
    elem.assign(noelem, 2);
    return;
  }
  if (approx_word != "hy") return;
  sval = val;
  fecell.assign(noelem, 0);
  if (topo == nullptr) return;
  if (cond != nullptr && cond->size() == 1)
    initial_model_hy_autogen(*this, xs_copy, zs_copy, *topo);
  else
    initial_model_hy_assigned(*this, xs_copy, zs_copy, *topo);
  if (env_.phy != nullptr) {
    dcr2d_set_noxs(*env_.phy, g.get_nx_node());
    dcr2d_set_nozs(*env_.phy, g.get_nz_node());
  }
  create_list_of_earth_node(*this, g.get_nx_node(), g.get_nz_node());
}

void Model_fwd_dcr2d::set_conductivity_model_scalar(double con) {
  std::fill(val.begin(), val.end(), con);
}

void Model_fwd_dcr2d::set_resistivity_model_scalar(double res) {
  std::fill(val.begin(), val.end(), 1.0 / res);
}

void Model_fwd_dcr2d::set_res_fwd(const std::vector<double>& res, std::string_view approx_word) {
  std::vector<double> con(res.size());
  std::transform(res.begin(), res.end(), con.begin(), [](double r) { return 1.0 / r; });
  set_con_fwd(con, approx_word);
}

void Model_fwd_dcr2d::get_res_fwd(std::vector<double>& res) const {
  res.resize(val.size());
  std::transform(val.begin(), val.end(), res.begin(), [](double c) { return 1.0 / c; });
}

std::string Model_fwd_dcr2d::get_info() const { return info; }

void Model_fwd_dcr2d::get_earth_node(Earth_node& node_out) const {
  if (node.numnp == 0) {
    node_out = Earth_node{};
    return;
  }
  node_out = node;
}

void Model_fwd_dcr2d::get_air_earth_row(std::vector<int32_t>& aerow_out) const {
  if (!aerow.empty()) aerow_out = aerow;
}

// --- Model_inv_dcr2d ------------------------------------------------------

void Model_inv_dcr2d::duplicate(Model_inv_dcr2d& target, std::string_view approx_word) const {
  duplicate_fwd(target, approx_word);
  target.ncell = ncell;
  target.g2u = g2u;
  target.inv = inv;
}

void Model_inv_dcr2d::get_isupdated(std::vector<bool>& isupdated) const {
  isupdated.assign(g2u.size(), false);
  for (std::size_t k = 0; k < g2u.size(); ++k) isupdated[k] = g2u[k] != 0;
}

void Model_inv_dcr2d::get_con_inv(std::vector<double>& con) const {
  con.resize(inv.size());
  for (std::size_t c = 0; c < inv.size(); ++c) con[c] = inv[c].val;
}

namespace {

// The block below the electrode spread whose cells are merged: element columns
// le..re and element rows te..nz, with the merge factor of every row.
struct Merge_box {
  int32_t le = 0, re = 0, te = 0;
  std::vector<int32_t> factor;  // indexed by element row, 1-based (entry 0 unused)
  int32_t size(int32_t nz) const { return (re - le + 1) * (nz - te + 1); }
};

// Finds the box; false when the criteria do not give one inside the grid.
bool find_merge_box(const Gr2d_dcr_new& g, const std::array<double, 2>& x_criteria,
                    double z_criteria, Merge_box& box) {
  const int32_t nx = g.get_nx_element(), nz = g.get_nz_element();
  const auto xs = g.get_x_grid();
  const auto zs = g.get_z_grid();
  const int32_t m = nx / 2;
  for (int32_t ix = m + 1; ix >= 1; ix -= 2)
    if (x_criteria[0] > xs[ix - 1]) {
      box.le = ix;
      break;
    }
  for (int32_t ix = m + 1; ix <= nx + 1; ix += 2)
    if (xs[ix - 1] > x_criteria[1]) {
      box.re = ix - 1;
      break;
    }
  for (int32_t iz = 1; iz <= nz + 1; ++iz)
    if (zs[iz - 1] > z_criteria) {
      box.te = iz;
      break;
    }
  if (box.le < 1 || box.re < box.le || box.re > nx || box.te < 1 || box.te > nz) return false;
  // Pairs in the first box row, groups of 4 in the next, and so on while the
  // width allows; deeper rows keep the last factor.
  const int32_t w = box.re - box.le + 1;
  box.factor.assign(static_cast<std::size_t>(nz) + 1, 1);
  int32_t p = 1;
  bool divisible = true;
  for (int32_t iz = box.te; iz <= nz; ++iz) {
    if (divisible && w % (1 << p) == 0) {
      box.factor[iz] = 1 << p;
      ++p;
    } else {
      divisible = false;
      box.factor[iz] = iz > box.te ? box.factor[iz - 1] : 1;
    }
  }
  return true;
}

}  // namespace

void Model_inv_dcr2d::initialize_inv(const std::vector<int32_t>* g2u_in,
                                     const std::array<double, 2>* x_criteria, double z_criteria) {
  if (!allocated)
    fail(
        "Please initialize forward model before initialize inverse model!!!\n"
        "By using obj%model_fwd_dcr2d%initialize(xS, zS, cond) command");
  const Gr2d_dcr_new& g = grid_of(*this);
  const int32_t nx = g.get_nx_element(), nz = g.get_nz_element(), noelem = g.get_n_element();
  const Imatrix& e2d = element_map(g);
  if (g2u_in != nullptr && static_cast<int32_t>(g2u_in->size()) != noelem) fail(length_message);
  auto updatable = [&](int32_t k) { return g2u_in == nullptr || (*g2u_in)[k - 1] != 0; };

  g2u.assign(static_cast<std::size_t>(noelem), 0);
  inv.clear();

  Merge_box box;
  bool merge = x_criteria != nullptr && find_merge_box(g, *x_criteria, z_criteria, box);
  if (merge && g2u_in != nullptr) {
    int32_t in_box = 0;
    for (int32_t iz = box.te; iz <= nz; ++iz)
      for (int32_t ix = box.le; ix <= box.re; ++ix) in_box += updatable(e2d(iz, ix)) ? 1 : 0;
    merge = in_box == box.size(nz);
  }

  if (!merge && g2u_in != nullptr) {
    // Cells keep the numbers of the update map.
    ncell = noelem > 0 ? *std::max_element(g2u_in->begin(), g2u_in->end()) : 0;
    ncell = std::max(ncell, 0);
    inv.assign(static_cast<std::size_t>(ncell), Model_inv_cell_dcr2d{});
    for (int32_t k = 1; k <= noelem; ++k)
      if (const int32_t c = (*g2u_in)[k - 1]; c > 0) ++inv[c - 1].n;
    for (int32_t k = 1; k <= noelem; ++k) {
      const int32_t c = (*g2u_in)[k - 1];
      if (c <= 0) continue;
      Model_inv_cell_dcr2d& cell = inv[c - 1];
      g2u[k - 1] = c;
      cell.val = val[k - 1];
      cell.fwd_id.push_back(k);
    }
    return;
  }
  if (!merge) {
    // One cell per element.
    ncell = noelem;
    inv.resize(static_cast<std::size_t>(noelem));
    for (int32_t k = 1; k <= noelem; ++k) {
      inv[k - 1] = Model_inv_cell_dcr2d{1, {k}, val[k - 1]};
      g2u[k - 1] = k;
    }
    return;
  }

  // Merged block: cells numbered row by row, top row first, left to right.
  auto add_cell = [&](const std::vector<int32_t>& members) {
    Model_inv_cell_dcr2d cell;
    cell.n = static_cast<int32_t>(members.size());
    for (int32_t k : members) {
      cell.fwd_id.push_back(k);
      cell.val = val[k - 1];
      g2u[k - 1] = static_cast<int32_t>(inv.size()) + 1;
    }
    inv.push_back(std::move(cell));
  };
  auto single_cells = [&](int32_t iz, int32_t ix_from, int32_t ix_to) {
    for (int32_t ix = ix_from; ix <= ix_to; ++ix)
      if (updatable(e2d(iz, ix))) add_cell({e2d(iz, ix)});
  };
  for (int32_t iz = 1; iz < box.te; ++iz) single_cells(iz, 1, nx);
  for (int32_t iz = box.te; iz <= nz; ++iz) {
    single_cells(iz, 1, box.le - 1);
    const int32_t f = box.factor[iz];
    for (int32_t ix = box.le; ix <= box.re; ix += f) {
      std::vector<int32_t> members;
      for (int32_t j = ix; j < ix + f && j <= box.re; ++j) members.push_back(e2d(iz, j));
      add_cell(members);
    }
    single_cells(iz, box.re + 1, nx);
  }
  ncell = static_cast<int32_t>(inv.size());
}

void Model_inv_dcr2d::set_con_inv(const std::vector<double>& con) {
  if (static_cast<int32_t>(con.size()) != ncell) fail(length_message);
  for (int32_t c = 0; c < ncell; ++c) {
    inv[c].val = con[c];
    for (int32_t k : inv[c].fwd_id) val[k - 1] = con[c];
  }
  if (nfe != 0) {
    // Air parts of cut elements keep the air conductivity.
    const double air_threshold = 1.0 / (air_resistivity(env_) - 10.0);
    for (std::size_t k = 0; k < sval.size() && k < val.size(); ++k)
      if (sval[k] > air_threshold) sval[k] = val[k];
  } else {
    sval = val;
  }
}

void Model_inv_dcr2d::get_update_mapping(const std::vector<int32_t>*& g2u_out) const {
  g2u_out = &g2u;
}

void Model_inv_dcr2d::set_conductivity_model_scalar_inv(double con) {
  for (auto& cell : inv) cell.val = con;
  std::fill(val.begin(), val.end(), con);
}

void Model_inv_dcr2d::get_res_inv(std::vector<double>& res) const {
  res.resize(inv.size());
  for (std::size_t c = 0; c < inv.size(); ++c) res[c] = 1.0 / inv[c].val;
}

int32_t Model_inv_dcr2d::get_ncell() const { return ncell; }

// --- update map -------------------------------------------------------------

void cal_update_model_dcr(const Model_fwd_dcr2d& m, std::vector<int32_t>& g2u,
                          const ascii_updatefile_dcr2d::Model_update_dcr2d* umodel) {
  const Gr2d_dcr_new& g = grid_of(m);
  g2u.assign(static_cast<std::size_t>(g.get_n_element()), 0);
  if (umodel != nullptr) {
    for (int32_t i = 1; i <= umodel->nelement; ++i) {
      const double x = umodel->location(i, 1), z = umodel->location(i, 2);
      const int32_t k = g.p2e(x, z);
      if (k <= 0)
        fail_at(umodel->file.empty() ? std::string("model update file") : umodel->file, i + 1,
                "update location (" + text_io::free_real(x) + ", " + text_io::free_real(z) +
                    ") lies outside the model grid");
      g2u[k - 1] = i;
    }
    return;
  }
  const double earth_threshold = 1.0 / (air_resistivity(m.env()) - 1.0);
  int32_t counter = 0;
  for (std::size_t k = 0; k < g2u.size(); ++k)
    if (m.val[k] > earth_threshold) g2u[k] = ++counter;
}

}  // namespace varnel::dcr2dphy
