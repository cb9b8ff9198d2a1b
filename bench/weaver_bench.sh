#!/usr/bin/env bash
# Times weaver by hand (never run by CI). For each input and thread count it prints, as medians
# over RUNS runs (3; the thread counts alternate within each round), weaver's own timing of the
# triangulation (processor time with one thread, wall time with more) as points and faces per
# second, and the wall and processor time of the whole run; "rest" is the share of the run's
# processor time spent outside the triangulation (reading the point file, writing the mesh,
# start-up), "wall x" the whole run's wall time over that of the first thread count.
#
#   bench/weaver_bench.sh [build-dir] [point files...]
#
# Without point files it meshes evenly sampled unit spheres of 10^4, 10^5 and 10^6 points
# (generated here with awk). Point files of sculptor's benchmark scenes can be given instead.
# Mesher parameters: WEAVER_NN (20), WEAVER_MINANGLE (30), WEAVER_DECIMATION (1); thread counts:
# WEAVER_THREADS ("1 2"). The mesh is checked to be the same for every thread count.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
weaver=$build/weaver/weaver
[ -x "$weaver" ] || { echo "weaver not built in $build (cmake --build $build --target weaver)" >&2; exit 1; }
nn=${WEAVER_NN:-20}
minangle=${WEAVER_MINANGLE:-30}
decimation=${WEAVER_DECIMATION:-1}
read -r -a thread_counts <<<"${WEAVER_THREADS:-1 2}"
runs=${RUNS:-3}
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

printf "%-20s %8s %7s %9s %10s %11s %8s %8s %6s %7s  %s\n" input points threads faces points/s \
  faces/s "wall s" "cpu s" rest "wall x" "timing line (last run)"
TIMEFORMAT='%R %U %S'
for f in "${inputs[@]}"; do
  points=$(awk '/^element vertex/ { print $3; exit }' "$f")
  : >"$work/runs"
  # The thread counts alternate within each round, so that a change in the machine's load
  # between rounds touches them alike.
  for ((r = 0; r < runs; r++)); do
    for threads in "${thread_counts[@]}"; do
      { times=$( { time "$weaver" --threads "$threads" "$f" "$work/mesh_$threads.ply" "$nn" \
                     "$minangle" "$decimation" 4294967295 >/dev/null 2>"$work/err"; } 2>&1 ); }
      timing=$(grep '^Total: ' "$work/err")
      faces=$(awk '/^element face/ { print $3; exit }' "$work/mesh_$threads.ply")
      seconds=$(echo "$timing" | awk '{ print $5 }')
      echo "$threads $seconds $times $faces" >>"$work/runs"
      echo "$timing" >"$work/timing_$threads"
      if [ "$threads" != "${thread_counts[0]}" ] && ! cmp -s "$work/mesh_${thread_counts[0]}.ply" "$work/mesh_$threads.ply"; then
        echo "MESH DIFFERS between ${thread_counts[0]} and $threads threads on $f" >&2
        exit 1
      fi
    done
  done
  for threads in "${thread_counts[@]}"; do
    awk -v name="$(basename "$f")" -v n="$points" -v th="$threads" -v first="${thread_counts[0]}" \
        -v line="$(cat "$work/timing_$threads")" '
      function median(a, k,    i, j, v) {
        for (i = 2; i <= k; i++) { v = a[i]; for (j = i - 1; j > 0 && a[j] > v; j--) a[j + 1] = a[j]; a[j + 1] = v }
        return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
      }
      $1 == first { w1[++k1] = $3 }
      $1 == th { t[++k] = $2; wall[k] = $3; cpu[k] = $4 + $5; fc = $6 }
      END {
        mt = median(t, k); mw = median(wall, k); mc = median(cpu, k); m1 = median(w1, k1)
        rest = (th == 1 && mc > 0) ? sprintf("%.0f%%", 100 * (mc - mt) / mc) : "-"
        printf "%-20s %8s %7s %9s %10.0f %11.0f %8.2f %8.2f %6s %7.2f  %s\n", name, n, th, fc,
               (mt > 0 ? n / mt : 0), (mt > 0 ? fc / mt : 0), mw, mc, rest,
               (m1 > 0 ? mw / m1 : 0), line
      }' "$work/runs"
  done
done
