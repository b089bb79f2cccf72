// Recording a performance (tonebrook --record REC.wav FILE): the live
// player keeps exactly what it sends to the sound device, and beside it
// what it played when, so that the performance can be rendered again
// sample for sample (replay.h).
//
// The sound. The stream tap (taps.h) copies every buffer that goes to the
// device into a lock-free ring (RecordRing), from the stream's first buffer
// on; that copy is all the audio thread does for the recording. Once every
// logic update the main thread writes what the ring holds to REC.wav.part,
// a 16-bit stereo WAV file at the device's rate whose header it brings up
// to date after every half second of sound, so that a player killed at any
// moment leaves a valid WAV of all but its last moments. When the writer
// falls so far behind that a buffer finds the ring full, that buffer is
// dropped whole and the file gets silence of its length in its place, so
// the recording keeps the stream's time; the player says so. The sound is
// never held up.
//
// The edits. Every change the player took up (live.h hands each answer of
// the engine to its listeners) becomes one line of REC.wav.edits.part, in
// the format of replay.h, written and flushed at once: first the device's
// rate and buffer size, then each edit with its frame; a save that was not
// played (a refused save under --keep) leaves no line.
//
// The end. After the stream has closed (every buffer of the quit's fade is
// in the ring), the rest is written, the edits get their end line, and the
// two files are renamed to REC.wav and REC.wav.edits, each replacing a
// file of that name only now, when both are whole. A write error or a full
// disk stops the recording with a message and the music plays on; the
// .part files are then left as they are (valid as far as they go), and so
// are those of a killed player: a recording refuses to start while they
// are there, rather than overwrite them.
//
// Threads: RecordRing::push on the audio thread (from the stream tap);
// everything else on the main thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "framework/core/sample_ring.h"

// A stretch of the stream that found the ring full.
struct RECORD_GAP {
  uint64_t at;      // its first frame, counted from the ring's first buffer
  uint64_t frames;  // its length
};

// The audio thread's side of a recording: every buffer pushed is kept
// whole or dropped whole, and what was dropped is handed on as silence at
// its place in the stream.
//
// Two rings with one writer and one reader each: the frames, and the gaps
// (where the frames were dropped). A gap is published only once the ring
// has room again, before the frames that follow it; until then every
// buffer is dropped into it. So every frame published before a gap lies
// before it, and every frame after it was published after it: the reader
// takes the frames first, then the gaps, and places each gap whose frames
// before it it holds.
class RecordRing {
 public:
  // Makes the rings: `frames` frames (1 to 2^31) and `gaps` gaps
  // (1 to 2^31); allocates here.
  RecordRing(std::size_t frames, std::size_t gaps);
  RecordRing(const RecordRing&) = delete;
  RecordRing& operator=(const RecordRing&) = delete;

  // The next buffer of the stream: `frames` interleaved stereo frames.
  // Null or frames <= 0 pushes nothing. Allocates nothing, takes no lock,
  // never waits. Audio thread.
  void push(const int16_t* stereo, int frames) noexcept;

  // Hands on everything pushed so far that can be placed, in the stream's
  // order: runs of sound to `sound`, and each stretch dropped to `silence`
  // (its first frame and length). The spans live during the call. Main
  // thread.
  using SOUND = std::function<void(std::span<const STEREO_FRAME16> frames)>;
  using SILENCE = std::function<void(uint64_t at, uint64_t frames)>;
  void drain(const SOUND& sound, const SILENCE& silence);
  // drain, then the stretch that was still being dropped: call it only
  // once the audio thread has stopped pushing for good (the stream has
  // closed). Main thread.
  void drain_last(const SOUND& sound, const SILENCE& silence);

  // Frames handed on so far, sound and silence. Main thread.
  uint64_t drained() const { return drained_; }
  // The frames of the first buffer pushed, 0 before. Any thread.
  unsigned buffer_frames() const noexcept { return buffer_frames_.load(std::memory_order_acquire); }
  // True once a buffer of another size than the first was pushed. Any
  // thread.
  bool buffer_size_changed() const noexcept { return size_changed_.load(std::memory_order_relaxed); }

 private:
  SampleRing<STEREO_FRAME16> frames_;
  SampleRing<RECORD_GAP> gaps_;
  // The audio thread's own (read by the main thread only in drain_last).
  uint64_t position_ = 0;        // frames pushed or dropped
  RECORD_GAP dropping_{0, 0};    // the stretch being dropped, not yet published
  std::atomic<unsigned> buffer_frames_{0};
  std::atomic<bool> size_changed_{false};
  // The main thread's own.
  uint64_t drained_ = 0;
};

// Starts recording to `wav_path` at the device's `rate`: creates
// `wav_path`.part and `wav_path`.edits.part, adds the stream tap and the
// live listener, and says where it records. Call it before the stream
// opens, so that the recording starts with its first buffer; `tune_file`
// (or null) is the player's tune, which the recording must not replace.
// Returns false, with the reason in `error` and nothing created, when the
// .part files are there already, a file of the final names is not a
// regular file or is the tune, or a file cannot be created.
bool record_start(const char* wav_path, unsigned rate, const char* tune_file, std::string* error);

// Writes what the ring holds and the waiting edits; brings the WAV header
// up to date after every half second of sound. Once every logic update.
// Does nothing when no recording was started.
void record_update();

// After the stream has closed: writes the rest and the end line, and puts
// both files in place. Returns true when both are whole and in place (or
// no recording was started), false after a message on standard error when
// either is not.
bool record_finish();
