#include "tervik/camera.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sys/stat.h>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

// Every number of a camera in a fixed order, for bit-exact comparison.
std::vector<std::uint64_t> bits(const Camera& c) {
  std::vector<std::uint64_t> out;
  auto add = [&](const double* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(std::bit_cast<std::uint64_t>(p[i]));
  };
  add(c.rot().data(), c.rot().num_elements());
  add(c.trans().data(), c.trans().num_elements());
  add(c.k().data(), c.k().num_elements());
  add(c.p().data(), c.p().num_elements());
  add(c.distortion().data(), c.distortion().num_elements());
  return out;
}

// A camera whose every number is distinct and easy to recognise in a file.
Camera numbered_camera() {
  Camera c;
  c.im_width() = 1024;
  c.im_height() = 768;
  for (int i = 0; i < 9; ++i) c.rot().data()[i] = i + 1;
  for (int i = 0; i < 3; ++i) c.trans().data()[i] = -(i + 1);
  for (int i = 0; i < 9; ++i) c.k().data()[i] = 0.5 * i;
  for (int i = 0; i < 12; ++i) c.p().data()[i] = 100.0 * i;
  for (int i = 0; i < 4; ++i) c.distortion().data()[i] = 0.25 * (i + 1);
  return c;
}

// The reader's message up to "is not consistent" (the file, line and reason that follow go to
// *detail), or the whole message of any other failure.
std::string read_error(const std::string& file, std::string* detail = nullptr) {
  Camera c;
  try {
    c.read_parameters(file);
  } catch (const TervikError& e) {
    const std::string m = e.what();
    const std::string head = " is not consistent";
    const std::size_t cut = m.find(head);
    if (cut == std::string::npos) return m;
    if (detail) *detail = m.substr(cut + head.size());
    return m.substr(0, cut + head.size());
  }
  return "no error";
}

std::string message(const char* field) {
  return std::string("ERROR(Camera::read_parameters) : Data read (") + field +
         ") is not consistent";
}

// The lines of a text, each without its "\n".
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string join(const std::vector<std::string>& lines, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && i < lines.size(); ++i) out += lines[i] + "\n";
  return out;
}

TEST(Camera, DefaultHasZeroMatricesOfTheRightShape) {
  const Camera c;
  EXPECT_EQ(c.rot().shape()[0], 3u);
  EXPECT_EQ(c.rot().shape()[1], 3u);
  EXPECT_EQ(c.trans().num_elements(), 3u);
  EXPECT_EQ(c.k().shape()[0], 3u);
  EXPECT_EQ(c.p().shape()[0], 4u);
  EXPECT_EQ(c.p().shape()[1], 3u);
  EXPECT_EQ(c.distortion().num_elements(), 4u);
  for (std::uint64_t b : bits(c)) EXPECT_EQ(b, 0u);
  EXPECT_EQ(c.im_width(), 0u);
  EXPECT_EQ(c.im_height(), 0u);
}

TEST(Camera, CopiesAreDeepAndSelfAssignmentKeepsTheCamera) {
  Camera a = numbered_camera();
  Camera b(a);
  b.p()[3][2] = -1.0;
  EXPECT_EQ(a.p()[3][2], 1100.0);
  Camera& alias = a;
  a = alias;
  EXPECT_EQ(bits(a), bits(numbered_camera()));
  b = a;
  EXPECT_EQ(bits(b), bits(a));
  // The const forms convert the stored 64-bit size to 32 bits.
  b.im_width() = 4096;
  const Camera& cb = b;
  static_assert(std::is_same_v<decltype(cb.im_width()), std::uint32_t>);
  static_assert(std::is_same_v<decltype(b.im_width()), std::int64_t&>);
  EXPECT_EQ(cb.im_width(), 4096u);
  EXPECT_EQ(cb.im_height(), 768u);
}

