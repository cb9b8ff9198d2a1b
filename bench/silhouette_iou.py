#!/usr/bin/env python3
"""Silhouette agreement of a mesh: per camera, the intersection over union (IoU) of the pixels
that the mesh covers and the foreground of the camera's silhouette (values above 128, as
sculptor counts them).

    bench/silhouette_iou.py BUILD_DIR NUMCAMS CAMTEMPLATE SILTEMPLATE FRAME MESH.ply

The mesh is drawn by render_view in plain grey (its colours are dropped, so that no dark
vertex colour reads as background) on a black image; every pixel that is not black is
covered. Prints one line per camera and the mean. Python's standard library only.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib


def read_png(path):
    """Returns (width, height, channels, rows) of an 8-bit, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"ERROR: {path} is not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        sys.exit(f"ERROR: {path}: only 8-bit grey or RGB PNGs without interlacing are read")
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append(line)
        previous = line
    return width, height, channels, rows


def grey_copy(mesh, path):
    """Writes an ASCII PLY mesh without its vertex colours."""
    with open(mesh) as f:
        lines = f.read().split("\n")
    end = lines.index("end_header")
    header = lines[:end + 1]
    vertex_props, in_vertex, vertices = [], False, 0
    for line in header:
        words = line.split()
        if words[:2] == ["element", "vertex"]:
            in_vertex, vertices = True, int(words[2])
        elif words[:1] == ["element"]:
            in_vertex = False
        elif in_vertex and words[:1] == ["property"]:
            vertex_props.append(words[-1])
    keep = [i for i, name in enumerate(vertex_props) if name not in ("red", "green", "blue")]
    out = [l for l in header if not (l.startswith("property") and l.split()[-1] in
                                     ("red", "green", "blue"))]
    for line in lines[end + 1:end + 1 + vertices]:
        words = line.split()
        out.append(" ".join(words[i] for i in keep))
    out.extend(lines[end + 1 + vertices:])
    with open(path, "w") as f:
        f.write("\n".join(out))


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    build, numcams, camtemplate, siltemplate, frame, mesh = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        grey = os.path.join(tmp, "grey.ply")
        grey_copy(mesh, grey)
        values = []
        for cam in range(int(numcams)):
            drawn = os.path.join(tmp, f"view{cam}.png")
            subprocess.run([os.path.join(build, "tools", "render_view"), "--calibration",
                            camtemplate, "--camera-ids", str(cam), "--model", grey, "--frame",
                            frame, "-o", drawn], check=True, stdout=subprocess.DEVNULL)
            w, h, c, view = read_png(drawn)
            sw, sh, sc, sil = read_png(siltemplate % (cam, int(frame)))
            if (w, h) != (sw, sh):
                sys.exit(f"ERROR: camera {cam}: view {w} x {h}, silhouette {sw} x {sh}")
            both = either = 0
            for y in range(h):
                v, s = view[y], sil[y]
                for x in range(w):
                    covered = any(v[x * c:x * c + c])
                    fg = s[x * sc] > 128
                    both += covered and fg
                    either += covered or fg
            values.append(both / either if either else 1.0)
            print(f"camera {cam}: IoU {values[-1]:.4f}")
        print(f"mean IoU {sum(values) / len(values):.4f} over {len(values)} cameras")


if __name__ == "__main__":
    main()
