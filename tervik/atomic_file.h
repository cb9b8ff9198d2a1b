#pragma once
// Text output that never leaves a half-written file under its final name: the data goes to a
// temporary file in the destination folder, which is flushed to disk and then renamed over
// the destination in one step. Until commit() succeeds the destination is untouched.
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

  // Creates the temporary file next to `path` (same folder, name starting with "." + the file
  // name). Returns false, with error() set and nothing created, when that is not possible.
  bool open(const std::string& path);
  // The stream to write to; valid between a successful open() and commit().
  std::FILE* stream() const { return file_; }
  // Flushes, syncs and closes the temporary file and renames it to the destination. Returns
  // false, with error() set and the temporary file removed, if any step (or an earlier write
  // recorded in the stream's error flag) failed; the destination is then unchanged.
  bool commit();
  // Text of the last failure (the system's description of errno).
  const std::string& error() const { return error_; }

 private:
  void _discard();

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string temp_path_;
  std::string error_;
};

}  // namespace tervik::io
