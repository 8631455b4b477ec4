#include "varnel_events.hpp"

#include <cstdio>
#include <iostream>

namespace varnel::varnel_events {

varnel_progress_fn progress = nullptr;

void emit_progress(int32_t stage, int32_t iteration, double rms) {
  std::cout.flush();
  std::fflush(stdout);
  std::cerr.flush();
  std::fflush(stderr);
  if (progress != nullptr) progress(stage, iteration, rms);
}

}  // namespace varnel::varnel_events
