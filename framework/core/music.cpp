#include "framework/core/music.h"

#include "framework/core/log.h"
#include "framework/platforms/sdl/wrapper_music.h"

int music_load_ex(const char* filename, int loops) {
  kel_log("Load music '%s'\n", filename ? filename : "OFF");
  if (filename == nullptr) return wrapper_play_music(nullptr);
  return wrapper_play_music_ex(filename, loops < 0 ? -1 : loops);
}

int music_load(const char* filename) { return music_load_ex(filename, -1); }

void music_volume(float volume) { wrapper_music_volume(volume); }

void music_pause(int set) {
  if (set) {
    wrapper_pause_music();
  } else {
    wrapper_resume_music();
  }
}
