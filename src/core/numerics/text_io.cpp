// Text I/O: edit-descriptor output, free-format output and the free-format
// reader. The numeric fields follow the rules of Fortran formatted output:
// digits come from the exact decimal expansion of the binary value (snprintf),
// and the layout (optional leading zero, exponent forms, asterisks on
// overflow, NaN and infinities) is built here.
#include "core/numerics/text_io.hpp"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <system_error>

#include "core/error.hpp"

namespace varnel::text_io {

namespace {

std::string stars(int w) { return std::string(static_cast<std::size_t>(w > 0 ? w : 1), '*'); }

// Right-aligns `s` in a field of width w (w == 0: the text as it is); too
// long a text gives w asterisks.
std::string right_align(const std::string& s, int w) {
  if (w <= 0) return s;
  const auto width = static_cast<std::size_t>(w);
  if (s.size() > width) return stars(w);
  return std::string(width - s.size(), ' ') + s;
}

// printf into a std::string of any length.
template <class... A>
std::string print(const char* fmt, A... args) {
  const int n = std::snprintf(nullptr, 0, fmt, args...);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), fmt, args...);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

// NaN and infinities in a real field of width w; empty for a finite value.
std::optional<std::string> non_finite(double v, int w) {
  if (std::isnan(v)) return (w == 0 || w >= 3) ? right_align("NaN", w) : stars(w);
  if (!std::isinf(v)) return std::nullopt;
  if (v > 0) {
    if (w >= 8) return right_align("Infinity", w);
    return (w == 0 || w >= 3) ? right_align("Inf", w) : stars(w);
  }
  if (w >= 9) return right_align("-Infinity", w);
  return (w == 0 || w >= 4) ? right_align("-Inf", w) : stars(w);
}

// The exponent part of an E or ES field for the decimal exponent x: with e
// digits when e > 0, else "E+xx" up to 99 and "+xxx" up to 999. Empty when
// the exponent cannot be written.
std::string exponent_text(int x, int e) {
  const char sign = x < 0 ? '-' : '+';
  std::string digits = std::to_string(x < 0 ? -x : x);
  if (e > 0) {
    if (digits.size() > static_cast<std::size_t>(e)) return {};
    return std::string("E") + sign + std::string(e - digits.size(), '0') + digits;
  }
  if (digits.size() <= 2)
    return std::string("E") + sign + std::string(2 - digits.size(), '0') + digits;
  if (digits.size() == 3) return std::string(1, sign) + digits;
  return {};
}

// Digits of |v| rounded to n significant digits (n >= 1) and the decimal
// exponent of the first one: |v| ~ d0.d1d2... * 10^x.
void significant_digits(double a, int n, std::string& digits, int& x) {
  const std::string s = print("%.*e", n - 1, a);
  const std::size_t epos = s.find('e');
  digits.clear();
  for (std::size_t i = 0; i < epos; ++i)
    if (s[i] != '.') digits += s[i];
  x = std::stoi(s.substr(epos + 1));
}

// Ew.d (scientific == false) or ESw.d, with e exponent digits when e > 0.
std::string real_e(double v, int w, int d, int e, bool scientific) {
  if (auto s = non_finite(v, w)) return *s;
  if (d < 0 || (!scientific && d == 0)) return stars(w);
  const bool negative = std::signbit(v);
  const double a = std::fabs(v);
  std::string digits;
  int x = 0;
  if (a == 0) {
    digits.assign(static_cast<std::size_t>(scientific ? d + 1 : d), '0');
  } else {
    significant_digits(a, scientific ? d + 1 : d, digits, x);
    if (!scientific) ++x;  // 0.d1d2... form
  }
  std::string exponent;
  if (w == 0 && e < 0) {  // minimal width: no exponent for 10^0, else as few digits as needed
    if (x != 0) exponent = std::string("E") + (x < 0 ? "-" : "+") + std::to_string(x < 0 ? -x : x);
  } else {
    exponent = exponent_text(x, e);
    if (exponent.empty()) return stars(w);
  }
  const std::string sign = negative ? "-" : "";
  std::string body;
  if (scientific)
    body = digits.substr(0, 1) + "." + digits.substr(1) + exponent;
  else
    body = "." + digits + exponent;
  if (scientific) return right_align(sign + body, w);
  const std::string full = sign + "0" + body;
  if (w == 0 || full.size() <= static_cast<std::size_t>(w)) return right_align(full, w);
  return right_align(sign + body, w);  // without the optional zero, or asterisks
}

// ---------------------------------------------------------------------------
// Formats: parsed into a tree, then unrolled into a flat list of operations.

enum class Op_kind { a, i, f, e, es, x, literal, slash, colon };

struct Op {
  explicit Op(Op_kind k = Op_kind::x, int width = -1) : kind(k), w(width) {}
  Op_kind kind;
  int w = -1;        // width (A: -1 when absent; X: count of blanks)
  int d = -1;        // digits after the point (I: minimum digits m, -1 when absent)
  int e = -1;        // exponent digits (E, ES), -1 when absent
  std::string text;  // literal text, or the descriptor as written in messages
};

bool is_data(Op_kind k) {
  return k == Op_kind::a || k == Op_kind::i || k == Op_kind::f || k == Op_kind::e ||
         k == Op_kind::es;
}

struct Node {
  int repeat = 1;
  bool group = false;
  Op op;
  std::vector<Node> children;
};

constexpr std::size_t max_ops = 1000000;

class Format_parser {
 public:
  explicit Format_parser(std::string_view fmt) : s_(fmt) {}

