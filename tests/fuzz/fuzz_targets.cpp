#include "fuzz/fuzz_targets.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/leading_options.h"
#include "common/patch.h"
#include "sculptor/options.h"
#include "tervik/camera.h"
#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/mesh.h"
#include "tervik/portablefloat.h"
#include "tervik/readimage.h"
#include "tervik/readmultiarray.h"
#include "tervik/rle.h"
#include "tervik/ply.h"
#include "tools/capture/import/camera_import.h"
#include "tools/common/gltf.h"
#include "tools/common/gltf_read.h"
#include "tools/player/frame_ply.h"
#include "tools/player/frames.h"
#include "tools/scene/truth.h"
#include "weaver/read_points.h"

namespace tervik::fuzz {

namespace {

std::string& scratch_folder() {
  static std::string folder = std::filesystem::exists("/dev/shm")
                                  ? std::string("/dev/shm")
                                  : std::filesystem::temp_directory_path().string();
  return folder;
}

// Writes the input to a scratch file with the given extension; "" when that fails.
std::string scratch(const std::uint8_t* data, std::size_t size, const char* ext) {
  const std::string path = scratch_folder() + "/tervik_fuzz_" + std::to_string(::getpid()) + ext;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  const bool ok = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !ok) return "";
  return path;
}

// Runs one parser call; 1 when the library rejected the input, 0 when it was accepted.
template <typename F>
int rejected(F&& f) {
  try {
    f();
  } catch (const BacktracedTervikException&) {
    return 1;
  }
  return 0;
}

int image(const std::uint8_t* data, std::size_t size, const char* ext) {
  const std::string path = scratch(data, size, ext);
  if (path.empty()) return 0;
  int n = 0;
  n += rejected([&] {
    ImageGray<unsigned char> grey;
    io::ReadImage(path).read(grey);
  });
  n += rejected([&] {
    ImageRGB<unsigned char> rgb;
    io::ReadImage(path).read(rgb);
  });
  n += rejected([&] { io::get_image_dimensions(path, io::get_image_format(path)); });
  return n;
}

}  // namespace

void set_scratch_folder(const std::string& folder) { scratch_folder() = folder; }

int calibration(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".txt");
  if (path.empty()) return 0;
  int n = 0;
  n += rejected([&] {
    Camera c;
    c.read_parameters(path);
    projection_mismatch(c);
  });
  return n;
}

int png_image(const std::uint8_t* data, std::size_t size) { return image(data, size, ".png"); }
int jpeg_image(const std::uint8_t* data, std::size_t size) { return image(data, size, ".jpg"); }
int tiff_image(const std::uint8_t* data, std::size_t size) { return image(data, size, ".tif"); }

int points(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".ply");
  if (path.empty()) return 0;
  int n = 0;
  // The coloured reader for files that declare colours, the plain one for the others.
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<Patch> out;
  if (text.find("property uchar red") != std::string::npos) {
    n += rejected([&] { read_points_color(path, out, 1); });
    n += rejected([&] { read_points_color(path, out, 3); });
  } else {
    n += rejected([&] { read_points(path, out, 2); });
  }
  return n;
}

int mesh(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".ply");
  if (path.empty()) return 0;
  int n = 0;
  n += rejected([&] {
    FaceVertexMesh m;
    read_mesh(path, m);
  });
  return n;
}

namespace {

// What parse_ply made of some bytes: the model, or the message it threw.
struct PlyOutcome {
  io::PlyModel model;
  std::string error;
};

PlyOutcome parse_outcome(const std::string& bytes, const io::PlyReadOptions& options) {
  PlyOutcome outcome;
  try {
    outcome.model = io::parse_ply("fuzz.ply", bytes, options);
  } catch (const BacktracedTervikException& e) {
    outcome.error = e.what();
  }
  return outcome;
}

template <typename T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool same_outcome(const PlyOutcome& a, const PlyOutcome& b) {
  const io::PlyModel& x = a.model;
  const io::PlyModel& y = b.model;
  return a.error == b.error && x.format == y.format && x.has_normals == y.has_normals &&
         x.has_colors == y.has_colors && x.has_faces == y.has_faces &&
         same_bits(x.positions, y.positions) && same_bits(x.normals, y.normals) &&
         same_bits(x.colors, y.colors) && same_bits(x.faces, y.faces);
}

}  // namespace

