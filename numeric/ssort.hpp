// In-place quicksort of single-precision values (median of three at a fixed
// fraction of the segment, explicit stack of pending segments), optionally
// carrying a second array along.
#pragma once

namespace numeric {

// kflag: 1 increasing, 2 increasing carrying y, -1 decreasing, -2 decreasing
// carrying y. Returns false, with both arrays unchanged, for n < 1 or any other
// kflag.
bool ssort(float* x, float* y, int n, int kflag);

}  // namespace numeric