  // The flat operations and the index where format reversion restarts.
  void parse(std::vector<Op>& ops, std::size_t& revert) {
    skip_blanks();
    if (!take('(')) error("expected '(' at the start");
    const std::vector<Node> top = list();
    skip_blanks();
    if (p_ != s_.size()) error("unexpected text after the closing ')'");
    ops.clear();
    revert = 0;
    for (const Node& n : top) {
      if (n.group) revert = ops.size();
      unroll(n, ops);
    }
  }

 private:
  [[noreturn]] void error(const std::string& what) const {
    varnel::fail("format \"" + std::string(s_) + "\": " + what);
  }
  void skip_blanks() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t')) ++p_;
  }
  bool take(char c) {
    skip_blanks();
    if (p_ < s_.size() && (s_[p_] == c || std::toupper(static_cast<unsigned char>(s_[p_])) == c)) {
      ++p_;
      return true;
    }
    return false;
  }
  bool digit_next() {
    skip_blanks();
    return p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9';
  }
  // An unsigned number (blanks between its digits are insignificant), or -1.
  int number() {
    if (!digit_next()) return -1;
    long long v = 0;
    while (digit_next()) {
      v = v * 10 + (s_[p_++] - '0');
      if (v > 100000000) error("number too large");
    }
    return static_cast<int>(v);
  }
  int required(const char* what) {
    const int v = number();
    if (v < 0) error(std::string("expected ") + what);
    return v;
  }

  std::vector<Node> list() {
    std::vector<Node> nodes;
    for (;;) {
      skip_blanks();
      if (p_ == s_.size()) error("missing ')'");
      if (take(')')) return nodes;
      if (take(',')) continue;
      nodes.push_back(item());
    }
  }

