#include "core/model/ascii_updatefile_dcr2d.hpp"

#include <charconv>
#include <cmath>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::ascii_updatefile_dcr2d {

namespace {

using text_io::Free_reader;

constexpr std::size_t label_width = 9;   // "(9x, i30)": nine columns skipped,
constexpr std::size_t count_width = 30;  // then the count from the next thirty
constexpr long long max_locations = 10'000'000;

// The integer of a blank-padded fixed-width field: an optional sign and
// digits with blanks before and after. False for a blank field, a field with
// anything else in it (blanks between the digits included) or overflow.
bool integer_field(std::string_view field, int32_t& out) {
  const auto first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  field = field.substr(first, field.find_last_not_of(" \t") + 1 - first);
  if (field.front() == '+') {
    field.remove_prefix(1);
    if (field.empty() || field.front() < '0' || field.front() > '9') return false;
  }
  const auto r = std::from_chars(field.data(), field.data() + field.size(), out);
  return r.ec == std::errc() && r.ptr == field.data() + field.size();
}

// One free-format record; a malformed or missing value is reported as
// "<file>, line <n>: expected <what> (<detail>)".
void read_location(Free_reader& in, int32_t i, double& x, double& z) {
  const std::string what = "the x and z of location " + std::to_string(i);
  try {
    in.read(x, z);
  } catch (const Error& e) {
    std::string detail = e.what();
    const std::string prefix = in.name() + ", line " + std::to_string(in.line()) + ": ";
    if (detail.compare(0, prefix.size(), prefix) == 0) detail.erase(0, prefix.size());
    in.fail("expected " + what + " (" + detail + ")");
  }
  if (!std::isfinite(x) || !std::isfinite(z)) in.fail(what + " must be finite");
}

}  // namespace

Model_update_dcr2d read_model_updatefile_dcr2d(const std::string& update_file) {
  Free_reader in(update_file);
  std::string first;
  if (!in.read_line(first))
    in.fail("unexpected end of file: expected a nine-character label and the number of locations");
  const std::string field =
      first.size() > label_width ? first.substr(label_width, count_width) : std::string();
  int32_t n = 0;
  if (!integer_field(field, n)) {
    in.fail(
        "expected the number of locations in columns 10 to 39, after a nine-character "
        "label; found \"" +
        field + "\"");
  }
  if (n < 1 || n > max_locations) {
    in.fail("expected a number of locations from 1 to " + std::to_string(max_locations) +
            ", found " + std::to_string(n));
  }

  // Collected as read: a count the file does not back up ends at its end.
  std::vector<double> xs, zs;
  for (int32_t i = 1; i <= n; ++i) {
    double x = 0.0, z = 0.0;
    read_location(in, i, x, z);
    xs.push_back(x);
    zs.push_back(z);
  }

  Model_update_dcr2d u;
  u.nelement = n;
  u.location.assign(n, 2);
  for (int32_t i = 1; i <= n; ++i) {
    u.location(i, 1) = xs[static_cast<std::size_t>(i - 1)];
    u.location(i, 2) = zs[static_cast<std::size_t>(i - 1)];
  }
  u.file = update_file;
  return u;
}

}  // namespace varnel::ascii_updatefile_dcr2d
