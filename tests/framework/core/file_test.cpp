// Files and folders under a real home folder: a temporary one that HOME
// points at. Every case runs in a process of its own, so the folders are
// made afresh in each.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/file.h"
#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper_file.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", home.path().c_str(), 1);
    kel_set_app_name("tonebrook");
  }
  TempDir home;
  std::string larkspire() const { return home.path() + "/.larkspire/"; }
};

struct Layout {
  const char* app;  // null: never named
  const char* save;
  const char* temp;
  const char* doc;
};
class Folders : public Files, public ::testing::WithParamInterface<Layout> {};

TEST_P(Folders, AreMadeOnTheFirstRequestUnderHome) {
  const Layout& l = GetParam();
  kel_set_app_name(l.app);
  ASSERT_FALSE(is_folder(larkspire()));
  StdoutCapture out;
  EXPECT_EQ(std::string(file_save_path(nullptr)), larkspire() + l.save);
  EXPECT_EQ(strip_log_prefixes(out.take()), larkspire() + l.save + "\n");
  EXPECT_EQ(std::string(wrapper_file_temp_path()), larkspire() + l.temp);
  EXPECT_EQ(std::string(wrapper_file_doc_path()), larkspire() + l.doc);
  EXPECT_STREQ(wrapper_file_data_path(), "./");
  for (const char* folder : {l.save, l.temp, l.doc}) EXPECT_TRUE(is_folder(larkspire() + folder)) << folder;
}

INSTANTIATE_TEST_SUITE_P(Names, Folders,
                         ::testing::Values(Layout{"tonebrook", "tonebrook/", "tonebrook/temp/", "tonebrook/doc/"},
                                           Layout{nullptr, "unnamed/", "unnamed/temp/", "unnamed/doc/"},
                                           Layout{"", "", "temp/", "doc/"}));

TEST_F(Files, PathFunctionsShareOneBuffer) {
  StdoutCapture quiet;
  char* first = file_doc_path("a.txt");
  EXPECT_EQ(std::string(first), larkspire() + "tonebrook/doc/a.txt");
  char* second = file_doc_path("b.txt");
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::string(first), larkspire() + "tonebrook/doc/b.txt");
  EXPECT_STREQ(file_data_path("x.png"), "./x.png");
  EXPECT_EQ(std::string(file_temp_path("t")), larkspire() + "tonebrook/temp/t");
}

TEST_F(Files, ValuesAreWrittenLittleEndianAndReadBack) {
  StdoutCapture out;
  FILER* f = file_open_save_write("values.bin");
  ASSERT_NE(f, nullptr);
  const std::string path = larkspire() + "tonebrook/values.bin";
  EXPECT_EQ(strip_log_prefixes(out.take()), "file_open_write '" + path + "': OK\n");
  EXPECT_EQ(file_putc(f, static_cast<char>(0xAB)), 0xAB);
  EXPECT_EQ(file_putw(f, -2), 1);
  EXPECT_EQ(file_putl(f, -123456789), 1);
  EXPECT_EQ(file_putw(f, 0x1234), 1);
  EXPECT_EQ(file_write(f, "tail", 4), 4);
  file_close(f);
  EXPECT_EQ(contents(path), std::string("\xAB\xFE\xFF\xEB\x32\xA4\xF8\x34\x12tail", 13));

  f = file_open_save_read("values.bin");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(file_getc(f), 0xAB);
  EXPECT_EQ(file_length(f), 13);
  EXPECT_EQ(file_getw(f), -2);  // the position stayed where it was
  EXPECT_EQ(file_getl(f), -123456789);
  EXPECT_EQ(file_getw(f), 0x1234);
  char buffer[16] = {};
  EXPECT_EQ(file_read(f, buffer, sizeof buffer), 4);  // shorter than asked: what was there
  EXPECT_STREQ(buffer, "tail");
  EXPECT_EQ(file_getc(f), -1);
  EXPECT_EQ(file_getw(f), -1);
  EXPECT_EQ(file_length(f), 13);
  file_close(f);
  file_close(nullptr);
  // Values cut short by the end read as -1.
  const struct { const char* bytes; int (*get)(FILER*); } short_values[] = {{"\x01\x02\x03", file_getl},
                                                                             {"\x01", file_getw}};
  for (const auto& [bytes, getter] : short_values) {
    f = file_open_temp_write("short.bin");
    file_write(f, bytes, static_cast<unsigned>(std::strlen(bytes)));
    file_close(f);
    f = file_open_temp_read("short.bin");
    EXPECT_EQ(getter(f), -1) << std::strlen(bytes) << " bytes";
    file_close(f);
  }
}

