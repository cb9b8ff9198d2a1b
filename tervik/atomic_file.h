#pragma once
// Text output that never leaves a half-written file under its final name: the data goes to a
// temporary file in the destination folder, which is flushed to disk and then renamed over
// the destination in one step. Until commit() succeeds the destination is untouched.
//
// What is at the destination decides how it is written:
// - a new name or a regular file: through the temporary file; a replaced file keeps its
//   permission bits (and, for root, its owner), and a file the user may not write is refused
//   as fopen would refuse it;
// - a symbolic link: the link is followed and its final target is written as above, so the
//   link stays a link;
// - anything else that exists and is not a folder (a device such as /dev/null, a FIFO): it is
//   opened and written directly, as fopen("w") would; nothing is renamed over it;
// - a folder: refused.
// A temporary file is removed when the process ends on SIGINT or SIGTERM.
#include <cstdio>
#include <string>

namespace tervik::io {

// One output file written through a temporary sibling. Not copyable; the temporary file is
// removed by the destructor unless commit() renamed it into place.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Prepares writing to `path` as described above: creates the temporary file next to the
  // destination (same folder, name starting with "." + the file name) or opens a non-regular
  // destination directly. Returns false, with error() set and nothing created, when that is not
  // possible.
  bool open(const std::string& path);
  // The stream to write to; valid between a successful open() and commit().
  std::FILE* stream() const { return file_; }
  // Flushes, syncs and closes the temporary file and renames it to the destination (or flushes
  // and closes a directly written one). Returns false, with error() set and the temporary file
  // removed, if any step (or an earlier write recorded in the stream's error flag) failed; the
  // destination is then unchanged.
  bool commit();
  // Why the last open() or commit() failed, e.g. "the folder 'out' does not exist",
  // "Permission denied" or "it is a folder".
  const std::string& error() const { return error_; }

 private:
  void _discard();

  std::FILE* file_ = nullptr;
  std::string path_;       // the file that is finally written (a link's target)
  std::string temp_path_;  // empty when writing directly
  int slot_ = -1;          // entry in the table of temporary files removed on a signal
  std::string error_;
};

}  // namespace tervik::io
