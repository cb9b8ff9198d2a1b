// make_masks: masks from alpha (RGBA and grey+alpha PNG), from grey and colour thresholds and
// from background plates; opening, closing and hole filling on a crafted image.
#include <png.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/capture/make_masks.h"
#include "tools/scene/scene.h"

namespace tervik::capture {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;

// Writes w x h pixels of `format` (PNG_FORMAT_RGBA, PNG_FORMAT_GA, ...) through libpng.
void write_png_samples(const std::string& file, long w, long h, png_uint_32 format,
                       const std::vector<unsigned char>& samples) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(w);
  png.height = png_uint_32(h);
  png.format = format;
  ASSERT_NE(png_image_write_to_file(&png, file.c_str(), 0, samples.data(), 0, nullptr), 0)
      << png.message;
}

// A mask as text, one row per line, '#' for foreground.
std::string text_of(const ImageGray<unsigned char>& m) {
  std::string s;
  for (long y = 0; y < long(m.height()); ++y) {
    for (long x = 0; x < long(m.width()); ++x) s += m[x][y] >= 128 ? '#' : '.';
    s += '\n';
  }
  return s;
}

ImageGray<unsigned char> from_text(const std::vector<std::string>& rows) {
  ImageGray<unsigned char> m(rows[0].size(), rows.size());
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[0].size(); ++x) m[x][y] = rows[y][x] == '#' ? 255 : 0;
  return m;
}

const std::string kMakeMasks = TERVIK_BINARY_DIR "/tools/make_masks";

