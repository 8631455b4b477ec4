// The exported entry point: request checks, the one-job-per-process rule, and
// the translation of job errors into status codes.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "core/error.hpp"
#include "core/run/arg_reader.hpp"
#include "drivers.hpp"
#include "varnel/varnel.h"
#include "varnel_events.hpp"

namespace varnel::varnel_api {

namespace {

// Set when a request has passed validation and a driver is about to run; never
// reset. An atomic exchange lets exactly one of two concurrent callers run.
std::atomic<bool> used{false};

std::string last_error;

int32_t reject(std::string message) {
  last_error = std::move(message);
  return VARNEL_REJECTED;
}

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
  if (info.ncore < 0)
    return "option -np must not be negative, got " + std::to_string(info.ncore);
  return {};
}

void job_failed(const std::string& message) {
  last_error = message;
  std::cout << message << '\n';
  std::cout.flush();
}

// Runs the driver; every error of the job ends here as status 5.
int32_t run_driver(int32_t mode, arg_reader::Arg_info& info, int32_t& iteration) {
  int32_t status = VARNEL_OK;
  try {
    if (mode == VARNEL_MODE_FORWARD)
      solve_fwd(info, status, iteration);
    else
      solve_inv(info, status, iteration);
  } catch (const std::bad_alloc&) {
    job_failed("out of memory");
    status = VARNEL_JOB_FAILED;
  } catch (const std::exception& e) {
    job_failed(e.what());
    status = VARNEL_JOB_FAILED;
  } catch (...) {
    job_failed("the job failed with an unknown error");
    status = VARNEL_JOB_FAILED;
  }
  if (status == VARNEL_JOB_FAILED) iteration = -1;
  return status;
}

int32_t run(int32_t mode, int32_t argc, const char* arguments, varnel_progress_fn callback,
            int32_t* final_iteration) {
  arg_reader::Arg_info info;
  if (final_iteration != nullptr) *final_iteration = -1;
  if (used.load()) return VARNEL_ALREADY_USED;
  last_error.clear();
  if (static_cast<uint32_t>(mode) > 1) return reject("mode must be 0 (inversion) or 1 (forward)");
  if (argc < 2 || argc > 128 || argc % 2 != 0)
    return reject("the key/value block must hold 1 to 64 pairs, got " + std::to_string(argc) +
                  " fields");
  if (arguments == nullptr) return reject("the key/value block is missing");
  if (final_iteration == nullptr) return reject("no place for the final iteration was given");
  std::string key, value;
  for (int32_t k = 0; k < argc / 2; ++k) {
    const char* pair = arguments + static_cast<std::size_t>(2 * k) * VARNEL_FIELD_SIZE;
    if (!read_field(pair, key))
      return reject("the key of pair " + std::to_string(k + 1) + " is not NUL-terminated");
    if (!read_field(pair + VARNEL_FIELD_SIZE, value))
      return reject("the value of pair " + std::to_string(k + 1) + " (" + key +
                    ") is not NUL-terminated");
    try {
      arg_reader::arg_reader_tolvane(info, key, value);
    } catch (const arg_reader::Option_error& e) {
      return reject(e.what());
    }
  }
  if (std::string why = check_record(mode, info); !why.empty()) return reject(why);
  if (used.exchange(true)) return VARNEL_ALREADY_USED;
  varnel_events::progress = callback;
  int32_t iteration = -1;
  const int32_t status = run_driver(mode, info, iteration);
  varnel_events::progress = nullptr;
  *final_iteration = iteration;
  return status;
}

}  // namespace

}  // namespace varnel::varnel_api

extern "C" {

VARNEL_EXPORT int32_t varnel_run(int32_t mode, int32_t argc, const char* arguments,
                                 varnel_progress_fn callback, int32_t* final_iteration) {
  try {
    return varnel::varnel_api::run(mode, argc, arguments, callback, final_iteration);
  } catch (...) {
    // Only building the option record can get here (memory exhausted while
    // copying texts); the request is rejected without work.
    return VARNEL_REJECTED;
  }
}

VARNEL_EXPORT int32_t varnel_abi_version(void) { return 1; }

VARNEL_EXPORT const char* varnel_last_error(void) {
  return varnel::varnel_api::last_error.c_str();
}

}  // extern "C"
