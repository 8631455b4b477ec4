#include "core/run/memory_check.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <string>

#include "core/error.hpp"

namespace varnel::memory_check {

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// a * b, saturating at kMax (both factors are not negative).
int64_t times(int64_t a, int64_t b) {
  if (a == 0 || b == 0) return 0;
  if (a > kMax / b) return kMax;
  return a * b;
}

int64_t plus(int64_t a, int64_t b) { return a > kMax - b ? kMax : a + b; }

std::string gib(int64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  return buf;
}

// The soft limit of a resource, kMax when there is none.
int64_t limit_of(int resource) {
  rlimit r{};
  if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return kMax;
  return r.rlim_cur > static_cast<rlim_t>(kMax) ? kMax : static_cast<int64_t>(r.rlim_cur);
}

}  // namespace

int64_t inversion_matrix_bytes(int64_t nodata, int64_t ncell) {
  if (nodata < 0) nodata = 0;
  if (ncell < 0) ncell = 0;
  // Jacobian and Cm J^T; the Gram matrix, its regularised copy, the two
  // singular-vector matrices and the workspace of the decomposition (about
  // 7 nodata^2 + 4 nodata, more for small blocked ones); the vectors of
  // length nodata around them.
  const int64_t rect = times(2, times(ncell, nodata));
  const int64_t square = times(12, times(nodata, nodata));
  const int64_t vectors = times(256, nodata);
  return times(8, plus(plus(rect, square), vectors));
}

int64_t usable_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  int64_t bytes = pages > 0 && page > 0 ? times(pages, page) : kMax;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    const int64_t l = limit_of(resource);
    if (l < bytes) bytes = l;
  }
  return bytes == kMax ? 0 : bytes;
}

void check_inversion_memory(int64_t nodata, int64_t ncell, int64_t available) {
  if (available <= 0) return;
  const int64_t need = inversion_matrix_bytes(nodata, ncell);
  if (need <= available) return;
  fail("the inversion of " + std::to_string(nodata) + " data on " + std::to_string(ncell) +
       " cells needs about " + gib(need) + " GiB for its dense matrices (Jacobian and Cm J^T: " +
       std::to_string(ncell) + " x " + std::to_string(nodata) + " each; Gram matrix and its " +
       "singular value decomposition: " + std::to_string(nodata) + " x " + std::to_string(nodata) +
       "), more than the " + gib(available) +
       " GiB of memory available; use fewer data or a coarser inversion grid");
}

void check_inversion_memory(int64_t nodata, int64_t ncell) {
  check_inversion_memory(nodata, ncell, usable_memory_bytes());
}

}  // namespace varnel::memory_check
