// One request of the entry point: its checks and the option record built
// from its key/value pairs. Byte 0 picks the mode (0, 1, 2 or -1); the rest
// is split at line ends into the fields, each copied into its 256 bytes (a
// field of 256 bytes or more is cut to 256 without a NUL).
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/run/request_check.hpp"
#include "fuzz_input.hpp"
#include "varnel/varnel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t modes[4] = {0, 1, 2, -1};
  const int32_t mode = modes[data[0] % 4];
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      fields.push_back(field);
      field.clear();
    } else {
      field += static_cast<char>(data[i]);
    }
  }
  if (!field.empty()) fields.push_back(field);
  // The block is exactly as long as its fields, so reading past them is a
  // sanitizer report.
  std::vector<char> block(fields.size() * VARNEL_FIELD_SIZE, '\0');
  for (size_t k = 0; k < fields.size(); ++k)
    std::memcpy(block.data() + k * VARNEL_FIELD_SIZE, fields[k].data(),
                std::min<size_t>(fields[k].size(), VARNEL_FIELD_SIZE));
  return varnel_fuzz::run_one([&] {
    varnel::arg_reader::Arg_info info;
    const std::string why = varnel::request_check::read_request(
        mode, static_cast<int32_t>(fields.size()), block.empty() ? nullptr : block.data(), info);
    // An accepted request is complete.
    if (why.empty() && (info.data_file.empty() || info.response_file.empty())) std::abort();
  });
}
