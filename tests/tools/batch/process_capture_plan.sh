#!/usr/bin/env bash
# The planning of process_capture, through its --dry-run: chunk boundaries, the overlap (never
# before the first frame), the sculptor run of a chunk that ends at its last missing frame,
# the frames to mesh; and its messages for bad command lines.
#   tests/tools/batch/process_capture_plan.sh BUILD_DIR
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
program=$(cd "$1" && pwd)/tools/process_capture
work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_process_capture_plan.XXXXXX")
failures=0
# An unexpected failure ends the test with its line; the files stay for inspection.
trap 'echo "FAIL: process_capture plan: command failed at line $LINENO; files kept in $work"' ERR
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
cd "$work"

box=(-1 -1 -1 1 1 1)
# plan OPTIONS... -- FIRST LAST: the dry run's output for out/p_%04ld.ply.
plan() {
  local -a options=()
  while [[ $1 != -- ]]; do options+=("$1"); shift; done
  "$program" --dry-run "${options[@]}" 8 cam%ld.txt img%ld_%04ld.png sil%ld_%04ld.png \
    out/p_%04ld.ply "$2" "$3" "${box[@]}" 1000 2>&1
}
expect() {  # NAME EXPECTED ACTUAL
  [[ $2 == "$3" ]] || fail "$1: expected
$2
got
$3"
}

# Nothing exists yet: every chunk runs whole; the first chunk has no overlap to take.
expect "empty folder" "chunk 0 frames 10 to 13: run sculptor on frames 10 to 13
chunk 1 frames 14 to 17: run sculptor on frames 12 to 17
chunk 2 frames 18 to 21: run sculptor on frames 16 to 21
chunk 3 frames 22 to 24: run sculptor on frames 20 to 24
frames complete: 0 of 15" "$(plan --chunk 4 --overlap 2 -- 10 24)"

# Some point files and one mesh exist: a complete chunk is skipped, an incomplete one runs from
# its start (minus the overlap) to its last missing frame; every frame without a mesh is meshed.
mkdir out
for f in 10 11 12 13 14 16 17 22 23; do printf 'x' >"out/p_00$f.ply"; done
printf 'x' >out/m_0010.ply
printf 'x' >out/m_0011.ply
expect "partly done" "chunk 0 frames 10 to 13: complete
chunk 1 frames 14 to 17: run sculptor on frames 12 to 15
chunk 2 frames 18 to 21: run sculptor on frames 16 to 21
chunk 3 frames 22 to 24: run sculptor on frames 20 to 24
mesh frames: 12 13 14 15 16 17 18 19 20 21 22 23 24
frames complete: 2 of 15" "$(plan --chunk 4 --overlap 2 --mesh out/m_%04ld.ply -- 10 24)"

# One chunk longer than the range; an overlap longer than a chunk reaches back to the first frame.
expect "one chunk" "chunk 0 frames 3 to 5: run sculptor on frames 3 to 5
frames complete: 0 of 3" "$(plan --chunk 50 -- 3 5)"
expect "long overlap" "chunk 0 frames 0 to 1: run sculptor on frames 0 to 1
chunk 1 frames 2 to 3: run sculptor on frames 0 to 3
chunk 2 frames 4 to 4: run sculptor on frames 1 to 4
frames complete: 0 of 5" "$(plan --chunk 2 --overlap 3 -- 0 4)"

# Numbers are decimal: zeros in front do not make them octal (010 is ten, 08 is eight), in the
# frame range, --chunk and --overlap alike.
rm -rf out
expect "zero-padded" "chunk 0 frames 8 to 17: run sculptor on frames 8 to 17
chunk 1 frames 18 to 19: run sculptor on frames 8 to 19
frames complete: 0 of 12" "$(plan --chunk 010 --overlap 010 -- 08 019)"

# The options for the programs: named ones before the free words, each value one word (a
# camera list with a space stays one word); weaver's only with --mesh. An output template
# whose extension holds the frame conversion plans as any other.
expect "program options" "chunk 0 frames 0 to 1: run sculptor on frames 0 to 1
mesh frames: 0 1
sculptor options: --colour-all --normal-radius 1.5 --camera-ids '1-4, 6-9' --threads 2
weaver options: --watertight --threads 2
weaver carves with: --silhouettes sil%ld_%04ld.png --calibration cam%ld.txt --cameras 8 --camera-ids 1,2,3,4,6,7,8,9 --frame F
frames complete: 0 of 2" "$(plan --camera-ids "1-4, 6-9" --colour-all --normal-radius 1.5 \
  --sculptor-options "--threads 2" --watertight --carve --weaver-options "--threads 2" \
  --mesh out/m.%04ld -- 0 1)"

