// --help, the README's usage and the manual page show every option of the
// command line's table, with its value, and no option that it lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "hack/tonebrook/options.h"

namespace {

std::string slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

std::string help_text() {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  tonebrook_print_help(out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

// The part of `text` from `from` to the next `until`.
std::string part(const std::string& text, const std::string& from, const std::string& until) {
  const size_t start = text.find(from);
  return start == std::string::npos ? "" : text.substr(start, text.find(until, start + from.size()) - start);
}

// Every long option named in `text` (a short one cannot be told from an
// option of another program, such as cp -p).
std::set<std::string> options_in(const std::string& text) {
  std::set<std::string> found;
  const std::regex option(R"((^|[^\w-])(--[a-z]+)\b)");
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

// The headings of the manual's option entries: the line after each ".TP".
std::vector<std::string> entries_in(const std::string& manual_options) {
  std::vector<std::string> headings;
  std::istringstream lines(manual_options);
  for (std::string line; std::getline(lines, line);)
    if (line == ".TP" && std::getline(lines, line)) headings.push_back(line);
  return headings;
}

TEST(Docs, EveryOptionOfTheTableIsInTheHelpTheReadmeAndTheManual) {
  const std::string help = help_text();
  const std::string readme = part(slurp(TONEBROOK_SOURCE_DIR "/README.md"), "## Usage", "\n### ");
  // The manual's hyphens are written \-.
  const std::string manual =
      std::regex_replace(slurp(TONEBROOK_SOURCE_DIR "/docs/tonebrook.1.in"), std::regex(R"(\\-)"), "-");
  const std::string synopsis = part(manual, ".SH SYNOPSIS", ".SH ");
  const std::string manual_options = part(manual, ".SH OPTIONS", ".SH ");
  const std::vector<std::string> entries = entries_in(manual_options);

  std::set<std::string> names;
  for (const OPTION& option : tonebrook_options()) {
    const std::string name(option.name), alias(option.alias);
    const std::string value = option.value.empty() ? "" : " " + std::string(option.value);
    names.insert(name);

    // --help lists it with its value: "  --render OUT.wav   ...", "  -h, --help   ...".
    const std::string help_line = "\n  " + (alias.empty() ? "" : alias + ", ") + name + value + "  ";
    EXPECT_NE(help.find(help_line), std::string::npos) << "--help lists no" << help_line;
    // The README's option table has a row for it.
    const std::string row = "\n| " + (alias.empty() ? "" : "`" + alias + "`, ") + "`" + name + value + "` |";
    EXPECT_NE(readme.find(row), std::string::npos) << "the README's option table has no row" << row;
    // The manual's synopsis names it, and an entry of its options is headed by it and its value.
    for (const std::string& named : {name, alias}) {
      if (named.empty()) continue;
      EXPECT_TRUE(std::regex_search(synopsis, std::regex(" " + named + "[ \n]"))) << "the manual's synopsis lacks " << named;
    }
    const std::regex heading("^\\.B[IR]? .*" + alias + ".*" + name + "\\b.*" + std::string(option.value));
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [&](const std::string& line) { return std::regex_search(line, heading); }))
        << "no entry for " << name << value << " in the manual's OPTIONS";
  }
  // And none of them names an option that the table lacks.
  EXPECT_EQ(options_in(help), names);
  EXPECT_EQ(options_in(readme), names);
  EXPECT_EQ(options_in(synopsis), names);
  EXPECT_EQ(options_in(manual_options), names);
  // The README shows the forms of the command line that --help shows.
  EXPECT_EQ(forms_in(part(readme, "## Usage", "```\n\n")), forms_in(help));
  EXPECT_FALSE(forms_in(help).empty());
}

}  // namespace
