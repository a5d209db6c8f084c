#include "numeric/ssort.hpp"

#include <array>
#include <utility>

namespace numeric {

bool ssort(float* x, float* y, int n, int kflag) {
  if (n < 1) return false;
  const int kk = kflag < 0 ? -kflag : kflag;
  if (kk != 1 && kk != 2) return false;
  const bool carry = kk == 2;
  if (kflag <= -1)
    for (int i = 0; i < n; ++i)
      x[i] = -x[i];

  // 1-based views, as the algorithm counts.
  float* xv = x - 1;
  float* yv = carry ? y - 1 : nullptr;
  auto swap = [&](int p, int q) {
    std::swap(xv[p], xv[q]);
    if (carry) std::swap(yv[p], yv[q]);
  };

  // 21 pending segments cover n up to 2^21: the larger part is always pushed.
  std::array<int, 21> il{};
  std::array<int, 21> iu{};
  constexpr double r = 0.375 + 0.0390625;  // split fraction 53/128
  int m = 1;
  int i = 1;
  int j = n;
  bool partition = i != j;
  for (;;) {
    if (partition) {
      // Partition x(i..j) around the median of x(i), x(ij), x(j).
      int k = i;
      int ij = i + static_cast<int>((j - i) * r);
      float t = xv[ij];
      if (xv[i] > t) {
        swap(ij, i);
        t = xv[ij];
      }
      int l = j;
      if (xv[j] < t) {
        swap(ij, j);
        t = xv[ij];
        if (xv[i] > t) {
          swap(ij, i);
          t = xv[ij];
        }
      }
      for (;;) {
        do {
          --l;
        } while (xv[l] > t);
        do {
          ++k;
        } while (xv[k] < t);
        if (k > l) break;
        swap(l, k);
      }
      if (l - i > j - k) {
        il[static_cast<std::size_t>(m - 1)] = i;
        iu[static_cast<std::size_t>(m - 1)] = l;
        i = k;
      } else {
        il[static_cast<std::size_t>(m - 1)] = k;
        iu[static_cast<std::size_t>(m - 1)] = j;
        j = l;
      }
      ++m;
      partition = j - i >= 1;
      continue;
    }
    // Pop the next pending segment.
    --m;
    if (m == 0) break;
    i = il[static_cast<std::size_t>(m - 1)];
    j = iu[static_cast<std::size_t>(m - 1)];
    partition = j - i >= 1;
  }

  if (kflag <= -1)
    for (int q = 0; q < n; ++q)
      x[q] = -x[q];
  return true;
}

}  // namespace numeric
