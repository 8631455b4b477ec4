// The exported entry point: the request checks (core/run/request_check), the
// one-job-per-process rule, and the translation of job errors into status codes.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <string>

#include "core/error.hpp"
#include "core/run/arg_reader.hpp"
#include "core/run/request_check.hpp"
#include "drivers.hpp"
#include "varnel/varnel.h"
#include "varnel_events.hpp"

namespace varnel::varnel_api {

namespace {

// Set when a request has passed validation and a driver is about to run; never
// reset. An atomic exchange lets exactly one of two concurrent callers run.
std::atomic<bool> used{false};

// The message of the last rejection or failure. A refused second caller
// (status 4) never touches it; the lock keeps a rejection on one thread from
// racing with the end of a job on another.
std::mutex last_error_lock;
std::string last_error;

void set_last_error(std::string message) {
  const std::lock_guard<std::mutex> hold(last_error_lock);
  last_error = std::move(message);
}

void job_failed(const std::string& message) {
  set_last_error(message);
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
  std::string why = final_iteration == nullptr
                        ? "no place for the final iteration was given"
                        : request_check::read_request(mode, argc, arguments, info);
  if (!why.empty()) {
    set_last_error(std::move(why));
    return VARNEL_REJECTED;
  }
  if (used.exchange(true)) return VARNEL_ALREADY_USED;
  set_last_error({});
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
  // A copy per thread: the text handed out stays valid while another thread
  // replaces the message.
  thread_local std::string copy;
  {
    const std::lock_guard<std::mutex> hold(varnel::varnel_api::last_error_lock);
    copy = varnel::varnel_api::last_error;
  }
  return copy.c_str();
}

}  // extern "C"
