#include "common/patch.h"

#include <cstdio>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"

namespace tervik {

namespace {

constexpr const char* kNormalProperties =
    "property float x\nproperty float y\nproperty float z\n"
    "property float nx\nproperty float ny\nproperty float nz\n";
constexpr const char* kColorProperties =
    "property uchar red\nproperty uchar green\nproperty uchar blue\n";

void write_points(const std::string& name, const std::vector<Patch>& patches, bool color) {
  io::AtomicFile file;
  if (!file.open(name)) throw TervikFileError(name, "cannot create the point file: " + file.error());
  std::FILE* f = file.stream();
  std::fprintf(f, "ply\nformat ascii 1.0\nelement vertex %li\n",
               static_cast<long>(patches.size()));
  std::fputs(kNormalProperties, f);
  if (color) std::fputs(kColorProperties, f);
  std::fputs("end_header\n", f);
  for (const Patch& p : patches) {
    if (color) {
      std::fprintf(f, "%e %e %e %e %e %e %d %d %d\n", p.pos.x, p.pos.y, p.pos.z, p.normal.x,
                   p.normal.y, p.normal.z, p.r, p.g, p.b);
    } else {
      std::fprintf(f, "%e %e %e %e %e %e\n", p.pos.x, p.pos.y, p.pos.z, p.normal.x, p.normal.y,
                   p.normal.z);
    }
    // A full disk makes every further line fail too; stop early instead of formatting them.
    if (std::ferror(f)) break;
  }
  if (!file.commit()) throw TervikFileError(name, "cannot write point file: " + file.error());
}

}  // namespace

void write_file_normal_color(const std::string& name, const std::vector<Patch>& patches) {
  write_points(name, patches, true);
}

void write_file_normal(const std::string& name, const std::vector<Patch>& patches) {
  write_points(name, patches, false);
}

}  // namespace tervik
