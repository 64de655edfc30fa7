#!/bin/bash
# The Windows tiers of the test suite, built from the same sources with the
# mingw-w64 cross compilers:
#   wine64  the whole test suite built for x86_64 Windows and run by ctest
#           under wine64 (every Win32 path, locks across handles and processes)
#   dll     the shipped 32-bit main_dll.dll and the host runner built for i686;
#           the DLL must export exactly DllMainCall and need no compiler DLLs
#   vm      a 32-bit run under wine32 inside an emulated VM (these machines
#           cannot execute 32-bit code natively): the platform, foundation
#           and table test programs, and the host runner calling DllMainCall
#           on a sample movie table
# Usage: scripts/run-windows-tests.sh [wine64] [dll] [vm]   (default: all three)
# Installs its packages when missing. Build trees: build-win64, build-win32,
# build-vm (wine prefix, kernel and initrd live there too). Prints
# "N passed, N failed" and exits non-zero when anything failed.
# Environment: QD_JOBS (parallel build jobs, default 2), QD_VM_TESTS (the
# 32-bit test programs to run in the VM, default below), QD_VM_FILTER (the
# GoogleTest filter for them; the default subset is named below).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QD_JOBS:-2}
tiers=("$@")
[ ${#tiers[@]} -gt 0 ] || tiers=(wine64 dll vm)
vm_tests=${QD_VM_TESTS:-"qd_platform_tests qd_foundation_tests qd_table_tests"}
# The VM emulates every instruction and starts each Wine process slowly, so
# by default it leaves out the tests that check every calendar day and the
# longer multi-process runs, and the default host's message box (without a
# display Wine gives up on it only after a wait; DllMainCall shows one
# anyway); all of them run in the wine64 tier. One cross-process lock test,
# the end-of-file test between two programs and the platform layer's
# process tests still run here. QD_VM_FILTER='*' runs all.
vm_filter=${QD_VM_FILTER-"-DatesRangeTest.EveryDay*\
:HostTest.InstalledHostReceivesBoxesUntilRemoved\
:LockingProcessTest.RecordOneLocksExactlyItsRegion\
:LockingProcessTest.AppendsFromFourProcessesUnderTheTableLock\
:LockingProcessTest.ReplacesOfDisjointRecordsNeverMix\
:SearchTest.LongScansCrossReadBlocksAndSeeOtherProgramsRecords\
:SharedTableTest.AppendsOfAnotherProgramAppearWhileNavigating\
:SharedTableTest.TablesLeftOpenAreClosedAtProcessEnd"}
win64="$root/build-win64"
win32="$root/build-win32"
vmdir="$root/build-vm"

passed=0
failed=0
declare -a failures=()
declare -a timings=()

say() { echo "== $*"; }
pass() { passed=$((passed + ${2:-1})); }
fail() { failed=$((failed + ${2:-1})); failures+=("$1"); echo "FAILED: $1" >&2; }
now() { date +%s; }
timed() { timings+=("$1: $(( $(now) - $2 )) s"); }

# ------------------------------------------------------------ packages ----
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
  command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
  command -v cmake >/dev/null || missing+=(cmake)
  [ -d /usr/src/googletest ] || missing+=(googletest)
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  command -v wine >/dev/null || missing+=(wine)
  dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)
  command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
  dpkg -s busybox-static >/dev/null 2>&1 || missing+=(busybox-static)
  command -v cpio >/dev/null || missing+=(cpio)
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  local began
  began=$(now)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q >/dev/null
  # wine32's glib reports "Exec format error" while compiling its schemas on
  # machines without 32-bit support; that is harmless.
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" >/dev/null || { fail "package install"; return 1; }
  timed "package install" "$began"
}

# ----------------------------------------------------------------- wine ----
wine64_env() {
  export WINEPREFIX="$win64/wineprefix" WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64 WINEDEBUG=-all
  unset DISPLAY WAYLAND_DISPLAY
}

start_wine64() {
  wine64_env
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p  # keep one server for every run: a cold start costs seconds
  # Start the prefix's background processes (services, devices, desktop)
  # now, with no terminal or pipe attached: started by a test instead, they
  # would inherit its output pipe and ctest would wait for them to end.
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    /usr/lib/wine/wine64 wineboot --init < /dev/null > /dev/null 2>&1
  else
    /usr/lib/wine/wine64 wineboot < /dev/null > /dev/null 2>&1
  fi
}

stop_wine64() {
  if [ -n "${WINEPREFIX:-}" ] && [ -x "${WINESERVER:-}" ]; then "$WINESERVER" -k 2>/dev/null; fi
  return 0
}
trap stop_wine64 EXIT

# --------------------------------------------------------------- builds ----
configure() {  # <build dir> <toolchain> [extra cmake args]
  local dir=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release "$@" > "$dir/configure.log" 2>&1 ||
    { tail -n 30 "$dir/configure.log"; return 1; }
}

has_target() {  # <build dir> <target>
  local targets
  targets=$(cmake --build "$1" --target help 2>/dev/null)
  grep -qE "^\.\.\. $2( |$)" <<< "$targets"
}

