// watch: when the live player looks at its tune file.
//
// Without --instant the player looks every WATCH_EVERY-th logic update
// (about 0.27 s at 60 updates a second). With it, the kernel (inotify)
// tells of every change to the file's entry in its folder, so that the
// player looks at the next logic update after a save: the folder is
// watched rather than the file, so that editors that save through a new
// file and a rename are seen, and so is a file that appears later. A save
// is taken once the file is whole: when the writer closes it (IN_CLOSE_WRITE),
// when a whole file is renamed to its name (IN_MOVED_TO), or when only its
// times or mode change (IN_ATTRIB, a touch); a write without a close
// (IN_MODIFY, or IN_CREATE of a file still being written) is a save in
// progress, and so is the file's leaving the folder (IN_DELETE,
// IN_MOVED_FROM: an editor that moves the old file aside and writes a new
// one). The look every WATCH_EVERY-th update stays beside the kernel's word
// as a safety net (a symbolic link to a file in a folder not watched, a
// writer that never closes), held back while a save is in progress, for at
// most WATCH_WRITE_GRACE updates after its last write. Where the kernel
// cannot watch (another file system, too many watches, no folder yet) the
// player says so once and looks every WATCH_EVERY-th update only, asking the
// kernel again at each of those looks.
//
// The kernel's word is read without blocking, once per logic update.
//
// Threads: main thread only (the logic updates).
#pragma once

#include <cstdint>

// Logic updates between two looks of the periodic watch.
inline constexpr uint32_t WATCH_EVERY = 16;
// The longest a save in progress holds back the periodic look, in logic
// updates after its last write (2 s at 60 updates a second).
inline constexpr uint32_t WATCH_WRITE_GRACE = 120;

// Starts watching the file at `path` (not copied: it must outlive the
// watch; null watches nothing). With `instant` the kernel is asked to tell
// of changes, as above, and the first look falls due at once; when it
// cannot, one line says so and why. Stops an earlier watch first.
void watch_start(const char* path, bool instant);

// Whether the player should look at the file in the logic update numbered
// `tick` (kel_ticks): every WATCH_EVERY-th update, and with the kernel's
// word at the first update after a save. Reads what the kernel has said,
// without blocking. Call it once per logic update.
bool watch_due(uint32_t tick);

// True while the kernel watches the file's folder for the player.
bool watch_instant();

// Stops watching and closes the kernel's watch; the periodic look stays.
void watch_stop();
