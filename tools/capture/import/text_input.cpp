// Reading the importers' input files: regular files only, with bounded memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {

void require_regular_file(const std::string& file) {
  const std::string problem = io::input_file_problem(file);
  if (problem == "not found") throw TervikFileNotFound(file);
  if (!problem.empty()) throw TervikFileError(file, "cannot be read: " + problem);
}

std::string read_text(const std::string& file, std::size_t max_bytes) {
  require_regular_file(file);
  // O_NONBLOCK: should the name have become a FIFO since the check, opening does not wait for
  // a writer, and fstat below refuses it.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw TervikFileError(file, std::string("cannot be read: ") + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw TervikFileError(file, "cannot be read: it is not a regular file");
  }
  if (static_cast<unsigned long long>(st.st_size) > max_bytes) {
    ::close(fd);
    throw TervikFileError(file, "is " + std::to_string(st.st_size) + " bytes, more than the " +
                                    std::to_string(max_bytes) +
                                    " bytes that a calibration file of this format may hold");
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw TervikFileError(file, std::string("reading failed: ") + std::strerror(err));
    }
    if (n == 0) break;  // the file shrank meanwhile
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  return text;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> read_lines(const std::string& file) {
  return split_lines(read_text(file));
}

void for_each_line(const std::string& file,
                   const std::function<void(std::size_t, const std::string&)>& visit) {
  require_regular_file(file);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw TervikFileNotFound(file);
  std::string line;
  for (std::size_t index = 0; std::getline(in, line); ++index) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    visit(index, line);
  }
  if (in.bad()) throw TervikFileError(file, "reading failed");
}

namespace {

// What identifies a file: its resolved path, and its device and inode when it exists.
struct FileIdentity {
  std::string resolved;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

FileIdentity identity(const std::string& name) {
  FileIdentity id;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(name, ec);
  id.resolved = ec ? name : resolved.string();
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

bool same(const FileIdentity& a, const FileIdentity& b) {
  return a.resolved == b.resolved ||
         (a.exists && b.exists && a.device == b.device && a.inode == b.inode);
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  return same(identity(a), identity(b));
}

void check_outputs(const std::vector<std::string>& inputs,
                   const std::vector<std::string>& outputs) {
  std::vector<FileIdentity> in, out;
  for (const std::string& name : inputs) in.push_back(identity(name));
  for (const std::string& name : outputs) out.push_back(identity(name));
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < inputs.size(); ++j)
      if (same(out[i], in[j]))
        throw TervikError("the output " + outputs[i] + " would replace the input " + inputs[j] +
                          ": choose another output template");
  }
  // Two outputs that are one file, by either identity.
  std::map<std::string, std::size_t> by_path;
  std::map<std::pair<dev_t, ino_t>, std::size_t> by_inode;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    std::size_t earlier = by_path.emplace(out[i].resolved, i).first->second;
    if (earlier == i && out[i].exists)
      earlier = by_inode.emplace(std::pair{out[i].device, out[i].inode}, i).first->second;
    if (earlier != i)
      throw TervikError("the outputs " + outputs[earlier] + " and " + outputs[i] +
                        " are the same file: choose another output template");
  }
}

}  // namespace tervik::calibration
