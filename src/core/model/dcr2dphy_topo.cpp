// Topography meshing of the hybrid solver. The ground surface is a polyline
// through grid nodes; elements above it are air, elements below it earth. The
// elements the surface cuts are finite-element elements whose code is the
// diagonal that splits them (2: top-left to bottom-right, a falling surface;
// 3: bottom-left to top-right, a rising or flat surface), with `val` for the
// lower (earth) part and `sval` for the upper (air) part. Around every cut
// element the elements still treated by finite differences become pseudo
// finite-element elements. Afterwards the row where the earth starts in each
// node column, the air resistivity of the job and the list of earth nodes are
// derived from the marked model.
//
// Rows and columns are 1-based; (row, column) of a node or an element as in
// the grid's "2dto1d" maps.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/matrix.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::dcr2dphy {

namespace {

// Node tolerances (percent) for locating the surface points: generated grids
// put nodes on the points up to rounding; a model file's grid must match them.
constexpr double autogen_tolerance = 1.0e-2;
constexpr double assigned_tolerance = 1.0e-10;

// A surface point located on the grid: its node row and node column.
struct Surface_node {
  int32_t zi = 0;
  int32_t xi = 0;
};

enum class Slope { flat, rising, falling };

// z is depth, so a segment rises when its right end has the smaller row.
Slope slope(const Surface_node& left, const Surface_node& right) {
  if (right.zi == left.zi) return Slope::flat;
  return right.zi < left.zi ? Slope::rising : Slope::falling;
}

const Gr2d_dcr_new& grid_of(const Model_fwd_dcr2d& obj) {
  if (obj.grid == nullptr) fail("internal error: the model refers to no grid");
  return *obj.grid;
}

param_dcr2d::Param_dcr2d& job_param(const Model_fwd_dcr2d& obj) {
  if (obj.env().param == nullptr)
    fail("internal error: the model has no job settings to take the air resistivity from");
  return *obj.env().param;
}

const Imatrix& element_map(const Gr2d_dcr_new& g, std::string_view mode) {
  const Imatrix* map = nullptr;
  g.get_element_mapping(map, mode);
  if (map == nullptr) fail("internal error: the grid has no element map");
  return *map;
}

const Imatrix& node_map(const Gr2d_dcr_new& g) {
  const Imatrix* map = nullptr;
  g.get_node_mapping(map, "2dto1d");
  if (map == nullptr) fail("internal error: the grid has no node map");
  return *map;
}

// The node row or column of a topography coordinate: matrix::find_index's
// percentage rule, without its shortcut that finds nothing in a list whose
// values sum to zero (a grid symmetric about x = 0 is an ordinary grid).
int32_t node_index(double x, const std::vector<double>& ref, double tol) {
  if (matrix::find_index(x, ref, tol) != 0) return matrix::find_index(x, ref, tol);
  for (std::size_t i = 0; i < ref.size(); ++i) {
    const double distance =
        x == 0.0 ? std::abs(ref[i] - x) * 100.0 : std::abs((ref[i] - x) / x) * 100.0;
    if (distance < tol) return static_cast<int32_t>(i) + 1;
  }
  return 0;
}

// Column and row of every topography point. A point off the nodes is a job
// error: every later step indexes the grid with these numbers.
std::vector<Surface_node> locate_surface(const Dmatrix& topo, std::span<const double> xs,
                                         std::span<const double> zs, double tolerance) {
  if (topo.rows() > 0 && topo.cols() < 2)
    fail("internal error: topography needs two columns (x, z)");
  const std::vector<double> xref(xs.begin(), xs.end()), zref(zs.begin(), zs.end());
  std::vector<Surface_node> nodes;
  nodes.reserve(static_cast<std::size_t>(topo.rows()));
  for (int k = 1; k <= topo.rows(); ++k) {
    const double x = topo(k, 1), z = topo(k, 2);
    const Surface_node p{node_index(z, zref, tolerance), node_index(x, xref, tolerance)};
    if (p.xi == 0 || p.zi == 0)
      fail("topography point " + std::to_string(k) + " (x = " + text_io::free_real(x) +
           ", z = " + text_io::free_real(z) + ") lies on no grid node");
    nodes.push_back(p);
  }
  return nodes;
}

std::string segment_name(std::size_t right_point) {
  return "topography segment from point " + std::to_string(right_point - 1) + " to point " +
         std::to_string(right_point);
}

// The marking steps of both routes on one model: element access with bounds
// checks, and the running list of collected finite-element elements.
class Surface_mesher {
 public:
  explicit Surface_mesher(Model_fwd_dcr2d& obj)
      : obj_(obj),
        grid_(grid_of(obj)),
        e2d_(element_map(grid_, "2dto1d")),
        n2d_(node_map(grid_)),
        nx_(grid_.get_nx_element()),
        nz_(grid_.get_nz_element()) {
    const auto noelem = static_cast<std::size_t>(grid_.get_n_element());
    if (obj.val.size() != noelem || obj.sval.size() != noelem || obj.elem.size() != noelem ||
        obj.approx.size() != static_cast<std::size_t>(grid_.get_n_node()))
      fail("internal error: the model's arrays do not match its grid");
  }