int ply(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".ply");
  if (path.empty()) return 0;
  int n = 0;
  n += rejected([&] { io::read_ply(path); });
  // Reading in pieces on threads must give the same model or the same message as one piece
  // on one thread; tiny pieces put piece borders inside most lines' neighbours.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  io::PlyReadOptions whole;
  io::PlyReadOptions pieces;
  pieces.threads = 3;
  pieces.piece_bytes = 5;
  if (!same_outcome(parse_outcome(bytes, whole), parse_outcome(bytes, pieces))) {
    std::fprintf(stderr, "reading in pieces on threads changed the outcome\n");
    std::abort();
  }
  return n;
}

namespace {

template <typename T, std::size_t D>
int read_array(const std::string& path) {
  return rejected([&] {
    MultiArray<T, D> a;
    io::ReadMultiArray(path) >> a;
  });
}

}  // namespace

int multiarray(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".mult");
  if (path.empty()) return 0;
  // A file holds one element type and dimension: it is accepted when one of them reads it.
  const int typed = read_array<unsigned char, 1>(path) + read_array<unsigned char, 2>(path) +
                    read_array<unsigned char, 3>(path) + read_array<unsigned int, 1>(path) +
                    read_array<unsigned int, 2>(path) + read_array<unsigned int, 3>(path) +
                    read_array<long long, 3>(path) + read_array<double, 1>(path) +
                    read_array<double, 2>(path);
  int n = typed == 9 ? 1 : 0;
  n += rejected([&] { io::ReadMultiArray(path).read_extents(); });
  // The float record decoder on the raw bytes, with the bytes there as its limit (most byte
  // strings are no float record; only a crash counts).
  if (size > 0) rejected([&] { io::PortableFloat().decode(data, size < 11 ? int(size) : 11); });
  return n;
}

int rle(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the destination size; the rest is the stream.
  const std::size_t dstlen = data[0] | (std::size_t(data[1]) << 8);
  std::vector<unsigned char> dst(dstlen);
  const int n = rejected([&] {
    const auto written = compress::Rle::uncompress(data + 2, dst.data(), size - 2, dstlen);
    if (written > dstlen) std::abort();
  });
  // Compressing any input and decoding it again gives the input back.
  const std::vector<unsigned char> input(data, data + size);
  const std::vector<unsigned char> packed = compress::Rle::compress(input);
  if (packed.size() > compress::Rle::max_compressed_size(size)) std::abort();
  if (compress::Rle::uncompress(packed, size) != input) std::abort();
  return n;
}

namespace {

// Writes `bytes` to the scratch file `name` (in a folder of this process); "" on failure.
std::string scratch_named(const std::string& bytes, const std::string& name) {
  const std::filesystem::path dir =
      std::filesystem::path(scratch_folder()) / ("tervik_fuzz_" + std::to_string(::getpid()));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = (dir / name).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) return "";
  return path;
}

// Every imported camera must be finite and have an image size in range.
void check_cameras(const calibration::ImportResult& r) {
  for (const calibration::ImportedCamera& c : r.cameras) {
    const Camera& cam = c.camera;
    if (cam.im_width() < 1 || cam.im_width() > 32767 || cam.im_height() < 1 ||
        cam.im_height() > 32767)
      std::abort();
    for (int i = 0; i < 12; ++i)
      if (!std::isfinite(cam.p().data()[i])) std::abort();
  }
}

calibration::ImportOptions sized_options() {
  calibration::ImportOptions o;
  o.width = 640;
  o.height = 480;
  return o;
}

}  // namespace

int colmap(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = bytes.find("\n%%\n");
  const std::string cameras = cut == std::string::npos ? bytes : bytes.substr(0, cut + 1);
  const std::string images = cut == std::string::npos ? bytes : bytes.substr(cut + 4);
  const std::string cameras_file = scratch_named(cameras, "cameras.txt");
  if (cameras_file.empty() || scratch_named(images, "images.txt").empty()) return 0;
  const std::string folder = std::filesystem::path(cameras_file).parent_path().string();
  return rejected([&] { check_cameras(calibration::import_colmap(folder, {})); });
}

