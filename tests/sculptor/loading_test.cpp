#include "sculptor/loading.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/camera.h"
#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tervik/writeimage.h"

namespace tervik {
namespace {

// A camera of the given image size with distinct, recognisable matrix entries.
Camera make_camera(std::int64_t width, std::int64_t height, double seed) {
  Camera c;
  c.im_width() = width;
  c.im_height() = height;
  for (int i = 0; i < 9; ++i) {
    c.k().data()[i] = 2 * seed + i;
    c.rot().data()[i] = seed - i;
  }
  for (int i = 0; i < 3; ++i) c.trans().data()[i] = seed * i;
  // P = K [R | t], so that the camera is consistent.
  const double* k = c.k().data();
  const double* r = c.rot().data();
  const double* t = c.trans().data();
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      double sum = 0;
      for (int j = 0; j < 3; ++j) sum += k[row * 3 + j] * (col < 3 ? r[j * 3 + col] : t[j]);
      c.p().data()[row * 4 + col] = sum;
    }
  return c;
}

// Writes cam0.txt ... into dir with the sizes given.
void write_cameras(const testing::TempDir& dir, const std::vector<std::pair<int, int>>& sizes) {
  for (std::size_t i = 0; i < sizes.size(); ++i)
    make_camera(sizes[i].first, sizes[i].second, 1.0 + i)
        .write_parameters(dir.file("cam" + std::to_string(i) + ".txt"));
}

std::string load_error(const std::function<void()>& f) {
  try {
    f();
  } catch (const BacktracedTervikException& e) {
    return e.what();
  }
  return "";
}

TEST(LoadCameras, ReadsEveryCalibrationIntoAllThreeViewSets) {
  testing::TempDir dir;
  write_cameras(dir, {{640, 480}, {645, 483}, {320, 240}});
  std::ostringstream out;
  const ViewSets views =
      load_cameras(3, NameTemplate(dir.file("cam%ld.txt"), 1, "camera template"), out);
  EXPECT_EQ(out.str(), "Loading camera data\nProcessing sequence\n");
  ASSERT_EQ(views.colour.size(), 3u);
  ASSERT_EQ(views.silhouettes.size(), 3u);
  ASSERT_EQ(views.coarse.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    Camera expect;
    expect.read_parameters(dir.file("cam" + std::to_string(i) + ".txt"));
    const Camera& c = views.colour[i].get<0>();
    const Camera& s = views.silhouettes[i].get<0>();
    const Camera coarse = multiview::scale_camera(expect, 0.125);
    for (int k = 0; k < 12; ++k) {
      EXPECT_EQ(c.p().data()[k], expect.p().data()[k]);
      EXPECT_EQ(s.p().data()[k], expect.p().data()[k]);
      EXPECT_EQ(views.coarse[i].get<0>().p().data()[k], coarse.p().data()[k]);
    }
    EXPECT_EQ(c.im_width(), expect.im_width());
    EXPECT_EQ(views.coarse[i].get<0>().im_width(), coarse.im_width());
    EXPECT_EQ(views.coarse[i].get<0>().im_height(), coarse.im_height());
  }
  EXPECT_EQ(views.coarse[1].get<0>().im_width(), 80u);
  EXPECT_EQ(views.coarse[1].get<0>().im_height(), 60u);
}

TEST(LoadCameras, ReportsMissingAndUnusableCalibrations) {
  testing::TempDir dir;
  write_cameras(dir, {{640, 480}, {640, 480}});
  const NameTemplate cams(dir.file("cam%ld.txt"), 1, "camera template");
  std::ostringstream out;
  EXPECT_EQ(load_error([&] { load_cameras(3, cams, out); }),
            "ERROR(Camera.read_parameters) : Cannot open  " + dir.file("cam2.txt") +
                " (calibration of camera 2)");
  // The message came after "Loading camera data" and before "Processing sequence".
  EXPECT_EQ(out.str(), "Loading camera data\n");

  write_cameras(dir, {{640, 480}, {0, 480}});
  EXPECT_NE(load_error([&] { load_cameras(2, cams, out); })
                .find("the calibration file '" + dir.file("cam1.txt") +
                      "' of camera 1 gives an image size of 0 x 480"),
            std::string::npos);
  write_cameras(dir, {{40000, 480}});
  EXPECT_NE(load_error([&] { load_cameras(1, cams, out); }).find("between 1 and 32767 pixels"),
            std::string::npos);
}

TEST(LoadCameras, NamesTheCameraOfABadCalibrationAndWarnsAboutAForeignP) {
  testing::TempDir dir;
  write_cameras(dir, {{640, 480}, {640, 480}, {640, 480}});
  const NameTemplate cams(dir.file("cam%ld.txt"), 1, "camera template");
  // Camera 1 gets the P of camera 0.
  Camera c0, c1;
  c0.read_parameters(dir.file("cam0.txt"));
  c1.read_parameters(dir.file("cam1.txt"));
  c1.p() = c0.p();
  c1.write_parameters(dir.file("cam1.txt"));
  std::ostringstream out;
  load_cameras(3, cams, out);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("Loading camera data\nWARNING: the projection matrix of camera 1 ('" +
                           dir.file("cam1.txt") + "') differs from K [R | t] by ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(" (relative); the camera projects with P alone\nProcessing sequence\n"),
            std::string::npos)
      << text;

  std::string cam2 = testing::read_file(dir.file("cam2.txt"));
  cam2.replace(cam2.find("640"), 3, "640.5");
  testing::write_file(dir.file("cam2.txt"), cam2);
  EXPECT_EQ(load_error([&] { load_cameras(3, cams, out); }),
            "ERROR(Camera::read_parameters) : Data read (width) is not consistent: '" +
                dir.file("cam2.txt") +
                "' line 2: the image width '640.5' is not a whole number (calibration of camera "
                "2)");
}

class LoadFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    write_cameras(dir_, {{64, 48}, {64, 48}});
    std::ostringstream out;
    views_ = load_cameras(2, NameTemplate(dir_.file("cam%ld.txt"), 1, "camera template"), out);
  }
  // Writes the silhouette and colour image of camera `cam`, frame `frame`.
  void write_images(int cam, int frame, int sw, int sh, int cw, int ch) {
    ImageGray<unsigned char> sil(sw, sh);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) sil[x][y] = (x / 8 + y / 8 + cam + frame) % 3 == 0 ? 255 : 0;
    io::write_png(fg_.format(cam, frame), sil);
    ImageRGB<unsigned char> rgb(cw, ch);
    rgb.channel(0)[1][2] = static_cast<unsigned char>(10 * cam + frame);
    io::write_png(im_.format(cam, frame), rgb);
  }

  testing::TempDir dir_;
  ViewSets views_;
  NameTemplate fg_{dir_.file("fg%ld_%04ld.png"), 2, "silhouette template"};
  NameTemplate im_{dir_.file("im%ld_%04ld.png"), 2, "image template"};
};

