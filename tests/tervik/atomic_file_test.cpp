// What an output name may point at: new names, regular files, links, FIFOs, folders; and the
// temporary file of a run that is interrupted.
#include "tervik/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "test_util.h"

namespace tervik::io {
namespace {

namespace fs = std::filesystem;
using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;

// Writes `text` to `path` through an AtomicFile; returns "" or the error.
std::string write_atomic(const std::string& path, const std::string& text) {
  AtomicFile file;
  if (!file.open(path)) return file.error();
  std::fputs(text.c_str(), file.stream());
  if (!file.commit()) return file.error();
  return "";
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFileTargets, LinksAreFollowedAndTheirTargetsReplaced) {
  TempDir dir;
  const std::string target = dir.file("target.ply");
  write_file(target, "old");
  fs::create_directory(dir.file("sub"));
  fs::create_symlink("../target.ply", dir.file("sub/link.ply"));   // relative
  fs::create_symlink(dir.file("sub/link.ply"), dir.file("chain.ply"));  // link to a link
  EXPECT_EQ(write_atomic(dir.file("chain.ply"), "new"), "");
  EXPECT_TRUE(fs::is_symlink(dir.file("chain.ply")));
  EXPECT_TRUE(fs::is_symlink(dir.file("sub/link.ply")));
  EXPECT_EQ(read_file(target), "new");
  // A dangling link creates its target, as fopen("w") does.
  fs::create_symlink("made.ply", dir.file("dangling.ply"));
  EXPECT_EQ(write_atomic(dir.file("dangling.ply"), "made"), "");
  EXPECT_TRUE(fs::is_symlink(dir.file("dangling.ply")));
  EXPECT_EQ(read_file(dir.file("made.ply")), "made");
  // A loop of links is refused.
  fs::create_symlink("loop_b", dir.file("loop_a"));
  fs::create_symlink("loop_a", dir.file("loop_b"));
  EXPECT_EQ(write_atomic(dir.file("loop_a"), "x"), std::strerror(ELOOP));
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"chain.ply", "dangling.ply", "loop_a",
                                                           "loop_b", "made.ply", "sub",
                                                           "target.ply"}));
}

TEST(AtomicFileTargets, ReplacedFilesKeepTheirModeAndUnwritableOnesAreRefused) {
  TempDir dir;
  const std::string name = dir.file("points.ply");
  write_file(name, "old");
  fs::permissions(name, fs::perms(0640));
  EXPECT_EQ(write_atomic(name, "new"), "");
  EXPECT_EQ(read_file(name), "new");
  EXPECT_EQ(fs::status(name).permissions(), fs::perms(0640));

  fs::permissions(name, fs::perms(0444));
  const std::string result = write_atomic(name, "newer");
  if (::geteuid() == 0) {
    // root may write any file, as fopen would let it; the mode stays read-only.
    EXPECT_EQ(result, "");
    EXPECT_EQ(fs::status(name).permissions(), fs::perms(0444));
  } else {
    EXPECT_EQ(result, std::strerror(EACCES));
    EXPECT_EQ(read_file(name), "new");
  }
}

TEST(AtomicFileTargets, FifoIsWrittenInPlaceAndFoldersAreRefused) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.ply");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_file(fifo); });
  EXPECT_EQ(write_atomic(fifo, "through the pipe"), "");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  EXPECT_EQ(write_atomic(dir.path().string(), "x"), "it is a folder");
  fs::create_directory(dir.file("out.ply"));
  EXPECT_EQ(write_atomic(dir.file("out.ply"), "x"), "it is a folder");
  EXPECT_EQ(write_atomic(dir.file("none/out.ply"), "x"),
            "the folder '" + dir.file("none") + "' does not exist");
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"out.ply", "pipe.ply"}));
}

TEST(AtomicFileTargets, TemporaryFileIsRemovedOnSigtermAndSigint) {
  for (int sig : {SIGTERM, SIGINT}) {
    TempDir dir;
    const std::string name = dir.file("frame.ply");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      AtomicFile file;
      if (!file.open(name)) ::_exit(2);
      std::fputs("partial", file.stream());
      std::fflush(file.stream());
      std::raise(sig);
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(listing(dir.path()).empty());
  }
}

}  // namespace
}  // namespace tervik::io
