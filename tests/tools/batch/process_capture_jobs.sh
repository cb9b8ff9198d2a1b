#!/usr/bin/env bash
# process_capture's jobs on a small generated scene (2 frames), with the real sculptor or
# stand-ins for it:
#   tests/tools/batch/process_capture_jobs.sh BUILD_DIR
# relative templates run from a folder whose path holds % and a space, with the frame
# conversion in the extension; failures that a retry cannot change (a missing input file, a
# refused argument) are not retried and the summary names the reason, while other failures
# are; a TERM or INT to the runner's process group, or a TERM to the runner alone, stops every
# job it started.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
program=$build/tools/process_capture
sculptor=$build/sculptor/sculptor
work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_process_capture_jobs.XXXXXX")
failures=0
# An unexpected failure ends the test with its line; the files stay for inspection.
trap 'echo "FAIL: process_capture jobs: command failed at line $LINENO; files kept in $work"' ERR
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

scene=$work/scene
"$build/tools/make_scene" -o "$scene" --width 320 --height 240 --frames 2 --points 2000 \
  >"$work/make_scene.log" 2>&1 || { echo "FAIL: make_scene"; cat "$work/make_scene.log"; exit 1; }
read -r -a words < <(grep '/sculptor ' "$work/make_scene.log")
box=("${words[@]:${#words[@]}-7:6}")
inputs=(8 "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" "$scene/sil%ld_%04ld.png")
mkdir "$work/ref"
"$sculptor" "${inputs[@]}" "$work/ref/p_%ld.ply" 0 1 "${box[@]}" 2000 >/dev/null 2>&1

# The runs start in a folder whose path holds a % and a space, with relative templates.
here="$work/run %d here"
mkdir "$here"
out=$here/out
state=$here/state
# run NAME [OPTIONS]: process_capture on frames 0 and 1 into out/points.%04ld; output in
# $work/NAME.out, exit status in $work/NAME.status.
run() {
  local name=$1 status=0
  shift
  (cd "$here" && "$program" --jobs 2 --work state --sculptor "$sculptor" "$@" "${inputs[@]}" \
    out/points.%04ld 0 1 "${box[@]}" 2000) >"$work/$name.out" 2>&1 || status=$?
  echo "$status" >"$work/$name.status"
}
expect_status() {  # NAME STATUS
  [[ $(cat "$work/$1.status") == "$2" ]] ||
    fail "$1: exit status $(cat "$work/$1.status"), expected $2; output: $(cat "$work/$1.out")"
}
expect_line() {  # NAME LINE: the run's output has this exact line
  grep -qxF -- "$2" "$work/$1.out" || fail "$1: no line '$2' in: $(cat "$work/$1.out")"
}
attempts() {  # LOG: the program runs that a job log records
  grep -c '^== attempt [0-9]* of' "$state/logs/$1" || true
}

# 1. Templates: the files are the direct run's, under their names.
run templates --chunk 2
expect_status templates 0
for f in 0 1; do
  cmp -s "$work/ref/p_$f.ply" "$out/points.000$f" || fail "templates: $out/points.000$f differs"
done

# 2. A missing silhouette: one attempt, the file named; the frame finished before is kept.
rm "$out"/points.000*
mv "$scene/sil3_0001.png" "$work/"
run missing --chunk 2 --retries 2
expect_status missing 1
expect_line missing "FAILED: chunk 0 (frames 0 to 1) after 1 attempt(s), exit status 1, not retried: missing input file $scene/sil3_0001.png; log: $state/logs/chunk_0000.log"
[[ -f $out/points.0000 ]] || fail "missing: frame 0 was not kept"
mv "$work/sil3_0001.png" "$scene/"
mv "$out/points.0000" "$work/"

# 3. A refused argument: one attempt, the program's message in the summary (sculptor's, then
# weaver's and texture_mesh's on the kept frame 0).
run refused --chunk 2 --sculptor-options --bogus
expect_status refused 1
expect_line refused "FAILED: chunk 0 (frames 0 to 1) after 1 attempt(s), exit status 1, not retried: bad argument: unknown option --bogus; log: $state/logs/chunk_0000.log"
mv "$work/points.0000" "$out/"
run refused_mesh --chunk 2 --mesh out/mesh_%ld.ply --weaver "$build/weaver/weaver" --weaver-options --bogus
expect_line refused_mesh "FAILED: mesh of frame 0 after 1 attempt(s), exit status 1, not retried: bad argument: unknown option --bogus; log: $state/logs/mesh_000000.log"
run refused_texture --chunk 2 --mesh out/mesh_%ld.ply --weaver "$build/weaver/weaver" \
  --texture out/tex_%ld.glb --texture-options --bogus
