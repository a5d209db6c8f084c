#include "engine/summary.hpp"

#include <cmath>
#include <limits>

#include "engine/problem.hpp"
#include "numeric/ssort.hpp"

namespace selquant {

void save_pass(Saved& saved, const Model& m) {
  const Wdca& a = m.wdca;
  for (int s = 1; s <= a.nstage; ++s) {
    if (!std::isfinite(m.wdcf.qall(s))) {
      ++saved.not_counted;
      return;
    }
    for (int g = 1; g <= a.ngroup; ++g) {
      if (!std::isfinite(m.wdcc.aicum(s, g))) {
        ++saved.not_counted;
        return;
      }
    }
  }
  const int k = ++saved.count;
  for (int s = 1; s <= a.nstage; ++s) {
    saved.q(s, k) = static_cast<float>(m.wdcf.qall(s));
    saved.avq(s) += saved.q(s, k);
    for (int g = 1; g <= a.ngroup; ++g) {
      saved.ai(s, k, g) = static_cast<float>(m.wdcc.aicum(s, g));
      saved.avai(s, g) += saved.ai(s, k, g);
      saved.qg(s, k, g) = static_cast<float>(m.wdcf.qgrp(g, s));
      saved.st(s, k, g) = static_cast<float>(m.wdcc.aistg(s, g));
    }
  }
}

Summary summarize(int smode, const Model& m, Saved& saved) {
  const Wdca& a = m.wdca;
  Summary sum;
  const int n = saved.count;
  sum.count = n;
  sum.not_counted = saved.not_counted;
  if (n == 0) return sum;
  sum.percentiles = smode != kExact && n >= 100;
  // Sorts the first `count` values of the buffer and takes their percentiles.
  auto points = [&](int count, std::array<float, kPercentiles.size()>& into) {
    numeric::ssort(saved.hsais.get(), saved.hsais.get(), count, 1);
    for (std::size_t j = 0; j < kPercentiles.size(); ++j)
      into[j] = saved.hsais[static_cast<std::size_t>(kPercentiles[j] * count / 100 - 1)];
  };
  // One saved series into the buffer, and its percentiles.
  auto percentiles = [&](auto value, std::array<float, kPercentiles.size()>& into) {
    for (int k = 1; k <= n; ++k)
      saved.hsais[static_cast<std::size_t>(k - 1)] = value(k);
    points(n, into);
  };
  for (int s = 1; s <= a.nstage; ++s) {
    const auto S = static_cast<std::size_t>(s - 1);
    sum.avq(s) = saved.avq(s) / n;
    for (int g = 1; g <= a.ngroup; ++g)
      sum.avai(s, g) = saved.avai(s, g) / n;
    if (!sum.percentiles) continue;
    percentiles([&](int k) { return saved.q(s, k); }, sum.q[S]);
    for (int g = 1; g <= a.ngroup; ++g)
      percentiles([&](int k) { return saved.ai(s, k, g); },
                  sum.ai[S][static_cast<std::size_t>(g - 1)]);
  }
  // The groups' quality and Stage AI, of the passes where they are finite.
  constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  auto finite = [&](auto value, double& mean, std::array<float, kPercentiles.size()>& into) {
    int f = 0;
    double total = 0;
    for (int k = 1; k <= n; ++k) {
      const float v = value(k);
      if (!std::isfinite(v)) continue;
      saved.hsais[static_cast<std::size_t>(f++)] = v;
      total += v;
    }
    mean = f > 0 ? total / f : std::numeric_limits<double>::quiet_NaN();
    into.fill(kNone);
    if (sum.percentiles && f >= 100) points(f, into);
  };
  for (int s = 1; s <= a.nstage; ++s) {
    const auto S = static_cast<std::size_t>(s - 1);
    for (int g = 1; g <= a.ngroup; ++g) {
      const auto G = static_cast<std::size_t>(g - 1);
      finite([&](int k) { return saved.qg(s, k, g); }, sum.avqg(s, g), sum.qg[S][G]);
      finite([&](int k) { return saved.st(s, k, g); }, sum.avst(s, g), sum.st[S][G]);
    }
  }
  return sum;
}

}  // namespace selquant
