#include "core/inversion/jkcmjkt_dcr2d.hpp"

namespace varnel::jkcmjkt_dcr2d {

void allocate_gramman_dcr2d(Jkcmjkt_state& s, int32_t nodata) {
  if (s.gramman.rows() != nodata || s.gramman.cols() != nodata) s.gramman.assign(nodata, nodata);
}

}  // namespace varnel::jkcmjkt_dcr2d
