#include "core/inversion/ascii_prelambda.hpp"

#include <cmath>
#include <string_view>

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_prelambda {

namespace {

using text_io::Free_reader;

constexpr std::size_t name_width = 100;

std::string file_of(const std::string& file_name) {
  std::string name = file_name.substr(0, name_width);
  const auto last = name.find_last_not_of(' ');
  name.erase(last == std::string::npos ? 0 : last + 1);
  return name;
}

int32_t read_count(Free_reader& in) {
  std::string first;
  if (!in.read_line(first))
    in.fail("the file is empty: expected a first line ending in the number of multipliers");
  const auto colon = first.find(':');
  const std::string_view text = colon == std::string::npos
                                    ? std::string_view(first)
                                    : std::string_view(first).substr(colon + 1);
  int32_t n = 0;
  if (!text_io::parse_free_int(text, n)) {
    const std::string where = colon == std::string::npos ? "" : " after the ':'";
    in.fail("expected the number of multipliers" + where + ", found \"" +
            text_io::first_free_item(text) + "\"");
  }
  if (n < 1) in.fail("the file holds no multipliers (count " + std::to_string(n) + ")");
  return n;
}

double read_multiplier(Free_reader& in, int32_t i) {
  const std::string what = "the log10 multiplier of iteration " + std::to_string(i);
  double v = 0.0;
  try {
    in.read(v);
  } catch (const Error& e) {
    std::string detail = e.what();
    const std::string prefix = in.name() + ", line " + std::to_string(in.line()) + ": ";
    if (detail.compare(0, prefix.size(), prefix) == 0) detail.erase(0, prefix.size());
    in.fail("expected " + what + " (" + detail + ")");
  }
  if (!std::isfinite(v)) in.fail(what + " must be finite");
  return v;
}

}  // namespace

void read_prelambda_file(const std::string& file_name, std::vector<double>& prelambda,
                         int32_t& nprelambda) {
  Free_reader in(file_of(file_name));
  const int32_t n = read_count(in);
  // Collected as read: a count the file does not back up ends at its end.
  std::vector<double> values;
  for (int32_t i = 1; i <= n; ++i) values.push_back(read_multiplier(in, i));
  if (prelambda.empty()) prelambda = std::move(values);
  nprelambda = n;
}

}  // namespace varnel::ascii_prelambda
