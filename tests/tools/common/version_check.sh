#!/usr/bin/env bash
# --version in every program: sculptor, weaver and every tool print one line "NAME (tervik
# VERSION)", the same VERSION for all, and exit 0; process_capture prints that line for each
# program it would run, with its path.
#   version_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

programs=("$build/sculptor/sculptor" "$build/weaver/weaver")
for p in "$build"/tools/*; do
  [[ -f $p && -x $p && $(basename "$p") != process_capture ]] && programs+=("$p")
done
((${#programs[@]} >= 12)) || fail "only ${#programs[@]} programs found in $build"
versions=()
for p in "${programs[@]}"; do
  name=$(basename "$p")
  status=0
  out=$("$p" --version 2>&1) || status=$?
  if [[ $status -ne 0 || ! $out =~ ^$name\ \(tervik\ ([0-9]+\.[0-9]+[^\)]*)\)$ ]]; then
    fail "$name --version (exit status $status) printed: $out"
  else
    versions+=("${BASH_REMATCH[1]}")
  fi
  "$p" --help 2>&1 | grep -q -- '--version' || fail "$name --help does not list --version"
done
distinct=$(printf '%s\n' "${versions[@]}" | sort -u)
[[ $(wc -l <<<"$distinct") -eq 1 ]] || fail "the programs print different versions: $distinct"

out=$("$build/tools/process_capture" --version 2>&1) ||
  fail "process_capture --version failed: $out"
expected="sculptor (tervik $distinct): $build/sculptor/sculptor
weaver (tervik $distinct): $build/weaver/weaver
texture_mesh (tervik $distinct): $build/tools/texture_mesh
make_player (tervik $distinct): $build/tools/make_player"
[[ $out == "$expected" ]] || fail "process_capture --version printed:
$out
expected:
$expected"

[[ $failures -eq 0 ]] && echo "PASS: ${#programs[@]} programs, version $distinct" || exit 1
