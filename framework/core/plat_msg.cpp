#include "framework/core/plat_msg.h"

#include <cstring>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"

namespace {

PLAT_MSG_LIST list_poster;
PLAT_MSG_LIST list_replier;
unsigned _refid = 0;
PLAT_MSG_CALLBACK _poster = nullptr;
PLAT_MSG_CALLBACK _replier = nullptr;
int _init = 0;

void clear_list(PLAT_MSG_LIST& list) { std::memset(&list, 0, sizeof list); }

PLAT_MSG* alloc_from(PLAT_MSG_LIST& list, const char* name) {
  if (!_init) plat_msg_init();
  for (int n = 0; n < PLAT_MSG_LIST_SIZE; ++n) {
    const int slot = (list.i + n) % PLAT_MSG_LIST_SIZE;
    PLAT_MSG& msg = list.msg[slot];
    if (msg.active) continue;
    std::memset(&msg, 0, sizeof msg);
    msg.active = 1;
    msg.refid = ++_refid;
    list.i = slot;
    return &msg;
  }
  kel_log("%s NULL\n", name);
  return nullptr;
}

// Calls `target`, logs a refusal, frees the message; returns the result.
int deliver(PLAT_MSG_CALLBACK target, PLAT_MSG* msg) {
  msg->timestamp = kel_ticks.load();
  const int result = target(msg);
  if (result < 0) kel_log("ABORT CODE %d\n", result);
  plat_msg_free(msg);
  return result;
}

}  // namespace

void plat_msg_init() {
  kel_log_trace(__LINE__, "plat_msg_init");
  clear_list(list_poster);
  clear_list(list_replier);
  _init = 1;
}

void plat_msg_exit() { kel_log_trace(__LINE__, "plat_msg_exit"); }

void plat_msg_set_poster(PLAT_MSG_CALLBACK callback) {
  kel_log_trace(__LINE__, "plat_msg_set_poster");
  _poster = callback;
}

void plat_msg_set_replier(PLAT_MSG_CALLBACK callback) {
  kel_log_trace(__LINE__, "plat_msg_set_replier");
  _replier = callback;
}

PLAT_MSG* plat_msg_alloc_poster() { return alloc_from(list_poster, "plat_msg_alloc_poster"); }
PLAT_MSG* plat_msg_alloc_replier() { return alloc_from(list_replier, "plat_msg_alloc_replier"); }

void plat_msg_free(PLAT_MSG* msg) {
  if (msg == nullptr) {
    kel_log("%s NULL message: nothing to free\n", "plat_msg_free");
    return;
  }
  kel_log("%s (refid %u timestamp %u)\n", "plat_msg_free", msg->refid, msg->timestamp);
  msg->active = 0;
}

int plat_msg_poster_send(PLAT_MSG* msg) {
  static constexpr const char* kName = "plat_msg_poster_send";
  kel_log_trace(__LINE__, kName);
  if (msg == nullptr) {
    kel_log("%s NULL message: nothing sent\n", kName);
    return -1;
  }
  if (_poster == nullptr) {
    kel_log("%s no poster\n", kName);
    plat_msg_free(msg);
    return 0;
  }
  if (_replier == nullptr) {
    kel_log("%s no replier\n", kName);
    plat_msg_free(msg);
    return 0;
  }
  msg->poster = _poster;
  return deliver(_replier, msg);
}

int plat_msg_replier_send(PLAT_MSG* msg) {
  static constexpr const char* kName = "plat_msg_replier_send";
  kel_log_trace(__LINE__, kName);
  if (msg == nullptr) {
    kel_log("%s NULL message: nothing sent\n", kName);
    return -1;
  }
  const PLAT_MSG_CALLBACK target = msg->poster ? msg->poster : _poster;
  if (target == nullptr) {
    plat_msg_free(msg);
    kel_log("%s no poster\n", kName);
    return 0;
  }
  if (_replier == nullptr) {
    plat_msg_free(msg);
    kel_log("%s no replier\n", kName);
    return 0;
  }
  return deliver(target, msg);
}
