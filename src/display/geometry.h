// Where things are on the screen, in one place: the rows of the nine
// clusters and the fields of the status line. The layout draws from these,
// the operator's clicks are found with them, and the waterfall, the speed
// figures and the text lines are drawn at them.
//
// Pixels, origin top left. Cluster q (0 .. 8, lowest frequency first) lies
// at rows around the middle of the window, eight pixels apart, higher
// clusters higher: its waterfall strip starts at strip_y and its frequency
// label, speed figure and text line stand at row_y.
#pragma once

namespace talvo {

inline constexpr int kScreenClusters = 9;

// The rows' offset in steps of 8 pixels: the cluster's centre channel
// number (-20 .. 20), as the channel plan numbers it.
constexpr int row_channel(int q) {
  return 5 * q - 20;
}
constexpr int strip_y(int height, int q) {
  return height / 2 - 8 * row_channel(q);
}
constexpr int row_y(int height, int q) {
  return height / 2 - 5 - 8 * row_channel(q);
}

// The cluster a click on pixel row py finds, or -1 between the rows: eight
// rows from about the top of its waterfall strip (strip_y + 1 .. strip_y + 7
// always; the row above or below that, by the side of the middle).
constexpr int cluster_at(int height, int py) {
  int ch = (height / 2 - py) / 8;
  if (py <= height / 2) ch++;
  if (ch % 5 != 0 || ch < -20 || ch > 20) return -1;
  return (ch + 20) / 5;
}

// The status line, 15 pixels above the bottom edge.
constexpr int status_y(int height) {
  return height - 15;
}
inline constexpr int kStatusClickBand = 17;  // clicks this close to the bottom hit the status line

enum StatusField { kQuit, kOverflow, kTxSpeed, kIngain, kDisplayGain, kWaterSpeed, kStatusFields };

struct StatusPlace {
  const char* label;
  int label_x;      // pixels
  int value_x;      // pixels; -1 without a value
  int value_chars;  // characters cleared before a value is redrawn
  int click_lo;     // clicks from here ...
  int click_hi;     // ... to here (pixels, both included) hit the field; -1: none
};

inline constexpr StatusPlace kStatus[kStatusFields] = {
    {"QUIT", 20, -1, 0, 21, 49},
    {"OVF", 90, 115, 0, -1, -1},  // value_x: the overload box
    {"TX speed", 170, 230, 5, 171, 269},
    {"ingain", 290, 335, 4, 291, 374},
    {"displaygain", 390, 465, 4, 391, 504},
    {"waterspeed", 520, 595, 4, 521, 634},
};

// The status field a click at px hits, or -1.
constexpr int status_field_at(int px) {
  for (int f = 0; f < kStatusFields; f++)
    if (kStatus[f].click_lo >= 0 && px >= kStatus[f].click_lo && px <= kStatus[f].click_hi)
      return f;
  return -1;
}

inline constexpr int kOverloadBox = 10;  // side of the overload box, pixels

}  // namespace talvo