TEST_F(LoadFrame, ReadsSilhouettesColourImagesAndTheirReductions) {
  for (int frame : {7, 8}) {
    write_images(0, frame, 64, 48, 64, 48);
    write_images(1, frame, 64, 48, 64, 48);
  }
  for (int frame : {7, 8}) {
    load_frame(views_, fg_, im_, frame);
    for (int cam = 0; cam < 2; ++cam) {
      const auto& sil = views_.silhouettes[cam].get<1>();
      ASSERT_EQ(sil.width(), 64u);
      EXPECT_EQ(sil[0][0], (cam + frame) % 3 == 0 ? 255 : 0);
      const auto& coarse = views_.coarse[cam].get<1>();
      ASSERT_EQ(coarse.width(), 8u);
      ASSERT_EQ(coarse.height(), 6u);
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(coarse[x][y], sil[8 * x][8 * y]);
      EXPECT_EQ(views_.colour[cam].get<1>().channel(0)[1][2], 10 * cam + frame);
    }
  }
}

// A reading without the coarse views reads the silhouettes and leaves the reductions of the
// frame before, on every thread count.
TEST_F(LoadFrame, ReadingWithoutTheCoarseViewsKeepsTheirImages) {
  for (int frame : {7, 8})
    for (int cam = 0; cam < 2; ++cam) write_images(cam, frame, 64, 48, 64, 48);
  for (unsigned threads : {1u, 2u}) {
    ViewSets views = views_;
    std::ostringstream out;
    FrameReading(views, fg_, im_, 7, threads, ColourImages::with_silhouettes).finish(out);
    ViewSets want = views;
    FrameReading(views, fg_, im_, 8, threads, ColourImages::with_silhouettes, false).finish(out);
    for (int cam = 0; cam < 2; ++cam) {
      const auto& sil = views.silhouettes[cam].get<1>();
      EXPECT_EQ(sil[0][0], (cam + 8) % 3 == 0 ? 255 : 0);
      const auto& coarse = views.coarse[cam].get<1>();
      ASSERT_EQ(coarse.width(), 8u);
      int unlike_frame_8 = 0;  // blocks where frame 8's own reduction would differ
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
          EXPECT_EQ(coarse[x][y], want.coarse[cam].get<1>()[x][y]);
          unlike_frame_8 += coarse[x][y] != sil[8 * x][8 * y];
        }
      EXPECT_GT(unlike_frame_8, 0);
      EXPECT_EQ(views.colour[cam].get<1>().channel(0)[1][2], 10 * cam + 8);
    }
  }
}

