#include "sculptor/options.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik {
namespace {

// The message of the TervikError that f throws, or "" when it throws nothing.
template <typename F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> good_args() {
  return {"8", "cam%ld.txt", "im%ld_%04ld.png", "fg%ld_%04ld.png", "out%03ld.ply",
          "0", "2", "-1", "-1", "-1", "1", "1", "1", "10000"};
}

TEST(NameTemplate, FormatsIntegersAsPrintfWould) {
  EXPECT_EQ(NameTemplate("cam%ld.txt", 1, "camera template").format(2), "cam2.txt");
  EXPECT_EQ(NameTemplate("fg%ld_%04ld.png", 2, "silhouette template").format(1, 7), "fg1_0007.png");
  EXPECT_EQ(NameTemplate("out%03ld.ply", 1, "output template").format(12), "out012.ply");
  EXPECT_EQ(NameTemplate("100%%_%d", 1, "output template").format(5), "100%_5");
  EXPECT_EQ(NameTemplate("fixed.ply", 1, "output template").format(5), "fixed.ply");
  // Compare every accepted flag, width and precision against the C library.
  const char* conversions[] = {"%d", "%i", "%u", "%ld", "%lld", "%li", "%lu", "%5d", "%-5d|",
                         "%+d", "% d", "%05ld", "%.3d", "%8.4lld", "%-+08.3li", "%#d", "%x",
                         "%X", "%o", "%#lx", "%08llX", "%#o", "%-6.3lo"};
  const long long values[] = {0, 7, -7, 123456, -2147483648LL, 4294967296LL};
  for (const char* conversion : conversions) {
    std::string text = conversion;
    for (long long v : values) {
      std::string ll = text;
      const auto pos = ll.find_first_of("diuxXo");
      const bool uns = ll[pos] != 'd' && ll[pos] != 'i';
      std::string fmt = ll.substr(0, pos);
      while (!fmt.empty() && fmt.back() == 'l') fmt.pop_back();
      fmt += std::string("ll") + ll[pos] + ll.substr(pos + 1);
      char expect[128];
      if (uns) std::snprintf(expect, sizeof expect, fmt.c_str(), static_cast<unsigned long long>(v));
      else std::snprintf(expect, sizeof expect, fmt.c_str(), v);
      EXPECT_EQ(NameTemplate(text, 1, "output template").format(v), expect) << text << " " << v;
    }
  }
  // The frame number is formatted as a 64-bit value even by %d.
  EXPECT_EQ(NameTemplate("%d", 1, "output template").format(5000000000LL), "5000000000");
}

TEST(NameTemplate, RejectsEverythingButIntegerConversions) {
  const struct {
    const char* text;
    const char* part;
  } bad[] = {
      {"cam%s.txt", "holds the conversion '%s'"},
      {"cam%n.txt", "holds the conversion '%n'"},
      {"cam%f.txt", "holds the conversion '%f'"},
      {"cam%*d.txt", "holds the conversion '%*'"},
      {"cam%.*d.txt", "holds the conversion '%.*'"},
      {"cam%1$d.txt", "holds the conversion '%1$'"},
      {"cam%e.txt", "holds the conversion '%e'"},
      {"cam%c.txt", "holds the conversion '%c'"},
      {"cam%hd.txt", "holds the conversion '%h'"},
      {"cam%lld%d.txt", "holds 2 or more conversions but receives only 1 value"},
      {"cam%d", ""},  // fine
      {"cam%", "ends inside the conversion '%'"},
      {"cam%05", "ends inside the conversion '%05'"},
      {"cam%600d", "has a field width above 511"},
      {"cam%.9999999999999999999d", "has a precision above 511"},
  };
  for (const auto& b : bad) {
    const std::string msg = error_of([&] { NameTemplate(b.text, 1, "camera template"); });
    if (std::string(b.part).empty()) {
      EXPECT_EQ(msg, "") << b.text;
      continue;
    }
    EXPECT_NE(msg.find("the camera template '" + std::string(b.text) + "'"), std::string::npos)
        << msg;
    EXPECT_NE(msg.find(b.part), std::string::npos) << msg;
  }
  EXPECT_EQ(error_of([] { NameTemplate("im%d_%d", 2, "image template"); }), "");
  EXPECT_NE(error_of([] { NameTemplate("im%d_%d_%d", 2, "image template"); })
                .find("holds 3 or more conversions but receives only 2 values"),
            std::string::npos);
}

TEST(NameTemplate, RejectsNamesLongerThan511Characters) {
  const std::string long_prefix(505, 'a');
  const NameTemplate t(long_prefix + "%04d", 1, "output template");
  EXPECT_EQ(t.format(12).size(), 509u);
  EXPECT_EQ(t.format(123456).size(), 511u);
  const std::string msg = error_of([&] { t.format(1234567); });
  EXPECT_NE(msg.find("is 512 characters long; at most 511 are allowed"), std::string::npos) << msg;
  EXPECT_NE(msg.find("output template"), std::string::npos);
  EXPECT_NE(error_of([] { NameTemplate("%500d%500d", 2, "image template").format(1, 2); }), "");
}

TEST(ParseOptions, DerivesStepAndMotionRadius) {
  std::vector<std::string> args = good_args();
  args[7] = "0"; args[8] = "0"; args[9] = "0";
  args[10] = "1.2"; args[11] = "1.6"; args[12] = "0";  // diagonal 2.0
  const Options o = parse_options(args);
  EXPECT_EQ(o.numcams, 8);
  EXPECT_EQ(o.first_frame, 0);
  EXPECT_EQ(o.last_frame, 2);
  EXPECT_EQ(o.npoints, 10000);
  EXPECT_DOUBLE_EQ(o.step, 0.01);
  EXPECT_DOUBLE_EQ(o.motion_radius, 0.08);
  EXPECT_EQ(o.box_max, Point3D(1.2, 1.6, 0));
  EXPECT_EQ(o.fgtemplate.format(1, 7), "fg1_0007.png");
  EXPECT_EQ(o.outtemplate.format(12), "out012.ply");
}

TEST(ParseOptions, RejectsBadNumbersNamingTheArgument) {
  const struct {
    int index;
    const char* value;
    const char* part;
  } bad[] = {
      {0, "eight", "the argument numcams 'eight' is not a decimal integer"},
      {0, "4", "the argument numcams '4' is out of range (5 to 32767)"},
      {0, "-3", "out of range"},
      {0, "40000", "out of range"},
      {0, "8x", "is not a decimal integer"},
      {0, "", "the argument numcams '' is not a decimal integer"},
      {0, "8 ", "is not a decimal integer"},
      {0, " ", "is not a decimal integer"},
      {5, "1.5", "the argument firstframe '1.5' is not a decimal integer"},
      {6, "2147483648", "the argument lastframe '2147483648' is out of range"},
      {6, "99999999999999999999", "out of range"},
      {7, "abc", "the argument xmin 'abc' is not a number"},
      {9, "1e999", "the argument zmin '1e999' is out of range"},
      {11, "nan", "the argument ymax 'nan' is out of range"},
      {12, "1,5", "the argument zmax '1,5' is not a number"},
      {13, "36", "the argument npoints '36' is out of range (37 to 2147483647)"},
      {13, "1O000", "the argument npoints '1O000' is not a decimal integer"},
      {1, "cam%s", "the camera template 'cam%s'"},
      {2, "im%f", "the image template 'im%f'"},
      {3, "fg%n", "the silhouette template 'fg%n'"},
      {4, "out%d%d", "the output template 'out%d%d'"},
  };
  for (const auto& b : bad) {
    std::vector<std::string> args = good_args();
    args[b.index] = b.value;
    const std::string msg = error_of([&] { parse_options(args); });
    EXPECT_NE(msg.find(b.part), std::string::npos) << "argument " << b.index << ": " << msg;
  }
  std::vector<std::string> args = good_args();
  args[7] = args[10] = "1";
  args[8] = args[11] = "2";
  args[9] = args[12] = "3";
  EXPECT_NE(error_of([&] { parse_options(args); }).find("has no extent"), std::string::npos);
  EXPECT_NE(error_of([&] { parse_options({"8"}); }).find("expected 14 arguments, got 1"),
            std::string::npos);
}

TEST(ParseOptions, NumbersMayHaveLeadingWhiteSpace) {
  std::vector<std::string> args = good_args();
  args[0] = " 8";
  args[5] = "\t0";
  args[7] = "  -1.5";
  args[13] = " 10000";
  const Options o = parse_options(args);
  EXPECT_EQ(o.numcams, 8);
  EXPECT_EQ(o.box_min.x, -1.5);
  EXPECT_EQ(o.npoints, 10000);
}

TEST(ParseOptions, RefusesTemplatesThatGiveSeveralCamerasOrFramesOneFile) {
  const struct {
    int index;
    const char* value;
    const char* first, *last;
    const char* message;  // "" when accepted
  } cases[] = {
      {4, "out.ply", "0", "2",
       "the output template 'out.ply' has no conversion for the frame number, but frames 0 to 2 "
       "are processed: every frame would overwrite the file of the one before"},
      {4, "out.ply", "5", "5", ""},  // one frame: one file is right
      {1, "cam.txt", "0", "0",
       "the camera template 'cam.txt' has no conversion for the camera number: all 8 cameras "
       "would read the same calibration file"},
      {2, "im.png", "3", "3",
       "the image template 'im.png' has no conversion for the camera number (the first value): "
       "all 8 cameras would read the same file"},
      {3, "fg%d.png", "0", "1",
       "the silhouette template 'fg%d.png' has no conversion for the frame number (the second "
       "value), but frames 0 to 1 are processed: every frame would read the same files"},
      {3, "fg%d.png", "1", "1", ""},
      {2, "im%x_%o.png", "0", "9", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = good_args();
    args[c.index] = c.value;
    args[5] = c.first;
    args[6] = c.last;
    EXPECT_EQ(error_of([&] { parse_options(args); }), c.message) << c.value;
  }
}

TEST(ParseOptions, UsageLineNamesTheProgram) {
  EXPECT_EQ(usage_line("sculptor"),
            "Usage: sculptor numcams camtemplate imtemplate fgtemplate outtemplate firstframe "
            "lastframe xmin ymin zmin xmax ymax zmax npoints");
}

}  // namespace
}  // namespace tervik

