// The help, the README's usage and the manual page say the same.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hack/tonebrook/options.h"
#include "support/wav_file.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string help_text() {
  TempFile file("", ".txt");
  std::FILE* out = std::fopen(file.c_str(), "w");
  tonebrook_print_help(out);
  std::fclose(out);
  return slurp(file.path());
}

// The part of `text` from the line `from` to the next line starting with
// `until`.
std::string section(const std::string& text, const std::string& from, const std::string& until) {
  const size_t start = text.find(from);
  if (start == std::string::npos) return "";
  const size_t end = text.find("\n" + until, start + from.size());
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> options_in(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");  // the manual's escaped hyphens
  std::set<std::string> found;
  const std::regex option(R"((^|[^\w-])(--[a-z]+|-h)\b)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    found.insert((*it)[2]);
  return found;
}

// The lines that show a form of the command line ("usage: " and the
// indentation left out).
std::vector<std::string> forms_in(const std::string& text) {
  std::vector<std::string> forms;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("usage: ", 0) == 0) line = line.substr(7);
    line = line.substr(std::min(line.size(), line.find_first_not_of(' ')));
    if (line.rfind("tonebrook ", 0) == 0) forms.push_back(line);
  }
  return forms;
}

const std::set<std::string> kOptions = {"--render", "--picture", "--seconds", "--rate", "--url",
                                        "--text",   "--help",    "-h",        "--version"};

TEST(Docs, HelpReadmeAndManualNameTheSameOptions) {
  const std::string readme = slurp(TONEBROOK_SOURCE_DIR "/README.md");
  const std::string manual = slurp(TONEBROOK_SOURCE_DIR "/doc/tonebrook.1.in");
  EXPECT_EQ(options_in(help_text()), kOptions);
  EXPECT_EQ(options_in(section(readme, "## Usage", "### ")), kOptions);
  EXPECT_EQ(options_in(section(manual, ".SH SYNOPSIS", ".SH DESCRIPTION")), kOptions);
  EXPECT_EQ(options_in(section(manual, ".SH OPTIONS", ".SH TUNE LANGUAGE")), kOptions);
}

TEST(Docs, HelpAndReadmeShowTheSameFormsOfTheCommandLine) {
  const std::string readme = slurp(TONEBROOK_SOURCE_DIR "/README.md");
  const std::string usage = section(readme, "## Usage", "The first form");
  const std::vector<std::string> from_help = forms_in(help_text());
  ASSERT_EQ(from_help.size(), 7u);
  EXPECT_EQ(forms_in(usage), from_help);
  // The manual's synopsis, read as plain text, has the same forms.
  std::string synopsis = section(slurp(TONEBROOK_SOURCE_DIR "/doc/tonebrook.1.in"), ".SH SYNOPSIS", ".SH DESCRIPTION");
  synopsis = std::regex_replace(synopsis, std::regex(R"(\\-)"), "-");
  synopsis = std::regex_replace(synopsis, std::regex(R"(\n\.br\n)"), "\x01\n");
  synopsis = std::regex_replace(synopsis, std::regex(R"(\n\.(BI|BR|IR|RB|RI|B|I) ?)"), " ");
  synopsis = std::regex_replace(synopsis, std::regex(R"(\n)"), " ");
  synopsis = std::regex_replace(synopsis, std::regex(R"(\s+)"), " ");
  std::vector<std::string> forms;
  std::istringstream pieces(synopsis.substr(synopsis.find("tonebrook")));
  for (std::string piece; std::getline(pieces, piece, '\x01');) {
    // .RB [ --picture ... ]: the pieces of a bracket come apart.
    piece = std::regex_replace(piece, std::regex(R"(\[ )"), "[");
    piece = std::regex_replace(piece, std::regex(R"( \])"), "]");
    piece = std::regex_replace(piece, std::regex(R"(^\s+|\s+$)"), "");
    forms.push_back(piece);
  }
  EXPECT_EQ(forms, from_help);
}

}  // namespace
