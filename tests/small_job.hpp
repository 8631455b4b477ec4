// A small valid job for the tests that run whole jobs in child processes:
// seven Wenner-alpha data on electrodes at x = 1 ... 8 m on flat ground, and
// a 100 ohm-m model whose grid has a node at every electrode.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace varnel_test {

// Node columns: a node every 0.5 m from 0 to 12 m, padding that widens
// outwards. `padding` = false leaves out the outermost columns (another grid
// for the same survey).
inline std::vector<double> small_grid_x(bool padding = true) {
  std::vector<double> xs;
  if (padding) xs.push_back(-30);
  for (double x : {-14.0, -6.0, -2.0, -1.0, 0.0}) xs.push_back(x);
  for (int i = 1; i <= 24; ++i) xs.push_back(0.5 * i);
  for (double x : {13.0, 14.0, 16.0, 20.0, 28.0}) xs.push_back(x);
  if (padding) xs.push_back(44);
  return xs;
}

inline std::vector<double> small_grid_z() {
  return {0.0, 0.25, 0.5, 0.75, 1.0,  1.5,  2.0,  2.5,  3.0,
          4.0, 5.0,  6.0, 8.0,  10.0, 14.0, 20.0, 30.0, 45.0};
}

// A model file of the grid; every element `rho` ohm-m, as its own line.
inline std::string small_model_text(const std::vector<double>& xs, const std::vector<double>& zs,
                                    const std::string& rho = "100.0") {
  std::ostringstream s;
  char line[64];
  s << "RMS Misfit:    0.00000\n";
  std::snprintf(line, sizeof line, "%4zu %4zu\n", xs.size() - 1, zs.size() - 1);
  s << line << "Horizontal Grid:\n";
  for (double x : xs) s << x << "\n";
  s << "Vertical Grid:\n";
  for (double z : zs) s << z << "\n";
  s << "Resistivity:\n";
  for (std::size_t e = 1; e < (xs.size() - 1) * (zs.size() - 1) + 1; ++e) s << rho << "\n";
  return s.str();
}

// The line of element e's resistivity in small_model_text.
inline int small_model_element_line(const std::vector<double>& xs, const std::vector<double>& zs,
                                    int e) {
  return 3 + static_cast<int>(xs.size()) + 1 + static_cast<int>(zs.size()) + 1 + e;
}

// Wenner-alpha quadruples (A, B, M, N) on electrodes at x = 1 ... 8.
inline std::vector<std::vector<double>> small_wenner_rows() {
  std::vector<std::vector<double>> rows;
  for (int a = 1; a <= 2; ++a)
    for (int x = 1; x + 3 * a <= 8; ++x)
      rows.push_back({1.0 * x, x + 3.0 * a, x + 1.0 * a, x + 2.0 * a});
  return rows;
}

// A DAT file in the general layout (header lines 1 to 9, datum i on line
// 9 + i, the topography count after the last datum); `value` is the
// apparent resistivity of every datum, `shift` moves every electrode along x.
inline std::string small_dat_text(const std::string& value = "100", double shift = 0.0) {
  const auto rows = small_wenner_rows();
  std::ostringstream s;
  s << "small job\n1.0\n11\n1\nType of measurement (0=app. resistivity,1=resistance)\n0\n"
    << rows.size() << "\n1\n0\n";
  for (const auto& r : rows) {
    s << 4;
    for (double x : r) s << " " << x + shift << " 0";
    s << " " << value << "\n";
  }
  s << "0\n";
  return s.str();
}

}  // namespace varnel_test
