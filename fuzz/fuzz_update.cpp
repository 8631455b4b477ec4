// One model update file applied to a small model: the element-to-cell map
// and the inversion cells it gives.
#include "core/model/ascii_updatefile_dcr2d.hpp"
#include "fuzz_input.hpp"
#include "model_fixture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.update");
  return varnel_fuzz::run_one([&] {
    using namespace varnel;
    varnel_fuzz::Small_model s;
    const auto u = ascii_updatefile_dcr2d::read_model_updatefile_dcr2d(path);
    std::vector<int32_t> g2u;
    dcr2dphy::cal_update_model_dcr(s.m, g2u, &u);
    s.m.initialize_inv(&g2u);
  });
}
