#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite with ctest.
#   ./test.sh            normal build (build/)
#   ./test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build (build-sanitize/)
#   ./test.sh --all      what CI runs: every test program under the sanitizers, and the
#                        golden digests and batch runs of the optimised programs
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh
./tools/npm-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

build() {
  local dir=$1; shift
  # A new build folder uses Ninja, which keeps both cores busier than make across the
  # libraries' boundaries; a folder made earlier keeps the generator it was made with.
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    generator=(-G Ninja)
  fi
  # ccache, where the machine has it (nothing here installs it), keeps earlier builds' objects.
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" "${generator[@]}" "${launcher[@]}" -DTERVIK_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() {
  # One test more than cores: the Slurm and process_capture tests spend much of their time
  # waiting for daemons and jobs.
  ctest --test-dir "$1" --output-on-failure -j "$((jobs + 1))"
}

run_suite() {
  build "$@" && run_tests "$1"
}

# lld, where it is installed, links the instrumented test programs, programs and fuzz targets
# in about a third of the processor time of the default linker. The optimised build keeps the
# default linker: its links are short, and its programs are the ones users run.
fast_linker=()
if command -v ld.lld >/dev/null; then
  fast_linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
fi

# The sanitizer build optimises only as far as debugging allows (-Og) and keeps line tables
# only (-g1): reports name the file and line. Instrumented code compiles about 40 % faster at
# -Og than at -O1 and runs about 20 % slower, which the suite's running time easily absorbs.
sanitize=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVIK_SANITIZE=ON
          "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-Og -g1 -DNDEBUG" "${fast_linker[@]}")

# CI compiles every file once, so --all builds as a unity build: each library's and program's
# files are compiled in batches of eight, one compiler run a batch, which parses the shared
# headers (Boost, Eigen, GoogleTest) once a batch instead of once a file. On 2 cores it takes
# about a quarter off the sanitizer build. The other modes compile file by file, which suits
# rebuilding after an edit, and check that every file includes what it uses.
case "${1:-}" in
  "") run_suite build -DCMAKE_BUILD_TYPE=Release -DTERVIK_TEST_PROGRAMS=ON -DCMAKE_UNITY_BUILD=OFF ;;
  --sanitize) run_suite build-sanitize "${sanitize[@]}" -DTERVIK_TEST_PROGRAMS=ON -DCMAKE_UNITY_BUILD=OFF ;;
  --all)
    # Every test program runs under the sanitizers. The optimised build adds what depends on
    # the optimised programs themselves: the golden digests of their output bytes and the
    # batch runs (process_capture, locally and on Slurm), without compiling the test programs
    # a second time.
    # The two builds run side by side, so that one's serial stretches (links, the last long
    # files) leave no core idle; the optimised build's tests, which mostly wait for the batch
    # runs' daemons and jobs, run while the sanitizer build still compiles. The optimised
    # build's report follows the sanitizer suite's.
    optimised_log=$(mktemp) optimised_status_file=$(mktemp) fuzz_log=$(mktemp)
    # The fuzz targets need clang: where it is installed they are compiled (not run; their
    # seeds and reproducers are replayed by the test fuzz/corpus above), so that they cannot
    # stop building unnoticed. They compile after the optimised build's tests, beside the
    # sanitizer build, and so fill the time those tests spend waiting.
    fuzz_check() {
      if ! command -v clang++ >/dev/null; then
        echo "Fuzz targets not compiled: clang++ is not installed."
        return 0
      fi
      local fuzz_generator=()
      if [ ! -f build-fuzz-check/CMakeCache.txt ] && command -v ninja >/dev/null; then
        fuzz_generator=(-G Ninja)
      fi
      if command -v ccache >/dev/null; then
        fuzz_generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
      fi
      # Compiled only, so without optimisation and as a unity build: 40 % less processor time
      # than the -O1 of a build made to fuzz.
      CC=clang CXX=clang++ cmake -S . -B build-fuzz-check "${fuzz_generator[@]}" \
          "${fast_linker[@]}" -DTERVIK_FUZZ=ON -DTERVIK_TESTS=OFF -DTERVIK_FUZZ_OPTIMIZE=-O0 \
          -DCMAKE_UNITY_BUILD=ON >/dev/null &&
        cmake --build build-fuzz-check -j "$jobs" --target fuzz_all
    }
    {
      optimised_status=0
      { build build -DCMAKE_BUILD_TYPE=Release -DTERVIK_TEST_PROGRAMS=OFF -DCMAKE_UNITY_BUILD=ON &&
          run_tests build; } >"$optimised_log" 2>&1 || optimised_status=$?
      echo "$optimised_status" >"$optimised_status_file"
      fuzz_check >"$fuzz_log" 2>&1
    } &
    background=$!
    status=0
    run_suite build-sanitize "${sanitize[@]}" -DTERVIK_TEST_PROGRAMS=ON -DCMAKE_UNITY_BUILD=ON ||
      status=$?
    fuzz_status=0
    wait "$background" || fuzz_status=$?
    optimised_status=$(cat "$optimised_status_file")
    echo "Optimised build (build/) and its tests:"
    cat "$optimised_log"
    echo "Fuzz targets (build-fuzz-check/, clang):"
    cat "$fuzz_log"
    rm -f "$optimised_log" "$optimised_status_file" "$fuzz_log"
    if [ "$status" -eq 0 ]; then status=${optimised_status:-1}; fi
    if [ "$status" -eq 0 ]; then status=$fuzz_status; fi
    exit "$status"
    ;;
  *) echo "usage: $0 [--sanitize | --all]" >&2; exit 1 ;;
esac