# ---------------------------------------------------------- tier wine64 ----
tier_wine64() {
  say "tier wine64: x86_64 build, ctest under wine64"
  local began
  began=$(now)
  start_wine64
  mkdir -p "$win64"
  # Tests are listed when ctest runs, so that a Wine hiccup during the build
  # cannot delete a freshly linked test program.
  configure "$win64" mingw-x86_64.cmake -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST ||
    { fail "wine64: configure"; return; }
  # Keep going past a target that does not build: ctest then reports the
  # tests of the programs that are missing.
  if ! cmake --build "$win64" -j "$jobs" -- -k > "$win64/build.log" 2>&1; then
    grep -E "error:|Error [0-9]" "$win64/build.log" | head -n 30
    fail "wine64: build"
  fi
  timed "wine64 build" "$began"
  began=$(now)
  local log="$win64/ctest.log"
  (cd "$win64" && ctest --output-on-failure -j "$jobs") > "$log" 2>&1
  local status=$?
  timed "wine64 ctest" "$began"
  local summary
  summary=$(grep -E "tests passed, [0-9]+ tests failed out of" "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    tail -n 30 "$log"
    if [ $status -ne 0 ]; then fail "wine64: ctest"; else say "wine64: no tests found"; fi
    return
  fi
  echo "$summary"
  local total bad
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<< "$summary")
  bad=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<< "$summary")
  pass "wine64" $((total - bad))
  if [ "$bad" -gt 0 ]; then
    sed -n '/The following tests FAILED/,$p' "$log" | head -n 40
    fail "wine64: $bad ctest tests" "$bad"
  fi
}

# ------------------------------------------------------------- tier dll ----
win32_built=0

build_win32() {
  [ $win32_built -eq 1 ] && return 0
  mkdir -p "$win32"
  # 32-bit programs cannot run here, so tests are listed when ctest runs
  # rather than at build time.
  configure "$win32" mingw-i686.cmake -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST || { fail "i686: configure"; return 1; }
  local target built=0
  # One target at a time, so that a program that does not build does not
  # keep the others from being tested.
  for target in main_dll host_runner make_movie_table $vm_tests; do
    has_target "$win32" "$target" || continue
    if cmake --build "$win32" -j "$jobs" --target "$target" > "$win32/build-$target.log" 2>&1; then
      built=$((built + 1))
    else
      grep -E "error|Error" "$win32/build-$target.log" | head -n 20
      fail "i686: build of $target"
    fi
  done
  [ $built -gt 0 ] || say "i686: nothing built"
  win32_built=1
}

# The export table of a PE file: one name per line.
exports_of() {
  i686-w64-mingw32-objdump -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
         on && /^[[:space:]]*\[ *[0-9]+\]/ {print $NF; next}
         on {on = 0}'
}

tier_dll() {
  say "tier dll: i686 main_dll.dll and host runner"
  local began
  began=$(now)
  build_win32 || return
  timed "i686 build" "$began"
  local dll="$win32/src/library/main_dll.dll"
  if [ ! -f "$dll" ]; then
    say "i686: main_dll.dll was not built (library entry not present yet): export check skipped"
  elif ! grep -rqs "DllMainCall" "$root/src/library"; then
    say "i686: DllMainCall not written yet: export check skipped"
  else
    local names
    names=$(exports_of "$dll" | tr '\n' ' ')
    echo "imports of main_dll.dll: $(i686-w64-mingw32-objdump -p "$dll" |
      awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"
    if [ "$names" = "DllMainCall " ]; then
      echo "exports of main_dll.dll: DllMainCall"
      pass "export"
    else
      fail "main_dll.dll exports '${names}' instead of exactly DllMainCall"
    fi
  fi
  # Every 32-bit program and the DLL must stand alone: no compiler runtime
  # DLLs (libgcc_s, libstdc++, libwinpthread).
  local file bad=0 checked=0
  while IFS= read -r file; do
    checked=$((checked + 1))
    if i686-w64-mingw32-objdump -p "$file" | grep -q "DLL Name: lib"; then
      fail "$(basename "$file") imports a runtime DLL: $(i686-w64-mingw32-objdump -p "$file" |
             grep "DLL Name: lib" | tr -s ' ' | tr '\n' ' ')"
      bad=1
    fi
  done < <(find "$win32" \( -name '*.exe' -o -name '*.dll' \) -not -path '*/CMakeFiles/*')
  if [ $checked -gt 0 ] && [ $bad -eq 0 ]; then
    echo "static runtime: $checked programs import no compiler DLLs"
    pass "static"
  fi
  if ! has_target "$win32" host_runner; then
    say "i686: no host_runner target yet: host runner skipped"
  fi
}

