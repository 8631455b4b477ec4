// Case folding and small text helpers. Texts of the system are blank-padded
// fixed-length fields in the files; in memory they are std::string whose
// trailing blanks carry no meaning.
#pragma once

#include <string>
#include <string_view>

namespace varnel::string_utility {

// Copy with the 26 ASCII capitals replaced by lower-case letters; every other
// byte (digits, blanks, non-ASCII) is kept. Same length as the argument.
std::string strlowcase(std::string_view input_string);

// The reverse mapping: ASCII lower-case letters to capitals.
std::string strupcase(std::string_view input_string);

// False for an empty or all-blank text; otherwise true when every character,
// folded to lower case, is one of "1234567890.ed+- ". No further syntax test.
bool isnumeric_string(std::string_view input);

// The text without trailing blanks (Fortran trim).
std::string_view rtrim(std::string_view text);

// True when the text holds only blanks (or nothing).
bool is_blank(std::string_view text);

// The text cut or blank-padded to exactly `width` characters.
std::string pad(std::string_view text, std::size_t width);

// Equality of two texts ignoring trailing blanks.
bool same_text(std::string_view a, std::string_view b);

}  // namespace varnel::string_utility
