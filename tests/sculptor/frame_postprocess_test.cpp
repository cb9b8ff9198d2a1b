#include "sculptor/frame_postprocess.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sculptor/post_scene.h"
#include "stage_fixture.h"

namespace tervik {
namespace {

using multiview::MultiView;
using testing::flat_image;
using testing::look_at_camera;
using testing::make_patch;

// The lines of a stream's text.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Six cameras on the axes, 5 from the origin, each image one colour of its own.
MultiView<ImageRGB<unsigned char>> axis_views() {
  MultiView<ImageRGB<unsigned char>> views;
  const Point3D eyes[6] = {{5, 0, 0}, {-5, 0, 0}, {0, 5, 0}, {0, -5, 0}, {0, 0, 5}, {0, 0, -5}};
  for (int i = 0; i < 6; ++i) {
    const Point3D up = std::abs(eyes[i].y) > 0 ? Point3D(0, 0, 1) : Point3D(0, 1, 0);
    views.emplace_back(look_at_camera(eyes[i], {0, 0, 0}, 80, 64, 48, up),
                       flat_image(64, 48, static_cast<unsigned char>(40 * i + 10), 200,
                                  static_cast<unsigned char>(250 - 40 * i)));
  }
  return views;
}

// `count` patches at random on the unit sphere with noisy normals.
std::vector<Patch> noisy_sphere(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0, 1);
  std::vector<Patch> out;
  for (int i = 0; i < count; ++i) {
    Point3D n(g(rng), g(rng), g(rng));
    n = n / norm(n);
    Point3D m = n + Point3D(g(rng), g(rng), g(rng)) * 0.2;
    out.push_back(make_patch(n * (1 + 0.01 * g(rng)), m / norm(m)));
  }
  return out;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST(PostprocessFrame, PrintsTheStagesInOrderWithTheirCounts) {
  const auto views = axis_views();
  std::vector<Patch> surface = noisy_sphere(2000, 1);
  PostprocessWork work;
  // Progress and timing into one stream, in the order they are written.
  std::ostringstream both;
  postprocess_frame(views, testing::stage_params(0, 0.2), FrameTimer(), surface, work, both, both);
  const std::vector<std::string> lines = lines_of(both.str());
  // The normal estimation may add its neighbourhood statistics right after "normals...".
  std::vector<std::string> fixed;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (starts_with(lines[i], "Neighbors per patch: ") ||
        lines[i].find(" patches left unchanged") != std::string::npos) {
      EXPECT_TRUE(fixed.size() == 1) << "line " << i << " out of place: " << lines[i];
    } else {
      fixed.push_back(lines[i]);
    }
  }
  ASSERT_EQ(fixed.size(), 8u);
  EXPECT_EQ(fixed[0], "normals...");
  EXPECT_EQ(fixed[1], "2000 points");
  EXPECT_EQ(fixed[2], "smoothing surface...");
  EXPECT_TRUE(fixed[3].size() > 17 && fixed[3].substr(fixed[3].size() - 17) == " neighs per patch")
      << fixed[3];
  EXPECT_EQ(fixed[4], "2000 points");
  EXPECT_TRUE(starts_with(fixed[5], "Points and post-filtering: ")) << fixed[5];
  EXPECT_NE(fixed[5].find(" fps or "), std::string::npos) << fixed[5];
  EXPECT_EQ(fixed[5].substr(fixed[5].size() - 8), " s/frame");
  EXPECT_EQ(fixed[6], "coloring...");
  EXPECT_TRUE(starts_with(fixed[7], "Points and post-filtering and coloring: ")) << fixed[7];
  EXPECT_EQ(fixed[7].substr(fixed[7].size() - 8), " s/frame");
}

TEST(PostprocessFrame, LeavesEveryPointColouredAndKeepsItsStorage) {
  const auto views = axis_views();
  const std::vector<Patch> sampled = noisy_sphere(1500, 2);
  std::vector<Patch> surface = sampled;
  PostprocessWork work;
  work.scratch = {Patch{}};
  std::ostringstream sink;
  const StageParameters params = testing::stage_params(0, 0.2);
  postprocess_frame(views, params, FrameTimer(), surface, work, sink, sink);
  ASSERT_EQ(surface.size(), sampled.size());
  // One thread draws every camera's map into the same storage.
  const std::vector<DepthMap>& maps = work.depth_maps;
  ASSERT_EQ(maps.size(), 1u);
  int grey = 0, unseen = 0, outward = 0;
  for (std::size_t i = 0; i < surface.size(); ++i) {
    const Patch& p = surface[i];
    grey += p.r == 128 && p.g == 128 && p.b == 128;
    unseen += p.r == 64 && p.g == 64 && p.b == 64;
    outward += dot(p.normal, p.pos) > 0;
    // Every camera's image has green 200, so every blend keeps it (up to truncation).
    EXPECT_GE(p.g, 199);
    // Points stay close to where they were sampled.
    EXPECT_LT(norm(p.pos - sampled[i].pos), 0.2);
  }
  EXPECT_EQ(grey, 0);
  EXPECT_EQ(unseen, 0);
  // The re-estimated normals agree with the sampled (outward) ones on the whole.
  EXPECT_GT(outward, 1490);

  // The next frame rebuilds the map from its own (smoothed) points alone: the last camera's.
  std::vector<Patch> next = noisy_sphere(1500, 3);
  postprocess_frame(views, params, FrameTimer(), next, work, sink, sink);
  MultiView<> cameras;
  for (const auto& view : views) cameras.emplace_back(view.get<0>());
  std::vector<DepthMap> fresh;
  depth_maps_pixel(fresh, next, cameras);
  EXPECT_EQ(maps[0].rect.x0, fresh[5].rect.x0);
  EXPECT_EQ(maps[0].rect.y1, fresh[5].rect.y1);
  EXPECT_EQ(maps[0].depth, fresh[5].depth);
}

// The progress lines and every byte of the points are the same for every thread count, also
// when the lists of a dense set are too long to be stored and are found again per patch.
TEST(PostprocessFrame, ThreadCountChangesNothing) {
  const auto views = axis_views();
  for (const double L : {0.2, 3.0}) {
    // At the large L every neighbourhood is the whole set: fewer points, for time.
    const std::vector<Patch> sampled = noisy_sphere(L < 1.0 ? 3000 : 1000, 4);
    std::vector<Patch> reference;
    std::string reference_text;
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(::testing::Message() << "L " << L << ", " << threads << " threads");
      std::vector<Patch> surface = sampled;
      PostprocessWork work;
      std::ostringstream progress, timing;
      postprocess_frame(views, testing::stage_params(0, L, {}, {}, 0.0, threads), FrameTimer(),
                        surface, work, progress, timing);
      EXPECT_EQ(work.near.stored(), L < 1.0);
      if (threads == 1) {
        reference = surface;
        reference_text = progress.str();
        continue;
      }
      EXPECT_EQ(progress.str(), reference_text);
      ASSERT_EQ(surface.size(), reference.size());
      for (std::size_t i = 0; i < surface.size(); ++i) ASSERT_EQ(surface[i], reference[i]) << i;
    }
  }
}

