// The model file formats the drivers read and write, chosen by the extension
// of the file name. Only ".m2d" (any case) is known.
#pragma once

#include <string>
#include <string_view>

#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::modelio_dcr2d {

// The understood extensions as a user reads them in a message.
inline constexpr std::string_view model_file_extensions = ".m2d";

// The extension of a file name: the text after its last ".", folded to lower
// case; empty when the name has no ".".
std::string model_file_extension(std::string_view name);

// True when the name has an extension of a known model file format.
bool is_model_file_name(std::string_view name);

// Reads the model file into m (see ascii_dcr2d_m2d_modelfile) when its
// extension is known and returns true; otherwise does nothing and returns
// false, m left as it was. approx is the run's solver mode word.
bool read_dcr2d_model(const std::string& modelfile, dcr2dphy::Model_fwd_dcr2d& m,
                      std::string_view approx, const Dmatrix* topo = nullptr);

// Writes m to the model file when its extension is known and returns true;
// otherwise writes nothing and returns false.
bool write_dcr2d_model(const std::string& modelfile, const dcr2dphy::Model_fwd_dcr2d& m);

// Ends the job: "<name>: unknown model file extension; model files end in .m2d".
[[noreturn]] void fail_unknown_model_file(const std::string& name);

}  // namespace varnel::modelio_dcr2d
