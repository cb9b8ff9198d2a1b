#include "common/patch.h"

#include <cstdio>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/pieces.h"
#include "tervik/ply.h"

namespace tervik {

namespace {

// Records are formatted in blocks of this many, each block on one thread, and written in order.
constexpr std::size_t kBlockRecords = 4096;

void write_points(const std::string& name, const std::vector<Patch>& patches, bool color,
                  io::PlyFormat format, unsigned threads) {
  io::AtomicFile file;
  if (!file.open(name)) throw TervikFileError(name, "cannot create the point file: " + file.error());
  std::FILE* f = file.stream();
  const std::string header = io::point_file_header(patches.size(), color, format);
  std::fwrite(header.data(), 1, header.size(), f);
  format_in_blocks(
      patches.size(), kBlockRecords, threads,
      [&](std::string& out, std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
          const Patch& p = patches[i];
          const unsigned char rgb[3] = {p.r, p.g, p.b};
          io::append_point_record(out, p.pos, p.normal, color ? rgb : nullptr, format);
        }
      },
      [&](std::string_view bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        // A full disk makes every further write fail too; stop early instead of formatting.
        return !std::ferror(f);
      });
  if (!file.commit()) throw TervikFileError(name, "cannot write point file: " + file.error());
}

}  // namespace

void write_file_normal_color(const std::string& name, const std::vector<Patch>& patches,
                             io::PlyFormat format, unsigned threads) {
  write_points(name, patches, true, format, threads);
}

void write_file_normal(const std::string& name, const std::vector<Patch>& patches,
                       io::PlyFormat format, unsigned threads) {
  write_points(name, patches, false, format, threads);
}

}  // namespace tervik
