#include "tervik/readmultiarray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tervik/exceptions.h"
#include "tervik/readimage.h"
#include "tervik/rle.h"
#include "tervik/writemultiarray.h"
#include "test_util.h"
#include "tervik/multiarray_bytes.h"

namespace tervik::io {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;
using namespace tervik::testing::multiarray_bytes;

template <typename T, std::size_t D>
std::string read_error(const std::string& name) {
  MultiArray<T, D> a;
  try {
    ReadMultiArray(name) >> a;
  } catch (const BacktracedTervikException& e) {
    return e.what();
  }
  return "";
}

TEST(MultiArrayFile, PartitionCodeRoundTripsAndTakesTheLabelAboveTheRunStart) {
  TempDir tmp;
  // Row 0: new label 1, run 1; new label 2, run 2 -> 1 2 2. Row 1: "0" with a run of 3: all
  // three get the label above the run's first pixel, 1, not the labels above each pixel.
  const Bytes code = bits("110 0 00  110 0 01  0 0 10");
  const std::string name = tmp.file("p.mult");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + code);
  MultiArray<unsigned int, 2> p;
  ReadMultiArray(name) >> p;
  EXPECT_EQ(std::vector<unsigned>(p.data(), p.data() + 6), (std::vector<unsigned>{1, 2, 2, 1, 1, 1}));
  // "10": the first label, from above-right on, that differs from the one above; "111": an
  // explicit label of B = 8 bits; "1" then 8 bits: a long run.
  const Bytes code2 = bits("111 00000111 0 00  110 0 00  110 0 00   10 0 00  0 0 01");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + code2);
  ReadMultiArray(name) >> p;
  EXPECT_EQ(std::vector<unsigned>(p.data(), p.data() + 6), (std::vector<unsigned>{7, 8, 9, 8, 8, 8}));

  // Random blocky label images through the partition writer.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 30; ++trial) {
    const std::size_t w = 1 + rng() % 40, h = 1 + rng() % 30;
    MultiArray<unsigned int, 2> labels(w, h);
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x)
        labels[x][y] = trial % 3 == 0 ? rng() % 1000 : (x / (1 + trial % 7)) * 3 + y / 5 + (rng() % 50 == 0);
    const std::string file = tmp.file("r" + std::to_string(trial) + ".prl");
    write_multiarray(file, labels, COMPRESS_PARTITION);
    MultiArray<unsigned int, 2> back;
    ReadMultiArray(file) >> back;
    ASSERT_EQ(back.shape()[0], w);
    ASSERT_EQ(back.shape()[1], h);
    ASSERT_TRUE(std::equal(labels.data(), labels.data() + w * h, back.data())) << trial;
  }
}

TEST(MultiArrayFile, HeaderChecksInOrder) {
  TempDir tmp;
  const std::string name = tmp.file("h.mult");
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "File " + name + " not found");
  // A name that exists but is no readable file says why.
  EXPECT_EQ((read_error<unsigned char, 2>(tmp.path().string())),
            "Error in file '" + tmp.path().string() + "': cannot read the file: it is a folder");
  write_bytes(name, Bytes{0xFE, 0x00, 1});
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "Magic number does not exists in the file");
  write_bytes(name, Bytes{});
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "Magic number does not exists in the file");
  write_bytes(name, header(0, 0, {1, 1}, 2));
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "File type is not multiarray");
  // No payload at all: the data type is checked before any payload is read.
  write_bytes(name, header(0, 0, {4, 4}));
  EXPECT_EQ((read_error<unsigned int, 2>(name)), "Datatype is not uint32 in file");
  EXPECT_EQ((read_error<double, 2>(name)), "Datatype is not float64 in file");
  EXPECT_EQ((read_error<long long, 3>(name)), "Datatype is not int64 in file");
  write_bytes(name, header(0, 4, {4, 4}));
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "Datatype is not uint8 in file");
  EXPECT_EQ((read_error<unsigned int, 3>(name)),
            "Dimensions in the file do not correspond to templated dimensions");
  write_bytes(name, header(1, 0, {4, 4}));
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "Unknown compress type");
  write_bytes(name, header(2, 4, {4, 4}));
  EXPECT_EQ((read_error<unsigned int, 2>(name)), "Unknown compress type");
  write_bytes(name, header(1, 4, {4, 4, 4}));
  EXPECT_EQ((read_error<unsigned int, 3>(name)),
            "Multiarray file '" + name + "': the partition code needs 2 dimensions");
  write_bytes(name, Bytes{0xFF, 0x00, 1, 0, 0, 2, 0});
  EXPECT_EQ((read_error<unsigned char, 2>(name)), "Multiarray file '" + name + "' ends inside its header");
  write_bytes(name, header(0, 0, {4, 4}));
  MultiArray<unsigned char, 2> kept(2, 2);
  kept[1][1] = 9;
  EXPECT_THROW(ReadMultiArray(name) >> kept, TervikError);
  EXPECT_EQ(kept.shape()[0], 2u);
  EXPECT_EQ(kept[1][1], 9);
}

