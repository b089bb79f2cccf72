#include "framework/core/kel.h"
#include "hack/tonebrook/options.h"
#include "hack/tonebrook/player_window.h"
#include "hack/tonebrook/record.h"
#include "hack/tonebrook/tonebrook.h"

int main(int argc, char** argv) {
  if (const int status = tonebrook_early_exit(argc, argv); status >= 0) return status;
  player_window_choose_video(argc, argv);
  tonebrook_quit_on_signals();
  kel_init();
  kel_set_app_name("tonebrook");
  if (app_init(argc, argv) < 0) {
    kel_exit();
    return kExitFailed;
  }
  kel_run(0);
  kel_exit();
  // The stream has closed: the recording holds every buffer it played.
  return record_finish() ? kExitDone : kExitFailed;
}
