// The search over the Lagrange multiplier of one Occam iteration. The trial
// table lambdarms holds one row per trial multiplier (log10 lambda, RMS misfit,
// model misfit; RMS 0 means not evaluated yet). The driver evaluates the new
// rows, then phasei looks at the whole table and either proposes the next
// multiplier, re-arms the rows, or ends the search.
//
// The search always ends: every pass through phasei counts against
// max_search_passes, and a second pass in one iteration in which every trial
// failed ends the search instead of moving the trials up another decade.
#include <array>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/error.hpp"
#include "core/inversion/occam.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/matrix.hpp"
#include "core/numerics/text_io.hpp"

namespace varnel::occam {

namespace {

void log_free(const char* text) { std::cout << text_io::free_format({text}) << '\n'; }

void log_line(const std::string& text) { std::cout << text << '\n'; }

// Three unevaluated trials centre - spread, centre, centre + spread, in
// ascending order (the spread may be negative).
Dmatrix three_trials(double centre, double spread) {
  Dmatrix t(3, 3, 0.0);
  t(1, 1) = centre - spread;
  t(2, 1) = centre;
  t(3, 1) = centre + spread;
  matrix::sortrows(t, 1);
  return t;
}

// The rows whose RMS is a number, in their order.
Dmatrix drop_failed(const Dmatrix& t) {
  int32_t kept = 0;
  for (int32_t i = 1; i <= t.rows(); ++i)
    if (!std::isnan(t(i, 2))) ++kept;
  Dmatrix out(kept, 3, 0.0);
  int32_t r = 0;
  for (int32_t i = 1; i <= t.rows(); ++i) {
    if (std::isnan(t(i, 2))) continue;
    ++r;
    for (int32_t c = 1; c <= 3; ++c) out(r, c) = t(i, c);
  }
  return out;
}

int32_t first_min_rms_row(const Dmatrix& t) {
  int32_t k = 1;
  for (int32_t i = 2; i <= t.rows(); ++i)
    if (t(i, 2) < t(k, 2)) k = i;
  return k;
}

int32_t first_max_rms_row(const Dmatrix& t) {
  int32_t k = 1;
  for (int32_t i = 2; i <= t.rows(); ++i)
    if (t(i, 2) > t(k, 2)) k = i;
  return k;
}

// The abscissa where the line through rows a and b of the table reaches the
// top of the target band.
double line_to_upper_level(const Occam_state& o, int32_t a, int32_t b) {
  const Dmatrix& t = o.lambdarms;
  return maths::linear_search({t(a, 1), t(b, 1)}, {t(a, 2), t(b, 2)}, o.upper_level);
}

// A log10 multiplier no update can use: not a number, or 10^p overflowing.
bool not_a_multiplier(double p) {
  return std::isnan(p) || !maths::isfinite_real(std::pow(10.0, p));
}

// Makes p the newest trial of the iteration.
void propose(Occam_state& o, double p) {
  o.plambda = p;
  int32_t n = o.lambdarms.rows();
  add_element(o, p, n);
}

// The tests of a proposal made while every trial is above the band: below
// the smallest multiplier, unusable, or within one per cent (in log10 lambda)
// of a trial already made ends the search.
void test_above_band_proposal(Occam_state& o, double p, bool log_close, bool& check) {
  if (p < o.minlambda) check = false;
  if (not_a_multiplier(p) || p <= -10.0) {
    check = false;
    return;
  }
  const Dmatrix& t = o.lambdarms;
  for (int32_t i = 1; i <= t.rows(); ++i) {
    if (std::abs(t(i, 1) / p - 1.0) < 0.01) {
      if (log_close) log_free("New lambda is equal to old");
      check = false;
    }
  }
  if (!check) return;
  if (p == o.plambda) {
    check = false;
    return;
  }
  propose(o, p);
}

// Every trial misfits more than the band allows, the best at one end of the
// table: step beyond that end.
void above_band_at_end(Occam_state& o, int32_t k, bool& check) {
  const Dmatrix& t = o.lambdarms;
  const int32_t n = t.rows();
  const int32_t j = first_max_rms_row(t);
  if (j == k) {
    check = false;
    return;
  }
  if (std::abs(j - k) == 1) {
    // Best and worst side by side: half a spacing further out.
    const double p = k == 1 ? t(k, 1) - 0.5 * o.iextend : t(k, 1) + 0.5 * o.iextend;
    if (p == o.plambda) {
      log_free("Min is nearby Max and new_lambda is the same with previous lambda ");
      check = false;
      return;
    }
    propose(o, p);
    return;
  }
  // Extrapolate the best trial and its inner neighbour to the band.
  const int32_t inner = k == 1 ? 2 : n - 1;
  const double p = line_to_upper_level(o, k, inner);
  test_above_band_proposal(o, p, true, check);
}

// Every trial misfits more than the band allows, the best one inside the
// table: the vertex of the parabola through the three best trials.
void above_band_inside(Occam_state& o, bool& check) {
  Dmatrix& t = o.lambdarms;
  matrix::sortrows(t, 2);
  const double l1 = t(1, 1), l2 = t(2, 1), l3 = t(3, 1);
  const double r1 = t(1, 2), r2 = t(2, 2), r3 = t(3, 2);
  // Trials this close in multiplier or misfit give no usable parabola.
  if (std::abs(l2 / l1 - 1.0) <= 0.004 || std::abs(r2 / r1 - 1.0) <= 0.01 ||
      std::abs(l3 / l1 - 1.0) <= 0.004 || std::abs(r3 / r1 - 1.0) <= 0.01 ||
      std::abs(r3 / r2 - 1.0) <= 0.01)
    check = false;
  Dmatrix points(3, 2);
  for (int32_t i = 1; i <= 3; ++i) {
    points(i, 1) = t(i, 1);
    points(i, 2) = t(i, 2);
  }
  matrix::sortrows(points, 1);
  const double p = maths::parabolic_interpolation(points);
  test_above_band_proposal(o, p, false, check);
}

// The tests of a proposal made when some trial fits at least to the band.
void test_band_proposal(Occam_state& o, double p, bool& check) {
  if (p < o.minlambda) check = false;
  // Two trials of equal misfit give a line that never reaches the band.
  if (not_a_multiplier(p)) check = false;
  const Dmatrix& t = o.lambdarms;
  for (int32_t i = 1; i <= t.rows(); ++i)
    if (std::abs(t(i, 1) / p - 1.0) <= 1e-5) check = false;
  if (!check) return;
  if (std::abs(p / o.plambda - 1.0) <= 0.01) {
    check = false;
    return;
  }
  propose(o, p);
}

// Every trial fits better than the band: interpolate towards the band along
// the two trials where the misfit last rose.
void below_band(Occam_state& o, bool& check, bool& endprocess) {
  const Dmatrix& t = o.lambdarms;
  const int32_t n = t.rows();
  // One trial gives no line to follow.
  if (n < 2) {
    check = false;
    return;
  }
  if (t(n - 1, 2) == t(n, 2)) {
    check = false;
    endprocess = true;
    return;
  }
  int32_t a = n - 1;
  if (t(n - 1, 2) > t(n, 2)) {
    a = 1;
    for (int32_t j = 1; j < n; ++j)
      if (t(j + 1, 2) > t(j, 2)) a = j;
  }
  test_band_proposal(o, line_to_upper_level(o, a, a + 1), check);
}

// Some trials misfit more than the band, the best one not: interpolate
// between the best and the next trial to its right that misfits more.
void across_band(Occam_state& o, int32_t k, bool& check) {
  Dmatrix& t = o.lambdarms;
  const int32_t n = t.rows();
  const double min_lambda = t(k, 1), min_rms = t(k, 2);
  const auto first_right_of_min = [&](double above) {
    for (int32_t i = 1; i <= n; ++i)
      if (t(i, 2) > above && t(i, 1) > min_lambda) return i;
    return 0;
  };
  int32_t i = first_right_of_min(o.lower_level);
  if (i == 0) i = first_right_of_min(min_rms);
  if (i == 0) {
    // Nothing to the right to interpolate with: try every trial again one
    // decade higher.
    log_free("Left Side");
    for (int32_t r = 1; r <= n; ++r) {
      t(r, 1) += 1.0;
      t(r, 2) = 0.0;
      t(r, 3) = 0.0;
    }
    return;
  }
  test_band_proposal(o, line_to_upper_level(o, i - 1, i), check);
}

void at_or_below_band(Occam_state& o, int32_t k, bool& check, bool& endprocess) {
  const Dmatrix& t = o.lambdarms;
  bool above_lower = false;
  for (int32_t i = 1; i <= t.rows(); ++i) {
    if (o.lower_level < t(i, 2) && t(i, 2) < o.upper_level) {
      check = false;
      endprocess = true;
    }
    if (t(i, 2) > o.lower_level) above_lower = true;
  }
  if (!check) return;
  if (above_lower)
    across_band(o, k, check);
  else
    below_band(o, check, endprocess);
}

// A pass in which every trial failed: the first time in an iteration the
// trials move one decade up around the first multiplier; the second time the
// search ends, since nothing counts these failures elsewhere.
void all_trials_failed(Occam_state& o, bool& check) {
  if (o.nretry >= 1) {
    log_line("!-> Every trial of this iteration failed: the multiplier search ends");
    check = false;
    return;
  }
  ++o.nretry;
  o.ilambda += 1.0;
  o.lambdarms = three_trials(o.ilambda, o.iextend);
}

void search_step(Occam_state& o, bool& check, bool& endprocess) {
  const int32_t n = o.lambdarms.rows();
  const int32_t k = first_min_rms_row(o.lambdarms);
  if (o.lambdarms(k, 2) <= o.upper_level)
    at_or_below_band(o, k, check, endprocess);
  else if (k == 1 || k == n)
    above_band_at_end(o, k, check);
  else
    above_band_inside(o, check);
}

}  // namespace

void add_element(Occam_state& o, double new_lambda, int32_t& nlambda) {
  const Dmatrix& old = o.lambdarms;
  if (nlambda != old.rows() || (nlambda > 0 && old.cols() != 3))
    fail("internal error: the trial table holds " + std::to_string(old.rows()) + " rows, not " +
         std::to_string(nlambda));
  Dmatrix t(nlambda + 1, 3, 0.0);
  for (int32_t i = 1; i <= nlambda; ++i)
    for (int32_t c = 1; c <= 3; ++c) t(i, c) = old(i, c);
  t(nlambda + 1, 1) = new_lambda;
  o.lambdarms = std::move(t);
  ++nlambda;
}

void cal_initial_lambda(Occam_state& o) {
  o.lambdarms.clear();
  o.npass = 0;
  o.nretry = 0;
  if (o.iter < 1) fail("internal error: the multiplier search needs an iteration of 1 or more");
  if (o.fixlambda) {
    double l = o.ilambda;
    if (o.nprelambda > 0) {
      if (static_cast<std::size_t>(o.iter) > o.prelambda.size())
        fail("internal error: no prescribed multiplier for iteration " + std::to_string(o.iter));
      l = o.prelambda[static_cast<std::size_t>(o.iter - 1)];
    }
    o.lambdarms.assign(1, 3, 0.0);
    o.lambdarms(1, 1) = l;
    return;
  }
  if (o.iter == 1) {
    o.lambdarms = three_trials(o.ilambda, o.iextend);
    return;
  }
  if (o.iterrms.rows() < o.iter || o.iterrms.cols() < 1)
    fail("internal error: no accepted multiplier for iteration " + std::to_string(o.iter - 1));
  const double x = o.iterrms(o.iter, 1);
  // An iteration that accepted no trial leaves no multiplier to centre on;
  // start again from the first multiplier with the spacing in use.
  if (!std::isfinite(x)) {
    o.lambdarms = three_trials(o.ilambda, o.iextend);
    return;
  }
  o.iextend = 0.25 * x;
  o.lambdarms = three_trials(x, o.iextend);
}

void phasei(Occam_state& o, bool& check, bool& endprocess) {
  endprocess = false;
  if (o.fixlambda) {
    check = false;
    return;
  }
  o.lambdarms = drop_failed(o.lambdarms);
  if (++o.npass > max_search_passes) {
    log_line("!-> The multiplier search ends after " + std::to_string(max_search_passes) +
             " passes");
    check = false;
  } else if (o.lambdarms.rows() == 0) {
    all_trials_failed(o, check);
    return;
  } else {
    search_step(o, check, endprocess);
  }
  matrix::sortrows(o.lambdarms, 1);
}

}  // namespace varnel::occam
