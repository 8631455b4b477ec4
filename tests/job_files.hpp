// Helpers of the tests that run whole jobs in a folder of their own: the
// folder, the numeric rows and prefixed lines of a text.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "subprocess.hpp"

namespace varnel_test {

// A fresh folder, removed with its content at the end of the test (kept when
// VARNEL_KEEP_TEST_DIRS is set, for a look at the files).
struct Work_dir {
  std::filesystem::path path;
  Work_dir() {
    std::string pattern =
        (std::filesystem::path(testing::TempDir()) / "varnel_job_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create " << pattern;
    path = pattern;
  }
  ~Work_dir() {
    if (std::getenv("VARNEL_KEEP_TEST_DIRS") != nullptr) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  Work_dir(const Work_dir&) = delete;
  Work_dir& operator=(const Work_dir&) = delete;

  std::string file(const std::string& name) const { return (path / name).string(); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name)) << text;
  }
  std::string read(const std::string& name) const { return slurp(file(name)); }
  bool exists(const std::string& name) const { return std::filesystem::exists(path / name); }
  void mkdir(const std::string& name) const { std::filesystem::create_directories(path / name); }
};

// The numbers of every line of `text` that holds exactly `fields` numbers.
inline std::vector<std::vector<double>> numeric_rows(const std::string& text, std::size_t fields) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream items(line);
    std::vector<double> v;
    std::string item;
    bool numeric = true;
    while (items >> item) {
      char* end = nullptr;
      const double x = std::strtod(item.c_str(), &end);
      if (end == item.c_str() || *end != '\0') numeric = false;
      v.push_back(x);
    }
    if (numeric && v.size() == fields) rows.push_back(v);
  }
  return rows;
}

inline std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  return found;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace varnel_test
