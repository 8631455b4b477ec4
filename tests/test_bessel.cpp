// The modified Bessel functions against the C++17 special functions. The
// bounds are the published absolute error bounds of the approximations turned
// into relative ones: 9.8.2 (1.9e-7) and 9.8.4 (2.2e-7) over the leading
// coefficient 0.39894228, 9.8.6 (1.9e-7) and 9.8.8 (2.2e-7) over 1.25331414.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/numerics/bessel.hpp"

namespace {

using namespace varnel::bessel;

std::vector<double> log_grid(double lo, double hi, int n) {
  std::vector<double> x;
  for (int i = 0; i <= n; ++i) x.push_back(lo * std::pow(hi / lo, static_cast<double>(i) / n));
  return x;
}

double rel_err(double got, double want) { return std::fabs(got / want - 1.0); }

struct AccuracyCase {
  std::string name;
  double (*f)(double);
  double (*truth)(double);
  double bound;
};

TEST(BesselAccuracy, BaseFunctionsMatchReferenceWithinPublishedBounds) {
  const std::vector<AccuracyCase> cases = {
      {"bessi0", bessi0, [](double x) { return std::cyl_bessel_i(0.0, x); }, 4.8e-7},
      {"bessi1", bessi1, [](double x) { return std::cyl_bessel_i(1.0, x); }, 5.6e-7},
      {"bessk0", bessk0, [](double x) { return std::cyl_bessel_k(0.0, x); }, 1.6e-7},
      {"bessk1", bessk1, [](double x) { return std::cyl_bessel_k(1.0, x); }, 1.8e-7},
  };
  const std::vector<double> xs = log_grid(0.01, 100.0, 4000);
  for (const auto& c : cases) {
    double worst = 0.0, worst_x = 0.0;
    for (double x : xs) {
      const double e = rel_err(c.f(x), c.truth(x));
      if (std::isnan(e)) {
        worst = e, worst_x = x;
        break;
      }
      if (e > worst) worst = e, worst_x = x;
    }
    EXPECT_LE(worst, c.bound) << c.name << " worst at x = " << worst_x;
  }
}

TEST(BesselAccuracy, HigherOrdersFromRecurrenceMatchReference) {
  for (int n = 0; n <= 6; ++n) {
    for (double x : log_grid(0.01, 100.0, 800)) {
      EXPECT_LE(rel_err(besselk(n, x), std::cyl_bessel_k(static_cast<double>(n), x)), 1.8e-7)
          << "n = " << n << ", x = " << x;
    }
  }
}

TEST(BesselAccuracy, SymmetryOfFirstKindForNegativeArguments) {
  for (double x : {0.3, 3.75, 7.0}) {
    EXPECT_EQ(bessi0(-x), bessi0(x)) << x;
    EXPECT_EQ(bessi1(-x), -bessi1(x)) << x;
  }
}

struct PointCase {
  std::string name;
  double got;
  double want;
};

TEST(BesselSpecialValues, ValuesAtZero) {
  const std::vector<PointCase> cases = {
      {"bessi0(0)", bessi0(0.0), 1.0},           {"bessi1(0)", bessi1(0.0), 0.0},
      {"bessk0(0)", bessk0(0.0), 1.0e30},        {"bessk1(0)", bessk1(0.0), 1.0e32},
      {"besselk(0,0)", besselk(0, 0.0), 1.0e30}, {"besselk(1,0)", besselk(1, 0.0), 1.0e32},
      {"besselk(2,0)", besselk(2, 0.0), 1.0e30}, {"besselk(3,0)", besselk(3, 0.0), 1.0e30},
      {"besselk(9,0)", besselk(9, 0.0), 1.0e30},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(BesselSpecialValues, SecondKindUndefinedForNegativeArguments) {
  for (double x : {-1e-3, -2.0, -5.0}) {
    EXPECT_TRUE(std::isnan(bessk0(x))) << x;
    EXPECT_TRUE(std::isnan(bessk1(x))) << x;
    EXPECT_TRUE(std::isnan(besselk(4, x))) << x;
  }
}

// Each form is smooth, so a value belongs to the form of the side on which it
// joins its neighbour continuously (a few ulp), while across the branch point
// the two approximations differ by about 1e-8 relative.
struct BranchCase {
  std::string name;
  double (*f)(double);
  double branch;
  bool value_from_lower_side;
};

TEST(BesselBranchPoints, BranchValueBelongsToTheDocumentedForm) {
  const std::vector<BranchCase> cases = {
      {"bessk0 at 2 (small-argument form)", bessk0, 2.0, true},
      {"bessk1 at 2 (small-argument form)", bessk1, 2.0, true},
      {"bessi0 at 3.75 (large-argument form)", bessi0, 3.75, false},
      {"bessi1 at 3.75 (large-argument form)", bessi1, 3.75, false},
  };
  for (const auto& c : cases) {
    const double at = c.f(c.branch);
    const double below = c.f(std::nextafter(c.branch, 0.0));
    const double above = c.f(std::nextafter(c.branch, 10.0));
    const double same_side = c.value_from_lower_side ? below : above;
    const double other_side = c.value_from_lower_side ? above : below;
    EXPECT_LT(rel_err(same_side, at), 1e-14) << c.name;
    EXPECT_GT(rel_err(other_side, at), 1e-9) << c.name;
  }
}

TEST(BesselRecurrence, OrdersZeroAndOneAreTheBaseFunctions) {
  for (double x : {1e-3, 0.5, 2.0, 2.5, 30.0}) {
    EXPECT_EQ(besselk(0, x), bessk0(x)) << x;
    EXPECT_EQ(besselk(1, x), bessk1(x)) << x;
  }
}

TEST(BesselRecurrence, UpwardRecurrenceFromBaseFunctions) {
  for (double x : {1e-3, 0.5, 2.0, 3.75, 30.0}) {
    const double k0 = bessk0(x), k1 = bessk1(x);
    const double k2 = k0 + (2.0 / x) * k1;
    const double k3 = k1 + (4.0 / x) * k2;
    EXPECT_DOUBLE_EQ(besselk(2, x), k2) << x;
    EXPECT_DOUBLE_EQ(besselk(3, x), k3) << x;
  }
}

TEST(BesselRecurrence, NegativeOrderEqualsPositiveOrder) {
  for (int n : {1, 2, 5}) EXPECT_EQ(besselk(-n, 1.7), besselk(n, 1.7)) << n;
}

}  // namespace
