// Platform messages: the two 16-slot lists, reference numbers, both sends
// with and without their counterparts, and this platform's replier.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/plat_msg.h"
#include "framework/platforms/sdl/wrapper.h"
#include "support/capture.h"

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

struct Side {
  const char* name;
  PLAT_MSG* (*alloc)();
};
const Side kSides[] = {{"plat_msg_alloc_poster", plat_msg_alloc_poster},
                       {"plat_msg_alloc_replier", plat_msg_alloc_replier}};

TEST(PlatMsg, EachListHandsOutSixteenThenNullWithItsLine) {
  for (const Side& side : kSides) {
    StdoutCapture out;
    std::vector<PLAT_MSG*> got;
    for (int i = 0; i < 16; ++i) got.push_back(side.alloc());
    for (PLAT_MSG* m : got) ASSERT_NE(m, nullptr) << side.name;
    EXPECT_EQ(strip_log_prefixes(out.take()).find("NULL"), std::string::npos);
    EXPECT_EQ(side.alloc(), nullptr) << side.name;
    EXPECT_EQ(strip_log_prefixes(out.take()), std::string(side.name) + " NULL\n");
    for (PLAT_MSG* m : got) EXPECT_EQ(m->active, 1);
  }
}

TEST(PlatMsg, AllocationStartsAtTheSlotHandedOutLastAndClearsIt) {
  StdoutCapture quiet;
  PLAT_MSG* m[4];
  for (PLAT_MSG*& p : m) p = plat_msg_alloc_poster();
  m[3]->code = 77;
  m[3]->user.arg = 5;
  plat_msg_free(m[3]);
  EXPECT_EQ(m[3]->active, 0);
  PLAT_MSG* again = plat_msg_alloc_poster();
  EXPECT_EQ(again, m[3]);
  EXPECT_EQ(again->code, 0);
  EXPECT_EQ(again->user.arg, 0);
  plat_msg_free(m[0]);  // behind the search's start: found after wrapping
  for (int i = 0; i < 12; ++i) plat_msg_alloc_poster();  // slots 4 to 15
  EXPECT_EQ(plat_msg_alloc_poster(), m[0]);
}

TEST(PlatMsg, ReferenceNumbersRunOnAcrossBothListsAndInit) {
  StdoutCapture quiet;
  EXPECT_EQ(plat_msg_alloc_poster()->refid, 1u);
  EXPECT_EQ(plat_msg_alloc_replier()->refid, 2u);
  EXPECT_EQ(plat_msg_alloc_poster()->refid, 3u);
  plat_msg_init();  // clears the lists, keeps the count
  EXPECT_EQ(plat_msg_alloc_replier()->refid, 4u);
}

int poster_calls = 0;
int poster_result = 0;
PLAT_MSG seen;
int test_poster(PLAT_MSG* msg) {
  ++poster_calls;
  seen = *msg;
  return poster_result;
}
int test_replier(PLAT_MSG* msg) {
  seen = *msg;
  return PLAT_MSG_CODE_HOLD_ON;
}

TEST(PlatMsg, AScoreSentOnThisPlatformIsLoggedAndAborted) {
  kel_init();  // installs replier_for_plat_msg
  plat_msg_set_poster(test_poster);
  PLAT_MSG* msg = plat_msg_alloc_poster();
  StdoutCapture out;
  msg->typeid_ = PLAT_MSG_TYPE_SCORE;
  std::strcpy(msg->info.score.category, "laps");
  msg->info.score.value = 1234567890123LL;
  const uint32_t refid = msg->refid;
  EXPECT_EQ(plat_msg_poster_send(msg), PLAT_MSG_CODE_ABORT);
  EXPECT_THAT(strip_log_prefixes(out.take()), MatchesRegex("line [0-9]+: plat_msg_poster_send\n"
                                                           "Received score:\n"
                                                           "'laps' 1234567890123\n"
                                                           "ABORT CODE -1000\n"
                                                           "plat_msg_free \\(refid " +
                                                           std::to_string(refid) + " timestamp [0-9]+\\)\n"));
  EXPECT_EQ(msg->active, 0);
  EXPECT_EQ(msg->poster, test_poster);
  EXPECT_EQ(msg->timestamp, kel_ticks.load());
  EXPECT_EQ(poster_calls, 0);

  msg = plat_msg_alloc_poster();  // any other kind: aborted without a word
  msg->typeid_ = PLAT_MSG_TYPE_STATUS;
  EXPECT_EQ(plat_msg_poster_send(msg), PLAT_MSG_CODE_ABORT);
  EXPECT_THAT(strip_log_prefixes(out.take()), ::testing::Not(HasSubstr("Received")));
  kel_exit();
}

