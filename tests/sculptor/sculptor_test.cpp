// The sculptor program run as a user runs it: exit status, messages, line order and files.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sculptor/loading.h"
#include "sculptor/options.h"
#include "sculptor/silhouette.h"
#include "test_util.h"
#include "tools/scene/scene.h"
#include "weaver/read_points.h"

namespace tervik {
namespace {

namespace fs = std::filesystem;

const std::string kProgram = TERVIK_BINARY_DIR "/sculptor/sculptor";

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Outcome {
  int status = -1;
  std::string out, err, both;
};

// Runs sculptor with `args`, once with standard output and error apart, and once with both in
// one file to see how their lines interleave.
Outcome run(const testing::TempDir& dir, const std::vector<std::string>& args, bool merged = false) {
  std::string cmd = quote(kProgram);
  for (const auto& a : args) cmd += " " + quote(a);
  Outcome r;
  const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
  const int rc = std::system((cmd + " >" + quote(out) + " 2>" + quote(err)).c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = testing::read_file(out);
  r.err = testing::read_file(err);
  if (merged) {
    std::system((cmd + " >" + quote(out) + " 2>&1").c_str());
    r.both = testing::read_file(out);
  }
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The labels of timing lines ("Only points: 12.5 fps or 0.08 s/frame" gives "Only points: "), one
// per line.
std::vector<std::string> timing_labels(const std::string& err) {
  std::vector<std::string> v = lines(err);
  for (std::string& l : v) l = l.substr(0, l.find_first_of("0123456789"));
  return v;
}

// Runs `args` again with --threads 2 and expects the failure of the one-thread run `one`: the
// same status and standard output, the same timing lines on standard error (with other times)
// and the same error line.
void expect_same_failure_with_two_threads(const testing::TempDir& dir,
                                          std::vector<std::string> args, const Outcome& one) {
  args.insert(args.begin(), {"--threads", "2"});
  const Outcome two = run(dir, args);
  EXPECT_EQ(two.status, one.status);
  EXPECT_EQ(two.out, one.out);
  const std::vector<std::string> got = lines(two.err), want = lines(one.err);
  ASSERT_EQ(got.size(), want.size()) << two.err;
  EXPECT_EQ(timing_labels(two.err), timing_labels(one.err)) << two.err;
  if (!want.empty()) EXPECT_EQ(got.back(), want.back());
}

// Positions read back from a PLY point file written by sculptor.
std::vector<Point3D> read_points(const std::string& file) {
  std::vector<Point3D> pts;
  std::istringstream in(testing::read_file(file));
  std::string line;
  long count = -1;
  while (std::getline(in, line) && line != "end_header")
    if (line.rfind("element vertex ", 0) == 0) count = std::stol(line.substr(15));
  for (Point3D p; in >> p.x >> p.y >> p.z;) {
    double skip;
    for (int i = 0; i < 6; ++i) in >> skip;
    pts.push_back(p);
  }
  EXPECT_EQ(count, static_cast<long>(pts.size())) << file;
  return pts;
}

// The moving figure, 8 cameras at 320 x 240, frames 0 and 1, 2000 points, generated once.
class Sculptor : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scene_dir_ = new testing::TempDir;
    scene::SceneOptions so;
    so.width = 320;
    so.height = 240;
    so.frames = 2;
    so.points = 2000;
    scene_ = new scene::GeneratedScene(scene::generate_scene(scene_dir_->path().string(), so));
  }
  static void TearDownTestSuite() {
    delete scene_;
    delete scene_dir_;
  }
  // The scene's arguments with the output written into this test's folder.
  std::vector<std::string> args() const {
    std::vector<std::string> a = scene_->sculptor_arguments();
    a[4] = dir_.file("points_%04ld.ply");
    return a;
  }

  static testing::TempDir* scene_dir_;
  static scene::GeneratedScene* scene_;
  testing::TempDir dir_;
};
testing::TempDir* Sculptor::scene_dir_ = nullptr;
scene::GeneratedScene* Sculptor::scene_ = nullptr;

TEST_F(Sculptor, WrongArgumentCountPrintsUsage) {
  std::vector<std::string> a = args();
  a.pop_back();
  const Outcome r13 = run(dir_, a);
  EXPECT_EQ(r13.status, 1);
  EXPECT_EQ(r13.out, usage_line(kProgram) + "\n");
  a.push_back("2000");
  a.push_back("extra");
  const Outcome r15 = run(dir_, a);
  EXPECT_EQ(r15.status, 1);
  EXPECT_EQ(r15.out, usage_line(kProgram) + "\n");
}

TEST_F(Sculptor, BadArgumentsAreRejectedBeforeAnyFileIsRead) {
  const struct {
    int index;
    const char* value;
    const char* message;
  } bad[] = {
      {0, "4", "ERROR: the argument numcams '4' is out of range (5 to 32767)\n"},
      {13, "2k", "ERROR: the argument npoints '2k' is not a decimal integer\n"},
      {7, "-1.0.0", "ERROR: the argument xmin '-1.0.0' is not a number\n"},
      {4, "out%s.ply", "ERROR: the output template 'out%s.ply' holds the conversion '%s'"},
      {2, "img%ld_%04ld_%n.png", "ERROR: the image template 'img%ld_%04ld_%n.png' holds the "
                                 "conversion '%n'"},
      // Two frames into one output file would silently keep only the last.
      {4, "points.ply", "ERROR: the output template 'points.ply' has no conversion for the "
                        "frame number, but frames 0 to 1 are processed"},
  };
  for (const auto& b : bad) {
    std::vector<std::string> a = args();
    a[b.index] = b.value;
    const Outcome r = run(dir_, a);
    EXPECT_EQ(r.status, 1) << b.value;
    EXPECT_EQ(r.err.rfind(b.message, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "") << b.value;
  }
  EXPECT_FALSE(fs::exists(dir_.file("points_0000.ply")));
}

TEST_F(Sculptor, MissingCalibrationFileExitsWithTheReadersMessage) {
  std::vector<std::string> a = args();
  a[1] = dir_.file("nocam%ld.txt");
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Loading camera data\n");
  EXPECT_EQ(r.err, "ERROR(Camera.read_parameters) : Cannot open  " + dir_.file("nocam0.txt") +
                       " (calibration of camera 0)\n");
}

// A first frame after the last would process nothing and exit 0, which hides a mistyped range.
TEST_F(Sculptor, ReversedFrameRangeIsRefused) {
  std::vector<std::string> a = args();
  a[5] = "1";
  a[6] = "0";
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: the frame range is reversed: firstframe 1 comes after lastframe 0, so "
                   "no frame would be processed\n");
}

TEST_F(Sculptor, RunsTheSequenceInOrderAndRepeatsItByteForByte) {
  const Outcome r = run(dir_, args(), true);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // All lines in the order printed: each frame's header, its progress, then its timing line.
  const auto all = lines(r.both);
  ASSERT_GE(all.size(), 6u);
  EXPECT_EQ(all[0], "Loading camera data");
  EXPECT_EQ(all[1], "Processing sequence");
  std::vector<std::size_t> frame_at, timing_at;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].rfind("Frame ", 0) == 0) frame_at.push_back(i);
    if (all[i].rfind("Only points (frame ", 0) == 0) timing_at.push_back(i);
  }
  ASSERT_EQ(frame_at.size(), 2u);
  ASSERT_EQ(timing_at.size(), 2u);
  EXPECT_EQ(all[frame_at[0]], "Frame 0");
  EXPECT_EQ(all[frame_at[1]], "Frame 1");
  EXPECT_EQ(frame_at[0], 2u);
  EXPECT_LT(frame_at[0] + 1, timing_at[0]);  // progress lines come before the timing line
  EXPECT_LT(timing_at[0], frame_at[1]);
  EXPECT_LT(frame_at[1] + 1, timing_at[1]);
  EXPECT_NE(all[frame_at[0] + 1].find(" lowres seeds after "), std::string::npos);
  for (std::size_t i = frame_at[1]; i < all.size(); ++i)
    EXPECT_EQ(all[i].find("lowres seeds"), std::string::npos) << "a tracked frame was seeded";
  // Timing goes to standard error alone, progress to standard output alone.
  // Three per frame: after sampling, after smoothing, after colouring; each names its frame.
  const auto err = lines(r.err);
  ASSERT_EQ(err.size(), 6u);
  for (std::size_t i = 0; i < err.size(); i += 3) {
    const std::string frame = " (frame " + std::to_string(i / 3) + "): ";
    EXPECT_EQ(err[i].rfind("Only points" + frame, 0), 0u) << err[i];
    EXPECT_EQ(err[i + 1].rfind("Points and post-filtering" + frame, 0), 0u) << err[i + 1];
    EXPECT_EQ(err[i + 2].rfind("Points and post-filtering and coloring" + frame, 0), 0u)
        << err[i + 2];
  }
  EXPECT_EQ(r.out.find("Only points"), std::string::npos);

  // Every point lies on the visual hull of its frame's silhouettes. The file holds positions
  // to 7 significant digits, which may move a point across a pixel border, and the smoothing
  // moves points along their normals, off the hull by a fraction of L: allow a few.
  std::ostringstream quiet;
  const Options o = parse_options(args());
  ViewSets views = load_cameras(o.numcams, o.camtemplate, quiet);
  for (long f = 0; f <= 1; ++f) {
    load_frame(views, o.fgtemplate, o.imtemplate, f);
    const auto pts = read_points(o.outtemplate.format(f));
    EXPECT_EQ(pts.size(), 2000u);
    std::size_t bad = 0;
    for (const Point3D& p : pts) {
      short inside = 0, outside = 0;
      const bool outline = projection_test(views.silhouettes, p, inside, outside, 0);
      if (!(outline && inside >= 5 && outside == 0)) ++bad;
    }
    EXPECT_LE(bad, pts.size() / 20) << "frame " << f;
  }

  // The second run (merged output above) wrote the same bytes as a third one.
  const std::string frame0 = testing::read_file(dir_.file("points_0000.ply"));
  const std::string frame1 = testing::read_file(dir_.file("points_0001.ply"));
  fs::remove(dir_.file("points_0000.ply"));
  fs::remove(dir_.file("points_0001.ply"));
  const Outcome again = run(dir_, args());
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.out, r.out);
  EXPECT_TRUE(testing::read_file(dir_.file("points_0000.ply")) == frame0);
  EXPECT_TRUE(testing::read_file(dir_.file("points_0001.ply")) == frame1);
}

