#!/bin/sh
# The long soak: 8 worker processes, 10 minutes per run, each fault in its
# own run (kills, lock contention, a full disk). Figures go to standard
# output; each run ends with PASS or FAIL and exits 1 on a fault.
#
#   tests/soak/run_long_soak.sh [qd_soak program] [work directory]
#
# Build first: cmake --build build --target qd_soak. The full-disk run
# mounts a tmpfs (root only); without the privilege it reports "skipped".
set -u
SOAK=${1:-build/tests/soak/qd_soak}
DIR=${2:-/tmp/qd-soak-long}
status=0
"$SOAK" --dir "$DIR/kill" --workers 8 --seconds 600 --kills 5 --seed 2024 || status=1
"$SOAK" --dir "$DIR/contention" --workers 8 --seconds 600 --contention --seed 2025 || status=1
"$SOAK" --dir "$DIR/full-disk" --workers 8 --seconds 600 --full-disk 8192 --seed 2026
code=$?
[ $code -eq 0 ] || [ $code -eq 77 ] || status=1
exit $status
