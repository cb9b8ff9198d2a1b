// texture_mesh: textures one frame's mesh from the cameras' photos and writes it as glTF
// binary (.glb) or as OBJ with its material and atlas image.
#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tools/common/capture_files.h"
#include "tools/common/tool_options.h"
#include "tools/texture/huge_pages.h"
#include "tools/texture/seam_steps.h"
#include "tools/texture/texture_files.h"
#include "tools/texture/texture_mesh.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::texture;

int main(int argc, char** argv) {
  std::string cam_text, img_text, sil_text, mesh_file, output, format, exclude, image_format,
      ids_text;
  int cameras = 0, jpeg_quality = 90;
  long frame = 0;
  TextureOptions options;
  bool no_levelling = false;
  po::options_description desc(
      "Usage: texture_mesh [options] --calibration TEMPLATE --cameras N --images TEMPLATE\n"
      "                    --frame F --mesh MESH.ply -o OUT.glb\n"
      "Textures a frame's mesh from the cameras' photos: every face takes its texture from a\n"
      "camera that sees it well (depth test, silhouettes), neighbouring faces from the same\n"
      "camera where possible; colour steps along seams are levelled, faces no camera sees keep\n"
      "the vertex colours. Writes glTF binary (mesh and embedded atlas) or OBJ + MTL + image.\n\n"
      "Options");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("calibration", po::value(&cam_text)->required(),
       "calibration file template, receives the camera number (e.g. cam%ld.txt)")
      ("cameras", po::value(&cameras), "number of cameras: template numbers 0 .. N-1")
      ("camera-ids", po::value(&ids_text),
       "the cameras' template numbers instead, in order, e.g. 1-16 or 0-4,6-19")
      ("images", po::value(&img_text)->required(),
       "colour image template (camera, frame), e.g. img%ld_%04ld.png")
      ("silhouettes", po::value(&sil_text),
       "silhouette template (camera, frame): no texture from background pixels")
      ("frame", po::value(&frame)->default_value(0), "frame number for the templates")
      ("mesh", po::value(&mesh_file)->required(), "PLY mesh to texture (ASCII or binary)")
      ("output,o", po::value(&output)->required(), "file to write (.glb, or .obj)")
      ("format", po::value(&format)->default_value("", "by the output's extension, else glb"),
       "glb or obj (OBJ + MTL + atlas image beside it)")
      ("exclude-cameras", po::value(&exclude),
       "cameras to leave out, by template number, e.g. 3 or 0,5-7")
      ("atlas-size", po::value(&options.atlas_size)->default_value(options.atlas_size),
       "atlas texels on a side, a power of two up to 16384; charts scale down to fit")
      ("image-format", po::value(&image_format)->default_value("png"), "atlas image: png or jpeg")
      ("jpeg-quality", po::value(&jpeg_quality)->default_value(jpeg_quality),
       "JPEG quality 1 to 100 (with --image-format jpeg)")
      ("padding", po::value(&options.padding)->default_value(options.padding),
       "texels of dilated colour around every chart, 1 to 64")
      ("smoothness", po::value(&options.smoothness)->default_value(options.smoothness, "0.3"),
       "cost of a camera change between neighbouring faces (0: best camera per face)")
      ("blend", po::value(&options.blend)->default_value(options.blend),
       "a texel averages the photos of the N cameras that see its face best, weighted as the "
       "view selection weighs them (1: the chart's camera alone), 1 to 8")
      ("no-seam-levelling", po::bool_switch(&no_levelling), "leave the colour steps at seams")
      ("threads", po::value(&options.threads)->default_value(options.threads),
       "threads; the output is the same for every number");
  tools::add_quiet_option(desc);
  bool quiet = false;
  NameTemplate camtemplate, imtemplate, siltemplate;
  std::vector<int> excluded;
  capture::CameraSelection selection;
  bool jpeg = false, obj = false;
  if (const auto status = tools::parse_tool_options(
          "texture_mesh", argc, argv, {.options = &desc}, [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            camtemplate = NameTemplate(cam_text, 1, "calibration template");
            imtemplate = NameTemplate(img_text, 2, "image template");
            if (!sil_text.empty()) siltemplate = NameTemplate(sil_text, 2, "silhouette template");
            selection = capture::select_cameras(
                vm.count("cameras") ? (cameras < 1 ? -1 : cameras) : 0, ids_text);
            if (!exclude.empty()) excluded = capture::parse_camera_list(exclude, 32768);
            if (frame < 0) throw TervikError("--frame must not be negative");
            const long a = options.atlas_size;
            if (a < 64 || a > 16384 || (a & (a - 1)) != 0)
              throw TervikError("--atlas-size must be a power of two from 64 to 16384, not " +
                                std::to_string(a));
            if (image_format != "png" && image_format != "jpeg" && image_format != "jpg")
              throw TervikError("--image-format must be png or jpeg, not '" + image_format + "'");
            jpeg = image_format != "png";
            if (jpeg_quality < 1 || jpeg_quality > 100) throw TervikError("--jpeg-quality must be 1 to 100");
            if (format.empty()) format = std::filesystem::path(output).extension() == ".obj" ? "obj" : "glb";
            if (format != "glb" && format != "obj")
              throw TervikError("--format must be glb or obj, not '" + format + "'");
            obj = format == "obj";
            if (options.threads < 1 || options.threads > 256) throw TervikError("--threads must be 1 to 256");
            if (options.padding < 1 || options.padding > 64) throw TervikError("--padding must be 1 to 64");
            if (options.blend < 1 || options.blend > 8) throw TervikError("--blend must be 1 to 8");
            if (!(options.smoothness >= 0.0 && options.smoothness <= 100.0))
              throw TervikError("--smoothness must be 0 to 100");
            int kept = 0;
            for (int k = 0; k < selection.count; ++k)
              kept += std::find(excluded.begin(), excluded.end(), selection.number(std::size_t(k))) ==
                      excluded.end();
            if (kept == 0) throw TervikError("--exclude-cameras leaves no camera");
            }))
    return *status;
  options.level_seams = !no_levelling;
  try {
    const auto start = std::chrono::steady_clock::now();
    const ObjFiles files = obj_files(output, jpeg);
    std::vector<std::string> outputs = {output};
    if (obj) outputs = {files.obj, files.mtl, files.image};
    capture::InputFiles inputs;  // no output may replace one of them
    inputs.add(mesh_file);
    std::vector<int> numbers;
    for (int k = 0; k < selection.count; ++k) {
      const int i = selection.number(std::size_t(k));
      if (std::find(excluded.begin(), excluded.end(), i) == excluded.end()) numbers.push_back(i);
    }
    // The calibrations first, for the memory the frame needs; then the mesh and the images,
    // read on the threads, each into its own place (an error is the mesh's, or the first view's).
    std::vector<View> views(numbers.size());
    std::vector<std::vector<std::string>> view_files(numbers.size());
    std::size_t bytes = 3 * std::size_t(options.atlas_size) * std::size_t(options.atlas_size);
    for (std::size_t k = 0; k < numbers.size(); ++k) {
      view_files[k] = {camtemplate.format(numbers[k])};
      views[k].camera = capture::read_camera_file(view_files[k][0]);
      // The photo, the silhouette and, on each thread, a z-buffer of floats.
      const std::size_t pixels = views[k].camera.im_width() * views[k].camera.im_height();
      bytes += pixels * (sil_text.empty() ? 3 : 4) + (k < std::size_t(options.threads) ? 4 * pixels : 0);
    }
    prefer_huge_pages(bytes + bytes / 4);
    TriMesh mesh;
    parallel_for(long(numbers.size()) + 1, options.threads, [&](long task) {
      if (task == 0) {
        mesh = read_mesh(mesh_file);
        return;
      }
      const long k = task - 1;
      const int i = numbers[std::size_t(k)];
      View& view = views[std::size_t(k)];
      const std::string img_file = imtemplate.format(i, frame);
      capture::read_rgb(img_file, view.camera, "camera " + std::to_string(i), view.image);
      view_files[std::size_t(k)].push_back(img_file);
      if (!sil_text.empty()) {
        const std::string sil_file = siltemplate.format(i, frame);
        capture::read_gray(sil_file, view.camera, "camera " + std::to_string(i), view.silhouette);
        view_files[std::size_t(k)].push_back(sil_file);
      }
    });
    for (const auto& files_of_view : view_files)
      for (const std::string& file : files_of_view) inputs.add(file);
    for (const std::string& out : outputs) inputs.check_output(out);
    const auto loaded = std::chrono::steady_clock::now();
    // Made in place: a copy of the atlas would cost as much as a stage.
    const TexturedMesh textured = [&] {
      try {
        return texture_mesh(mesh, std::move(views), options);  // the photos go once sampled
      } catch (const NoVisibleFace&) {
        throw TervikFileError(mesh_file, "no face is visible in any camera" +
                                             (sil_text.empty() ? std::string()
                                                               : " inside the silhouettes " + sil_text) +
                                             " of frame " + std::to_string(frame));
      } catch (const TervikError& e) {
        throw TervikFileError(mesh_file, e.what());
      }
    }();
    const auto textured_at = std::chrono::steady_clock::now();
    const std::vector<unsigned char> image = encode_atlas(textured.atlas, jpeg ? jpeg_quality : 0, options.threads);
    if (obj)
      write_obj(files, textured, image);
    else
      tools::write_glb(output, to_gltf(textured, image, jpeg));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ostream& progress = tools::progress_output(quiet);
    progress << "Textured " << mesh_file << " from " << numbers.size() << " cameras: "
              << textured.seen_faces << " faces in " << textured.charts << " charts, "
              << textured.unseen_faces << " from vertex colours, " << textured.seam_edges
              << " seam edges; atlas " << options.atlas_size << " x " << options.atlas_size
              << " at " << textured.scale << " texels per pixel" << std::endl;
    const SeamSteps steps = measure_seam_steps(mesh, textured);
    progress << "Colour step across seams " << steps.seam << ", inside charts " << steps.interior
              << " (mean absolute difference of 8-bit RGB)" << std::endl;
    std::cout << "Wrote " << (obj ? files.obj + ", " + files.mtl + ", " + files.image : output)
              << std::endl;
    const auto span = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
    if (!quiet)
      std::cerr << "texture_mesh: " << seconds << " s (reading " << span(start, loaded)
              << " s, texturing " << span(loaded, textured_at) << " s, writing "
              << span(textured_at, std::chrono::steady_clock::now()) << " s)" << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
