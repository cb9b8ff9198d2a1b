#!/usr/bin/env bash
# sculptor on a generated figure filmed by 16 cameras on a dome at 1280 x 960, 3 frames, at
# 10^4, 4 x 10^4, 10^5 and 2 x 10^5 points, with 1 and 2 threads. Per case it reports the median
# over RUNS runs of: the sampling, normals + smoothing and colouring times of a tracked frame
# (median over the tracked frames), the whole tracked frame, the first frame (all from the
# program's own timing lines: processor time with one thread, wall time with more), the wall
# time of the whole run (images, sampling, post-processing, writing), its peak memory and its
# processor time (user + system, all threads: with 2 threads, near twice the run wall means both
# cores were busy throughout). With 2 threads a frame is coloured while the next one is sampled:
# its colouring column is then the colouring's own wall time, and the next frame's normals +
# smoothing column includes the wait for that work. Compare the run wall across thread counts.
# Run by hand, never by CI:
#   bench/sculptor_bench.sh [build-folder]      (default: build-bench, a Release build)
# Environment: SCULPTOR (the program to time; default the build's), THREADS ("1 2"), POINTS
# ("10000 40000 100000 200000"), RUNS (3), SCENE (an existing scene folder from make_scene with
# the options above, reused instead of generating one).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target sculptor make_scene >/dev/null
sculptor=${SCULPTOR:-$build/sculptor/sculptor}
threads_list=${THREADS:-1 2}
points_list=${POINTS:-10000 40000 100000 200000}
runs=${RUNS:-3}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scene=${SCENE:-$work/scene}
if [ -z "${SCENE:-}" ]; then
  "$build/tools/make_scene" --output "$scene" --cameras 16 --layout dome --width 1280 \
      --height 960 --frames 3 --threads 2 >/dev/null 2>&1
fi
truth=$scene/ground_truth.txt
read -r _ first last < <(grep '^frames ' "$truth")
read -r _ xmin ymin zmin xmax ymax zmax < <(grep '^box ' "$truth")

# One run's figures from its timing lines ($1) and /usr/bin/time's report ($2): sampling,
# normals + smoothing, colouring, tracked frame (medians over the tracked frames), first frame,
# wall seconds, peak memory in MB.
figures() {
  awk '
    function median(a, n,    i, j, v, t) {
      for (i = 1; i <= n; i++) t[i] = a[i]
      for (i = 2; i <= n; i++) { v = t[i]; for (j = i - 1; j > 0 && t[j] > v; j--) t[j + 1] = t[j]; t[j + 1] = v }
      return n % 2 ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2
    }
    FNR == 1 { file++ }
    file == 1 && /^Only points( \(frame [-0-9]+\))?: / { f++; only[f] = $(NF - 1) }
    file == 1 && /^Points and post-filtering( \(frame [-0-9]+\))?: / { post[f] = $(NF - 1) }
    file == 1 && /^Points and post-filtering and coloring( \(frame [-0-9]+\))?: / { total[f] = $(NF - 1) }
    file == 2 && /Elapsed \(wall clock\)/ {
      n = split($NF, p, ":"); wall = 0
      for (i = 1; i <= n; i++) wall = wall * 60 + p[i]
    }
    file == 2 && /Maximum resident set size/ { rss = $NF / 1024 }
    file == 2 && /User time \(seconds\)/ { cpu += $NF }
    file == 2 && /System time \(seconds\)/ { cpu += $NF }
    END {
      for (i = 2; i <= f; i++) {
        s[i - 1] = only[i]; ns[i - 1] = post[i] - only[i]; c[i - 1] = total[i] - post[i]
        t[i - 1] = total[i]
      }
      printf "%.4f %.4f %.4f %.4f %.4f %.3f %.0f %.3f\n", median(s, f - 1), median(ns, f - 1),
             median(c, f - 1), median(t, f - 1), total[1], wall, rss, cpu
    }' "$1" "$2"
}

echo "sculptor benchmark on $(uname -n), $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores: $sculptor"
echo "figure, 16 cameras on a dome, 1280 x 960, frames $first to $last; seconds per frame, median of $runs runs"
printf "%7s %7s | %8s %8s %8s %8s %8s | %8s %7s %8s\n" points threads sampling "norm+sm" colour \
    tracked first "run wall" "peak MB" "run cpu"
for points in $points_list; do
  for threads in $threads_list; do
    options=()
    [ "$threads" = 1 ] || options=(--threads "$threads")
    : >"$work/runs.txt"
    for ((r = 0; r < runs; r++)); do
      out=$work/out
      rm -rf "$out" && mkdir -p "$out"
      /usr/bin/time -v -o "$work/time.txt" "$sculptor" "${options[@]}" 16 "$scene/cam%ld.txt" \
          "$scene/img%ld_%04ld.png" "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" \
          "$first" "$last" "$xmin" "$ymin" "$zmin" "$xmax" "$ymax" "$zmax" "$points" \
          >"$work/stdout.txt" 2>"$work/stderr.txt"
      figures "$work/stderr.txt" "$work/time.txt" >>"$work/runs.txt"
    done
    awk -v points="$points" -v threads="$threads" '
      { for (k = 1; k <= 8; k++) v[k, NR] = $k }
      END {
        printf "%7d %7d |", points, threads
        for (k = 1; k <= 8; k++) {
          for (i = 1; i <= NR; i++) t[i] = v[k, i]
          for (i = 2; i <= NR; i++) { x = t[i]; for (j = i - 1; j > 0 && t[j] > x; j--) t[j + 1] = t[j]; t[j + 1] = x }
          m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
          printf (k == 6 ? " | %8.3f" : (k == 7 ? " %7.0f" : (k == 8 ? " %8.3f" : " %8.4f"))), m
        }
        printf "\n"
      }' "$work/runs.txt"
  done
done