TEST(MultiArrayFile, MalformedPayloadsAreRejectedBeforeAllocating) {
  TempDir tmp;
  const std::string name = tmp.file("m.mult");
  const std::string in_file = "Multiarray file '" + name + "'";
  write_bytes(name, header(0, 0, {1ull << 32, 1ull << 32}) + rle_payload({0}));
  EXPECT_EQ((read_error<unsigned char, 2>(name)), in_file + ": the extents' product overflows");
  write_bytes(name, header(0, 0, {1ull << 31, 1ull << 31}) + rle_payload({0, 0, 0xFF, 0xFF, 0}));
  EXPECT_EQ((read_error<unsigned char, 2>(name)),
            in_file + ": a payload of 5 bytes cannot hold 4611686018427387904 elements");
  write_bytes(name, header(0, 0, {4}) + rle_payload({9, 1, 2}) + Bytes{});
  EXPECT_EQ((read_error<unsigned char, 1>(name)),
            in_file + ": the run-length stream stops after 2 of 4 bytes");
  write_bytes(name, header(0, 0, {2}) + rle_payload({9, 1, 2, 3}));
  EXPECT_EQ((read_error<unsigned char, 1>(name)),
            "Run-length stream decodes to more than the 2 bytes of the array");
  Bytes cut = header(0, 0, {2}) + rle_payload({9, 1, 2});
  cut.pop_back();
  write_bytes(name, cut);
  EXPECT_EQ((read_error<unsigned char, 1>(name)),
            in_file + ": the payload of 3 bytes runs past the end of the file");
  write_bytes(name, header(0, 0, {2}));
  EXPECT_EQ((read_error<unsigned char, 1>(name)), in_file + " ends before its payload size");
  // A dimension count far beyond what the file holds.
  write_bytes(name, Bytes{0xFF, 0x00, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  try {
    ReadMultiArray(name).read_extents();
    ADD_FAILURE() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()), in_file + " ends inside its 18446744073709551615 extents");
  }
  // A float record whose length byte says 12 (more than a record holds).
  Bytes record(11, 0);
  record[0] = 12, record[1] = 0x40, record[2] = 1;
  write_bytes(name, header(0, 9, {1}) + rle_payload(compress::Rle::compress(record)));
  EXPECT_EQ((read_error<double, 1>(name)), "Float record length 12 is outside 2..11");
}

TEST(MultiArrayFile, MalformedPartitionCodesAreRejected) {
  TempDir tmp;
  const std::string name = tmp.file("p.mult");
  const std::string in_file = "Multiarray file '" + name + "'";
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + bits("0 0 00"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": label 0 of the first row is taken from the row above");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + bits("110 0 00  10 0 00"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": label 1 of the first row is taken from the row above");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + bits("110 1 00000111"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": a run of 7 labels at label 0 goes past the last label 5");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + bits("110 0 10  10 0 00"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": no label differs from the one above label 3");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{8} + bits("110 0 10  0"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            "Bit stream of file '" + name + "' ends early, after bit 248");
  write_bytes(name, header(1, 4, {3, 2}) + Bytes{33} + bits("111"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": explicit labels of 33 bits do not fit 32-bit labels");
  write_bytes(name, header(1, 4, {1000, 1000}) + Bytes{8} + bits("110 1 11111111"));
  EXPECT_EQ((read_error<unsigned int, 2>(name)),
            in_file + ": 16 bits of partition code cannot hold 1000000 labels");
}

TEST(MultiArrayFile, LabelImagesThroughReadImage) {
  TempDir tmp;
  MultiArray<unsigned int, 2> labels(5, 4);
  for (std::size_t i = 0; i < 20; ++i) labels.data()[i] = i / 3;
  for (const char* ext : {".mult", ".prl"}) {
    const std::string name = tmp.file(std::string("labels") + ext);
    write_multiarray(name, labels, COMPRESS_PARTITION);
    ImaVol<unsigned int, 1, 2> img;
    ReadImage(name).read(img);
    ASSERT_EQ(img.channel(0).shape()[0], 5u);
    ASSERT_EQ(img.channel(0).shape()[1], 4u);
    EXPECT_TRUE(std::equal(labels.data(), labels.data() + 20, img.channel(0).data()));
    EXPECT_EQ(get_image_dimensions(name, FORMAT_MULTIARRAY),
              (std::vector<unsigned long long>{5, 4}));
  }
  const std::string png = tmp.file("labels.png");
  write_file(png, "x");
  ImaVol<unsigned int, 1, 2> img;
  try {
    ReadImage(png).read(img);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "Reading unsupported image type (unknown extension) for partitions");
  }
}

}  // namespace
}  // namespace tervik::io
