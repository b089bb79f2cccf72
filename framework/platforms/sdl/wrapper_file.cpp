#include "framework/platforms/sdl/wrapper_file.h"

#include <sys/stat.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"

namespace {

constexpr const char* kDataPath = "./";

std::array<char, 512> savepath{};
std::array<char, 512> temppath{};
std::array<char, 512> docpath{};
int init = 0;

// snprintf into `out`; false when the text did not fit (or failed).
template <std::size_t N>
__attribute__((format(printf, 2, 3))) bool format_into(std::array<char, N>& out, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int length = std::vsnprintf(out.data(), out.size(), fmt, args);
  va_end(args);
  return length >= 0 && static_cast<std::size_t>(length) < out.size();
}

// Forms the four folder paths and makes the folders, once. Returns whether
// the per-user folders are known.
bool make_folders() {
  if (init) return true;
  const char* name = kel_app_name();
  std::array<char, 256> app{};
  if (*name != '\0' && !format_into(app, "%s/", name)) {
    kel_log("application name too long for a folder (over %zu bytes): no save, temp or doc folder\n",
            app.size() - 2);
    return false;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr) {
    kel_log("HOME is not set: no save, temp or doc folder\n");
    return false;
  }
  std::array<char, 512> root{};
  if (!format_into(root, "%s/.larkspire/", home) || !format_into(savepath, "%s/.larkspire/%s", home, app.data()) ||
      !format_into(temppath, "%s/.larkspire/%stemp/", home, app.data()) ||
      !format_into(docpath, "%s/.larkspire/%sdoc/", home, app.data())) {
    kel_log("folder path too long (over %zu bytes) under HOME: no save, temp or doc folder\n", root.size() - 1);
    savepath[0] = temppath[0] = docpath[0] = '\0';
    return false;
  }
  // A folder that exists already is fine; one that cannot be made shows
  // when a file in it is opened.
  wrapper_mkdir(root.data());
  wrapper_mkdir(savepath.data());
  wrapper_mkdir(temppath.data());
  wrapper_mkdir(docpath.data());
  init = 1;
  return true;
}

}  // namespace

const char* wrapper_file_data_path() {
  make_folders();
  return kDataPath;
}

const char* wrapper_file_save_path() { return make_folders() ? savepath.data() : nullptr; }
const char* wrapper_file_temp_path() { return make_folders() ? temppath.data() : nullptr; }
const char* wrapper_file_doc_path() { return make_folders() ? docpath.data() : nullptr; }

int fwdalphasort(const struct dirent** a, const struct dirent** b) { return -alphasort(a, b); }

int wrapper_file_dir_walk(const char* path, void* data, WRAPPER_DIR_WALK_CALLBACK callback) {
  if (path == nullptr || callback == nullptr) {
    kel_log("wrapper_file_dir_walk: %s\n", path == nullptr ? "no folder given" : "no callback given");
    return -1;
  }
  struct dirent** list = nullptr;
  const int count = scandir(path, &list, nullptr, fwdalphasort);
  if (count < 0) return -1;
  // The list is in descending order: from the last entry to the first is
  // ascending. Every entry is released, visited or not.
  int result = 1;
  int i = count - 1;
  for (; i >= 0; --i) {
    result = callback(path, list[i]->d_name, data);
    std::free(list[i]);
    if (result <= 0) {
      --i;
      break;
    }
  }
  for (; i >= 0; --i) std::free(list[i]);
  std::free(list);
  return result;
}

int wrapper_mkdir(const char* path) {
  if (path == nullptr) return -1;
  return mkdir(path, 0777) == 0 ? 0 : -1;
}