  Node item() {
    Node n;
    const std::size_t start = p_;
    const int r = number();
    if (r == 0) error("repeat count 0");
    skip_blanks();
    if (p_ == s_.size()) error("missing ')'");
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s_[p_++])));
    if (c == 'X') {  // nX: the number is the count of blanks
      n.op = Op(Op_kind::x, r < 0 ? 1 : r);
      return n;
    }
    n.repeat = r < 0 ? 1 : r;
    switch (c) {
      case '(':
        n.group = true;
        n.children = list();
        return n;
      case '\'':
      case '"':
        if (r >= 0) error("repeat count before a quoted text");
        n.op = Op(Op_kind::literal);
        n.op.text = literal(c);
        return n;
      case '/':
        n.op = Op(Op_kind::slash);
        return n;
      case ':':
        n.op = Op(Op_kind::colon);
        return n;
      case 'A':
        n.op = Op(Op_kind::a, number());
        if (n.op.w == 0) error("A0 is not a valid descriptor");
        break;
      case 'I':
        n.op = Op(Op_kind::i, required("a width after I"));
        if (take('.')) n.op.d = required("the minimum digits after 'I<w>.'");
        break;
      case 'F':
        n.op = Op(Op_kind::f, required("a width after F"));
        if (!take('.')) error("expected '.d' after F<w>");
        n.op.d = required("the digits after 'F<w>.'");
        break;
      case 'E': {
        const bool es = take('S');
        n.op = Op(es ? Op_kind::es : Op_kind::e, required("a width after E"));
        if (!take('.')) error("expected '.d' after E<w>");
        n.op.d = required("the digits after 'E<w>.'");
        if (!es && n.op.d == 0) error("E<w>.0 is not a valid descriptor");
        if (take('E')) {
          n.op.e = required("the exponent digits after 'E'");
          if (n.op.e == 0) error("exponent digits 0");
        }
        break;
      }
      default:
        error(std::string("unknown edit descriptor '") + c + "'");
    }
    // The descriptor as written, for messages.
    for (std::size_t i = start; i < p_; ++i)
      if (s_[i] != ' ' && s_[i] != '\t')
        n.op.text += static_cast<char>(std::toupper(static_cast<unsigned char>(s_[i])));
    return n;
  }

  // A quoted text after its opening quote q; a doubled quote is one quote.
  std::string literal(char q) {
    std::string t;
    for (;;) {
      if (p_ == s_.size()) error("unterminated quoted text");
      const char c = s_[p_++];
      if (c == q) {
        if (p_ < s_.size() && s_[p_] == q) {
          t += q;
          ++p_;
          continue;
        }
        return t;
      }
      t += c;
    }
  }

  void unroll(const Node& n, std::vector<Op>& ops) const {
    for (int k = 0; k < n.repeat; ++k) {
      if (n.group) {
        for (const Node& c : n.children) unroll(c, ops);
      } else {
        ops.push_back(n.op);
      }
      if (ops.size() > max_ops) error("too many descriptors after expanding repeat counts");
    }
  }

  std::string_view s_;
  std::size_t p_ = 0;
};

const char* item_kind(const Item& it) {
  switch (it.value().index()) {
    case 0:
      return "a text";
    case 1:
      return "an integer";
    default:
      return "a real";
  }
}

std::string write_item(const Op& op, const Item& it, std::size_t index, std::string_view fmt) {
  const auto& v = it.value();
  const auto mismatch = [&]() -> std::string {
    varnel::fail("format \"" + std::string(fmt) + "\": item " + std::to_string(index + 1) + " (" +
                 item_kind(it) + ") cannot be written with " + op.text);
  };
  if (op.kind == Op_kind::a) {
    if (const auto* s = std::get_if<std::string>(&v)) return format_a(*s, op.w);
    return mismatch();
  }
  if (op.kind == Op_kind::i) {
    if (const auto* n = std::get_if<long long>(&v)) return format_i(*n, op.w, op.d);
    return mismatch();
  }
  double x = 0;
  if (const auto* r = std::get_if<double>(&v))
    x = *r;
  else if (const auto* n = std::get_if<long long>(&v))
    x = static_cast<double>(*n);
  else
    return mismatch();
  if (op.kind == Op_kind::f) return format_f(x, op.w, op.d);
  return real_e(x, op.w, op.d, op.e, op.kind == Op_kind::es);
}

template <class Items>
std::string format_items(std::string_view fmt, const Items& items) {
  std::vector<Op> ops;
  std::size_t revert = 0;
  Format_parser(fmt).parse(ops, revert);
  bool data_after_revert = false;
  for (std::size_t k = revert; k < ops.size(); ++k) data_after_revert |= is_data(ops[k].kind);

  // Blanks of X descriptors are held back until something follows them in
  // the record; a record never ends with them.
  std::string out;
  std::size_t pending = 0;
  const auto put = [&](const std::string& text) {
    out.append(pending, ' ');
    pending = 0;
    out += text;
  };
  const std::size_t n = items.size();
  auto next = items.begin();
  std::size_t used = 0;
  std::size_t pc = 0;
  for (;;) {
    if (pc == ops.size()) {
      if (used == n) break;
      if (!data_after_revert)
        varnel::fail("format \"" + std::string(fmt) +
                     "\": items remain but the format has no data descriptor to reuse");
      pending = 0;
      out += '\n';
      pc = revert;
      continue;
    }
    const Op& op = ops[pc++];
    if (is_data(op.kind)) {
      if (used == n) break;
      put(write_item(op, *next, used, fmt));
      ++next;
      ++used;
      continue;
    }
    switch (op.kind) {
      case Op_kind::x:
        pending += static_cast<std::size_t>(op.w);
        break;
      case Op_kind::literal:
        put(op.text);
        break;
      case Op_kind::slash:
        pending = 0;
        out += '\n';
        break;
      case Op_kind::colon:
        if (used == n) return out;
        break;
      default:
        break;
    }
  }
  return out;
}

