// What every fuzz target shares: the input written to a file of its own (the
// readers open files by name), the log silenced, and the rule that a run
// ends either normally or with a job error. Any other exception escapes and
// ends the run, which libFuzzer reports with the input that caused it.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>

#include "core/error.hpp"

namespace varnel_fuzz {

// A folder of this process for the input and whatever a target writes.
inline const std::string& work_dir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::filesystem::path p = base != nullptr && *base != '\0' ? base : "/tmp";
    p /= "varnel_fuzz_" + std::to_string(static_cast<long>(::getpid()));
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return dir;
}

// Writes the input to <work_dir>/<name> and returns that path.
inline std::string write_input(const uint8_t* data, std::size_t size, const std::string& name) {
  const std::string path = work_dir() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

// A stream buffer that drops everything: the readers report on standard
// output, which a fuzz run discards (a growing buffer would count as a leak).
class Null_buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Runs one parse; a job error is an accepted outcome.
template <class F>
int run_one(F&& parse) {
  static Null_buffer null;
  static const bool silenced = [] {
    std::cout.rdbuf(&null);
    return true;
  }();
  (void)silenced;
  try {
    parse();
  } catch (const varnel::Error&) {
  }
  return 0;
}

}  // namespace varnel_fuzz
