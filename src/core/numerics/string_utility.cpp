#include "core/numerics/string_utility.hpp"

namespace varnel::string_utility {

std::string strlowcase(std::string_view input_string) {
  std::string out(input_string);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string strupcase(std::string_view input_string) {
  std::string out(input_string);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool isnumeric_string(std::string_view input) {
  if (is_blank(input)) return false;
  constexpr std::string_view allowed = "1234567890.ed+- ";
  for (char c : strlowcase(input))
    if (allowed.find(c) == std::string_view::npos) return false;
  return true;
}

std::string_view rtrim(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return text.substr(0, n);
}

bool is_blank(std::string_view text) { return rtrim(text).empty(); }

std::string pad(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

bool same_text(std::string_view a, std::string_view b) { return rtrim(a) == rtrim(b); }

}  // namespace varnel::string_utility
