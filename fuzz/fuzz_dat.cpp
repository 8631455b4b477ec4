// One DAT data file through the reader, the response writer and the prior
// model generation.
#include "survey_pipeline.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.dat");
  return varnel_fuzz::run_one([&] { varnel_fuzz::survey_pipeline(path); });
}
