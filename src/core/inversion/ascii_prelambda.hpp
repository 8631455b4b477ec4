// The file of prescribed Lagrange multipliers: one log10 multiplier per
// iteration, used instead of the multiplier search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::ascii_prelambda {

// Reads the file (only the first 100 characters of the name count). Line 1 is
// a free text ending in the number of multipliers N, read after the first ':'
// when the line has one, else from the whole line; lines 2 ... N+1 hold one
// log10 multiplier each. prelambda is filled only when it is empty on entry;
// nprelambda becomes N. A missing file, a count that is not a positive
// integer, or a missing or malformed multiplier ends the job with a message
// naming the file and the line.
void read_prelambda_file(const std::string& file_name, std::vector<double>& prelambda,
                         int32_t& nprelambda);

}  // namespace varnel::ascii_prelambda
