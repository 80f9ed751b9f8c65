#include "display/ggi.h"

#include <SDL2/SDL.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace talvo {
namespace {

// A coarse monotonic clock: a few milliseconds of resolution are plenty to
// pace presenting and event fetching, and reading it costs next to nothing.
int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

constexpr int64_t kPresentEvery = 16;  // ms: about 60 frames a second
constexpr int64_t kPumpEvery = 4;      // ms between fetches of the window's events

SDL_Window* win(void* p) {
  return static_cast<SDL_Window*>(p);
}
SDL_Renderer* ren(void* p) {
  return static_cast<SDL_Renderer*>(p);
}
SDL_Texture* tex(void* p) {
  return static_cast<SDL_Texture*>(p);
}

// Key symbols of the keys that type no text.
unsigned key_symbol(SDL_Keycode k) {
  switch (k) {
    case SDLK_ESCAPE:
      return GIIUC_Escape;
    case SDLK_BACKSPACE:
      return GIIUC_BackSpace;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return GIIUC_Return;
    case SDLK_TAB:
      return GIIUC_Tab;
    default:
      break;
  }
  if (k >= SDLK_F1 && k <= SDLK_F12) return GIIK_F1 + static_cast<unsigned>(k - SDLK_F1);
  return 0;
}

}  // namespace

// The window goes with the visual; the video system itself stays up until
// the process ends, which releases it (shutting it down unloads the display
// drivers while the memory they keep for the process is still theirs).
Visual::~Visual() {
  if (texture_) SDL_DestroyTexture(tex(texture_));
  if (renderer_) SDL_DestroyRenderer(ren(renderer_));
  if (window_) SDL_DestroyWindow(win(window_));
}

void Visual::make(int width, int height) {
  width_ = width;
  height_ = height;
  frame_.assign(static_cast<std::size_t>(width) * height, 0);
  queue_.reserve(256);
}

bool Visual::open_window(const char* title) {
  // A window needs a display: X or Wayland, or a video driver the operator
  // names for SDL (a console, for one). SDL's stand-ins that show nothing do
  // not count.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("SDL_VIDEODRIVER"))
    return false;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) {
    SDL_Quit();
    return false;
  }
  SDL_Window* w =
      SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width_, height_, 0);
  SDL_Renderer* r = w ? SDL_CreateRenderer(w, -1, 0) : nullptr;
  SDL_Texture* t =
      r ? SDL_CreateTexture(r, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width_, height_)
        : nullptr;
  if (!t) {
    if (r) SDL_DestroyRenderer(r);
    if (w) SDL_DestroyWindow(w);
    SDL_Quit();
    return false;
  }
  // Pointer positions arrive in frame pixels whatever size the window has.
  SDL_RenderSetLogicalSize(r, width_, height_);
  SDL_StartTextInput();
  window_ = w;
  renderer_ = r;
  texture_ = t;
  dirty_ = true;
  present();
  return true;
}

void Visual::DrawBox(int x, int y, int w, int h) {
  const int x0 = std::max(x, 0), x1 = std::min(x + w, width_);
  const int y0 = std::max(y, 0), y1 = std::min(y + h, height_);
  for (int yy = y0; yy < y1; yy++)
    for (int xx = x0; xx < x1; xx++)
      frame_[static_cast<std::size_t>(yy) * width_ + xx] = fg_;
}

void Visual::DrawLine(int x0, int y0, int x1, int y1) {
  // Bresenham, both ends included.
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    PutPixel(x0, y0, fg_);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void Visual::Putc(int x, int y, char c) {
  const unsigned char* glyph = kBuiltinFont[static_cast<unsigned char>(c)];
  for (int r = 0; r < 8; r++)
    for (int k = 0; k < 8; k++)
      PutPixel(x + k, y + r, (glyph[r] & (0x80 >> k)) ? fg_ : bg_);
}

void Visual::Puts(int x, int y, const char* s) {
  for (; *s; s++, x += 8)
    Putc(x, y, *s);
}

void Visual::PutBox(int x, int y, int w, int h, const ggi_pixel* pixels) {
  for (int r = 0; r < h; r++)
    for (int k = 0; k < w; k++)
      PutPixel(x + k, y + r, pixels[r * w + k]);
}

void Visual::Flush() {
  dirty_ = true;
  if (window_ && now_ms() - last_present_ms_ >= kPresentEvery) present();
}

void Visual::present() {
  if (!window_ || !dirty_) return;
  SDL_UpdateTexture(tex(texture_), nullptr, frame_.data(), width_ * 4);
  SDL_RenderClear(ren(renderer_));
  SDL_RenderCopy(ren(renderer_), tex(texture_), nullptr, nullptr);
  SDL_RenderPresent(ren(renderer_));
  dirty_ = false;
  last_present_ms_ = now_ms();
}

void Visual::Finish() {
  if (window_) {
    dirty_ = true;
    present();
  }
}

void Visual::push(const gii_event& e) {
  if (head_ > 0 && head_ == queue_.size()) {
    queue_.clear();
    head_ = 0;
  }
  queue_.push_back(e);
}

gii_event Visual::EventRead() {
  if (head_ >= queue_.size()) return {};
  return queue_[head_++];
}

void Visual::EventPoll() {
  if (!window_) return;
  const int64_t now = now_ms();
  if (dirty_ && now - last_present_ms_ >= kPresentEvery) present();
  if (now - last_pump_ms_ < kPumpEvery) return;
  last_pump_ms_ = now;
  pump();
}

namespace {

gii_event key_press(unsigned sym) {
  gii_event k;
  k.type = evKeyPress;
  k.sym = sym;
  return k;
}

gii_event pointer_at(int x, int y) {
  gii_event p;
  p.type = evPtrAbsolute;
  p.x = x;
  p.y = y;
  return p;
}

}  // namespace

int translate_event(const SDL_Event& e, gii_event* out) {
  int n = 0;
  switch (e.type) {
    case SDL_QUIT:
      out[n++].type = evWindowClosed;
      break;
    case SDL_TEXTINPUT:
      // Printable characters, as typed (upper case and punctuation
      // included); a character of several bytes arrives byte by byte.
      for (const char* p = e.text.text; *p && n < kMaxTranslated; p++)
        out[n++] = key_press(static_cast<unsigned char>(*p));
      break;
    case SDL_KEYDOWN:
      // Only keys that type no text: the others come as text input. A held
      // key counts once.
      if (e.key.repeat == 0) {
        const unsigned sym = key_symbol(e.key.keysym.sym);
        if (sym != 0) out[n++] = key_press(sym);
      }
      break;
    case SDL_MOUSEMOTION:
      out[n++] = pointer_at(e.motion.x, e.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
      // The press also tells where it happened.
      out[n++] = pointer_at(e.button.x, e.button.y);
      out[n].type = evPtrButtonPress;
      out[n++].button = e.button.button == SDL_BUTTON_LEFT    ? GII_PBUTTON_LEFT
                        : e.button.button == SDL_BUTTON_RIGHT ? GII_PBUTTON_RIGHT
                                                              : GII_PBUTTON_MIDDLE;
      break;
    default:
      break;
  }
  return n;
}

void Visual::pump() {
  SDL_Event e;
  gii_event g[kMaxTranslated];
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) dirty_ = true;
    const int n = translate_event(e, g);
    for (int i = 0; i < n; i++)
      push(g[i]);
  }
}

}  // namespace talvo
