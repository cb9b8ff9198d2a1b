#!/usr/bin/env python3
"""Where a closed mesh covers background that the plain mesh leaves open, and what lies there.

    bench/watertight_webs.py BUILD_DIR SCENE_DIR CAMERA FRAME CLOUD PLAIN CLOSED [DIFF.png]

SCENE_DIR is a make_scene output (cam%d.txt, sil%d_%04d.png, ground_truth.txt), CLOUD the
ASCII point file both meshes were made from, PLAIN and CLOSED weaver's meshes without and with
--watertight. Both meshes are drawn from the camera as bench/silhouette_iou.py draws them. The
pixels that the closed mesh alone covers outside the silhouette are what its IoU lost to the
plain mesh's there; the closing step's new faces (not faces of the plain mesh) whose centroids
fall on them are the webs. For their added vertices (those past the cloud's points) it prints
how far the nearest point is, in mean edge lengths L of the closed mesh, and how many lie
outside the true object of that frame. DIFF.png, when given, shows those pixels red, pixels the
closed mesh alone covers inside the silhouette green, and pixels only the plain mesh covers blue,
over the silhouette in grey. Python's standard library only; it takes a minute on 20,000 points.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from silhouette_iou import grey_copy, read_png  # noqa: E402


def write_png(path, width, height, rows):
    """Writes 8-bit RGB rows (bytearrays) as a PNG."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def read_mesh(path):
    """Vertices and triangles of an ASCII PLY file (faces empty for a point file)."""
    with open(path) as f:
        vertices = faces = 0
        for line in f:
            words = line.split()
            if words[:2] == ["element", "vertex"]:
                vertices = int(words[2])
            elif words[:2] == ["element", "face"]:
                faces = int(words[2])
            elif words == ["end_header"]:
                break
        points = [tuple(map(float, next(f).split()[:3])) for _ in range(vertices)]
        triangles = [tuple(map(int, next(f).split()[1:4])) for _ in range(faces)]
    return points, triangles


def projection(path):
    """The 3 x 4 projection matrix of a calibration file."""
    lines = open(path).read().split("\n")
    at = next(i for i, l in enumerate(lines) if l.startswith("[Projection matrix"))
    return [list(map(float, lines[at + 1 + k].split())) for k in range(3)]


def truth(path, frame):
    """A test for 'inside the true object' from the primitives of ground_truth.txt."""
    shapes, current = [], None
    for line in open(path):
        words = line.split()
        if words[:1] == ["frame"]:
            current = int(words[1])
        elif current == frame and words and words[0] in ("sphere", "ellipsoid", "capsule"):
            shapes.append((words[0], list(map(float, words[1:]))))

    def inside(p, grow=0.0):
        for kind, a in shapes:
            if kind == "sphere" and math.dist(p, a[:3]) < a[3] + grow:
                return True
            if kind == "ellipsoid" and sum(((p[i] - a[i]) / (a[3 + i] + grow)) ** 2 for i in range(3)) < 1:
                return True
            if kind == "capsule":
                d = [a[3 + i] - a[i] for i in range(3)]
                s = max(0.0, min(1.0, sum((p[i] - a[i]) * d[i] for i in range(3)) / sum(x * x for x in d)))
                if math.dist(p, [a[i] + s * d[i] for i in range(3)]) < a[6] + grow:
                    return True
        return False
    return inside


