#include "framework/platforms/sdl/wrapper_music.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "framework/core/wav-play.h"

namespace {

constexpr int kSynthFrames = 65536;

// One mono synthesiser value per frame of the buffer being mixed; a longer
// buffer is mixed in pieces of this size.
std::array<int16_t, kSynthFrames> synthbuf;
int sample_rate_ = 8000;

// Adds the synthesiser's mono values into both channels of `frames` frames,
// saturating where the 16-bit sum would overflow.
void add_synth(int16_t* samples, int frames) noexcept {
  for (int done = 0; done < frames;) {
    const int piece = std::min(frames - done, kSynthFrames);
    syn_update(&synraw, synthbuf.data(), static_cast<unsigned>(piece));
    int16_t* out = samples + 2 * done;
    for (int i = 0; i < 2 * piece; ++i) {
      const int sum = out[i] + synthbuf[static_cast<std::size_t>(i / 2)];
      out[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
    }
    done += piece;
  }
}

// The last step of every buffer SDL_mixer sends to the device: hands the
// buffer to the stream tap and counts its frames. It is installed before
// the device opens, so that it sees the device's very first buffer (the
// mixing hook, registered on the open device, misses those that go out
// while the sources are set up).
void stream_done(void*, Uint8* stream, int len) {
  if (stream == nullptr || len <= 0) return;
  const int frames = len / 4;
  if (KEL_STREAM_TAP tap = kel_stream_tap()) tap(reinterpret_cast<const int16_t*>(stream), frames);
  kel_advance_stream_frame(static_cast<uint64_t>(frames));
}

inline void stream_stop() { Mix_Pause(-1); }
inline void stream_exit() { Mix_CloseAudio(); }
inline int stream_init(unsigned rate, unsigned samples, int stereo) {
  return Mix_OpenAudio(static_cast<int>(rate), AUDIO_S16LSB, stereo ? 2 : 1, static_cast<int>(samples));
}
inline void stream_start() {
  kel_log_line("START audio STREAM");
  Mix_Resume(-1);
}

// The current music stream, or none.
Mix_Music* music = nullptr;

// 1 while the device is open. SDL_mixer must not be paused or closed again
// once it is closed: it would walk channel records it has already freed.
int init = 0;

void close_device() {
  if (init == 0) return;
  stream_stop();
  stream_exit();
  init = 0;
}

// SDL 1.2's ALSA driver waits for room in the device through ALSA's poll.
// Through a sound server's ALSA plug-in (PulseAudio's, or PipeWire's pulse
// server) that poll returns at once, over and over, and the audio thread
// keeps a processor busy (40 % of a core with 1024-frame buffers). SDL
// picks its pulse driver by itself when a server answers and no driver was
// named; when alsa was named and a server listens, one line says so.
bool sound_server_listens() {
  if (const char* server = std::getenv("PULSE_SERVER"); server != nullptr && *server != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return false;
  const std::string socket = std::string(runtime) + "/pulse/native";
  struct stat st;
  return stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void warn_of_alsa_through_a_server() {
  std::array<char, 32> driver{};
  if (SDL_AudioDriverName(driver.data(), static_cast<int>(driver.size())) == nullptr) return;
  if (std::strcmp(driver.data(), "alsa") != 0 || !sound_server_listens()) return;
  kel_log_notice("SDL's alsa driver reaches the sound server through ALSA's plug-in, which keeps a processor "
                 "busy: leave SDL_AUDIODRIVER unset, or set it to pulse\n");
}

}  // namespace

unsigned wrapper_default_buffer_frames(unsigned samplerate) {
  return static_cast<unsigned>(static_cast<double>(samplerate) / 22050.0 * 512.0);
}

int wrapper_sound_init(unsigned samplerate, unsigned bufsize) {
  if (samplerate == 0 && bufsize == 0) {
    if (init == 1) return 2;
    samplerate = 22050;
    bufsize = 512;
  } else {
    if (samplerate == 0) samplerate = 22050;
    if (bufsize == 0) bufsize = wrapper_default_buffer_frames(samplerate);
  }
  kel_log("stream setting %dhz, %d byte update\n", samplerate, bufsize);
  close_device();
  // A new stream counts its frames from its first buffer.
  kel_set_stream_frame(0);
  Mix_SetPostMix(stream_done, nullptr);
  SDL_ClearError();
  if (stream_init(samplerate, bufsize, 1) < 0) {
    const char* why = Mix_GetError();
    kel_log_notice("Mix_OpenAudio: %s\n", why && *why ? why : "no sound device could be opened");
    return -1;
  }
  warn_of_alsa_through_a_server();
  sample_rate_ = static_cast<int>(samplerate);
  wave_init(samplerate, 16);
  syn_init(&synraw, samplerate, 1.0f, 256);
  Mix_RegisterEffect(MIX_CHANNEL_POST, mixaudio, nullptr, nullptr);
  stream_start();
  init = 1;
  return 1;
}

void wrapper_sound_exit() { close_device(); }

// The fixed order: SDL_mixer's own mix is in the stream already; then the
// bytebeat (wrapping addition), the sample player (clipping) and the
// synthesiser (saturating).
void mixaudio(int, void* stream, int len, void*) noexcept {
  // Whatever the sources log on this thread (an effect function, the
  // decoder) goes to the log's ring: this thread never waits on output.
  KelLogDeferred deferred_log;
  if (stream == nullptr || len <= 0) return;
  auto* samples = static_cast<int16_t*>(stream);
  const int frames = len / 4;
  if (KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load()) callback(samples, frames, sample_rate_);
  if (kel_settings.enable_wav.load()) wave_output_stereo(stream, static_cast<unsigned>(frames));
  if (kel_settings.enable_synth.load()) {
    // However many logic updates have passed, the effects advance at most
    // once per buffer.
    if (kel_settings.synth_effects_state.exchange(0) != 0) synth_effects_update();
    add_synth(samples, frames);
  }
}

int wrapper_play_music_ex(const char* filename, int loops) {
  if (filename == nullptr) {
    if (music) Mix_FreeMusic(music);  // stops it first
    music = nullptr;
    return 0;
  }
  Mix_Music* next = Mix_LoadMUS(filename);
  if (next == nullptr) kel_log_notice("Mix_LoadMUS: %s\n", SDL_GetError());
  if (next) Mix_PlayMusic(next, loops);  // halts the one playing
  if (music) Mix_FreeMusic(music);
  music = next;
  return 1;
}

int wrapper_play_music(const char* filename) { return wrapper_play_music_ex(filename, -1); }

void wrapper_pause_music() { Mix_PauseMusic(); }
void wrapper_resume_music() { Mix_ResumeMusic(); }

void wrapper_music_volume(float volume) {
  const float scaled = volume * 128.0f;
  // Truncated, by defined conversions only: what SDL_mixer would make of a
  // value beyond 128 or at -1 and below (128, and a question), and a NaN
  // as a question too.
  int level = -1;
  if (scaled >= 128.0f) level = 128;
  else if (scaled > -1.0f) level = static_cast<int>(scaled);
  Mix_VolumeMusic(level);
}

int wrapper_set_music_position(float seconds) {
  Mix_RewindMusic();
  Mix_SetMusicPosition(static_cast<double>(seconds));
  return 1;
}

int wrapper_is_other_music_playing() { return 0; }
void wrapper_set_audio_for_background(int) {}
void wrapper_set_audio_for_ambient(int) {}
