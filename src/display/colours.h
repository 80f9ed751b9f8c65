// The window's colours, 0xRRGGBB.
#pragma once

namespace talvo {

inline constexpr int kBlack = 0x000000;
inline constexpr int kStatusColour = 0x808000;   // the status line's labels and values
inline constexpr int kLabelColour = 0x0050FF;    // the clusters' frequency labels
inline constexpr int kTxLabelColour = 0x00FFD0;  // the transmit cluster's label
inline constexpr int kHelpColour = 0x004080;     // the title and help lines
inline constexpr int kSendColour = 0x00FF00;     // "Send:"
inline constexpr int kTypedColour = 0xFFFFFF;    // typed text waiting to be keyed
inline constexpr int kKeyedColour = 0xAAAAAA;    // typed text being or having been keyed
inline constexpr int kEchoColour = 0xFF0000;     // the selected cluster's echo; the overload box
inline constexpr int kCursorColour = 0xFF8800;   // the cursor mark of a text line
inline constexpr int kKeyTickColour = 0xFFFF00;  // the selected cluster's key-down tick

}  // namespace talvo
