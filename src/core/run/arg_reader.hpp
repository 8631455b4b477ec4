// The run-option record and the procedure that applies one key/value pair.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.hpp"

namespace varnel::arg_reader {

// All settings of a job. Text fields hold their value without trailing blanks
// (trailing blanks carry no meaning); a field is blank when it is empty.
struct Arg_info {
  std::string data_file;         // primary data file; required
  std::string error_file;        // uniform error in per cent, or an error file
  std::string response_file;     // response file to write; required
  std::string model_prior;       // prior model; in a forward run the model
  std::string model_initial;     // starting model of an inversion
  std::string prelambda_file;    // prescribed Lagrange multipliers
  int32_t ncore = 0;             // worker threads; 0 = automatic
  int32_t nxgrid = 2;            // grid subdivision of generated grids
  double initial_rho = 0.0;      // homogeneous start model; 0 = from the data
  std::string model_updatefile;  // elements the inversion may change
  int32_t time_lapse = 1;        // 1 cascaded, 2 difference inversion
  std::string data_prior;        // reference data of a difference inversion
  std::string response_prior;    // response of the reference model
  std::string jk_method = "FULL";  // sensitivity method, at most 10 characters
  double diffusion_parameter = 4.0;
  double ilambda = 2.0;          // log10 of the initial Lagrange multiplier
  bool msub = false;             // merge the cells below the spread
  double z_criteria = 0.0;       // depth of that block; 0 = two spacings
  double target_level = 1.0;     // target RMS misfit
  std::string approx = "hy";     // forward solver "fd", "fe" or "hy"
  double minlambda = -10.0;      // log10 of the smallest multiplier
  double espacing = 0.0;         // electrode spacing; 0 = from the data
  std::string sgrid_file;        // grid coordinates of the generated grid
  bool fixlambda = false;        // prescribed multipliers instead of a search
  int32_t enditer = 20;          // maximum number of iterations, 1 to 99
  int32_t ndiverge = 1;          // non-improving iterations tolerated
  bool pcinv = false;            // pattern-constrained inversion
  bool pciplus = false;          // sign of the pattern constraint
  bool rmtemp = true;            // stored only
  bool tl_repair = true;         // stored only
  double tl_cutoff = 10.0;       // stored only
  bool plot = false;             // stored only
};

// A numeric option value that is blank or not a number. The entry point turns
// it into a rejected request.
class Option_error : public Error {
 public:
  using Error::Error;
};

// Applies one pair: `arg` is the key, `arg1` the value (blank-padded texts;
// trailing blanks are ignored). Unknown keys are ignored. Throws Option_error
// for a malformed numeric value.
void arg_reader_tolvane(Arg_info& info, std::string_view arg, std::string_view arg1);

}  // namespace varnel::arg_reader
