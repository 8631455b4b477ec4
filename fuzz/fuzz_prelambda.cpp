// One file of prescribed Lagrange multipliers.
#include "core/inversion/ascii_prelambda.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.prelambda");
  return varnel_fuzz::run_one([&] {
    std::vector<double> prelambda;
    int32_t n = 0;
    varnel::ascii_prelambda::read_prelambda_file(path, prelambda, n);
    if (n != static_cast<int32_t>(prelambda.size())) std::abort();
  });
}
