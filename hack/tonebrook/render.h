// Rendering a tune without a sound device: the engine's own callback, run
// buffer by buffer as the live player's audio stream runs it, as fast as
// the machine allows; and the 16-bit stereo WAV file that keeps the result.
//
// What is rendered is what is heard: render_tune starts from skreel_reset,
// hands the tune over before the first buffer (which adopts it), and calls
// skreelplayer_callback on zeroed buffers of the size the live player's
// stream uses at that rate (wrapper_default_buffer_frames), which is the
// silence SDL_mixer hands the player's hook when nothing else plays.
//
// Threads: main thread only, while no audio stream plays the engine (the
// engine's state is one per process).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "hack/tonebrook/out_file.h"

// Receives each rendered piece: `frames` interleaved stereo frames (left,
// right) of signed 16-bit samples. Returns false to stop the rendering.
using RENDER_SINK = std::function<bool(const int16_t* stereo, std::size_t frames)>;

// Called before each buffer with the stream frame it starts at, to send the
// player what changes there (skreel_live.h). Returns true when it sent
// something: the decoder's lines are then written to the log after that
// buffer.
using RENDER_BEFORE = std::function<bool(uint64_t frame)>;

// Renders `frames` frames at `rate` Hz in buffers of `buffer_frames` into
// `sink`, as the live player's stream plays them: from the state a freshly
// started player has (the engine's output filter cleared, skreel_reset, no
// callback installed), each buffer starts with `before`, the stream's frame
// count (kel_stream_frame) at its first frame, then runs the installed
// bytebeat callback, as the mixing hook does, and the player's answers are
// taken. Returns the number of frames handed to the sink: `frames`, or
// fewer when the sink stopped. Leaves the callback uninstalled.
uint64_t render_buffers(unsigned rate, unsigned buffer_frames, uint64_t frames, const RENDER_BEFORE& before,
                        const RENDER_SINK& sink);

// Renders `frames` frames of the tune in `url` (URL text, as tune_compile
// gives it; kept by the caller until the call returns), whose `t` runs at
// `tune_rate` steps a second, at `rate` Hz into `sink`, in pieces of at most
// one buffer. The tune is sent to the player as the live player sends it
// (skreel_send_tune) and taken up by the first buffer, in buffers of the
// size the live player's stream has at that rate (render_buffers). The
// engine's decoder lines are written to the log before the first piece is
// handed on.
uint64_t render_tune(const char* url, float tune_rate, unsigned rate, uint64_t frames, const RENDER_SINK& sink);

// What the tools render: the sound's rate and length, the top of its
// picture's spectrogram in Hz, and what makes it (hands `frames` frames to
// the sink, in order, and returns how many it handed: fewer when the sink
// stopped).
struct RENDER_JOB {
  unsigned rate = 0;
  uint64_t frames = 0;
  double top_hz = 0;
  std::function<uint64_t(const RENDER_SINK& sink)> render;
};

// Frames of a WAV file of 16-bit stereo that fit in its 32-bit sizes.
constexpr uint64_t kWavMaxFrames = (uint64_t{0xFFFFFFFF} - 36) / 4;

// The 44-byte header of a 16-bit stereo PCM WAV file of `frames` frames
// (at most kWavMaxFrames) at `rate` Hz, little-endian as the format wants.
std::array<unsigned char, 44> wav_header(unsigned rate, uint64_t frames);

// A 16-bit stereo PCM WAV file of a length known in advance, written to an
// OutputFile: beside its final path and put in place only when complete
// (an existing file is replaced only by a whole new one, and a writer
// destroyed before its commit leaves nothing behind), or straight into a
// device, a FIFO, a socket or standard output. The header carries the
// final sizes from the start, so the file is written front to back and
// never seeks: a pipe takes it as well as a file.
class WavWriter {
 public:
  // Starts the output for `path` ("-": standard output) at `rate` Hz, with
  // a header for `frames` frames (at most kWavMaxFrames). Returns false,
  // with the reason in error(), when the output cannot be opened or
  // written.
  bool open(const std::string& path, unsigned rate, uint64_t frames);
  // Appends frames. Returns false, with the reason in error(), when the
  // output cannot take them or they go past the frames announced.
  bool write(const int16_t* stereo, std::size_t frames);
  // Makes the output whole (OutputFile::commit) once every frame announced
  // is written. Returns false, with the reason in error(), when any of that
  // fails.
  bool commit();

  const std::string& error() const { return out_.error(); }
  uint64_t frames() const { return frames_; }

 private:
  bool fail(const char* what);

  OutputFile out_;
  uint64_t announced_ = 0;
  uint64_t frames_ = 0;
};

// Shows how far a rendering has come on `stream` (standard error) when it
// is a terminal, at most about ten times a second, on one line that the
// next report overwrites; finish() shows the last count and ends the line.
// Prints nothing when the stream is not a terminal.
class RenderProgress {
 public:
  RenderProgress(std::FILE* stream, uint64_t total_frames, unsigned rate);
  ~RenderProgress();
  RenderProgress(const RenderProgress&) = delete;
  RenderProgress& operator=(const RenderProgress&) = delete;

  void update(uint64_t frames_done);
  void finish(uint64_t frames_done);

 private:
  void show(uint64_t frames_done);

  std::FILE* stream_;
  uint64_t total_;
  unsigned rate_;
  bool terminal_;
  bool shown_ = false;
  int64_t last_ms_ = -1;
};