def main():
    if len(sys.argv) not in (8, 9):
        sys.exit(__doc__)
    build, scene, camera, frame, cloud, plain, closed = sys.argv[1:8]
    camera, frame = int(camera), int(frame)
    calibration = os.path.join(scene, "cam%ld.txt")
    covered = []
    with tempfile.TemporaryDirectory() as tmp:
        for mesh in (plain, closed):
            grey, drawn = os.path.join(tmp, "grey.ply"), os.path.join(tmp, "view.png")
            grey_copy(mesh, grey)
            subprocess.run([os.path.join(build, "tools", "render_view"), "--calibration", calibration,
                            "--camera-ids", str(camera), "--model", grey, "--frame", str(frame), "-o", drawn],
                           check=True, stdout=subprocess.DEVNULL)
            w, h, c, view = read_png(drawn)
            covered.append([[any(row[x * c:(x + 1) * c]) for x in range(w)] for row in view])
    sw, sh, sc, sil = read_png(os.path.join(scene, "sil%d_%04d.png" % (camera, frame)))
    if (sw, sh) != (w, h):
        sys.exit(f"ERROR: view {w} x {h}, silhouette {sw} x {sh}")
    lost = [[covered[1][y][x] and not covered[0][y][x] and sil[y][x * sc] <= 128 for x in range(w)]
            for y in range(h)]
    if len(sys.argv) == 9:
        rows = []
        for y in range(h):
            row = bytearray(3 * w)
            for x in range(w):
                fg, p, q = sil[y][x * sc] > 128, covered[0][y][x], covered[1][y][x]
                colour = (40, 40, 40) if fg else (0, 0, 0)
                if q and not p:
                    colour = (0, 255, 0) if fg else (255, 0, 0)
                elif p and not q:
                    colour = (0, 0, 255)
                row[3 * x:3 * x + 3] = bytes(colour)
            rows.append(row)
        write_png(sys.argv[8], w, h, rows)

    points, _ = read_mesh(cloud)
    plain_vertices, plain_faces = read_mesh(plain)
    vertices, faces = read_mesh(closed)
    old = {frozenset(f) for f in plain_faces}
    edges = [(f[k], f[(k + 1) % 3]) for f in faces for k in range(3)]
    edge = sum(math.dist(vertices[a], vertices[b]) for a, b in edges) / len(edges)
    P = projection(calibration % camera)
    webs, added = 0, set()
    for f in faces:
        if frozenset(f) in old:
            continue
        centre = [sum(vertices[i][k] for i in f) / 3 for k in range(3)]
        hx = [P[r][0] * centre[0] + P[r][1] * centre[1] + P[r][2] * centre[2] + P[r][3] for r in range(3)]
        x, y = int(hx[0] / hx[2]), int(hx[1] / hx[2])
        if 0 <= x < w and 0 <= y < h and lost[y][x]:
            webs += 1
            added.update(i for i in f if i >= len(plain_vertices))
    # The nearest point of each added vertex, through a grid of cells one edge length wide.
    cells = {}
    for p in points:
        cells.setdefault(tuple(math.floor(v / edge) for v in p), []).append(p)
    reach = 6

    def nearest(p):
        c = tuple(math.floor(v / edge) for v in p)
        best, found = float("inf"), None
        for dx in range(-reach, reach + 1):
            for dy in range(-reach, reach + 1):
                for dz in range(-reach, reach + 1):
                    for q in cells.get((c[0] + dx, c[1] + dy, c[2] + dz), ()):
                        if math.dist(p, q) < best:
                            best, found = math.dist(p, q), q
        return best / edge, found
    near = [nearest(vertices[i]) for i in added]
    distances = sorted(d for d, _ in near)
    inside = truth(os.path.join(scene, "ground_truth.txt"), frame)
    # Points within 2 L of a web vertex that lie over 1 L outside the true object: the visual
    # hull's fins, which the points sample as faithfully as the true surface.
    fins = {q for d, q in near if d <= 2 and not inside(q, edge)}
    near_points = {q for d, q in near if d <= 2}
    outside = sum(1 for i in added if not inside(vertices[i]))
    lost_pixels = sum(map(sum, lost))
    print(f"camera {camera}: {lost_pixels} pixels of background covered by the closed mesh alone, "
          f"{webs} new faces on them, {len(added)} added vertices")
    if distances:
        far = sum(1 for d in distances if d > 2)
        print(f"  nearest point: median {distances[len(distances) // 2]:.1f} L, over 2 L for {far}, "
              f"none within {reach} L for {sum(1 for d in distances if d == float('inf'))} "
              f"(L = {edge:.4f}); outside the true object: {outside}")
        print(f"  of the {len(near_points)} points nearest to those within 2 L, {len(fins)} lie over 1 L "
              f"outside the true object")


if __name__ == "__main__":
    main()