// --threads changes neither the files nor the progress lines; a bad value is refused before any
// file is read, and --help lists the option.
TEST_F(Sculptor, ThreadsOptionGivesTheSameBytes) {
  const Outcome one = run(dir_, args());
  ASSERT_EQ(one.status, 0) << one.err;
  const std::string frame0 = testing::read_file(dir_.file("points_0000.ply"));
  const std::string frame1 = testing::read_file(dir_.file("points_0001.ply"));
  for (const char* threads : {"2", "3", "0"}) {
    fs::remove(dir_.file("points_0000.ply"));
    fs::remove(dir_.file("points_0001.ply"));
    std::vector<std::string> a = {"--threads", threads};
    for (const std::string& arg : args()) a.push_back(arg);
    const Outcome r = run(dir_, a);
    ASSERT_EQ(r.status, 0) << threads << ": " << r.err;
    EXPECT_EQ(r.out, one.out) << threads;
    EXPECT_TRUE(testing::read_file(dir_.file("points_0000.ply")) == frame0) << threads;
    EXPECT_TRUE(testing::read_file(dir_.file("points_0001.ply")) == frame1) << threads;
    // The same timing lines in the same order (as wall time); frame 0's colouring, done while
    // frame 1 is sampled, is still reported before frame 1's lines.
    EXPECT_EQ(timing_labels(r.err), timing_labels(one.err)) << r.err;
    EXPECT_EQ(lines(r.err).size(), 6u) << r.err;
  }
  std::vector<std::string> bad = {"--threads", "-1"};
  for (const std::string& arg : args()) bad.push_back(arg);
  const Outcome refused = run(dir_, bad);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("ERROR: --threads must be an integer", 0), 0u) << refused.err;
  EXPECT_EQ(refused.out.find("Loading camera data"), std::string::npos) << refused.out;
  const Outcome help = run(dir_, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind(usage_line(kProgram, true) + "\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("Usage: " + kProgram + " [options] numcams "), std::string::npos);
  for (const char* option : {"--threads N", "--camera-ids LIST", "--colour-all",
                             "--normal-radius R", "--quiet"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option << "\n" << help.out;
}

// A capture whose cameras are numbered 3 to 10 (the scene's files renamed by links): with
// --camera-ids 3-10 it gives the points of the scene as numbered from 0. The list must hold
// numcams cameras, and a missing file names its camera and place in the list.
TEST_F(Sculptor, CameraIdsMapTheTemplateNumbersToTheListedCameras) {
  ASSERT_EQ(run(dir_, args()).status, 0);
  testing::TempDir input;
  for (int cam = 0; cam < 8; ++cam) {
    const std::string from = std::to_string(cam), to = std::to_string(cam + 3);
    fs::create_symlink(scene_dir_->path() / ("cam" + from + ".txt"),
                       input.path() / ("cam" + to + ".txt"));
    for (const char* frame : {"_0000.png", "_0001.png"})
      for (const char* kind : {"img", "sil"})
        fs::create_symlink(scene_dir_->path() / (kind + from + frame),
                           input.path() / (kind + to + frame));
  }
  std::vector<std::string> a = args();
  const std::string folder = scene_dir_->path().string();
  for (int i = 1; i <= 3; ++i) a[i].replace(0, folder.size(), input.path().string());
  a[4] = dir_.file("ids_%04ld.ply");
  a.insert(a.begin(), {"--camera-ids", "3-10"});
  const Outcome r = run(dir_, a);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* frame : {"0000", "0001"})
    EXPECT_TRUE(testing::read_file(dir_.file(std::string("ids_") + frame + ".ply")) ==
                testing::read_file(dir_.file(std::string("points_") + frame + ".ply")))
        << frame;

  a[1] = "3-9";
  Outcome wrong = run(dir_, a);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out, "");
  EXPECT_EQ(wrong.err, "ERROR: --camera-ids '3-9' lists 7 cameras but numcams is 8; they must "
                       "agree\n");
  a[1] = "3-8,8-9";
  EXPECT_EQ(run(dir_, a).err, "ERROR: --camera-ids '3-8,8-9': camera 8 appears twice\n");

  a[1] = "3-6,11,7-9";  // camera 11 has no calibration: the 5th camera of the list
  wrong = run(dir_, a);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("cam11.txt (calibration of camera 11, entry 5 of --camera-ids)\n"),
            std::string::npos)
      << wrong.err;
  a[1] = "3-10";
  fs::remove(input.path() / "sil7_0001.png");
  wrong = run(dir_, a);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find((input.path() / "sil7_0001.png").string()), std::string::npos);
  EXPECT_NE(wrong.err.find("(camera 7, entry 5 of --camera-ids)\n"), std::string::npos)
      << wrong.err;
}

