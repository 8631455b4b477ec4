// The error type of a job. Every failure that ends a job (a missing file, a
// malformed number, a singular system) is thrown as an Error carrying the
// message the user sees; varnel_run catches it, writes it to the log and
// returns "the job failed". The library never ends the host process.
#pragma once

#include <stdexcept>
#include <string>

namespace varnel {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Ends the job with `message`.
[[noreturn]] void fail(const std::string& message);

// Ends the job with a message naming a place in an input file:
// "<file>, line <line>: <what>" (the line is left out when it is 0 or less).
[[noreturn]] void fail_at(const std::string& file, int line, const std::string& what);

}  // namespace varnel
