#!/usr/bin/python3
"""Reference values for the normal-probability tests.

Independent of the program's own methods:
  dimension 2: Plackett's identity  Phi2(a,b;rho) = Phi(a)Phi(b) + int_0^rho phi2(a,b;r) dr,
               integrated with mpmath at 30 digits;
  dimension 3: int_{-inf}^{h1} phi(t) Phi2(cond. limits; cond. corr.) dt with Phi2 from
               Owen's T function (scipy.special.owens_t), scipy.integrate.quad at 1e-14;
  dimension 4: the same one level up, the inner trivariate value by the dimension-3 method.
Rank-deficient cases (four composites of two predictors) are integrated over the first
predictor of the exact conditional interval probability of the second.

Writes tests/data/mvn_reference.inc. Run from the repository root:
    /usr/bin/python3 tools/mvn_reference.py
Needs Debian's python3-scipy and python3-mpmath.
"""
import math
import random

import mpmath
import numpy as np
from scipy import integrate, special

mpmath.mp.dps = 30


def Phi(x):
    return 0.5 * math.erfc(-x / math.sqrt(2.0))


def phi(x):
    return math.exp(-0.5 * x * x) / math.sqrt(2.0 * math.pi)


def bvn_lower_mp(a, b, rho):
    """P(X < a, Y < b) by Plackett's identity in mpmath."""
    a, b, rho = mpmath.mpf(a), mpmath.mpf(b), mpmath.mpf(rho)
    base = mpmath.ncdf(a) * mpmath.ncdf(b)

    def dens(r):
        q = 1 - r * r
        return mpmath.exp(-(a * a - 2 * r * a * b + b * b) / (2 * q)) / (2 * mpmath.pi * mpmath.sqrt(q))

    return base + mpmath.quad(dens, [0, rho])


def bvn_lower(a, b, rho):
    """P(X < a, Y < b) through Owen's T function (double precision)."""
    if rho >= 1.0:
        return Phi(min(a, b))
    if rho <= -1.0:
        return max(0.0, Phi(a) - Phi(-b))
    if a == 0.0 and b == 0.0:
        return 0.25 + math.asin(rho) / (2.0 * math.pi)
    s = math.sqrt((1.0 - rho) * (1.0 + rho))

    def t_term(x, y):
        if x == 0.0:
            # T(0, a) = atan(a) / (2 pi), with a -> +-inf as the sign of y - rho x
            return 0.25 * math.copysign(1.0, y) if y != 0.0 else 0.0
        return special.owens_t(x, (y - rho * x) / (x * s))

    val = 0.5 * (Phi(a) + Phi(b)) - t_term(a, b) - t_term(b, a)
    if a * b < 0 or (a * b == 0 and a + b < 0):
        val -= 0.5
    return val


def tvn_lower(h, r):
    """P(X1 < h1, X2 < h2, X3 < h3), r = (r21, r31, r32)."""
    r21, r31, r32 = r
    s21 = math.sqrt(1 - r21 * r21)
    s31 = math.sqrt(1 - r31 * r31)
    rho = (r32 - r21 * r31) / (s21 * s31)
    rho = max(-1.0, min(1.0, rho))

    def f(t):
        return phi(t) * bvn_lower((h[1] - r21 * t) / s21, (h[2] - r31 * t) / s31, rho)

    val, _ = integrate.quad(f, -np.inf, h[0], epsabs=1e-15, epsrel=1e-13, limit=400)
    return val


def qvn_lower(h, r):
    """P(X1 < h1, ..., X4 < h4), r = (r21, r31, r32, r41, r42, r43)."""
    r21, r31, r32, r41, r42, r43 = r
    s = [math.sqrt(1 - x * x) for x in (r21, r31, r41)]
    c23 = (r32 - r21 * r31) / (s[0] * s[1])
    c24 = (r42 - r21 * r41) / (s[0] * s[2])
    c34 = (r43 - r31 * r41) / (s[1] * s[2])

    def f(t):
        hc = ((h[1] - r21 * t) / s[0], (h[2] - r31 * t) / s[1], (h[3] - r41 * t) / s[2])
        return phi(t) * tvn_lower(hc, (c23, c24, c34))

    val, _ = integrate.quad(f, -np.inf, h[0], epsabs=1e-14, epsrel=1e-12, limit=200)
    return val


