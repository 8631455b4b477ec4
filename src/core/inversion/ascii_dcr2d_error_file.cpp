#include "core/inversion/ascii_dcr2d_error_file.hpp"

#include <cmath>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_dcr2d_error_file {

namespace {

using text_io::Free_reader;

constexpr std::size_t token_width = 10;
constexpr std::size_t mode_width = 5;

std::string cut(const std::string& s, std::size_t width) { return s.substr(0, width); }

// The message of a reader over one line, without its "<file>, line 1: ".
std::string detail_of(const Error& e, const std::string& name) {
  std::string detail = e.what();
  const std::string prefix = name + ", line 1: ";
  if (detail.compare(0, prefix.size(), prefix) == 0) detail.erase(0, prefix.size());
  return detail;
}

// Reads the next line as one free-format record of exactly the given items;
// a record never continues on the next line, so a short line is reported
// where it is.
template <class... T>
void read_record(Free_reader& in, const std::string& what, T&... items) {
  std::string line;
  if (!in.read_line(line)) in.fail("unexpected end of file: expected " + what);
  Free_reader one(in.name(), line);
  int got = 0;
  try {
    got = one.read_partial(items...);
  } catch (const Error& e) {
    in.fail("expected " + what + " (" + detail_of(e, in.name()) + ")");
  }
  if (got != static_cast<int>(sizeof...(T)))
    in.fail("expected " + what + ", found " + std::to_string(got) + " of " +
            std::to_string(sizeof...(T)) + " items");
}

std::string read_mode(Free_reader& in) {
  std::string label, word;
  read_record(in, "a label and the error mode", label, word);
  word = cut(word, token_width);
  const auto first = word.find_first_not_of(' ');
  word.erase(0, first == std::string::npos ? word.size() : first);
  return cut(string_utility::strlowcase(word), mode_width);
}

int32_t read_row_count(Free_reader& in) {
  std::string label, count;
  read_record(in, "a label and the number of table rows", label, count);
  count = cut(count, token_width);
  int32_t n = 0;
  if (!text_io::parse_free_int(count, n))
    in.fail("expected the number of table rows as an integer, found \"" + count + "\"");
  if (n < 1) in.fail("the error table needs at least one row, the count is " + std::to_string(n));
  return n;
}

}  // namespace

void ascii_dcr2d_error(Dmatrix& error, std::string& error_mode, const std::string& error_file) {
  Free_reader in(error_file);
  const std::string mode = read_mode(in);
  const int32_t n = read_row_count(in);
  // Collected as read: a count the file does not back up ends at its end.
  std::vector<double> key, percent;
  for (int32_t j = 1; j <= n; ++j) {
    const std::string what = "the key and the per-cent error of table row " + std::to_string(j);
    double a = 0.0, b = 0.0;
    read_record(in, what, a, b);
    if (!std::isfinite(a) || !std::isfinite(b)) in.fail(what + " must be finite");
    key.push_back(a);
    percent.push_back(b);
  }
  error.assign(n, 2);
  for (int32_t j = 1; j <= n; ++j) {
    error(j, 1) = key[static_cast<std::size_t>(j - 1)];
    error(j, 2) = percent[static_cast<std::size_t>(j - 1)];
  }
  error_mode = mode;
}

}  // namespace varnel::ascii_dcr2d_error_file
