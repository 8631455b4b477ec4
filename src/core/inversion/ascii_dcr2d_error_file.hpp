// The error file: a table of error percentages, per pseudo-section level
// ("level" mode) or per datum ("data" mode).
//
//   line 1        a label and the mode word
//   line 2        a label and the number of table rows N
//   lines 3..N+2  two numbers: the key (a level; ignored in data mode) and
//                 the error in per cent
#pragma once

#include <string>

#include "core/numerics/array2.hpp"

namespace varnel::ascii_dcr2d_error_file {

// Reads the table into `error` (N x 2) and the mode word into `error_mode`:
// the second item of line 1 cut to 10 characters, leading blanks removed,
// folded to lower case and cut to 5 characters. Items are separated by blanks
// or commas; items longer than 10 characters are cut to their first 10. A
// missing file, a line with too few items, a count that is not a positive
// integer, a malformed or non-finite number, or a file that ends before the
// N-th row ends the job with a message naming the file and the line.
void ascii_dcr2d_error(Dmatrix& error, std::string& error_mode, const std::string& error_file);

}  // namespace varnel::ascii_dcr2d_error_file
