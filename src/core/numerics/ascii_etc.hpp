// Plain-text dumps of vectors and matrices for debugging. Each routine creates
// (or overwrites) the named file and writes free-format records: reals with 17
// significant digits, integers in plain decimal, values of a record separated
// by blanks. Errors while opening or writing the file are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::ascii_etc {

// One value per line, in index order.
void write_double_vector(const std::vector<double>& v, const std::string& savefile);
void write_integer_vector(const std::vector<int32_t>& v, const std::string& savefile);

// One line per row, the row's values in column order.
void write_double_matrix(const Dmatrix& v, const std::string& savefile);
void write_integer_matrix(const Imatrix& v, const std::string& savefile);

}  // namespace varnel::ascii_etc
