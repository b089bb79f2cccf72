// Where the framework's folders are, and making them: the data folder "./"
// (read-only assets, the working directory) and, under the user's home
// folder, the application's save folder with a temp and a doc folder inside:
//
//   save  $HOME/.larkspire/APP/        (APP is kel_app_name(); when the name
//   temp  $HOME/.larkspire/APP/temp/    is empty, save is $HOME/.larkspire/
//   doc   $HOME/.larkspire/APP/doc/     itself and temp and doc sit in it)
//
// The folders are made once, on the first path request; HOME and the
// application name are read at that moment, so name the application first.
// Paths have fixed buffers: 256 bytes for "APP/", 512 for each folder path.
// When HOME is not set, or a folder path would not fit, the request is
// refused with one log line and the save, temp and doc functions return
// null (and are tried again, and refused again, at the next request).
//
// Threads: main thread only; never from the mixing hook. The one-time
// folder making is not guarded.
#pragma once

#include <dirent.h>

// Makes the folders if not yet done; returns "./" (whether or not the
// per-user folders could be made). The text is static.
const char* wrapper_file_data_path();
// Make the folders if not yet done; return the folder's path, ending in
// "/", or null when it cannot be formed (see above). The text lives for the
// rest of the run.
const char* wrapper_file_save_path();
const char* wrapper_file_temp_path();
const char* wrapper_file_doc_path();

// The walk's callback: the folder as given, one entry's name (valid during
// the call only), and the walk's `data`. Greater than 0 goes on; 0 or less
// stops the walk.
using WRAPPER_DIR_WALK_CALLBACK = int (*)(const char* path, const char* name, void* data);

// Calls `callback` for every entry of the folder `path`, "." and ".."
// included, in ascending alphasort order, until it returns 0 or less.
// Returns the last callback result (1 for a folder without entries), or -1
// without any call when the folder cannot be listed (or `path` or
// `callback` is null).
int wrapper_file_dir_walk(const char* path, void* data, WRAPPER_DIR_WALK_CALLBACK callback);

// Makes one folder with permission bits 0777 (less the process's mask).
// 0, or -1 when it cannot be made (one that exists already included).
int wrapper_mkdir(const char* path);

// The negated alphasort: sorts names in descending order (for scandir).
int fwdalphasort(const struct dirent** a, const struct dirent** b);
