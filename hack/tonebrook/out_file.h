// A file that takes the place of another only once it is whole.
//
// Threads: any; each object is used by one thread.
#pragma once

#include <cstdio>
#include <string>

// Writes into a new file beside `path` and renames it to `path` on commit,
// so that an existing file is replaced only by a complete new one, and
// never by half of one. An object destroyed without a commit (a failure,
// an interruption) removes what it wrote. The new file gets the mode a file
// created the usual way gets (0666 less the umask).
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the new file for `path`. Returns false, with the reason in
  // error(), when the folder cannot take it.
  bool open(const std::string& path);
  // The stream to write to: null before open and after commit or failure.
  std::FILE* get() const { return file_; }
  // Closes the stream and renames the new file to the final path. Returns
  // false, with the reason in error(), when the data could not be written
  // or the rename fails; the new file is then removed.
  bool commit();
  // Gives up: closes and removes the new file, with `why` as the error.
  void fail(const std::string& why);

  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  void discard();

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string temp_path_;
  std::string error_;
};
