// Placeholder bodies so the library links while the module is written.
#include "core/inversion/occam.hpp"
#include "core/error.hpp"

namespace varnel::occam {
void cal_data_covariance(Occam_state& o, const std::vector<double>& val,
                         const std::vector<double>& err, bool pcinv, int32_t tlinv) { varnel::fail("not implemented yet"); }
double cal_rms(Occam_state& o, const std::vector<double>& val, bool pcinv, bool pciplus) { varnel::fail("not implemented yet"); }
double cal_rms_tl(Occam_state& o, const std::vector<double>& val, const std::vector<double>& logd0,
                  const std::vector<double>& logr0) { varnel::fail("not implemented yet"); }
void cal_rms_sep_dcr2d(const Occam_state& o, std::vector<double>& rms,
                       const std::vector<double>& val, const dataio_dcr2d::Dataio_state& io) { varnel::fail("not implemented yet"); }
double cal_model_diff(const std::vector<double>& m, const std::vector<double>& m0) { varnel::fail("not implemented yet"); }
}
