// The weaver program as a user runs it: arguments, messages, exit status and output file.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/mesh.h"
#include "weaver/ball_pivoting.h"
#include "weaver/read_points.h"

namespace tervik {
namespace {

using testing::TempDir;
using testing::read_file;
using testing::write_file;

const std::string kWeaver = TERVIK_BINARY_DIR "/weaver/weaver";
const std::string kUsage = "Usage: " + kWeaver + " points mesh nn minangle decimation npoints\n";

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs weaver with `args` (already quoted as needed) inside `dir`.
Result weaver(const TempDir& dir, const std::string& args) {
  const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
  const int rc = std::system((kWeaver + " " + args + " >" + out + " 2>" + err).c_str());
  Result r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

std::vector<Patch> unit_sphere(std::size_t n) {
  const double golden = M_PI * (3.0 - std::sqrt(5.0));
  std::vector<Patch> pts(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double z = 1.0 - 2.0 * (i + 0.5) / n, s = std::sqrt(1.0 - z * z);
    pts[i].pos = Point3D(s * std::cos(golden * i), s * std::sin(golden * i), z);
    pts[i].normal = pts[i].pos;
    pts[i].g = static_cast<unsigned char>(i % 256);
  }
  // In spiral order every k-th point would lie on a few spiral arms; shuffled, decimation
  // thins the sphere evenly.
  std::shuffle(pts.begin(), pts.end(), std::mt19937(3));
  return pts;
}

std::vector<std::string> listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Weaver, WrongArgumentCountPrintsUsage) {
  TempDir dir;
  for (const std::string args : {"", "a b c d e", "a b c d e f g"}) {
    const Result r = weaver(dir, args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.out, kUsage) << args;
  }
}

TEST(Weaver, BadNumbersAreRejectedWithUsage) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(100));
  const struct {
    std::string numbers, message;
  } cases[] = {
      {"2 30 1 100", "nn must be an integer from 3 to 100"},
      {"abc 30 1 100", "nn must be an integer from 3 to 100"},
      {"12x 30 1 100", "nn must be an integer from 3 to 100"},
      {"-5 30 1 100", "nn must be an integer from 3 to 100"},
      {"101 30 1 100", "nn must be an integer from 3 to 100"},
      {"2000 30 1 100", "nn must be an integer from 3 to 100"},
      {"20 thirty 1 100", "minangle must be a number of degrees"},
      {"20 nan 1 100", "minangle must be a number of degrees"},
      {"20 30 0 100", "decimation must be an integer of at least 1"},
      {"20 30 1.5 100", "decimation must be an integer of at least 1"},
      {"20 30 1 -1", "npoints must be a non-negative integer"},
      {"20 30 1 99999999999", "npoints must be a non-negative integer"},
      {"20 30 1 ''", "npoints must be a non-negative integer"},
  };
  for (const auto& c : cases) {
    const Result r = weaver(dir, "p.ply m.ply " + c.numbers);
    EXPECT_EQ(r.status, 1) << c.numbers;
    EXPECT_EQ(r.out, kUsage) << c.numbers;
    EXPECT_EQ(r.err, "ERROR: " + c.message + "\n") << c.numbers;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("m.ply")));
}

TEST(Weaver, UnreadableInputEndsTheRunWithItsMessage) {
  TempDir dir;
  const std::string in = dir.file("none.ply"), mesh = dir.file("m.ply");
  Result r = weaver(dir, in + " " + mesh + " 20 30 1 100");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR( read_points ) : Unable to read from file " + in + "\n");
  write_file(in, "ply\nformat ascii 1.0\nelement vertex 5\n");
  r = weaver(dir, in + " " + mesh + " 20 30 1 100");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR( read_points ) : " + in + " line 4: file ends inside the header\n");
  EXPECT_FALSE(std::filesystem::exists(mesh));
}

TEST(Weaver, UnwritableOutputFailsWithoutLeavingAFile) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(200));
  const std::string mesh = dir.file("missing/m.ply");
  const Result r = weaver(dir, dir.file("p.ply") + " " + mesh + " 20 30 1 1000");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(r.err.find('\n') + 1),
            "ERROR(WriteListedMesh) Cannot open file " + mesh + ": the folder '" +
                dir.file("missing") + "' does not exist\n");
  EXPECT_EQ(listing(dir), std::vector<std::string>{"p.ply"});
}

