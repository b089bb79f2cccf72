// The main loop, driven by a clock the test moves by hand: each pass of the
// normal loop ends in one platform sleep, where the test's hook looks at
// what the pass did and sets the clock for the next one.
#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/input.h"
#include "framework/core/kel.h"
#include "framework/core/state.h"
#include "support/capture.h"
#include "support/fake_clock.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

int updates = 0;
int renders = 0;
int updates_seen_by_render = -1;
std::vector<uint64_t> update_ms;  // the clock at each update

void count_update() {
  ++updates;
  update_ms.push_back(fake_clock::now());
}
void count_render() {
  ++renders;
  updates_seen_by_render = updates;
}

STATE counting = {nullptr, count_update, count_render, nullptr};

struct Pass {
  uint32_t ms;  // clock during the pass
  int updates;  // updates run by the pass
  int renders;  // frames rendered by the pass
};

class KelLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    update_ms.clear();
    fake_clock::install(0);
    kel_init();
    state_switch(&counting);
  }
  void TearDown() override {
    kel_exit();
    fake_clock::uninstall();
  }

  // Runs the normal loop once per entry of `clock`: pass i runs with the
  // clock at clock[i]; the loop quits after the last one.
  std::vector<Pass> run_passes(const std::vector<uint32_t>& clock) {
    std::vector<Pass> passes;
    size_t next = 0;
    int last_updates = updates, last_renders = renders;
    fake_clock::set(clock.at(0));
    fake_clock::on_delay([&](uint32_t) {
      passes.push_back({clock[next], updates - last_updates, renders - last_renders});
      last_updates = updates;
      last_renders = renders;
      if (++next < clock.size())
        fake_clock::set(clock[next]);
      else
        kel_quit();
    });
    EXPECT_EQ(kel_run(0), 0);
    return passes;
  }
};

// The loop in real time: each sleep lasts what was asked plus `late(pass)`
// milliseconds, until the clock passes `until_ms`.
struct Sleep {
  uint64_t at;     // clock when the pass ended
  uint32_t asked;  // milliseconds asked for
  int updates;     // updates the pass ran
};
template <typename Late>
std::vector<Sleep> run_in_real_time(uint64_t until_ms, Late late) {
  std::vector<Sleep> sleeps;
  int last_updates = updates;
  fake_clock::on_delay([&](uint32_t ms) {
    sleeps.push_back({fake_clock::now(), ms, updates - last_updates});
    last_updates = updates;
    fake_clock::advance(ms + late(sleeps.size()));
    if (fake_clock::now() > until_ms) kel_quit();
  });
  EXPECT_EQ(kel_run(0), 0);
  return sleeps;
}

// The first clock reading at which the platform's tick count at `rate`
// reaches `tick`.
uint32_t due_ms(unsigned rate, uint32_t tick) {
  uint32_t ms = 0;
  while (static_cast<uint32_t>(static_cast<double>(ms) * static_cast<float>(rate) / 1000.0) < tick) ++ms;
  return ms;
}

// The normal loop sleeps until its next tick is due: no pass finds nothing
// to do, and every update runs at the millisecond its tick falls due, as
// with a pass every millisecond. (One rate per test process: the quit
// request that ends a run is never cleared.)
class KelLoopAtRate : public KelLoop, public ::testing::WithParamInterface<unsigned> {};

TEST_P(KelLoopAtRate, SleepsUntilTheNextTickIsDue) {
  const unsigned rate = GetParam();
  kel_set_logic_rate(rate);
  const auto sleeps = run_in_real_time(3000, [](std::size_t) { return 0u; });
  ASSERT_GT(sleeps.size(), 2u);
  EXPECT_EQ(sleeps[0].updates, 0);  // at 0 ms nothing is due yet
  for (std::size_t i = 1; i < sleeps.size(); ++i) {
    ASSERT_EQ(sleeps[i].updates, 1) << "pass " << i << " at " << sleeps[i].at << " ms";
    ASSERT_GE(sleeps[i].asked, 1u);
  }
  ASSERT_EQ(update_ms.size(), sleeps.size() - 1);
  for (std::size_t k = 0; k < update_ms.size(); ++k)
    ASSERT_EQ(update_ms[k], due_ms(rate, static_cast<uint32_t>(k + 1))) << "update " << k + 1;
}

INSTANTIATE_TEST_SUITE_P(Rates, KelLoopAtRate, ::testing::Values(60u, 50u, 144u, 7u, 1000u));

