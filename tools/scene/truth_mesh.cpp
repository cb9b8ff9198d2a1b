// Tessellation of the scene's primitives into the true-surface mesh.
#include "tools/scene/truth_mesh.h"

#include <cmath>
#include <numbers>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"

namespace tervik::scene {

namespace {

// A unit frame (e1, e2, axis) around `axis`.
void frame(const Point3D& axis, Point3D& e1, Point3D& e2) {
  const Point3D helper = std::abs(axis.x) < 0.9 ? Point3D(1, 0, 0) : Point3D(0, 1, 0);
  e1 = cross(axis, helper);
  e1 = e1 / norm(e1);
  e2 = cross(axis, e1);
}

// Appends the rings of one primitive to the model: rows of `around` vertices from the south
// pole to the north pole (each pole one vertex), joined by triangles.
void tessellate(const Primitive& prim, int around, io::PlyModel& model) {
  const double pi = std::numbers::pi;
  Point3D axis(0, 0, 1), e1(1, 0, 0), e2(0, 1, 0), lo = prim.a, hi = prim.a;
  double radius = prim.radii.x;
  int cylinder_rings = 0;
  if (prim.shape == Shape::capsule) {
    const Point3D d = prim.b - prim.a;
    const double length = norm(d);
    if (length > 0.0) {
      axis = d / length;
      frame(axis, e1, e2);
      hi = prim.b;
      cylinder_rings = int(std::ceil(length / (2.0 * pi * radius / around)));
    }
  }
  const int half = std::max(2, around / 4);  // latitude steps per hemisphere
  // Latitudes of the rings, with the end each belongs to (0: lo, 1: hi); the cylinder's rings
  // sit between the two equators.
  struct Ring {
    double phi;
    double t;  // position between lo (0) and hi (1)
  };
  std::vector<Ring> rings;
  for (int k = 0; k <= half; ++k) rings.push_back({-pi / 2 + pi / 2 * k / half, 0.0});
  for (int k = 1; k <= cylinder_rings; ++k) rings.push_back({0.0, double(k) / cylinder_rings});
  for (int k = 1; k <= half; ++k) rings.push_back({pi / 2 * k / half, 1.0});
  const auto base = static_cast<long long>(model.positions.size());
  const auto place = [&](double phi, double theta, double t) {
    const Point3D u = (e1 * std::cos(theta) + e2 * std::sin(theta)) * std::cos(phi) + axis * std::sin(phi);
    if (prim.shape == Shape::ellipsoid)
      return prim.a + Point3D(u.x * prim.radii.x, u.y * prim.radii.y, u.z * prim.radii.z);
    return lo + (hi - lo) * t + u * radius;
  };
  // Vertex indices: the south pole, the rings in between, the north pole.
  model.positions.push_back(place(rings.front().phi, 0.0, rings.front().t));
  for (std::size_t r = 1; r + 1 < rings.size(); ++r)
    for (int j = 0; j < around; ++j)
      model.positions.push_back(place(rings[r].phi, 2.0 * pi * j / around, rings[r].t));
  model.positions.push_back(place(rings.back().phi, 0.0, rings.back().t));
  const long long middle = static_cast<long long>(rings.size()) - 2;  // rings with `around` vertices
  const auto at = [&](long long ring, int j) { return base + 1 + ring * around + (j % around); };
  const long long north = base + 1 + middle * around;
  for (int j = 0; j < around; ++j) {
    model.faces.push_back({base, at(0, j + 1), at(0, j)});
    model.faces.push_back({north, at(middle - 1, j), at(middle - 1, j + 1)});
  }
  for (long long r = 0; r + 1 < middle; ++r)
    for (int j = 0; j < around; ++j) {
      model.faces.push_back({at(r, j), at(r, j + 1), at(r + 1, j + 1)});
      model.faces.push_back({at(r, j), at(r + 1, j + 1), at(r + 1, j)});
    }
}

}  // namespace

io::PlyModel truth_mesh(const Solid& solid, const ColorPattern& pattern, int around) {
  TERVIK_CHECK(around >= 8 && around <= 4096, "truth_mesh: " << around << " vertices per ring");
  io::PlyModel all;
  std::vector<std::size_t> owner;  // the primitive of every face
  for (std::size_t p = 0; p < solid.primitives().size(); ++p) {
    const std::size_t before = all.faces.size();
    tessellate(solid.primitives()[p], around, all);
    owner.insert(owner.end(), all.faces.size() - before, p);
  }
  io::PlyModel model;
  model.has_faces = model.has_colors = true;
  model.positions = all.positions;
  for (std::size_t f = 0; f < all.faces.size(); ++f) {
    auto face = all.faces[f];
    const Point3D& a = all.positions[face.x];
    const Point3D& b = all.positions[face.y];
    const Point3D& c = all.positions[face.z];
    const Point3D centroid = (a + b + c) / 3.0;
    bool hidden = false;
    for (std::size_t p = 0; p < solid.primitives().size() && !hidden; ++p)
      hidden = p != owner[f] && contains_strictly(solid.primitives()[p], centroid, 0.0);
    if (hidden) continue;
    // Wound outwards whatever the tessellation's frame did.
    const Point3D n = cross(b - a, c - a);
    if (dot(n, surface_normal(solid.primitives()[owner[f]], centroid)) < 0.0) std::swap(face.y, face.z);
    if (norm(n) > 0.0) model.faces.push_back(face);
  }
  for (const Point3D& p : model.positions)
    model.colors.push_back(surface_color(pattern, p, solid.outward_normal(p)));
  return model;
}

void write_mesh_ply(const std::string& file, const io::PlyModel& model) {
  std::string out = io::mesh_file_header(model.positions.size(), model.faces.size(), true,
                                         io::PlyFormat::ascii);
  for (std::size_t i = 0; i < model.positions.size(); ++i)
    io::append_mesh_vertex(out, model.positions[i], &model.colors[i][0], io::PlyFormat::ascii);
  for (const auto& f : model.faces) io::append_mesh_face(out, f, io::PlyFormat::ascii);
  io::AtomicFile writer;
  if (!writer.open(file)) throw TervikFileError(file, "cannot write: " + writer.error());
  std::fwrite(out.data(), 1, out.size(), writer.stream());
  if (!writer.commit()) throw TervikFileError(file, "cannot write: " + writer.error());
}

}  // namespace tervik::scene
