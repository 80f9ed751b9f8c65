// Sliding windows kept without shifting.
//
// A stage that needs the last n values of a signal, oldest first, keeps them
// in a row of at least 2n doubles: every value is written twice, at pos and at
// pos + n, so that the whole window always stands contiguous at row[pos ..
// pos + n - 1]. Reading it gives the very same values in the very same order
// as a window shifted by one place per tick, at the cost of two stores instead
// of a block move. A zero-filled row is a window of zeros.
#pragma once

namespace talvo {

// Appends v as the newest of the n values and returns the window, oldest first.
inline const double* push_window(double* row, int& pos, int n, double v) {
  row[pos] = v;
  row[pos + n] = v;
  if (++pos == n) pos = 0;
  return row + pos;
}

}  // namespace talvo
