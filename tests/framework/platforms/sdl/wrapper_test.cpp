// The platform layer without a window: events, clocks and sleeping.
#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/input.h"
#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper.h"
#include "support/capture.h"
#include "support/fake_clock.h"

using ::testing::HasSubstr;

namespace {

std::vector<INPUT_EVENT> seen;

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_clock::install(0);
    kel_init();
    seen.clear();
    input_set_callback([](INPUT_EVENT* e) { seen.push_back(*e); });
  }
  void TearDown() override {
    input_set_callback(nullptr);
    kel_exit();
    fake_clock::uninstall();
  }

  static void push_key(Uint8 type, SDLKey sym) {
    SDL_Event ev{};
    ev.type = type;
    ev.key.type = type;
    ev.key.keysym.sym = sym;
    ASSERT_EQ(SDL_PushEvent(&ev), 0);
  }
  static void push_button(Uint8 type, Uint8 button, Uint16 x, Uint16 y) {
    SDL_Event ev{};
    ev.type = type;
    ev.button.type = type;
    ev.button.button = button;
    ev.button.x = x;
    ev.button.y = y;
    ASSERT_EQ(SDL_PushEvent(&ev), 0);
  }
  static void drain() {
    wrapper_handle_events();
    input_update_events();
  }
};

TEST_F(Wrapper, KeysArriveAsTheirKeyCodes) {
  push_key(SDL_KEYDOWN, SDLK_z);
  push_key(SDL_KEYUP, SDLK_z);
  push_key(SDL_KEYDOWN, SDLK_F12);
  push_key(SDL_KEYDOWN, SDLK_q);
  drain();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].type, INPUT_DOWN);
  EXPECT_EQ(seen[0].keyid, K_BUTTON1);
  EXPECT_EQ(seen[1].type, INPUT_UP);
  EXPECT_EQ(seen[2].keyid, K_F12);
  EXPECT_EQ(seen[3].keyid, K_NONE);
  EXPECT_EQ(keys[K_NONE], 1);
}

TEST_F(Wrapper, MouseButtonsCarryTheirIndexAndMovesCarryZero) {
  push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 30, 40);
  push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 31, 41);
  SDL_Event move{};
  move.type = SDL_MOUSEMOTION;
  move.motion.type = SDL_MOUSEMOTION;
  move.motion.x = 50;
  move.motion.y = 60;
  SDL_PushEvent(&move);
  drain();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].keyid, K_MOUSE);
  EXPECT_EQ(seen[0].id, 2);
  EXPECT_EQ(seen[1].id, 2);
  EXPECT_EQ(seen[1].x, 31.0f);
  EXPECT_EQ(seen[2].type, INPUT_MOVE);
  EXPECT_EQ(seen[2].id, 0);
  EXPECT_EQ(mouse_state[2].state, 5);
}

TEST_F(Wrapper, QuitEventRequestsQuitAndLaterEventsStillArrive) {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  push_key(SDL_KEYDOWN, SDLK_a);
  StdoutCapture out;
  drain();
  EXPECT_TRUE(kel_is_quit());
  EXPECT_EQ(strip_log_prefixes(out.take()), "SDL_QUIT\n");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].keyid, K_A);
}

TEST_F(Wrapper, EscapeQuitsOnTheUpdateAfterItWasPressed) {
  push_key(SDL_KEYDOWN, SDLK_ESCAPE);
  drain();  // the key table learns of it only after this drain
  EXPECT_FALSE(kel_is_quit());
  wrapper_handle_events();
  EXPECT_TRUE(kel_is_quit());
}

TEST_F(Wrapper, AnEscapeLetGoWithinOneUpdateQuitsTooOnTheNext) {
  push_key(SDL_KEYDOWN, SDLK_ESCAPE);
  push_key(SDL_KEYUP, SDLK_ESCAPE);
  drain();
  EXPECT_FALSE(kel_is_quit());
  wrapper_handle_events();
  EXPECT_TRUE(kel_is_quit());
}

TEST_F(Wrapper, TicksAtARate) {
  fake_clock::set(2500);
  EXPECT_EQ(wrapper_get_ticks(60), 150u);
  EXPECT_EQ(wrapper_get_ticks(0), 0u);
  fake_clock::set(1016);
  EXPECT_EQ(wrapper_get_ticks(60), 60u);
  fake_clock::set(1017);
  EXPECT_EQ(wrapper_get_ticks(60), 61u);
  EXPECT_DOUBLE_EQ(wrapper_get_seconds(), 1.017);
  EXPECT_EQ(wrapper_get_ticks(1e30f), 0u);  // absurd rates stay defined
}

TEST_F(Wrapper, SleepingAsksThePlatformForWholeMilliseconds) {
  wrapper_yield();
  wrapper_delay(0.0259);
  wrapper_delay(-1);
  EXPECT_EQ(fake_clock::slept(), 26u);
  wrapper_delay_ms(17);
  EXPECT_EQ(fake_clock::slept(), 43u);
}

