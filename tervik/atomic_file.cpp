#include "tervik/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tervik::io {

namespace {

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

AtomicFile::~AtomicFile() { _discard(); }

bool AtomicFile::open(const std::string& path) {
  _discard();
  error_.clear();
  const std::filesystem::path target(path);
  const std::string base = target.filename().string();
  if (base.empty() || base == "." || base == "..") {
    error_ = errno_text(EISDIR);
    return false;
  }
  // The process id and a counter make the name unique among writers; O_EXCL makes sure an
  // existing file is never reused. Mode 0666 lets the umask decide, as for any new file.
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + base + "." + std::to_string(::getpid()) + "." +
                             std::to_string(counter++) + ".tmp";
    const std::string temp = (target.parent_path() / name).string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error_ = errno_text(errno);
      return false;
    }
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
      error_ = errno_text(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    path_ = path;
    temp_path_ = temp;
    return true;
  }
  error_ = errno_text(EEXIST);
  return false;
}

bool AtomicFile::commit() {
  if (file_ == nullptr) {
    error_ = "no open file";
    return false;
  }
  int err = 0;
  if (std::ferror(file_)) err = errno != 0 ? errno : EIO;
  if (err == 0 && std::fflush(file_) != 0) err = errno;
  if (err == 0 && ::fsync(::fileno(file_)) != 0) err = errno;
  // fclose releases the stream whatever it returns.
  const int close_result = std::fclose(file_);
  file_ = nullptr;
  if (err == 0 && close_result != 0) err = errno;
  if (err == 0 && std::rename(temp_path_.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    error_ = errno_text(err);
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    return false;
  }
  temp_path_.clear();
  return true;
}

void AtomicFile::_discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

}  // namespace tervik::io
