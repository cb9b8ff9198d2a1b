#!/usr/bin/env bash
# Rewrites tests/golden/digests.txt from the programs of a build tree and prints which
# entries changed. Only for an intended change of the programs' output: say why in the
# commit message.
#   tests/golden/update_digests.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/digests.sh"
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tervik_golden.XXXXXX")
trap 'rm -rf "$work"' EXIT
golden_digests "$(cd "$1" && pwd)" "$work" >"$work/digests.txt"

old="$here/digests.txt"
[[ -f "$old" ]] || : >"$old"
golden_compare <(grep -v '^#' "$old") "$work/digests.txt" || true
{
  echo "# SHA-256 of what sculptor and weaver write on the generated scenes of digests.sh:"
  echo "# <output> <digest>. Checked by check_digests.sh; rewritten by update_digests.sh."
  cat "$work/digests.txt"
} >"$old"
echo "golden: wrote $(wc -l <"$work/digests.txt") digests to tests/golden/digests.txt"
