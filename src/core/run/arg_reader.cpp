#include "core/run/arg_reader.hpp"

#include <cmath>

#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::arg_reader {

namespace {

using string_utility::rtrim;
using string_utility::strlowcase;
using string_utility::strupcase;

std::string text_value(std::string_view value) { return std::string(rtrim(value)); }

[[noreturn]] void malformed(std::string_view key, std::string_view value, const char* kind) {
  throw Option_error("option \"" + std::string(rtrim(key)) + "\": value \"" +
                     std::string(rtrim(value)) + "\" is not " + kind);
}

int32_t integer_value(std::string_view key, std::string_view value) {
  int32_t v = 0;
  if (!text_io::parse_free_int(value, v)) malformed(key, value, "an integer");
  return v;
}

// Reals must be finite: an infinite or NaN setting has no meaning for any option.
double real_value(std::string_view key, std::string_view value) {
  double v = 0.0;
  if (!text_io::parse_free_real(value, v) || !std::isfinite(v)) malformed(key, value, "a number");
  return v;
}

void yes_no(bool& field, std::string_view value) {
  const std::string v(rtrim(strlowcase(value)));
  if (v == "yes") field = true;
  if (v == "no") field = false;
}

// A blank value has no first item to read, which is as malformed as a bad number.
std::string word(std::string_view key, std::string_view value, std::size_t width) {
  const std::string item = text_io::first_free_item(value);
  if (item.empty()) malformed(key, value, "a word");
  return std::string(rtrim(std::string_view(item).substr(0, width)));
}

}  // namespace

void arg_reader_tolvane(Arg_info& info, std::string_view arg, std::string_view arg1) {
  const std::string key(rtrim(strlowcase(arg)));
  const std::string_view value = arg1;
  if (key == "-d") {
    info.data_file = text_value(value);
  } else if (key == "-e") {
    info.error_file = text_value(value);
  } else if (key == "-r") {
    info.response_file = text_value(value);
  } else if (key == "-m") {
    info.model_prior = text_value(value);
    info.model_initial = info.model_prior;
  } else if (key == "-m0") {
    info.model_prior = text_value(value);
  } else if (key == "-mi") {
    info.model_initial = text_value(value);
  } else if (key == "-np") {
    info.ncore = integer_value(arg, value);
  } else if (key == "-nx") {
    info.nxgrid = integer_value(arg, value);
  } else if (key == "-initial_rho") {
    info.initial_rho = real_value(arg, value);
  } else if (key == "-update") {
    info.model_updatefile = text_value(value);
  } else if (key == "-timelapse") {
    const std::string v(rtrim(strlowcase(value)));
    if (v == "cascaded") info.time_lapse = 1;
    if (v == "difference") info.time_lapse = 2;
  } else if (key == "-d0") {
    info.data_prior = text_value(value);
  } else if (key == "-r0") {
    info.response_prior = text_value(value);
  } else if (key == "-diffusion") {
    info.diffusion_parameter = real_value(arg, value);
  } else if (key == "-jacobian") {
    info.jk_method = strupcase(word(arg, value, 10));
  } else if (key == "-lambda") {
    // The option gives the multiplier; the record holds its logarithm, which
    // exists only for a positive multiplier.
    const double v = real_value(arg, value);
    if (!(v > 0.0)) malformed(arg, value, "a positive number");
    info.ilambda = std::log10(v);
  } else if (key == "-msub") {
    yes_no(info.msub, value);
  } else if (key == "-z_criteria") {
    info.z_criteria = real_value(arg, value);
  } else if (key == "-target") {
    info.target_level = real_value(arg, value);
  } else if (key == "-approx") {
    info.approx = word(arg, value, 2);
  } else if (key == "-minlambda") {
    info.minlambda = real_value(arg, value);
  } else if (key == "-espacing") {
    info.espacing = real_value(arg, value);
  } else if (key == "-sgrid") {
    info.sgrid_file = text_value(value);
  } else if (key == "-fixlambda") {
    yes_no(info.fixlambda, value);
  } else if (key == "-maxiter") {
    info.enditer = integer_value(arg, value);
  } else if (key == "-prelambda") {
    info.prelambda_file = text_value(value);
    info.fixlambda = true;
  } else if (key == "-ndiverge") {
    info.ndiverge = integer_value(arg, value);
  } else if (key == "-pci") {
    yes_no(info.pcinv, value);
  } else if (key == "-pcisign") {
    const std::string v(rtrim(strlowcase(value)));
    if (v == "plus") info.pciplus = true;
    if (v == "minus") info.pciplus = false;
  } else if (key == "-rmtemp") {
    yes_no(info.rmtemp, value);
  } else if (key == "-tlcutoff") {
    info.tl_cutoff = real_value(arg, value);
  } else if (key == "-tlrepair") {
    yes_no(info.tl_repair, value);
  } else if (key == "-plot") {
    yes_no(info.plot, value);
  }
}

}  // namespace varnel::arg_reader