TEST_F(LoadFrame, RejectsImagesWhoseSizeDiffersFromTheCamera) {
  write_images(0, 1, 64, 48, 64, 48);
  write_images(1, 1, 64, 40, 64, 48);
  EXPECT_EQ(load_error([&] { load_frame(views_, fg_, im_, 1); }),
            "the silhouette '" + fg_.format(1, 1) +
                "' is 64 x 40 pixels but camera 1 is calibrated for 64 x 48");
  write_images(1, 2, 64, 48, 63, 48);
  write_images(0, 2, 64, 48, 64, 48);
  EXPECT_EQ(load_error([&] { load_frame(views_, fg_, im_, 2); }),
            "the colour image '" + im_.format(1, 2) +
                "' is 63 x 48 pixels but camera 1 is calibrated for 64 x 48");
}

// An image larger than its calibration was taken with another calibration (cropped or scaled):
// refused like a smaller one, naming the camera and both sizes.
TEST_F(LoadFrame, LargerImagesAreRefused) {
  write_images(0, 4, 64, 48, 64, 48);
  write_images(1, 4, 64, 48, 70, 50);  // camera 1's colour image is larger
  std::ostringstream out;
  EXPECT_EQ(load_error([&] { load_frame(views_, fg_, im_, 4, 1, out); }),
            "the colour image '" + im_.format(1, 4) +
                "' is 70 x 50 pixels but camera 1 is calibrated for 64 x 48");
  write_images(1, 5, 66, 48, 64, 48);  // camera 1's silhouette is wider
  write_images(0, 5, 64, 48, 64, 48);
  EXPECT_EQ(load_error([&] { load_frame(views_, fg_, im_, 5, 1, out); }),
            "the silhouette '" + fg_.format(1, 5) +
                "' is 66 x 48 pixels but camera 1 is calibrated for 64 x 48");
  EXPECT_EQ(out.str(), "");
}

// Cameras read in parallel report the error of the lowest-numbered failing camera, whichever
// read fails first.
TEST_F(LoadFrame, ThreadsReportTheFirstCameraInOrder) {
  write_images(0, 6, 70, 48, 64, 48);  // camera 0's silhouette is larger
  write_images(1, 6, 64, 48, 70, 50);  // camera 1's colour image is larger
  std::string one;
  for (unsigned threads : {1u, 2u}) {
    std::ostringstream out;
    const std::string error = load_error([&] { load_frame(views_, fg_, im_, 6, threads, out); });
    EXPECT_NE(error.find(fg_.format(0, 6)), std::string::npos) << error;
    if (threads == 1) one = error;
    EXPECT_EQ(error, one);
  }
}

// With a camera list, views are read from the listed cameras' files and messages name both the
// camera and its place in the list.
TEST_F(LoadFrame, CameraListPicksTheFilesAndNamesTheCamera) {
  write_cameras(dir_, {{64, 48}, {64, 48}, {64, 48}});
  std::ostringstream out;
  ViewSets views = load_cameras(2, NameTemplate(dir_.file("cam%ld.txt"), 1, "camera template"),
                                out, {2, 0});
  write_images(2, 3, 64, 48, 64, 48);
  write_images(0, 3, 64, 48, 64, 48);
  load_frame(views, fg_, im_, 3);
  EXPECT_EQ(views.colour[0].get<1>().channel(0)[1][2], 10 * 2 + 3);  // view 0 is camera 2
  EXPECT_EQ(views.colour[1].get<1>().channel(0)[1][2], 10 * 0 + 3);
  write_images(2, 4, 64, 48, 64, 48);
  write_images(0, 4, 64, 40, 64, 48);
  EXPECT_EQ(load_error([&] { load_frame(views, fg_, im_, 4); }),
            "the silhouette '" + fg_.format(0, 4) +
                "' is 64 x 40 pixels but camera 0, entry 2 of --camera-ids, is calibrated for "
                "64 x 48");
  std::remove(im_.format(2, 5).c_str());
  write_images(0, 5, 64, 48, 64, 48);
  ImageGray<unsigned char> sil(64, 48);
  io::write_png(fg_.format(2, 5), sil);
  const std::string missing = load_error([&] { load_frame(views, fg_, im_, 5); });
  EXPECT_NE(missing.find(im_.format(2, 5)), std::string::npos) << missing;
  EXPECT_NE(missing.find(" (camera 2, entry 1 of --camera-ids)"), std::string::npos) << missing;
  EXPECT_EQ(load_error([&] { load_cameras(2, NameTemplate(dir_.file("cam%ld.txt"), 1, "camera "
                                                        "template"), out, {0, 7}); }),
            "ERROR(Camera.read_parameters) : Cannot open  " + dir_.file("cam7.txt") +
                " (calibration of camera 7, entry 2 of --camera-ids)");
}

