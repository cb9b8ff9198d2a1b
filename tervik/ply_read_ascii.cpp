// ASCII PLY data read in pieces of whole lines, on several threads.
//
// A first pass counts the lines and the records (non-blank lines) of every piece, so that each
// piece knows the number of its first line and the element and index of its first record. A
// second pass reads the records of every piece on its own: vertices into their final places,
// faces into the piece's own list. A piece stops at its first error; the error of the first
// failing piece is the first failing line of the file, which is what reading line by line would
// report. Errors that only the whole file shows (it ends early; an element that cannot be read)
// come after every line that was read before them.
#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "tervik/pieces.h"
#include "tervik/ply.h"
#include "tervik/ply_detail.h"
#include "tervik/ply_records.h"

namespace tervik::io::detail {

namespace {

// A piece of the data: whole lines, bytes [begin, end).
struct Piece {
  std::size_t begin = 0, end = 0;
  std::size_t lines = 0;     // lines in the piece
  long long records = 0;     // non-blank lines in the piece
  std::size_t first_line = 0;     // number of the line before the piece's first
  long long first_record = 0;     // record number (over all elements) of its first record
};

// An element to read and where its records start in the file's sequence of records.
struct Planned {
  const PlyElement* el = nullptr;
  ElementKind kind = ElementKind::other;
  RecordRules rules;
  long long first = 0;
};

// Cuts bytes [begin, size) into pieces of about `size` bytes that end after a line feed (the
// last one at the end of the bytes).
std::vector<Piece> cut(std::string_view bytes, std::size_t begin, std::size_t size) {
  std::vector<Piece> pieces;
  size = std::max<std::size_t>(size, 1);
  while (begin < bytes.size()) {
    std::size_t end = bytes.size();
    if (bytes.size() - begin > size) {
      const std::size_t feed = bytes.find('\n', begin + size - 1);
      if (feed != std::string_view::npos) end = feed + 1;
    }
    pieces.push_back(Piece{begin, end});
    begin = end;
  }
  return pieces;
}

// Counts the lines and the non-blank lines of piece p.
void count(std::string_view bytes, Piece& p) {
  const char* at = bytes.data() + p.begin;
  const char* const end = bytes.data() + p.end;
  while (at < end) {
    const char* feed = static_cast<const char*>(std::memchr(at, '\n', end - at));
    const char* stop = feed ? feed : end;
    ++p.lines;
    while (at < stop && is_blank(*at)) ++at;
    if (at < stop) ++p.records;
    at = feed ? feed + 1 : end;
  }
}

long long add_capped(long long a, long long b) {
  return a > std::numeric_limits<long long>::max() - b ? std::numeric_limits<long long>::max()
                                                       : a + b;
}

// What the pieces share while they are read.
struct Reading {
  const Reporter& r;
  std::string_view bytes;
  const PlyReadOptions& options;
  const std::vector<Planned>& plan;
  long long limit;        // records to read: those of the planned elements
  bool check_trailing;    // records past the limit are an error (else they are not looked at)
  const VertexColumns& columns;
  PlyModel& m;
};

// Reads the records of piece p; faces go to `faces`.
void read_piece(const Reading& s, const Piece& p, std::vector<Coord3D<long long>>& faces) {
  DataReader in(s.r, PlyFormat::ascii, s.bytes.substr(0, p.end), p.begin, p.first_line);
  const long long nv = static_cast<long long>(s.m.positions.size());
  long long g = p.first_record;
  const long long end = p.first_record + p.records;
  std::size_t e = 0;
  Record rec;
  for (; g < end && g < s.limit; ++g) {
    while (g >= add_capped(s.plan[e].first, s.plan[e].el->count)) ++e;
    const Planned& el = s.plan[e];
    const long long i = g - el.first;
    in.read(*el.el, i, el.rules, rec);
    if (el.kind == ElementKind::vertex && i % s.options.step == 0)
      store_vertex(rec, s.columns, static_cast<std::size_t>(i / s.options.step), s.m);
    else if (el.kind == ElementKind::face)
      add_face(in, rec, i, nv, faces);
  }
  if (g < end) {
    // A record past the last element: the line that reading line by line finds next.
    if (!s.check_trailing) return;
    in.mark_trailing();
    if (!in.at_end()) in.fail("unexpected data after the last element");
  }
  // Blank lines left here come before a later record, and are checked as read() would.
  if (g < s.limit) in.check_blank_lines();
}

}  // namespace

PlyModel parse_ascii_data(const Reporter& r, const PlyHeader& h, std::string_view bytes,
                          const PlyReadOptions& options) {
  PlyModel m;
  m.format = PlyFormat::ascii;
  // 1. The elements in the order they are read, up to the first that cannot be read.
  std::vector<Planned> plan;
  VertexColumns columns;
  std::exception_ptr refused;
  bool seen_vertex = false;
  long long limit = 0;
  for (const PlyElement& el : h.elements) {
    Planned p{&el, element_kind(el, options), RecordRules(), limit};
    try {
      if (p.kind == ElementKind::vertex) p.rules = vertex_rules(r, el, options, m, columns);
      else if (p.kind == ElementKind::face) p.rules = face_rules(r, el, seen_vertex, m);
      else p.rules = plain_rules(el);
    } catch (...) {
      refused = std::current_exception();
      break;
    }
    plan.push_back(std::move(p));
    limit = add_capped(limit, el.count);
    if (plan.back().kind == ElementKind::vertex) {
      seen_vertex = true;
      if (options.vertices_only) break;
    }
  }

  // 2. The pieces, their lines and records, and where each starts.
  std::vector<Piece> pieces = cut(bytes, h.data_offset, options.piece_bytes);
  run_pieces(pieces.size(), options.threads, [&](std::size_t i) { count(bytes, pieces[i]); });
  std::size_t lines = h.lines;
  long long present = 0;
  for (Piece& p : pieces) {
    p.first_line = lines;
    p.first_record = present;
    lines += p.lines;
    present += p.records;
  }

  // 3. The records, each piece on its own. Vertices go straight to their places.
  for (const Planned& p : plan) {
    if (p.kind != ElementKind::vertex) continue;
    const long long there = std::clamp(present - p.first, 0LL, p.el->count);
    const std::size_t kept = static_cast<std::size_t>((there + options.step - 1) / options.step);
    m.positions.resize(kept);
    if (m.has_normals) m.normals.resize(kept);
    if (m.has_colors) m.colors.resize(kept);
  }
  std::vector<std::vector<Coord3D<long long>>> faces(pieces.size());
  // A point file's data after its vertex records is not looked at when later elements are
  // declared (a mesh read as points); when none is, such data is records the header does not
  // count, and an error as in any other file.
  const bool later_elements = !plan.empty() && plan.back().el != &h.elements.back();
  const Reading s{r, bytes, options, plan, limit, !refused && !(options.vertices_only && later_elements),
                  columns, m};
  run_pieces(pieces.size(), options.threads,
             [&](std::size_t i) { read_piece(s, pieces[i], faces[i]); });

  // 4. What only the whole file shows, after every line read.
  if (present < limit) {
    const Planned* short_of =
        &*std::find_if(plan.begin(), plan.end(),
                       [&](const Planned& p) {
                         return present < add_capped(p.first, p.el->count);
                       });
    r.fail_line(lines + 1, ends_early_message(*short_of->el, present - short_of->first));
  }
  if (refused) std::rethrow_exception(refused);
  for (const std::vector<Coord3D<long long>>& f : faces)
    m.faces.insert(m.faces.end(), f.begin(), f.end());
  return m;
}

}  // namespace tervik::io::detail
