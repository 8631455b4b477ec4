// One model file read into an inverse model, written back, and given one
// inversion cell per element.
#include "core/model/modelio_dcr2d.hpp"
#include "fuzz_input.hpp"
#include "model_fixture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.m2d");
  return varnel_fuzz::run_one([&] {
    using namespace varnel;
    param_dcr2d::Param_dcr2d param;
    dcr2dphy::Dcr2dphy_state phy;
    grid2d_dcr::Gr2d_dcr_new grid;
    dcr2dphy::Model_inv_dcr2d m({&param, &phy});
    m.set_grid(&grid);
    modelio_dcr2d::read_dcr2d_model(path, m, "fd");
    modelio_dcr2d::write_dcr2d_model(varnel_fuzz::work_dir() + "/output.m2d", m);
    std::vector<int32_t> g2u;
    dcr2dphy::cal_update_model_dcr(m, g2u);
    m.initialize_inv(&g2u);
  });
}
