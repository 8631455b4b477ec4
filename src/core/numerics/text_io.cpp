// Placeholder bodies so the library links while the module is written.
#include "core/numerics/text_io.hpp"

#include "core/error.hpp"

namespace varnel::text_io {
std::string format(std::string_view, std::initializer_list<Item>) { fail("text_io: not implemented"); }
std::string format(std::string_view, const std::vector<Item>&) { fail("text_io: not implemented"); }
std::string format_i(long long, int, int) { fail("text_io: not implemented"); }
std::string format_f(double, int, int) { fail("text_io: not implemented"); }
std::string format_e(double, int, int) { fail("text_io: not implemented"); }
std::string format_es(double, int, int) { fail("text_io: not implemented"); }
std::string format_a(std::string_view, int) { fail("text_io: not implemented"); }
std::string free_format(std::initializer_list<Item>) { fail("text_io: not implemented"); }
std::string free_format(const std::vector<Item>&) { fail("text_io: not implemented"); }
std::string free_real(double) { fail("text_io: not implemented"); }
std::string first_free_item(std::string_view) { fail("text_io: not implemented"); }
bool parse_free_int(std::string_view, int32_t&) { fail("text_io: not implemented"); }
bool parse_free_real(std::string_view, double&) { fail("text_io: not implemented"); }
Free_reader::Free_reader(const std::string& f) : name_(f) { fail("text_io: not implemented"); }
Free_reader::Free_reader(std::string n, std::string) : name_(std::move(n)) { fail("text_io: not implemented"); }
Free_reader::~Free_reader() = default;
bool Free_reader::read_line(std::string&) { fail("text_io: not implemented"); }
void Free_reader::read_vector(std::vector<double>&) { fail("text_io: not implemented"); }
void Free_reader::read_vector(std::vector<int32_t>&) { fail("text_io: not implemented"); }
void Free_reader::fail(const std::string& what) const { fail_at(name_, line_, what); }
int Free_reader::read_targets(std::vector<Target>&, bool) { varnel::fail("text_io: not implemented"); }
}  // namespace varnel::text_io