// --colour-all leaves no point with the default grey; the points the blend colours keep their
// colours, and the positions and normals are those of the plain run.
TEST_F(Sculptor, ColourAllLeavesNoDefaultColour) {
  ASSERT_EQ(run(dir_, args()).status, 0);
  std::vector<std::string> a = args();
  a[4] = dir_.file("all_%04ld.ply");
  a.insert(a.begin(), "--colour-all");
  const Outcome r = run(dir_, a);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* frame : {"0000", "0001"}) {
    std::vector<Patch> plain, all;
    read_points_color(dir_.file(std::string("points_") + frame + ".ply"), plain, 1);
    read_points_color(dir_.file(std::string("all_") + frame + ".ply"), all, 1);
    ASSERT_EQ(all.size(), plain.size());
    std::size_t grey_before = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(all[i].pos, plain[i].pos);
      EXPECT_EQ(all[i].normal, plain[i].normal);
      const bool grey = plain[i].r == 64 && plain[i].g == 64 && plain[i].b == 64;
      grey_before += grey;
      if (!grey) {
        EXPECT_TRUE(all[i].r == plain[i].r && all[i].g == plain[i].g && all[i].b == plain[i].b)
            << frame << " point " << i;
      }
      EXPECT_FALSE(all[i].r == 64 && all[i].g == 64 && all[i].b == 64) << frame << " point " << i;
    }
    EXPECT_GT(grey_before, 0u) << "the scene should leave some points grey without the option";
  }
  // With two threads a frame is coloured while the next is sampled: the same bytes.
  const std::string frame0 = testing::read_file(dir_.file("all_0000.ply"));
  const std::string frame1 = testing::read_file(dir_.file("all_0001.ply"));
  a.insert(a.begin(), {"--threads", "2"});
  ASSERT_EQ(run(dir_, a).status, 0);
  EXPECT_TRUE(testing::read_file(dir_.file("all_0000.ply")) == frame0);
  EXPECT_TRUE(testing::read_file(dir_.file("all_0001.ply")) == frame1);
}

