// render_view: draws a point or mesh PLY, or a textured .glb, over one camera's image, or over
// several cameras' images side by side in one PNG, optionally with the silhouette outline; with
// --psnr it compares the drawing with each camera's photo (the leave-one-out photo check).
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tervik/multiview_auxiliar.h"
#include "tervik/writeimage.h"
#include "tools/common/tool_options.h"
#include "tools/common/capture_files.h"
#include "tools/capture/render_view.h"
#include "tools/common/gltf_read.h"
#include "tools/texture/render_textured.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::capture;

int main(int argc, char** argv) {
  std::string cam_text, count_text, ids_text, model_file, img_text, sil_text, output;
  long frame = 0, tile_width = 0;
  int columns = 0;
  double dim_factor = 0.6;
  bool unlit = false, psnr = false;
  RenderStyle style;
  po::options_description desc(
      "Usage: render_view --calibration TEMPLATE --output FILE.png [options]\n"
      "Draws a point or mesh PLY file or a textured .glb over one camera's image, or over several\n"
      "cameras' images side by side, optionally with the silhouette outline (yellow). Meshes are\n"
      "shaded grey, in their vertex colours or their texture, points in their colours or magenta.\n"
      "\nLeave-one-out photo check: texture a frame without camera k (texture_mesh\n"
      "--exclude-cameras k), then render_view --camera-ids k --model OUT.glb --images ... --silhouettes\n"
      "... --psnr compares the unlit drawing with camera k's photo inside its silhouette.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("calibration", po::value(&cam_text)->required(),
       "calibration file template, receives the camera number (e.g. cam%ld.txt)")
      ("cameras", po::value(&count_text),
       "number of cameras drawn, the template numbers 0 to N-1 (default: camera 0 alone); "
       "several make a contact sheet")
      ("camera-ids", po::value(&ids_text),
       "the template numbers of the cameras drawn, in order, e.g. 3 or 0-7 or 0,2,4")
      ("model", po::value(&model_file), "PLY point file or mesh to draw")
      ("images", po::value(&img_text),
       "colour image template (camera, frame) drawn under the model; black without it")
      ("silhouettes", po::value(&sil_text),
       "silhouette template (camera, frame) whose outline is drawn on top")
      ("frame", po::value(&frame)->default_value(0), "frame number for the templates")
      ("output,o", po::value(&output)->required(), "PNG file to write")
      ("tile-width", po::value(&tile_width)->default_value(0, "full size for one camera, 320 for several"),
       "width in pixels of every camera's view")
      ("columns", po::value(&columns)->default_value(0, "about the square root of the count"),
       "views per row of the contact sheet")
      ("dim", po::value(&dim_factor)->default_value(dim_factor, "0.6"),
       "brightness of the image under the drawing, 0 to 1")
      ("point-size", po::value(&style.point_radius)->default_value(style.point_radius),
       "a point is drawn as a square of 2 n + 1 pixels on a side")
      ("unlit", po::bool_switch(&unlit),
       "draw meshes in their colours or texture as stored, without shading (vertex colours "
       "interpolated across faces)")
      ("psnr", po::bool_switch(&psnr),
       "print, per camera, the PSNR and the SSIM (luma, Gaussian window of 11 pixels) of the "
       "unlit full-size drawing against the photo (--images) over the pixels that the mesh "
       "covers inside the silhouette (--silhouettes)");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  NameTemplate camtemplate, imtemplate, siltemplate;
  std::vector<int> cams;
  if (const auto status = tervik::tools::parse_tool_options(
          "render_view", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            camtemplate = NameTemplate(cam_text, 1, "calibration template");
            if (!img_text.empty()) imtemplate = NameTemplate(img_text, 2, "image template");
            if (!sil_text.empty()) siltemplate = NameTemplate(sil_text, 2, "silhouette template");
            // --cameras is a count in every tool; a list belongs to --camera-ids.
            int count = 0;
            if (!count_text.empty()) {
              const auto end = count_text.data() + count_text.size();
              const auto res = std::from_chars(count_text.data(), end, count);
              if (res.ec != std::errc() || res.ptr != end || count < 1)
                throw TervikError("--cameras '" + count_text +
                                  "' is not a number of cameras; give a list of cameras to draw "
                                  "with --camera-ids (e.g. --camera-ids " + count_text + ")");
            }
            const CameraSelection sel =
                select_cameras(count_text.empty() && ids_text.empty() ? 1 : count, ids_text);
            for (int k = 0; k < sel.count; ++k) cams.push_back(sel.number(k));
            if (frame < 0) throw TervikError("--frame must not be negative");
            if (tile_width < 0 || tile_width > 8192) throw TervikError("--tile-width must be 1 to 8192");
            if (columns < 0) throw TervikError("--columns must be positive");
            if (!(dim_factor >= 0.0 && dim_factor <= 1.0)) throw TervikError("--dim must be 0 to 1");
            if (style.point_radius < 0 || style.point_radius > 20)
              throw TervikError("--point-size must be 0 to 20");
            if (psnr && (img_text.empty() || model_file.empty()))
              throw TervikError("--psnr needs --model and --images");
          }))
    return *status;
  try {
    InputFiles inputs;  // the output may name none of them
    io::PlyModel model;
    texture::DrawableMesh mesh;  // a .glb, or a PLY mesh drawn --unlit or compared
    bool use_mesh = false;
    if (std::filesystem::path(model_file).extension() == ".glb") {
      const tools::GltfMesh glb = tools::read_glb(model_file);
      inputs.add(model_file);
      mesh = texture::drawable_from_gltf(glb, tools::decode_base_colour(glb, model_file));
      if (mesh.faces.empty()) throw TervikFileError(model_file, "the .glb holds no triangles");
      use_mesh = true;
    } else if (!model_file.empty()) {
      model = io::read_ply(model_file);
      inputs.add(model_file);
      if (model.has_faces && (unlit || psnr)) {
        mesh.positions = model.positions;
        for (const auto& f : model.faces)
          mesh.faces.push_back({std::uint32_t(f.x), std::uint32_t(f.y), std::uint32_t(f.z)});
        if (model.has_colors) mesh.colors = model.colors;
        use_mesh = true;
      }
    }
    double psnr_sum = 0.0, ssim_sum = 0.0;
    long psnr_views = 0;
    if (tile_width == 0 && cams.size() > 1) tile_width = 320;
    std::vector<ImageRGB<unsigned char>> tiles;
    for (int i : cams) {
      const Camera full = read_camera_file(camtemplate.format(i));
      inputs.add(camtemplate.format(i));
      Camera camera = full;
      const long full_w = full.im_width();
      if (tile_width > 0 && tile_width != full_w)
        camera = multiview::scale_camera(camera, double(tile_width) / double(full_w));
      const long w = camera.im_width(), h = camera.im_height();
      if (w < 1 || h < 1) throw TervikError("--tile-width " + std::to_string(tile_width) +
                                            " leaves camera " + std::to_string(i) + " no pixels");
      ImageRGB<unsigned char> canvas(w, h);
      ImageRGB<unsigned char> photo;
      if (!img_text.empty()) {
        const std::string file = imtemplate.format(i, frame);
        photo = read_rgb(file, full, "camera " + std::to_string(i));
        inputs.add(file);
        canvas = resize_nearest(photo, w, h);
        dim(canvas, dim_factor);
      }
      if (psnr) {
        ImageGray<unsigned char> sil;
        if (!sil_text.empty()) {
          const std::string file = siltemplate.format(i, frame);
          sil = read_gray(file, full, "camera " + std::to_string(i));
        }
        ImageRGB<unsigned char> drawing(full.im_width(), full.im_height());
        std::vector<unsigned char> covered;
        texture::draw_mesh(full, mesh, true, drawing, &covered);
        const texture::PhotoComparison r = texture::compare_with_photo(drawing, covered, photo, sil);
        // With several cameras, --quiet keeps only their mean.
        std::ostream& out = tervik::tools::progress_output(quiet && cams.size() > 1);
        out << "Camera " << i << ": PSNR " << r.psnr << " dB, SSIM " << r.ssim << " over " << r.pixels
            << " pixels (" << (r.silhouette > 0 ? 100.0 * double(r.pixels) / double(r.silhouette) : 0.0)
            << "% of the " << (sil_text.empty() ? "image" : "silhouette") << ")" << std::endl;
        if (r.pixels > 0) psnr_sum += r.psnr, ssim_sum += r.ssim, ++psnr_views;
      }
      if (use_mesh)
        texture::draw_mesh(camera, mesh, unlit, canvas, nullptr);
      else
        draw_model(camera, model, style, canvas);
      if (!sil_text.empty()) {
        const std::string file = siltemplate.format(i, frame);
        const ImageGray<unsigned char> sil = read_gray(file, full, "camera " + std::to_string(i));
        inputs.add(file);
        draw_outline(resize_nearest(sil, w, h), style.outline_color, canvas);
      }
      tiles.push_back(std::move(canvas));
    }
    inputs.check_output(output);
    if (psnr && psnr_views > 1)
      std::cout << "Mean PSNR over " << psnr_views << " cameras: " << psnr_sum / double(psnr_views)
                << " dB, SSIM " << ssim_sum / double(psnr_views) << std::endl;
    if (columns == 0) columns = int(std::ceil(std::sqrt(double(tiles.size())) - 1e-9));
    if (tiles.size() == 1)
      io::write_png(output, tiles[0]);
    else
      io::write_png(output, contact_sheet(tiles, columns));
    std::cout << "Wrote " << output << ": " << tiles.size() << (tiles.size() == 1 ? " view" : " views")
              << " of " << tiles[0].width() << " x " << tiles[0].height() << " pixels";
    if (tiles.size() > 1) {
      std::cout << " in rows of " << columns << " (cameras";
      for (int i : cams) std::cout << " " << i;
      std::cout << ", left to right, top to bottom)";
    }
    std::cout << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