TEST_F(Files, FailuresAreLoggedWithAPerrorLine) {
  StdoutCapture out;
  StderrCapture err;
  EXPECT_EQ(file_open_doc_read("missing.txt"), nullptr);
  const std::string path = larkspire() + "tonebrook/doc/missing.txt";
  EXPECT_EQ(strip_log_prefixes(out.take()), "file_open_read '" + path + "': FAIL\n");
  EXPECT_EQ(err.take(), "file open failed: No such file or directory\n");
  EXPECT_EQ(file_delete_doc("missing.txt"), -1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "delete '" + path + "'\n");
  EXPECT_EQ(err.take(), "file delete failed: No such file or directory\n");
  EXPECT_EQ(file_open_write((home.path() + "/no/such/folder").c_str()), nullptr);
  EXPECT_THAT(err.take(), HasSubstr("file open failed: "));

  file_close(file_open_doc_write("gone.txt"));
  const std::string gone = larkspire() + "tonebrook/doc/gone.txt";
  ASSERT_TRUE(std::ifstream(gone).good());
  out.take();
  EXPECT_EQ(file_delete_doc("gone.txt"), 0);
  EXPECT_EQ(strip_log_prefixes(out.take()), "delete '" + gone + "'\n");
  EXPECT_FALSE(std::ifstream(gone).good());
  EXPECT_EQ(err.take(), "");
}

TEST_F(Files, TheDataFolderIsTheWorkingDirectory) {
  const TempDir cwd;
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  std::ofstream(cwd.file("asset.txt")) << "data";
  StdoutCapture quiet;
  FILER* f = file_open_data_read("asset.txt");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(file_length(f), 4);
  file_close(f);
  ASSERT_EQ(chdir("/"), 0);
}

struct Walk {
  std::vector<std::string> names;
  int stop_after = 1000;
};
int walker(const char* path, const char* name, void* data) {
  auto* walk = static_cast<Walk*>(data);
  EXPECT_NE(path, nullptr);
  walk->names.emplace_back(name);
  return static_cast<int>(walk->names.size()) < walk->stop_after ? 1 : 0;
}

TEST_F(Files, AWalkSeesTheNamesInAscendingOrder) {
  const TempDir dir;
  for (const char* name : {"b.txt", "a.txt", "C.txt", "c.txt"}) std::ofstream(dir.file(name)) << name;
  Walk all;
  EXPECT_EQ(wrapper_file_dir_walk(dir.path().c_str(), &all, walker), 1);
  EXPECT_EQ(all.names, (std::vector<std::string>{".", "..", "C.txt", "a.txt", "b.txt", "c.txt"}));
  Walk first;
  first.stop_after = 1;
  EXPECT_EQ(wrapper_file_dir_walk(dir.path().c_str(), &first, walker), 0);
  EXPECT_EQ(first.names.size(), 1u);
  Walk none;
  EXPECT_EQ(wrapper_file_dir_walk(dir.file("missing").c_str(), &none, walker), -1);
  EXPECT_TRUE(none.names.empty());
  StdoutCapture quiet;
  EXPECT_EQ(wrapper_file_dir_walk(dir.path().c_str(), &none, nullptr), -1);
  EXPECT_EQ(wrapper_file_dir_walk(nullptr, &none, walker), -1);
  EXPECT_EQ(wrapper_mkdir(dir.file("new").c_str()), 0);
  EXPECT_TRUE(is_folder(dir.file("new")));
  EXPECT_EQ(wrapper_mkdir(dir.file("new").c_str()), -1);  // exists already
}

// Each refusal: one clear line, null (or -1), nothing opened or made.
TEST_F(Files, WithoutHomeThePerUserFoldersAreRefused) {
  unsetenv("HOME");
  StdoutCapture out;
  EXPECT_EQ(file_save_path(nullptr), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "HOME is not set: no save, temp or doc folder\n");
  EXPECT_EQ(file_open_temp_write("x"), nullptr);
  EXPECT_EQ(file_delete_doc("x"), -1);
  EXPECT_EQ(wrapper_file_save_path(), nullptr);
  EXPECT_STREQ(file_data_path("x"), "./x");
  setenv("HOME", home.path().c_str(), 1);  // tried again at the next request
  EXPECT_EQ(std::string(file_save_path(nullptr)), larkspire() + "tonebrook/");
}

TEST_F(Files, PathsThatWouldNotFitAreRefused) {
  const std::string long_home = home.path() + "/" + std::string(490, 'h');
  setenv("HOME", long_home.c_str(), 1);
  StdoutCapture out;
  EXPECT_EQ(file_doc_path("a"), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "folder path too long (over 511 bytes) under HOME: no save, temp or doc folder\n");
  EXPECT_EQ(file_open_save_write("a"), nullptr);
  setenv("HOME", home.path().c_str(), 1);

  out.take();
  const std::string name1100(1100, 'n');
  EXPECT_EQ(file_open_save_write(name1100.c_str()), nullptr);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("file_open_save_write: path too long (over 1023 bytes)"));
  EXPECT_EQ(file_delete_temp(name1100.c_str()), -1);
  EXPECT_NE(file_save_path(name1100.c_str()), nullptr);  // fits the 2048 bytes
  out.take();
  EXPECT_EQ(file_save_path(std::string(2100, 'n').c_str()), nullptr);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("file_save_path: path too long (over 2047 bytes)"));
  EXPECT_EQ(file_open_save_write(nullptr), nullptr);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("file_open_save_write: no file name given"));
}

TEST(FilesAppName, ANameTooLongForItsBufferIsRefused) {
  const TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  const std::string name(300, 'a');
  kel_set_app_name(name.c_str());
  StdoutCapture out;
  EXPECT_EQ(wrapper_file_save_path(), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "application name too long for a folder (over 254 bytes): no save, temp or doc folder\n");
}

}  // namespace
