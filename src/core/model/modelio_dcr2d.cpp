#include "core/model/modelio_dcr2d.hpp"

#include "core/error.hpp"
#include "core/model/ascii_dcr2d_m2d_modelfile.hpp"
#include "core/numerics/string_utility.hpp"

namespace varnel::modelio_dcr2d {

std::string model_file_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return string_utility::strlowcase(name.substr(dot + 1));
}

bool is_model_file_name(std::string_view name) { return model_file_extension(name) == "m2d"; }

// The name is folded only to find its extension; the file is opened under
// the name as given, so "MODEL.M2D" is found on a case-sensitive file system.
bool read_dcr2d_model(const std::string& modelfile, dcr2dphy::Model_fwd_dcr2d& m,
                      std::string_view approx, const Dmatrix* topo) {
  if (!is_model_file_name(modelfile)) return false;
  ascii_dcr2d_m2d_modelfile::read_dcr2d_m2d_modelfile(modelfile, m, approx, topo);
  return true;
}

bool write_dcr2d_model(const std::string& modelfile, const dcr2dphy::Model_fwd_dcr2d& m) {
  if (!is_model_file_name(modelfile)) return false;
  ascii_dcr2d_m2d_modelfile::write_dcr2d_m2d_modelfile(modelfile, m);
  return true;
}

void fail_unknown_model_file(const std::string& name) {
  fail(name + ": unknown model file extension; model files end in " +
       std::string(model_file_extensions));
}

}  // namespace varnel::modelio_dcr2d
