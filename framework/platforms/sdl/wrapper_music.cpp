#include "framework/platforms/sdl/wrapper_music.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "framework/core/kel.h"
#include "framework/core/log.h"

namespace {

int sample_rate_ = 8000;

inline void stream_stop() { Mix_Pause(-1); }
inline void stream_exit() { Mix_CloseAudio(); }
inline int stream_init(unsigned rate, unsigned samples, int stereo) {
  return Mix_OpenAudio(static_cast<int>(rate), AUDIO_S16LSB, stereo ? 2 : 1, static_cast<int>(samples));
}
inline void stream_start() {
  kel_log_line("START audio STREAM");
  Mix_Resume(-1);
}

}  // namespace

unsigned wrapper_default_buffer_frames(unsigned samplerate) {
  return static_cast<unsigned>(static_cast<double>(samplerate) / 22050.0 * 512.0);
}

int wrapper_sound_init(unsigned samplerate, unsigned bufsize) {
  static int init = 0;
  if (samplerate == 0 && bufsize == 0) {
    if (init == 1) return 2;
    samplerate = 22050;
    bufsize = 512;
  } else {
    if (samplerate == 0) samplerate = 22050;
    if (bufsize == 0) bufsize = wrapper_default_buffer_frames(samplerate);
  }
  kel_log("stream setting %dhz, %d byte update\n", samplerate, bufsize);
  stream_stop();
  stream_exit();
  init = 0;
  SDL_ClearError();
  if (stream_init(samplerate, bufsize, 1) < 0) {
    const char* why = Mix_GetError();
    kel_log("Mix_OpenAudio: %s\n", why && *why ? why : "no sound device could be opened");
    return -1;
  }
  sample_rate_ = static_cast<int>(samplerate);
  Mix_RegisterEffect(MIX_CHANNEL_POST, mixaudio, nullptr, nullptr);
  stream_start();
  init = 1;
  return 1;
}

void wrapper_sound_exit() {
  stream_stop();
  stream_exit();
}

void mixaudio(int, void* stream, int len, void*) {
  auto* samples = static_cast<int16_t*>(stream);
  const int frames = len / 4;
  if (KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load()) callback(samples, frames, sample_rate_);
}
