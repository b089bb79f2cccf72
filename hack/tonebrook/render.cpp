#include "hack/tonebrook/render.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "framework/platforms/sdl/wrapper_music.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_live.h"

namespace {

// ---------------------------------------------------------------------------
// WAV header

void put16(std::array<unsigned char, 44>& h, std::size_t at, uint32_t v) {
  h[at] = static_cast<unsigned char>(v & 0xFF);
  h[at + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

void put32(std::array<unsigned char, 44>& h, std::size_t at, uint32_t v) {
  put16(h, at, v & 0xFFFF);
  put16(h, at + 2, v >> 16);
}

}  // namespace

std::array<unsigned char, 44> wav_header(unsigned rate, uint64_t frames) {
  constexpr uint32_t kChannels = 2, kBits = 16, kBlock = kChannels * kBits / 8;
  const auto data = static_cast<uint32_t>(frames * kBlock);
  std::array<unsigned char, 44> h{};
  std::memcpy(h.data(), "RIFF", 4);
  put32(h, 4, 36 + data);
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  put32(h, 16, 16);
  put16(h, 20, 1);  // integer PCM
  put16(h, 22, kChannels);
  put32(h, 24, rate);
  put32(h, 28, rate * kBlock);
  put16(h, 32, kBlock);
  put16(h, 34, kBits);
  std::memcpy(h.data() + 36, "data", 4);
  put32(h, 40, data);
  return h;
}

namespace {

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

uint64_t render_buffers(unsigned rate, unsigned buffer_frames, uint64_t frames, const RENDER_BEFORE& before,
                        const RENDER_SINK& sink) {
  const unsigned per_buffer = std::max(1u, buffer_frames);
  std::vector<int16_t> buffer(static_cast<std::size_t>(per_buffer) * 2);
  // As the live player starts: the filter at rest, a reset, and no callback
  // until the first tune is sent.
  skreel_reset_filter();
  skreel_reset();
  kel_set_skreel_callback(nullptr);
  uint64_t done = 0;
  while (done < frames) {
    const bool sent = before(done);
    std::fill(buffer.begin(), buffer.end(), int16_t{0});
    kel_set_stream_frame(done);
    if (KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load())
      callback(buffer.data(), static_cast<int>(per_buffer), static_cast<int>(rate));
    for (SKREELEVENT event; skreel_take_event(&event);) {
    }
    if (sent) kel_log_flush_deferred();
    const auto piece = static_cast<std::size_t>(std::min<uint64_t>(per_buffer, frames - done));
    if (!sink(buffer.data(), piece)) break;
    done += piece;
  }
  kel_set_skreel_callback(nullptr);
  kel_log_flush_deferred();
  return done;
}

uint64_t render_tune(const char* url, float tune_rate, unsigned rate, uint64_t frames, const RENDER_SINK& sink) {
  const auto send_tune = [&](uint64_t frame) { return frame == 0 && skreel_send_tune(url, tune_rate) != 0; };
  return render_buffers(rate, wrapper_default_buffer_frames(rate), frames, send_tune, sink);
}

// ---------------------------------------------------------------------------
// WavWriter

bool WavWriter::fail(const char* what) {
  out_.fail(std::string(what) + ": " + std::strerror(errno));
  return false;
}

bool WavWriter::open(const std::string& path, unsigned rate, uint64_t frames) {
  announced_ = frames;
  frames_ = 0;
  if (!out_.open(path)) return false;
  if (frames > kWavMaxFrames) {
    out_.fail("too long for a WAV file");
    return false;
  }
  const auto header = wav_header(rate, frames);
  if (std::fwrite(header.data(), 1, header.size(), out_.get()) != header.size()) return fail("cannot write");
  return true;
}

bool WavWriter::write(const int16_t* stereo, std::size_t frames) {
  std::FILE* f = out_.get();
  if (!f) return false;
  if (frames > announced_ - frames_) {
    out_.fail("more frames than the header announces");
    return false;
  }
  const std::size_t samples = frames * 2;
  if constexpr (std::endian::native == std::endian::little) {
    if (std::fwrite(stereo, sizeof(int16_t), samples, f) != samples) return fail("cannot write");
  } else {
    std::array<unsigned char, 4096> bytes;
    for (std::size_t at = 0; at < samples;) {
      const std::size_t n = std::min(samples - at, bytes.size() / 2);
      for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<uint16_t>(stereo[at + i]);
        bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
      }
      if (std::fwrite(bytes.data(), 1, 2 * n, f) != 2 * n) return fail("cannot write");
      at += n;
    }
  }
  frames_ += frames;
  return true;
}

bool WavWriter::commit() {
  if (!out_.get()) return false;
  if (frames_ != announced_) {
    out_.fail("fewer frames than the header announces");
    return false;
  }
  return out_.commit();
}

// ---------------------------------------------------------------------------
// RenderProgress

RenderProgress::RenderProgress(std::FILE* stream, uint64_t total_frames, unsigned rate)
    : stream_(stream), total_(total_frames), rate_(rate ? rate : 1), terminal_(stream && isatty(fileno(stream))) {}

RenderProgress::~RenderProgress() {
  if (shown_) std::fputc('\n', stream_);
}

void RenderProgress::show(uint64_t frames_done) {
  const double done = static_cast<double>(frames_done) / rate_;
  const double total = static_cast<double>(total_) / rate_;
  const int percent = total_ ? static_cast<int>(frames_done * 100 / total_) : 100;
  std::fprintf(stream_, "\rtonebrook: rendered %.1f s of %.1f s (%d%%)\033[K", done, total, percent);
  std::fflush(stream_);
  shown_ = true;
}

void RenderProgress::update(uint64_t frames_done) {
  if (!terminal_) return;
  const int64_t now = now_ms();
  if (last_ms_ >= 0 && now - last_ms_ < 100) return;
  last_ms_ = now;
  show(frames_done);
}

void RenderProgress::finish(uint64_t frames_done) {
  if (!terminal_) return;
  show(frames_done);
  std::fputc('\n', stream_);
  shown_ = false;
}