TEST(Camera, WritesTheExactFileFormat) {
  TempDir dir;
  const std::string file = dir.file("cam.txt");
  numbered_camera().write_parameters(file);
  const std::string expected =
      "[Image size:]\n"
      "1024\n"
      "768\n"
      "\n"
      "[Rotation matrix:]\n"
      " 1.0000000000000000e+00    2.0000000000000000e+00    3.0000000000000000e+00   \n"
      " 4.0000000000000000e+00    5.0000000000000000e+00    6.0000000000000000e+00   \n"
      " 7.0000000000000000e+00    8.0000000000000000e+00    9.0000000000000000e+00   \n"
      "\n"
      "[Translation vector:]\n"
      "-1.0000000000000000e+00   -2.0000000000000000e+00   -3.0000000000000000e+00   \n"
      "\n"
      "[Calibration matrix:]\n"
      " 0.0000000000000000e+00    5.0000000000000000e-01    1.0000000000000000e+00   \n"
      " 1.5000000000000000e+00    2.0000000000000000e+00    2.5000000000000000e+00   \n"
      " 3.0000000000000000e+00    3.5000000000000000e+00    4.0000000000000000e+00   \n"
      "\n"
      "[Projection matrix:]\n"
      " 0.0000000000000000e+00    1.0000000000000000e+02    2.0000000000000000e+02"
      "    3.0000000000000000e+02   \n"
      " 4.0000000000000000e+02    5.0000000000000000e+02    6.0000000000000000e+02"
      "    7.0000000000000000e+02   \n"
      " 8.0000000000000000e+02    9.0000000000000000e+02    1.0000000000000000e+03"
      "    1.1000000000000000e+03   \n"
      "\n"
      "[Distortion parameters:]\n"
      " 2.5000000000000000e-01   //Kappa1\n"
      " 5.0000000000000000e-01   //Kappa2\n"
      " 7.5000000000000000e-01   //Tau1\n"
      " 1.0000000000000000e+00   //Tau2\n";
  EXPECT_EQ(read_file(file), expected);

  Camera back;
  back.read_parameters(file);
  EXPECT_EQ(bits(back), bits(numbered_camera()));
  EXPECT_EQ(back.im_width(), 1024u);
  EXPECT_EQ(back.im_height(), 768u);
}

TEST(Camera, WrittenCameraReadsBackBitIdentical) {
  TempDir dir;
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  std::uniform_int_distribution<int> expo(-320, 307);
  const double specials[] = {-0.0,
                             1e-300,
                             -1.5e300,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::min(),
                             1.0 / 3.0,
                             -123456789.123456789};
  for (int trial = 0; trial < 20; ++trial) {
    Camera c;
    c.im_width() = 1 + trial * 97;
    c.im_height() = 2 + trial * 31;
    std::vector<double*> slots;
    for (auto* arr : {&c.rot(), &c.k(), &c.p()}) {
      for (std::size_t i = 0; i < arr->num_elements(); ++i) slots.push_back(arr->data() + i);
    }
    for (auto* arr : {&c.trans(), &c.distortion()}) {
      for (std::size_t i = 0; i < arr->num_elements(); ++i) slots.push_back(arr->data() + i);
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
      *slots[i] = trial == 0 ? specials[i % std::size(specials)]
                             : uni(rng) * std::pow(10.0, expo(rng));
    }
    const std::string file = dir.file("cam" + std::to_string(trial) + ".txt");
    c.write_parameters(file);
    Camera back;
    back.read_parameters(file);
    ASSERT_EQ(bits(back), bits(c)) << "trial " << trial;
    EXPECT_EQ(back.im_width(), c.im_width());
    EXPECT_EQ(back.im_height(), c.im_height());
    if (trial == 0) {
      // Negative zero keeps its sign; a negative value with a three-digit exponent takes 24
      // characters, the field is not cut.
      const std::string text = read_file(file);
      EXPECT_NE(text.find("\n-0.0000000000000000e+00   "), std::string::npos);
      // -1.5e300 is not a double; the nearest one prints with 17 digits as ...01.
      EXPECT_NE(text.find("   -1.5000000000000001e+300   \n"), std::string::npos);
      EXPECT_NE(text.find(" 1.0000000000000000e-300   "), std::string::npos);
    }
  }
}

TEST(Camera, WriteToUnopenablePathThrowsFileNotFound) {
  TempDir dir;
  const std::string file = dir.file("no_such_dir/cam.txt");
  try {
    numbered_camera().write_parameters(file);
    FAIL() << "no exception";
  } catch (const TervikFileNotFound& e) {
    EXPECT_EQ(std::string(e.what()), "File " + file + " not found");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "no_such_dir"));
}

TEST(Camera, WriteErrorAfterOpeningIsReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  try {
    numbered_camera().write_parameters("/dev/full");
    FAIL() << "a failed write was reported as success";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error in file '/dev/full': writing the calibration failed: No space left on device");
  }
}

TEST(CameraReader, MissingFileFailsWithCannotOpen) {
  TempDir dir;
  const std::string file = dir.file("missing.txt");
  EXPECT_EQ(read_error(file), "ERROR(Camera.read_parameters) : Cannot open  " + file);
}

