#!/usr/bin/env bash
# The test of process_capture on one backend:
#   tests/tools/batch/process_capture_check.sh BUILD_DIR local|slurm
# On a generated 6-frame scene in chunks of 3 frames with an overlap of 1, process_capture must
# write the same files as sculptor run directly on each chunk's frames and weaver on every
# frame; a rerun does nothing; a deleted point file or mesh is redone alone; a chunk made to
# fail for want of an input file is reported with it, and not retried. The slurm backend needs a running cluster (SLURM_CONF).
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR local|slurm" >&2; exit 2; }
build=$(cd "$1" && pwd)
backend=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_process_capture.XXXXXX")
failures=0
# An unexpected failure ends the test with its line; the files stay for inspection.
trap 'echo "FAIL: process_capture ($backend): command failed at line $LINENO; files kept in $work"' ERR
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
finish() {
  if [[ $failures -eq 0 ]]; then
    rm -rf "$work"
    echo "process_capture ($backend): all checks passed"
    exit 0
  fi
  echo "process_capture ($backend): $failures check(s) failed; files kept in $work"
  exit 1
}

# The scene, and the reference outputs: sculptor on frames 0-2 (chunk 0) and on 2-5 (chunk 1,
# starting one frame early), weaver on every frame.
scene=$work/scene
# must COMMAND...: runs a set-up command; its failure ends the test with its output.
must() {
  "$@" >"$work/setup.log" 2>&1 || { echo "FAIL: set-up command failed: $*"; cat "$work/setup.log"; exit 1; }
}
must "$build/tools/make_scene" -o "$scene" --width 320 --height 240 --frames 6 --points 2000
cp "$work/setup.log" "$work/make_scene.log"
read -r -a words < <(grep '/sculptor ' "$work/make_scene.log")
box=("${words[@]:${#words[@]}-7:6}")
inputs=(8 "$scene/cam%ld.txt" "$scene/img%ld_%04ld.png" "$scene/sil%ld_%04ld.png")
mkdir -p "$work/ref0" "$work/ref1" "$work/ref"
must "$build/sculptor/sculptor" "${inputs[@]}" "$work/ref0/p_%04ld.ply" 0 2 "${box[@]}" 2000
must "$build/sculptor/sculptor" "${inputs[@]}" "$work/ref1/p_%04ld.ply" 2 5 "${box[@]}" 2000
for f in 0 1 2; do mv "$work/ref0/p_000$f.ply" "$work/ref/points_000$f.ply"; done
for f in 3 4 5; do mv "$work/ref1/p_000$f.ply" "$work/ref/points_000$f.ply"; done
for f in 0 1 2 3 4 5; do
  must "$build/weaver/weaver" "$work/ref/points_000$f.ply" "$work/ref/mesh_000$f.ply" 20 30 1 1000000
done

out=$work/out
state=$work/state
# run NAME [OPTIONS]: process_capture on the scene into $out; output in $work/NAME.out and
# the exit status in $work/NAME.status.
run() {
  local name=$1
  shift
  local status=0
  (cd "$work" && "$build/tools/process_capture" --backend "$backend" --jobs 2 --chunk 3 \
    --overlap 1 --mesh out/mesh_%04ld.ply --work state \
    --sculptor "$build/sculptor/sculptor" --weaver "$build/weaver/weaver" "$@" \
    "${inputs[@]}" out/points_%04ld.ply 0 5 "${box[@]}" 2000) >"$work/$name.out" 2>&1 ||
    status=$?
  echo "$status" >"$work/$name.status"
}
expect_status() {  # NAME STATUS
  [[ $(cat "$work/$1.status") == "$2" ]] ||
    fail "$1: exit status $(cat "$work/$1.status"), expected $2; output: $(cat "$work/$1.out")"
}
expect_line() {  # NAME LINE: the run's output has this exact line
  grep -qxF -- "$2" "$work/$1.out" || fail "$1: no line '$2' in: $(cat "$work/$1.out")"
}
same_as_reference() {  # NAME: every output equals the reference
  local f kind
  for f in 0 1 2 3 4 5; do
    for kind in points mesh; do
      cmp -s "$work/ref/${kind}_000$f.ply" "$out/${kind}_000$f.ply" ||
        fail "$1: $out/${kind}_000$f.ply differs from the direct run's file"
    done
  done
}
attempts() {  # LOG: the number of program runs that a job log records
  if [[ -f $state/logs/$1 ]]; then grep -c '^== attempt [0-9]* of' "$state/logs/$1" || true; else echo 0; fi
}
inode() { stat -c %i "$1"; }

