// What tune text means that its compiled form does not show: numbers that
// run together, a comment never closed, a comment that ended early.
#include <gtest/gtest.h>

#include <string>

#include "hack/tonebrook/tune_check.h"
#include "support/capture.h"

namespace {

TEST(TuneCheck, WarnsOfNumbersThatRunTogetherAndOfACommentNeverClosed) {
  struct Case {
    const char* text;
    std::string warnings;
  };
  const std::string tail = " of 'x.txt': put NOP between them\n";
  const Case cases[] = {
      {"t 8 >> 1 NOP 2 (a comment) *", ""},
      {"1 2 +", "warning: '1' '2' run together into one number, 0x12, at line 1, column 1" + tail},
      {"t\n  0x1F (between) 4 NOP 5", "warning: '0x1F' '4' run together into one number, 0x1F4, at line 2, column 3" + tail},
      {"1 2 3 4 5", "warning: '1' '2' '3' '4' ... run together into one number, 0x12345, at line 1, column 1" + tail},
      {"-1 1", "warning: '-1' '1' run together into one number, 0xFFFFFFF1, at line 1, column 1" + tail},
      {"t 8 >> ( here",
       "warning: this '(' opens a comment that no ')' closes, so the rest of the text is left out, at line 1, "
       "column 8 of 'x.txt'\n"},
      {"(never closed\n1 2",
       "warning: this '(' opens a comment that no ')' closes, so the rest of the text is left out, at line 1, "
       "column 1 of 'x.txt'\n"},
  };
  for (const Case& c : cases) {
    std::string log;
    int count = 0;
    {
      StdoutCapture out;
      count = tune_warn(c.text, "x.txt");
      log = strip_log_prefixes(out.take());
    }
    EXPECT_EQ(log, c.warnings) << c.text;
    EXPECT_EQ(count, c.warnings.empty() ? 0 : 1) << c.text;
  }
}

TEST(TuneCheck, AnUnknownTokenAfterACommentThatEndedEarlyIsToldWhy) {
  struct Case {
    const char* text;
    int offset;  // of the token the encoder did not know
    bool early;
  };
  for (const Case& c : {Case{"( a (nested) comment ) t", 13, true}, Case{"(x) y) t", 4, true},
                        Case{"(x) frob", 4, false}, Case{"frob (x (y))", 0, false}}) {
    EXPECT_EQ(tune_comment_ended_early(c.text, c.offset), c.early) << c.text;
  }
}

}  // namespace