def qvn_reordered(h, r, order):
    """qvn_lower with the coordinates taken in the given order: putting a smooth
    coordinate outermost keeps the nested integrands smooth when two others
    are nearly perfectly correlated."""
    n = 4
    R = np.eye(n)
    k = 0
    for i in range(n):
        for j in range(i):
            R[i, j] = R[j, i] = r[k]
            k += 1
    hh = [h[o] for o in order]
    RR = R[np.ix_(order, order)]
    return qvn_lower(hh, [RR[i, j] for i in range(n) for j in range(i)])


def random_corr(rng, n):
    """A random positive-definite correlation matrix with |r| <= 0.95."""
    while True:
        k = rng.randint(1, n)
        v = [[rng.gauss(0, 1) for _ in range(k)] + [rng.gauss(0, 0.4) for _ in range(n)] for _ in range(n)]
        for i in range(n):
            v[i][k + i] += rng.uniform(0.2, 1.0)
        m = np.array(v)
        c = m @ m.T
        d = np.sqrt(np.diag(c))
        c = c / np.outer(d, d)
        if np.all(np.abs(c[np.triu_indices(n, 1)]) <= 0.95) and np.linalg.eigvalsh(c)[0] > 1e-3:
            return c


def packed(c):
    n = c.shape[0]
    return [float(c[i, j]) for i in range(n) for j in range(i)]


def rank2_upper(a, w, rho):
    """P(w_i . (X, Y) / sd_i > a_i for all i), (X, Y) standard with correlation rho."""
    s = math.sqrt(1 - rho * rho)

    def f(x):
        lo, hi = -np.inf, np.inf
        for ai, (w1, w2) in zip(a, w):
            sd = math.sqrt(w1 * w1 + w2 * w2 + 2 * w1 * w2 * rho)
            # w1 x + w2 y > ai sd
            if w2 > 0:
                lo = max(lo, (ai * sd - w1 * x) / w2)
            elif w2 < 0:
                hi = min(hi, (ai * sd - w1 * x) / w2)
            elif not w1 * x > ai * sd:
                return 0.0
        if lo >= hi:
            return 0.0
        zl = -np.inf if lo == -np.inf else (lo - rho * x) / s
        zh = np.inf if hi == np.inf else (hi - rho * x) / s
        return phi(x) * (Phi(zh) - Phi(zl))

    # The integrand has kinks where two constraints bind equally or a
    # constraint on x alone switches: integrate piecewise between them.
    lines = []
    for ai, (w1, w2) in zip(a, w):
        sd = math.sqrt(w1 * w1 + w2 * w2 + 2 * w1 * w2 * rho)
        lines.append((ai * sd, w1, w2))
    cuts = {-12.0, 12.0}
    for c, w1, w2 in lines:
        if w2 == 0 and w1 != 0:
            cuts.add(c / w1)
    for i, (ci, w1i, w2i) in enumerate(lines):
        for cj, w1j, w2j in lines[i + 1:]:
            if w2i != 0 and w2j != 0:
                # (ci - w1i x) / w2i = (cj - w1j x) / w2j
                den = w1i * w2j - w1j * w2i
                if den != 0:
                    cuts.add((ci * w2j - cj * w2i) / den)
    pts = sorted(x for x in cuts if -12.0 <= x <= 12.0)
    val = 0.0
    for lo, hi in zip(pts, pts[1:]):
        v, _ = integrate.quad(f, lo, hi, epsabs=1e-15, epsrel=1e-13, limit=400)
        val += v
    return val


