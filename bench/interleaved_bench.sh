#!/usr/bin/env bash
# Compares builds on a machine whose speed drifts: the programs take turns run by run, and each
# figure is a median over the rounds. Run by hand, never by CI.
#
#   bench/interleaved_bench.sh sculptor SCENE POINTS ROUNDS SCULPTOR...
#       every round runs each sculptor with 1 and then 2 threads over all frames of SCENE (a
#       make_scene folder) at POINTS points; prints per program the median wall seconds with 1
#       and 2 threads and the median of the rounds' 2-thread / 1-thread ratios.
#   bench/interleaved_bench.sh weaver CLOUD ROUNDS WEAVER...
#       every round runs each weaver --watertight on CLOUD (a point file) with the bench's
#       arguments (20 30 1 1000000); prints per program the median "Total" (triangulation) and
#       "Watertight" (closing step) seconds and the median of the rounds' shares.
#
# Read 2-thread ratios against build/bench/core_scaling_bench on the same machine. Run it on an
# otherwise quiet machine: any other process that wakes often, even a loop that polls every 0.2 s,
# takes time from the second core and inflates the 2-thread figures (one such loop took 2-thread
# runs at 40000 points from 0.31 to 0.35-0.37 s and left 1-thread runs unchanged).
set -euo pipefail

median_table() {
  awk '
    function median(a, n,    i, j, v) {
      for (i = 2; i <= n; i++) { v = a[i]; for (j = i - 1; j > 0 && a[j] > v; j--) a[j + 1] = a[j]; a[j + 1] = v }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    { k = ++n[$1]; x[$1, k] = $2; y[$1, k] = $3; order[$1] = order[$1] ? order[$1] : ++programs; name[order[$1]] = $1 }
    END {
      for (p = 1; p <= programs; p++) {
        b = name[p]
        for (i = 1; i <= n[b]; i++) { a[i] = x[b, i]; c[i] = y[b, i]; r[i] = y[b, i] / x[b, i] }
        printf "%s  %s %.4f  %s %.4f  %s %.3f\n", b, first, median(a, n[b]), second, median(c, n[b]), third, median(r, n[b])
      }
    }' first="$1" second="$2" third="$3"
}

mode=${1:-}
case "$mode" in
  sculptor)
    [ $# -ge 5 ] || { sed -n '2,17p' "$0"; exit 2; }
    scene=$2 points=$3 rounds=$4
    shift 4
    read -r _ first last < <(grep '^frames ' "$scene/ground_truth.txt")
    read -r _ box < <(grep '^box ' "$scene/ground_truth.txt")
    cameras=$(ls "$scene"/cam*.txt | wc -l)
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    for ((r = 0; r < rounds; r++)); do
      for program in "$@"; do
        walls=()
        for threads in 1 2; do
          start=$(date +%s.%N)
          # shellcheck disable=SC2086  # the box is six numbers
          "$program" --threads "$threads" "$cameras" "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" \
              "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" "$first" "$last" $box "$points" \
              >/dev/null 2>&1
          walls+=("$(echo "$(date +%s.%N) - $start" | bc)")
        done
        echo "$program ${walls[0]} ${walls[1]}"
      done
    done | median_table 1t 2t ratio
    ;;
  weaver)
    [ $# -ge 4 ] || { sed -n '2,17p' "$0"; exit 2; }
    cloud=$2 rounds=$3
    shift 3
    mesh=$(mktemp --suffix=.ply)
    trap 'rm -f "$mesh"' EXIT
    for ((r = 0; r < rounds; r++)); do
      for program in "$@"; do
        lines=$("$program" --watertight "$cloud" "$mesh" 20 30 1 1000000 2>&1 >/dev/null)
        total=$(awk '/^Total:/ {print $(NF - 1)}' <<<"$lines")
        closing=$(awk '/^Watertight:/ {print $2}' <<<"$lines")
        echo "$program $total $closing"
      done
    done | median_table total watertight share
    ;;
  *)
    sed -n '2,17p' "$0"
    exit 2
    ;;
esac
