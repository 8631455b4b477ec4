// The working state of one job. Each module whose procedures share state
// during a run keeps it in a member of Job; the drivers create one Job and pass
// the members to the procedures that touch them. Nothing of a job outlives it,
// so tests may run many jobs in one process; the one-job-per-process rule is
// kept at the C entry point only.
#pragma once

#include "core/run/arg_reader.hpp"

namespace varnel {

struct Job {
  explicit Job(arg_reader::Arg_info& options) : info(options) {}

  arg_reader::Arg_info& info;  // the run options of the request
};

}  // namespace varnel
