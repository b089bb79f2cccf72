// Every tune bundled in examples/ says what to listen for, compiles,
// travels as share text without change, and makes a sound of its own; a C
// formula beside its program text sounds as its twin does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "hack/tonebrook/render.h"
#include "hack/tonebrook/share.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

// The bundled tunes whose names end in `extension` (".txt" or ".c").
std::vector<std::string> example_names(const std::string& extension) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(TONEBROOK_SOURCE_DIR "/examples"))
    if (entry.path().extension() == extension) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string text_of(const std::string& name) {
  std::stringstream text;
  text << std::ifstream(TONEBROOK_SOURCE_DIR "/examples/" + name).rdbuf();
  return text.str();
}

struct Compiled {
  std::string url;
  unsigned rate = 0;
};

Compiled compiled(const std::string& name) {
  Compiled c;
  const char* url = tune_compile(text_of(name).c_str(), name.c_str(), &c.rate);
  if (url) c.url = url;
  return c;
}

std::string url_of(const std::string& name) { return compiled(name).url; }

// The left channel of eight seconds at 8000 Hz, from the second second on
// (the output filter settles in the first).
std::vector<int16_t> sound_of(const std::string& name) {
  const Compiled c = compiled(name);
  std::vector<int16_t> left;
  render_tune(c.url.c_str(), static_cast<float>(c.rate), 8000, 8 * 8000, [&](const int16_t* stereo, size_t frames) {
    for (size_t i = 0; i < frames; ++i) left.push_back(stereo[2 * i]);
    return true;
  });
  left.erase(left.begin(), left.begin() + std::min<size_t>(left.size(), 8000));
  return left;
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, SaysWhatToListenForAndTravelsAsShareText) {
  StdoutCapture quiet;
  const std::string text = text_of(GetParam());
  EXPECT_LE(text.size(), 1023u) << "longer than the player reads";
  EXPECT_THAT(text, ::testing::StartsWith(tune_is_c(GetParam().c_str()) ? "/* listen for: " : "( listen for: "));
  const std::string url = url_of(GetParam());
  ASSERT_NE(url, "");
  const char* listing = skreel_decode_url_to_text(url.c_str());  // text -> URL -> listing -> URL
  ASSERT_NE(listing, nullptr) << url;
  EXPECT_EQ(skreel_encode(std::string(listing).c_str()), url) << listing;
}

TEST_P(Example, IsNeitherSilentNorAConstant) {
  StdoutCapture quiet;
  const std::vector<int16_t> sound = sound_of(GetParam());
  ASSERT_EQ(sound.size(), 7u * 8000);
  double energy = 0;
  for (int16_t s : sound) energy += static_cast<double>(s) * s;
  // Louder than a square between 0 and 2, and more than a few levels.
  EXPECT_GT(std::sqrt(energy / static_cast<double>(sound.size())), 128.0);
  EXPECT_GT(std::set<int16_t>(sound.begin(), sound.end()).size(), 16u);
}

std::vector<std::string> all_examples() {
  std::vector<std::string> names = example_names(".txt");
  for (const std::string& name : example_names(".c")) names.push_back(name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Bundled, Example, ::testing::ValuesIn(all_examples()),
                         [](const ::testing::TestParamInfo<std::string>& param_info) {
                           std::string name = param_info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

TEST(Examples, ADozenTunesAtLeastNoTwoAlikeWithAStateAndTheComparisons) {
  StdoutCapture quiet;
  const std::vector<std::string> names = example_names(".txt");
  EXPECT_GE(names.size(), 12u);
  std::map<std::vector<int16_t>, std::string> heard;
  for (const std::string& name : names) {
    const auto [at, fresh] = heard.emplace(sound_of(name), name);
    EXPECT_TRUE(fresh) << name << " sounds like " << at->second;
  }
  // glide keeps its state in the cells it leaves on the stack (PICK and
  // SWAP, letters q and r); the comparisons are s, t and u.
  EXPECT_THAT(url_of("glide.txt"), ::testing::ContainsRegex("r.*q.*r"));
  EXPECT_THAT(url_of("pulse.txt"), ::testing::ContainsRegex("s.*u"));
}

TEST(Examples, FourCFormulasBesideTheirProgramTextSoundAsTheirTwinsAtFirst) {
  StdoutCapture quiet;
  int twins = 0;
  for (const std::string& name : example_names(".c")) {
    const std::string twin = name.substr(0, name.size() - 2) + ".txt";
    if (!std::filesystem::exists(TONEBROOK_SOURCE_DIR "/examples/" + twin)) continue;
    ++twins;
    EXPECT_EQ(sound_of(name), sound_of(twin)) << name;
  }
  EXPECT_EQ(twins, 4);
  EXPECT_EQ(compiled("steps.c").rate, 11025u) << "a tune names its own rate";
}

}  // namespace
