// One error file, applied to a small data set in the mode it names.
#include "core/inversion/ascii_dcr2d_error_file.hpp"
#include "core/inversion/compute_data_error_dcr2d.hpp"
#include "core/numerics/string_utility.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.err");
  return varnel_fuzz::run_one([&] {
    using namespace varnel;
    Dmatrix perror;
    std::string mode;
    ascii_dcr2d_error_file::ascii_dcr2d_error(perror, mode, path);
    // Four data on levels 1, 1, 2 and 3.
    dataio_dcr2d::Main_data_dcr2d d;
    d.nodata = 4;
    d.val = {100, 110, 90, 80};
    d.err = {1, 1, 1, 1};
    d.level = {1, 1, 2, 3};
    const std::vector<double> ref = d.val;
    compute_data_error_dcr2d::cal_error_perror_uniform_dcr2d(ref, d, 3.0);
    const std::string m(string_utility::rtrim(mode));
    if (m == "level") compute_data_error_dcr2d::cal_error_perror_level_dcr2d(ref, d, perror);
    if (m == "data") compute_data_error_dcr2d::cal_error_perror_data_dcr2d(ref, d, perror, path);
  });
}
