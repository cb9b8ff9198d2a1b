// texture_mesh: the atlas holds the photos' colours where cameras see the faces, the output does
// not depend on the thread count, glTF files read back as written and draw back as the photos,
// and bad input is refused with a message, exit status 1 and no output file.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/multiview_auxiliar.h"
#include "tervik/ply.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/common/gltf_read.h"
#include "tools/scene/scene.h"
#include "tools/texture/render_textured.h"
#include "tools/texture/texture_files.h"
#include "tools/texture/texture_mesh.h"
#include "tools/texture/visibility.h"

namespace tervik::texture {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;

// A sphere of `radius` about `centre` as an icosahedron split `levels` times, outward winding.
TriMesh icosphere(const Point3D& centre, double radius, int levels) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<Point3D> v = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  std::vector<Face> f = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9},
                         {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2},
                         {3, 2, 6}, {3, 6, 8}, {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10},
                         {8, 6, 7}, {9, 8, 1}};
  for (auto& p : v) p = p / norm(p);
  for (int l = 0; l < levels; ++l) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> mid;
    const auto middle = [&](std::uint32_t a, std::uint32_t b) {
      const auto key = std::minmax(a, b);
      auto it = mid.find(key);
      if (it != mid.end()) return it->second;
      const Point3D m = (v[a] + v[b]) / 2.0;
      v.push_back(m / norm(m));
      return mid[key] = std::uint32_t(v.size() - 1);
    };
    std::vector<Face> next;
    for (const Face& q : f) {
      const std::uint32_t a = middle(q[0], q[1]), b = middle(q[1], q[2]), c = middle(q[2], q[0]);
      next.insert(next.end(), {{q[0], a, c}, {q[1], b, a}, {q[2], c, b}, {a, b, c}});
    }
    f = next;
  }
  TriMesh mesh;
  for (const Point3D& p : v) mesh.positions.push_back(centre + p * radius);
  mesh.faces = f;
  mesh.colors.assign(mesh.positions.size(), Rgb{10, 200, 30});
  return mesh;
}

// A static sphere filmed by 8 cameras of 320 x 240, written to `folder`; its mesh alongside.
struct SphereScene {
  scene::GeneratedScene scene;
  TriMesh mesh;
  std::string mesh_file;
};

SphereScene sphere_scene(const std::string& folder) {
  scene::SceneOptions o;
  o.object = scene::ObjectKind::sphere;
  o.cameras = 8;
  o.layout = scene::CameraLayout::dome;
  o.width = 320;
  o.height = 240;
  o.frames = 1;
  SphereScene s{scene::generate_scene(folder, o), {}, folder + "/mesh.ply"};
  const scene::Primitive& ball = s.scene.object(0).primitives().at(0);
  s.mesh = icosphere(ball.a, ball.radii.x, 4);
  std::string ply = io::mesh_file_header(s.mesh.positions.size(), s.mesh.faces.size(), true,
                                         io::PlyFormat::ascii);
  for (std::size_t i = 0; i < s.mesh.positions.size(); ++i)
    io::append_mesh_vertex(ply, s.mesh.positions[i], &s.mesh.colors[i][0], io::PlyFormat::ascii);
  for (const Face& f : s.mesh.faces)
    io::append_mesh_face(ply, {f[0], f[1], f[2]}, io::PlyFormat::ascii);
  tervik::testing::write_file(s.mesh_file, ply);
  return s;
}

std::vector<View> read_views(const scene::GeneratedScene& s, bool silhouettes) {
  std::vector<View> views;
  for (int i = 0; i < s.cameras; ++i) {
    View v;
    v.camera = capture::read_camera_file(NameTemplate(s.camera_template, 1, "c").format(i));
    v.image = capture::read_rgb(NameTemplate(s.image_template, 2, "i").format(i, 0));
    if (silhouettes)
      v.silhouette = capture::read_gray(NameTemplate(s.silhouette_template, 2, "s").format(i, 0));
    views.push_back(std::move(v));
  }
  return views;
}

