#include "tervik/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace tervik::io {

namespace {

namespace fs = std::filesystem;

std::string errno_text(int err) { return std::strerror(err); }

// Temporary files that exist right now, for the SIGINT/SIGTERM handler. The handler may only
// call async-signal-safe functions, so the table is a fixed array of plain buffers, each
// published by an atomic flag once its name is written.
constexpr int kSlots = 64;
struct TempSlot {
  std::atomic<bool> used{false};
  char path[4096];
};
TempSlot temp_slots[kSlots];

extern "C" void remove_temp_files_and_reraise(int sig) {
  for (TempSlot& slot : temp_slots)
    if (slot.used.load(std::memory_order_acquire)) ::unlink(slot.path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Installs the handler for SIGINT and SIGTERM, unless the program handles them itself.
void install_signal_cleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM}) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction act {};
      act.sa_handler = &remove_temp_files_and_reraise;
      sigemptyset(&act.sa_mask);
      ::sigaction(sig, &act, nullptr);
    }
  });
}

int register_temp(const std::string& path) {
  static std::mutex mutex;  // registration only; the signal handler reads the flags alone
  const std::lock_guard<std::mutex> lock(mutex);
  if (path.size() >= sizeof temp_slots[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (temp_slots[i].used.load(std::memory_order_acquire)) continue;
    std::memcpy(temp_slots[i].path, path.c_str(), path.size() + 1);
    temp_slots[i].used.store(true, std::memory_order_release);
    return i;
  }
  return -1;  // more than kSlots files at once: this one is not cleaned up on a signal
}

void release_temp(int slot) {
  if (slot >= 0) temp_slots[slot].used.store(false, std::memory_order_release);
}

// Follows symbolic links from `path` to the name that is finally written: the first name in
// the chain that is not a link (it may not exist yet). False, with errno set, on a loop.
bool resolve_links(const std::string& path, std::string& out) {
  fs::path p(path);
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      out = p.string();
      return true;
    }
    std::error_code ec;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) {
      errno = ec.value();
      return false;
    }
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  errno = ELOOP;
  return false;
}

// The reason why a file cannot be created in the folder of `path`, from errno `err`.
std::string create_error(const fs::path& path, int err) {
  if (err == ENOENT) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return "the folder '" + dir.string() + "' does not exist";
  }
  return errno_text(err);
}

}  // namespace

AtomicFile::~AtomicFile() { _discard(); }

bool AtomicFile::open(const std::string& path) {
  _discard();
  error_.clear();
  std::string final_path;
  if (!resolve_links(path, final_path)) {
    error_ = errno_text(errno);
    return false;
  }
  const fs::path target(final_path);
  const std::string base = target.filename().string();
  struct stat st {};
  const bool exists = ::stat(final_path.c_str(), &st) == 0;
  if (base.empty() || base == "." || base == ".." || (exists && S_ISDIR(st.st_mode))) {
    error_ = "it is a folder";
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A device, FIFO or socket: written in place, as fopen("w") writes it.
    file_ = std::fopen(final_path.c_str(), "w");
    if (file_ == nullptr) {
      error_ = errno_text(errno);
      return false;
    }
    path_ = final_path;
    return true;
  }
  // A regular file is replaced only if the user may write it, as fopen("w") would allow.
  if (exists && ::access(final_path.c_str(), W_OK) != 0) {
    error_ = errno_text(errno);
    return false;
  }
  install_signal_cleanup();
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
      error_ = create_error(target, errno);
      return false;
    }
    slot_ = register_temp(temp);
    temp_path_ = temp;
    if (exists) {
      // The replacement keeps the replaced file's permission bits and, where allowed, owner.
      ::fchmod(fd, st.st_mode & 07777);
      if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) == 0)
        ::fchmod(fd, st.st_mode & 07777);  // chown clears set-user-id bits
    }
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
      error_ = errno_text(errno);
      ::close(fd);
      _discard();
      return false;
    }
    path_ = final_path;
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
  const bool direct = temp_path_.empty();
  int err = 0;
  if (std::ferror(file_)) err = errno != 0 ? errno : EIO;
  if (err == 0 && std::fflush(file_) != 0) err = errno;
  if (err == 0 && !direct && ::fsync(::fileno(file_)) != 0) err = errno;
  // fclose releases the stream whatever it returns.
  const int close_result = std::fclose(file_);
  file_ = nullptr;
  if (err == 0 && close_result != 0) err = errno;
  if (err == 0 && !direct && std::rename(temp_path_.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    error_ = errno_text(err);
    _discard();
    return false;
  }
  release_temp(slot_);
  slot_ = -1;
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
  release_temp(slot_);
  slot_ = -1;
}

}  // namespace tervik::io
