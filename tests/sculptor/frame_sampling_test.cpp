#include "sculptor/frame_sampling.h"

#include <algorithm>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "sculptor/loading.h"
#include "sculptor/options.h"
#include "sculptor/sequence.h"
#include "sculptor/silhouette.h"
#include "test_util.h"
#include "tools/scene/scene.h"

namespace tervik {
namespace {

bool admissible(const SilhouetteViews& views, const Point3D& p) {
  short inside = 0, outside = 0;
  const bool outline = projection_test(views, p, inside, outside, kTolerance);
  return outline && inside >= kMinCameras && outside == kTolerance;
}

// The moving figure seen by 8 cameras at 320 x 240, two frames, 2000 points.
class FrameSampling : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    scene::SceneOptions so;
    so.width = 320;
    so.height = 240;
    so.frames = 2;
    so.points = 2000;
    scene_ = new scene::GeneratedScene(scene::generate_scene(dir_->path().string(), so));
  }
  static void TearDownTestSuite() {
    delete scene_;
    delete dir_;
  }
  void SetUp() override {
    options_ = parse_options(scene_->sculptor_arguments());
    std::ostringstream out;
    views_ = load_cameras(options_.numcams, options_.camtemplate, out);
  }

  static testing::TempDir* dir_;
  static scene::GeneratedScene* scene_;
  Options options_;
  ViewSets views_;
};
testing::TempDir* FrameSampling::dir_ = nullptr;
scene::GeneratedScene* FrameSampling::scene_ = nullptr;

TEST_F(FrameSampling, FirstFrameIsSeededLaterFramesAreTrackedAndAllPointsAreAdmissible) {
  std::vector<Patch> surface, scratch;
  std::vector<Point3D> seeds;
  const long long npoints = options_.npoints;
  const long long centres = npoints - static_cast<long long>(0.75 * npoints);
  for (long frame = scene_->first_frame; frame <= scene_->last_frame; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    load_frame(views_, options_.fgtemplate, options_.imtemplate, frame);
    const bool first = frame == scene_->first_frame;
    std::ostringstream progress, timing;
    const std::vector<Patch> previous = surface;
    sample_frame(views_, stage_parameters(options_, 1), first, surface, scratch, seeds,
                 FrameTimer(), progress, timing);
    surface.swap(scratch);
    const std::string out = progress.str(), err = timing.str();
    // The stages' own progress lines, then exactly one timing line.
    EXPECT_NE(out.find(" points after "), std::string::npos) << out;
    EXPECT_EQ(out.find(" lowres seeds after ") != std::string::npos, first) << out;
    EXPECT_EQ(err.rfind("Only points: ", 0), 0u) << err;
    EXPECT_NE(err.find(" fps or "), std::string::npos) << err;
    EXPECT_EQ(err.substr(err.size() - 9), " s/frame\n") << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    EXPECT_EQ(scratch, previous);  // the previous points are only read
    ASSERT_EQ(static_cast<long long>(surface.size()), 4 * centres);
    for (const Patch& p : surface) {
      ASSERT_TRUE(admissible(views_.silhouettes, p.pos)) << p.pos.x << " " << p.pos.y << " " << p.pos.z;
      EXPECT_EQ(p.r, 128);
    }
    if (first) {
      EXPECT_EQ(static_cast<long long>(seeds.size()), centres / 10);
      for (const Point3D& s : seeds) {
        EXPECT_TRUE(admissible(views_.coarse, s));
        for (int a = 0; a < 3; ++a) {
          EXPECT_GE(s[a], options_.box_min[a]);
          EXPECT_LE(s[a], options_.box_max[a]);
        }
      }
    }
  }
}

TEST_F(FrameSampling, TrackingAnEmptySurfaceEndsWithNoPoints) {
  load_frame(views_, options_.fgtemplate, options_.imtemplate, scene_->first_frame);
  const std::vector<Patch> previous;
  std::vector<Patch> surface(3);  // replaced
  std::vector<Point3D> seeds;
  std::ostringstream progress, timing;
  sample_frame(views_, stage_parameters(options_, 1), false, previous, surface, seeds,
               FrameTimer(), progress, timing);
  EXPECT_TRUE(surface.empty());
  EXPECT_NE(progress.str().find("WARNING: "), std::string::npos) << progress.str();
}

}  // namespace
}  // namespace tervik