// --silhouettes and its companions are checked, and the silhouettes read, before any meshing:
// a wrong combination or an unreadable file ends the run with one line and no mesh.
TEST(Weaver, SilhouetteOptionsAreCheckedBeforeMeshing) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(200));
  const std::string sil = "--silhouettes " + dir.file("s%ld_%ld.png") + " ";
  const std::string cal = "--calibration " + dir.file("c%ld.txt") + " ";
  const struct {
    std::string options, message;
  } cases[] = {
      {sil + cal + "--cameras 1", "ERROR: --silhouettes needs --watertight"},
      {"--watertight --frame 2", "ERROR: --frame is only used with --silhouettes"},
      {"--watertight " + sil + "--cameras 2", "ERROR: --silhouettes needs --calibration"},
      {"--watertight " + sil + cal, "ERROR: --silhouettes needs --cameras or --camera-ids"},
      {"--watertight " + sil + cal + "--cameras 3 --camera-ids 0-1",
       "ERROR: --cameras 3 does not match the 2 cameras of --camera-ids"},
      {"--watertight --silhouettes " + dir.file("s%d%d%d.png") + " " + cal + "--cameras 1",
       "ERROR: the silhouette template '" + dir.file("s%d%d%d.png") +
           "' holds 3 or more conversions but receives only 2 values;"},
      {"--watertight " + sil + cal + "--cameras 1 --frame 1x", "ERROR: --frame must be an integer"},
      // Frames may be negative, as sculptor's are: the run goes on to the first file.
      {"--watertight " + sil + cal + "--cameras 1 --frame -3",
       "ERROR(Camera.read_parameters) : Cannot open  " + dir.file("c0.txt")},
  };
  for (const auto& c : cases) {
    const Result r = weaver(dir, c.options + " " + dir.file("p.ply") + " " + dir.file("m.ply") + " 20 30 1 1000");
    EXPECT_EQ(r.status, 1) << c.options;
    EXPECT_EQ(r.out, "") << c.options;
    EXPECT_EQ(r.err.substr(0, c.message.size()), c.message) << c.options;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(listing(dir), std::vector<std::string>{"p.ply"});
}

// The mesh may not replace the point file: by the same name, through a symbolic or a hard link.
TEST(Weaver, OutputThatIsTheInputIsRefused) {
  TempDir dir;
  const std::string in = dir.file("p.ply");
  write_file_normal_color(in, unit_sphere(200));
  const std::string bytes = read_file(in);
  std::filesystem::create_symlink(in, dir.file("sym.ply"));
  std::filesystem::create_hard_link(in, dir.file("hard.ply"));
  for (const std::string& out : {in, dir.path().string() + "/./p.ply", dir.file("sym.ply"), dir.file("hard.ply")}) {
    const Result r = weaver(dir, in + " " + out + " 20 30 1 1000");
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_EQ(r.err, "ERROR: the mesh file " + out + " is the point file " + in +
                         ": refusing to replace the input\n");
    EXPECT_EQ(read_file(in), bytes) << out;
  }
}

// --quiet: the same mesh; no progress or timing lines, only one summary line (and warnings).
TEST(Weaver, QuietPrintsOnlyTheSummary) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(3000));
  for (const std::string closing : {"", "--watertight "}) {
    const Result loud = weaver(dir, closing + dir.file("p.ply") + " " + dir.file("a.ply") + " 20 30 1 100000");
    const Result quiet =
        weaver(dir, "--quiet " + closing + dir.file("p.ply") + " " + dir.file("b.ply") + " 20 30 1 100000");
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_FALSE(loud.out.empty() && loud.err.empty());
    EXPECT_TRUE(read_file(dir.file("a.ply")) == read_file(dir.file("b.ply"))) << closing;
    FaceVertexMesh m;
    read_mesh(dir.file("b.ply"), m);
    EXPECT_EQ(quiet.out, "Wrote " + dir.file("b.ply") + ": " + std::to_string(m.vertices.size()) +
                             " vertices, " + std::to_string(m.faces.size()) + " faces\n");
    EXPECT_EQ(quiet.err, "");
  }
}

