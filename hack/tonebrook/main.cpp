#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "hack/tonebrook/options.h"
#include "hack/tonebrook/player_window.h"
#include "hack/tonebrook/process.h"
#include "hack/tonebrook/record.h"
#include "hack/tonebrook/tonebrook.h"

namespace {

// At exit, the log's last lines go out while the output takes them; an
// output that takes nothing for this long is not waited for.
constexpr double kLogStallSeconds = 0.25;
constexpr double kLogMostSeconds = 2.0;

}  // namespace

int main(int argc, char** argv) {
  tonebrook_open_standard_descriptors();
  if (const int status = tonebrook_early_exit(argc, argv); status >= 0) return tonebrook_close_standard_output(status);
  player_window_choose_video(argc, argv);
  tonebrook_catch_signals(SIGNAL_USE::kPlayer);
  // The loop never waits for its output: a pipe nobody reads or a stopped
  // terminal holds lines back, never the watch, the hand-over or the quit.
  kel_log_start_writer();
  kel_init();
  kel_set_app_name("tonebrook");
  int status = kExitFailed;
  if (app_init(argc, argv) >= 0) {
    kel_run(0);
    kel_exit();
    // The stream has closed: the recording holds every buffer it played.
    status = record_finish() ? kExitDone : kExitFailed;
  }
  kel_exit();
  kel_log_stop_writer(kLogStallSeconds, kLogMostSeconds);
  return status;
}