// --quiet: no progress or timing lines, the closing summary, and errors as always.
TEST_F(Sculptor, QuietPrintsOnlyProblemsAndASummary) {
  std::vector<std::string> a = args();
  a.insert(a.begin(), "--quiet");
  const Outcome r = run(dir_, a);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote 2 frames (0 to 1), 4000 points in all, to " +
                       dir_.file("points_%04ld.ply") + "\n");
  EXPECT_EQ(r.err, "");
  a[8] = "50"; a[9] = "50"; a[10] = "50";
  a[11] = "51"; a[12] = "51"; a[13] = "51";
  const Outcome failed = run(dir_, a);
  EXPECT_EQ(failed.status, 1);
  for (const std::string& line : lines(failed.out))
    EXPECT_EQ(line.rfind("WARNING: ", 0), 0u) << line;
  EXPECT_FALSE(failed.out.empty());
  EXPECT_EQ(failed.err.rfind("ERROR: frame 0 yields no surface point.", 0), 0u) << failed.err;
}

TEST_F(Sculptor, BinaryOptionWritesTheSamePointsInBinary) {
  ASSERT_EQ(run(dir_, args()).status, 0);
  std::vector<std::string> a = args();
  a[4] = dir_.file("binary_%04ld.ply");
  a.insert(a.begin(), "--binary");
  const Outcome r = run(dir_, a);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* frame : {"0000", "0001"}) {
    const std::string text = dir_.file(std::string("points_") + frame + ".ply");
    const std::string binary = dir_.file(std::string("binary_") + frame + ".ply");
    EXPECT_EQ(testing::read_file(binary).rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u);
    std::vector<Patch> from_text, from_binary;
    read_points_color(text, from_text, 1);
    read_points_color(binary, from_binary, 1);
    ASSERT_EQ(from_binary.size(), from_text.size());
    // The text file holds the binary file's doubles rounded by "%e".
    char buf[64];
    auto rounded = [&](double v) {
      std::snprintf(buf, sizeof buf, "%e", v);
      return std::strtod(buf, nullptr);
    };
    for (std::size_t i = 0; i < from_text.size(); ++i) {
      Patch p = from_binary[i];
      for (int c = 0; c < 3; ++c) {
        p.pos[c] = rounded(p.pos[c]);
        p.normal[c] = rounded(p.normal[c]);
      }
      ASSERT_EQ(p, from_text[i]) << frame << " point " << i;
    }
  }
}

