// The memory check of the dense inversion matrices: the estimate covers what
// the model update really allocates, a job that does not fit fails with the
// sizes, and the usable memory follows the process limits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/error.hpp"
#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"
#include "core/run/memory_check.hpp"

namespace {

using varnel::memory_check::check_inversion_memory;
using varnel::memory_check::inversion_matrix_bytes;
using varnel::memory_check::usable_memory_bytes;

// The estimate is at least what one iteration holds at once: the Jacobian
// and Cm J^T, the Gram matrix, its regularised copy and the two singular
// vector matrices, and the workspace LAPACK asks for.
TEST(MemoryCheck, EstimateCoversTheArraysOfAnIteration) {
  for (const auto& [nodata, ncell] :
       {std::pair<int64_t, int64_t>{1, 1}, {40, 300}, {433, 1200}, {2000, 500}}) {
    const int64_t lwork =
        varnel::cal_model_update_lapack_dcr2d::svd_workspace_dcr2d(static_cast<int32_t>(nodata));
    const int64_t held = 8 * (2 * ncell * nodata + 4 * nodata * nodata + lwork);
    EXPECT_GE(inversion_matrix_bytes(nodata, ncell), held) << nodata << " data";
    // ... and, beyond the smallest sizes, not wildly more (a factor two
    // would refuse jobs that fit).
    if (nodata >= 40)
      EXPECT_LE(inversion_matrix_bytes(nodata, ncell), 2 * held) << nodata << " data";
  }
  EXPECT_EQ(inversion_matrix_bytes(0, 1000), 0);
}

TEST(MemoryCheck, SizesBeyondRangeSaturate) {
  const int64_t big = std::numeric_limits<int64_t>::max() / 4;
  EXPECT_EQ(inversion_matrix_bytes(big, big), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(inversion_matrix_bytes(3'000'000'000LL, 1), std::numeric_limits<int64_t>::max());
}

TEST(MemoryCheck, JobThatDoesNotFitFailsWithItsSizes) {
  const int64_t gib = int64_t{1} << 30;
  // 100 000 data: the square matrices alone are 11 x 80 GB.
  try {
    check_inversion_memory(100000, 5000, 24 * gib);
    FAIL() << "no error";
  } catch (const varnel::Error& e) {
    const std::string m = e.what();
    for (const char* part : {"100000 data", "5000 cells", "5000 x 100000", "100000 x 100000",
                             "24.0 GiB", "Gram matrix", "Jacobian"})
      EXPECT_NE(m.find(part), std::string::npos) << part << " not in: " << m;
  }
  // A job that fits, and an unknown amount of memory, pass.
  EXPECT_NO_THROW(check_inversion_memory(433, 1200, 24 * gib));
  EXPECT_NO_THROW(check_inversion_memory(100000, 5000, 0));
  // The limit is inclusive.
  const int64_t need = inversion_matrix_bytes(433, 1200);
  EXPECT_NO_THROW(check_inversion_memory(433, 1200, need));
  EXPECT_THROW(check_inversion_memory(433, 1200, need - 1), varnel::Error);
}

TEST(MemoryCheck, UsableMemoryIsThePhysicalMemoryOrALowerLimit) {
  const int64_t physical =
      static_cast<int64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<int64_t>(sysconf(_SC_PAGE_SIZE));
  const int64_t usable = usable_memory_bytes();
  EXPECT_GT(usable, 0);
  EXPECT_LE(usable, physical);
  // Under a data-segment limit of 1 GiB (set in a child, which only reads it
  // back), the limit is what is usable.
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit r{};
    getrlimit(RLIMIT_DATA, &r);
    r.rlim_cur = rlim_t{1} << 30;
    if (setrlimit(RLIMIT_DATA, &r) != 0) _exit(2);
    _exit(usable_memory_bytes() == (int64_t{1} << 30) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
