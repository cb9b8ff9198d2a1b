#!/usr/bin/env bash
# The browser player on a long take:
#   bench/player_bench.sh [build-dir]
# Reconstructs DISTINCT frames (default 10) of the generated figure with NPOINTS points
# (default 40000; sculptor, then weaver), and makes a take of FRAMES frames (default 300) whose
# files cycle through them (frame f is a copy of reconstructed frame f mod DISTINCT: every frame
# is its own file, converted, fetched and decoded on its own). Then it reports:
#  - make_player's wall time for the take, compressed (EXT_meshopt_compression) and not;
#  - bytes per frame of both;
#  - in headless Chromium (software WebGL, WIDTHxHEIGHT, default 960x540), served by
#    python3 -m http.server on 127.0.0.1: the mean fetch and decode time per frame of both, the
#    frames shown per second while playing the whole take once the cache is warm (the first
#    40 frames loaded), the longest gap between two frames, and the peak memory of the page
#    (JavaScript heap, and the resident memory of all the browser's processes).
# Environment: FRAMES, DISTINCT, NPOINTS, WIDTH, HEIGHT, WORK (folder kept; default a temporary
# one, removed), CHROMIUM (default /usr/bin/chromium).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
frames=${FRAMES:-300} distinct=${DISTINCT:-10} npoints=${NPOINTS:-40000}
if [[ -n ${WORK:-} ]]; then
  work=$WORK
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_player_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

if [[ ! -f $work/take/mesh_$(printf %04d $((frames - 1))).ply ]]; then
  echo "== Reconstructing $distinct frames with $npoints points (sculptor, weaver)"
  "$build/tools/make_scene" -o "$work/scene" --frames "$distinct" --points "$npoints" >"$work/make_scene.log"
  read -r -a words < <(grep '/sculptor ' "$work/make_scene.log")
  box=("${words[@]:${#words[@]}-7:6}")
  mkdir -p "$work/recon" "$work/take"
  "$build/sculptor/sculptor" --threads 0 8 "$work/scene/cam%ld.txt" "$work/scene/img%ld_%04ld.png" \
    "$work/scene/sil%ld_%04ld.png" "$work/recon/points_%04ld.ply" 0 $((distinct - 1)) "${box[@]}" \
    "$npoints" >"$work/sculptor.log" 2>&1
  for ((f = 0; f < distinct; ++f)); do
    "$build/weaver/weaver" --threads 0 "$(printf '%s/recon/points_%04d.ply' "$work" "$f")" \
      "$(printf '%s/recon/mesh_%04d.ply' "$work" "$f")" 20 30 1 1000000 >>"$work/weaver.log" 2>&1
  done
  for ((f = 0; f < frames; ++f)); do
    cp "$(printf '%s/recon/mesh_%04d.ply' "$work" $((f % distinct)))" "$(printf '%s/take/mesh_%04d.ply' "$work" "$f")"
  done
fi
echo "   a frame: $(sed -n 's/^element vertex //p' "$work/take/mesh_0000.ply") vertices," \
  "$(sed -n 's/^element face //p' "$work/take/mesh_0000.ply") faces"

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
for kind in compressed uncompressed; do
  options=(--output "$work/player_$kind" --first 0 --last $((frames - 1)) --mesh "$work/take/mesh_%04ld.ply"
           --calibration "$work/scene/cam%ld.txt")
  [[ $kind == compressed ]] || options+=(--uncompressed)
  rm -rf "$work/player_$kind"
  start=$EPOCHREALTIME
  # Processor time too: on a busy machine the wall time says more about the others' load.
  /usr/bin/time -f '%U %S' -o "$work/time_$kind" "$build/tools/make_player" "${options[@]}" \
    >"$work/make_player_$kind.log"
  read -r user sys <"$work/time_$kind"
  echo "make_player, $frames frames, $kind: $(seconds "$start" "$EPOCHREALTIME") s wall," \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }') s processor time" \
    "(default threads; $(nproc) cores here; load average $(cut -d ' ' -f 1 /proc/loadavg))"
  bytes=$(du -cb "$work/player_$kind"/frames/*.glb | tail -n 1 | cut -f 1)
  echo "   bytes per frame: $((bytes / frames))"
done

node "$here/player_bench.mjs" "$work" "${WIDTH:-960}" "${HEIGHT:-540}"