TEST(CameraReader, EachSectionReportsItsOwnMessage) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  numbered_camera().write_parameters(good_file);
  const std::vector<std::string> good = lines_of(read_file(good_file));
  ASSERT_EQ(good.size(), 27u);

  // Letters where numbers belong, one line at a time (0-based line numbers).
  struct Case {
    std::size_t line;
    std::string text;
    const char* field;
  };
  const std::vector<Case> cases = {
      {1, "abc", "width"},
      {1, "", "height"},  // the height is then taken for the width; "[Rotation" is no height
      {2, "height", "height"},
      {5, "1 2 x", "rot"},
      {6, "a b c", "rot"},
      {7, "7 8", "rot"},
      {10, "-1 -2 minus", "trans"},
      {13, "fx 0 0", "calibration"},
      {15, "0 0", "calibration"},
      {18, "1 2 3 four", "projection"},
      {20, "800 900 1000", "projection"},
      {1, "-640", "width"},          // a negative size is not an image size
      {2, "4294967296", "height"},   // nor is one that does not fit 32 bits
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = good;
    lines[c.line] = c.text;
    const std::string file = dir.file("bad.txt");
    write_file(file, join(lines, lines.size()));
    EXPECT_EQ(read_error(file), message(c.field)) << "line " << c.line << ": " << c.text;
  }

  // A file cut after each whole line fails in the section the cut falls into; from the end of
  // the projection matrix on it loads (distortion stays 0).
  for (std::size_t kept = 0; kept <= 27; ++kept) {
    const char* field = kept < 2    ? "width"
                        : kept < 3  ? "height"
                        : kept < 8  ? "rot"
                        : kept < 11 ? "trans"
                        : kept < 16 ? "calibration"
                        : kept < 21 ? "projection"
                                    : nullptr;
    const std::string file = dir.file("cut.txt");
    write_file(file, join(good, kept));
    if (field) {
      EXPECT_EQ(read_error(file), message(field)) << kept << " lines kept";
    } else {
      Camera c;
      ASSERT_NO_THROW(c.read_parameters(file)) << kept << " lines kept";
      const double* d = c.distortion().data();
      for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(d[i], i + 23 < kept ? 0.25 * (i + 1) : 0.0) << kept << " lines, k" << i;
      }
    }
  }
}

TEST(CameraReader, EveryTruncationFailsCleanlyOrLoads) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  numbered_camera().write_parameters(good_file);
  const std::string text = read_file(good_file);
  const std::string file = dir.file("cut.txt");
  for (std::size_t size = 0; size < text.size(); size += 7) {
    write_file(file, text.substr(0, size));
    Camera c;
    try {
      c.read_parameters(file);
    } catch (const TervikError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("ERROR(Camera::read_parameters) : Data read (", 0), 0u)
          << e.what();
    }
  }
}

TEST(CameraReader, ToleratesTheDocumentedLayoutVariations) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  const Camera ref = numbered_camera();
  ref.write_parameters(good_file);
  const std::vector<std::string> good = lines_of(read_file(good_file));
  const std::string file = dir.file("var.txt");

  // Extra empty lines after every section and a matrix spread over several lines.
  std::vector<std::string> loose;
  for (std::size_t i = 0; i < good.size(); ++i) {
    if (i == 5) {
      loose.push_back("1 2");
      loose.push_back("  3 4 5 6 7");
      loose.push_back("8");
      loose.push_back("9");
      i = 7;
    } else {
      loose.push_back(good[i]);
    }
    if (i == 7 || i == 10 || i == 15 || i == 20) {
      loose.push_back("");
      loose.push_back("   ");
    }
  }
  loose[1] = "  1024 \t";  // white space around the size is fine
  write_file(file, join(loose, loose.size()));
  Camera c;
  c.read_parameters(file);
  EXPECT_EQ(bits(c), bits(ref));
  EXPECT_EQ(c.im_width(), 1024u);

  // A distortion section without the comments still gives each coefficient from its own line.
  std::vector<std::string> bare(good.begin(), good.begin() + 23);
  for (const char* v : {"0.5", "-0.25", "0.125", "2"}) bare.push_back(v);
  write_file(file, join(bare, bare.size()));
  Camera d;
  d.read_parameters(file);
  EXPECT_EQ(d.distortion()[0], 0.5);
  EXPECT_EQ(d.distortion()[1], -0.25);
  EXPECT_EQ(d.distortion()[2], 0.125);
  EXPECT_EQ(d.distortion()[3], 2.0);

  // Exactly one line must stand between the height and the rotation marker.
  std::vector<std::string> two_blank = good;
  two_blank.insert(two_blank.begin() + 3, "");
  write_file(file, join(two_blank, two_blank.size()));
  EXPECT_EQ(read_error(file), message("rot"));
  std::vector<std::string> no_blank = good;
  no_blank.erase(no_blank.begin() + 3);
  write_file(file, join(no_blank, no_blank.size()));
  EXPECT_EQ(read_error(file), message("rot"));
}

