// Forward and inverse resistivity models: one conductivity (S/m, linear) per
// grid element, the per-node and per-element solver flags of the hybrid
// scheme, and the inversion cells with the element-to-cell map. The solver
// module's shared values (the current grid and conductivities, the counts of
// wavenumbers and nodes) live in Dcr2dphy_state, one per job.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/ascii_updatefile_dcr2d.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::dcr2dphy {

using grid2d_dcr::Gr2d_dcr_new;

// Derivatives of the finite-difference operator with respect to the element
// conductivities (one row per node, or per earth unknown), and the per-element
// blocks of dA/dsigma they give. They depend on the grid, the wavenumbers and
// the update map only, and are kept until the clean-up.
struct Dcr2dphy_derivatives {
  Dmatrix dcl, dcr, dct, dcb;  // rows x 2
  Dmatrix dcp, da;             // rows x 4, by element position TL, BL, BR, TR
  std::vector<Dmatrix> dcpm;   // per wavenumber: rows x 4
  std::vector<int32_t> indextl, indextr, indexbl, indexbr;  // per element: corner nodes
  Imatrix idcm_dcr2d;                                       // 12 x elements: column of each entry
  std::vector<double> dcm_dcr2d;  // 8 x 12 x elements, entry (kk, j, e) at dcm_at(kk, j, e)
  int32_t dcm_elements = 0;       // number of elements dcm_dcr2d is sized for

  // Position of entry (kk, j, e), all 1-based, in dcm_dcr2d.
  std::size_t dcm_at(int32_t kk, int32_t j, int32_t e) const {
    return static_cast<std::size_t>(kk - 1) +
           8 * (static_cast<std::size_t>(j - 1) + 12 * static_cast<std::size_t>(e - 1));
  }
};

// State of the solver module, one per job: the values the model objects set
// and the solvers read, and the finite-difference coefficient arrays. An
// array that is computed on first use "exists" when it is not empty; the
// clean-up empties it. On a grid with topography the coefficient arrays have
// one row per earth unknown instead of one per grid node.
struct Dcr2dphy_state {
  const Gr2d_dcr_new* grid = nullptr;
  std::vector<double> cond;  // conductivity per element, S/m
  std::vector<double> k;     // wavenumbers, 1/m
  int32_t kmax = 0;          // number of wavenumbers
  int32_t numnp = 0;         // number of nodes
  int32_t nozs = 0;          // nodes per column
  int32_t noxs = 0;          // nodes per row

  // Geometry, kept for the grid (and the wavenumbers for alpha).
  std::vector<int32_t> fdindex;  // position class of every node
  Dmatrix dall;                  // numnp x 4: dz up, dz down, dx left, dx right
  std::vector<double> zatax;     // boundary angle against the horizontal normal
  std::vector<double> zataz;     // boundary angle against the vertical normal
  Dmatrix alpha;                 // numnp x kmax Bessel boundary factors, 1/m
  // Conductivity-dependent, rebuilt for every model.
  Dmatrix c_all;                       // numnp x 8 half-face conductances
  std::vector<double> cl, cr, ct, cb;  // couplings to the neighbours, S
  std::vector<double> cp;              // minus the sum of the couplings
  std::vector<double> a_parameter;     // weighted control-box area, S m^2
  Dmatrix c_matrix;                    // numnp x 5: left, up, self, down, right

  Dcr2dphy_derivatives deriv;  // for the sensitivities
};

void dcr2d_set_cond(Dcr2dphy_state& s, const std::vector<double>& cond);
void dcr2d_set_grid(Dcr2dphy_state& s, const Gr2d_dcr_new& grid);
void dcr2d_set_kmax(Dcr2dphy_state& s, int32_t kmax);
void dcr2d_set_numnp(Dcr2dphy_state& s, int32_t numnp);
void dcr2d_set_nozs(Dcr2dphy_state& s, int32_t nozs);
void dcr2d_set_noxs(Dcr2dphy_state& s, int32_t noxs);

// The unknowns on and below the ground surface of the hybrid solver.
struct Earth_node {
  std::vector<int32_t> n;    // global node numbers of the earth nodes, by column, top down
  std::vector<int32_t> map;  // per grid node: its position in n, 0 in the air
  int32_t numnp = 0;         // number of earth nodes
};

// What a model reads and writes of its job besides itself: the air resistivity
// (read by the update map and the cell values, rewritten by the topography
// mesher) and the solver module's values.
struct Model_env {
  param_dcr2d::Param_dcr2d* param = nullptr;
  Dcr2dphy_state* phy = nullptr;
};

class Model_fwd_dcr2d {
 public:
  explicit Model_fwd_dcr2d(Model_env env) : env_(env) {}
  virtual ~Model_fwd_dcr2d() = default;