// Waking late (a busy machine, a stall) changes nothing in what runs: each
// pass runs what is due, catches up at most four ticks, and the loop never
// wakes to find nothing due, not even after a catch-up.
TEST_F(KelLoop, LateWakeUpsRunWhatIsDueAndCatchUpAsBefore) {
  const auto sleeps = run_in_real_time(5000, [](std::size_t pass) -> uint32_t {
    if (pass == 100) return 700;  // a stall
    return static_cast<uint32_t>(pass * 7 % 5);
  });
  std::size_t catch_up = 0;
  int before_catch_up = 0;
  for (std::size_t i = 1; i < sleeps.size(); ++i) {
    ASSERT_GE(sleeps[i].updates, 1) << "pass " << i;
    ASSERT_LE(sleeps[i].updates, 4);
    ASSERT_GE(sleeps[i].asked, 1u);
    if (sleeps[i].updates == 4) {
      EXPECT_EQ(catch_up, 0u) << "a second catch-up at pass " << i;
      catch_up = i;
    }
    if (!catch_up) before_catch_up += sleeps[i].updates;
  }
  ASSERT_NE(catch_up, 0u);
  // Ticks are lost only in the stall: the catch-up runs four updates for
  // the next four ticks and drops those that were due; after it, every
  // tick runs.
  auto ticks = [](uint32_t ms) { return static_cast<int>(ms * 60 / 1000); };
  const int lost = ticks(sleeps[catch_up].at) - before_catch_up;
  EXPECT_GE(lost, 42);  // 700 ms of ticks
  EXPECT_LE(lost, 43);
  EXPECT_EQ(updates, ticks(sleeps.back().at) - lost);
}

// The platform's clock counts milliseconds in 64 bits: past 2^32 ms (49.7
// days) the loop runs one update per tick as before.
TEST_F(KelLoop, KeepsItsRatePastTwoToThe32Milliseconds) {
  constexpr uint64_t kWrap = uint64_t{1} << 32;
  fake_clock::set(kWrap - 2000);
  kel_set_logic_rate(60);  // re-bases the logic clock on the clock's ticks
  const uint32_t ticks_before = kel_ticks;
  const auto sleeps = run_in_real_time(kWrap + 2000, [](std::size_t) { return 0u; });
  for (std::size_t i = 1; i < sleeps.size(); ++i) ASSERT_EQ(sleeps[i].updates, 1) << "pass " << i;
  auto ticks = [](uint64_t ms) { return ms * 60 / 1000; };
  EXPECT_EQ(static_cast<uint64_t>(updates), ticks(sleeps.back().at) - ticks(kWrap - 2000));
  EXPECT_EQ(kel_ticks - ticks_before, static_cast<uint32_t>(updates));
}

TEST_F(KelLoop, WithoutARateSleepsTheShortestTime) {
  kel_set_logic_rate(0);  // no tick ever falls due
  const auto sleeps = run_in_real_time(50, [](std::size_t) { return 0u; });
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(sleeps.size(), 51u);
  for (const Sleep& s : sleeps) EXPECT_EQ(s.asked, 1u);
}

// A rate set during an update: the pass that set it sleeps the shortest
// time, the next one re-bases the clock and sleeps until its next tick.
TEST_F(KelLoop, AfterARateChangeSleepsTheShortestTimeOnce) {
  static bool changed;
  changed = false;
  static STATE changer = {nullptr, [] {
                            count_update();
                            if (!changed) kel_set_logic_rate(10);
                            changed = true;
                          },
                          nullptr, nullptr};
  state_switch(&changer);
  const auto sleeps = run_in_real_time(400, [](std::size_t) { return 0u; });
  ASSERT_GE(sleeps.size(), 4u);
  EXPECT_EQ(sleeps[0].asked, 17u);   // at 0 ms: the first tick of 60 a second is due at 17 ms
  EXPECT_EQ(sleeps[1].asked, 1u);    // 17 ms: its update changed the rate
  EXPECT_EQ(sleeps[2].at, 18u);      // re-based to tick 0 of 10 a second ...
  EXPECT_EQ(sleeps[2].asked, 82u);   // ... the next due at 100 ms
  EXPECT_EQ(sleeps[3].at, 100u);
  EXPECT_EQ(sleeps[3].updates, 1);
}

TEST_F(KelLoop, FirstPassLogsTheRateChangeFromZero) {
  StdoutCapture out;
  kel_run(1);
  kel_run(1);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("changed logic rate 0 -> 60\n"));
  EXPECT_EQ(log.find("changed logic rate"), log.rfind("changed logic rate"));
}

TEST_F(KelLoop, CatchUpIsCappedAtFourUpdatesAfterAStall) {
  // 0 ms: nothing due. 1000 ms: 60 ticks due after a one-second stall.
  // Then the logic clock stands 4 ticks ahead of the platform (at tick 64)
  // and nothing runs until the platform reaches tick 65 at 1084 ms.
  const auto passes = run_passes({0, 1000, 1020, 1040, 1066, 1067, 1083, 1084, 1100});
  std::vector<int> per_pass;
  for (const Pass& p : passes) per_pass.push_back(p.updates);
  EXPECT_THAT(per_pass, ElementsAre(0, 4, 0, 0, 0, 0, 0, 1, 1));
}

