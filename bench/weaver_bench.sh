#!/usr/bin/env bash
# Times weaver by hand (never run by CI). For each input it prints weaver's own timing line
# (processor time of the triangulation alone) and the faces per second derived from it.
#
#   bench/weaver_bench.sh [build-dir] [point files...]
#
# Without point files it meshes evenly sampled unit spheres of 10^4, 10^5 and 10^6 points
# (generated here with awk). Point files of sculptor's benchmark scenes can be given instead.
# Mesher parameters: WEAVER_NN (20), WEAVER_MINANGLE (30), WEAVER_DECIMATION (1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
weaver=$build/weaver/weaver
[ -x "$weaver" ] || { echo "weaver not built in $build (cmake --build $build --target weaver)" >&2; exit 1; }
nn=${WEAVER_NN:-20}
minangle=${WEAVER_MINANGLE:-30}
decimation=${WEAVER_DECIMATION:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Writes an evenly spread (golden-angle spiral) unit sphere of $1 points with outward normals.
sphere() {
  awk -v n="$1" 'BEGIN {
    print "ply"; print "format ascii 1.0"; print "element vertex " n
    split("x y z nx ny nz", p, " ")
    for (i = 1; i <= 6; i++) print "property float " p[i]
    print "property uchar red"; print "property uchar green"; print "property uchar blue"
    print "end_header"
    golden = 3.14159265358979 * (3 - sqrt(5))
    for (i = 0; i < n; i++) {
      z = 1 - 2 * (i + 0.5) / n; r = sqrt(1 - z * z)
      x = r * cos(golden * i); y = r * sin(golden * i)
      printf "%e %e %e %e %e %e 128 128 128\n", x, y, z, x, y, z
    }
  }'
}

inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  for n in 10000 100000 1000000; do
    sphere $n >"$work/sphere_$n.ply"
    inputs+=("$work/sphere_$n.ply")
  done
fi

printf "%-28s %10s %10s %12s  %s\n" input points faces faces/s "timing line"
for f in "${inputs[@]}"; do
  points=$(awk '/^element vertex/ { print $3; exit }' "$f")
  timing=$("$weaver" "$f" "$work/mesh.ply" "$nn" "$minangle" "$decimation" 4294967295 \
             2>&1 >/dev/null | grep '^Total: ')
  faces=$(awk '/^element face/ { print $3; exit }' "$work/mesh.ply")
  seconds=$(echo "$timing" | awk '{ print $5 }')
  rate=$(awk -v f="$faces" -v t="$seconds" 'BEGIN { if (t > 0) printf "%.0f", f / t; else print "inf" }')
  printf "%-28s %10s %10s %12s  %s\n" "$(basename "$f")" "$points" "$faces" "$rate" "$timing"
done