// Filtering in two parts gives filter_frame's points and progress lines, whatever the split and
// the threads of each part; the first part makes the kept points final, and the second leaves
// them alone (another thread reads them meanwhile).
// The same with the normals' own, wider neighbourhoods (--normal-radius).
TEST(PostprocessFrame, FilteringInTwoPartsMatchesTheWholeFiltering) {
  for (const double L : {0.2, 3.0}) {
    // A wider radius at the large L would take in the whole set: slow, and no other path.
    for (const double radius : L < 1.0 ? std::vector<double>{1.0, 2.0} : std::vector<double>{1.0}) {
      const auto params = [&](unsigned threads) {
        StageParameters p = testing::stage_params(0, L, {}, {}, 0.0, threads);
        p.normal_radius = radius;
        return p;
      };
      // At the large L every neighbourhood is the whole set: fewer points, for time.
      const std::size_t n = L < 1.0 ? 3000 : 1000;
      const std::vector<Patch> sampled = noisy_sphere(static_cast<int>(n), 6);
      std::vector<Patch> reference = sampled;
      PostprocessWork whole_work;
      std::ostringstream reference_progress, timing;
      filter_frame(params(1), FrameTimer(), reference, whole_work, reference_progress, timing);
      for (const std::size_t keep : {std::size_t(0), std::size_t(75), n, n + 2000}) {
        for (const unsigned threads : {1u, 2u}) {
          SCOPED_TRACE(::testing::Message() << "L " << L << ", radius " << radius << ", keep "
                                            << keep << ", " << threads << " threads first");
          std::vector<Patch> surface = sampled, filtered;
          PostprocessWork work;
          FilterParts parts;
          std::ostringstream progress;
          filter_first(params(threads), keep, surface, filtered, work, parts, progress);
          ASSERT_EQ(filtered.size(), sampled.size());
          const std::size_t kept = std::min(keep, sampled.size());
          for (std::size_t i = 0; i < kept; ++i) ASSERT_EQ(filtered[i], reference[i]) << i;
          // Marks in the kept points' colours must survive the second part.
          for (std::size_t i = 0; i < kept; ++i)
            filtered[i].r = static_cast<unsigned char>(i % 7);
          filter_rest(3 - threads, filtered, work, parts, progress);
          for (std::size_t i = 0; i < sampled.size(); ++i) {
            Patch expected = reference[i];
            if (i < kept) expected.r = static_cast<unsigned char>(i % 7);
            ASSERT_EQ(filtered[i], expected) << i;
          }
          EXPECT_EQ(progress.str(), reference_progress.str());
        }
      }
    }
  }
}

// A wider neighbourhood for the normals averages out more of the positions' noise: on a noisy
// sphere the normals come closer to the true ones, while the smoothing keeps its own radius L.
TEST(PostprocessFrame, WiderNormalRadiusGivesTruerNormals) {
  const std::vector<Patch> sampled = noisy_sphere(6000, 8);
  std::vector<double> median_angle;
  for (const double radius : {1.0, 2.5}) {
    std::vector<Patch> surface = sampled;
    StageParameters params = testing::stage_params(0, 0.06);
    params.normal_radius = radius;
    PostprocessWork work;
    std::ostringstream sink;
    filter_frame(params, FrameTimer(), surface, work, sink, sink);
    std::vector<double> angles;
    for (const Patch& p : surface)
      angles.push_back(std::acos(std::clamp(dot(p.normal, p.pos / norm(p.pos)), -1.0, 1.0)));
    std::nth_element(angles.begin(), angles.begin() + angles.size() / 2, angles.end());
    median_angle.push_back(angles[angles.size() / 2] * 180 / M_PI);
  }
  EXPECT_LT(median_angle[1], 0.7 * median_angle[0])
      << median_angle[0] << " degrees at radius L, " << median_angle[1] << " at 2.5 L";
}

}  // namespace
}  // namespace tervik