TEST_F(KelLoop, RendersOnlyAfterAPassThatUpdated) {
  const auto passes = run_passes({0, 10, 17, 20, 50, 51});
  std::vector<int> frames;
  for (const Pass& p : passes) frames.push_back(p.renders);
  // Ticks fall due at 17 ms (1) and 50 ms (3: two updates, one frame).
  EXPECT_THAT(frames, ElementsAre(0, 0, 1, 0, 1, 0));
  EXPECT_EQ(updates, 3);
}

TEST_F(KelLoop, APassWithNoDueTickPollsNoEvents) {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  bool quit_after_idle_pass = true;
  size_t pass = 0;
  fake_clock::set(0);
  fake_clock::on_delay([&](uint32_t) {
    ++pass;
    if (pass == 1) {
      SDL_PushEvent(&quit);  // queued, but no tick is due in pass 2
      fake_clock::set(5);
    } else if (pass == 2) {
      quit_after_idle_pass = kel_is_quit();
      fake_clock::set(17);  // pass 3 runs one update and polls
    }
  });
  StdoutCapture out;
  EXPECT_EQ(kel_run(0), 0);
  EXPECT_FALSE(quit_after_idle_pass);
  EXPECT_EQ(pass, 3u);
  EXPECT_EQ(updates, 1);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("SDL_QUIT\nQuitting...\natlas: deleted 0 textures\nBye! :)\n"));
}

TEST_F(KelLoop, FramesPerSecondCountsEachWholePlatformSecond) {
  std::vector<uint32_t> clock;
  for (uint32_t ms = 0; ms <= 1000; ++ms) clock.push_back(ms);
  run_passes(clock);
  EXPECT_EQ(kel_fps(), 60);
}

TEST_F(KelLoop, DisabledRenderingRendersNothingAndReportsZeroFps) {
  StdoutCapture out;
  kel_disable_render(1);
  kel_disable_render(1);
  std::vector<uint32_t> clock;
  for (uint32_t ms = 0; ms <= 2100; ms += 5) clock.push_back(ms);
  run_passes(clock);
  EXPECT_EQ(renders, 0);
  EXPECT_GT(updates, 120);
  EXPECT_EQ(kel_fps(), 0);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("kel_disable_render 0 _> 1\n"));
  EXPECT_EQ(log.find("kel_disable_render"), log.rfind("kel_disable_render"));
}

TEST_F(KelLoop, IdleModeRendersBeforeItsUpdatesAndDoesNotSleep) {
  EXPECT_EQ(kel_run(1), 1);  // nothing due: still one frame
  EXPECT_EQ(renders, 1);
  EXPECT_EQ(updates, 0);
  fake_clock::set(34);  // two ticks due
  EXPECT_EQ(kel_run(1), 1);
  EXPECT_EQ(renders, 2);
  EXPECT_EQ(updates_seen_by_render, 0);
  EXPECT_EQ(updates, 2);
  EXPECT_EQ(fake_clock::slept(), 0u);
}

TEST_F(KelLoop, EachUpdateAdvancesTheTicksAndTheEffectCounter) {
  kel_settings.synth_effects_state = 254;
  const uint32_t before = kel_ticks;
  fake_clock::set(50);  // three ticks due
  kel_run(1);
  EXPECT_EQ(kel_ticks, before + 3);
  EXPECT_EQ(kel_settings.synth_effects_state, 1);  // 8 bits, wraps
}

TEST_F(KelLoop, PerTickInputEventsAreClearedAfterTheUpdate) {
  INPUT_EVENT press{INPUT_DOWN, K_A, 0, 0, 0, 0};
  input_add_event(&press);
  static int seen_in_update;
  static STATE probe = {nullptr, [] { seen_in_update = keyevent[K_A]; }, nullptr, nullptr};
  state_switch(&probe);
  fake_clock::set(17);
  kel_run(1);
  EXPECT_EQ(seen_in_update, INPUT_DOWN);
  EXPECT_EQ(keyevent[K_A], 0);
  EXPECT_EQ(keys[K_A], 1);
}

TEST_F(KelLoop, ChangingTheRateLogsOnTheNextPassAndRebasesTheClock) {
  kel_run(1);
  fake_clock::set(2500);
  StdoutCapture out;
  EXPECT_EQ(kel_set_logic_rate(120), 1);
  EXPECT_EQ(kel_ticks, 300u);  // re-based to the platform's ticks, not reset
  const int before = updates;
  kel_run(1);
  EXPECT_EQ(updates, before);  // the logic clock starts from the new base
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("changed logic rate 60 -> 120\n"));
  fake_clock::set(2509);
  kel_run(1);
  EXPECT_EQ(updates, before + 1);
}

TEST_F(KelLoop, RunWithQuitAlreadyRequestedShutsDownAtOnce) {
  kel_quit();
  StdoutCapture out;
  EXPECT_EQ(kel_run(0), 0);
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(strip_log_prefixes(out.take()), "Quitting...\natlas: deleted 0 textures\nBye! :)\n");
  EXPECT_TRUE(kel_is_quit());  // the flag stays set
  kel_exit();
  EXPECT_EQ(strip_log_prefixes(out.take()), "");
}

}  // namespace
