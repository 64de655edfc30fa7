#!/usr/bin/python3
"""The installed package: cmake --install of the build tree into a fresh
prefix, the files a user expects there, a program outside the tree built
against it with find_package and one target_link_libraries line and run, and
the installed qdbf reading the table that program wrote.

Usage: package_test.py <cmake> <build directory> <consumer source> <work directory>
"""
import os
import shutil
import subprocess
import sys

CMAKE, BUILD, CONSUMER, WORK = sys.argv[1:5]
if os.path.isdir(WORK):
    shutil.rmtree(WORK)
os.makedirs(WORK)
prefix = os.path.join(WORK, "prefix")


def step(*args, **kwargs):
    result = subprocess.run(list(args), capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        print("FAILED:", " ".join(args), result.stdout[-3000:], result.stderr[-3000:], sep="\n")
        sys.exit(1)
    return result.stdout


step(CMAKE, "--install", BUILD, "--prefix", prefix)
for name in ("bin/qdbf", "lib/libmain_dll.so", "lib/qdbase/libqd_table.a",
             "include/qdbase/dataset/file_dataset.h", "include/qdbase/table/work_areas.h",
             "include/qdbase/platform/progress_bar.h", "lib/cmake/qdbase/qdbaseConfig.cmake",
             "lib/cmake/qdbase/qdbaseTargets.cmake"):
    if not os.path.exists(os.path.join(prefix, name)):
        print("missing from the installed tree:", name)
        sys.exit(1)
build = os.path.join(WORK, "consumer-build")
step(CMAKE, "-S", CONSUMER, "-B", build, "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_BUILD_TYPE=Release")
step(CMAKE, "--build", build, "-j2")
table = os.path.join(WORK, "made.dbf")
out = step(os.path.join(build, "consumer"), table)
if out.splitlines() != ["1 ALPHA  20", "2 BETA  40"]:
    print("consumer printed", repr(out))
    sys.exit(1)
dump = step(os.path.join(prefix, "bin", "qdbf"), "dump", table, "--csv")
if dump.replace("\r\n", "\n") != "NAME,QTY\nalpha,10\nbeta,20\n":
    print("installed qdbf printed", repr(dump))
    sys.exit(1)
print("installed package works")