// Where a face's photo colour can be told exactly, the atlas holds it: at the centroid of every
// textured face away from the checker's cell borders, the atlas colour is the scene's shaded
// pattern colour there (which the photos show, the same from every camera). The vertex colours
// (green) would fail this everywhere.
TEST(TextureMesh, AtlasHoldsThePhotoColoursAndDoesNotDependOnThreads) {
  TempDir dir;
  const SphereScene s = sphere_scene(dir.path().string());
  const std::vector<View> views = read_views(s.scene, true);
  TextureOptions o;
  o.atlas_size = 1024;
  const TexturedMesh one = texture_mesh(s.mesh, views, o);
  EXPECT_GT(one.seen_faces, long(s.mesh.faces.size() * 8 / 10));
  EXPECT_GT(one.charts, 0);
  long checked = 0, matching = 0;
  const scene::ColorPattern& pattern = s.scene.truth.pattern;
  const Point3D centre = s.scene.object(0).primitives()[0].a;
  for (std::size_t f = 0; f < s.mesh.faces.size(); ++f) {
    if (one.face_view[f] < 0) continue;
    double u = 0, v = 0;
    Point3D q(0, 0, 0);
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t o3 = one.indices[3 * f + k];
      u += one.texcoords[2 * o3] / 3.0, v += one.texcoords[2 * o3 + 1] / 3.0;
      q += s.mesh.positions[s.mesh.faces[f][k]] / 3.0;
    }
    const Point3D n = (q - centre) / norm(q - centre);
    const Point3D on = centre + n * s.scene.object(0).primitives()[0].radii.x;
    // Skip faces within a fifth of a cell of a cell border: the flat face is not the sphere.
    bool near_border = false;
    for (double c : {on.x, on.y, on.z}) {
      const double r = c / pattern.cell - std::floor(c / pattern.cell);
      near_border = near_border || r < 0.2 || r > 0.8;
    }
    if (near_border) continue;
    const Rgb truth = scene::surface_color(pattern, on, n);
    const std::size_t at = std::size_t(v * 1024) * 1024 + std::size_t(u * 1024);
    int diff = 0;
    for (int c = 0; c < 3; ++c) diff = std::max(diff, std::abs(int(one.atlas.channel(c).data()[at]) - int(truth[c])));
    ++checked;
    matching += diff <= 24;
  }
  ASSERT_GT(checked, 200);
  EXPECT_GE(double(matching), 0.95 * double(checked)) << matching << " of " << checked;

  // The .glb reads back as written, the atlas decoded texel for texel.
  const std::string glb = dir.file("sphere.glb");
  const std::vector<unsigned char> png = encode_atlas(one.atlas, 0);
  EXPECT_EQ(png, encode_atlas(one.atlas, 0, 3));  // the PNG's bands compressed on 3 threads
  tools::write_glb(glb, to_gltf(one, png, false));
  const tools::GltfMesh back = tools::read_glb(glb);
  EXPECT_EQ(back.positions, one.positions);
  EXPECT_EQ(back.texcoords, one.texcoords);
  EXPECT_EQ(back.indices, one.indices);
  EXPECT_EQ(back.base_colour.mime_type, "image/png");
  const ImageRGB<unsigned char> texture = tools::decode_base_colour(back, glb);
  ASSERT_EQ(texture.width(), 1024u);
  for (int c = 0; c < 3; ++c)
    EXPECT_TRUE(std::equal(texture.channel(c).data(), texture.channel(c).data() + 1024 * 1024,
                           one.atlas.channel(c).data()));

  // Drawn back into a camera, the textured mesh is the photo (up to resampling at the checker's
  // edges); the green vertex colours are far from it.
  const texture::DrawableMesh drawable = drawable_from_gltf(back, texture);
  DrawableMesh coloured;
  coloured.positions = s.mesh.positions;
  coloured.faces = s.mesh.faces;
  coloured.colors = s.mesh.colors;
  for (int cam : {0, 5}) {
    const View& view = views[std::size_t(cam)];
    ImageRGB<unsigned char> drawing(320, 240);
    std::vector<unsigned char> covered;
    draw_mesh(view.camera, drawable, true, drawing, &covered);
    const PhotoComparison textured = compare_with_photo(drawing, covered, view.image, view.silhouette);
    EXPECT_GT(textured.pixels, 0.97 * double(textured.silhouette)) << cam;
    EXPECT_GT(textured.psnr, 20.0) << cam;
    draw_mesh(view.camera, coloured, true, drawing, &covered);
    const PhotoComparison green = compare_with_photo(drawing, covered, view.image, view.silhouette);
    EXPECT_LT(green.psnr, 15.0) << cam;
    EXPECT_GT(textured.ssim, green.ssim + 0.2) << cam;
  }

  // Two threads, and the overload that releases the photos once it has sampled them: the same.
  o.threads = 2;
  std::vector<View> given = views;
  for (const TexturedMesh& two : {texture_mesh(s.mesh, views, o), texture_mesh(s.mesh, std::move(given), o)}) {
    EXPECT_EQ(one.texcoords, two.texcoords);
    EXPECT_EQ(one.indices, two.indices);
    for (int c = 0; c < 3; ++c)
      EXPECT_TRUE(std::equal(one.atlas.channel(c).data(), one.atlas.channel(c).data() + 1024 * 1024,
                             two.atlas.channel(c).data()));
  }
  EXPECT_EQ(given[0].image.width(), 0u);
}

