// The checks of a run request at the entry point: the mode, the field count,
// every key and value field of the key/value block, and the completed option
// record. Kept apart from the entry point so that they can be exercised
// without running a job.
#pragma once

#include <cstdint>
#include <string>

#include "core/run/arg_reader.hpp"

namespace varnel::request_check {

// Checks mode and field count, applies the pairs of the key/value block to
// `info` in order and checks the completed record. Returns an empty text
// when the request is accepted, else why it is rejected (the first failed
// check). Reads exactly `argc` fields of 256 bytes from `arguments`.
std::string read_request(int32_t mode, int32_t argc, const char* arguments,
                         arg_reader::Arg_info& info);

}  // namespace varnel::request_check
