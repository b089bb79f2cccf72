// The one stream tap, shared: every tap added gets every buffer, in the
// order the taps were added.
#include "hack/tonebrook/taps.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string heard;  // which tap got which buffer, in order

template <char Name>
void tap(const int16_t* stereo, int frames) noexcept {
  heard += Name;
  heard += std::to_string(frames * 100 + stereo[0]);
  heard += ' ';
}

TEST(Taps, EveryTapGetsEveryBufferInTheOrderAdded) {
  EXPECT_EQ(kel_stream_tap(), nullptr);
  EXPECT_EQ(taps_add_stream(nullptr), 0);
  EXPECT_EQ(kel_stream_tap(), nullptr);
  ASSERT_EQ(taps_add_stream(tap<'a'>), 1);
  ASSERT_EQ(taps_add_stream(tap<'b'>), 1);
  EXPECT_EQ(taps_add_stream(tap<'a'>), 1);  // once only
  const int16_t first[] = {7, 7}, second[] = {3, 3, 3, 3};
  kel_stream_tap()(first, 1);
  kel_stream_tap()(second, 2);
  EXPECT_EQ(heard, "a107 b107 a203 b203 ");

  ASSERT_EQ(taps_add_stream(tap<'c'>), 1);
  ASSERT_EQ(taps_add_stream(tap<'d'>), 1);
  static_assert(TAPS_STREAM_MAX == 4);
  EXPECT_EQ(taps_add_stream(tap<'e'>), 0);  // all the slots are taken
  heard.clear();
  kel_stream_tap()(first, 1);
  EXPECT_EQ(heard, "a107 b107 c107 d107 ");
}

}  // namespace
