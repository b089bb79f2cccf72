#include "keltoolkit/skreelplayer/skreel_live.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "framework/core/kel_shared.h"
#include "keltoolkit/skreelplayer/player.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

// The two rings. The sender writes a command into the slot at
// `commands_written`, then publishes it by advancing that count; the audio
// side reads every published command, applies it, writes its event into
// the slot at `events_written` and publishes that. A command's slot is
// written again only after its event was taken: the sender lets at most
// SKREEL_COMMANDS_IN_FLIGHT commands go unanswered (counting the events it
// took, `events_read`), so neither ring can overrun, and a slot the audio
// side reads is never one the sender writes.
constexpr std::size_t kSlots = SKREEL_COMMANDS_IN_FLIGHT;
constexpr std::size_t kUrlCapacity = 1024;

struct Command {
  uint32_t seq;
  SKREEL_COMMAND_KIND kind;
  float value;
  std::array<VAL32, 4> inputs;
  std::array<char, kUrlCapacity> url;
};

std::array<Command, kSlots> commands{};
std::atomic<uint32_t> commands_written{0};  // sender's
uint32_t commands_read = 0;                 // audio side's own cursor
std::array<SKREELEVENT, kSlots> events{};
std::atomic<uint32_t> events_written{0};  // audio side's
std::atomic<uint32_t> events_read{0};     // taker's
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// What the commands have set, on the audio side.
bool paused = false;
bool silenced = false;

std::atomic<SKREEL_VALUE_TAP> tap{nullptr};
static_assert(std::atomic<SKREEL_VALUE_TAP>::is_always_lock_free);

std::size_t slot(uint32_t count) { return count % kSlots; }

// The slot of a new command, or null when too many are unanswered.
Command* next_command(SKREEL_COMMAND_KIND kind) {
  const uint32_t written = commands_written.load(std::memory_order_relaxed);
  if (written - events_read.load(std::memory_order_relaxed) >= kSlots) return nullptr;
  Command& c = commands[slot(written)];
  c.seq = written + 1;
  c.kind = kind;
  c.value = 0.0f;
  c.inputs = {};
  c.url[0] = '\0';
  return &c;
}

uint32_t publish(const Command& c) {
  commands_written.store(c.seq, std::memory_order_release);
  return c.seq;
}

uint32_t send(SKREEL_COMMAND_KIND kind, float value) {
  Command* c = next_command(kind);
  if (!c) return 0;
  c->value = value;
  return publish(*c);
}

}  // namespace

namespace skreel_player {

std::atomic<bool> silent{false};

void apply_commands() noexcept {
  Player& p = player;
  const uint32_t written = commands_written.load(std::memory_order_acquire);
  for (; commands_read != written; ++commands_read) {
    const Command& c = commands[slot(commands_read)];
    SKREELEVENT event{c.seq, c.kind, kel_stream_frame(), 0, c.value, {}};
    switch (c.kind) {
      case SKREEL_TUNE:
        event.count = adopt(c.url.data());
        std::atomic_ref<float>(p.skreel.rate).store(c.value);
        silenced = false;
        break;
      case SKREEL_SILENCE:
        silenced = true;
        break;
      case SKREEL_VOLUME:
        std::atomic_ref<float>(p.skreel.volume).store(c.value);
        break;
      case SKREEL_PAUSE:
        paused = c.value != 0.0f;
        break;
      case SKREEL_RESTART:
        p.skreel.t = 0;
        p.phase = 0;
        p.skreel.stack = STACK{};
        p.skreel.memory = STACK{};
        break;
      case SKREEL_INPUTS:
        for (std::size_t i = 0; i < c.inputs.size(); ++i) p.skreel.inputs[i] = event.inputs[i] = c.inputs[i];
        break;
    }
    const uint32_t ew = events_written.load(std::memory_order_relaxed);
    events[slot(ew)] = event;
    events_written.store(ew + 1, std::memory_order_release);
  }
  p.running = !paused && !silenced;
}

void reset_commands() noexcept {
  commands_written.store(0);
  commands_read = 0;
  events_written.store(0);
  events_read.store(0);
  paused = silenced = false;
  silent.store(false);
}

VALUE_TAP value_tap() noexcept { return tap.load(std::memory_order_acquire); }

}  // namespace skreel_player

uint32_t skreel_send_tune(const char* url, float rate) {
  if (!url || !(rate >= 1.0f && rate <= 1e6f) || std::strlen(url) >= kUrlCapacity) return 0;
  Command* c = next_command(SKREEL_TUNE);
  if (!c) return 0;
  std::memcpy(c->url.data(), url, std::strlen(url) + 1);
  c->value = rate;
  const uint32_t seq = publish(*c);
  kel_set_skreel_callback(skreelplayer_callback);
  return seq;
}

uint32_t skreel_send_silence(void) { return send(SKREEL_SILENCE, 0.0f); }

uint32_t skreel_send_volume(float volume) { return send(SKREEL_VOLUME, volume); }

uint32_t skreel_send_pause(int paused_now) { return send(SKREEL_PAUSE, paused_now ? 1.0f : 0.0f); }

uint32_t skreel_send_restart(void) { return send(SKREEL_RESTART, 0.0f); }

uint32_t skreel_send_inputs(const VAL32 inputs[4]) {
  if (!inputs) return 0;
  Command* c = next_command(SKREEL_INPUTS);
  if (!c) return 0;
  for (std::size_t i = 0; i < c->inputs.size(); ++i) c->inputs[i] = inputs[i];
  return publish(*c);
}

uint32_t skreel_send(SKREEL_COMMAND_KIND kind, float value, const VAL32* inputs, const char* url) {
  switch (kind) {
    case SKREEL_TUNE:
      return skreel_send_tune(url, value);
    case SKREEL_SILENCE:
      return skreel_send_silence();
    case SKREEL_VOLUME:
      return skreel_send_volume(value);
    case SKREEL_PAUSE:
      return skreel_send_pause(value != 0.0f ? 1 : 0);
    case SKREEL_RESTART:
      return skreel_send_restart();
    case SKREEL_INPUTS:
      return skreel_send_inputs(inputs);
  }
  return 0;
}

int skreel_take_event(SKREELEVENT* event) {
  const uint32_t read = events_read.load(std::memory_order_relaxed);
  if (read == events_written.load(std::memory_order_acquire)) return 0;
  if (event) *event = events[slot(read)];
  events_read.store(read + 1, std::memory_order_release);
  return 1;
}

bool skreel_output_silent(void) { return skreel_player::silent.load(); }

void skreel_set_value_tap(SKREEL_VALUE_TAP value_tap) { tap.store(value_tap, std::memory_order_release); }
