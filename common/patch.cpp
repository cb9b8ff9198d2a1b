#include "common/patch.h"

#include <cstdio>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/ply.h"

namespace tervik {

namespace {

// Records are formatted into a buffer that is written whenever it holds this many bytes.
constexpr std::size_t kChunkBytes = 1 << 16;

void write_points(const std::string& name, const std::vector<Patch>& patches, bool color,
                  io::PlyFormat format) {
  io::AtomicFile file;
  if (!file.open(name)) throw TervikFileError(name, "cannot create the point file: " + file.error());
  std::FILE* f = file.stream();
  std::string chunk = io::point_file_header(patches.size(), color, format);
  for (const Patch& p : patches) {
    const unsigned char rgb[3] = {p.r, p.g, p.b};
    io::append_point_record(chunk, p.pos, p.normal, color ? rgb : nullptr, format);
    if (chunk.size() >= kChunkBytes) {
      std::fwrite(chunk.data(), 1, chunk.size(), f);
      chunk.clear();
      // A full disk makes every further write fail too; stop early instead of formatting.
      if (std::ferror(f)) break;
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), f);
  if (!file.commit()) throw TervikFileError(name, "cannot write point file: " + file.error());
}

}  // namespace

void write_file_normal_color(const std::string& name, const std::vector<Patch>& patches,
                             io::PlyFormat format) {
  write_points(name, patches, true, format);
}

void write_file_normal(const std::string& name, const std::vector<Patch>& patches,
                       io::PlyFormat format) {
  write_points(name, patches, false, format);
}

}  // namespace tervik
