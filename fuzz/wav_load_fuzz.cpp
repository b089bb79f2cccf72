// Fuzzes the WAV loader with arbitrary file contents and plays whatever it
// accepts through both mixers, then frees it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/core/wav-play.h"

namespace {

const std::string& input_path() {
  static const std::string path = [] {
    struct stat info {};
    const bool shm = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode);
    std::string p = std::string(shm ? "/dev/shm" : "/tmp") + "/wav_load_fuzz_" +
                    std::to_string(getpid()) + ".wav";
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Odd-sized inputs load for an 8-bit player, so that both conversions run.
  wave_init(44100, (size & 1) ? 8 : 16);

  FILE* f = std::fopen(input_path().c_str(), "wb");
  if (!f) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  if (!written) return 0;

  WAV* wav = wave_load(input_path().c_str());
  std::remove(input_path().c_str());
  if (wav) {
    static int16_t buffer[2 * 512];
    wave_play(wav, 1.0f, 1.5f, 0.3f, 1);
    wave_play(wav, 0.7f, 0.37f, -1.0f, 0);
    wave_play(wav, 1.0f, 300.0f, 1.0f, 1);
    wave_output_stereo(buffer, 512);
    wave_output(buffer, 512);
    wave_free(wav);
  }
  return 0;
}
