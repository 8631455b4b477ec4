#include "core/error.hpp"

namespace varnel {

void fail(const std::string& message) { throw Error(message); }

void fail_at(const std::string& file, int line, const std::string& what) {
  if (line > 0) throw Error(file + ", line " + std::to_string(line) + ": " + what);
  throw Error(file + ": " + what);
}

}  // namespace varnel