def rank2_corr(w, rho):
    n = len(w)
    c = np.eye(n)
    for i in range(n):
        for j in range(n):
            wi, wj = w[i], w[j]
            cov = wi[0] * wj[0] + wi[1] * wj[1] + rho * (wi[0] * wj[1] + wi[1] * wj[0])
            vi = wi[0] ** 2 + wi[1] ** 2 + 2 * rho * wi[0] * wi[1]
            vj = wj[0] ** 2 + wj[1] ** 2 + 2 * rho * wj[0] * wj[1]
            c[i, j] = cov / math.sqrt(vi * vj)
    return c


def fmt(x):
    return repr(float(x))


def main():
    rng = random.Random(20261208)
    out = []
    out.append("// Generated by tools/mvn_reference.py; do not edit.")
    out.append("// Independent reference values: see the script for the methods.")

    out.append("// {h, k, r, P(X > h, Y > k)}")
    out.append("inline constexpr BvnCase kBvnCases[] = {")
    for _ in range(300):
        h, k, r = rng.uniform(-3, 3), rng.uniform(-3, 3), rng.uniform(-0.95, 0.95)
        if rng.random() < 0.3:
            r = math.copysign(rng.uniform(0.925, 0.999), r)
        p = bvn_lower_mp(-h, -k, r)
        out.append("    {%s, %s, %s, %s}," % (fmt(h), fmt(k), fmt(r), mpmath.nstr(p, 20)))
    out.append("};")

    out.append("// {h1..h3, r21 r31 r32, P(X < h)}")
    out.append("inline constexpr TvnCase kTvnCases[] = {")
    for _ in range(200):
        h = [rng.uniform(-3, 3) for _ in range(3)]
        r = packed(random_corr(rng, 3))
        out.append("    {{%s}, {%s}, %s}," % (", ".join(map(fmt, h)), ", ".join(map(fmt, r)),
                                          fmt(tvn_lower(h, r))))
    out.append("};")

    out.append("// {h1..h4, r21 r31 r32 r41 r42 r43, P(X < h)}")
    out.append("inline constexpr QvnCase kQvnCases[] = {")
    for _ in range(200):
        h = [rng.uniform(-3, 3) for _ in range(4)]
        r = packed(random_corr(rng, 4))
        out.append("    {{%s}, {%s}, %s}," % (", ".join(map(fmt, h)), ", ".join(map(fmt, r)),
                                          fmt(qvn_lower(h, r))))
    out.append("};")

    out.append("// Composites of two predictors: {n, limits, packed correlations, P(all > limit)}")
    out.append("inline constexpr Rank2Case kRank2Cases[] = {")
    designs = [
        [(1, 0), (0, 1), (1, 1)],
        [(1, 0), (0, 1), (1, 1), (1, 2)],
        [(1, 0), (1, 0.5), (0.5, 1), (0, 1)],
        [(1, 1), (2, 2), (1, 0)],
        [(1, 0), (-1, 0), (0, 1)],
    ]
    for w in designs:
        for _ in range(8):
            rho = rng.uniform(-0.5, 0.8)
            a = [rng.uniform(-1.5, 1.0) for _ in w]
            if w[1] == (-1, 0):
                a[1] = rng.uniform(-2.0, -0.2)  # keep the interval X1 in (a1, -a2) open
            c = rank2_corr(w, rho)
            lims = a + [0.0] * (4 - len(a))
            rp = packed(c) + [0.0] * (6 - len(packed(c)))
            out.append("    {%d, {%s}, {%s}, %s}," % (len(w), ", ".join(map(fmt, lims)),
                                                   ", ".join(map(fmt, rp)), fmt(rank2_upper(a, w, rho))))
    out.append("};")

    with open("tests/data/mvn_reference.inc", "w") as f:
        f.write("\n".join(out) + "\n")

    # The nearly perfect correlation case of the tests (r21 = 0.99).
    print("qvnd near-singular reference: %r" % qvn_reordered(
        [0.3, 0.5, -0.2, 0.1], [0.99, 0.4, 0.4, 0.3, 0.3, 0.2], [3, 2, 0, 1]))


if __name__ == "__main__":
    main()
