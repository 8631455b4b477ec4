#include "core/model/base_grids.hpp"

#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::base_grids {

namespace {

// Number of positions at which two node lists differ; lists of different
// lengths always differ. Exact comparison, so a NaN never matches.
std::size_t count_differences(std::span<const double> a, std::span<const double> b) {
  if (a.size() != b.size()) return a.size() > b.size() ? a.size() : b.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i])) ++count;
  return count;
}

// Widths (or heights) of the elements between consecutive positions.
std::vector<double> spacings(const std::vector<double>& pos) {
  std::vector<double> d(pos.size() - 1);
  for (std::size_t i = 0; i + 1 < pos.size(); ++i) d[i] = pos[i + 1] - pos[i];
  return d;
}

void print_record(std::initializer_list<text_io::Item> items) {
  std::cout << text_io::free_format(items) << '\n';
}

void print_rule() { print_record({"!==========================================="}); }

void print_positions(const std::vector<double>& pos) {
  for (std::size_t i = 0; i < pos.size(); ++i) print_record({static_cast<int>(i + 1), pos[i]});
}

void print_vertical(const std::vector<double>& zs) {
  print_rule();
  print_record({"! Vertical Grid ============================"});
  print_rule();
  print_positions(zs);
}

}  // namespace

bool Base_grid2d::compare(const Base_grid2d& grid2) const {
  if (count_differences(get_x_grid(), grid2.get_x_grid()) != 0) {
    std::cout << "Grid in x direction are not consistant!!!\n";
    return false;
  }
  if (count_differences(get_z_grid(), grid2.get_z_grid()) != 0) {
    std::cout << "Grid in z direction are not consistant!!!\n";
    return false;
  }
  return true;
}

void Base_grid2d::finalize() {
  nx = 0;
  nz = 0;
  numnp = 0;
  noelem = 0;
  dx = {};
  dz = {};
  xs = {};
  zs = {};
  allocated = false;
}

void Base_grid2d::duplicate_grid2d(Base_grid2d& target) const {
  // Copies first: the target may be this grid, whose arrays its finalize frees.
  const std::vector<double> x(xs), z(zs);
  if (target.allocated) target.finalize();
  target.initialize(x, z);
}

int32_t Base_grid2d::get_n_node() const { return numnp; }
int32_t Base_grid2d::get_nx_node() const { return nx + 1; }
int32_t Base_grid2d::get_nx_element() const { return nx; }
int32_t Base_grid2d::get_n_element() const { return noelem; }
int32_t Base_grid2d::get_nz_element() const { return nz; }
std::span<const double> Base_grid2d::get_dz_grid() const { return dz; }
std::span<const double> Base_grid2d::get_x_grid() const { return xs; }

void Base_grid2d::info() const {
  if (!allocated) {
    print_record({"Grid is not initialed"});
    return;
  }
  print_record({"Number of grid ", nz + 1, " x ", nx + 1});
  print_vertical(zs);
  print_rule();
  print_record({"! Horizontal Grid =========================="});
  print_rule();
  print_positions(xs);
}

void Base_grid2d::initialize(std::span<const double> xs_in, std::span<const double> zs_in) {
  if (xs_in.empty() || zs_in.empty())
    fail("Base_grid2d::initialize: a grid needs at least one node position in x and in z");
  // Copies first: the positions may be views of this grid's own arrays.
  std::vector<double> x(xs_in.begin(), xs_in.end());
  std::vector<double> z(zs_in.begin(), zs_in.end());
  nx = static_cast<int32_t>(x.size()) - 1;
  nz = static_cast<int32_t>(z.size()) - 1;
  numnp = (nx + 1) * (nz + 1);
  noelem = nx * nz;
  dx = spacings(x);
  dz = spacings(z);
  xs = std::move(x);
  zs = std::move(z);
  allocated = true;
}

std::span<const double> Base_grid2d::get_z_grid() const { return zs; }
int32_t Base_grid2d::get_nz_node() const { return nz + 1; }
std::span<const double> Base_grid2d::get_dx_grid() const { return dx; }

void Base_grid1d::initialize(std::span<const double> zs_in) {
  if (zs_in.empty()) fail("Base_grid1d::initialize: a grid needs at least one node position");
  zs = std::vector<double>(zs_in.begin(), zs_in.end());  // the view may be of zs itself
  nz = static_cast<int32_t>(zs.size()) - 1;
  noelem = nz;
  numnp = nz + 1;
  dz = spacings(zs);
  allocated = true;
}

void Base_grid1d::clean() {
  dz = {};
  zs = {};
  nz = 0;
  allocated = false;
}

void Base_grid1d::info() const {
  if (!allocated) {
    print_record({"Grid is not initialed"});
    return;
  }
  print_record({"Number of grid ", nz + 1});
  print_vertical(zs);
}

}  // namespace varnel::base_grids
