#!/usr/bin/env bash
# Installs what is missing, builds, generates the standard demo scene and runs sculptor over its
# frames. Everything it writes goes to demo-out/ (ignored by git); rerunning replaces it.
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
echo "== Building (build/, Release)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target sculptor make_scene >/dev/null

out=demo-out
scene=$out/scene
points=10000
rm -rf "$out"
mkdir -p "$out"

echo "== Generating the standard scene into $scene/"
./build/tools/make_scene --output "$scene" --points "$points" >"$out/make_scene.log"
head -n 1 "$out/make_scene.log"

# The box, the frame range and the number of cameras come from the scene's ground truth file.
truth=$scene/ground_truth.txt
read -r _ first last < <(grep '^frames ' "$truth")
read -r _ xmin ymin zmin xmax ymax zmax < <(grep '^box ' "$truth")
read -r _ cameras < <(grep '^cameras ' "$truth")

cmd=(./build/sculptor/sculptor "$cameras" "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png"
     "$scene/sil%ld_%04ld.png" "$out/points_%04ld.ply" "$first" "$last"
     "$xmin" "$ymin" "$zmin" "$xmax" "$ymax" "$zmax" "$points")
echo "== Running sculptor on frames $first to $last (progress in $out/sculptor.log):"
echo "   ${cmd[*]}"
if ! "${cmd[@]}" >"$out/sculptor.log" 2>"$out/sculptor.timing"; then
  echo "sculptor failed:" >&2
  tail -n 5 "$out/sculptor.log" "$out/sculptor.timing" >&2
  exit 1
fi
echo "   timing per frame (processor time):"
sed 's/^/     /' "$out/sculptor.timing"

echo
echo "Done. In $out/:"
for ((f = first; f <= last; ++f)); do
  file=$(printf '%s/points_%04d.ply' "$out" "$f")
  count=$(sed -n 's/^element vertex //p' "$file")
  echo "  $file: frame $f, $count points on the object's surface"
done
echo "  Each is an ASCII PLY point file: per point its position x y z, its outward normal"
echo "  nx ny nz and a colour (red green blue). Any PLY viewer (MeshLab, CloudCompare) opens it."
echo "  $scene/: the input that sculptor read: calibrations cam<i>.txt, silhouettes"
echo "  sil<i>_<frame>.png and colour images img<i>_<frame>.png of $cameras cameras, and the"
echo "  scene's ground truth (ground_truth.txt)."