  int32_t nx() const { return nx_; }
  int32_t nz() const { return nz_; }

  // Element (r, c); a job error naming `where` when the grid has no such element.
  int32_t element(int32_t r, int32_t c, const std::string& where) const {
    if (r < 1 || r > nz_ || c < 1 || c > nx_)
      fail(where + " needs element (row " + std::to_string(r) + ", column " + std::to_string(c) +
           "), which lies outside the grid of " + std::to_string(nz_) + " x " +
           std::to_string(nx_) + " elements");
    return e2d_(r, c);
  }

  double& val(int32_t k) { return obj_.val[static_cast<std::size_t>(k - 1)]; }
  double& sval(int32_t k) { return obj_.sval[static_cast<std::size_t>(k - 1)]; }
  int32_t code(int32_t k) const { return obj_.elem[static_cast<std::size_t>(k - 1)]; }

  void set_both(int32_t k, double v) {
    val(k) = v;
    sval(k) = v;
  }

  // Element (r, jj) becomes a finite-element element of code `c`; its corner
  // nodes become finite-element nodes; its neighbours get code `pseudo`.
  void mark(int32_t r, int32_t jj, int32_t c, int32_t pseudo, const std::string& where) {
    const int32_t k = element(r, jj, where);
    obj_.elem[static_cast<std::size_t>(k - 1)] = c;
    collected_.push_back(k);
    for (const int32_t node : {n2d_(r, jj), n2d_(r + 1, jj), n2d_(r, jj + 1), n2d_(r + 1, jj + 1)})
      obj_.approx[static_cast<std::size_t>(node - 1)] = 2;
    add_pseudo_fe_element(obj_, e2d_, r, jj, pseudo);
  }

  // Common end of both routes: the collected elements and the interface rows.
  void finish() {
    obj_.fecell = matrix::int_unique_rank1(collected_);
    obj_.nfe = static_cast<int32_t>(collected_.size());
    air_earth_interface(obj_, grid_.get_nx_node() - 1, grid_.get_nz_node() - 1);
  }

 private:
  Model_fwd_dcr2d& obj_;
  const Gr2d_dcr_new& grid_;
  const Imatrix& e2d_;
  const Imatrix& n2d_;
  int32_t nx_;
  int32_t nz_;
  std::vector<int32_t> collected_;
};

// Row of the cut element of a sloping segment in element column jj; the
// surface moves one node row per column. A job error when the row leaves the
// grid (a segment steeper than the grid has rows for).
int32_t sloping_row(const Surface_node& a, Slope s, int32_t jj, int32_t nz,
                    const std::string& where) {
  const int32_t r = s == Slope::rising ? a.zi - 1 - (jj - a.xi) : a.zi + (jj - a.xi);
  if (r < 1)
    fail(where + " rises above the top of the grid in element column " + std::to_string(jj));
  if (r > nz)
    fail(where + " falls below the bottom of the grid in element column " + std::to_string(jj));
  return r;
}

}  // namespace

