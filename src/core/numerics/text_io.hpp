// Text I/O: records written through edit-descriptor formats such as
// "(A, f10.4)" or "(1x, ES15.5)", free-format (list-directed) output, and a
// free-format reader whose errors name the file and the line. Every file and
// log line of the library is written and read through this module.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnel::text_io {

// One item of an output list: a text, an integer or a real.
class Item {
 public:
  Item(const char* s) : v_(std::string(s)) {}
  Item(std::string s) : v_(std::move(s)) {}
  Item(std::string_view s) : v_(std::string(s)) {}
  Item(int v) : v_(static_cast<long long>(v)) {}
  Item(long v) : v_(static_cast<long long>(v)) {}
  Item(long long v) : v_(v) {}
  Item(unsigned v) : v_(static_cast<long long>(v)) {}
  Item(std::size_t v) : v_(static_cast<long long>(v)) {}
  Item(double v) : v_(v) {}
  Item(float v) : v_(static_cast<double>(v)) {}
  const std::variant<std::string, long long, double>& value() const { return v_; }

 private:
  std::variant<std::string, long long, double> v_;
};

// Writes the items through a format of edit descriptors: A, Aw, Iw, Iw.m,
// Fw.d, Ew.d, ESw.d, nX, quoted literals, "/" (new record), repeat counts
// before descriptors and parenthesised groups. When the items outlast the
// format, it is reused on a new record from its last top-level group, or
// from its start when it has none (format reversion).
// Records are separated by '\n'; no newline follows the last record.
// A format that cannot be parsed, or an item that does not suit its
// descriptor, throws varnel::Error.
std::string format(std::string_view fmt, std::initializer_list<Item> items);
std::string format(std::string_view fmt, const std::vector<Item>& items);

// Single fields. A value that does not fit the width gives w asterisks;
// NaN and infinities are written as Fortran does ("NaN", "Infinity", "Inf").
std::string format_i(long long v, int w, int m = -1);  // Iw or Iw.m
std::string format_f(double v, int w, int d);          // Fw.d
std::string format_e(double v, int w, int d);          // Ew.d: 0.ddddE+xx
std::string format_es(double v, int w, int d);         // ESw.d: d.ddddE+xx
std::string format_a(std::string_view s, int w = -1);  // A (w < 0) or Aw

// Free-format output of one record: one leading blank, items separated by
// blanks; integers in plain decimal, reals with 17 significant digits.
std::string free_format(std::initializer_list<Item> items);
std::string free_format(const std::vector<Item>& items);
std::string free_real(double v);

// The first free-format item of a text: leading blanks skipped, ended by a
// blank, a comma or a slash. Empty when the text holds no item.
std::string first_free_item(std::string_view text);

// Free-format conversion of the first item of a text. False when the text is
// blank or the item is not a number of that kind.
bool parse_free_int(std::string_view text, int32_t& out);
bool parse_free_real(std::string_view text, double& out);

// Replaces the file `path` by `text`: written to a temporary file in the same
// folder and renamed into place when complete, so that a reader never sees a
// half-written file and an interrupted run leaves the old file as it was.
// Throws Error "<path>: cannot write the <what>: <reason>" on failure, after
// removing the temporary file.
void replace_file(const std::string& path, const std::string& text, const std::string& what);

// Reads a text file record by record, either as raw lines or as free-format
// records (values separated by blanks or commas; a slash ends the record; a
// record continues on the next line until every item is filled). Malformed
// values, and files or records that end too early, throw varnel::Error with
// "<name>, line <n>: <what>".
class Free_reader {
 public:
  // Opens a file; a file that cannot be opened throws Error naming it.
  explicit Free_reader(const std::string& file_name);
  // Reads from text held in memory; `name` stands for the file in messages.
  Free_reader(std::string name, std::string text);
  ~Free_reader();
  Free_reader(const Free_reader&) = delete;
  Free_reader& operator=(const Free_reader&) = delete;

  const std::string& name() const { return name_; }
  // Number of the last line consumed, 1-based; 0 before the first.
  int line() const { return line_; }

  // The next raw line, without its line end ("(A)" input). False at the end.
  bool read_line(std::string& line);

  // One free-format record into the items, in order. Throws when a value is
  // malformed or when a slash or the end of the file comes before every item
  // is filled.
  template <class... T>
  void read(T&... items) {
    std::vector<Target> t{Target(&items)...};
    read_targets(t, false);
  }
  // As read, but a slash or the end of the file before every item is filled
  // is not an error: returns the number of items filled (the others keep
  // their values). A malformed value still throws.
  template <class... T>
  int read_partial(T&... items) {
    std::vector<Target> t{Target(&items)...};
    return read_targets(t, true);
  }
  // One free-format record filling every element of the vector.
  void read_vector(std::vector<double>& v);
  void read_vector(std::vector<int32_t>& v);

  // Throws Error "<name>, line <line()>: <what>".
  [[noreturn]] void fail(const std::string& what) const;

 private:
  using Target = std::variant<int32_t*, double*, std::string*>;
  int read_targets(std::vector<Target>& targets, bool partial);

  std::string name_;
  std::unique_ptr<std::istream> in_;
  int line_ = 0;
};

}  // namespace varnel::text_io
