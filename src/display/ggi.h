// The display layer: a frame of 24-bit pixels with the drawing calls the
// program uses, shown in an SDL2 window when there is a display.
//
// All drawing goes to the in-memory frame (0xRRGGBB per pixel, origin top
// left); `Flush` marks it changed. The window shows the latest frame at most
// about 60 times a second, and never more than 50 ms after a change as long
// as the program keeps calling `Flush` or `EventPoll` (it does so on every
// tick sample) and once more before the program ends. Without a display the
// program runs on with the frame alone.
//
// Input arrives as events in the shape the operator code reads: key presses
// with their key symbols, absolute pointer positions in frame pixels, button
// presses, and the window being closed.
//
// Why GGI's names on SDL2: the receiver's drawing and event code was written
// for GGI, the General Graphics Interface, and the account of what it draws
// and reads is written in GGI's terms: Puts, PutBox and SetGCForeground on a
// visual, ggi_color with 16-bit components, gii_event with evKeyPress,
// evPtrAbsolute and the GIIK_ key symbols. This layer keeps those names on
// top of SDL2 so that the code and that account can be read side by side,
// call for call (the font renderer's psfPuts and its file PSFinGGI keep
// them too). SDL2 itself appears only in ggi.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

union SDL_Event;

namespace talvo {

using ggi_pixel = uint32_t;  // 0xRRGGBB

// A colour with 16 bits per component (the 8-bit value in the high byte).
struct ggi_color {
  uint16_t r = 0, g = 0, b = 0, a = 0;
};

// Event types and key symbols.
inline constexpr int evKeyPress = 5;
inline constexpr int evPtrAbsolute = 9;
inline constexpr int evPtrButtonPress = 10;
inline constexpr int evWindowClosed = 100;  // the operator closed the window
inline constexpr unsigned GIIUC_Escape = 27;
inline constexpr unsigned GIIUC_BackSpace = 8;
inline constexpr unsigned GIIUC_Return = 13;
inline constexpr unsigned GIIUC_Tab = 9;
inline constexpr unsigned GIIK_F1 = 0xE101;  // F1 .. F12 follow on: F10 0xE10A, F12 0xE10C
inline constexpr int GII_PBUTTON_LEFT = 1;
inline constexpr int GII_PBUTTON_RIGHT = 2;
inline constexpr int GII_PBUTTON_MIDDLE = 3;

struct gii_event {
  int type = 0;
  unsigned sym = 0;  // evKeyPress: the key symbol
  int x = 0, y = 0;  // evPtrAbsolute: the pointer position, frame pixels
  int button = 0;    // evPtrButtonPress: 1 left, 2 right, 3 middle
};

// The events one event of the window becomes (at most kMaxTranslated);
// returns how many.
inline constexpr int kMaxTranslated = 32;
int translate_event(const ::SDL_Event& e, gii_event* out);

// The built-in 8 x 8 font: 256 glyphs of 8 rows, bit 7 the leftmost pixel.
extern const unsigned char kBuiltinFont[256][8];

class Visual {
 public:
  Visual() = default;
  Visual(const Visual&) = delete;
  Visual& operator=(const Visual&) = delete;
  ~Visual();

  // Makes the frame, all black.
  void make(int width, int height);
  // Opens the window showing the frame. Returns false where no window can
  // be opened; the frame still works.
  bool open_window(const char* title);
  bool has_window() const { return window_ != nullptr; }

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<ggi_pixel>& frame() const { return frame_; }
  ggi_pixel pixel(int x, int y) const { return frame_[static_cast<std::size_t>(y) * width_ + x]; }

  // Drawing; everything outside the frame is clipped.
  void SetGCForeground(ggi_pixel p) { fg_ = p; }
  void SetGCBackground(ggi_pixel p) { bg_ = p; }
  void PutPixel(int x, int y, ggi_pixel p) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_)
      frame_[static_cast<std::size_t>(y) * width_ + x] = p;
  }
  void DrawBox(int x, int y, int w, int h);       // filled, foreground
  void DrawLine(int x0, int y0, int x1, int y1);  // both ends included
  void Putc(int x, int y, char c);                // 8 x 8 cell, fg on bg
  void Puts(int x, int y, const char* s);         // 8 pixels a character
  void PutBox(int x, int y, int w, int h, const ggi_pixel* pixels);
  static ggi_pixel MapColor(const ggi_color& c) {
    return static_cast<ggi_pixel>((c.r >> 8) << 16 | (c.g >> 8) << 8 | (c.b >> 8));
  }
  static void PackColors(ggi_pixel* out, const ggi_color* in, int n) {
    for (int i = 0; i < n; i++)
      out[i] = MapColor(in[i]);
  }
  void Flush();

  // Events. EventPoll fetches what the window has (at most every few
  // milliseconds; it never waits) and presents a changed frame that is due.
  void EventPoll();
  int EventsQueued() const { return static_cast<int>(queue_.size() - head_); }
  gii_event EventRead();
  // Puts an event in the queue as if the window had sent it.
  void inject(const gii_event& e) { push(e); }
  // Presents the frame now if it changed (before the program ends).
  void Finish();

 private:
  void present();
  void pump();
  void push(const gii_event& e);

  int width_ = 0, height_ = 0;
  std::vector<ggi_pixel> frame_;
  ggi_pixel fg_ = 0, bg_ = 0;
  bool dirty_ = false;
  int64_t last_present_ms_ = -1000;
  int64_t last_pump_ms_ = -1000;
  std::vector<gii_event> queue_;
  std::size_t head_ = 0;

  // The window; null when there is none.
  void* window_ = nullptr;
  void* renderer_ = nullptr;
  void* texture_ = nullptr;
};

}  // namespace talvo
