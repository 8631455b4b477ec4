#include "core/run/request_check.hpp"

#include <cstring>

#include "varnel/varnel.h"

namespace varnel::request_check {

namespace {

// Copies a field up to its first NUL; false when its 256 bytes hold none.
bool read_field(const char* field, std::string& text) {
  const void* nul = std::memchr(field, '\0', VARNEL_FIELD_SIZE);
  if (nul == nullptr) return false;
  text.assign(field, static_cast<const char*>(nul) - field);
  return true;
}

// The first failed check of the completed record, or an empty text.
std::string check_record(int32_t mode, const arg_reader::Arg_info& info) {
  if (info.data_file.empty()) return "no data file given (option -d)";
  if (info.response_file.empty()) return "no response file given (option -r)";
  if (mode == VARNEL_MODE_FORWARD && info.model_prior.empty())
    return "a forward run needs a model file (option -m or -m0)";
  if (info.enditer < 1 || info.enditer > 99)
    return "option -maxiter must lie in 1 ... 99, got " + std::to_string(info.enditer);
  if (info.ncore < 0) return "option -np must not be negative, got " + std::to_string(info.ncore);
  return {};
}

}  // namespace

std::string read_request(int32_t mode, int32_t argc, const char* arguments,
                         arg_reader::Arg_info& info) {
  if (static_cast<uint32_t>(mode) > 1) return "mode must be 0 (inversion) or 1 (forward)";
  if (argc < 2 || argc > 128 || argc % 2 != 0)
    return "the key/value block must hold 1 to 64 pairs, got " + std::to_string(argc) + " fields";
  if (arguments == nullptr) return "the key/value block is missing";
  std::string key, value;
  for (int32_t k = 0; k < argc / 2; ++k) {
    const char* pair = arguments + static_cast<std::size_t>(2 * k) * VARNEL_FIELD_SIZE;
    if (!read_field(pair, key))
      return "the key of pair " + std::to_string(k + 1) + " is not NUL-terminated";
    if (!read_field(pair + VARNEL_FIELD_SIZE, value))
      return "the value of pair " + std::to_string(k + 1) + " (" + key + ") is not NUL-terminated";
    try {
      arg_reader::arg_reader_tolvane(info, key, value);
    } catch (const arg_reader::Option_error& e) {
      return e.what();
    }
  }
  return check_record(mode, info);
}

}  // namespace varnel::request_check
