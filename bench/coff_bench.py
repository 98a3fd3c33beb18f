#!/usr/bin/env python3
"""Times raduza-coff against its peers on the same resource files: llvm-cvtres
(whose objects GNU ld does not merge), windres (-J res -O coff) and, as the
copy's yardstick, `cat` of the file to a file. A program that prints figures:
nothing in it fails on timing; it exits non-zero only when a tool fails.

    python3 bench/coff_bench.py                     # every corpus, 5 rounds
    python3 bench/coff_bench.py --corpora e100k --rounds 9
    python3 bench/coff_bench.py --tool build/rel/raduza-coff

The corpora, generated under build/bench-data/coff: 100,000 and 20,000 entries
of 16 to 80 bytes (RT_RADUZA, half the names in a second language, as a
resource directory holds at most 65,535 names of a type), and one entry of
1 GiB. Each tool runs once untimed, then once a round, the tools taking turns
in an order that rotates, each writing a new file; each tool's median wall time is shown with its lowest
and highest, with its peak resident memory, and raduza-coff's time as a ratio to
each peer's in the same round (median, lowest, highest). windres runs on the
20,000-entry corpus only unless --windres-everywhere is given: it takes minutes
at 100,000 entries.
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1024 * 1024


def entry(name, language, data):
    fields = b"".join(struct.pack("<H", ord(c)) for c in "RT_RADUZA") + b"\0\0"
    fields += b"".join(struct.pack("<H", ord(c)) for c in name) + b"\0\0"
    fields += b"\0" * ((4 - (8 + len(fields)) % 4) % 4)
    header = struct.pack("<II", len(data), 8 + len(fields) + 16) + fields + struct.pack("<IHHII", 0, 0x30, language, 0, 0)
    return header + data + b"\0" * ((4 - len(data) % 4) % 4)


LEADING_ENTRY = struct.pack("<II", 0, 32) + b"\xff\xff\0\0\xff\xff\0\0" + b"\0" * 16


def generate_entries(path, count):
    with open(path, "wb") as out:
        out.write(LEADING_ENTRY)
        half = count // 2
        for language in (0x0409, 0x0407):
            for i in range(half):
                out.write(entry("ASSETS/D%03d/F%05d.TXT" % (i // 100, i), language, bytes([i % 251]) * (16 + i % 65)))


def generate_big(path):
    size = 1024 * MIB
    block = os.urandom(MIB)
    with open(path, "wb") as out:
        out.write(LEADING_ENTRY)
        out.write(struct.pack("<I", size) + entry("BIG.BIN", 0x0409, b"")[4:])
        for _ in range(size // MIB):
            out.write(block)


CORPORA = {
    "e100k": ("100,000 entries of 16-80 bytes", lambda p: generate_entries(p, 100000)),
    "e20k": ("20,000 entries of 16-80 bytes", lambda p: generate_entries(p, 20000)),
    "big": ("one entry of 1 GiB", generate_big),
}


def run(command, output, stdout=subprocess.DEVNULL):
    """Wall time and peak resident memory (through /usr/bin/time) of one run, its
    output removed first, so that each run writes a new file."""
    if os.path.exists(output):
        os.remove(output)
    measured = output + ".time"
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", measured] + command, stdout=stdout,
                            stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("%s failed: %s" % (" ".join(command), result.stderr.decode(errors="replace")))
    with open(measured) as kib:
        return elapsed, int(kib.read().split()[-1]) / 1024.0


def build_tool():
    build = os.path.join(ROOT, "build", "bench-coff")
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DRADUZA_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "raduza-coff", "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "raduza-coff")


def summary(values):
    return "%.2f (%.2f-%.2f)" % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpora", default="e100k,e20k,big")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--tool", help="a raduza-coff to time instead of a fresh Release build")
    parser.add_argument("--windres", default="i686-w64-mingw32-windres")
    parser.add_argument("--windres-everywhere", action="store_true")
    args = parser.parse_args()
    tool = args.tool or build_tool()
    data = os.path.join(ROOT, "build", "bench-data", "coff")
    os.makedirs(data, exist_ok=True)
    out = os.path.join(data, "out")
    print("| corpus | tool | seconds, median (min-max) | peak MiB | raduza-coff / tool |")
    print("|---|---|---|---|---|")
    for key in args.corpora.split(","):
        title, generate = CORPORA[key]
        res = os.path.join(data, key + ".res")
        if not os.path.exists(res):
            generate(res + ".part")
            os.rename(res + ".part", res)
        tools = {
            "raduza-coff": lambda: run([tool, "-m", "i386", "-o", out + ".o", res], out + ".o"),
            "llvm-cvtres": lambda: run(["llvm-cvtres", "-machine:x86", "-out:" + out + ".obj", res], out + ".obj"),
            "cat": lambda: run_cat(res, out + ".cat"),
        }
        if key == "e20k" or args.windres_everywhere:
            tools["windres"] = lambda: run([args.windres, "-J", "res", "-O", "coff", "-i", res, "-o", out + "-w.o"],
                                           out + "-w.o")
        names = list(tools)
        for name in names:
            tools[name]()  # untimed: the caches warm
        times = {name: [] for name in names}
        memory = {name: 0.0 for name in names}
        for round_ in range(args.rounds):
            for name in names[round_ % len(names):] + names[:round_ % len(names)]:
                elapsed, peak = tools[name]()
                times[name].append(elapsed)
                memory[name] = max(memory[name], peak)
        for name in names:
            ratios = [a / b for a, b in zip(times["raduza-coff"], times[name])]
            ratio = "" if name == "raduza-coff" else summary(ratios)
            print("| %s | %s | %s | %.1f | %s |" % (title, name, summary(times[name]), memory[name], ratio))
        sys.stdout.flush()


def run_cat(source, target):
    if os.path.exists(target):
        os.remove(target)
    with open(target, "wb") as sink:
        return run(["cat", source], target + ".unused", stdout=sink)


if __name__ == "__main__":
    main()
