// Work in pieces on several threads: the outcome of doing the pieces in order (results, first
// error, output bytes) for every thread count, and the writers built on it.
#include "tervik/pieces.h"

#include <atomic>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/mesh.h"

namespace tervik {
namespace {

using testing::read_file;
using testing::TempDir;

TEST(Pieces, EveryPieceRunsOnceAndTheFirstFailingPieceWins) {
  for (unsigned threads : {0u, 1u, 2u, 3u, 8u}) {
    std::vector<int> runs(100, 0);
    run_pieces(runs.size(), threads, [&](std::size_t i) { ++runs[i]; });
    EXPECT_EQ(runs, std::vector<int>(100, 1)) << threads;
    run_pieces(0, threads, [&](std::size_t) { ADD_FAILURE() << "no piece to run"; });
    // Pieces 70 and 30 fail; 70 would usually fail first in time with many threads.
    for (int round = 0; round < 20; ++round) {
      try {
        run_pieces(100, threads, [&](std::size_t i) {
          if (i == 70) throw std::runtime_error("piece 70");
          if (i == 30) {
            volatile double spin = 0;
            for (int k = 0; k < 20000; ++k) spin = spin + k;
            throw std::runtime_error("piece 30");
          }
        });
        ADD_FAILURE() << "no exception";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "piece 30") << threads << " threads";
      }
    }
  }
  // One thread does the pieces in order and stops at the first failure.
  std::vector<std::size_t> order;
  EXPECT_THROW(run_pieces(10, 1,
                          [&](std::size_t i) {
                            order.push_back(i);
                            if (i == 4) throw std::runtime_error("4");
                          }),
               std::runtime_error);
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(Pieces, BlocksAreWrittenInRecordOrder) {
  const auto format = [](std::string& out, std::size_t first, std::size_t last) {
    EXPECT_TRUE(out.empty());
    for (std::size_t i = first; i < last; ++i) out += std::to_string(i) + ",";
  };
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += std::to_string(i) + ",";
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (std::size_t block : {1, 7, 1000, 5000}) {
      std::string written;
      EXPECT_TRUE(format_in_blocks(1000, block, threads, format, [&](std::string_view b) {
        written.append(b);
        return true;
      }));
      EXPECT_EQ(written, expected) << threads << " threads, blocks of " << block;
    }
    // A failed write stops the writing: nothing more is formatted or written.
    int writes = 0;
    EXPECT_FALSE(format_in_blocks(1000, 10, threads, format,
                                  [&](std::string_view) { return ++writes < 3; }));
    EXPECT_EQ(writes, 3);
    EXPECT_TRUE(format_in_blocks(0, 10, threads, format, [&](std::string_view) {
      ADD_FAILURE() << "nothing to write";
      return true;
    }));
  }
}

TEST(Pieces, AFailingBlockEndsTheWritingAfterTheBlocksBeforeIt) {
  // Blocks of 10 records; block 70 fails at once, block 30 after a while, so with threads 70
  // usually fails first in time. The blocks before 30 are written, in order, then 30's error
  // comes out; a failed write stops the formatting within a bounded distance ahead.
  const auto format = [](std::string& out, std::size_t first, std::size_t last) {
    if (first == 700) throw std::runtime_error("block 70");
    if (first == 300) {
      volatile double spin = 0;
      for (int k = 0; k < 200000; ++k) spin = spin + k;
      throw std::runtime_error("block 30");
    }
    for (std::size_t i = first; i < last; ++i) out += std::to_string(i) + ",";
  };
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += std::to_string(i) + ",";
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (int round = 0; round < 10; ++round) {
      std::string written;
      try {
        format_in_blocks(1000, 10, threads, format, [&](std::string_view b) {
          written.append(b);
          return true;
        });
        ADD_FAILURE() << "no exception";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "block 30") << threads << " threads";
      }
      EXPECT_EQ(written, expected) << threads << " threads";
    }
    std::atomic<int> formatted{0};
    int writes = 0;
    EXPECT_FALSE(format_in_blocks(
        100000, 10, threads,
        [&](std::string& out, std::size_t, std::size_t) {
          ++formatted;
          out = "x";
        },
        [&](std::string_view) { return ++writes < 3; }));
    EXPECT_EQ(writes, 3);
    EXPECT_LE(formatted.load(), 3 + 2 * static_cast<int>(threads)) << threads << " threads";
  }
}

TEST(Pieces, PointAndMeshFilesAreTheSameBytesOnEveryThreadCount) {
  TempDir dir;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  // More records than several rounds of blocks hold, and a count that ends inside a block.
  std::vector<Patch> patches(17001);
  FaceVertexMesh mesh;
  for (Patch& p : patches) {
    p.pos = Point3D(u(rng), u(rng), u(rng) * 1e-6);
    p.normal = Point3D(u(rng), u(rng), u(rng));
    p.r = rng() % 256, p.g = rng() % 256, p.b = rng() % 256;
    mesh.add_vertex(p.pos, Coord3D<unsigned char>(p.r, p.g, p.b));
  }
  for (long long i = 0; i + 2 < 17001; i += 2) mesh.add_face(Coord3D<long long>(i, i + 2, i + 1));
  const std::string one = dir.file("one.ply"), many = dir.file("many.ply");
  for (io::PlyFormat format : {io::PlyFormat::ascii, io::PlyFormat::binary_little_endian}) {
    write_file_normal_color(one, patches, format, 1);
    const std::string colour = read_file(one);
    write_file_normal(one, patches, format, 1);
    const std::string plain = read_file(one);
    write_mesh(one, mesh, format, 1);
    const std::string meshed = read_file(one);
    for (unsigned threads : {2u, 3u, 8u}) {
      write_file_normal_color(many, patches, format, threads);
      EXPECT_EQ(read_file(many), colour) << threads;
      write_file_normal(many, patches, format, threads);
      EXPECT_EQ(read_file(many), plain) << threads;
      write_mesh(many, mesh, format, threads);
      EXPECT_EQ(read_file(many), meshed) << threads;
    }
  }
  // A write that fails (full disk) fails the same way with threads, and leaves nothing behind.
  testing::write_file(many, "old");
  try {
    testing::FileSizeLimit limit(100000);
    write_file_normal_color(many, patches, io::PlyFormat::ascii, 4);
    ADD_FAILURE() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Error in file '" + many + "': cannot write", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(read_file(many), "old");
}

}  // namespace
}  // namespace tervik