// With two threads frame 0's file is written while frame 1 is read and sampled; a silhouette of
// frame 1 that is missing or damaged still stops the run where one thread stops it, after frame
// 0's file and frame 1's first line.
TEST_F(Sculptor, FailureInALaterFrameKeepsEarlierFiles) {
  for (const bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged" : "missing");
    // Frame 1 of camera 3 cannot be read: frame 0 is written, then the run stops.
    std::vector<std::string> a = args();
    testing::TempDir input;
    for (const auto& e : fs::directory_iterator(scene_dir_->path()))
      fs::copy(e.path(), input.path() / e.path().filename());
    const std::string bad = (input.path() / "sil3_0001.png").string();
    if (damaged) {
      const std::string png = testing::read_file(bad);
      testing::write_file(bad, png.substr(0, png.size() / 2));  // cut off halfway
    } else {
      fs::remove(bad);
    }
    const std::string folder = scene_dir_->path().string();
    for (int i = 1; i <= 3; ++i) a[i].replace(0, folder.size(), input.path().string());
    const Outcome r = run(dir_, a);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(r.out.size() - 8), "Frame 1\n") << r.out;
    EXPECT_TRUE(fs::exists(dir_.file("points_0000.ply")));
    EXPECT_FALSE(fs::exists(dir_.file("points_0001.ply")));
    EXPECT_EQ(read_points(dir_.file("points_0000.ply")).size(), 2000u);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    EXPECT_EQ(lines(r.err).back().rfind("ERROR", 0), 0u) << r.err;
    const std::string frame0 = testing::read_file(dir_.file("points_0000.ply"));
    fs::remove(dir_.file("points_0000.ply"));
    // Frame 0 is coloured and written while frame 1 is read: the same file all the same.
    expect_same_failure_with_two_threads(dir_, a, r);
    EXPECT_TRUE(testing::read_file(dir_.file("points_0000.ply")) == frame0);
    EXPECT_FALSE(fs::exists(dir_.file("points_0001.ply")));
    fs::remove(dir_.file("points_0000.ply"));
  }
}

