#!/usr/bin/env bash
# The golden test: recomputes the digests of everything sculptor and weaver write on small
# generated scenes and compares them with tests/golden/digests.txt.
#   tests/golden/check_digests.sh BUILD_DIR
# Program options for a variant: TERVIK_GOLDEN_SCULPTOR_OPTIONS, TERVIK_GOLDEN_WEAVER_OPTIONS
# (the outputs must not depend on them). On a mismatch the outputs are kept for inspection.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/digests.sh"
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_golden.XXXXXX")
golden_digests "$(cd "$1" && pwd)" "$work" >"$work/digests.txt"

expected=$(grep -v '^#' "$here/digests.txt")
if report=$(golden_compare <(echo "$expected") "$work/digests.txt"); then
  echo "golden: all $(wc -l <"$work/digests.txt") digests match" \
    "(sculptor options: '${TERVIK_GOLDEN_SCULPTOR_OPTIONS:-}'," \
    "weaver options: '${TERVIK_GOLDEN_WEAVER_OPTIONS:-}')"
  rm -rf "$work"
  exit 0
fi
echo "$report"
echo "golden: outputs differ from tests/golden/digests.txt; they are kept in $work"
exit 1