template <class Items>
std::string free_items(const Items& items) {
  std::string out;
  for (const Item& it : items) {
    out += ' ';
    const auto& v = it.value();
    if (const auto* s = std::get_if<std::string>(&v))
      out += *s;
    else if (const auto* n = std::get_if<long long>(&v))
      out += std::to_string(*n);
    else
      out += free_real(std::get<double>(v));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Free-format input.

bool is_blank_char(char c) { return c == ' ' || c == '\t'; }
bool ends_item(char c) { return is_blank_char(c) || c == ',' || c == '/'; }

// Scans one item starting at text[p] (not a blank, comma or slash). Quoted
// items end at the matching quote; a doubled quote inside is one quote.
// Leaves p after the item; `raw` is the item as written.
void scan_item(std::string_view text, std::size_t& p, std::string& value, std::string& raw,
               bool& quoted) {
  const std::size_t start = p;
  value.clear();
  quoted = text[p] == '\'' || text[p] == '"';
  if (quoted) {
    const char q = text[p++];
    while (p < text.size()) {
      const char c = text[p++];
      if (c == q) {
        if (p < text.size() && text[p] == q) {
          value += q;
          ++p;
          continue;
        }
        break;
      }
      value += c;
    }
  } else {
    while (p < text.size() && !ends_item(text[p])) value += text[p++];
  }
  raw.assign(text.substr(start, p - start));
}

bool first_item(std::string_view text, std::string& value, bool& quoted) {
  std::size_t p = 0;
  while (p < text.size() && is_blank_char(text[p])) ++p;
  value.clear();
  quoted = false;
  if (p == text.size() || text[p] == ',' || text[p] == '/') return false;
  std::string raw;
  scan_item(text, p, value, raw, quoted);
  return true;
}

bool int_token(std::string_view t, int32_t& out) {
  std::size_t p = 0;
  bool negative = false;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) negative = t[p++] == '-';
  if (p == t.size()) return false;
  long long v = 0;
  for (; p < t.size(); ++p) {
    if (t[p] < '0' || t[p] > '9') return false;
    v = v * 10 + (t[p] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool same_letters(std::string_view t, std::string_view lower) {
  if (t.size() != lower.size()) return false;
  for (std::size_t k = 0; k < t.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(t[k])) != lower[k]) return false;
  return true;
}

// A Fortran real constant: [sign] digits [. digits] | [sign] . digits, then an
// optional exponent "e|E|d|D [sign] digits" or "sign digits"; or nan, inf,
// infinity with an optional sign.
bool real_token(std::string_view t, double& out) {
  std::size_t p = 0;
  bool negative = false;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) negative = t[p++] == '-';
  const std::string_view rest = t.substr(p);
  if (same_letters(rest, "nan")) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (same_letters(rest, "inf") || same_letters(rest, "infinity")) {
    out = negative ? -std::numeric_limits<double>::infinity()
                   : std::numeric_limits<double>::infinity();
    return true;
  }
  // Mantissa digits without the point, and the exponent correction.
  std::string digits;
  long long shift = 0;
  bool any_digit = false;
  for (; p < t.size() && t[p] >= '0' && t[p] <= '9'; ++p) {
    any_digit = true;
    if (!digits.empty() || t[p] != '0') digits += t[p];
  }
  if (p < t.size() && t[p] == '.') {
    for (++p; p < t.size() && t[p] >= '0' && t[p] <= '9'; ++p) {
      any_digit = true;
      if (!digits.empty() || t[p] != '0') digits += t[p];
      --shift;
    }
  }
  if (!any_digit) return false;
  long long exponent = 0;
  if (p < t.size()) {
    const char c = t[p];
    const bool letter = c == 'e' || c == 'E' || c == 'd' || c == 'D';
    if (!letter && c != '+' && c != '-') return false;
    if (letter) ++p;
    bool exp_negative = false;
    if (p < t.size() && (t[p] == '+' || t[p] == '-')) exp_negative = t[p++] == '-';
    if (p == t.size()) return false;
    for (; p < t.size(); ++p) {
      if (t[p] < '0' || t[p] > '9') return false;
      if (exponent < 100000) exponent = exponent * 10 + (t[p] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  double v = 0;
  if (!digits.empty()) {
    // Digits with the point removed: a token std::from_chars reads exactly.
    const long long scale = exponent + shift;
    const std::string s = digits + "e" + std::to_string(scale);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      if (static_cast<long long>(digits.size()) + scale > 0) return false;  // overflow
      v = 0;                                                                // underflow
    } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
      return false;
    }
  }
  out = negative ? -v : v;
  return true;
}

std::string quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

// ---------------------------------------------------------------------------

std::string format(std::string_view fmt, std::initializer_list<Item> items) {
  return format_items(fmt, items);
}

std::string format(std::string_view fmt, const std::vector<Item>& items) {
  return format_items(fmt, items);
}

std::string format_i(long long v, int w, int m) {
  const unsigned long long a =
      v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  std::string digits = std::to_string(a);
  if (m == 0 && v == 0) digits.clear();  // Iw.0 writes zero as blanks
  if (m > 0 && digits.size() < static_cast<std::size_t>(m))
    digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
  const std::string s = (v < 0 ? "-" : "") + digits;
  if (w == 0 && s.empty()) return " ";
  return right_align(s, w);
}

std::string format_f(double v, int w, int d) {
  if (auto s = non_finite(v, w)) return *s;
  if (d < 0) return stars(w);
  std::string body = print("%.*f", d, std::fabs(v));
  if (d == 0) body += '.';
  const std::string sign = std::signbit(v) ? "-" : "";
  // The zero before the point of a value below one is optional; it is left
  // out when the field has no room for it, and at minimal width (F0.d).
  const bool optional_zero = d > 0 && body[0] == '0';
  if (w == 0) return sign + (optional_zero ? body.substr(1) : body);
  const std::string full = sign + body;
  if (full.size() <= static_cast<std::size_t>(w)) return right_align(full, w);
  if (optional_zero) return right_align(sign + body.substr(1), w);
  return stars(w);
}

std::string format_e(double v, int w, int d) { return real_e(v, w, d, -1, false); }

std::string format_es(double v, int w, int d) { return real_e(v, w, d, -1, true); }

std::string format_a(std::string_view s, int w) {
  if (w < 0) return std::string(s);
  const auto width = static_cast<std::size_t>(w);
  if (s.size() >= width) return std::string(s.substr(0, width));
  return std::string(width - s.size(), ' ') + std::string(s);
}

std::string free_format(std::initializer_list<Item> items) { return free_items(items); }

std::string free_format(const std::vector<Item>& items) { return free_items(items); }

std::string free_real(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  const std::string sign = std::signbit(v) ? "-" : "";
  const double a = std::fabs(v);
  if (a == 0) return sign + "0.0000000000000000";
  std::string digits;  // 17 significant digits
  int x = 0;
  significant_digits(a, 17, digits, x);
  if (x >= -1 && x <= 15) {  // 0.1 <= |v| < 1e16 after rounding
    if (x == -1) return sign + "0." + digits;
    const auto before = static_cast<std::size_t>(x + 1);
    return sign + digits.substr(0, before) + "." + digits.substr(before);
  }
  std::string e = std::to_string(x < 0 ? -x : x);
  if (e.size() < 2) e.insert(0, 1, '0');
  return sign + digits.substr(0, 1) + "." + digits.substr(1) + "E" + (x < 0 ? "-" : "+") + e;
}

std::string first_free_item(std::string_view text) {
  std::string value;
  bool quoted = false;
  first_item(text, value, quoted);
  return value;
}

bool parse_free_int(std::string_view text, int32_t& out) {
  std::string value;
  bool quoted = false;
  if (!first_item(text, value, quoted) || quoted) return false;
  return int_token(value, out);
}

bool parse_free_real(std::string_view text, double& out) {
  std::string value;
  bool quoted = false;
  if (!first_item(text, value, quoted) || quoted) return false;
  return real_token(value, out);
}

// ---------------------------------------------------------------------------

Free_reader::Free_reader(const std::string& file_name)
    : name_(file_name), in_(std::make_unique<std::ifstream>(file_name)) {
  if (!static_cast<std::ifstream&>(*in_).is_open()) varnel::fail(file_name + ": cannot open file");
}

Free_reader::Free_reader(std::string name, std::string text)
    : name_(std::move(name)), in_(std::make_unique<std::istringstream>(std::move(text))) {}

Free_reader::~Free_reader() = default;

bool Free_reader::read_line(std::string& line) {
  if (!std::getline(*in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  ++line_;
  return true;
}

void Free_reader::read_vector(std::vector<double>& v) {
  std::vector<Target> t;
  t.reserve(v.size());
  for (double& x : v) t.emplace_back(&x);
  read_targets(t, false);
}

void Free_reader::read_vector(std::vector<int32_t>& v) {
  std::vector<Target> t;
  t.reserve(v.size());
  for (int32_t& x : v) t.emplace_back(&x);
  read_targets(t, false);
}

void Free_reader::fail(const std::string& what) const { fail_at(name_, line_, what); }

// One list-directed record. Values are separated by blanks, or by a comma
// with optional blanks around it; a line end counts as a blank, so a record
// continues on the following lines. Nothing between two commas (or before a
// first comma) is a null value, which this system does not accept. A slash
// ends the record; "r*value" stands for r copies of the value.
int Free_reader::read_targets(std::vector<Target>& targets, bool partial) {
  const std::size_t n = targets.size();
  std::string text;
  if (!read_line(text)) {
    if (partial) return 0;
    fail("unexpected end of file: expected " + std::to_string(n) + " values, read 0");
  }
  if (n == 0) return 0;

  std::size_t p = 0;
  std::size_t filled = 0;
  bool after_value = false;  // a comma after a value is a separator, not a null
  std::string value, raw;
  bool quoted = false;

  const auto store = [&](Target& t) {
    if (auto* i = std::get_if<int32_t*>(&t)) {
      if (quoted || !int_token(value, **i)) fail("expected an integer, found " + quote(raw));
    } else if (auto* d = std::get_if<double*>(&t)) {
      if (quoted || !real_token(value, **d)) fail("expected a number, found " + quote(raw));
    } else {
      *std::get<std::string*>(t) = value;
    }
  };
  const auto missing = [&]() {
    fail("missing value: item " + std::to_string(filled + 1) + " of " + std::to_string(n) +
         " is empty");
  };

  while (filled < n) {
    while (p < text.size() && is_blank_char(text[p])) ++p;
    if (p == text.size()) {
      if (!read_line(text)) {
        if (partial) return static_cast<int>(filled);
        fail("unexpected end of file: expected " + std::to_string(n) + " values, read " +
             std::to_string(filled));
      }
      p = 0;
      continue;
    }
    const char c = text[p];
    if (c == ',') {
      ++p;
      if (!after_value) missing();
      after_value = false;
      continue;
    }
    if (c == '/') {
      if (partial) return static_cast<int>(filled);
      fail("record ended by '/' after " + std::to_string(filled) + " of " + std::to_string(n) +
           " values");
    }
    // A repeat count: digits followed by '*'.
    std::size_t q = p;
    while (q < text.size() && text[q] >= '0' && text[q] <= '9') ++q;
    long long repeat = 1;
    if (q > p && q < text.size() && text[q] == '*') {
      repeat = 0;
      for (std::size_t k = p; k < q && repeat <= static_cast<long long>(n); ++k)
        repeat = repeat * 10 + (text[k] - '0');
      if (repeat == 0) {
        raw = text.substr(p, q + 1 - p);
        fail("expected a repeat count above zero, found " + quote(raw));
      }
      p = q + 1;
      if (p == text.size() || ends_item(text[p])) missing();  // "r*" alone: r null values
    }
    scan_item(text, p, value, raw, quoted);
    for (long long k = 0; k < repeat && filled < n; ++k) store(targets[filled++]);
    after_value = true;
  }
  return static_cast<int>(filled);
}

void replace_file(const std::string& path, const std::string& text, const std::string& what) {
  static std::atomic<unsigned> serial{0};
  const std::string tmp = path + ".tmp" + std::to_string(static_cast<long>(::getpid())) + "-" +
                          std::to_string(serial++);
  const auto reason = [](int err) { return std::generic_category().message(err); };
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) varnel::fail(path + ": cannot write the " + what + ": " + reason(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = written ? 0 : errno;
  if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
  if (!written && err == 0) err = EIO;
  if (err != 0) {
    std::remove(tmp.c_str());
    varnel::fail(path + ": cannot write the " + what + ": " + reason(err));
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    std::remove(tmp.c_str());
    varnel::fail(path + ": cannot replace the " + what + ": " + reason(err));
  }
}

}  // namespace varnel::text_io
