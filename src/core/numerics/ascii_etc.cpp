#include "core/numerics/ascii_etc.hpp"

#include <fstream>

#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_etc {

namespace {

// The file is opened for writing from its start; a file that cannot be opened
// leaves the stream failed, and every later write is a no-op.
std::ofstream open_dump(const std::string& savefile) {
  return std::ofstream(std::string(string_utility::rtrim(savefile)),
                       std::ios::out | std::ios::trunc);
}

template <class T>
void write_vector(const std::vector<T>& v, const std::string& savefile) {
  std::ofstream out = open_dump(savefile);
  for (const T& x : v) out << text_io::free_format({text_io::Item(x)}) << '\n';
}

template <class T>
void write_matrix(const Array2<T>& v, const std::string& savefile) {
  std::ofstream out = open_dump(savefile);
  std::vector<text_io::Item> record;
  for (int i = 1; i <= v.rows(); ++i) {
    record.clear();
    for (int j = 1; j <= v.cols(); ++j) record.emplace_back(v(i, j));
    out << text_io::free_format(record) << '\n';
  }
}

}  // namespace

void write_double_vector(const std::vector<double>& v, const std::string& savefile) {
  write_vector(v, savefile);
}

void write_integer_vector(const std::vector<int32_t>& v, const std::string& savefile) {
  write_vector(v, savefile);
}

void write_double_matrix(const Dmatrix& v, const std::string& savefile) {
  write_matrix(v, savefile);
}

void write_integer_matrix(const Imatrix& v, const std::string& savefile) {
  write_matrix(v, savefile);
}

}  // namespace varnel::ascii_etc