// With two threads a frame's colour images are read while its silhouettes are sampled; a colour
// image that cannot be read still stops the run before any line of that frame's sampling, as
// with one thread.
TEST_F(Sculptor, MissingColourImageStopsTheFrameAsWithOneThread) {
  testing::TempDir input;
  for (const auto& e : fs::directory_iterator(scene_dir_->path()))
    fs::copy(e.path(), input.path() / e.path().filename());
  const std::string missing = (input.path() / "img5_0001.png").string();
  fs::remove(missing);
  std::vector<std::string> a = args();
  const std::string folder = scene_dir_->path().string();
  for (int i = 1; i <= 3; ++i) a[i].replace(0, folder.size(), input.path().string());
  const Outcome one = run(dir_, a);
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.out.substr(one.out.size() - 8), "Frame 1\n") << one.out;
  EXPECT_NE(lines(one.err).back().find(missing), std::string::npos) << one.err;
  // Frame 0 is coloured from its own images before frame 1's are read.
  const std::string frame0 = testing::read_file(dir_.file("points_0000.ply"));
  fs::remove(dir_.file("points_0000.ply"));
  expect_same_failure_with_two_threads(dir_, a, one);
  EXPECT_TRUE(testing::read_file(dir_.file("points_0000.ply")) == frame0);
  EXPECT_FALSE(fs::exists(dir_.file("points_0001.ply")));
}

TEST_F(Sculptor, RunThatCannotFitInMemoryIsRefusedBeforeTheFirstFrame) {
  std::vector<std::string> a = args();
  a[13] = "2147483647";
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Loading camera data\nProcessing sequence\n");
  EXPECT_EQ(r.err.rfind("ERROR: sampling 2147483647 points per frame over ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("ask for fewer points"), std::string::npos) << r.err;
}

// A missing output folder is found before the cameras are read, not after a frame's work.
// With two threads frame 0 is written while frame 1 is sampled; an error of that write still
// ends the run before frame 1's first line.
TEST_F(Sculptor, UnwritableOutputIsAnError) {
  std::vector<std::string> a = args();
  a[4] = dir_.file("no_such_folder/points_%04ld.ply");
  const Outcome missing = run(dir_, a);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "ERROR: the folder '" + dir_.file("no_such_folder") +
                             "' of the output file '" +
                             dir_.file("no_such_folder/points_0000.ply") +
                             "' (frame 0) does not exist\n");
  // A folder where frame 1's output file should be: frame 1's folder is checked as well.
  a[4] = dir_.file("out%ld/points.ply");
  fs::create_directory(dir_.file("out0"));
  EXPECT_NE(run(dir_, a).err.find("'" + dir_.file("out1") + "' of the output file"),
            std::string::npos);

  a[4] = dir_.file("points_%04ld.ply");
  fs::create_directory(dir_.file("points_0000.ply"));  // cannot be replaced by a file
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: cannot write the points of frame 0 to '" +
                       dir_.file("points_0000.ply") + "'"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("Frame 1"), std::string::npos) << r.out;
  expect_same_failure_with_two_threads(dir_, a, r);
}

