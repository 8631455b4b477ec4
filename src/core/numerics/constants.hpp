// The two shared values of a job: the marker of a missing response and the
// verbosity of the progress output. A job owns one Constants record.
#pragma once

#include <cstdint>

namespace varnel::constants {

struct Constants {
  // 0.0 until initialize_constants has run, then a quiet NaN: marks a response
  // value that does not exist.
  double rsp_nan = 0.0;
  // No operation of the library changes it; the forward solver prints extra
  // progress lines only when it equals 3.
  int32_t output_level = 0;
};

// Sets rsp_nan to the quiet NaN (bit pattern 0x7FF8000000000000).
void initialize_constants(Constants& c);

}  // namespace varnel::constants