namespace tervik {
namespace {

// The option values that change a run: a camera list must hold numcams cameras, a frame range
// may not run backwards, and the normals' radius stays within what the neighbourhoods can hold.
TEST(ParseOptions, CameraListFrameRangeAndNormalRadius) {
  std::vector<std::string> args = {"8",  "cam%ld.txt", "im%ld_%04ld.png", "fg%ld_%04ld.png",
                                   "out%03ld.ply", "0", "2", "0", "0", "0", "1", "1", "1",
                                   "10000"};
  Options o = parse_options(args);
  set_camera_ids(o, "1-4,6-9");
  EXPECT_EQ(o.camera_ids, (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9}));
  auto error = [&](auto&& f) {
    try {
      f();
    } catch (const TervikError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(error([&] { set_camera_ids(o, "1-9"); }),
            "--camera-ids '1-9' lists 9 cameras but numcams is 8; they must agree");
  EXPECT_EQ(error([&] { set_camera_ids(o, "9-1"); }), "--camera-ids '9-1': reversed range '9-1'");
  args[5] = "3";
  EXPECT_EQ(error([&] { parse_options(args); }),
            "the frame range is reversed: firstframe 3 comes after lastframe 2, so no frame "
            "would be processed");
  args[6] = "3";
  EXPECT_EQ(parse_options(args).first_frame, 3);  // one frame

  EXPECT_EQ(parse_normal_radius("1.5"), 1.5);
  EXPECT_EQ(parse_normal_radius("0.5"), 0.5);
  EXPECT_EQ(parse_normal_radius("4"), 4.0);
  for (const char* bad : {"0.4", "4.5", "", "2x", "nan", "-1"})
    EXPECT_EQ(error([&] { parse_normal_radius(bad); }),
              std::string("--normal-radius must be a number from 0.5 to 4 (sampling lengths), "
                          "got '") + bad + "'");
}

}  // namespace
}  // namespace tervik
