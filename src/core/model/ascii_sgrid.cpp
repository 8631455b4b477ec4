#include "core/model/ascii_sgrid.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/error.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_sgrid {

namespace {

using text_io::Free_reader;

constexpr std::size_t header_width = 100;  // the first line is read as "(A100)"
constexpr long long max_values = 10'000'000;

double read_value(Free_reader& in, int32_t i, int32_t n) {
  const std::string what = "value " + std::to_string(i) + " of " + std::to_string(n);
  double v = 0.0;
  try {
    in.read(v);
  } catch (const Error& e) {
    std::string detail = e.what();
    const std::string prefix = in.name() + ", line " + std::to_string(in.line()) + ": ";
    if (detail.compare(0, prefix.size(), prefix) == 0) detail.erase(0, prefix.size());
    in.fail("expected " + what + " (" + detail + ")");
  }
  if (!std::isfinite(v)) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    in.fail(what + " must be finite, found " + std::string(buf, r.ptr));
  }
  return v;
}

}  // namespace

void read_sgrid_dcr2d(const std::string& sgrid_file, std::vector<double>& sgrid) {
  Free_reader in(sgrid_file);
  std::string first;
  if (!in.read_line(first))
    in.fail("unexpected end of file: expected a label, a colon and the number of values");
  if (first.size() > header_width) first.resize(header_width);
  const auto colon = first.find(':');
  if (colon == std::string::npos)
    in.fail("expected a label, a colon and the number of values, found no colon");
  const std::string_view count_text = std::string_view(first).substr(colon + 1);
  if (string_utility::is_blank(count_text)) {
    sgrid.clear();
    return;
  }
  int32_t n = 0;
  if (!text_io::parse_free_int(count_text, n)) {
    in.fail("expected the number of values after the colon, found \"" +
            text_io::first_free_item(count_text) + "\"");
  }
  if (n < 0 || n > max_values) {
    in.fail("expected a number of values from 0 to " + std::to_string(max_values) + ", found " +
            std::to_string(n));
  }

  std::vector<double> values;  // collected as read: a short file ends at its end
  for (int32_t i = 1; i <= n; ++i) values.push_back(read_value(in, i, n));
  sgrid = std::move(values);
}

}  // namespace varnel::ascii_sgrid
