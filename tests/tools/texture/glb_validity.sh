#!/usr/bin/env bash
# texture_mesh's .glb files pass the Khronos glTF validator (npm's gltf-validator, installed in
# the source tree's node_modules by `npm ci`) with no error and no warning: PNG and JPEG atlases.
# Skipped (exit 77) where node or the validator is missing.
#   glb_validity.sh BUILD_DIR
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")/../../.." && pwd)
validator=$source_dir/node_modules/gltf-validator
command -v node >/dev/null && [[ -d $validator ]] || { echo "SKIP: no node or no $validator"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/make_scene" -o "$work/scene" --object figure --cameras 8 --width 320 --height 240 \
  --frames 1 --truth-mesh > /dev/null 2>&1
io=(--calibration "$work/scene/cam%ld.txt" --cameras 8 --images "$work/scene/img%ld_%04ld.png"
    --silhouettes "$work/scene/sil%ld_%04ld.png" --mesh "$work/scene/truth_0000.ply" --atlas-size 1024)
"$build/tools/texture_mesh" "${io[@]}" -o "$work/png.glb" > /dev/null 2>&1
"$build/tools/texture_mesh" "${io[@]}" --image-format jpeg -o "$work/jpeg.glb" > /dev/null 2>&1
node --input-type=module - "$validator" "$work/png.glb" "$work/jpeg.glb" <<'JS'
import fs from 'fs';
import { createRequire } from 'module';
const [validatorDir, ...files] = process.argv.slice(2);
const validator = createRequire(import.meta.url)(validatorDir);
let failed = false;
for (const file of files) {
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)));
  const bad = report.issues.messages.filter((m) => m.severity <= 1);
  for (const m of bad) console.log(`${file}: ${m.code} ${m.message} ${m.pointer || ''}`);
  failed ||= bad.length > 0;
}
process.exit(failed ? 1 : 0);
JS
echo "PASS"