TEST_F(LoadFrame, MissingImageNamesTheFile) {
  write_images(0, 3, 64, 48, 64, 48);
  const std::string msg = load_error([&] { load_frame(views_, fg_, im_, 3); });
  EXPECT_NE(msg.find(fg_.format(1, 3)), std::string::npos) << msg;
}

// Cameras read in parallel give the views and the error that one thread gives.
TEST_F(LoadFrame, ThreadsReadTheSameViewsAndReportTheLowestFailingCamera) {
  write_images(0, 4, 64, 48, 64, 48);
  write_images(1, 4, 64, 48, 64, 48);
  ViewSets parallel = views_;
  load_frame(views_, fg_, im_, 4, 1);
  load_frame(parallel, fg_, im_, 4, 3);
  auto same = [](const auto& a, const auto& b) {
    for (int c = 0; c < static_cast<int>(a.n_channels()); ++c) {
      const auto& x = a.channel(c);
      const auto& y = b.channel(c);
      if (x.num_elements() != y.num_elements() ||
          !std::equal(x.data(), x.data() + x.num_elements(), y.data()))
        return false;
    }
    return a.width() == b.width() && a.height() == b.height();
  };
  for (int cam = 0; cam < 2; ++cam) {
    EXPECT_TRUE(same(views_.silhouettes[cam].get<1>(), parallel.silhouettes[cam].get<1>()));
    EXPECT_TRUE(same(views_.coarse[cam].get<1>(), parallel.coarse[cam].get<1>()));
    EXPECT_TRUE(same(views_.colour[cam].get<1>(), parallel.colour[cam].get<1>()));
  }
  // Camera 0's silhouette has the wrong size and camera 1's images are missing: camera 0's
  // error, whichever thread finishes first.
  write_images(0, 5, 64, 40, 64, 48);
  for (unsigned threads : {1u, 2u, 4u}) {
    EXPECT_EQ(load_error([&] { load_frame(parallel, fg_, im_, 5, threads); }),
              "the silhouette '" + fg_.format(0, 5) +
                  "' is 64 x 40 pixels but camera 0 is calibrated for 64 x 48")
        << threads << " threads";
  }
}