// Both alpha layouts give the mask of alpha >= 128, through the functions and the program; a
// PNG without alpha is refused, naming the file.
TEST(MakeMasks, AlphaFromRgbaAndGreyAlphaPngs) {
  TempDir dir;
  const long w = 7, h = 5;
  std::vector<unsigned char> rgba, ga;
  std::string expected;
  for (long y = 0; y < h; ++y) {
    for (long x = 0; x < w; ++x) {
      const unsigned char alpha = static_cast<unsigned char>((x * 37 + y * 53) % 256);
      rgba.insert(rgba.end(), {static_cast<unsigned char>(x * 30), 10, 200, alpha});
      ga.insert(ga.end(), {static_cast<unsigned char>(y * 40), alpha});
      expected += alpha >= 128 ? '#' : '.';
    }
    expected += '\n';
  }
  write_png_samples(dir.file("in0_0003.png"), w, h, PNG_FORMAT_RGBA, rgba);
  write_png_samples(dir.file("in1_0003.png"), w, h, PNG_FORMAT_GA, ga);
  for (const char* name : {"in0_0003.png", "in1_0003.png"}) {
    const RgbaImage img = read_png_rgba(dir.file(name));
    EXPECT_TRUE(img.has_alpha);
    EXPECT_EQ(text_of(mask_from_alpha(img, 128)), expected) << name;
  }
  const std::string cmd = kMakeMasks + " --cameras 2 --from alpha --first-frame 3 --input " +
                          dir.file("in%d_%04d.png") + " --output " + dir.file("sil%d_%04d.png") +
                          " > " + dir.file("log.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(dir.file("log.txt"));
  EXPECT_EQ(text_of(read_gray(dir.file("sil0_0003.png"))), expected);
  EXPECT_EQ(text_of(read_gray(dir.file("sil1_0003.png"))), expected);

  io::write_png(dir.file("in1_0003.png"), ImageGray<unsigned char>(w, h));
  EXPECT_NE(std::system(cmd.c_str()), 0);
  EXPECT_EQ(read_file(dir.file("log.txt")),
            "ERROR: Error in file '" + dir.file("in1_0003.png") + "': the image has no alpha channel\n");
}

// Opening removes the speck, closing bridges the one-pixel crack, hole filling fills the hole
// but not the bay that opens to the border.
TEST(MakeMasks, ThresholdWithOpeningClosingAndHoleFilling) {
  const ImageGray<unsigned char> raw = from_text({
      "...............",
      ".#......#####..",
      "......#######..",
      "......#.#.###..",
      "......###.###..",
      "......#######..",
      "......#######..",
      "..........##...",
      "..........##...",
  });
  // As a grey image: foreground 200, background 60.
  ImageGray<unsigned char> grey(raw.width(), raw.height());
  for (long x = 0; x < long(raw.width()); ++x)
    for (long y = 0; y < long(raw.height()); ++y) grey[x][y] = raw[x][y] ? 200 : 60;
  EXPECT_EQ(text_of(mask_from_gray(grey, 128, false)), text_of(raw));
  EXPECT_EQ(text_of(mask_from_gray(grey, 128, true)), text_of(mask_from_gray(grey, 61, true)));
  EXPECT_EQ(text_of(mask_from_gray(grey, 201, false)), text_of(ImageGray<unsigned char>(15, 9)));

  EXPECT_EQ(text_of(fill_holes(raw)),
            "...............\n"
            ".#......#####..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "..........##...\n"
            "..........##...\n");
  EXPECT_EQ(text_of(open_mask(raw, 1)),  // the speck and everything narrower than 3 pixels go
            "...............\n"
            "..........###..\n"
            "..........###..\n"
            "..........###..\n"
            "......###.###..\n"
            "......###.###..\n"
            "......###.###..\n"
            "...............\n"
            "...............\n");
  Cleanup all;
  all.open = 0;
  all.close = 1;
  all.fill = true;
  EXPECT_EQ(text_of(clean(raw, all)),
            "...............\n"
            ".#......#####..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "......#######..\n"
            "..........##...\n"
            "..........##...\n");
  // Closing does not grow the speck towards the border.
  EXPECT_EQ(text_of(close_mask(raw, 2)).substr(0, 32), "...............\n.#......#####..\n");
  // Erosion does not eat an object from the image border; dilation grows by r.
  const ImageGray<unsigned char> edge = from_text({"##...", "##...", "##..."});
  EXPECT_EQ(text_of(erode(edge, 1)), "#....\n#....\n#....\n");
  EXPECT_EQ(text_of(dilate(edge, 1)), "###..\n###..\n###..\n");
  EXPECT_EQ(text_of(dilate(edge, 0)), text_of(edge));
}

// Holes up to the area are filled and larger ones stay; small blobs go; the largest stay.
TEST(MakeMasks, SmallHolesBlobsAndLargestPieces) {
  const ImageGray<unsigned char> raw = from_text({
      "............",
      ".#######....",
      ".#.#...#..#.",
      ".#######....",
      ".........##.",
      ".##......##.",
      "............",
  });
  EXPECT_EQ(hole_areas(raw), (std::vector<long>{-1, 1, 3}));
  EXPECT_EQ(blob_areas(raw), (std::vector<long>{17, 1, 4, 2}));
  EXPECT_EQ(text_of(fill_small_holes(raw, 2)),
            "............\n"
            ".#######....\n"
            ".###...#..#.\n"
            ".#######....\n"
            ".........##.\n"
            ".##......##.\n"
            "............\n");
  EXPECT_EQ(text_of(fill_small_holes(raw, 3)).substr(26, 13), ".#######..#.\n");
  EXPECT_EQ(text_of(drop_small_blobs(raw, 3)),
            "............\n"
            ".#######....\n"
            ".#.#...#....\n"
            ".#######....\n"
            ".........##.\n"
            ".........##.\n"
            "............\n");
  EXPECT_EQ(text_of(keep_largest(raw, 1)), text_of(drop_small_blobs(raw, 5)));
  EXPECT_EQ(text_of(keep_largest(raw, 3)), text_of(drop_small_blobs(raw, 2)));
  Cleanup c;
  c.max_hole_area = 1;
  c.keep_largest = 1;
  EXPECT_EQ(text_of(clean(raw, c)).substr(26, 13), ".###...#....\n");
}

// Bad values, templates that would write masks over each other and outputs that name an
// input are refused with exit status 1 before anything is written.
TEST(MakeMasks, RefusesBadOptionsAndOutputsOverInputs) {
  TempDir dir;
  ImageGray<unsigned char> grey(6, 4);
  grey[2][1] = 200;
  for (int f = 0; f < 2; ++f) io::write_png(dir.file("in0_" + std::to_string(f) + ".png"), grey);
  const std::string input = read_file(dir.file("in0_0.png"));
  const auto run = [&](const std::string& args) {
    const std::string cmd = kMakeMasks + " --cameras 1 --input " + dir.file("in%d_%d.png") + " " +
                            args + " > " + dir.file("log.txt");
    const int rc = std::system(cmd.c_str());
    return std::make_pair(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(dir.file("log.txt")));
  };
  const std::string out = " --output " + dir.file("m%d_%d.png");
  EXPECT_EQ(run("--threshold -5" + out),
            std::make_pair(1, std::string("ERROR: --threshold must be 0 to 255, not -5 (see make_masks --help)\n")));
  for (const char* t : {"nan", "-1"})
    EXPECT_EQ(run("--from colour --key 0,0,0 --tolerance " + std::string(t) + out).second,
              "ERROR: --tolerance must be a distance of 0 to 1000, not " + std::string(t) +
                  " (see make_masks --help)\n");
  EXPECT_EQ(run("--last-frame 99999999999" + out).second,
            "ERROR: the frame range 0 to 99999999999 is longer than 1000000 frames (see make_masks --help)\n");
  EXPECT_EQ(run("--last-frame 1 --output " + dir.file("m%d.png")),
            std::make_pair(1, "ERROR: the output template '" + dir.file("m%d.png") +
                                  "' has no conversion for the frame number (the second value), "
                                  "but frames 0 to 1 are processed: every frame would overwrite "
                                  "the masks of the one before (see make_masks --help)\n"));
  // The input template again, and a path to it through a symbolic link to the folder.
  std::filesystem::create_directory_symlink(dir.path(), dir.file("link"));
  for (const std::string& target : {dir.file("in%d_%d.png"), dir.file("link/in%d_%d.png")}) {
    EXPECT_EQ(run("--last-frame 1 --output " + target),
              std::make_pair(1, "ERROR: the output '" + (target == dir.file("in%d_%d.png")
                                                             ? dir.file("in0_0.png")
                                                             : dir.file("link/in0_0.png")) +
                                    "' is the input '" + dir.file("in0_0.png") +
                                    "': refusing to replace an input of this run\n"));
    EXPECT_EQ(read_file(dir.file("in0_0.png")), input);
  }
  // A hard link to a later frame's input.
  ASSERT_EQ(::link(dir.file("in0_1.png").c_str(), dir.file("h0_0.png").c_str()), 0);
  EXPECT_EQ(run("--last-frame 1 --output " + dir.file("h%d_%d.png")).first, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("h0_1.png")));
  // A missing input stops the run before any mask is written.
  EXPECT_EQ(run("--last-frame 2" + out),
            std::make_pair(1, "ERROR: File " + dir.file("in0_2.png") + " not found\n"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("m0_0.png")));
  EXPECT_EQ(run("--last-frame 1" + out).first, 0);
  EXPECT_EQ(text_of(read_gray(dir.file("m0_1.png"))), text_of(mask_from_gray(grey, 128, false)));
}