// On a closed mesh the z-buffers of the faces turned towards the camera decide visibility as
// those of all faces do: a small ball between a camera and the scene's ball hides part of it.
TEST(Visibility, FrontFacesAloneDecideAsAllFacesOnAClosedMesh) {
  TempDir dir;
  const SphereScene s = sphere_scene(dir.path().string());
  const std::vector<View> views = read_views(s.scene, false);
  const scene::Primitive& ball = s.scene.object(0).primitives().at(0);
  TriMesh mesh = s.mesh;
  const Point3D eye = multiview::camera_position(views[0].camera);
  const TriMesh small = icosphere(ball.a + (eye - ball.a) * 0.4, 0.3 * ball.radii.x, 3);
  const auto offset = std::uint32_t(mesh.positions.size());
  mesh.positions.insert(mesh.positions.end(), small.positions.begin(), small.positions.end());
  for (Face f : small.faces) mesh.faces.push_back({f[0] + offset, f[1] + offset, f[2] + offset});
  std::vector<float> zbuffer;
  for (std::size_t v = 0; v < views.size(); ++v) {
    const Projection p = project_mesh(views[v].camera, mesh.positions);
    const std::vector<float> front = face_quality(mesh, views[v], p, 0.01, 0.05, true, zbuffer);
    EXPECT_EQ(front, face_quality(mesh, views[v], p, 0.01, 0.05, false, zbuffer)) << v;
    if (v > 0) continue;
    long hidden = 0;  // faces of the big ball that face camera 0 but are not seen
    for (std::size_t f = 0; f < s.mesh.faces.size(); ++f) {
      const Point3D& a = mesh.positions[mesh.faces[f][0]];
      const Point3D n = cross(mesh.positions[mesh.faces[f][1]] - a, mesh.positions[mesh.faces[f][2]] - a);
      hidden += dot(n, eye - a) > 0.2 * norm(n) * norm(eye - a) && front[f] == 0.0f;
    }
    EXPECT_GT(hidden, 20);
  }
}