# Bad command lines: one line that names what is wrong, and a non-zero exit status.
bad() {  # NAME MESSAGE ARGS...
  local name=$1 message=$2 output status=0
  shift 2
  output=$("$program" "$@" 2>&1) || status=$?
  [[ $status -ne 0 ]] || fail "$name: exit status 0"
  [[ $(head -n 1 <<<"$output") == "$message" ]] || fail "$name: expected '$message', got '$output'"
}
args=(8 cam%ld.txt img%ld_%04ld.png sil%ld_%04ld.png out/p_%04ld.ply 0 5 "${box[@]}" 1000)
bad "chunk 0" "ERROR: --chunk must be a positive integer, got '0'" --chunk 0 "${args[@]}"
bad "overlap" "ERROR: --overlap must be a non-negative integer, got '-1'" --overlap -1 "${args[@]}"
bad "retries" "ERROR: --retries must be a non-negative integer, got 'x'" --retries x "${args[@]}"
bad "backend" "ERROR: --backend must be local or slurm, got 'pbs'" --backend pbs "${args[@]}"
bad "unknown" "ERROR: unknown option --chunks (see --help)" --chunks 3 "${args[@]}"
bad "no value" "ERROR: option --chunk needs a value (see --help)" --chunk
bad "count" "ERROR: expected sculptor's 14 arguments after the options, got 13" "${args[@]:1}"
bad "range" "ERROR: firstframe 6 is after lastframe 5" "${args[@]:0:5}" 6 5 "${box[@]}" 1000
bad "frame" "ERROR: lastframe must be an integer, got '5x'" "${args[@]:0:6}" 5x "${box[@]}" 1000
bad "template" "ERROR: outtemplate 'out/p.ply' has no frame number conversion" \
  "${args[@]:0:4}" out/p.ply "${args[@]:5}"
bad "mesh template" "ERROR: --mesh template 'out/p_%04ld.ply' names the same files as outtemplate" \
  --mesh out/p_%04ld.ply "${args[@]}"
bad "weaver params" "ERROR: --weaver-params needs 4 numbers (nn minangle decimation npoints), got '20 30'" \
  --weaver-params "20 30" "${args[@]}"
bad "sculptor" "ERROR: --sculptor ./none is not an executable file" --sculptor ./none "${args[@]}"
bad "octal" "ERROR: firstframe 9 is after lastframe 8" "${args[@]:0:5}" 09 08 "${box[@]}" 1000
bad "frame range" "ERROR: lastframe '2147483648' is out of range (-2147483648 to 2147483647)" \
  "${args[@]:0:6}" 2147483648 "${box[@]}" 1000
bad "zero chunk" "ERROR: --chunk must be a positive integer, got '00'" --chunk 00 "${args[@]}"
bad "camera count" "ERROR: --camera-ids '1-7' lists 7 cameras, but numcams is 8" \
  --camera-ids 1-7 "${args[@]}"
bad "camera list" "ERROR: --camera-ids '1-4,4-7' is not a list of distinct camera numbers and ranges (e.g. 1-16 or 0-4,6-19)" \
  --camera-ids 1-4,4-7 "${args[@]}"
bad "normal radius" "ERROR: --normal-radius must be a positive number, got '0'" \
  --normal-radius 0 "${args[@]}"
bad "watertight" "ERROR: --watertight closes weaver's meshes: give --mesh TEMPLATE too" \
  --watertight "${args[@]}"
bad "carve" "ERROR: --carve carves the closed meshes: give --watertight too" \
  --carve --mesh out/m_%04ld.ply "${args[@]}"
bad "no conversion" "ERROR: outtemplate 'out/p%%.ply' has no frame number conversion" \
  "${args[@]:0:4}" out/p%%.ply "${args[@]:5}"
"$program" --help | grep -q '^Usage: process_capture \[options\]' || fail "--help: no usage line"

if [[ $failures -eq 0 ]]; then
  rm -rf "$work"
  echo "process_capture plan: all checks passed"
  exit 0
fi
echo "process_capture plan: $failures check(s) failed; files kept in $work"
exit 1
