// Where a tool's output goes, chosen by what is at its path.
//
//   - A regular file, or a name where nothing is yet: the output is written
//     into a new file beside it and renamed to the path on commit, so that
//     an existing file is replaced only by a whole new one, never by half
//     of one. A symbolic link at the path is replaced, not followed.
//   - A device, a FIFO or a socket (or a symbolic link to one): the output
//     is written straight into it. The thing itself is never replaced.
//   - "-": standard output, written straight through.
//   - A folder: refused.
//
// Threads: any; each object is used by one thread.
#pragma once

#include <cstdio>
#include <string>

// How an output is written.
enum class OUTPUT_KIND {
  kReplace,   // a new file beside the path, renamed to it on commit
  kThrough,   // the device, FIFO or socket at the path, written directly
  kStandard,  // standard output ("-")
  kRefused,   // a folder: no output can go there
};

// What `path` is, looked at without writing anything. kRefused comes with
// the reason in `error` (may be null).
OUTPUT_KIND output_kind(const std::string& path, std::string* error);

// The name by which messages call the output at `path`: "standard output"
// for "-", the path (escaped for the terminal) in quotes otherwise.
std::string output_name(const std::string& path);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output for `path`: creates the new file beside it, or opens
  // what is there (a FIFO waits here for its reader; a system call that a
  // signal interrupts fails). Returns false, with the reason in error(),
  // when it cannot.
  bool open(const std::string& path);
  // The stream to write to: null before open and after commit or failure.
  std::FILE* get() const { return file_; }
  // Makes the output whole: flushes and closes the stream, and renames a
  // new file to the final path. Returns false, with the reason in error(),
  // when the data could not be written or the rename fails; a new file is
  // then removed. Standard output is flushed and checked, not closed.
  bool commit();
  // Gives up with `why` as the error: closes the stream and removes a new
  // file. What went straight through stays where it went.
  void fail(const std::string& why);

  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  OUTPUT_KIND kind() const { return kind_; }

 private:
  bool open_new_file();
  bool open_through();
  void discard();

  std::FILE* file_ = nullptr;
  OUTPUT_KIND kind_ = OUTPUT_KIND::kRefused;
  std::string path_;
  std::string temp_path_;
  std::string error_;
};
