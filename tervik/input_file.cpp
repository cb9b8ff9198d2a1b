#include "tervik/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tervik::io {

std::string input_file_problem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "not found";
    return std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO, not a regular file";
  if (S_ISCHR(st.st_mode)) return "it is a character device, not a regular file";
  if (S_ISBLK(st.st_mode)) return "it is a block device, not a regular file";
  if (S_ISSOCK(st.st_mode)) return "it is a socket, not a regular file";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "";
}

LineRead read_line(std::istream& in, std::string& line, std::size_t max_length) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  if (buf == nullptr) return LineRead::kEnd;
  bool any = false;
  for (;;) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      return any ? LineRead::kLine : LineRead::kEnd;
    }
    any = true;
    if (c == '\n') return LineRead::kLine;
    if (line.size() >= max_length) return LineRead::kTooLong;
    line.push_back(static_cast<char>(c));
  }
}

}  // namespace tervik::io
