// Model update files: the positions whose elements the inversion may change.
#pragma once

#include <cstdint>
#include <string>

#include "core/numerics/array2.hpp"

namespace varnel::ascii_updatefile_dcr2d {

struct Model_update_dcr2d {
  int32_t nelement = 0;  // number of locations
  Dmatrix location;      // nelement x 2: column 1 x, column 2 z
  std::string file;      // the file read, for messages; location i is on its line i + 1
};

// Reads a model update file: a first line whose count stands after a
// nine-character label ("(9x, i30)"), then one "x z" line per location.
Model_update_dcr2d read_model_updatefile_dcr2d(const std::string& update_file);

}  // namespace varnel::ascii_updatefile_dcr2d
