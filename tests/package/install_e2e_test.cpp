// Installing into a prefix, and the Debian package: the installed program
// runs, the manual page is clean, and the package depends on exactly the
// Debian libraries the program links and passes Debian's own checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "support/app/process.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

// Runs `program` to its end: the exit status and standard output.
std::pair<int, std::string> run(const std::string& program, const std::vector<std::string>& args) {
  PlayerProcess p(program, args);
  const int status = p.wait(std::chrono::seconds(300));
  return {status, p.output() + p.errors()};
}

TEST(Install, PutsTheProgramTheManualAndTheExamplesUnderThePrefix) {
  TempDir prefix;
  ASSERT_EQ(run(CMAKE_COMMAND_PATH, {"--install", TONEBROOK_BUILD_DIR, "--prefix", prefix.path()}).first, 0);
  const std::string exe = prefix.file("bin/tonebrook"), examples = prefix.file("share/doc/tonebrook/examples");
  EXPECT_EQ(run(exe, {"--version"}), std::make_pair(0, std::string("tonebrook " TONEBROOK_VERSION_TEXT "\n")));
  EXPECT_EQ(names_in(examples), names_in(TONEBROOK_SOURCE_DIR "/examples"));
  EXPECT_EQ(run(exe, {"--render", prefix.file("a.wav"), "--seconds", "2", examples + "/classic.txt"}).first, 0);
  WavPcm16 w;
  ASSERT_TRUE(read_wav_pcm16(prefix.file("a.wav"), &w));
  EXPECT_EQ(w.samples.size(), 2u * 2 * 44100);

  const std::string manual = prefix.file("share/man/man1/tonebrook.1.gz");
  EXPECT_EQ(run(MANDOC_PATH, {"-T", "lint", "-W", "warning", manual}), std::make_pair(0, std::string()));
  const std::string page = run("/usr/bin/gzip", {"-dc", manual}).second;
  for (const char* part : {"NAME", "SYNOPSIS", "OPTIONS", "TUNE LANGUAGE", "ENVIRONMENT", "EXIT STATUS", "FILES"})
    EXPECT_THAT(page, HasSubstr(std::string("\n.SH ") + part + "\n"));
  EXPECT_THAT(page, HasSubstr("\"tonebrook " TONEBROOK_VERSION_TEXT "\""));
}

TEST(Install, TheDebianPackageDependsOnTheLibrariesTheProgramLinksAndPassesLintian) {
  TempDir out;
  ASSERT_EQ(run(CPACK_COMMAND_PATH, {"--config", TONEBROOK_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", out.path()}).first, 0);
  std::string deb;
  for (const std::string& name : names_in(out.path()))
    if (name.ends_with(".deb")) deb = out.file(name);
  ASSERT_NE(deb, "");
  // Informational tags are allowed; errors and warnings are faults.
  const auto [lintian_status, lintian] = run("/usr/bin/lintian", {"--no-cfg", "--fail-on", "error,warning", deb});
  EXPECT_EQ(lintian_status, 0) << lintian;
  std::set<std::string> depends;
  const std::string field = run("/usr/bin/dpkg-deb", {"-f", deb, "Depends"}).second;
  const std::regex package(R"((^|, )([a-z0-9.+-]+))");
  for (auto it = std::sregex_iterator(field.begin(), field.end(), package); it != std::sregex_iterator(); ++it)
    depends.insert((*it)[2]);

  // The packages of the libraries the program names, as the loader finds
  // them (in the machine's own multiarch folder).
  std::set<std::string> linked;
  const std::string elf = run("/usr/bin/readelf", {"-d", TONEBROOK_EXE}).second;
  const std::string ldd = run("/usr/bin/ldd", {TONEBROOK_EXE}).second;
  const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
  for (auto it = std::sregex_iterator(elf.begin(), elf.end(), needed); it != std::sregex_iterator(); ++it) {
    const std::string soname = (*it)[1];
    const size_t at = ldd.find(soname + " => ");
    ASSERT_NE(at, std::string::npos) << soname;
    const std::string path = ldd.substr(at + soname.size() + 4, ldd.find(' ', at + soname.size() + 4) - at - soname.size() - 4);
    const std::string folder = path.substr(0, path.rfind('/'));
    const auto [status, owners] = run("/usr/bin/dpkg", {"-S", "*/" + folder.substr(folder.rfind('/') + 1) + "/" + soname});
    EXPECT_EQ(status, 0) << soname << " belongs to no package";
    std::istringstream lines(owners);
    for (std::string line; std::getline(lines, line);)
      if (line.find("-dev") == std::string::npos) linked.insert(line.substr(0, line.find_first_of(":,")));
  }
  EXPECT_EQ(depends, linked);
  const std::string contents = run("/usr/bin/dpkg-deb", {"-c", deb}).second;
  for (const char* path : {"./usr/bin/tonebrook", "./usr/share/man/man1/tonebrook.1.gz", "./usr/share/doc/tonebrook/examples/glide.txt"})
    EXPECT_THAT(contents, HasSubstr(path));
}

}  // namespace
