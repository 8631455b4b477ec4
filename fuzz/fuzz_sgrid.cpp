// One grid-coordinate file, then the prior model generated from a small
// survey with those depth levels.
#include "core/model/ascii_sgrid.hpp"
#include "core/model/prior_model_dcr2d.hpp"
#include "core/survey/dataio_dcr2d.hpp"
#include "fuzz_input.hpp"
#include "model_fixture.hpp"

namespace {

const char* const kSurvey =
    "general\n1.0\n11\n3\nType of measurement (0=app. resistivity,1=resistance)\n0\n3\n1\n0\n"
    "4 1 0 2 0 3 0 4 0 95\n4 2 0 3 0 4 0 5 0 105\n4 1 0 2 0 4 0 5 0 99\n0\n";

varnel::dataio_dcr2d::Main_data_dcr2d* survey = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string file =
      varnel_fuzz::write_input(reinterpret_cast<const uint8_t*>(kSurvey),
                               std::char_traits<char>::length(kSurvey), "survey.dat");
  static varnel::dataio_dcr2d::Main_data_dcr2d d;
  static varnel::dataio_dcr2d::Dataio_state io;
  static varnel::txrx_info_dcr2d::Txrx_info_state txrx;
  varnel::dataio_dcr2d::read_dcr2d_datafile(d, file, io, txrx);
  survey = &d;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.sgrid");
  return varnel_fuzz::run_one([&] {
    using namespace varnel;
    std::vector<double> sgrid;
    ascii_sgrid::read_sgrid_dcr2d(path, sgrid);
    if (sgrid.empty()) return;
    param_dcr2d::Param_dcr2d param;
    dcr2dphy::Dcr2dphy_state phy;
    grid2d_dcr::Gr2d_dcr_new grid;
    dcr2dphy::Model_inv_dcr2d m({&param, &phy});
    m.set_grid(&grid);
    double initial_rho = 0.0;
    prior_model_dcr2d::Prior_model_state state;
    prior_model_dcr2d::create_prior_model_dcr2d(*survey, m, "fd", initial_rho, state, &sgrid);
  });
}
