#include "core/survey/param_dcr2d.hpp"

#include "core/numerics/string_utility.hpp"

namespace varnel::param_dcr2d {

namespace {

using string_utility::pad;
using string_utility::rtrim;

struct Array_entry {
  const char* name;
  int32_t nelec;
  int32_t celec;
  int32_t ncol4res2d;
};

// Indexed by code - 1.
constexpr std::array<Array_entry, 15> array_table{{
    {"wenner-alpha", 4, 2, 3},
    {"pole-pole", 2, 1, 3},
    {"dipole-dipole", 4, 2, 4},
    {"wenner-beta", 4, 2, 0},
    {"wenner-gamma", 4, 2, 0},
    {"pole-dipole", 3, 1, 3},
    {"wenner-schlumberger", 4, 2, 4},
    {"equatorial", 4, 2, 3},
    {"unknown", 0, 0, 0},
    {"unknown", 0, 0, 0},
    {"unknown", 4, 2, 0},
    {"unknown", 4, 2, 0},
    {"unknown", 4, 2, 0},
    {"unknown", 0, 0, 0},
    {"gradient", 4, 2, 0},
}};

const Array_entry* entry(int32_t arraytype) {
  if (arraytype < 1 || arraytype > static_cast<int32_t>(array_table.size())) return nullptr;
  return &array_table[arraytype - 1];
}

}  // namespace

int32_t nelec(int32_t arraytype) {
  const Array_entry* e = entry(arraytype);
  return e ? e->nelec : 0;
}

int32_t celec(int32_t arraytype) {
  const Array_entry* e = entry(arraytype);
  return e ? e->celec : 0;
}

int32_t ncol4res2d(int32_t arraytype) {
  const Array_entry* e = entry(arraytype);
  return e ? e->ncol4res2d : 0;
}

int32_t get_arraytype(std::string_view configure) {
  const std::string_view t = rtrim(configure);
  if (t == "dd" || t == "dipole-dipole") return 3;
  if (t == "gd" || t == "gradient") return 15;
  if (t == "wa" || t == "wenner" || t == "wenner-alpha") return 1;
  if (t == "wenner-schlumberger" || t == "ws") return 7;
  return 0;
}

int32_t get_measure_index(std::string_view measuretype) {
  const std::string_view t = rtrim(measuretype);
  if (t == "resistivity") return 0;
  if (t == "resistance") return 1;
  return -1;
}

int32_t get_ip_include_index(std::string_view ip_include) {
  const std::string_view t = rtrim(ip_include);
  if (t == "yes") return 1;
  return 0;
}

int32_t get_position_type_index(std::string_view position_type) {
  const std::string_view t = rtrim(position_type);
  if (t == "true horizon" || t == "th") return 1;
  if (t == "along surface" || t == "as") return 2;
  return 0;
}

std::string get_configuration(int32_t arraytype) {
  const Array_entry* e = entry(arraytype);
  return pad(e ? e->name : "unknown", 20);
}

std::string get_measure_type(int32_t measure_index) {
  switch (measure_index) {
    case 0:
      return pad("resistivity", 11);
    case 1:
      return pad("resistance", 11);
    default:
      return pad("unknown", 11);
  }
}

std::string get_ip_include(int32_t ip_include_index) {
  return pad(ip_include_index == 1 ? "yes" : "no", 3);
}

std::string get_position_type(int32_t position_type_index) {
  switch (position_type_index) {
    case 1:
      return pad("true horizon", 15);
    case 2:
      return pad("along surface", 15);
    default:
      return pad("unknown", 15);
  }
}

}  // namespace varnel::param_dcr2d
