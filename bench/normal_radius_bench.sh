#!/usr/bin/env bash
# The normals' neighbourhood radius (sculptor --normal-radius R, in sampling lengths L) against
# the ground truth of two generated scenes (a moving figure filmed by a ring of 12 cameras, a
# sphere under a dome of 12; 640 x 480, frames 0 and 1, the second tracked), at 10^4, 4 x 10^4
# and 2 x 10^5 points. Per case and frame: the median and p90 angle between each point's normal
# and the true normal (degrees) and the share of normals pointing inward, from
# score_reconstruction. At 4 x 10^4 points it also meshes frame 0 with weaver (nn 20, minimum
# angle 30, no decimation) and reports the plain mesh's boundary edges (its holes' rims).
# Run by hand, never by CI:
#   bench/normal_radius_bench.sh [build-folder]      (default: build)
# Environment: RADII ("1 1.5 2 2.5 3"), POINTS ("10000 40000 200000"), THREADS (2: the normals do
# not depend on it), SCENES ("figure sphere").
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
cmake --build "$build" -j 2 --target sculptor weaver make_scene score_reconstruction >/dev/null
radii=${RADII:-1 1.5 2 2.5 3}
points_list=${POINTS:-10000 40000 200000}
threads=${THREADS:-2}
scenes=${SCENES:-figure sphere}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The figures of one score_reconstruction --json report: median, p90, inward share (%).
normal_figures() {
  local angle
  angle=$(grep -o '"normal_angle_deg": {[^}]*}' <<<"$1")
  printf '%6.2f %6.2f %6.2f%%' \
      "$(grep -o '"median": [-0-9.e+]*' <<<"$angle" | cut -d' ' -f2)" \
      "$(grep -o '"p90": [-0-9.e+]*' <<<"$angle" | cut -d' ' -f2)" \
      "$(grep -o '"share_inward": [-0-9.e+]*' <<<"$1" | awk '{ print 100 * $2 }')"
}

for object in $scenes; do
  layout=ring
  [ "$object" = sphere ] && layout=dome
  scene=$work/$object
  "$build/tools/make_scene" --output "$scene" --object "$object" --cameras 12 --layout "$layout" \
      --frames 2 --threads 2 >/dev/null 2>&1
  truth=$scene/ground_truth.txt
  read -r -a box < <(grep '^box ' "$truth" | cut -d' ' -f2-)
  echo "== $object, $layout of 12 cameras"
  printf '%-8s %-6s %-24s %-24s %s\n' points R "frame 0: median p90 in" "frame 1: median p90 in" \
      "boundary edges (frame 0)"
  for npoints in $points_list; do
    for r in $radii; do
      out=$work/$object-$npoints-$r
      mkdir -p "$out"
      "$build/sculptor/sculptor" --threads "$threads" --normal-radius "$r" 12 "$scene/cam%ld.txt" \
          "$scene/img%ld_%04ld.png" "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" 0 1 \
          "${box[@]}" "$npoints" >/dev/null 2>&1
      row=""
      for f in 0 1; do
        json=$("$build/tools/score_reconstruction" --truth "$truth" --frame "$f" \
            --points "$(printf '%s/points_%04d.ply' "$out" "$f")" --json)
        row+="$(normal_figures "$json")    "
      done
      edges=""
      if [ "$npoints" = 40000 ]; then
        "$build/weaver/weaver" --threads "$threads" "$out/points_0000.ply" "$out/mesh.ply" 20 30 1 \
            1000000 >/dev/null 2>&1
        edges=$("$build/tools/score_reconstruction" --truth "$truth" --frame 0 --mesh "$out/mesh.ply" \
            --json | grep -o '"boundary_edges": [0-9]*' | cut -d' ' -f2)
      fi
      printf '%-8s %-6s %s%s\n' "$npoints" "$r" "$row" "$edges"
    done
  done
done
