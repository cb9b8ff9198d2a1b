#!/usr/bin/env bash
# The browser player, end to end:
#   tests/tools/player/browser_check.sh BUILD_DIR
# Generates a small 3-frame scene, samples and meshes it, textures frame 2, writes its player
# folder with make_player and render_view's images of frames 0 and 2 through camera 0, then runs
# browser_check.mjs in headless Chromium. Screenshots of failed checks are kept in BUILD_DIR/Testing/Temporary/player.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
log_dir=$build/Testing/Temporary/player

for need in node python3; do
  command -v "$need" >/dev/null || { echo "FAIL: $need is not installed (tools/install-deps.sh)"; exit 1; }
done
[[ -x ${CHROMIUM:-/usr/bin/chromium} ]] ||
  { echo "FAIL: no Chromium at ${CHROMIUM:-/usr/bin/chromium} (tools/install-deps.sh)"; exit 1; }
[[ -d $source_dir/node_modules/puppeteer-core ]] ||
  { echo "FAIL: node_modules/ is missing: run 'npm ci' in $source_dir"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_player.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$log_dir"
must() {
  "$@" >"$work/setup.log" 2>&1 || { echo "FAIL: set-up command failed: $*"; cat "$work/setup.log"; exit 1; }
}
scene=$work/scene
must "$build/tools/make_scene" -o "$scene" --frames 3 --points 10000
read -r -a words < <(grep '/sculptor ' "$work/setup.log")
box=("${words[@]:${#words[@]}-7:6}")
must "$build/sculptor/sculptor" 8 "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" \
  "$scene/sil%ld_%04ld.png" "$work/points_%04ld.ply" 0 2 "${box[@]}" 10000
for f in 0 1 2; do
  must "$build/weaver/weaver" "$work/points_000$f.ply" "$work/mesh_000$f.ply" 20 30 1 1000000
done
# Frame 2 is textured; frames 0 and 1 fall back to their vertex-coloured meshes.
must "$build/tools/texture_mesh" --calibration "$scene/cam%ld.txt" --cameras 8 \
  --images "$scene/img%ld_%04ld.png" --silhouettes "$scene/sil%ld_%04ld.png" --frame 2 \
  --mesh "$work/mesh_0002.ply" -o "$work/tex_0002.glb"
must "$build/tools/make_player" -o "$work/player" --first 0 --last 2 --textured "$work/tex_%04ld.glb" \
  --mesh "$work/mesh_%04ld.ply" --points "$work/points_%04ld.ply" --calibration "$scene/cam%ld.txt"
# render_view draws a mesh without colours in grey shades that are never black: the object's
# pixels are then exactly the non-black ones. The copy drops the vertices' red green blue.
python3 - "$work/mesh_0000.ply" "$work/grey_0000.ply" <<'PY'
import sys
lines = open(sys.argv[1]).read().split("\n")
end = lines.index("end_header")
header = [l for l in lines[:end] if l not in ("property uchar red", "property uchar green", "property uchar blue")]
count = int(next(l for l in lines if l.startswith("element vertex")).split()[2])
body = [" ".join(l.split()[:-3]) for l in lines[end + 1:end + 1 + count]] + lines[end + 1 + count:]
open(sys.argv[2], "w").write("\n".join(header + ["end_header"] + body))
PY
must "$build/tools/render_view" --calibration "$scene/cam%ld.txt" --camera-ids 0 \
  --model "$work/grey_0000.ply" --output "$work/render_0.png"
# The textured frame's colours as stored in its atlas, through camera 0.
must "$build/tools/render_view" --calibration "$scene/cam%ld.txt" --camera-ids 0 --unlit \
  --model "$work/tex_0002.glb" --output "$work/render_tex_2.png"
node "$here/browser_check.mjs" "$work" "$log_dir"