void initial_model_hy_autogen(Model_fwd_dcr2d& obj, std::span<const double> xs,
                              std::span<const double> zs, const Dmatrix& topo) {
  const double air = 1.0 / job_param(obj).airresist;
  Surface_mesher m(obj);
  const std::vector<Surface_node> pts = locate_surface(topo, xs, zs, autogen_tolerance);
  const std::size_t npts = pts.size();

  // Rows 1..last of column jj become air.
  const auto air_above = [&](int32_t last, int32_t jj, const std::string& where) {
    for (int32_t row = 1; row <= last; ++row) m.set_both(m.element(row, jj, where), air);
  };

  for (std::size_t k = 1; k < npts; ++k) {
    const Surface_node a = pts[k - 1], b = pts[k];
    const Slope s = slope(a, b);
    const std::string where = segment_name(k + 1);
    for (int32_t jj = a.xi; jj <= b.xi - 1; ++jj) {
      if (s == Slope::flat) {
        m.element(a.zi, jj, where);
        air_above(a.zi - 1, jj, where);
        m.mark(a.zi, jj, 3, 3, where);
        continue;
      }
      const int32_t r = sloping_row(a, s, jj, m.nz(), where);
      air_above(r - 1, jj, where);
      m.sval(m.element(r, jj, where)) = air;
      const int32_t c = s == Slope::rising ? 3 : 2;
      m.mark(r, jj, c, c, where);
    }
  }
  if (npts == 0) {
    m.finish();
    return;
  }

  // Left edge: the surface continues flat from the first point to the left
  // border, taking the air and earth of the column under that point. A lone
  // point counts as a flat segment.
  const Surface_node first = pts.front();
  if (first.xi > 1) {
    const std::string where = "left edge of the topography (point 1)";
    const bool rising = npts >= 2 && slope(pts[0], pts[1]) == Slope::rising;
    const int32_t zi = first.zi, xi = first.xi;
    const int32_t ref = m.element(rising ? zi - 1 : zi, xi, where);
    const int32_t ref_code = m.code(ref);
    const int32_t copied_rows = ref_code == 3 ? zi - 2 : zi - 1;
    for (int32_t jj = 1; jj <= xi - 1; ++jj) {
      for (int32_t row = 1; row <= copied_rows; ++row) {
        const int32_t from = m.element(row, xi, where), to = m.element(row, jj, where);
        m.val(to) = m.val(from);
        m.sval(to) = m.sval(from);
      }
      if (ref_code == 2) {
        m.set_both(m.element(zi, jj, where), m.val(m.element(zi, xi, where)));
        m.mark(zi, jj, 2, 3, where);
      } else if (ref_code == 3) {
        if (zi > 1) m.set_both(m.element(zi - 1, jj, where), m.sval(m.element(zi - 1, xi, where)));
        m.mark(zi, jj, 3, 3, where);
      }
    }
  }

  // Right edge: likewise from the last point to the right border.
  const Surface_node last = pts.back();
  if (last.xi <= m.nx()) {
    const std::string where = "right edge of the topography (point " + std::to_string(npts) + ")";
    const bool falling = npts >= 2 && slope(pts[npts - 2], pts[npts - 1]) == Slope::falling;
    const int32_t zi = last.zi, xi = last.xi;
    const int32_t ref = m.element(falling ? zi - 1 : zi, xi - 1, where);
    const int32_t ref_code = m.code(ref);
    if (ref_code != 2 && ref_code != 3) std::cout << "FD Flat Case" << std::endl;
    for (int32_t jj = xi; jj <= m.nx(); ++jj) {
      for (int32_t row = 1; row <= zi - 1; ++row) {
        const int32_t from = m.element(row, xi - 1, where), to = m.element(row, jj, where);
        m.val(to) = m.val(from);
        m.sval(to) = m.sval(from);
      }
      if (ref_code == 2) {
        m.set_both(m.element(zi - 1, jj, where), m.sval(m.element(zi - 1, xi - 1, where)));
        m.mark(zi, jj, 2, 2, where);
      } else if (ref_code == 3) {
        m.set_both(m.element(zi, jj, where), m.val(m.element(zi, xi - 1, where)));
        m.mark(zi, jj, 3, 3, where);
      }
    }
  }

  m.finish();
}

void initial_model_hy_assigned(Model_fwd_dcr2d& obj, std::span<const double> xs,
                               std::span<const double> zs, const Dmatrix& topo) {
  Surface_mesher m(obj);
  const std::vector<Surface_node> pts = locate_surface(topo, xs, zs, assigned_tolerance);
  const std::size_t npts = pts.size();

  for (std::size_t k = 1; k < npts; ++k) {
    const Surface_node a = pts[k - 1], b = pts[k];
    const Slope s = slope(a, b);
    const std::string where = segment_name(k + 1);
    for (int32_t jj = a.xi; jj <= b.xi - 1; ++jj) {
      if (s == Slope::flat) {
        m.mark(a.zi, jj, 3, 3, where);
        continue;
      }
      const int32_t r = sloping_row(a, s, jj, m.nz(), where);
      const int32_t cut = m.element(r, jj, where);
      // The air part takes the air of the model: the element above the cut
      // one, or in the top row its neighbour on the air side.
      if (s == Slope::rising) {
        const int32_t from = r > 1 ? m.element(r - 1, jj, where) : m.element(1, jj - 1, where);
        m.sval(cut) = m.val(from);
        m.mark(r, jj, 3, 3, where);
      } else {
        const int32_t from = r > 1 ? m.element(r - 1, jj, where) : m.element(1, jj + 1, where);
        m.sval(cut) = m.sval(from);
        m.mark(r, jj, 2, 2, where);
      }
    }
  }

  if (npts > 0) {
    const Surface_node first = pts.front(), last = pts.back();
    const std::string left = "left edge of the topography (point 1)";
    for (int32_t jj = 1; jj <= first.xi - 1; ++jj) m.mark(first.zi, jj, 3, 3, left);
    const std::string right = "right edge of the topography (point " + std::to_string(npts) + ")";
    for (int32_t jj = last.xi; jj <= m.nx(); ++jj) m.mark(last.zi, jj, 3, 3, right);
  }

  m.finish();
}