// The SSIM of the photo check: 1 for the photo itself, blind to pixels outside the comparison
// (the window takes compared pixels only), the definition's value for flat images, and lower the
// noisier the drawing.
TEST(PhotoComparison, SsimComparesOnlyTheComparedPixels) {
  const long w = 64, h = 48;
  ImageRGB<unsigned char> photo(w, h);
  ImageGray<unsigned char> silhouette(w, h);
  std::vector<unsigned char> covered(std::size_t(w * h), 1);
  std::srand(7);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) photo.channel(c)[x][y] = static_cast<unsigned char>(std::rand() % 256);
      silhouette.channel(0)[x][y] = (x - 30) * (x - 30) + (y - 24) * (y - 24) < 400 ? 255 : 0;
    }
  ImageRGB<unsigned char> drawing = photo;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      if (!silhouette.channel(0)[x][y]) drawing.channel(1)[x][y] = 0;  // outside: ignored
  const PhotoComparison same = compare_with_photo(drawing, covered, photo, silhouette);
  EXPECT_TRUE(std::isinf(same.psnr));
  EXPECT_NEAR(same.ssim, 1.0, 1e-12);
  // Flat images a and b: zero variances, SSIM = (2ab + c1) / (a^2 + b^2 + c1).
  ImageRGB<unsigned char> flat_a(w, h), flat_b(w, h);
  flat_a = static_cast<unsigned char>(100);
  flat_b = static_cast<unsigned char>(140);
  const double c1 = 2.55 * 2.55;
  EXPECT_NEAR(compare_with_photo(flat_a, covered, flat_b, silhouette).ssim,
              (2 * 100.0 * 140 + c1) / (100.0 * 100 + 140.0 * 140 + c1), 1e-9);
  double previous = 1.0;
  for (int noise : {10, 40}) {
    ImageRGB<unsigned char> noisy = photo;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          noisy.channel(c)[x][y] = static_cast<unsigned char>(
              std::clamp(int(photo.channel(c)[x][y]) + std::rand() % (2 * noise + 1) - noise, 0, 255));
    const double ssim = compare_with_photo(noisy, covered, photo, silhouette).ssim;
    EXPECT_LT(ssim, previous - 0.002) << noise;
    previous = ssim;
  }
}

// On any number of threads every index runs once and, when several fail, the error of the
// lowest is the one thrown, as on one thread (the tools' messages name the first bad camera).
TEST(ParallelFor, RunsEveryIndexOnceAndThrowsTheLowestFailure) {
  for (int threads : {1, 2, 5}) {
    std::vector<std::atomic<int>> runs(200);
    EXPECT_THROW(
        try {
          parallel_for(200, threads, [&](long i, int worker) {
            EXPECT_LT(worker, threads);
            ++runs[std::size_t(i)];
            if (i == 37 || i == 38 || i == 150) throw std::runtime_error("index " + std::to_string(i));
          });
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "index 37") << threads;
          throw;
        },
        std::runtime_error);
    for (int i = 0; i <= 37; ++i) EXPECT_EQ(runs[std::size_t(i)], 1) << threads << " " << i;
    for (const auto& r : runs) EXPECT_LE(r, 1);
  }
}

