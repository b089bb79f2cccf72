// Every tune bundled in examples/ compiles, says what to listen for, makes
// a sound of its own, and travels as share text without change.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

using ::testing::StartsWith;

namespace {

std::vector<std::string> example_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(TONEBROOK_SOURCE_DIR "/examples"))
    if (entry.path().extension() == ".txt") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string text_of(const std::string& name) {
  std::ifstream in(TONEBROOK_SOURCE_DIR "/examples/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, CompilesAndSaysWhatToListenFor) {
  const std::string text = text_of(GetParam());
  ASSERT_LE(text.size(), 1023u) << "longer than the player reads";
  EXPECT_THAT(text, StartsWith("( listen for: "));
  StdoutCapture out;
  EXPECT_NE(skreel_encode(text.c_str()), nullptr) << out.take();
}

TEST_P(Example, TextUrlListingUrlGivesTheSameUrl) {
  StdoutCapture quiet;
  const char* url = skreel_encode(text_of(GetParam()).c_str());
  ASSERT_NE(url, nullptr);
  const std::string first = url;
  const char* listing = skreel_decode_url_to_text(first.c_str());
  ASSERT_NE(listing, nullptr) << first;
  const char* again = skreel_encode(std::string(listing).c_str());
  ASSERT_NE(again, nullptr) << listing;
  EXPECT_EQ(again, first) << listing;
}

// Eight seconds at 8000 Hz, from the second second on (the output filter
// settles in the first).
std::vector<int16_t> sound_of(const std::string& name) {
  StdoutCapture quiet;
  const char* url = skreel_encode(text_of(name).c_str());
  if (!url) return {};
  const std::string kept = url;
  std::vector<int16_t> left;
  render_tune(kept.c_str(), 8000, 8 * 8000, [&](const int16_t* stereo, size_t frames) {
    for (size_t i = 0; i < frames; ++i) left.push_back(stereo[2 * i]);
    return true;
  });
  left.erase(left.begin(), left.begin() + std::min<size_t>(left.size(), 8000));
  return left;
}

TEST_P(Example, IsNeitherSilentNorAConstant) {
  const std::vector<int16_t> sound = sound_of(GetParam());
  ASSERT_EQ(sound.size(), 7u * 8000);
  double energy = 0;
  std::set<int16_t> values;
  for (int16_t s : sound) {
    energy += static_cast<double>(s) * s;
    values.insert(s);
  }
  // Louder than a square between 0 and 2, and more than a few levels.
  EXPECT_GT(std::sqrt(energy / static_cast<double>(sound.size())), 128.0);
  EXPECT_GT(values.size(), 16u);
}

INSTANTIATE_TEST_SUITE_P(Bundled, Example, ::testing::ValuesIn(example_names()),
                         [](const ::testing::TestParamInfo<std::string>& param_info) {
                           return param_info.param.substr(0, param_info.param.find('.'));
                         });

TEST(Examples, ADozenTunesAtLeastAndNoTwoAlike) {
  const std::vector<std::string> names = example_names();
  EXPECT_GE(names.size(), 12u);
  std::map<std::vector<int16_t>, std::string> heard;
  for (const std::string& name : names) {
    const auto [at, fresh] = heard.emplace(sound_of(name), name);
    EXPECT_TRUE(fresh) << name << " sounds like " << at->second;
  }
  // The tunes the README and the issue speak of are there.
  for (const char* name : {"classic.txt", "sierpinski.txt", "glide.txt", "pulse.txt", "melody.txt", "rhythm.txt"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST(Examples, TheMemoryAndTheComparisonsAreUsed) {
  StdoutCapture quiet;
  // Fetch and store are the URL letters v and w; the comparisons s, t, u.
  const std::string glide = skreel_encode(text_of("glide.txt").c_str());
  EXPECT_NE(glide.find('v'), std::string::npos);
  EXPECT_NE(glide.find('w'), std::string::npos);
  const std::string pulse = skreel_encode(text_of("pulse.txt").c_str());
  EXPECT_NE(pulse.find('s'), std::string::npos);
  EXPECT_NE(pulse.find('u'), std::string::npos);
}

}  // namespace