void add_pseudo_fe_element(Model_fwd_dcr2d& obj, const Imatrix& e2d, int32_t nz, int32_t nx,
                           int32_t elem_code) {
  const int32_t noelz = e2d.rows(), noelx = e2d.cols();
  static constexpr int32_t offsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                            {0, 1},   {1, -1}, {1, 0},  {1, 1}};
  for (const auto& d : offsets) {
    const int32_t row = nz + d[0], column = nx + d[1];
    if (row < 1 || row > noelz || column < 1 || column > noelx) continue;
    int32_t& code = obj.elem.at(static_cast<std::size_t>(e2d(row, column) - 1));
    if (code == 1) code = elem_code;
  }
}

void air_earth_interface(Model_fwd_dcr2d& obj, int32_t nx, int32_t nz) {
  param_dcr2d::Param_dcr2d& param = job_param(obj);
  const Gr2d_dcr_new& g = grid_of(obj);
  if (nx < 1 || nz < 1 || nx > g.get_nx_element() || nz > g.get_nz_element())
    fail("internal error: interface rows asked for " + std::to_string(nx) + " x " +
         std::to_string(nz) + " elements on a grid of " + std::to_string(g.get_nx_element()) +
         " x " + std::to_string(g.get_nz_element()));
  const Imatrix& e2d = element_map(g, "2dto1d");
  const Imatrix& e1d = element_map(g, "1dto2d");  // element -> (column, row)
  const int32_t noelem = g.get_n_element();
  if (obj.val.size() != static_cast<std::size_t>(noelem) || obj.sval.size() != obj.val.size() ||
      obj.elem.size() != obj.val.size())
    fail("internal error: the model's arrays do not match its grid");

  obj.aerow.assign(static_cast<std::size_t>(nx) + 1, 0);
  auto aerow = [&](int32_t ix) -> int32_t& { return obj.aerow[static_cast<std::size_t>(ix - 1)]; };

  // Elements whose two parts differ are cut by the surface; NaN on either
  // side counts as differing.
  double sum = 0.0;
  int32_t ndiffer = 0;
  for (int32_t k = 1; k <= noelem; ++k) {
    const auto i = static_cast<std::size_t>(k - 1);
    if (obj.val[i] == obj.sval[i]) continue;
    sum += obj.sval[i];
    ++ndiffer;
    const int32_t ix = e1d(k, 1), iz = e1d(k, 2);
    if (ix <= nx) aerow(ix) = obj.elem[i] == 2 ? iz : iz + 1;
  }
  // Without cut elements the job keeps its air resistivity.
  if (ndiffer > 0) param.airresist = 1.0 / (sum / ndiffer);

  // Other columns: the first element that is not air. Nearest integers are
  // compared in floating point, so huge resistivities do not overflow.
  const double air_level = std::round(param.airresist);
  for (int32_t ix = 1; ix <= nx; ++ix) {
    if (aerow(ix) != 0) continue;
    for (int32_t iz = 1; iz <= nz; ++iz)
      if (std::round(1.0 / obj.val[static_cast<std::size_t>(e2d(iz, ix) - 1)]) < air_level) {
        aerow(ix) = iz;
        break;
      }
  }
  aerow(nx + 1) = aerow(nx);
}

void create_list_of_earth_node(Model_fwd_dcr2d& obj, int32_t noxs, int32_t nozs) {
  const Gr2d_dcr_new& g = grid_of(obj);
  if (noxs < 0 || nozs < 0 || noxs > g.get_nx_node() || nozs > g.get_nz_node() ||
      obj.aerow.size() < static_cast<std::size_t>(noxs))
    fail("internal error: earth nodes asked for " + std::to_string(noxs) + " x " +
         std::to_string(nozs) + " nodes with " + std::to_string(obj.aerow.size()) +
         " interface rows");
  const Imatrix& n2d = node_map(g);

  Earth_node node;
  for (int32_t ix = 1; ix <= noxs; ++ix) {
    // A column without any earth element (aerow 0) keeps all its nodes.
    const int32_t top = std::max(obj.aerow[static_cast<std::size_t>(ix - 1)], 1);
    for (int32_t iz = top; iz <= nozs; ++iz) node.n.push_back(n2d(iz, ix));
  }
  node.numnp = static_cast<int32_t>(node.n.size());
  node.map.assign(static_cast<std::size_t>(g.get_n_node()), 0);
  for (int32_t i = 1; i <= node.numnp; ++i)
    node.map[static_cast<std::size_t>(node.n[static_cast<std::size_t>(i - 1)] - 1)] = i;
  obj.node = std::move(node);
}

}  // namespace varnel::dcr2dphy
