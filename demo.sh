#!/usr/bin/env bash
# Installs what is missing, builds, generates the standard demo scene, runs sculptor over its
# frames and weaver on every frame's point file. Everything it writes goes to demo-out/ (ignored by git); rerunning replaces it.
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh
./tools/npm-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# show_progress: reads the build's output and shows its progress: on a terminal one line that
# updates ("[57/126] Building CXX object ..."), else one line per finished step.
show_progress() {
  local line width
  if [[ -t 1 ]]; then
    width=$(tput cols 2>/dev/null || echo 80)
    while IFS= read -r line; do
      [[ $line =~ ^\[\ *[0-9]+(/[0-9]+|%)\] ]] || continue
      printf '\r\033[K%s' "${line:0:width-1}"
    done
    printf '\r\033[K'
  else
    grep --line-buffered -E '^\[ *[0-9]+(/[0-9]+|%)\]' || true
  fi
}

# Every program: sculptor, weaver and every tool, without the test suite (./test.sh turns it
# back on). A new build folder uses Ninja where it is installed, as test.sh does.
echo "== Building every program (build/, Release; the whole log in build/demo_build.log)"
generator=()
if [[ ! -f build/CMakeCache.txt ]] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTERVIK_TESTS=OFF >/dev/null
build_start=$SECONDS
if ! cmake --build build -j "$jobs" 2>&1 | tee build/demo_build.log | show_progress; then
  echo "The build failed; the end of build/demo_build.log:" >&2
  tail -n 30 build/demo_build.log >&2
  exit 1
fi
# One folder with every program, process_capture among them (add it to PATH to use them).
cmake --install build --prefix build/install >/dev/null
echo "   built in $((SECONDS - build_start)) s; every program is installed in build/install/bin/:"
echo "   $(cd build/install/bin && echo *)"

out=demo-out
scene=$out/scene
points=10000
rm -rf "$out"
mkdir -p "$out"

echo "== Generating the standard scene into $scene/"
./build/tools/make_scene --output "$scene" --points "$points" >"$out/make_scene.log"
head -n 1 "$out/make_scene.log"

# The frame range and the number of cameras come from the scene's ground truth file.
truth=$scene/ground_truth.txt
read -r _ first last < <(grep '^frames ' "$truth")
# The box as make_scene prints it in its sculptor command (the last line; the box is the six
# words before the point count): the shortest decimals that read back as the same numbers.
read -r -a command_words < <(tail -n 1 "$out/make_scene.log")
n=${#command_words[@]}
read -r xmin ymin zmin xmax ymax zmax <<<"${command_words[*]:n-7:6}"
read -r _ cameras < <(grep '^cameras ' "$truth")

cmd=(./build/sculptor/sculptor --threads 0 "$cameras" "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png"
     "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" "$first" "$last"
     "$xmin" "$ymin" "$zmin" "$xmax" "$ymax" "$zmax" "$points")
echo "== Running sculptor on frames $first to $last (progress in $out/sculptor.log):"
echo "   ${cmd[*]}"
if ! "${cmd[@]}" >"$out/sculptor.log" 2>"$out/sculptor.timing"; then
  echo "sculptor failed:" >&2
  tail -n 5 "$out/sculptor.log" "$out/sculptor.timing" >&2
  exit 1
fi
echo "   timing per frame (wall time, every core in use):"
sed 's/^/     /' "$out/sculptor.timing"

# Mesher parameters for sculptor's output: 20 neighbours per point, faces with no angle under 30
# degrees, every point used, no cap on the number of points; all cores (the mesh is the same for
# every thread count, and the timing line then gives wall time).
echo "== Meshing every frame with weaver (progress in $out/weaver.log):"
: >"$out/weaver.log"
for ((f = first; f <= last; ++f)); do
  points_file=$(printf '%s/points_%04d.ply' "$out" "$f")
  mesh_file=$(printf '%s/mesh_%04d.ply' "$out" "$f")
  if ! ./build/weaver/weaver --threads 0 "$points_file" "$mesh_file" 20 30 1 1000000 >>"$out/weaver.log" 2>"$out/weaver.timing"; then
    echo "weaver failed on $points_file:" >&2
    tail -n 5 "$out/weaver.log" "$out/weaver.timing" >&2
    exit 1
  fi
  echo "   frame $f: $(sed -n 's/^element face //p' "$mesh_file") faces; $(cat "$out/weaver.timing")"
done

echo "== Writing the browser player for the frames into $out/player/"
./build/tools/make_player --output "$out/player" --first "$first" --last "$last" \
  --mesh "$out/mesh_%04ld.ply" --points "$out/points_%04ld.ply" --calibration "$scene/cam%ld.txt" |
  sed 's/^/   /'

echo
echo "Done. In $out/:"
for ((f = first; f <= last; ++f)); do
  file=$(printf '%s/points_%04d.ply' "$out" "$f")
  count=$(sed -n 's/^element vertex //p' "$file")
  echo "  $file: frame $f, $count points on the object's surface"
  echo "  $(printf '%s/mesh_%04d.ply' "$out" "$f"): its triangle mesh"
done
echo "  Each is an ASCII PLY point file: per point its position x y z, its outward normal"
echo "  nx ny nz and a colour (red green blue). Any PLY viewer (MeshLab, CloudCompare) opens it."
echo "  $scene/: the input that sculptor read: calibrations cam<i>.txt, silhouettes"
echo "  sil<i>_<frame>.png and colour images img<i>_<frame>.png of $cameras cameras, and the"
echo "  scene's ground truth (ground_truth.txt)."
echo "  Each mesh is an ASCII PLY triangle mesh with a colour per vertex."
echo "  $out/player/: the frames in a web browser: python3 -m http.server -d $out/player 8000"
echo "    and open http://127.0.0.1:8000/"
echo "  To compare a frame with the ground truth:"
echo "    ./build/tools/score_reconstruction --truth $truth --frame $first \\"
echo "        --points $(printf '%s/points_%04d.ply' "$out" "$first") --mesh $(printf '%s/mesh_%04d.ply' "$out" "$first")"
