// The help, the README's usage and the manual page say the same.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "hack/tonebrook/options.h"
#include "support/wav_file.h"

namespace {

std::string slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

// The part of `text` from `from` to the next `until`.
std::string part(const std::string& text, const std::string& from, const std::string& until) {
  const size_t start = text.find(from);
  return start == std::string::npos ? "" : text.substr(start, text.find(until, start + from.size()) - start);
}

std::set<std::string> options_in(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");  // the manual's hyphens
  std::set<std::string> found;
  const std::regex option(R"((^|[^\w-])(--[a-z]+|-h)\b)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    found.insert((*it)[2]);
  return found;
}

// The lines that show a form of the command line, "usage: " and indentation left out.
std::vector<std::string> forms_in(const std::string& text) {
  std::vector<std::string> forms;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = std::regex_replace(line, std::regex(R"(^(usage:)? *)"), "");
    if (line.rfind("tonebrook ", 0) == 0) forms.push_back(line);
  }
  return forms;
}

TEST(Docs, HelpReadmeAndManualShowTheSameOptionsAndForms) {
  TempFile file("", ".txt");
  std::FILE* out = std::fopen(file.c_str(), "w");
  tonebrook_print_help(out);
  std::fclose(out);
  const std::string help = slurp(file.path());
  const std::string readme = slurp(TONEBROOK_SOURCE_DIR "/README.md");
  const std::string manual = slurp(TONEBROOK_SOURCE_DIR "/docs/tonebrook.1.in");

  const std::set<std::string> options = {"--render", "--picture", "--seconds", "--rate", "--url",
                                         "--text",   "--help",    "-h",        "--version"};
  EXPECT_EQ(options_in(help), options);
  EXPECT_EQ(options_in(part(readme, "## Usage", "### ")), options);
  EXPECT_EQ(options_in(part(manual, ".SH SYNOPSIS", ".SH DESCRIPTION")), options);
  EXPECT_EQ(options_in(part(manual, ".SH OPTIONS", ".SH TUNE LANGUAGE")), options);
  EXPECT_EQ(forms_in(help).size(), 7u);
  EXPECT_EQ(forms_in(part(readme, "## Usage", "The first form")), forms_in(help));
}

}  // namespace