int opencv(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  int n = 0;
  for (const char* name : {"cam.yml", "cam.xml"}) {
    const std::string path = scratch_named(bytes, name);
    if (path.empty()) continue;
    calibration::ImportOptions o = sized_options();
    o.ignore_extra_distortion = true;
    n += rejected([&] { check_cameras(calibration::import_opencv({path}, o)); });
  }
  // Either reading may accept the bytes; both rejecting them counts as one rejection.
  return n == 2 ? 1 : 0;
}

int camera_lists(const std::uint8_t* data, std::size_t size) {
  const std::string path =
      scratch_named(std::string(reinterpret_cast<const char*>(data), size), "list.txt");
  if (path.empty()) return 0;
  calibration::ImportOptions o = sized_options();
  o.ignore_extra_distortion = true;
  // A list is one of the three layouts: accepted when one of them reads it.
  const int n = rejected([&] { check_cameras(calibration::import_middlebury(path, o)); }) +
                rejected([&] { check_cameras(calibration::import_projections({path}, o)); }) +
                rejected([&] { check_cameras(calibration::import_krt({path}, o)); });
  return n == 3 ? 1 : 0;
}

int name_template(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int arity = 1 + (data[0] & 1);
  const std::int64_t a = static_cast<std::int8_t>(data[0]) * 1000003LL;
  const std::int64_t b = (data[0] >> 1) & 0x3f;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  return rejected([&] {
    NameTemplate(text, arity, "fuzz template").format(a, b);
  });
}

int leading_options(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1, "program");
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);
  const std::vector<OptionSpec> specs = {
      {"threads", "N", "threads"}, {"binary", "", "binary output"}, {"quiet", "", "quiet"}};
  return rejected([&] {
    const LeadingOptions o = parse_leading_options(int(words.size()), argv.data(), specs);
    if (o.first_positional < 1 || o.first_positional > int(words.size())) std::abort();
    if (o.has("threads")) parse_thread_count(o.values.at("threads"));
    options_help(specs);
  });
}

int ground_truth(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".truth");
  if (path.empty()) return 0;
  return rejected([&] {
    const scene::GroundTruth t = scene::read_ground_truth(path);
    for (long f = t.first_frame; f <= t.last_frame; ++f) t.solid(f);
  });
}

namespace {

// The same floats, bit for bit (NaNs included).
bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

bool same_mesh(const tools::GltfMesh& a, const tools::GltfMesh& b) {
  return same_bits(a.positions, b.positions) && same_bits(a.normals, b.normals) &&
         a.colours == b.colours && same_bits(a.texcoords, b.texcoords) && a.indices == b.indices &&
         a.base_colour.bytes == b.base_colour.bytes && a.base_colour.mime_type == b.base_colour.mime_type;
}

}  // namespace

int glb(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch(data, size, ".glb");
  if (path.empty()) return 0;
  return rejected([&] {
    const tools::GltfMesh mesh = tools::read_glb(path);
    tools::decode_base_colour(mesh, path);
    // What the writer makes of an accepted mesh (it refuses some, such as an image without
    // texture coordinates) must read back unchanged.
    std::vector<unsigned char> again;
    try {
      again = tools::encode_glb(mesh);
    } catch (const BacktracedTervikException&) {
      return;
    }
    const std::string copy = path + ".again.glb";
    std::FILE* f = std::fopen(copy.c_str(), "wb");
    if (!f) return;
    const bool ok = std::fwrite(again.data(), 1, again.size(), f) == again.size();
    if (std::fclose(f) != 0 || !ok) return;
    const tools::GltfMesh back = tools::read_glb(copy);
    std::remove(copy.c_str());
    if (!same_mesh(mesh, back)) std::abort();
  });
}

int frame_ply(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tools::GltfMesh fast;
  if (player::parse_frame_ply_fast(bytes, fast)) {
    // The full reader must accept what the fast path took, and read the same mesh.
    tools::GltfMesh full;
    try {
      full = player::gltf_from_ply(io::parse_ply("fuzz.ply", bytes, io::PlyReadOptions()));
    } catch (const BacktracedTervikException&) {
      std::abort();
    }
    if (!same_mesh(fast, full)) std::abort();
  }
  const std::string path = scratch(data, size, ".ply");
  if (path.empty()) return 0;
  return rejected([&] { player::read_frame_ply(path); });
}

}  // namespace tervik::fuzz