TEST(MakeMasks, ColourKeyAndBackgroundDifference) {
  ImageRGB<unsigned char> img(4, 1), plate(4, 1);
  const unsigned char px[4][3] = {{0, 200, 0}, {30, 200, 30}, {40, 200, 10}, {200, 10, 10}};
  for (long x = 0; x < 4; ++x)
    for (int k = 0; k < 3; ++k) img.channel(k).data()[x] = px[x][k], plate.channel(k).data()[x] = 0;
  plate.channel(1).data()[0] = plate.channel(1).data()[1] = plate.channel(1).data()[2] = 200;
  // Distances to the key (0, 200, 0): 0, 42.4, 41.2, 276.
  EXPECT_EQ(text_of(mask_from_key(img, {0, 200, 0}, 42.0)), ".#.#\n");
  // Largest channel differences to the plate: 0, 30, 40, 200.
  EXPECT_EQ(text_of(mask_from_difference(img, plate, 30)), ".###\n");
  EXPECT_EQ(text_of(mask_from_difference(img, plate, 41)), "...#\n");
  try {
    mask_from_difference(img, ImageRGB<unsigned char>(3, 1), 30);
    FAIL();
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "the image is 4 x 1 but the background plate is 3 x 1");
  }
}

// On a generated scene, the difference to a plate of the background colour gives back the
// rendered silhouettes exactly, frame after frame.
TEST(MakeMasks, ProgramRecoversSceneSilhouettesFromBackgroundPlates) {
  TempDir dir;
  scene::SceneOptions o;
  o.cameras = 4;
  o.frames = 2;
  o.width = 96;
  o.height = 72;
  const scene::GeneratedScene sc = scene::generate_scene(dir.path().string(), o);
  ImageRGB<unsigned char> plate(96, 72);
  for (int k = 0; k < 3; ++k) plate.channel(k) = MultiArray<unsigned char, 2>(96, 72);
  for (int k = 0; k < 3; ++k)
    std::fill_n(plate.channel(k).data(), 96 * 72, scene::background_color[k]);
  for (int i = 0; i < 4; ++i) io::write_png(dir.file("plate" + std::to_string(i) + ".png"), plate);
  const std::string cmd = kMakeMasks + " --cameras 4 --last-frame 1 --from background --background " +
                          dir.file("plate%d.png") + " --input " + sc.image_template + " --output " +
                          dir.file("mask%d_%d.png") + " > " + dir.file("log.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(dir.file("log.txt"));
  for (int i = 0; i < 4; ++i)
    for (int f = 0; f < 2; ++f) {
      char sil[64];
      std::snprintf(sil, sizeof sil, "sil%d_%04d.png", i, f);
      EXPECT_EQ(text_of(read_gray(dir.file("mask" + std::to_string(i) + "_" + std::to_string(f) + ".png"))),
                text_of(read_gray(dir.file(sil))));
    }
  EXPECT_NE(read_file(dir.file("log.txt")).find("Frame 1: 4 masks, foreground"), std::string::npos);

  // Bad options are named.
  ASSERT_NE(std::system((kMakeMasks + " --cameras 4 --from colour --input a%d_%d.png --output b%d_%d.png > " +
                         dir.file("log.txt")).c_str()), 0);
  EXPECT_EQ(read_file(dir.file("log.txt")),
            "ERROR: --from colour needs --key R,G,B (see make_masks --help)\n");
}

}  // namespace
}  // namespace tervik::capture