// The wait until a tick count is reached ends at the first millisecond at
// which wrapper_get_ticks shows it, at every rate and clock reading.
TEST_F(Wrapper, MillisecondsUntilATickCount) {
  for (float rate : {60.0f, 50.0f, 144.0f, 7.0f, 1000.0f, 2500.0f, 0.5f}) {
    for (uint32_t now : {0u, 16u, 17u, 999u, 123457u, 0xFFF00000u}) {
      SCOPED_TRACE(::testing::Message() << rate << " a second at " << now << " ms");
      fake_clock::set(now);
      const uint32_t ticks = wrapper_get_ticks(rate);
      EXPECT_EQ(wrapper_ms_until_ticks(rate, ticks), 0u);
      EXPECT_EQ(wrapper_ms_until_ticks(rate, ticks - 3), 0u);  // passed
      for (uint32_t ahead : {1u, 2u, 5u}) {
        const uint32_t wait = wrapper_ms_until_ticks(rate, ticks + ahead);
        ASSERT_GE(wait, 1u);
        fake_clock::set(now + wait);
        EXPECT_GE(wrapper_get_ticks(rate), ticks + ahead);
        fake_clock::set(now + wait - 1);
        EXPECT_LT(wrapper_get_ticks(rate), ticks + ahead);
        fake_clock::set(now);
      }
    }
  }
  EXPECT_EQ(wrapper_ms_until_ticks(0, 1), 0xFFFFFFFFu);  // no rate: never
  EXPECT_EQ(wrapper_ms_until_ticks(0, 0), 0u);
}

// SDL's timer thread wakes every millisecond while it runs; nothing here
// needs it, so it is not started. The clock counts without it.
TEST(WrapperTimers, SdlTimersAreNotStartedAndTheClockStillCounts) {
  kel_init();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_TIMER), 0u);
  EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  const uint32_t a = SDL_GetTicks();
  SDL_Delay(3);
  EXPECT_GE(SDL_GetTicks() - a, 3u);
  kel_exit();
}

TEST_F(Wrapper, NoWindowUntilGraphicsAreSet) {
  EXPECT_EQ(wrapper_display_w(), 640);
  EXPECT_EQ(wrapper_display_h(), 480);
  EXPECT_EQ(wrapper_fullscreen(), 0);
  EXPECT_EQ(wrapper_set_fullscreen(0), 1);  // nothing to change
  EXPECT_EQ(wrapper_set_logic_rate(60), 0);
}

TEST(WrapperWithoutVideo, NoDisplayMeansNoVideoModeAndFramesStillPass) {
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  StdoutCapture out;
  kel_init();
  EXPECT_EQ(kel_graphics(640, 480, 0, 0), -1);
  EXPECT_EQ(kel_run(1), 1);  // renders and flips a frame: nothing to show
  kel_exit();
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("Set graphics 640x480\nDesktop: 0x0\n"));
}

TEST_F(Wrapper, OutsideServicesSayWhatWasAskedAndAreNotAvailable) {
  static const char data[] = "abc";
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(data));
  const struct {
    int (*call)();
    std::string line;
  } cases[] = {
      {[] { return wrapper_tweet_start(); }, "TWEET START\n"},
      {[] { return wrapper_tweet_add_text("hello"); }, "TWEET ADD TEXT 'hello'\n"},
      {[] { return wrapper_tweet_add_text(nullptr); }, "TWEET ADD TEXT '(null)'\n"},
      {[] { return wrapper_tweet_add_url("https://example.org/"); }, "TWEET ADD URL 'https://example.org/'\n"},
      {[] { return wrapper_tweet_finish(); }, "TWEET FINISH\n"},
      {[] { return wrapper_open_url(3, "https://example.org/a"); }, "OPEN URL (hint 3): https://example.org/a\n"},
      {[] { return wrapper_copy_data_to_clipboard("text", data, 3); },
       std::string("Copy data ") + address + " size 3 (hint 'text') to clipboard\n"},
      {[] { return wrapper_copy_file_to_clipboard("png", "shot.png", [](unsigned, unsigned) { FAIL(); }); },
       "Copy file 'shot.png' (hint 'png') to clipboard\n"},
  };
  for (const auto& c : cases) {
    StdoutCapture out;
    EXPECT_EQ(c.call(), -1) << c.line;
    EXPECT_EQ(strip_log_prefixes(out.take()), c.line);
  }
  StdoutCapture out;
  const char* argv[] = {"a", "b"};
  EXPECT_EQ(wrapper_call_ex("share", 2, argv, [](void*, int) { FAIL(); }), 0);
  EXPECT_EQ(wrapper_call("share", "a"), 0);
  EXPECT_EQ(out.take(), "");
}

TEST_F(Wrapper, TheCursorIsShownAndHiddenThroughSdl) {
  wrapper_show_cursor(0);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), 0);
  wrapper_show_cursor(5);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), 1);
}

TEST(WrapperRealClock, CountsFromStartUp) {
  kel_init();
  const uint32_t a = wrapper_get_ticks(1000);
  SDL_Delay(2);
  EXPECT_GE(wrapper_get_ticks(1000), a);
  kel_exit();
}

}  // namespace
