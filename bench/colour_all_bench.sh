#!/usr/bin/env bash
# sculptor --colour-all against the plain colouring, on two generated scenes with ground truth
# (a moving figure filmed by a ring of 12 cameras, a sphere under a dome of 12; 640 x 480,
# 3 frames, NPOINTS points, one thread). Per frame it reports, from score_reconstruction:
# the share of points left with the default colour (64, 64, 64) without and with the option,
# and the median (and p90) per-channel colour error of the points the plain blend coloured and
# of the points only --colour-all colours. Per tracked frame it reports the colouring's extra
# time (the "... and coloring" line minus the "post-filtering" line, with the option minus
# without) as a share of the plain tracked frame (median over RUNS runs).
# Run by hand, never by CI:
#   bench/colour_all_bench.sh [build-folder]      (default: build)
# Environment: NPOINTS (40000), RUNS (3).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
cmake --build "$build" -j 2 --target sculptor make_scene score_reconstruction >/dev/null
npoints=${NPOINTS:-40000}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Per frame of a run's timing lines ($1): "<frame> <post-filtering s> <with colouring s>".
frame_times() {
  awk '
    match($0, /\(frame [-0-9]+\)/) { f = substr($0, RSTART + 7, RLENGTH - 8) }
    /^Points and post-filtering \(frame/ { post[f] = $(NF - 1) }
    /^Points and post-filtering and coloring \(frame/ { total[f] = $(NF - 1); order[++n] = f }
    END { for (i = 1; i <= n; i++) print order[i], post[order[i]], total[order[i]] }
  ' "$1"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

for scene_case in "figure ring" "sphere dome"; do
  read -r object layout <<<"$scene_case"
  scene=$work/$object
  "$build/tools/make_scene" --output "$scene" --object "$object" --cameras 12 --layout "$layout" \
      --frames 3 --threads 2 >/dev/null 2>&1
  truth=$scene/ground_truth.txt
  read -r _ first last < <(grep '^frames ' "$truth")
  read -r -a box < <(grep '^box ' "$truth" | cut -d' ' -f2-)
  for variant in plain all; do
    mkdir -p "$work/$object-$variant"
    options=()
    [ "$variant" = all ] && options=(--colour-all)
    for run in $(seq "$runs"); do
      "$build/sculptor/sculptor" "${options[@]}" 12 "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" \
          "$scene/sil%ld_%04ld.png" "$work/$object-$variant/points_%04ld.ply" "$first" "$last" \
          "${box[@]}" "$npoints" >/dev/null 2>"$work/$object-$variant/timing$run"
    done
  done
  echo "== $object, $layout of 12 cameras, $npoints points"
  printf '%-6s %-14s %-14s %-22s %-22s\n' frame "default plain" "default all" \
      "blend-coloured med/p90" "newly coloured med/p90"
  for f in $(seq "$first" "$last"); do
    p=$(printf '%s/%s-%%s/points_%04d.ply' "$work" "$object" "$f")
    plain=$(printf "$p" plain)
    all=$(printf "$p" all)
    json=$("$build/tools/score_reconstruction" --truth "$truth" --frame "$f" --points "$all" \
        --baseline "$plain" --json)
    base=$("$build/tools/score_reconstruction" --truth "$truth" --frame "$f" --points "$plain" --json)
    pick() { grep -o "\"$1\": {[^}]*}" <<<"$2" | grep -o "\"$3\": [-0-9.e+]*" | cut -d' ' -f2; }
    share() { grep -o '"share_default_colored": [-0-9.e+]*' <<<"$1" | cut -d' ' -f2; }
    printf '%-6s %-14s %-14s %-22s %-22s\n' "$f" \
        "$(awk -v s="$(share "$base")" 'BEGIN { printf "%.2f%%", 100 * s }')" \
        "$(awk -v s="$(share "$json")" 'BEGIN { printf "%.2f%%", 100 * s }')" \
        "$(pick channel_error_baseline_colored "$json" median) / $(pick channel_error_baseline_colored "$json" p90)" \
        "$(pick channel_error_newly_colored "$json" median) / $(pick channel_error_newly_colored "$json" p90)"
  done
  # The extra colouring time of the tracked frames, as a share of the plain tracked frame.
  for run in $(seq "$runs"); do
    join <(frame_times "$work/$object-plain/timing$run") <(frame_times "$work/$object-all/timing$run") |
      awk -v first="$first" '$1 != first { printf "%.2f\n", 100 * (($5 - $4) - ($3 - $2)) / $3 }'
  done | median | awk '{ printf "extra cost of --colour-all: %s %% of a tracked frame (median)\n", $1 }'
done
