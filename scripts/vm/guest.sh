#!/bin/bash
# Runs inside the test VM, chrooted into the host's read-only root with tmpfs
# on /tmp and /root: starts a 32-bit Wine prefix and runs the programs listed
# in /tmp/share/plan under wine32, one per line:
#   <label> <directory relative to the build tree> <time limit in s> <program> [args...]
# The build tree's programs (share/tree) are copied onto a tmpfs mounted over
# the build directory (plan.env names it), so compiled-in paths stay valid
# and programs run from memory: a large program started straight from 9p
# reads zeros. Each program's output goes to share/logs/<label>.log and its
# outcome to a "RESULT <label> <exit code> <seconds>" line.
set -u
share=/tmp/share
# shellcheck source=/dev/null
. "$share/plan.env"
export WINEARCH=win32 WINEPREFIX=/root/prefix32 WINEDEBUG=-all HOME=/root LANG=C.UTF-8 LC_ALL=C.UTF-8
# No .NET or HTML engine and no desktop menu entries: the prefix starts
# faster without them.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY

# (A build directory under /tmp or /root lies in the guest's own tmpfs.)
mkdir -p "$BUILD_DIR"
mount -t tmpfs tmpfs "$BUILD_DIR" || { echo "guest: cannot mount $BUILD_DIR"; exit 1; }
cp -a "$share/tree/." "$BUILD_DIR/"
mkdir -p "$share/logs"

start=$(date +%s)
wine wineboot --init > "$share/logs/wineboot.log" 2>&1
wineserver -p
echo "guest: wine prefix ready in $(( $(date +%s) - start )) s"

while read -r -a words; do
  [ "${#words[@]}" -ge 4 ] || continue
  label=${words[0]} dir=${words[1]} limit=${words[2]}
  began=$(date +%s)
  (cd "$BUILD_DIR/$dir" && timeout "$limit" wine "${words[@]:3}") \
    > "$share/logs/$label.log" 2>&1 < /dev/null
  rc=$?
  echo "RESULT $label $rc $(( $(date +%s) - began ))"
done < "$share/plan"

wineserver -k
echo "guest: finished in $(( $(date +%s) - start )) s"
