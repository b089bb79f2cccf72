// Platform messages: the channel between application code (the poster) and
// platform services that answer later or elsewhere (the replier). Each side
// allocates from its own list of 16 slots, fills a message in and sends it;
// the send hands the message to the other side's callback, time-stamps it
// with kel_ticks, logs the result and frees the slot.
//
// Threads: main thread only; never from the mixing hook. The lists and the
// counters take no lock.
//
// A message belongs to this module again once it has been sent: both sends
// free it before they return, whatever happened, so the sender must not use
// it afterwards. A null message given to plat_msg_free or a send is refused
// with a log line (nothing is freed or called).
#pragma once

#include <cstdint>

enum {
  PLAT_MSG_TYPE_FREE = 0,
  PLAT_MSG_TYPE_STATUS = 1,
  PLAT_MSG_TYPE_ERROR = 2,
  PLAT_MSG_TYPE_SCORE = 3,
};

// Callback results and the `code` field. A negative callback result means
// the message was refused.
enum {
  PLAT_MSG_CODE_ABORT = -1000,
  PLAT_MSG_CODE_OK = 0,
  PLAT_MSG_CODE_CANCEL = 1,
  PLAT_MSG_CODE_HOLD_ON = 2,
  PLAT_MSG_CODE_STATUS = 3,
};

constexpr int PLAT_MSG_LIST_SIZE = 16;

struct PLAT_MSG_SCORE {
  char category[80];
  char playerid[80];
  char playerdesc[80];
  int64_t value;
  int rank;
  union {
    char bytes[8];
    int64_t value;
  } context;
};

struct PLAT_MSG_ERROR_REPORT {
  char text[240];
  int code;
};

struct PLAT_MSG;
// A side's callback: takes the message, returns a PLAT_MSG_CODE_ value or
// another code of the two parties (negative: refused). The message is only
// lent for the call.
using PLAT_MSG_CALLBACK = int (*)(PLAT_MSG* msg);

struct PLAT_MSG {
  // The kind of message, a PLAT_MSG_TYPE_ value. (Named with a trailing
  // underscore: `typeid` is a C++ keyword.)
  uint32_t typeid_;
  // Reference number given at allocation: one more than the last one given
  // from either list, so the first message ever gets 1.
  uint32_t refid;
  // kel_ticks when the message was sent.
  uint32_t timestamp;
  int code;
  // 1 while the slot is allocated, 0 when free.
  char active;
  union {
    PLAT_MSG_SCORE score;
    PLAT_MSG_ERROR_REPORT error;
    PLAT_MSG_ERROR_REPORT status;
  } info;
  // For the sender's own use; never read by this module.
  struct {
    int arg;
    int hint;
    void* data;
  } user;
  // Where replies to this message go; set by plat_msg_poster_send.
  PLAT_MSG_CALLBACK poster;
};

struct PLAT_MSG_LIST {
  int i;  // the slot handed out last
  PLAT_MSG msg[PLAT_MSG_LIST_SIZE];
};

// Clears both lists whole and marks the module ready; the reference number
// counter keeps its value. Allocation does this itself the first time.
void plat_msg_init();
// Releases nothing (there is nothing to release); logs its trace line.
void plat_msg_exit();

// Installs the poster side's callback, which receives the replies (null
// removes it).
void plat_msg_set_poster(PLAT_MSG_CALLBACK callback);
// Installs the replier side's callback, which answers posted messages (null
// removes it). The SDL platform installs replier_for_plat_msg at start-up.
void plat_msg_set_replier(PLAT_MSG_CALLBACK callback);

// A cleared message from the poster's list (or the replier's), marked
// active and numbered; the slot stays the caller's until it is sent or
// freed. Null, with the line "plat_msg_alloc_poster NULL" (or
// "plat_msg_alloc_replier NULL"), when all 16 slots of that list are in use.
// The search starts at the slot handed out last.
PLAT_MSG* plat_msg_alloc_poster();
PLAT_MSG* plat_msg_alloc_replier();

// Logs "plat_msg_free (refid R timestamp T)" and marks the slot free.
void plat_msg_free(PLAT_MSG* msg);

// Application to platform: stamps the message with the poster callback and
// kel_ticks and hands it to the replier. Returns the replier's result
// (logged as "ABORT CODE n" when negative), or 0 when no poster or no
// replier is installed (logged as "... no poster" / "... no replier"), or
// -1 for a null message. The message is freed in every case.
int plat_msg_poster_send(PLAT_MSG* msg);
// Platform back to application: hands the message to msg->poster, or to the
// installed poster when that is null. Results and logging as for
// plat_msg_poster_send.
int plat_msg_replier_send(PLAT_MSG* msg);
