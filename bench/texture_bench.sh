#!/usr/bin/env bash
# Figures of texture_mesh on generated 16-camera dome scenes (1280 x 960, the figure, 40,000
# points): the leave-one-out photo check (PSNR and SSIM) against the per-vertex colours, on the
# reconstructed (hull) mesh and on the true surface, the colour step across seams, the time per
# frame with 1 and 2 threads, their ratio, and the peak memory. Run by hand, never by CI:
#
#   bench/texture_bench.sh BUILD WORKDIR [ROUNDS]
#
# BUILD is a build folder (BUILD/tools/texture_mesh ...), WORKDIR a folder for the scenes (reused
# when present). Two scenes: "checker" (make_scene's pattern, cells of 0.1) and "fine" (cells of
# 0.02, finer than the points' spacing). Times are the median of ROUNDS runs (default 5).
#
# Leave-one-out: for every camera k, texture the frame from the other 15 (--exclude-cameras k),
# render it into camera k unlit and compare with k's photo inside its silhouette (render_view
# --psnr); the baseline is the same mesh drawn in its vertex colours. Note that the vertex colours
# were taken with camera k among the cameras (sculptor colours from all of them), which favours
# the baseline; the truth mesh's vertex colours are the exact pattern colours.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,19p' "$0"; exit 2; }
build=$(cd "$1" && pwd) work=$2 rounds=${3:-5}
mkdir -p "$work"
cd "$work"
tools=$build/tools

median() { sort -g | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
mean() { awk '{ s += $1; n++ } END { printf "%.2f\n", s / n }'; }
mean3() { awk '{ s += $1; n++ } END { printf "%.3f\n", s / n }'; }

scene() {  # scene NAME CELL: generates, reconstructs and meshes one scene
  local name=$1 cell=$2
  [ -f "$name/mesh.ply" ] && return
  "$tools/make_scene" -o "$name" --object figure --cameras 16 --layout dome --width 1280 \
    --height 960 --frames 1 --points 40000 --pattern-cell "$cell" --truth-mesh --threads 2 > /dev/null 2>&1
  "$build/sculptor/sculptor" 16 "$name/cam%ld.txt" "$name/img%ld_%04ld.png" "$name/sil%ld_%04ld.png" \
    "$name/points_%04ld.ply" 0 0 -0.51 -0.19 -0.48 0.51 0.28 0.79 40000 > /dev/null 2>&1
  "$build/weaver/weaver" --watertight "$name/points_0000.ply" "$name/mesh.ply" 20 30 1 1000000 > /dev/null 2>&1
}

loo() {  # loo SCENE MESH: mean leave-one-out PSNR and SSIM, textured and vertex colours
  local s=$1 mesh=$2
  local io="--calibration $s/cam%ld.txt --images $s/img%ld_%04ld.png --silhouettes $s/sil%ld_%04ld.png"
  for k in $(seq 0 15); do
    "$tools/texture_mesh" $io --cameras 16 --frame 0 --mesh "$mesh" --exclude-cameras "$k" \
      -o "$s/loo.glb" > /dev/null 2>&1
    # "Camera k: PSNR p dB, SSIM s over ..."
    "$tools/render_view" $io --camera-ids "$k" --model "$s/loo.glb" --psnr -o "$s/loo.png" |
      awk '/PSNR/ { print $4, $7 }' >> "$s/loo_tex.txt"
    "$tools/render_view" $io --camera-ids "$k" --model "$mesh" --psnr -o "$s/loo.png" |
      awk '/PSNR/ { print $4, $7 }' >> "$s/loo_vc.txt"
  done
  printf "  %-22s textured %s dB, SSIM %s; vertex colours %s dB, SSIM %s\n" "$(basename "$mesh"):" \
    "$(cut -d' ' -f1 "$s/loo_tex.txt" | mean)" "$(cut -d' ' -f2 "$s/loo_tex.txt" | mean3)" \
    "$(cut -d' ' -f1 "$s/loo_vc.txt" | mean)" "$(cut -d' ' -f2 "$s/loo_vc.txt" | mean3)"
  rm -f "$s/loo_tex.txt" "$s/loo_vc.txt" "$s/loo.glb" "$s/loo.png"
}

for pattern in checker:0.1 fine:0.02; do
  name=${pattern%%:*} cell=${pattern#*:}
  scene "$name" "$cell"
  io="--calibration $name/cam%ld.txt --images $name/img%ld_%04ld.png --silhouettes $name/sil%ld_%04ld.png"
  echo "== $name (checker cells of $cell)"
  echo "Leave-one-out PSNR, mean over the 16 cameras:"
  loo "$name" "$name/mesh.ply"
  loo "$name" "$name/truth_0000.ply"
  echo "Colour step (mean |dRGB|), hull mesh:"
  for opt in "" --no-seam-levelling; do
    "$tools/texture_mesh" $io --cameras 16 --mesh "$name/mesh.ply" -o "$name/t.glb" $opt 2>/dev/null |
      awk -v o="${opt:-levelled}" '/Colour step/ { gsub(",", ""); printf "  %-20s across seams %s, inside charts %s\n", o ":", $5, $8 }'
  done
  # Wall time, and processor time (user + system), which a busy shared machine inflates less;
  # the runs with 1 and 2 threads alternate, so that both meet the same load, which is printed.
  echo "Time per frame (median of $rounds), 4096 x 4096 atlas, PNG, reading and writing included:"
  rm -f "$name/times_1.txt" "$name/times_2.txt"
  for r in $(seq "$rounds"); do
    for t in 1 2; do
      /usr/bin/time -f "%e %M %U %S" "$tools/texture_mesh" $io --cameras 16 --mesh "$name/mesh.ply" \
        -o "$name/t.glb" --threads "$t" 2>&1 >/dev/null | tail -1 >> "$name/times_$t.txt"
    done
  done
  for t in 1 2; do
    printf "  --threads %s: wall %s s, processor %s s, peak memory %s MiB\n" "$t" \
      "$(cut -d' ' -f1 "$name/times_$t.txt" | median)" \
      "$(awk '{ print $3 + $4 }' "$name/times_$t.txt" | median)" \
      "$(cut -d' ' -f2 "$name/times_$t.txt" | sort -n | tail -1 | awk '{ printf "%.0f", $1 / 1024 }')"
  done
  echo "  wall time ratio, 2 threads to 1: $(paste -d' ' "$name/times_1.txt" "$name/times_2.txt" |
    awk '{ print $5 / $1 }' | median) (median of the pairs); load average $(cut -d' ' -f1-3 /proc/loadavg)"
  rm -f "$name/t.glb" "$name/times_1.txt" "$name/times_2.txt"
done
