// The sample player: loads PCM RIFF/WAVE files into memory and plays them on
// a fixed bank of 32 voices, each with its own volume, pan, pitch and loop
// setting. The logic thread starts and configures voices; the audio thread
// calls a mixer once per buffer, which adds every playing voice into the
// buffer with saturation, in 24.8 fixed point.
//
// Threads. Every voice word is atomic. The four flags and the position live
// together in one 64-bit word (`state`) with a change count, so that every
// flag change is a single read-modify-write and the mixer's write-back of a
// position is a compare-and-swap that gives way to anything the logic thread
// did in the meantime (see wav_bank.h). The mixers are meant for one audio
// thread; all other functions for the logic thread. Nothing takes a lock and
// the mixers allocate nothing and print nothing. The loader's messages go to
// the log's stream (kel_log_stream), without the log prefix.
#pragma once

#include <atomic>
#include <cstdint>

// One loaded sample. Allocated by wave_load, released by wave_free.
struct WAV {
  uint32_t channels;  // the file's channel count (the data is mono: mixed down at load)
  uint32_t rate;      // the file's sample rate in Hz
  uint32_t width;     // bits per sample of the data held now: 8 or 16
  uint32_t frames;    // number of sample frames (= values in `data`)
  void* data;         // `frames` signed values of `width` bits

  int16_t* buffer16() const { return static_cast<int16_t*>(data); }
  int8_t* buffer8() const { return static_cast<int8_t*>(data); }
};

constexpr int WAVE_VOICES = 32;

// The flag bits of a voice (bits 0..3 of VOICE::state).
enum : uint32_t {
  VOICE_TAKEN = 1u << 0,    // allocated to somebody; allocation skips it
  VOICE_PLAYING = 1u << 1,  // the mixers process it
  VOICE_LOOP = 1u << 2,     // at the end of the sample the position wraps to the start
  VOICE_ONESHOT = 1u << 3,  // at the end of a non-looping sample the voice frees itself
};

// One voice. Read it through wave_voice(); change it only through the
// wave_ functions.
struct VOICE {
  // bits 0..3: the flags above; bits 4..31: a count of the logic thread's
  // changes that move or re-target the voice; bits 32..63: `pos`, the
  // position in whole sample frames, kept between mixing calls.
  std::atomic<uint64_t> state;
  std::atomic<float> pan;       // -1 left only .. 0 centre .. +1 right only
  std::atomic<int32_t> left;    // left gain 0..256 (256 = unity); also the mono gain
  std::atomic<int32_t> right;   // right gain 0..256
  std::atomic<float> vol;       // 0..1
  std::atomic<float> pitch;     // >= 0; 1 plays the sample at its own speed
  std::atomic<uint32_t> step;   // position increment per output frame, 24.8 fixed point
  std::atomic<WAV*> wav;        // the sample played (not owned)

  uint32_t flags() const { return static_cast<uint32_t>(state.load()) & 0xfu; }
  bool taken() const { return (flags() & VOICE_TAKEN) != 0; }
  bool playing() const { return (flags() & VOICE_PLAYING) != 0; }
  bool loop() const { return (flags() & VOICE_LOOP) != 0; }
  bool oneshot() const { return (flags() & VOICE_ONESHOT) != 0; }
  uint32_t pos() const { return static_cast<uint32_t>(state.load() >> 32); }
};

// Marks the player initialised with the output rate in frames per second
// and the bit width that loaded samples are converted to (16 for the audio
// stream), and silences and clears all 32 voices. May be called again when
// the stream reopens; loaded samples stay valid. Logic thread.
void wave_init(unsigned int rate, unsigned int bits);

// Loads the PCM WAV file `fname` (8 or 16 bits, any number of channels,
// mixed down to mono) and converts it to the player's bit width. Returns a
// new sample that the caller owns until it passes it to wave_free; null on
// failure, after a message on the log's stream (kel_log_stream) without the
// log prefix; null without a message while the player is not initialised.
// The name is read during the call only. Logic thread.
WAV* wave_load(const char* fname);

// Stops every voice that plays `wav`, detaches it from them, waits for a
// mixing call in progress to finish, then releases the sample and its data:
// `wav` is invalid afterwards. Null is ignored. Logic thread only.
void wave_free(WAV* wav);

// Starts `wav` on the lowest voice that is not taken (cutting off a dropped
// voice that still sounds there), from its start, with volume `vol` (0..1),
// `pitch` (1 its own speed) and `pan` (-1..+1), looping when `loop` is
// non-zero; the voice frees itself when a non-looping sample ends. Returns
// the voice index; -1 when the player is not initialised or every voice is
// taken, -2 when `wav` is null. The voice refers to `wav`, which must stay
// loaded while it plays. Logic thread.
int wave_play(WAV* wav, float vol, float pitch, float pan, int loop);
// wave_play(wav, 1, 1, 0, 0).
int wave_just_play(WAV* wav);

// Reserves the lowest voice that is not taken and returns its index (-1 if
// none). The voice keeps its sample and position; it no longer frees itself
// at its sample's end. Logic thread.
int wave_take_voice();
// Gives a voice back (clears `taken`): it sounds on to its end unless the
// next allocation takes it. Indices outside 0..31 are ignored, here and in
// every voice function below. Logic thread.
void wave_drop_voice(int voice);
// Sets `playing` when the voice has a sample; a voice that had reached the
// end of its sample starts again from the beginning. Logic thread.
void wave_start_voice(int voice);
// Clears `playing`; the position is kept for wave_start_voice. Logic thread.
void wave_stop_voice(int voice);
// Clamps `pan` to -1..+1 (NaN: 0), stores it and recomputes both gains:
// full gain on both sides at the centre, the far side falling to 0 at the
// ends. Logic thread.
void wave_set_voice_pan(int voice, float pan);
// Clamps `vol` to 0..1 (NaN: 0), stores it and recomputes both gains.
// Logic thread.
void wave_set_voice_vol(int voice, float vol);
// Stores `pitch` (negative or NaN: 0) and recomputes the step from the
// sample's rate and the output rate; nothing when the voice has no sample.
// Logic thread.
void wave_set_voice_pitch(int voice, float pitch);
// Loops the voice's sample when `loop` is non-zero. Logic thread.
void wave_set_voice_loop(int voice, int loop);

// The mixers: add every playing voice into `frames` signed 16-bit values
// (mono: the left gain) or left/right pairs (stereo), with saturation, and
// advance the voices, ending those whose samples end. Return the number of
// voices that were playing, those that ended during the call included; 0
// for a null buffer. The buffer is the caller's and is used during the call
// only. Audio thread (one at a time): they allocate nothing, take no lock,
// never wait and print nothing.
int wave_output(void* buffer, unsigned int frames) noexcept;
int wave_output_stereo(void* interleaved_buffer, unsigned int frames) noexcept;

// Stops and gives back every voice. Logic thread.
void wave_drop_all();
// Stops and gives back every voice that plays `wav` (null is ignored).
// Logic thread.
void wave_stop_wav(WAV* wav);
// 1 when some voice plays `wav`, else 0 (also for null). Logic thread.
int wave_is_wav_playing(WAV* wav);
// Number of voices playing now; 0 while the player is not initialised.
// Logic thread.
int wave_count_playing();

// Read-only view of voice `voice` (0..31) for inspection, valid for the
// whole run (the bank is static); null outside the bank. Read its fields
// through VOICE's accessors: the audio thread may change them meanwhile.
const VOICE* wave_voice(int voice);
