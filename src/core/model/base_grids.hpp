// The rectilinear grid every model, solver and roughness operator works on:
// ascending node positions xs along the profile and node positions zs in depth,
// cutting the section into nx x nz rectangular elements. All indices are
// 1-based; the arrays are held in the order of their positions.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace varnel::base_grids {

// A 2-D rectilinear grid. The getters hand out read-only views of the grid's
// arrays; a view stays valid until the grid is finalized or initialized again.
// Callers go through the getters rather than the fields, so a derived grid
// behaves the same everywhere.
class Base_grid2d {
 public:
  Base_grid2d() = default;
  virtual ~Base_grid2d() = default;
  Base_grid2d(const Base_grid2d&) = default;
  Base_grid2d& operator=(const Base_grid2d&) = default;

  // True when both grids have exactly the same node positions. A difference in
  // x is reported (and decides) before one in z; grids with different numbers
  // of nodes in a direction differ in that direction.
  virtual bool compare(const Base_grid2d& grid2) const;

  // Back to the empty grid: counts 0, arrays released, not allocated.
  virtual void finalize();

  // Makes `target` a copy of this grid: the target's finalize (when it is
  // allocated), then the target's initialize with this grid's positions. Both
  // calls dispatch on the dynamic type of the target.
  virtual void duplicate_grid2d(Base_grid2d& target) const;

  virtual int32_t get_n_node() const;      // numnp
  virtual int32_t get_nx_node() const;     // nx + 1
  virtual int32_t get_nx_element() const;  // nx
  virtual int32_t get_n_element() const;   // noelem
  virtual int32_t get_nz_element() const;  // nz
  virtual std::span<const double> get_dz_grid() const;
  virtual std::span<const double> get_x_grid() const;

  // Lists the grid on standard output, one free-format record per line.
  virtual void info() const;

  // Builds the grid from the node positions (nx + 1 in x, nz + 1 in z), in the
  // order given; no ordering or spacing check is made. An earlier content is
  // replaced. Each list must hold at least one position.
  virtual void initialize(std::span<const double> xs_in, std::span<const double> zs_in);

  virtual std::span<const double> get_z_grid() const;
  virtual int32_t get_nz_node() const;  // nz + 1
  virtual std::span<const double> get_dx_grid() const;

  // True between initialize and finalize.
  bool is_allocated() const { return allocated; }

 protected:
  int32_t nx = 0;          // element columns
  int32_t nz = 0;          // element rows
  int32_t numnp = 0;       // nodes, (nx + 1)(nz + 1)
  int32_t noelem = 0;      // elements, nx nz
  std::vector<double> dx;  // dx(i) = xs(i + 1) - xs(i)
  std::vector<double> dz;  // dz(j) = zs(j + 1) - zs(j)
  std::vector<double> xs;  // node columns, left to right
  std::vector<double> zs;  // node rows, top to bottom
  bool allocated = false;
};

// The vertical half of a 2-D grid. Nothing else in the library uses it.
struct Base_grid1d {
  int32_t nz = 0;
  int32_t numnp = 0;
  int32_t noelem = 0;
  std::vector<double> dz;
  std::vector<double> zs;
  bool allocated = false;

  // nz = noelem = n - 1 and numnp = n for n positions (n >= 1); copies zs and
  // forms dz.
  void initialize(std::span<const double> zs_in);
  // Releases both arrays and clears nz and allocated.
  void clean();
  // Lists the vertical grid on standard output.
  void info() const;
};

}  // namespace varnel::base_grids
