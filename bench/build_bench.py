#!/usr/bin/env python3
"""Times a user's build around raduza_add_resources: a program that links the
bundle of a generated tree of small files (100 per directory), configured and
built with Ninja and with Makefiles, from the installed package.

For each generator and tree size it times, over several rounds: configuring a
fresh build directory (most of it CMake's look at the compiler), and the same
build directory again (what a change to CMakeLists.txt costs); a build with
nothing changed; and a build after adding,
after changing and after removing one file (each relinks the program). Beside
them, the tool's own full run on the tree (`raduza -q -r -f out.res assets`,
no record), the yardstick of a one-file rebuild, and each one-file rebuild less
that round's yardstick. Printed: the median of the rounds with the lowest and
highest. This program prints figures: nothing in it
fails on timing.

    python3 bench/build_bench.py                            # 10,000 and 100,000 files, 3 rounds
    python3 bench/build_bench.py --sizes 10000 --rounds 5 --generators Ninja
    python3 bench/build_bench.py --cross --sizes 20000,60000 --generators Ninja   # for Windows (i686)

With --cross the program is built for 32-bit Windows with the package's
mingw-i686.cmake (raduza-coff converting the bundle) and run under Wine to check
it. A Windows program holds at most 65,535 names of a resource type, so its
trees stop below that.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILES_PER_DIRECTORY = 100

PROJECT = """cmake_minimum_required(VERSION 3.16)
project(game CXX)
find_package(raduza 1 REQUIRED)
add_executable(game main.cpp)
if(MINGW)
  target_link_options(game PRIVATE -static)
endif()
raduza_add_resources(game assets)
"""

MAIN = """#include <cstdio>
#include <raduza/bundle.h>
int main() {
    const raduza::Bundle& bundle = raduza::Bundle::ofProgram();
    std::size_t count = 0;
    for (const raduza::BundleFile& file : bundle) count += file.bytes.size() > 0;
    std::printf("%zu\\n", count);
    return bundle.ok() ? 0 : 1;
}
"""


def install_raduza(build_dir, prefix):
    print("building and installing raduza (Release) in %s ..." % build_dir, flush=True)
    quiet = {"check": True, "stdout": subprocess.DEVNULL}
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DRADUZA_TESTS=OFF"], **quiet)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 2)], **quiet)
    subprocess.run(["cmake", "--install", build_dir, "--prefix", prefix], **quiet)
    return os.path.join(prefix, "bin", "raduza")


def generate_tree(base, count):
    """`count` files of 16 to 80 bytes in count/100 directories, made once."""
    assets = os.path.join(base, "assets")
    marker = os.path.join(base, "complete")
    if os.path.exists(marker):
        return
    shutil.rmtree(base, ignore_errors=True)
    for i in range(count):
        directory = os.path.join(assets, "d%04d" % (i // FILES_PER_DIRECTORY))
        if i % FILES_PER_DIRECTORY == 0:
            os.makedirs(directory)
        with open(os.path.join(directory, "f%06d.dat" % i), "w") as f:
            f.write(("%d " % i) * (4 + i % 16))
    with open(os.path.join(base, "main.cpp"), "w") as f:
        f.write(MAIN)
    with open(os.path.join(base, "CMakeLists.txt"), "w") as f:
        f.write(PROJECT)
    open(marker, "w").close()


def timed(command, cwd=None):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def build_command(generator, build_dir):
    return ["ninja", "-C", build_dir] if generator == "Ninja" else ["make", "-s", "-C", build_dir]


def one_round(source, build_dir, generator, package, tool, count, cross):
    """The times of one round, by step."""
    shutil.rmtree(build_dir, ignore_errors=True)
    times = {}
    toolchain = ["-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(package, "mingw-i686.cmake")] if cross else []
    times["configure"] = timed(["cmake", "-S", source, "-B", build_dir, "-G", generator,
                                "-DCMAKE_BUILD_TYPE=Release", "-Draduza_DIR=" + package] + toolchain)
    times["configure again"] = timed(["cmake", "-S", source, "-B", build_dir])
    build = build_command(generator, build_dir)
    times["first build"] = timed(build)
    timed(build)  # settles files written within the clock's last tick before the first build
    times["no-op build"] = timed(build)
    directory = os.path.join(source, "assets", "d%04d" % (count // FILES_PER_DIRECTORY // 2))
    added = os.path.join(directory, "added.dat")
    with open(added, "w") as f:
        f.write("added")
    times["add one file"] = timed(build)
    with open(added, "w") as f:
        f.write("changed")
    times["change one file"] = timed(build)
    os.remove(added)
    times["remove one file"] = timed(build)
    out = os.path.join(build_dir, "full-run.res")
    times["the tool's full run"] = timed([tool, "-q", "-r", "-f", out, "assets"], cwd=source)
    os.remove(out)
    game = [os.path.join(build_dir, "game")]
    if cross:
        os.environ.setdefault("RADUZA_WINEPREFIX", os.path.join(ROOT, "build", "wine-prefix"))
        game = [os.path.join(ROOT, "cmake", "wine-run.sh"), "32", game[0] + ".exe"]
    printed = subprocess.run(game, check=True, capture_output=True, text=True).stdout.strip()
    if printed != str(count):
        sys.exit("the program holds %s files, not %d" % (printed, count))
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="10000,100000", help="tree sizes, comma-separated")
    parser.add_argument("--generators", default="Ninja,Unix Makefiles", help="CMake generators, comma-separated")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cross", action="store_true", help="build for 32-bit Windows (mingw-w64), check under Wine")
    parser.add_argument("--data", default=os.path.join(ROOT, "build", "build-bench-data"),
                        help="where the trees and builds go (default build/build-bench-data)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"),
                        help="where raduza is built and installed from (default build/bench)")
    args = parser.parse_args()

    data = os.path.abspath(args.data)
    prefix = os.path.join(data, "prefix")
    tool = install_raduza(os.path.abspath(args.build_dir), prefix)
    package = os.path.join(prefix, "lib", "cmake", "raduza")
    steps = ["configure", "configure again", "first build", "no-op build", "add one file", "change one file", "remove one file",
             "the tool's full run"]
    print("median (min-max) of %d rounds, seconds" % args.rounds)
    for size in [int(s) for s in args.sizes.split(",") if s]:
        source = os.path.join(data, "tree-%d" % size)
        generate_tree(source, size)
        for generator in [g for g in args.generators.split(",") if g]:
            build_dir = os.path.join(data, "build-%d-%s" % (size, generator.replace(" ", "")))
            if args.cross:
                build_dir += "-i686"
            rounds = [one_round(source, build_dir, generator, package, tool, size, args.cross)
                      for _ in range(args.rounds)]
            print("\n%s files, %s%s" % (format(size, ","), generator, ", i686 cross build" if args.cross else ""),
                  flush=True)
            for step in steps:
                values = [r[step] for r in rounds]
                print("  %-22s %.2f (%.2f-%.2f)" % (step, statistics.median(values), min(values), max(values)),
                      flush=True)
            # Against the yardstick of the same round: the aim is at most 0.5 s over it.
            for step in ["add one file", "change one file", "remove one file"]:
                values = [r[step] - r["the tool's full run"] for r in rounds]
                print("  %-22s %+.2f (%+.2f-%+.2f) over the full run" % (step, statistics.median(values), min(values),
                                                                         max(values)), flush=True)


if __name__ == "__main__":
    main()
