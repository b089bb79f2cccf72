// Fuzzes image files through wrapper_load_rgba and whatever it accepts into
// an atlas: as one image, as a glyph sheet and as a sprite sheet.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/core/atlas.h"
#include "framework/platforms/sdl/wrapper_image.h"

namespace {

const std::string& input_path() {
  static const std::string path = [] {
    struct stat info {};
    const bool shm = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode);
    return std::string(shm ? "/dev/shm" : "/tmp") + "/image_load_fuzz_" + std::to_string(getpid()) + ".img";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(input_path().c_str(), "wb");
  if (!f) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  if (!written) return 0;

  atlas_init();
  atlas_set_loader(wrapper_load_rgba);
  spritecount = 0;
  RGBA_DATA* image = rgba_load(input_path().c_str());
  std::remove(input_path().c_str());
  if (image) {
    IMAGE* atlas = atlas_get(0);
    atlas_create_texture(atlas, 256, 256);
    atlas_add_rgba_image(atlas, image->bytes, image->w, image->h, image->w, ATLAS_MODE_DOUBLE_BORDER);
    atlas_add_glyphs(atlas, image, ATLAS_MODE_TRANSPARENT_BORDER);
    SPRITESHEET sheet{0, 0, 16, 16, image};
    atlas_add_sprite_sheet(atlas, &sheet, ATLAS_MODE_NO_BORDER);
    rgba_free(image);
  }
  atlas_exit();
  return 0;
}
