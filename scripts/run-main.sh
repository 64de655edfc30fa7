#!/usr/bin/env bash
# Builds the library main_dll and runs its exported DllMainCall the way a host
# program does: a small runner loads the library at run time and calls it in a
# folder holding the sample "movie" table, made by the engine itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/ensure-packages.sh" cmake g++ make
build="$root/build-main"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target main_dll host_runner make_movie_table
run="$build/run"
mkdir -p "$run"
rm -f "$run"/movie.* "$run"/MOVIE.*
(cd "$run" && "$build/tools/make_movie_table/make_movie_table" movie)
cd "$run"
exec "$build/tools/host_runner/host_runner" "$build/src/library/libmain_dll.so"
