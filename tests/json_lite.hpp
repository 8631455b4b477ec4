// A small JSON reader for the reference files the tests compare with: objects,
// arrays, strings (with the usual escapes; \u only for ASCII), numbers,
// true/false/null. A malformed text throws std::runtime_error.
#pragma once

#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace json_lite {

struct Value {
  enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
  bool b = false;
  double num = 0.0;
  std::string str;
  std::vector<Value> items;
  std::map<std::string, Value> members;

  const Value& operator[](const std::string& key) const {
    auto it = members.find(key);
    if (kind != Kind::object || it == members.end())
      throw std::runtime_error("json: no member \"" + key + "\"");
    return it->second;
  }
  const Value& operator[](std::size_t i) const {
    if (kind != Kind::array || i >= items.size())
      throw std::runtime_error("json: index out of range");
    return items[i];
  }
  std::size_t size() const { return kind == Kind::array ? items.size() : members.size(); }
  double number() const {
    if (kind == Kind::null) return std::numeric_limits<double>::quiet_NaN();
    if (kind != Kind::number) throw std::runtime_error("json: not a number");
    return num;
  }
  std::vector<std::string> strings() const {
    std::vector<std::string> out;
    for (const auto& v : items) out.push_back(v.str);
    return out;
  }
};

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}
  Value parse() {
    Value v = value();
    blanks();
    if (p_ != s_.size()) fail("trailing characters");
    return v;
  }

 private:
  const std::string& s_;
  std::size_t p_ = 0;

  [[noreturn]] void fail(const char* what) const {
    throw std::runtime_error(std::string("json: ") + what + " at offset " + std::to_string(p_));
  }
  void blanks() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\n' || s_[p_] == '\r' || s_[p_] == '\t'))
      ++p_;
  }
  bool take(char c) {
    blanks();
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  void expect(char c) {
    if (!take(c)) fail("unexpected character");
  }
  bool word(const char* w) {
    const std::string t(w);
    if (s_.compare(p_, t.size(), t) != 0) return false;
    p_ += t.size();
    return true;
  }
  std::string string_body() {
    std::string out;
    while (p_ < s_.size() && s_[p_] != '"') {
      char c = s_[p_++];
      if (c == '\\') {
        if (p_ >= s_.size()) fail("unterminated escape");
        const char e = s_[p_++];
        switch (e) {
          case 'n':
            out += '\n';
            break;
          case 't':
            out += '\t';
            break;
          case 'r':
            out += '\r';
            break;
          case 'b':
            out += '\b';
            break;
          case 'f':
            out += '\f';
            break;
          case 'u': {
            if (p_ + 4 > s_.size()) fail("short \\u escape");
            out += static_cast<char>(std::strtol(s_.substr(p_, 4).c_str(), nullptr, 16));
            p_ += 4;
            break;
          }
          default:
            out += e;
        }
      } else {
        out += c;
      }
    }
    if (p_ >= s_.size()) fail("unterminated string");
    ++p_;
    return out;
  }
  Value value() {
    blanks();
    if (p_ >= s_.size()) fail("unexpected end");
    Value v;
    const char c = s_[p_];
    if (c == '{') {
      ++p_;
      v.kind = Value::Kind::object;
      if (take('}')) return v;
      do {
        expect('"');
        std::string key = string_body();
        expect(':');
        v.members[key] = value();
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++p_;
      v.kind = Value::Kind::array;
      if (take(']')) return v;
      do v.items.push_back(value());
      while (take(','));
      expect(']');
    } else if (c == '"') {
      ++p_;
      v.kind = Value::Kind::string;
      v.str = string_body();
    } else if (word("true")) {
      v.kind = Value::Kind::boolean;
      v.b = true;
    } else if (word("false")) {
      v.kind = Value::Kind::boolean;
    } else if (word("null")) {
      v.kind = Value::Kind::null;
    } else {
      char* end = nullptr;
      v.num = std::strtod(s_.c_str() + p_, &end);
      if (end == s_.c_str() + p_) fail("not a value");
      p_ = static_cast<std::size_t>(end - s_.c_str());
      v.kind = Value::Kind::number;
    }
    return v;
  }
};

inline Value parse(const std::string& text) { return Parser(text).parse(); }

}  // namespace json_lite
