#!/usr/bin/env bash
# The browser player on a long take:
#   bench/player_bench.sh [build-dir]
# Reconstructs DISTINCT frames (default 10) of the generated figure with NPOINTS points
# (default 40000; sculptor, then weaver), and makes a take of FRAMES frames (default 300) whose
# files cycle through them (frame f is a copy of reconstructed frame f mod DISTINCT: every frame
# is its own file, converted, fetched and decoded on its own). Then it reports:
#  - make_player's wall and processor time for the take (with the load average), compressed
#    (EXT_meshopt_compression with 16-bit positions, the default; with exact positions) and
#    not, and bytes per frame of each;
#  - where bench/player_draco was built (TERVIK_BENCH=ON with Debian's libdraco-dev): the same
#    frames with KHR_draco_mesh_compression, positions quantised to 16 and 14 bits, their
#    bytes per frame and encoding time (first DECODE frames only);
#  - in headless Chromium (software WebGL, WIDTHxHEIGHT, default 960x540), served by
#    python3 -m http.server on 127.0.0.1: the decode time per frame of every kind with
#    three.js's GLTFLoader (bench/player_decode.html; DECODE frames, default 30, one at a time,
#    on the page's thread and on a worker); then, playing each of KINDS (default
#    "compressed uncompressed"), the mean fetch and decode time per frame, the frames shown per
#    second while playing the whole take once the cache is warm (the first 40 frames loaded),
#    the longest gap between two frames, the page's peak memory (JavaScript heap, and the
#    resident memory of all the browser's processes), and what one shown frame costs the
#    page (the swap of the frame's geometry and the JavaScript around it) against a redraw of
#    a frame already shown (the rasteriser alone).
# Environment: FRAMES, DISTINCT, NPOINTS, WIDTH, HEIGHT, DECODE, KINDS, QUERY, WORK (folder
# kept; default a temporary one, removed), CHROMIUM (default /usr/bin/chromium).
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
for kind in compressed exact uncompressed; do
  options=(--output "$work/player_$kind" --first 0 --last $((frames - 1)) --mesh "$work/take/mesh_%04ld.ply"
           --calibration "$work/scene/cam%ld.txt")
  [[ $kind == exact ]] && options+=(--position-bits 0)
  [[ $kind == uncompressed ]] && options+=(--uncompressed)
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

# Draco, for the comparison only: the first DECODE + 1 frames.
decode=${DECODE:-30}
decoded=(player_compressed player_exact player_uncompressed)
if [[ -x $build/bench/player_draco ]]; then
  for bits in 16 14; do
    mkdir -p "$work/player_draco$bits/frames"
    echo "draco, positions quantised to $bits bits (encoder level 7):" \
      "$("$build/bench/player_draco" $bits 7 "$work/take/mesh_%04ld.ply" \
         "$work/player_draco$bits/frames/frame_%06ld.glb" 0 "$decode")"
    bytes=0
    for ((f = 1; f <= decode; ++f)); do
      bytes=$((bytes + $(stat -c %s "$(printf '%s/player_draco%d/frames/frame_%06d.glb' "$work" "$bits" "$f")")))
    done
    echo "   bytes per frame: $((bytes / decode))"
    decoded+=("player_draco$bits")
  done
else
  echo "(no bench/player_draco in $build: configure with -DTERVIK_BENCH=ON where libdraco-dev is installed to compare Draco)"
fi
three=$here/../node_modules/three/examples/jsm
mkdir -p "$work/draco"
cp "$three/loaders/DRACOLoader.js" "$three/libs/draco/gltf/"draco_* "$work/draco/"
cp "$here/player_decode.html" "$work/"

DECODED=$(IFS=,; echo "${decoded[*]}") DECODE=$decode \
  node "$here/player_bench.mjs" "$work" "${WIDTH:-960}" "${HEIGHT:-540}"