// An output template that names an input would replace it: refused before anything is read,
// whether the name is the same, or a symbolic or hard link leads to the input.
TEST_F(Sculptor, OutputThatIsAnInputIsRefused) {
  testing::TempDir input;
  for (const auto& e : fs::directory_iterator(scene_dir_->path()))
    fs::copy(e.path(), input.path() / e.path().filename());
  std::vector<std::string> a = args();
  const std::string folder = scene_dir_->path().string();
  for (int i = 1; i <= 3; ++i) a[i].replace(0, folder.size(), input.path().string());
  const std::string sil = (input.path() / "sil3_0001.png").string();
  const std::string before = testing::read_file(sil);
  a[4] = (input.path() / "sil3_%04ld.png").string();
  Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: the output file '" + (input.path() / "sil3_0000.png").string() +
                       "' of frame 0 is the silhouette of camera 3, frame 0 '" +
                       (input.path() / "sil3_0000.png").string() +
                       "': writing it would replace an input of the run\n");
  fs::create_symlink(input.path() / "img2_0001.png", dir_.file("link_0001.ply"));
  fs::create_hard_link(input.path() / "cam5.txt", dir_.file("hard_0000.ply"));
  a[4] = dir_.file("link_%04ld.ply");
  r = run(dir_, a);
  EXPECT_NE(r.err.find("' of frame 1 is the colour image of camera 2, frame 1 '"),
            std::string::npos)
      << r.err;
  a[4] = dir_.file("hard_%04ld.ply");
  r = run(dir_, a);
  EXPECT_NE(r.err.find("' of frame 0 is the calibration file of camera 5 '"), std::string::npos)
      << r.err;
  EXPECT_TRUE(testing::read_file(sil) == before);
}

TEST_F(Sculptor, ImageOfTheWrongSizeIsNamed) {
  // A copy of the scene whose camera 2 claims images twice as wide as they are.
  testing::TempDir input;
  for (const auto& e : fs::directory_iterator(scene_dir_->path()))
    fs::copy(e.path(), input.path() / e.path().filename());
  std::string cam2 = testing::read_file((input.path() / "cam2.txt").string());
  cam2.replace(cam2.find("320"), 3, "640");
  testing::write_file((input.path() / "cam2.txt").string(), cam2);
  std::vector<std::string> a = args();
  const std::string folder = scene_dir_->path().string();
  for (int i = 1; i <= 3; ++i) a[i].replace(0, folder.size(), input.path().string());
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: the silhouette '" + (input.path() / "sil2_0000.png").string() +
                       "' is 320 x 240 pixels but camera 2 is calibrated for 640 x 240\n");
  // An image larger than its calibration was taken with another one (cropped or scaled): its
  // pixels are not those the camera sees, so it is refused as well.
  cam2.replace(cam2.find("640"), 3, "300");
  testing::write_file((input.path() / "cam2.txt").string(), cam2);
  EXPECT_EQ(run(dir_, a).err, "ERROR: the silhouette '" +
                                  (input.path() / "sil2_0000.png").string() +
                                  "' is 320 x 240 pixels but camera 2 is calibrated for 300 x "
                                  "240\n");
}

TEST_F(Sculptor, BoxThatMissesTheObjectEndsWithAnError) {
  std::vector<std::string> a = args();
  a[7] = "50"; a[8] = "50"; a[9] = "50";
  a[10] = "51"; a[11] = "51"; a[12] = "51";
  const Outcome r = run(dir_, a);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("WARNING: "), std::string::npos) << r.out;
  // Without a seed the growth makes no try: its rate is 0, not 0 / 0.
  EXPECT_NE(r.out.find("\n0 points after 0 tries (0)\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("ERROR: frame 0 yields no surface point. Check that the box"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir_.file("points_0000.ply")));
}

}  // namespace
}  // namespace tervik
