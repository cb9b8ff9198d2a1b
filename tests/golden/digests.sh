# Shared by check_digests.sh and update_digests.sh (sourced, not run): runs make_scene,
# sculptor and weaver of one build tree on small generated scenes and prints one line
# "<name> <SHA-256>" for everything the two programs write there (point files, meshes and
# standard output; standard error holds timings and is not compared).
#
# Program options for variants of the test come from the environment, as words placed before
# the positional arguments: TERVIK_GOLDEN_SCULPTOR_OPTIONS and TERVIK_GOLDEN_WEAVER_OPTIONS.

golden_fail() {
  echo "golden: $*" >&2
  exit 2
}

golden_sha() { sha256sum "$1" | cut -d' ' -f1; }

# golden_run LOG ERRLOG PROGRAM ARGS...: runs a program with its standard output in LOG and
# standard error in ERRLOG; a non-zero exit status ends the computation.
golden_run() {
  local out=$1 err=$2
  shift 2
  local status=0
  "$@" >"$out" 2>"$err" || status=$?
  if [[ $status -ne 0 ]]; then
    echo "golden: exit status $status: $*" >&2
    tail -n 5 "$out" "$err" >&2
    exit 2
  fi
}

# golden_scene NAME OBJECT CAMERAS LAYOUT: writes the scene into $work/NAME and sets
# scene_box to the six box numbers of the sculptor command that make_scene prints.
golden_scene() {
  local name=$1 object=$2 cameras=$3 layout=$4
  golden_run "$work/$name.make_scene" "$work/$name.make_scene.err" \
    "$build/tools/make_scene" -o "$work/$name" --object "$object" --cameras "$cameras" \
    --layout "$layout" --width 320 --height 240 --frames 3
  # The last line is the sculptor command; its last seven words are the box and the count.
  local -a words
  read -r -a words < <(tail -n 1 "$work/$name.make_scene")
  local n=${#words[@]}
  scene_box=("${words[@]:n-7:6}")
  # The scene files themselves: when they change, every output below changes with them.
  (cd "$work/$name" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) \
    >"$work/$name.files"
  echo "scene/$name $(golden_sha "$work/$name.files")"
}

# golden_sculptor SCENE CAMERAS NPOINTS: samples frames 0 to 2 of a scene into
# $work/SCENE-NPOINTS and prints the digests of the point files and of the progress lines.
golden_sculptor() {
  local scene=$1 cameras=$2 npoints=$3 run="$work/$1-$3"
  mkdir -p "$run"
  golden_run "$run/stdout" "$run/stderr" "$build/sculptor/sculptor" "${sculptor_options[@]}" \
    "$cameras" "$work/$scene/cam%ld.txt" "$work/$scene/img%ld_%04ld.png" \
    "$work/$scene/sil%ld_%04ld.png" "$run/points_%04ld.ply" 0 2 "${scene_box[@]}" "$npoints"
  local f
  for f in points_0000.ply points_0001.ply points_0002.ply stdout; do
    [[ -f "$run/$f" ]] || golden_fail "sculptor wrote no $run/$f"
    echo "sculptor/$scene-$npoints/$f $(golden_sha "$run/$f")"
  done
}

# golden_weaver NAME POINTS: meshes one point file with the three set-ups of
# (nn, minangle, decimation) and prints the digests of each mesh and its progress lines.
golden_weaver() {
  local name=$1 points=$2 setup
  for setup in "20 30 1" "10 15 2" "30 45 1"; do
    local -a a
    read -r -a a <<<"$setup"
    local run="$work/weaver/$name/nn${a[0]}-angle${a[1]}-dec${a[2]}"
    mkdir -p "$run"
    golden_run "$run/stdout" "$run/stderr" "$build/weaver/weaver" "${weaver_options[@]}" \
      "$points" "$run/mesh.ply" "${a[@]}" 1000000
    [[ -f "$run/mesh.ply" ]] || golden_fail "weaver wrote no $run/mesh.ply"
    echo "weaver/$name/nn${a[0]}-angle${a[1]}-dec${a[2]}/mesh.ply $(golden_sha "$run/mesh.ply")"
    echo "weaver/$name/nn${a[0]}-angle${a[1]}-dec${a[2]}/stdout $(golden_sha "$run/stdout")"
  done
}

# golden_duplicates IN OUT: a copy of point file IN in which every 10th point line is
# followed by an exact copy of itself, and the first 50 point lines come again at the end.
golden_duplicates() {
  awk '
    BEGIN { i = 0 }
    NR == FNR { if (seen_end) { ++points } else if ($0 == "end_header") { seen_end = 1 }; next }
    !body && /^element vertex / {
      print "element vertex " (points + int((points + 9) / 10) + (points < 50 ? points : 50))
      next
    }
    !body { print; if ($0 == "end_header") body = 1; next }
    {
      print
      if (i % 10 == 0) print
      if (i < 50) first[i] = $0
      ++i
    }
    END { for (j = 0; j < i && j < 50; ++j) print first[j] }
  ' "$1" "$1" >"$2"
}

# golden_digests BUILD_DIR WORK_DIR: prints every digest line, in a fixed order.
golden_digests() {
  build=$1
  work=$2
  for p in tools/make_scene sculptor/sculptor weaver/weaver; do
    [[ -x "$build/$p" ]] || golden_fail "$build/$p is missing (build make_scene, sculptor and weaver)"
  done
  read -r -a sculptor_options <<<"${TERVIK_GOLDEN_SCULPTOR_OPTIONS:-}"
  read -r -a weaver_options <<<"${TERVIK_GOLDEN_WEAVER_OPTIONS:-}"

  golden_scene figure-ring8 figure 8 ring
  golden_sculptor figure-ring8 8 2000
  golden_sculptor figure-ring8 8 20000
  golden_scene sphere-dome12 sphere 12 dome
  golden_sculptor sphere-dome12 12 2000
  golden_sculptor sphere-dome12 12 20000

  local cloud frame
  for cloud in figure-ring8-2000 sphere-dome12-2000; do
    for frame in 0000 0002; do
      golden_weaver "$cloud-frame$frame" "$work/$cloud/points_$frame.ply"
    done
  done
  golden_duplicates "$work/figure-ring8-2000/points_0000.ply" "$work/duplicates.ply"
  echo "input/duplicates.ply $(golden_sha "$work/duplicates.ply")"
  golden_weaver duplicates "$work/duplicates.ply"
}

# golden_compare EXPECTED ACTUAL: prints the entries that changed, appeared or disappeared
# and returns 1 if there is any.
golden_compare() {
  awk '
    FILENAME == ARGV[1] { want[$1] = $2; order[++n] = $1; next }
    { got[$1] = $2; if (!($1 in want)) { print "new:     " $1; bad = 1 } }
    END {
      for (i = 1; i <= n; ++i) {
        k = order[i]
        if (!(k in got)) { print "missing: " k; bad = 1 }
        else if (got[k] != want[k]) { print "changed: " k; bad = 1 }
      }
      exit bad
    }
  ' "$1" "$2"
}