expect_line refused_texture "FAILED: mesh of frame 0 after 1 attempt(s), exit status 1, not retried: texturing: unrecognised option '--bogus' (see texture_mesh --help); log: $state/logs/mesh_000000.log"
rm "$out/points.0000"

# 4. A failure without such a cause (the first run of a stand-in fails) is retried.
cat >"$work/flaky" <<EOF
#!/usr/bin/env bash
[[ -e "$work/flaky.ran" ]] || { touch "$work/flaky.ran"; exit 3; }
exec "$sculptor" "\$@"
EOF
chmod +x "$work/flaky"
rm -r "$state/logs"
run flaky --chunk 2 --sculptor "$work/flaky"
expect_status flaky 0
[[ $(attempts chunk_0000.log) == 2 ]] || fail "flaky: expected 2 attempts: $(cat "$state/logs/chunk_0000.log")"
cmp -s "$work/ref/p_0.ply" "$out/points.0000" || fail "flaky: $out/points.0000 differs"

# 4b. --carve: weaver closes every frame's mesh against that frame's silhouettes.
run carve --chunk 2 --mesh out/carved_%ld.ply --weaver "$build/weaver/weaver" --watertight --carve
expect_status carve 0
for f in 0 1; do
  grep -qF -- "$build/weaver/weaver --watertight --silhouettes $scene/sil%ld_%04ld.png --calibration $scene/cam%ld.txt --cameras 8 --frame $f $out/points.000$f" \
    "$state/logs/mesh_00000$f.log" || fail "carve: weaver's command is wrong: $(cat "$state/logs/mesh_00000$f.log")"
  grep -q '^Carved to the silhouettes: [0-9]* vertices' "$state/logs/mesh_00000$f.log" ||
    fail "carve: no carving reported: $(cat "$state/logs/mesh_00000$f.log")"
done
rm "$out"/carved_*.ply

# 5. With --camera-ids the calibrations checked are the listed cameras' (there is no cam8.txt).
printf '#!/usr/bin/env bash\nexit 1\n' >"$work/failing"
chmod +x "$work/failing"
rm "$out"/points.000*
run ids --chunk 2 --sculptor "$work/failing" --camera-ids 1-8
expect_line ids "FAILED: chunk 0 (frames 0 to 1) after 1 attempt(s), exit status 1, not retried: missing input file $scene/cam8.txt; log: $state/logs/chunk_0000.log"

# 6. Signals: two chunk jobs whose stand-in sculptors sleep; each way of stopping the runner
# must end both, and the runner with 128 + the signal's number.
cat >"$work/sleeper" <<EOF
#!/usr/bin/env bash
echo \$\$ >>"$work/sleepers"
exec sleep 60
EOF
chmod +x "$work/sleeper"
for way in TERM:group INT:group TERM:runner; do
  signal=${way%:*}
  rm -f "$work/sleepers"
  (cd "$here" && exec setsid "$program" --jobs 2 --chunk 1 --work state --sculptor "$work/sleeper" \
    "${inputs[@]}" out/points.%04ld 0 1 "${box[@]}" 2000) >"$work/signal.out" 2>&1 &
  runner=$!
  for _ in $(seq 300); do [[ $(wc -l 2>/dev/null <"$work/sleepers" || echo 0) -eq 2 ]] && break; sleep 0.1; done
  mapfile -t sleepers <"$work/sleepers"
  [[ ${#sleepers[@]} -eq 2 ]] || fail "$way: the stand-ins did not start: $(cat "$work/signal.out")"
  if [[ $way == *:group ]]; then kill "-$signal" -- "-$runner"; else kill "-$signal" "$runner"; fi
  status=0
  wait "$runner" || status=$?
  expected=$((128 + $(kill -l "$signal")))
  [[ $status -eq $expected ]] || fail "$way: exit status $status, expected $expected"
  grep -qxF "process_capture: stopped by SIG$signal; stopping the jobs it started" "$work/signal.out" ||
    fail "$way: no message in: $(cat "$work/signal.out")"
  for pid in "${sleepers[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      fail "$way: a chunk job's program (pid $pid) still runs"
      kill "$pid"
    fi
  done
  [[ -z $(find "$state/stage" -mindepth 1) ]] || fail "$way: staging files left in $state/stage"
done

if [[ $failures -eq 0 ]]; then
  rm -rf "$work"
  echo "process_capture jobs: all checks passed"
  exit 0
fi
echo "process_capture jobs: $failures check(s) failed; files kept in $work"
exit 1