  // Makes `target` a copy of this model on the target's own grid (which the
  // target keeps across its finalize). fecell and nfe are not copied.
  virtual void duplicate_fwd(Model_fwd_dcr2d& target, std::string_view approx_word) const;
  // Releases val, approx and elem, finalizes the grid and drops the reference.
  virtual void finalize();
  virtual void get_con_fwd(std::vector<double>& con) const;
  virtual void get_fe_lcon_fwd(std::vector<double>& con) const;
  // With no finite-element cells only nfe = 0 is returned.
  virtual void get_fecell(std::vector<int32_t>& fecell_out, int32_t* nfe_out = nullptr) const;
  virtual void get_fe_ucon_fwd(std::vector<double>& con) const;
  virtual void get_elem(std::vector<int32_t>& elem_out) const;
  virtual void get_grid(Gr2d_dcr_new*& grid_out) const;
  virtual void set_con_fwd(const std::vector<double>& con, std::string_view approx_word);
  // Builds the grid and the model; cond holds one value (all elements) or one
  // per element. With "hy" and topography the surface is meshed.
  virtual void initialize(std::span<const double> xs, std::span<const double> zs,
                          std::string_view approx_word, const std::vector<double>* cond = nullptr,
                          const Dmatrix* topo = nullptr);
  virtual void set_conductivity_model_scalar(double con);
  virtual void set_resistivity_model_scalar(double res);
  virtual void set_res_fwd(const std::vector<double>& res, std::string_view approx_word);
  virtual void get_res_fwd(std::vector<double>& res) const;
  virtual std::string get_info() const;
  virtual void get_earth_node(Earth_node& node_out) const;
  // Leaves the argument untouched when the model has no interface rows.
  virtual void get_air_earth_row(std::vector<int32_t>& aerow_out) const;

  // The model's grid must be set before initialize; the model does not own it.
  void set_grid(Gr2d_dcr_new* g) { grid = g; }
  const Model_env& env() const { return env_; }
  bool is_allocated() const { return allocated; }

  // Fields, shared with the topography mesher and the solvers.
  std::vector<double> val;       // conductivity per element
  std::string info = "LIN";      // linear conductivity values
  Gr2d_dcr_new* grid = nullptr;  // not owned
  bool allocated = false;
  std::vector<int32_t> approx;  // per node: 1 finite-difference, 2 finite-element
  std::vector<int32_t> elem;    // per element: 1 FD, 2 or 3 FE (split diagonal)
  std::vector<int32_t> fecell;  // finite-element elements; first nfe valid
  int32_t nfe = 0;
  std::vector<double> sval;    // conductivity of the upper (air) part
  std::vector<int32_t> aerow;  // per node column: row where the earth starts
  Earth_node node;

 protected:
  Model_env env_;
};

// One inversion parameter: a group of forward elements sharing a conductivity.
struct Model_inv_cell_dcr2d {
  int32_t n = 0;
  std::vector<int32_t> fwd_id;
  double val = 0.0;
};

class Model_inv_dcr2d : public Model_fwd_dcr2d {
 public:
  using Model_fwd_dcr2d::Model_fwd_dcr2d;

  // duplicate_fwd, then the cells and the map; rms is not copied.
  virtual void duplicate(Model_inv_dcr2d& target, std::string_view approx_word) const;
  // Per element: true where the element belongs to a cell.
  virtual void get_isupdated(std::vector<bool>& isupdated) const;
  virtual void get_con_inv(std::vector<double>& con) const;
  // Forms the cells. g2u: the update number of each element (0 fixed), or
  // null for one cell per element. x_criteria (left and right x) and
  // z_criteria (depth) ask for wider cells in the block below the spread.
  virtual void initialize_inv(const std::vector<int32_t>* g2u_in,
                              const std::array<double, 2>* x_criteria = nullptr,
                              double z_criteria = 0.0);
  virtual void set_con_inv(const std::vector<double>& con);
  virtual void get_update_mapping(const std::vector<int32_t>*& g2u_out) const;
  virtual void set_conductivity_model_scalar_inv(double con);
  virtual void get_res_inv(std::vector<double>& res) const;
  virtual int32_t get_ncell() const;

  double rms = 0.0;
  std::vector<int32_t> g2u;  // per element: its cell, 0 = fixed
  int32_t ncell = 0;
  std::vector<Model_inv_cell_dcr2d> inv;
};

// The element-to-update map: with an update file, the number of the last
// location inside each element; without one, consecutive numbers for every
// element that is not air. g2u must be empty on entry.
void cal_update_model_dcr(const Model_fwd_dcr2d& m, std::vector<int32_t>& g2u,
                          const ascii_updatefile_dcr2d::Model_update_dcr2d* umodel = nullptr);

// Topography meshing of the hybrid solver (on a model after the value set-up of
// initialize). topo: ntopo x 2, rows (x, z) of the surface points.
void initial_model_hy_autogen(Model_fwd_dcr2d& obj, std::span<const double> xs,
                              std::span<const double> zs, const Dmatrix& topo);
void initial_model_hy_assigned(Model_fwd_dcr2d& obj, std::span<const double> xs,
                               std::span<const double> zs, const Dmatrix& topo);
// Gives code `elem_code` to each of the eight neighbours of element (nz, nx)
// that exists and still has code 1.
void add_pseudo_fe_element(Model_fwd_dcr2d& obj, const Imatrix& e2d, int32_t nz, int32_t nx,
                           int32_t elem_code);
// Fills aerow (nx element columns, nz rows) and resets the air resistivity.
void air_earth_interface(Model_fwd_dcr2d& obj, int32_t nx, int32_t nz);
// Fills obj.node from aerow (noxs node columns, nozs node rows).
void create_list_of_earth_node(Model_fwd_dcr2d& obj, int32_t noxs, int32_t nozs);

}  // namespace varnel::dcr2dphy
