// Zero of a function of one variable in a bracket: secant steps safeguarded by
// bisection (Dekker's method), with an evaluation limit.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace numeric {

// Machine constants of IEEE 754 binary64.
inline constexpr std::array<double, 5> kMachine = {
    0x1p-1022,                // smallest positive normalised number
    0x1.fffffffffffffp+1023,  // largest finite number
    0x1p-53,                  // smallest relative spacing
    0x1p-52,                  // largest relative spacing (machine epsilon)
    0.3010299956639812,       // log10(2)
};

constexpr double d1mach(int i) {
  return kMachine[static_cast<std::size_t>(i - 1)];
}

// Outcome codes of dfzero.
enum DfzeroFlag : int {
  kConverged = 1,  // bracket within tolerance, sign change, magnitude not grown
  kExactZero = 2,  // the function is exactly zero at b
  kGrown = 3,      // sign change with grown magnitude: a pole or jump
  kNoChange = 4,   // no sign change found
  kTooMany = 5,    // evaluation limit reached
};

// Searches a zero of f between b and c, starting from the guess r when it lies
// strictly inside. On return b is the best estimate and c the other end of the
// final bracket; iflag tells the outcome. f is called with a copy of the point.
template <class F>
void dfzero(F&& f, double& b, double& c, double r, double re, double ae, int& iflag) {
  constexpr int kMaxEvaluations = 500;
  auto sign = [](double x) { return x >= 0.0 ? 1 : -1; };
  auto eval = [&f](double x) {
    double t = x;
    return static_cast<double>(f(t));
  };

  const double er = 2.0 * d1mach(4);
  double z = r;
  if (r <= std::min(b, c) || r >= std::max(b, c)) z = c;
  const double rw = std::max(re, er);
  const double aw = std::max(ae, 0.0);
  int ic = 0;
  double fz = eval(z);
  double fc = fz;
  double fb = eval(b);
  int kount = 2;
  if (sign(fz) != sign(fb)) {
    c = z;
  } else if (z != c) {
    fc = eval(c);
    kount = 3;
    if (sign(fz) != sign(fc)) {
      b = z;
      fb = fz;
    }
  }
  double a = c;
  double fa = fc;
  double acbs = std::fabs(b - c);
  const double fx = std::max(std::fabs(fb), std::fabs(fc));

  for (;;) {
    if (std::fabs(fc) < std::fabs(fb)) {  // b becomes the better point
      a = b;
      fa = fb;
      b = c;
      fb = fc;
      c = a;
      fc = fa;
    }
    const double cmb = (c - b) * 0.5;
    const double acmb = std::fabs(cmb);
    const double tol = rw * std::fabs(b) + aw;
    if (acmb <= tol) {
      if (sign(fb) == sign(fc)) {
        iflag = kNoChange;
      } else if (std::fabs(fb) > fx) {
        iflag = kGrown;
      } else {
        iflag = kConverged;
      }
      return;
    }
    if (fb == 0.0) {
      iflag = kExactZero;
      return;
    }
    if (kount >= kMaxEvaluations) {
      iflag = kTooMany;
      return;
    }
    double p = (b - a) * fb;
    double q = fa - fb;
    if (p < 0.0) {
      p = -p;
      q = -q;
    }
    a = b;
    fa = fb;
    ++ic;
    bool bisect = false;
    if (ic >= 4) {  // slow progress over four steps: bisect until the bracket shrinks
      if (8.0 * acmb >= acbs) {
        bisect = true;
      } else {
        ic = 0;
        acbs = acmb;
      }
    }
    if (bisect) {
      b += cmb;
    } else if (p <= std::fabs(q) * tol) {  // step too small: move by the tolerance
      b += cmb >= 0.0 ? tol : -tol;
    } else if (p < cmb * q) {  // secant step
      b += p / q;
    } else {
      b += cmb;
    }
    fb = eval(b);
    ++kount;
    if (sign(fb) == sign(fc)) {
      c = a;
      fc = fa;
    }
  }
}

}  // namespace numeric