TEST(CameraReader, FailureKeepsWhatWasReadBefore) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  numbered_camera().write_parameters(good_file);
  std::vector<std::string> lines = lines_of(read_file(good_file));
  lines[13] = "bad";  // first row of K
  const std::string file = dir.file("bad.txt");
  write_file(file, join(lines, lines.size()));
  Camera c;
  c.p()[0][0] = 42.0;
  EXPECT_THROW(c.read_parameters(file), TervikError);
  EXPECT_EQ(c.im_width(), 1024u);
  EXPECT_EQ(c.rot()[2][2], 9.0);
  EXPECT_EQ(c.trans()[2], -3.0);
  EXPECT_EQ(c.p()[0][0], 42.0);
}

TEST(CameraReader, RefusesNumbersThatWereSilentlyMisread) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  numbered_camera().write_parameters(good_file);
  const std::vector<std::string> good = lines_of(read_file(good_file));
  const std::string file = dir.file("bad.txt");
  const struct {
    std::size_t line;  // 0-based
    std::string text;
    const char* field;
    std::string detail;
  } cases[] = {
      {1, "320.7", "width", "line 2: the image width '320.7' is not a whole number"},
      {1, "320abc", "width", "line 2: the image width '320abc' is not a whole number"},
      {2, "240 pixels", "height", "line 3: the image height '240 pixels' is not a whole number"},
      {5, "1 nan 3", "rot", "line 6: the rotation matrix holds a value that is not finite"},
      {10, "0 0 inf", "trans", "line 11: the translation vector holds a value that is not finite"},
      {14, "0 -nan 0", "calibration",
       "line 15: the calibration matrix holds a value that is not finite"},
      {19, "1 2 3 1e999", "projection",
       "line 20: the projection matrix holds a value that is not finite"},
      {7, "7 8", "rot", "line 8: expected 3 numbers in row 3 of the rotation matrix"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines = good;
    lines[c.line] = c.text;
    write_file(file, join(lines, lines.size()));
    std::string detail;
    EXPECT_EQ(read_error(file, &detail), message(c.field)) << c.text;
    EXPECT_EQ(detail, ": '" + file + "' " + c.detail) << c.text;
  }
  // An all-zero P.
  std::vector<std::string> lines = good;
  for (std::size_t i = 18; i <= 20; ++i) lines[i] = "0 0 0 0";
  write_file(file, join(lines, lines.size()));
  std::string detail;
  EXPECT_EQ(read_error(file, &detail), message("projection"));
  EXPECT_EQ(detail, ": '" + file + "' line 19: the projection matrix is all zero");
}

TEST(CameraReader, ReadsWholeLinesAndOnlyRegularFiles) {
  TempDir dir;
  const std::string good_file = dir.file("good.txt");
  const Camera ref = numbered_camera();
  ref.write_parameters(good_file);
  // Markers far longer than any line buffer.
  std::vector<std::string> lines = lines_of(read_file(good_file));
  for (std::size_t i : {0, 4, 9, 12, 17, 22}) lines[i] += std::string(300, '=') + " 1 2 3";
  const std::string file = dir.file("long.txt");
  write_file(file, join(lines, lines.size()));
  Camera c;
  c.read_parameters(file);
  EXPECT_EQ(bits(c), bits(ref));

  // A FIFO would block the reader forever; a folder is no file.
  const std::string fifo = dir.file("fifo.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(read_error(fifo),
            "ERROR(Camera.read_parameters) : Cannot open  " + fifo + ": a FIFO, not a regular file");
  EXPECT_EQ(read_error(dir.path().string()), "ERROR(Camera.read_parameters) : Cannot open  " +
                                                 dir.path().string() +
                                                 ": a folder, not a regular file");
}

TEST(CameraGeometry, ProjectionMismatchMeasuresPAgainstKRt) {
  // K, R (a rotation about z) and t of a plausible camera, and P = 2.5 K [R | t].
  Camera c;
  const double k[9] = {800, 0, 320, 0, 800, 240, 0, 0, 1};
  const double r[9] = {0.6, -0.8, 0, 0.8, 0.6, 0, 0, 0, 1};
  const double t[3] = {0.1, -0.2, 4};
  std::copy(k, k + 9, c.k().data());
  std::copy(r, r + 9, c.rot().data());
  std::copy(t, t + 3, c.trans().data());
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      double sum = 0;
      for (int j = 0; j < 3; ++j) sum += k[row * 3 + j] * (col < 3 ? r[j * 3 + col] : t[j]);
      c.p().data()[row * 4 + col] = 2.5 * sum;
    }
  EXPECT_LT(projection_mismatch(c), 1e-12);
  // The P of a camera turned by a few degrees.
  Camera turned = c;
  turned.rot().data()[0] = turned.rot().data()[4] = 0.62;
  EXPECT_GT(projection_mismatch(turned), 1e-3);
  Camera zero_k = c;
  std::fill(zero_k.k().data(), zero_k.k().data() + 9, 0.0);
  EXPECT_EQ(projection_mismatch(zero_k), 1.0);
}

}  // namespace
}  // namespace tervik