// Runs texture_mesh with `args`; returns the exit status, its standard output in `out`.
int run_program(const TempDir& dir, const std::string& args, std::string& out) {
  const std::string log = dir.file("log.txt");
  const int status = std::system((std::string(TERVIK_BINARY_DIR "/tools/texture_mesh ") + args +
                                  " > " + log + " 2>&1").c_str());
  out = read_file(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every input error named by the tool: the message names the file and the problem, the status
// is 1 and nothing is written under the output's name. Then an OBJ run writes its three files.
TEST(TextureMesh, ProgramRefusesBadInputAndWritesObj) {
  TempDir dir;
  const SphereScene s = sphere_scene(dir.path().string());
  const std::string common = "--calibration '" + s.scene.camera_template + "' --cameras 8 --images '" +
                             s.scene.image_template + "' --frame 0";
  const std::string out = dir.file("out.obj");
  std::string log;
  // A mesh without faces: a point file.
  tervik::testing::write_file(dir.file("points.ply"),
                              "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                              "property float y\nproperty float z\nend_header\n0 0 0\n");
  EXPECT_EQ(run_program(dir, common + " --mesh " + dir.file("points.ply") + " -o " + out, log), 1);
  EXPECT_NE(log.find("points.ply"), std::string::npos) << log;
  EXPECT_NE(log.find("no faces"), std::string::npos) << log;
  // Atlas sizes.
  for (const char* size : {"1000", "32768"}) {
    EXPECT_EQ(run_program(dir, common + " --mesh " + s.mesh_file + " --atlas-size " + size + " -o " + out, log), 1);
    EXPECT_NE(log.find("--atlas-size must be a power of two"), std::string::npos) << log;
  }
  // An image of the wrong size.
  const std::string img3 = NameTemplate(s.scene.image_template, 2, "i").format(3, 0);
  const auto saved = read_file(img3);
  io::write_png(img3, ImageRGB<unsigned char>(100, 100));
  EXPECT_EQ(run_program(dir, common + " --mesh " + s.mesh_file + " -o " + out, log), 1);
  EXPECT_NE(log.find(img3), std::string::npos) << log;
  EXPECT_NE(log.find("100 x 100"), std::string::npos) << log;
  tervik::testing::write_file(img3, saved);
  // Silhouettes that leave no face visible.
  const std::string empty_sil = dir.file("empty%ld_%04ld.png");
  for (int i = 0; i < 8; ++i)
    io::write_png(NameTemplate(empty_sil, 2, "s").format(i, 0), ImageGray<unsigned char>(320, 240));
  EXPECT_EQ(run_program(dir, common + " --silhouettes '" + empty_sil + "' --mesh " + s.mesh_file + " -o " + out, log), 1);
  EXPECT_NE(log.find("mesh.ply"), std::string::npos) << log;
  EXPECT_NE(log.find("no face is visible"), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mtl")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.png")));
  // Leaving out every camera.
  EXPECT_EQ(run_program(dir, common + " --exclude-cameras 0-7 --mesh " + s.mesh_file + " -o " + out, log), 1);
  EXPECT_NE(log.find("--exclude-cameras leaves no camera"), std::string::npos) << log;
  // The output may not replace an input.
  EXPECT_EQ(run_program(dir, common + " --format obj --mesh " + s.mesh_file + " -o " + s.mesh_file, log), 1);
  EXPECT_NE(log.find("is the input"), std::string::npos) << log;

  ASSERT_EQ(run_program(dir, common + " --silhouettes '" + s.scene.silhouette_template + "' --mesh " +
                                 s.mesh_file + " --atlas-size 512 --threads 2 -o " + out, log), 0) << log;
  const std::string obj = read_file(out);
  EXPECT_EQ(obj.rfind("mtllib out.mtl\n", 0), 0u);
  EXPECT_NE(read_file(dir.file("out.mtl")).find("map_Kd out.png"), std::string::npos);
  ImageRGB<unsigned char> atlas;
  io::ReadImage(dir.file("out.png")).read(atlas);
  EXPECT_EQ(atlas.width(), 512u);
  EXPECT_EQ(atlas.height(), 512u);
  // A JPEG atlas in a .glb: close to the PNG one.
  ASSERT_EQ(run_program(dir, common + " --silhouettes '" + s.scene.silhouette_template + "' --mesh " +
                                 s.mesh_file + " --atlas-size 512 --image-format jpeg --jpeg-quality 95 -o " +
                                 dir.file("out.glb"), log), 0) << log;
  const tools::GltfMesh glb = tools::read_glb(dir.file("out.glb"));
  EXPECT_EQ(glb.base_colour.mime_type, "image/jpeg");
  const ImageRGB<unsigned char> jpeg = tools::decode_base_colour(glb, dir.file("out.glb"));
  ASSERT_EQ(jpeg.width(), 512u);
  double error = 0.0;
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < 512 * 512; ++i)
      error += std::abs(double(jpeg.channel(c).data()[i]) - double(atlas.channel(c).data()[i]));
  EXPECT_LT(error / (3.0 * 512 * 512), 3.0);
}

}  // namespace
}  // namespace tervik::texture