TEST(PlatMsg, AScoreCategoryFilledToTheBrimIsReadNoFurther) {
  PLAT_MSG* msg = plat_msg_alloc_poster();
  StdoutCapture out;
  msg->typeid_ = PLAT_MSG_TYPE_SCORE;
  std::memset(msg->info.score.category, 'c', sizeof msg->info.score.category);  // no zero
  std::memset(msg->info.score.playerid, 'p', sizeof msg->info.score.playerid);
  msg->info.score.value = -3;
  EXPECT_EQ(replier_for_plat_msg(msg), PLAT_MSG_CODE_ABORT);
  EXPECT_EQ(strip_log_prefixes(out.take()), "Received score:\n'" + std::string(80, 'c') + "' -3\n");
  EXPECT_EQ(replier_for_plat_msg(nullptr), PLAT_MSG_CODE_ABORT);
}

TEST(PlatMsg, WithoutACounterpartASendFreesTheMessageAndReturnsZero) {
  const struct {
    PLAT_MSG_CALLBACK poster, replier;
    int (*send)(PLAT_MSG*);
    const char* line;
  } cases[] = {
      {nullptr, test_replier, plat_msg_poster_send, "plat_msg_poster_send no poster\n"},
      {test_poster, nullptr, plat_msg_poster_send, "plat_msg_poster_send no replier\n"},
      {nullptr, test_replier, plat_msg_replier_send, "plat_msg_replier_send no poster\n"},
      {test_poster, nullptr, plat_msg_replier_send, "plat_msg_replier_send no replier\n"},
  };
  StdoutCapture out;
  for (const auto& c : cases) {
    plat_msg_set_poster(c.poster);
    plat_msg_set_replier(c.replier);
    poster_calls = 0;
    PLAT_MSG* msg = plat_msg_alloc_replier();
    out.take();
    EXPECT_EQ(c.send(msg), 0) << c.line;
    EXPECT_EQ(msg->active, 0) << c.line;
    EXPECT_EQ(poster_calls, 0) << c.line;
    EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr(c.line));
  }
}

int other_poster(PLAT_MSG*) { return 9; }

TEST(PlatMsg, RepliesGoToTheMessagesPosterOrTheInstalledOne) {
  StdoutCapture out;
  plat_msg_set_poster(test_poster);
  plat_msg_set_replier(test_replier);
  EXPECT_EQ(plat_msg_poster_send(plat_msg_alloc_poster()), PLAT_MSG_CODE_HOLD_ON);
  EXPECT_EQ(seen.poster, test_poster);

  PLAT_MSG* reply = plat_msg_alloc_replier();
  reply->poster = other_poster;
  EXPECT_EQ(plat_msg_replier_send(reply), 9);
  EXPECT_EQ(reply->poster, other_poster);  // left as it was
  EXPECT_EQ(poster_calls, 0);

  poster_result = PLAT_MSG_CODE_ABORT;
  reply = plat_msg_alloc_replier();
  reply->code = PLAT_MSG_CODE_STATUS;
  out.take();
  EXPECT_EQ(plat_msg_replier_send(reply), PLAT_MSG_CODE_ABORT);
  EXPECT_EQ(poster_calls, 1);
  EXPECT_EQ(seen.code, PLAT_MSG_CODE_STATUS);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("ABORT CODE -1000\nplat_msg_free (refid"));
  EXPECT_EQ(reply->active, 0);
  poster_result = 0;
}

TEST(PlatMsg, ANullMessageIsRefusedWithALine) {
  plat_msg_set_poster(test_poster);
  plat_msg_set_replier(test_replier);
  poster_calls = 0;
  StdoutCapture out;
  plat_msg_free(nullptr);
  EXPECT_EQ(plat_msg_poster_send(nullptr), -1);
  EXPECT_EQ(plat_msg_replier_send(nullptr), -1);
  EXPECT_EQ(poster_calls, 0);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("plat_msg_free NULL message: nothing to free\n"));
  EXPECT_THAT(log, HasSubstr("plat_msg_poster_send NULL message: nothing sent\n"));
  EXPECT_THAT(log, HasSubstr("plat_msg_replier_send NULL message: nothing sent\n"));
}

}  // namespace
