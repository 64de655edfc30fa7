#!/usr/bin/env bash
# Builds and runs every test: the optimised build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a
# bounded time, the benchmarks' build, and the Windows tiers (wine64 and the
# 32-bit DLL in an emulated machine). Set QD_SKIP_WINDOWS=1 to leave out the
# Windows tiers, QD_FUZZ_SECONDS to change the fuzzing time (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/ensure-packages.sh" cmake g++ make libgtest-dev libbenchmark-dev clang \
  python3 python3-dbf python3-dbfread
fuzz_seconds=${QD_FUZZ_SECONDS:-60}
failed=0

step() { echo; echo "=== $* ==="; }

step "Optimised build and tests"
cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQD_BUILD_BENCH=ON >/dev/null
cmake --build "$root/build-release" -j"$jobs"
(cd "$root/build-release" && ctest --output-on-failure -j"$jobs") || failed=1

step "AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQD_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS="-O1" >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs") || failed=1

if [ -f "$root/fuzz/CMakeLists.txt" ]; then
  step "Fuzz targets (${fuzz_seconds} s each)"
  cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=Debug -DQD_BUILD_FUZZ=ON -DQD_BUILD_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-O1" >/dev/null
  cmake --build "$root/build-fuzz" -j"$jobs"
  for fuzzer in "$root"/build-fuzz/fuzz/*_fuzzer; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="$root/build-fuzz/corpus-$name"
    mkdir -p "$corpus"
    # Committed seeds (read-only) live in fuzz/corpus/<name without qd_ and _fuzzer>.
    seeds="$root/fuzz/corpus/${name#qd_}"; seeds="${seeds%_fuzzer}"
    [ -d "$seeds" ] || seeds=""
    echo "--- $name"
    if ! (cd "$root/build-fuzz" && "$fuzzer" -max_total_time="$fuzz_seconds" -max_len=4096 \
          -print_final_stats=1 "$corpus" $seeds > "$root/build-fuzz/$name.log" 2>&1); then
      failed=1
    fi
    tail -n 12 "$root/build-fuzz/$name.log"
  done
fi

if [ "${QD_SKIP_WINDOWS:-0}" != "1" ] && [ -x "$root/scripts/run-windows-tests.sh" ]; then
  step "Windows tiers"
  "$root/scripts/run-windows-tests.sh" || failed=1
fi

echo
if [ "$failed" -ne 0 ]; then
  echo "Some test steps FAILED (see above)."
  exit 1
fi
echo "All test steps passed."