// The colour images read behind the caller's back: the same views, and after finish() the same
// warnings and the same error as load_frame, whether the silhouette or the colour image of a
// camera fails, and whatever failed before or after it.
TEST_F(LoadFrame, ColourImagesReadBehindReportAsLoadFrame) {
  struct Case {
    int frame;
    int sizes[2][4];  // per camera: silhouette and colour image width, height (0: no file)
    bool silhouettes_read;
  };
  const Case cases[] = {
      {10, {{64, 48, 64, 48}, {64, 48, 64, 48}}, true},  // no error
      {11, {{64, 48, 0, 0}, {64, 40, 64, 48}}, false},   // camera 0's colour image missing first
      {12, {{64, 48, 70, 48}, {0, 0, 64, 48}}, false},   // camera 0's colour image too large
      {13, {{64, 48, 63, 48}, {64, 48, 64, 48}}, true},  // camera 0's colour image too small
      {14, {{64, 48, 64, 48}, {64, 48, 0, 0}}, true},    // camera 1's colour image missing
      {15, {{64, 48, 70, 48}, {66, 48, 64, 48}}, false}, // camera 0's colour image first
  };
  for (const Case& c : cases) {
    for (int cam = 0; cam < 2; ++cam) {
      const int* z = c.sizes[cam];
      write_images(cam, c.frame, z[0] > 0 ? z[0] : 64, z[0] > 0 ? z[1] : 48,
                   z[2] > 0 ? z[2] : 64, z[2] > 0 ? z[3] : 48);
      if (z[0] == 0) std::remove(fg_.format(cam, c.frame).c_str());
      if (z[2] == 0) std::remove(im_.format(cam, c.frame).c_str());
    }
    ViewSets want_views = views_;
    std::ostringstream want;
    const std::string want_error =
        load_error([&] { load_frame(want_views, fg_, im_, c.frame, 1, want); });
    for (unsigned threads : {2u, 3u}) {
      SCOPED_TRACE(::testing::Message() << "frame " << c.frame << ", " << threads << " threads");
      ViewSets views = views_;
      std::ostringstream got;
      std::string got_error;
      {
        FrameReading reading(views, fg_, im_, c.frame, threads, ColourImages::behind);
        EXPECT_EQ(reading.silhouettes_read(), c.silhouettes_read);
        got_error = load_error([&] { reading.finish(got); });
      }
      EXPECT_EQ(got_error, want_error);
      EXPECT_EQ(got.str(), want.str());
      if (!want_error.empty()) continue;
      for (int cam = 0; cam < 2; ++cam) {
        EXPECT_EQ(views.colour[cam].get<1>().width(), want_views.colour[cam].get<1>().width());
        EXPECT_EQ(views.colour[cam].get<1>().channel(0)[1][2], 10 * cam + c.frame);
        EXPECT_EQ(views.silhouettes[cam].get<1>().width(),
                  want_views.silhouettes[cam].get<1>().width());
      }
    }
    EXPECT_EQ(want_error.empty(), c.frame == 10) << want_error;
  }
}

// With colour images read behind, finish() reads the cameras no helper has taken yet. Over many
// cameras and successive frames every image must still be read exactly once per frame, with the
// warnings and views of a one-thread read.
TEST_F(LoadFrame, FinishSharesTheColourImagesWithTheThreadsBehind) {
  constexpr int kCameras = 12;
  write_cameras(dir_, std::vector<std::pair<int, int>>(kCameras, {64, 48}));
  std::ostringstream cameras_out;
  const ViewSets start =
      load_cameras(kCameras, NameTemplate(dir_.file("cam%ld.txt"), 1, "camera template"),
                   cameras_out);
  for (int frame : {20, 21})
    for (int cam = 0; cam < kCameras; ++cam) write_images(cam, frame, 64, 48, 64, 48);
  ViewSets want_views = start;
  std::ostringstream want;
  for (int frame : {20, 21}) load_frame(want_views, fg_, im_, frame, 1, want);
  for (unsigned threads : {2u, 4u}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    ViewSets views = start;
    std::ostringstream got;
    for (int frame : {20, 21}) {
      FrameReading reading(views, fg_, im_, frame, threads, ColourImages::behind);
      reading.finish(got);
      for (int cam = 0; cam < kCameras; ++cam) {
        ASSERT_EQ(views.colour[cam].get<1>().width(), 64u);
        EXPECT_EQ(views.colour[cam].get<1>().channel(0)[1][2], 10 * cam + frame);
      }
    }
    EXPECT_EQ(got.str(), want.str());
  }
  // Read on request, the colour images of the previous frame stay in the views until
  // read_colour_images() is called (the previous frame is coloured from them meanwhile); then
  // two threads share the cameras.
  ViewSets views = start;
  std::ostringstream got;
  for (int frame : {20, 21}) {
    FrameReading reading(views, fg_, im_, frame, 2, ColourImages::on_request);
    EXPECT_TRUE(reading.silhouettes_read());
    for (int cam = 0; cam < kCameras; ++cam) {
      ASSERT_EQ(views.silhouettes[cam].get<1>().width(), 64u);
      if (frame == 21) EXPECT_EQ(views.colour[cam].get<1>().channel(0)[1][2], 10 * cam + 20);
    }
    std::thread other([&] { reading.read_colour_images(); });
    reading.read_colour_images();
    other.join();
    reading.finish(got);
    for (int cam = 0; cam < kCameras; ++cam)
      EXPECT_EQ(views.colour[cam].get<1>().channel(0)[1][2], 10 * cam + frame);
  }
  EXPECT_EQ(got.str(), want.str());
}

}  // namespace
}  // namespace tervik
