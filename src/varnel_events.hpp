// The progress callback of the job in progress and the function that raises
// progress events.
#pragma once

#include <cstdint>

#include "varnel/varnel.h"

namespace varnel::varnel_events {

// The callback of the running job; null outside a job.
extern varnel_progress_fn progress;

// Flushes standard output, then standard error, then calls the callback (when
// one is set) with the three values, so a host that captures the log sees every
// line written before the event.
void emit_progress(int32_t stage, int32_t iteration, double rms);

}  // namespace varnel::varnel_events
