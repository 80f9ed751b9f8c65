// What the window's events become for the operator code: key symbols,
// pointer positions in frame pixels and buttons, and no key twice.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstring>

#include "display/ggi.h"

namespace talvo {
namespace {

std::vector<gii_event> translate(const SDL_Event& e) {
  gii_event out[kMaxTranslated];
  const int n = translate_event(e, out);
  return {out, out + n};
}

SDL_Event key(SDL_Keycode k, int repeat = 0) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = k;
  e.key.repeat = static_cast<Uint8>(repeat);
  return e;
}

SDL_Event text(const char* t) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strncpy(e.text.text, t, sizeof e.text.text - 1);
  return e;
}

TEST(WindowEvents, KeysThatTypeNoTextComeFromKeyDown) {
  const std::pair<SDL_Keycode, unsigned> keys[] = {
      {SDLK_ESCAPE, 27},  {SDLK_F1, 0xE101},   {SDLK_F10, 0xE10A}, {SDLK_F11, 0xE10B},
      {SDLK_F12, 0xE10C}, {SDLK_BACKSPACE, 8}, {SDLK_RETURN, 13},  {SDLK_KP_ENTER, 13},
  };
  for (const auto& [k, sym] : keys) {
    const auto ev = translate(key(k));
    ASSERT_EQ(ev.size(), 1u) << k;
    EXPECT_EQ(ev[0].type, evKeyPress);
    EXPECT_EQ(ev[0].sym, sym);
  }
  // Keys that type text arrive as text only; a held key counts once.
  EXPECT_TRUE(translate(key(SDLK_a)).empty());
  EXPECT_TRUE(translate(key(SDLK_SPACE)).empty());
  EXPECT_TRUE(translate(key(SDLK_ESCAPE, 1)).empty());
}

TEST(WindowEvents, TypedTextAsItsCharacterCodes) {
  const auto ev = translate(text("Cq/?"));
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[0].sym, static_cast<unsigned>('C'));
  EXPECT_EQ(ev[1].sym, static_cast<unsigned>('q'));
  EXPECT_EQ(ev[2].sym, static_cast<unsigned>('/'));
  EXPECT_EQ(ev[3].sym, static_cast<unsigned>('?'));
  for (const auto& e : ev)
    EXPECT_EQ(e.type, evKeyPress);
}

TEST(WindowEvents, PointerPositionsAndButtons) {
  SDL_Event m{};
  m.type = SDL_MOUSEMOTION;
  m.motion.x = 123;
  m.motion.y = 456;
  auto ev = translate(m);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, evPtrAbsolute);
  EXPECT_EQ(ev[0].x, 123);
  EXPECT_EQ(ev[0].y, 456);

  const std::pair<Uint8, int> buttons[] = {
      {SDL_BUTTON_LEFT, 1}, {SDL_BUTTON_RIGHT, 2}, {SDL_BUTTON_MIDDLE, 3}};
  for (const auto& [b, want] : buttons) {
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = b;
    e.button.x = 30;
    e.button.y = 470;
    ev = translate(e);
    ASSERT_EQ(ev.size(), 2u);
    // The press also moves the pointer to where it happened.
    EXPECT_EQ(ev[0].type, evPtrAbsolute);
    EXPECT_EQ(ev[0].x, 30);
    EXPECT_EQ(ev[0].y, 470);
    EXPECT_EQ(ev[1].type, evPtrButtonPress);
    EXPECT_EQ(ev[1].button, want);
  }
  SDL_Event q{};
  q.type = SDL_QUIT;
  ev = translate(q);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, evWindowClosed);
}

}  // namespace
}  // namespace talvo
