// The edits file: every kind of line the recorder writes reads back to
// what it said, and a malformed file is refused at the line at fault.
#include <gtest/gtest.h>

#include <string>

#include "hack/tonebrook/replay.h"

namespace {

std::string repeated(const std::string& line, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += line;
  return s;
}

TEST(Edits, EveryLineTheRecorderWritesReadsBack) {
  const std::vector<SKREELEVENT> events = {
      {1, SKREEL_VOLUME, 0, 0, 0.1f, {}},
      {2, SKREEL_TUNE, 0, 3, 11025.5f, {}},
      {3, SKREEL_PAUSE, 2048, 0, 1.0f, {}},
      {4, SKREEL_PAUSE, 3072, 0, 0.0f, {}},
      {5, SKREEL_INPUTS, 3072, 0, 0.0f, {1, 0, 4294967295u, 7}},
      {6, SKREEL_RESTART, 4096, 0, 0.0f, {}},
      {7, SKREEL_SILENCE, 4096, 0, 0.0f, {}},
  };
  std::string text = "# a comment\n" + performance_device_line(22050, 1024) + "\n\n";
  for (const SKREELEVENT& e : events) text += performance_edit_line(e, "compiled!aa8kaAkmd") + "\r\n";
  text += performance_end_line(5000) + "\n";
  PERFORMANCE p;
  std::string error;
  ASSERT_TRUE(performance_parse(text, &p, &error)) << error << "\n" << text;
  EXPECT_EQ(p.rate, 22050u);
  EXPECT_EQ(p.buffer_frames, 1024u);
  ASSERT_EQ(p.edits.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(p.edits[i].frame, events[i].frame);
    EXPECT_EQ(p.edits[i].kind, events[i].kind);
    EXPECT_EQ(p.edits[i].value, events[i].value) << text;
    EXPECT_TRUE(std::equal(p.edits[i].inputs.begin(), p.edits[i].inputs.end(), events[i].inputs));
  }
  EXPECT_EQ(p.edits[1].url, "compiled!aa8kaAkmd");
  EXPECT_TRUE(p.ended);
  EXPECT_EQ(p.end_frame, 5000u);
}

TEST(Edits, AMalformedFileIsRefusedAtTheLineAtFault) {
  const std::string device = "device 44100 1024\n";
  struct Case {
    std::string text;
    std::string error;  // how the message starts
  };
  const Case cases[] = {
      {"", "no device line"},
      {"# only\n\nframe 0 silence\n", "line 3: the device line comes first"},
      {"device 44100\n", "line 1: the device's buffer"},
      {"device 4000 512\n", "line 1: the device's rate"},
      {device + device, "line 2: a second device line"},
      {device + "tune 8000 compiled!a\n", "line 2: expected 'device RATE BUFFER' or 'frame F EDIT'"},
      {device + "frame x silence\n", "line 2: the frame is a whole number"},
      {device + "frame 1000 silence\n", "line 2: frame 1000 does not start a buffer"},
      {device + "frame 2048 silence\nframe 1024 silence\n", "line 3: frame 1024 comes before frame 2048"},
      {device + "frame 0 louder\n", "line 2: 'louder' is not an edit"},
      {device + "frame 0 tune compiled!a\n", "line 2: a tune wants its rate"},
      {device + "frame 0 tune 8000\n", "line 2: the tune's URL text is missing"},
      {device + "frame 0 tune 8000 compiled!\x1b[2J\n", "line 2: 'compiled!\\x1b[2J' is not URL text"},
      {device + "frame 0 volume 2\n", "line 2: the volume"},
      {device + "frame 0 pause yes\n", "line 2: pause is 1"},
      {device + "frame 0 inputs 1 2 3\n", "line 2: inputs wants four"},
      {device + "frame 0 silence now\n", "line 2: 'now' after silence"},
      {device + repeated("frame 0 restart\n", 17),
       "line 18: more than 16 edits at frame 0"},
      {device + "frame 0 end\nframe 0 silence\n", "line 3: nothing may follow the end (line 2)"},
      {device + "frame 2048 silence\nframe 2048 end extra\n", "line 3: the end line is"},
  };
  for (const Case& c : cases) {
    PERFORMANCE p;
    std::string error;
    EXPECT_FALSE(performance_parse(c.text, &p, &error)) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
}

}  // namespace
