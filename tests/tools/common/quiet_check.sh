#!/usr/bin/env bash
# --quiet in every tool: on a small generated scene each tool, given --quiet, prints only the
# lines its closing summary and warnings are made of (matched by a pattern per tool), fewer
# lines than without it, and still writes its files.
#   quiet_check.sh BUILD_DIR
set -euo pipefail
tools=$(cd "$1" && pwd)/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

# quiet PATTERN PROGRAM ARGS...: runs the program with and without --quiet (standard output and
# error together, so that timings on standard error count too).
quiet() {
  local pattern=$1 program=$2
  shift 2
  local loud_lines quiet_out status=0
  loud_lines=$("$tools/$program" "$@" 2>&1 | wc -l)
  quiet_out=$("$tools/$program" --quiet "$@" 2>&1) || status=$?
  if [[ $status -ne 0 || -z $quiet_out ]] || grep -v -E -q "$pattern" <<<"$quiet_out"; then
    echo "FAIL: $program --quiet (exit status $status) printed:"
    echo "$quiet_out"
    failures=$((failures + 1))
  elif (($(wc -l <<<"$quiet_out") >= loud_lines)); then
    echo "FAIL: $program --quiet printed $(wc -l <<<"$quiet_out") lines, $loud_lines without it"
    failures=$((failures + 1))
  fi
}

quiet '^Wrote figure scene' make_scene -o s --cameras 6 --frames 2 --width 120 --height 90 \
  --truth-mesh --export colmap
cams=(--calibration 's/cam%ld.txt' --cameras 6)
quiet '^Box ' find_box "${cams[@]}" --silhouettes 's/sil%ld_%04ld.png' --last-frame 1
quiet '^0 faults, 0 warnings$' check_capture "${cams[@]}" --silhouettes 's/sil%ld_%04ld.png' \
  --last-frame 1
quiet '^Wrote 12 masks, frames 0 to 1' make_masks --cameras 6 --last-frame 1 --from grey \
  --input 's/sil%d_%04d.png' --output 'mask%d_%d.png'
quiet '^Wrote 6 camera files$' import_cameras --format colmap --output 'imported%d.txt' s/colmap
quiet '^Undistorted 6 cameras|^  .*cam%ld.txt' undistort_images 6 's/cam%ld.txt' undistorted \
  --images 's/img%ld_%04ld.png'
quiet '^Mean PSNR|^Wrote views.png' render_view "${cams[@]}" --images 's/img%ld_%04ld.png' \
  --model s/truth_0000.ply --psnr -o views.png
quiet '^Wrote textured.glb$' texture_mesh "${cams[@]}" --images 's/img%ld_%04ld.png' \
  --mesh s/truth_0000.ply --atlas-size 512 -o textured.glb
quiet '^Wrote the player' make_player --output player --first 0 --last 1 \
  --mesh 's/truth_%04ld.ply' "${cams[@]}"
for f in mask5_1.png imported5.txt undistorted views.png textured.glb player/index.html; do
  [[ -e $f ]] || { echo "FAIL: $f was not written under --quiet"; failures=$((failures + 1)); }
done

[[ $failures -eq 0 ]] && echo "PASS" || exit 1
