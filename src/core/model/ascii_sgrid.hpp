// sgrid files: a list of coordinates for the grid generator. The first line
// holds a label, a colon and the number of values n; n lines of one value
// each follow.
#pragma once

#include <string>
#include <vector>

namespace varnel::ascii_sgrid {

// Replaces the content of sgrid with the values of the file; an empty list
// when the first line has nothing after its colon. A missing file, a first
// line without a colon, a malformed, negative or absurd count, and a value
// that is malformed, missing or not finite throw varnel::Error naming the
// file and the line; sgrid is then left as it was.
void read_sgrid_dcr2d(const std::string& sgrid_file, std::vector<double>& sgrid);

}  // namespace varnel::ascii_sgrid