# Options for the backend that must reach it.
backend_options=()
[[ $backend != slurm ]] || backend_options=(--sbatch-options "--partition=tervik --time=10")

# 1. A whole run gives the direct runs' files. Option words reach the programs ("--" ends
# their options and changes nothing).
run first --sculptor-options -- --weaver-options -- "${backend_options[@]}"
expect_status first 0
grep -q "^== attempt 1 of 3: $build/sculptor/sculptor -- 8 " "$state/logs/chunk_0000.log" ||
  fail "first: sculptor's options are not in its command: $(cat "$state/logs/chunk_0000.log")"
grep -q "^== attempt 1 of 3: $build/weaver/weaver -- $out/points_0002.ply $out/mesh_0002.ply 20 30 1 1000000\$" \
  "$state/logs/mesh_000002.log" ||
  fail "first: weaver's command is wrong: $(cat "$state/logs/mesh_000002.log")"
grep -q '^frames: 6 done, 0 failed, 0 skipped (of 6); CPU time [0-9.]* s; wall time [0-9.]* s$' "$work/first.out" ||
  fail "first: no summary line in: $(cat "$work/first.out")"
expect_line first "frames done: 6 of 6"
same_as_reference first
logs=("$state"/logs/chunk_*.log)
meshlogs=("$state"/logs/mesh_*.log)
[[ ${#logs[@]} == 2 && ${#meshlogs[@]} == 6 ]] ||
  fail "first: expected 2 chunk logs and 6 mesh logs in $state/logs: $(ls "$state/logs")"
[[ -z $(find "$out" -name '.*') ]] || fail "first: temporary files left in $out: $(ls -a "$out")"

# 2. A rerun does nothing but, with --player, write the browser player of the frames.
inode_before=$(inode "$out/points_0004.ply")
run again --player "$work/player"
expect_status again 0
[[ -f $work/player/index.html && $(grep -c '"kind":"mesh"' "$work/player/sequence.json") == 6 &&
   $(ls "$work/player/frames" | grep -c '\.glb$') == 6 ]] ||
  fail "again: --player did not write the player of the 6 meshes: $(cat "$work/again.out")"
expect_line again "process_capture: frames 0 to 5 (6), 2 chunk(s) of 3, overlap 1; 6 frame(s) already complete; logs in $state/logs"
grep -q '^frames: 0 done, 0 failed, 6 skipped (of 6);' "$work/again.out" ||
  fail "again: wrong summary in: $(cat "$work/again.out")"
[[ $(attempts chunk_0000.log) == 1 && $(attempts chunk_0001.log) == 1 && $(attempts mesh_000004.log) == 1 ]] ||
  fail "again: a program ran again: $(cat "$state/logs/chunk_0001.log")"
[[ $(inode "$out/points_0004.ply") == "$inode_before" ]] || fail "again: points_0004.ply was rewritten"

# 2b. --texture textures every frame's existing mesh (weaver does not run again); a rerun with
# it finds everything done, and its player shows the textured meshes; with --quiet it prints only
# its summary and make_player's.
run textured --texture out/tex_%04ld.glb --texture-options "--atlas-size 256"
expect_status textured 0
for f in 0 1 2 3 4 5; do
  [[ -s $out/tex_000$f.glb ]] || fail "textured: no $out/tex_000$f.glb: $(cat "$work/textured.out")"
done
grep -q -- "^== texturing, attempt 1 of 3: $build/tools/texture_mesh --atlas-size 256 --calibration .* --frame 3 --mesh $out/mesh_0003.ply -o $out/tex_0003.glb\$" \
  "$state/logs/mesh_000003.log" || fail "textured: texture_mesh's command is wrong: $(cat "$state/logs/mesh_000003.log")"
[[ $(attempts mesh_000003.log) == 1 ]] || fail "textured: weaver ran again"
run textured_again --quiet --texture out/tex_%04ld.glb --player "$work/textured_player"
grep -q '^frames: 0 done, 0 failed, 6 skipped (of 6);' "$work/textured_again.out" ||
  fail "textured_again: wrong summary in: $(cat "$work/textured_again.out")"
[[ $(wc -l <"$work/textured_again.out") == 2 ]] && grep -q '^Wrote the player' "$work/textured_again.out" ||
  fail "textured_again: --quiet printed more than the two summaries: $(cat "$work/textured_again.out")"
[[ $(grep -c '"kind":"textured"' "$work/textured_player/sequence.json" 2>/dev/null) == 6 ]] ||
  fail "textured_again: the player does not show the 6 textured meshes: $(cat "$work/textured_again.out")"

# 3. A deleted point file is redone alone: its chunk runs from its start to that frame, and
# the chunk's other files stay as they are; a deleted mesh only reruns weaver on its frame.
# With Slurm, one task per array: the task meshes both frames.
rm "$out/points_0004.ply" "$out/mesh_0001.ply" "$out/mesh_0002.ply"
inode3=$(inode "$out/points_0003.ply")
inode5=$(inode "$out/points_0005.ply")
if [[ $backend == slurm ]]; then run deleted --max-array 1; else run deleted; fi
expect_status deleted 0
grep -q '^frames: 3 done, 0 failed, 3 skipped (of 6);' "$work/deleted.out" ||
  fail "deleted: wrong summary in: $(cat "$work/deleted.out")"
grep -q "^== attempt 1 of 3: .* 2 4 ${box[*]} 2000\$" "$state/logs/chunk_0001.log" ||
  fail "deleted: chunk 1 did not run sculptor on frames 2 to 4: $(cat "$state/logs/chunk_0001.log")"
[[ $(attempts chunk_0000.log) == 1 && $(attempts chunk_0001.log) == 2 ]] ||
  fail "deleted: expected only chunk 1 to run again"
[[ $(attempts mesh_000001.log) == 2 && $(attempts mesh_000002.log) == 2 && $(attempts mesh_000004.log) == 1 ]] ||
  fail "deleted: expected weaver to run again on frames 1 and 2 only"
[[ $(inode "$out/points_0003.ply") == "$inode3" && $(inode "$out/points_0005.ply") == "$inode5" ]] ||
  fail "deleted: points_0003.ply or points_0005.ply was rewritten"
same_as_reference deleted

# 4. A chunk made to fail (a silhouette of frame 4 is missing) is reported with the file, and
# not retried (a retry cannot change that); the frame it finished before failing is kept, and
# the meshes it could not get fail too.
rm "$out"/points_000[345].ply "$out"/mesh_000[345].ply
mv "$scene/sil3_0004.png" "$work/sil3_0004.png"
run failing --retries 2
expect_status failing 1
expect_line failing "FAILED: chunk 1 (frames 3 to 5) after 1 attempt(s), exit status 1, not retried: missing input file $scene/sil3_0004.png; log: $state/logs/chunk_0001.log"
expect_line failing "FAILED: mesh of frame 4 after 1 attempt(s), exit status 1, not retried: no point file $out/points_0004.ply; log: $state/logs/mesh_000004.log"
grep -q '^frames: 1 done, 2 failed, 3 skipped (of 6);' "$work/failing.out" ||
  fail "failing: wrong summary in: $(cat "$work/failing.out")"
[[ $(attempts chunk_0001.log) == 3 ]] ||
  fail "failing: expected 1 attempt of chunk 1 (3 in its log): $(cat "$state/logs/chunk_0001.log")"
grep -q "sil3_0004.png" "$state/logs/chunk_0001.log" ||
  fail "failing: the chunk's log does not name the missing file"
grep -qxF "ERROR: no point file $out/points_0005.ply (its chunk failed)" "$state/logs/mesh_000005.log" ||
  fail "failing: the mesh log of frame 5 does not name the missing point file"
cmp -s "$work/ref/points_0003.ply" "$out/points_0003.ply" || fail "failing: frame 3 was not kept"
[[ ! -e $out/points_0004.ply && ! -e $out/points_0005.ply ]] || fail "failing: frame 4 or 5 exists"
mv "$work/sil3_0004.png" "$scene/sil3_0004.png"
run repaired
expect_status repaired 0
grep -q '^frames: 2 done, 0 failed, 4 skipped (of 6);' "$work/repaired.out" ||
  fail "repaired: wrong summary in: $(cat "$work/repaired.out")"
same_as_reference repaired
[[ -z $(find "$state/stage" -mindepth 1) ]] || fail "repaired: staging files left in $state/stage"

# 5. A chunk job stopped while sculptor runs (as a time limit or scancel stops it) keeps the
# frames that sculptor finished; the stopped job is not retried.
rm "$out"/points_000[345].ply "$out"/mesh_000[345].ply
cat >"$work/stopping_sculptor" <<EOF
#!/usr/bin/env bash
"$build/sculptor/sculptor" "\$@" || exit
echo "\$\$ \$PPID" >"$work/stopping.pids"
exec sleep 60
EOF
chmod +x "$work/stopping_sculptor"
run stopped --sculptor "$work/stopping_sculptor" "${backend_options[@]}" &
runner=$!
for _ in $(seq 600); do [[ -s $work/stopping.pids ]] && break; sleep 0.1; done
if [[ -s $work/stopping.pids ]]; then
  read -r -a stopping <"$work/stopping.pids"
  kill -TERM "${stopping[@]}"
  wait "$runner"
  expect_status stopped 0
  grep -q '^frames: 3 done, 0 failed, 3 skipped (of 6);' "$work/stopped.out" ||
    fail "stopped: wrong summary in: $(cat "$work/stopped.out")"
  same_as_reference stopped
  [[ $(attempts chunk_0001.log) == 5 ]] || fail "stopped: the stopped chunk ran again"
else
  kill "$runner"
  fail "stopped: the sculptor to stop never ran: $(cat "$work/stopped.out")"
fi
[[ -z $(find "$state/stage" -mindepth 1) ]] || fail "stopped: staging files left in $state/stage"

# 6. Slurm: --no-wait submits and returns; the jobs still do the work.
if [[ $backend == slurm ]]; then
  rm "$out/points_0005.ply" "$out/mesh_0005.ply"
  run nowait --no-wait
  expect_status nowait 0
  grep -q '^submitted Slurm job(s): [0-9]* [0-9]*$' "$work/nowait.out" ||
    fail "nowait: no job ids in: $(cat "$work/nowait.out")"
  read -r -a jobs < <(sed -n 's/^submitted Slurm job(s): //p' "$work/nowait.out")
  for _ in $(seq 300); do
    [[ -n $(squeue -h -j "$(IFS=,; echo "${jobs[*]}")" -t PD,CF,R,CG,S -o %i) ]] || break
    sleep 0.2
  done
  same_as_reference nowait
fi

# 7. Slurm: a TERM to the runner while it waits cancels the jobs it submitted.
if [[ $backend == slurm ]]; then
  rm "$out/points_0005.ply" "$out/mesh_0005.ply"
  printf '#!/usr/bin/env bash\necho $$ >>"%s"\nexec sleep 60\n' "$work/sleepers" >"$work/sleeper"
  chmod +x "$work/sleeper"
  (cd "$work" && exec setsid "$build/tools/process_capture" --backend slurm --chunk 3 --overlap 1 \
    --mesh out/mesh_%04ld.ply --work state --sculptor "$work/sleeper" --weaver "$build/weaver/weaver" \
    "${backend_options[@]}" "${inputs[@]}" out/points_%04ld.ply 0 5 "${box[@]}" 2000) \
    >"$work/cancel.out" 2>&1 &
  runner=$!
  for _ in $(seq 600); do [[ -s $work/sleepers ]] && break; sleep 0.1; done
  read -r -a jobs < <(sed -n 's/^submitted Slurm job(s): //p' "$work/cancel.out")
  kill -TERM -- "-$runner"
  status=0
  wait "$runner" || status=$?
  [[ $status -eq 143 && ${#jobs[@]} -eq 2 ]] ||
    fail "cancel: exit status $status, expected 143, or no job ids in: $(cat "$work/cancel.out")"
  left=x
  for _ in $(seq 150); do
    left=$(squeue -h -j "$(IFS=,; echo "${jobs[*]}")" -t PD,CF,R,CG,S -o %i) || left=x
    [[ -n $left ]] || break
    sleep 0.2
  done
  [[ -z $left ]] || fail "cancel: jobs still queued or running after 30 s: $left"
  alive=1
  for _ in $(seq 50); do
    if ! kill -0 "$(head -n 1 "$work/sleepers")" 2>/dev/null; then alive=0; break; fi
    sleep 0.2
  done
  [[ $alive -eq 0 ]] || fail "cancel: the chunk job's program still runs"
fi

finish
