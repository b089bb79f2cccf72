// Installing into a prefix, and the Debian package: the installed program
// runs, the manual page is clean, and the package depends on exactly the
// Debian libraries the program links.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/render_files.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `name` as a regular expression that matches only itself.
std::string soname_pattern(const std::string& name) {
  return std::regex_replace(name, std::regex(R"([.+])"), R"(\$&)");
}

struct Ran {
  int status;
  std::string out, err;
};

Ran run(const std::string& program, const std::vector<std::string>& args) {
  PlayerProcess p(program, args);
  const int status = p.wait(std::chrono::seconds(300));
  return {status, p.output(), p.errors()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

TEST(Install, PutsTheProgramTheManualAndTheExamplesUnderThePrefix) {
  TempDir prefix;
  const Ran install = run(CMAKE_COMMAND_PATH, {"--install", TONEBROOK_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  const std::string exe = prefix.file("bin/tonebrook");
  const Ran version = run(exe, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tonebrook " TONEBROOK_VERSION_TEXT "\n");

  const std::vector<std::string> installed = names_in(prefix.file("share/doc/tonebrook/examples"));
  EXPECT_EQ(installed, names_in(TONEBROOK_SOURCE_DIR "/examples"));
  const std::string wav = prefix.file("classic.wav");
  const Ran render = run(exe, {"--render", wav, "--seconds", "2", prefix.file("share/doc/tonebrook/examples/classic.txt")});
  EXPECT_EQ(render.status, 0) << render.err;
  WavPcm16 w;
  ASSERT_TRUE(read_wav_pcm16(wav, &w));
  EXPECT_EQ(w.samples.size(), 2u * 2 * 44100);

  const std::string manual = prefix.file("share/man/man1/tonebrook.1");
  const Ran lint = run(MANDOC_PATH, {"-T", "lint", "-W", "warning", manual});
  EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
  EXPECT_THAT(lint.out + lint.err, IsEmpty());
  const std::string page = slurp(manual);
  for (const char* part : {"NAME", "SYNOPSIS", "OPTIONS", "TUNE LANGUAGE", "ENVIRONMENT", "EXIT STATUS", "FILES"})
    EXPECT_THAT(page, HasSubstr(std::string("\n.SH ") + part + "\n"));
  EXPECT_THAT(page, HasSubstr("\"tonebrook " TONEBROOK_VERSION_TEXT "\""));
}

// The Debian packages that hold the libraries `exe` names as needed, as
// the loader finds them (in the machine's own multiarch folder).
std::set<std::string> packages_linked(const std::string& exe) {
  std::set<std::string> packages;
  const Ran elf = run("/usr/bin/readelf", {"-d", exe});
  const Ran ldd = run("/usr/bin/ldd", {exe});
  const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
  for (auto it = std::sregex_iterator(elf.out.begin(), elf.out.end(), needed); it != std::sregex_iterator(); ++it) {
    const std::string soname = (*it)[1];
    std::smatch found;
    std::string folder = "*";
    if (std::regex_search(ldd.out, found, std::regex(soname_pattern(soname) + R"( => (\S*)/([^/\s]+)/)" + soname_pattern(soname))))
      folder = "*/" + found[2].str();
    const Ran owner = run("/usr/bin/dpkg", {"-S", folder + "/" + soname});
    EXPECT_EQ(owner.status, 0) << soname << " belongs to no package";
    for (const std::string& line : lines_of(owner.out)) {
      const std::string name = line.substr(0, line.find_first_of(":,"));
      if (name.find("-dev") == std::string::npos) packages.insert(name);
    }
  }
  return packages;
}

TEST(Install, TheDebianPackageDependsOnTheLibrariesTheProgramLinks) {
  TempDir out;
  const Ran pack = run(CPACK_COMMAND_PATH, {"--config", TONEBROOK_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", out.path()});
  ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
  std::string deb;
  for (const std::string& name : names_in(out.path()))
    if (name.size() > 4 && name.substr(name.size() - 4) == ".deb") deb = out.file(name);
  ASSERT_FALSE(deb.empty()) << pack.out;

  const Ran depends = run("/usr/bin/dpkg-deb", {"-f", deb, "Depends"});
  ASSERT_EQ(depends.status, 0);
  std::set<std::string> named;
  std::istringstream list(depends.out);
  for (std::string item; std::getline(list, item, ',');) {
    item = item.substr(item.find_first_not_of(" \n"));
    named.insert(item.substr(0, item.find_first_of(" \n(")));
  }
  EXPECT_EQ(named, packages_linked(TONEBROOK_EXE));

  const Ran contents = run("/usr/bin/dpkg-deb", {"-c", deb});
  for (const char* path : {"./usr/bin/tonebrook", "./usr/share/man/man1/tonebrook.1",
                           "./usr/share/doc/tonebrook/examples/glide.txt"})
    EXPECT_THAT(contents.out, HasSubstr(path));
}

}  // namespace
