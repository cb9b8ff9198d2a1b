#!/usr/bin/env bash
# sculptor on generated scenes of the moving figure: 8 cameras at 640 x 480 and 16 cameras at
# 1280 x 960, 3 frames each, with 10^4 and 10^5 points. For every run it reports, per frame, the
# program's own timing lines (processor seconds per frame, from standard error) and the tries per
# accepted point (the last "<points> points after <tries> tries" line of the frame), then the
# median over the frames. Run by hand, never by CI:
#   bench/sculptor_bench.sh [build-folder]      (default: build-bench, a Release build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
jobs=2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target sculptor make_scene >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Summarises one run: $1 = standard output, $2 = standard error of sculptor.
summarise() {
  awk -v label="$3" '
    FNR == 1 { file++ }
    file == 1 && /^Frame / { f = $2; frames[++nf] = f }
    file == 1 && / lowres seeds after / { seeds[f] = $1; seed_tries[f] = $5 }
    file == 1 && / points after .* tries / { pts[f] = $1; tries[f] = $4 }
    file == 2 && / fps or / {
      name = $0; sub(/: .*/, "", name)
      if (!(name in count)) names[++nn] = name
      t = $(NF - 1); times[name, ++count[name]] = t
    }
    function median(a, n,    i, j, v, tmp) {
      for (i = 1; i <= n; i++) tmp[i] = a[i]
      for (i = 2; i <= n; i++) { v = tmp[i]; for (j = i - 1; j > 0 && tmp[j] > v; j--) tmp[j + 1] = tmp[j]; tmp[j + 1] = v }
      return n % 2 ? tmp[(n + 1) / 2] : (tmp[n / 2] + tmp[n / 2 + 1]) / 2
    }
    END {
      printf "%s\n", label
      for (i = 1; i <= nf; i++) {
        f = frames[i]
        line = sprintf("  frame %-3s %7d points, %9d tries, %6.2f tries/point", f, pts[f], tries[f],
                       pts[f] ? tries[f] / pts[f] : 0)
        if (f in seeds) line = line sprintf(" (seeds: %d after %d tries)", seeds[f], seed_tries[f])
        for (k = 1; k <= nn; k++) line = line sprintf(" | %s %.4f s", names[k], times[names[k], i])
        print line
        ratio[i] = pts[f] ? tries[f] / pts[f] : 0
      }
      line = sprintf("  median over %d frames: %.2f tries/point", nf, median(ratio, nf))
      for (k = 1; k <= nn; k++) {
        delete v
        for (i = 1; i <= count[names[k]]; i++) v[i] = times[names[k], i]
        line = line sprintf(" | %s %.4f s/frame", names[k], median(v, count[names[k]]))
      }
      print line
    }' "$1" "$2"
}

echo "sculptor benchmark on $(uname -n), $(date -u '+%Y-%m-%d %H:%M UTC'); processor time per frame"
for config in "8 640 480" "16 1280 960"; do
  read -r cameras width height <<<"$config"
  scene=$work/scene_$cameras
  "$build/tools/make_scene" --output "$scene" --cameras "$cameras" --width "$width" \
      --height "$height" --frames 3 --threads "$jobs" >/dev/null 2>&1
  truth=$scene/ground_truth.txt
  read -r _ first last < <(grep '^frames ' "$truth")
  read -r _ xmin ymin zmin xmax ymax zmax < <(grep '^box ' "$truth")
  for points in 10000 100000; do
    out=$work/out_${cameras}_$points
    mkdir -p "$out"
    "$build/sculptor/sculptor" "$cameras" "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" \
        "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" "$first" "$last" \
        "$xmin" "$ymin" "$zmin" "$xmax" "$ymax" "$zmax" "$points" \
        >"$out/stdout.txt" 2>"$out/stderr.txt"
    summarise "$out/stdout.txt" "$out/stderr.txt" \
        "$cameras cameras at ${width}x$height, $points points, frames $first to $last:"
  done
done