# -------------------------------------------------------------- tier vm ----
tier_vm() {
  say "tier vm: 32-bit run under wine32 in an emulated VM"
  local began
  began=$(now)
  build_win32 || return
  local share="$vmdir/share"
  rm -rf "$share"
  mkdir -p "$share/tree" "$share/logs"
  # The build tree's programs, at their relative places.
  (cd "$win32" && find . \( -name '*.exe' -o -name '*.dll' \) -not -path '*/CMakeFiles/*' \
     -print0 | cpio -0 -pdm --quiet "$share/tree")
  : > "$share/plan"
  echo "BUILD_DIR=$win32" > "$share/plan.env"
  local filter=() test exe
  [ -n "$vm_filter" ] && filter=("--gtest_filter=${vm_filter//[[:space:]]/}")
  for test in $vm_tests; do
    exe=$(cd "$win32" && find . -name "$test.exe" -not -path '*/CMakeFiles/*' | head -n 1)
    if [ -z "$exe" ]; then say "vm: $test not built yet: skipped"; continue; fi
    echo "$test $(dirname "$exe") 600 $test.exe ${filter[*]}" >> "$share/plan"
  done
  local runner table_maker dll
  runner=$(cd "$win32" && find . -name host_runner.exe -not -path '*/CMakeFiles/*' | head -n 1)
  table_maker=$(cd "$win32" && find . -name make_movie_table.exe -not -path '*/CMakeFiles/*' | head -n 1)
  dll=$(cd "$win32" && find . -name main_dll.dll -not -path '*/CMakeFiles/*' | head -n 1)
  if [ -n "$runner" ] && [ -n "$table_maker" ] && [ -n "$dll" ]; then
    # A directory with the DLL, the runner and a freshly made movie table.
    mkdir -p "$share/tree/dllmaincall"
    cp "$share/tree/$runner" "$share/tree/$dll" "$share/tree/$table_maker" "$share/tree/dllmaincall/"
    echo "make_movie_table dllmaincall 120 make_movie_table.exe" >> "$share/plan"
    echo "dllmaincall dllmaincall 120 host_runner.exe main_dll.dll" >> "$share/plan"
  else
    say "vm: host_runner, make_movie_table or main_dll not built yet: DllMainCall run skipped"
  fi
  if [ ! -s "$share/plan" ]; then say "vm: nothing to run yet"; return; fi
  cp "$root/scripts/vm/guest.sh" "$share/guest.sh"
  "$root/scripts/win32-vm-test.sh" "$vmdir" "$share" > "$vmdir/console.log" 2>&1
  local status=$?
  timed "vm run" "$began"
  [ -f "$share/guest.log" ] && grep -v '^RESULT ' "$share/guest.log"
  if [ $status -ne 0 ]; then tail -n 20 "$vmdir/console.log"; fail "vm: the VM run"; return; fi
  local label rc seconds log ok bad
  while read -r _ label rc seconds; do
    log="$share/logs/$label.log"
    case "$label" in
      qd_*_tests)
        ok=$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
        bad=$(grep -E '^\[  FAILED  \] [A-Za-z_0-9/]+\.[A-Za-z_0-9/]+' "$log" |
              awk '{print $4}' | sort -u | wc -l)
        ok=${ok:-0}
        echo "vm: $label: $ok passed, $bad failed, exit $rc, $seconds s"
        pass "$label" "$ok"
        if [ "$bad" -gt 0 ]; then
          grep -E '^\[  FAILED  \] [A-Za-z]' "$log" | awk '{print "    " $4}' | sort -u | head -n 20
          fail "vm: $label" "$bad"
        elif [ "$rc" -ne 0 ]; then
          tail -n 20 "$log"
          fail "vm: $label exited with $rc"
        fi
        ;;
      dllmaincall)
        # The message box (written to standard error, as the VM has no
        # desktop) must show the first field of the first movie; an engine
        # error would show the stop box and end the process with its code.
        echo "vm: DllMainCall: exit $rc, $seconds s"
        sed 's/^/    /' "$log" | head -n 10
        if [ "$rc" -eq 0 ] && [ -s "$log" ] && ! grep -q "Program halted." "$log"; then
          pass "$label"
        else
          fail "vm: DllMainCall on the movie table (exit $rc)"
        fi
        ;;
      *)
        echo "vm: $label: exit $rc, $seconds s"
        sed 's/^/    /' "$log" | head -n 10
        if [ "$rc" -eq 0 ]; then pass "$label"; else fail "vm: $label exited with $rc"; fi
        ;;
    esac
  done < <(grep '^RESULT ' "$share/guest.log")
  local planned ran
  planned=$(wc -l < "$share/plan")
  ran=$(grep -c '^RESULT ' "$share/guest.log")
  [ "$planned" -eq "$ran" ] || fail "vm: $((planned - ran)) planned programs did not run"
}

# ---------------------------------------------------------------- main ----
install_packages || { echo "0 passed, 1 failed"; exit 1; }
for tier in "${tiers[@]}"; do
  case "$tier" in
    wine64) tier_wine64 ;;
    dll) tier_dll ;;
    vm) tier_vm ;;
    *) echo "unknown tier: $tier (wine64, dll, vm)" >&2; exit 2 ;;
  esac
done
[ ${#timings[@]} -gt 0 ] && printf 'time %s\n' "${timings[@]}"
[ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
echo "Windows tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