// A full run writes the triangulation of the (decimated) points under the name given, every
// point a vertex, and reports the time of the triangulation alone.
TEST(Weaver, WritesTheMeshOfTheDecimatedPoints) {
  TempDir dir;
  const std::vector<Patch> pts = unit_sphere(900);
  write_file_normal_color(dir.file("p.ply"), pts);
  for (unsigned int decimation : {1u, 3u}) {
    const std::string mesh = dir.file("out" + std::to_string(decimation) + ".mesh");
    const Result r = weaver(dir, dir.file("p.ply") + " " + mesh + " 20 30 " +
                                     std::to_string(decimation) + " 100000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_match(r.err, std::regex("Total: \\S+ fps or \\S+ s/frame\n")))
        << r.err;
    FaceVertexMesh written;
    read_mesh(mesh, written);
    // The same triangulation in process, from the points as the program reads them and the
    // same random sequence: every face is written, withdrawn ones too.
    std::vector<Patch> kept;
    read_points_color(dir.file("p.ply"), kept, decimation);
    ASSERT_EQ(kept.size(), (pts.size() + decimation - 1) / decimation);
    std::vector<bool> flags;
    std::srand(1);  // the program's unseeded sequence
    const FaceVertexMesh expected = get_mesh(kept, 20, 30, flags, 100000);
    ASSERT_EQ(written.vertices.size(), kept.size());
    EXPECT_EQ(written.colors[1].y, pts[decimation].g);
    EXPECT_GT(written.faces.size(), kept.size());
    EXPECT_EQ(written.faces, expected.faces);
  }
  EXPECT_EQ(listing(dir), (std::vector<std::string>{"out1.mesh", "out3.mesh", "p.ply"}));
}

TEST(Weaver, BinaryPointCopyGivesTheSameMeshAndBinaryMeshHoldsIt) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(900));
  // The binary copy of the ASCII file: the values the ASCII file holds, stored as doubles.
  std::vector<Patch> ascii;
  read_points_color(dir.file("p.ply"), ascii, 1);
  write_file_normal_color(dir.file("b.ply"), ascii, io::PlyFormat::binary_little_endian);
  for (const char* decimation : {"1", "3"}) {
    const std::string args = std::string(" 20 30 ") + decimation + " 100000";
    ASSERT_EQ(weaver(dir, dir.file("p.ply") + " " + dir.file("a.mesh") + args).status, 0);
    ASSERT_EQ(weaver(dir, dir.file("b.ply") + " " + dir.file("b.mesh") + args).status, 0);
    const std::string from_ascii = read_file(dir.file("a.mesh"));
    EXPECT_GT(from_ascii.size(), 1000u);
    EXPECT_TRUE(read_file(dir.file("b.mesh")) == from_ascii) << "decimation " << decimation;
  }
  // --binary writes the same mesh in binary, with the vertices' doubles unrounded.
  const Result r = weaver(dir, "--binary " + dir.file("p.ply") + " " + dir.file("c.mesh") +
                                   " 20 30 1 100000");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("c.mesh")).rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u);
  FaceVertexMesh a, c;
  ASSERT_EQ(weaver(dir, dir.file("p.ply") + " " + dir.file("a.mesh") + " 20 30 1 100000").status, 0);
  read_mesh(dir.file("a.mesh"), a);
  read_mesh(dir.file("c.mesh"), c);
  EXPECT_EQ(c.faces, a.faces);
  EXPECT_EQ(c.colors, a.colors);
  ASSERT_EQ(c.vertices.size(), ascii.size());
  for (std::size_t i = 0; i < ascii.size(); ++i) EXPECT_EQ(c.vertices[i], ascii[i].pos) << i;
}

// --threads N: the same mesh and progress bytes for every N, the timing line in the same form;
// a bad value is refused with the usage text; --help lists the option.
TEST(Weaver, ThreadsGiveTheSameBytes) {
  TempDir dir;
  write_file_normal_color(dir.file("p.ply"), unit_sphere(3000));
  const Result one = weaver(dir, dir.file("p.ply") + " " + dir.file("m1.ply") + " 20 30 1 100000");
  ASSERT_EQ(one.status, 0) << one.err;
  const std::string mesh = read_file(dir.file("m1.ply"));
  for (const std::string threads : {"1", "2", "3", "0", "=4"}) {
    const std::string option = threads[0] == '=' ? "--threads" + threads : "--threads " + threads;
    const Result r = weaver(dir, option + " " + dir.file("p.ply") + " " + dir.file("mt.ply") +
                                     " 20 30 1 100000");
    ASSERT_EQ(r.status, 0) << threads << r.err;
    EXPECT_EQ(r.out, one.out) << threads;
    EXPECT_TRUE(std::regex_match(r.err, std::regex("Total: \\S+ fps or \\S+ s/frame\n")))
        << r.err;
    EXPECT_EQ(read_file(dir.file("mt.ply")), mesh) << threads;
  }
  const Result bad = weaver(dir, "--threads -1 " + dir.file("p.ply") + " m.ply 20 30 1 100");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, kUsage);
  EXPECT_NE(bad.err.find("--threads"), std::string::npos) << bad.err;
  const Result help = weaver(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--threads N"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tervik
