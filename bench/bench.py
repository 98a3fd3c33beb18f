#!/usr/bin/env python3
"""Times raduza against `cat` of the same files and against llvm-rc (and, on
request, windres) given the equivalent resource script.

The corpora are generated deterministically under a scratch directory. Each
tool runs once untimed, to warm the caches, then several times, the tools
taking turns; the table shows the median wall time, the peak resident memory
and raduza's ratio to each peer. raduza's output is compared byte for byte
with llvm-rc's. This program prints figures:
nothing in it fails on timing. It exits non-zero only when a tool fails or the
outputs differ.

    python3 bench/bench.py                       # every corpus, 5 runs each
    python3 bench/bench.py --corpora tiny1k,files --runs 3
    python3 bench/bench.py --tmpfs --corpora big # inputs and outputs in memory
    python3 bench/bench.py --corpora tiny1k,tiny1m --runs 3   # the 1,000,000-file corpus

Beside the median of each tool, raduza's time is given as a ratio to each peer's
in the same round (the two ran one after the other), with the lowest and highest
of those ratios, and, when strace is installed, the system calls per stored file.
"""

import argparse
import re
import tempfile
import filecmp
import hashlib
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR_VERSION = "1"
MIB = 1024 * 1024


# ---------------------------------------------------------------- corpora

class Corpus:
    def __init__(self, key, title, generate):
        self.key = key
        self.title = title
        self.generate = generate


def random_block(seed, size):
    """Deterministic incompressible bytes: SHA-256 in counter mode."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:size])


def generate_big(path):
    os.makedirs(path)
    block = bytearray(random_block(b"big", MIB))
    with open(os.path.join(path, "data.bin"), "wb") as f:
        for i in range(1024):
            block[0:8] = i.to_bytes(8, "little")  # every MiB differs
            f.write(block)


def generate_files(path):
    pool = random_block(b"files", 64 * 1024 + 4096)
    for d in range(200):
        directory = os.path.join(path, "d%03d" % d)
        os.makedirs(directory)
        for f in range(100):
            n = d * 100 + f
            start = (n * 4099) % (64 * 1024)
            with open(os.path.join(directory, "f%03d.bin" % f), "wb") as out:
                out.write(pool[start:start + 4096])


def generate_many(path):
    # Each directory just large enough to be read ahead: what a start of the
    # read-ahead per directory costs shows here most.
    for d in range(1000):
        directory = os.path.join(path, "d%04d" % d)
        os.makedirs(directory)
        for f in range(40):
            with open(os.path.join(directory, "f%02d.txt" % f), "wb") as out:
                out.write(b"%d\n" % (d * 40 + f))


def generate_tiny(count):
    def generate(path):
        os.makedirs(path)
        for n in range(count):
            with open(os.path.join(path, "n%06d.txt" % n), "wb") as out:
                out.write(b"%d\n" % n)  # 2 to 7 bytes: every padding case
    return generate


CORPORA = [
    Corpus("big", "one 1 GiB file", generate_big),
    Corpus("files", "20,000 files of 4 KiB in 200 dirs", generate_files),
    Corpus("many", "40,000 tiny files in 1,000 dirs", generate_many),
    Corpus("tiny", "200,000 tiny files, sorted names, one dir", generate_tiny(200000)),
    Corpus("tiny1k", "1,000 tiny files, sorted names, one dir", generate_tiny(1000)),
    Corpus("tiny1m", "1,000,000 tiny files, sorted names, one dir", generate_tiny(1000000)),
]
# Built and measured only when named in --corpora: a million files take a while to make.
ON_REQUEST = {"tiny1m"}


def prepare(corpus, data_dir):
    """Generates the corpus once; a stamp records that it is complete."""
    path = os.path.join(data_dir, corpus.key)
    stamp = path + ".stamp"
    if os.path.exists(stamp) and open(stamp).read() == GENERATOR_VERSION:
        return
    shutil.rmtree(path, ignore_errors=True)
    print("generating %s in %s ..." % (corpus.title, path), flush=True)
    corpus.generate(path)
    with open(stamp, "w") as f:
        f.write(GENERATOR_VERSION)


# ---------------------------------------------------------------- raduza's order and names

def name_order_key(name):
    # Upper-cased ASCII letters compared byte by byte, ties broken by the plain bytes.
    raw = os.fsencode(name)
    return (raw.upper(), raw)


def walk_in_tool_order(base, directory):
    """The files below `directory` (relative to `base`) in the order `raduza -r`
    stores them: subdirectories first, each walked whole, then the directory's
    own files."""
    entries = sorted(os.listdir(os.path.join(base, directory)), key=name_order_key)
    is_dir = {e: os.path.isdir(os.path.join(base, directory, e)) for e in entries}
    for sub in [e for e in entries if is_dir[e]]:
        yield from walk_in_tool_order(base, directory + "/" + sub)
    for name in [e for e in entries if not is_dir[e]]:
        yield directory + "/" + name


def resource_name(path):
    return path.upper()


def write_inputs(corpus, data_dir):
    """The file list for cat and the resource script for the compilers."""
    files = list(walk_in_tool_order(data_dir, corpus.key))
    with open(os.path.join(data_dir, corpus.key + ".list"), "wb") as f:
        f.write(b"".join(os.fsencode(p) + b"\0" for p in files))
    with open(os.path.join(data_dir, corpus.key + ".rc"), "w") as f:
        f.write("LANGUAGE 0x09, 0x01\n")
        for p in files:
            f.write('%s RT_RADUZA "%s"\n' % (resource_name(p), p))
    return len(files)


# ---------------------------------------------------------------- tools

class Tool:
    def __init__(self, key, command, output, cap=None):
        self.key = key
        self.command = command  # function(corpus key) -> argv
        self.output = output    # the file the tool writes, relative to the data dir
        self.cap = cap          # seconds after which a run is stopped


class Result:
    def __init__(self):
        self.seconds = []
        self.peak_kib = []
        self.cpu_seconds = []
        self.capped = False


TIME_PROGRAM = "/usr/bin/time"  # GNU time: reports the peak RSS of the tool alone


def warm_inputs(corpus, data_dir):
    """Reads every input once more just before a timed run. Some machines give back
    page cache between runs (seen on a VM: thousands of a corpus's files read from disk again
    within a minute), and the run that meets a cold cache would be timed on the disk."""
    with open(os.devnull, "wb") as sink:
        subprocess.run(["xargs", "-0", "-a", corpus.key + ".list", "cat"], cwd=data_dir, stdout=sink, check=True)


def run_once(tool, corpus, data_dir):
    """Wall time, peak RSS in KiB and CPU seconds (user and system) of the tool
    and its children; the last two are None when GNU time is missing. None
    altogether when the run hit the tool's cap."""
    out_path = os.path.join(data_dir, tool.output)
    if os.path.exists(out_path):
        os.unlink(out_path)
    rss_path = os.path.join(data_dir, "peak-rss.txt")
    argv = tool.command(corpus.key)
    if os.access(TIME_PROGRAM, os.X_OK):
        argv = [TIME_PROGRAM, "-f", "%M %U %S", "-o", rss_path] + argv
    warm_inputs(corpus, data_dir)
    os.sync()  # no writeback of an earlier run's output competes with this one
    with open(out_path if tool.key == "cat" else os.devnull, "wb") as stdout, \
            open(os.path.join(data_dir, "stderr.txt"), "w+b") as stderr:
        start = time.perf_counter()
        process = subprocess.Popen(argv, cwd=data_dir, stdout=stdout, stderr=stderr, start_new_session=True)
        try:
            process.wait(timeout=tool.cap)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None
        seconds = time.perf_counter() - start
        if process.returncode != 0:
            stderr.seek(0)
            sys.exit("%s failed on %s (status %d): %s" %
                     (tool.key, corpus.key, process.returncode, stderr.read().decode(errors="replace")))
    peak = cpu = None
    if argv[0] == TIME_PROGRAM:
        with open(rss_path) as f:
            figures = f.read().split()[-3:]
        peak, cpu = int(figures[0]), float(figures[1]) + float(figures[2])
    return seconds, peak, cpu


def find_tool(name, fallbacks=()):
    for candidate in (name,) + tuple(fallbacks):
        found = shutil.which(candidate)
        if found:
            return found
    return None


def build_raduza(build_dir):
    print("building raduza (Release) in %s ..." % build_dir, flush=True)
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DRADUZA_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 2)], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "raduza")


def make_tools(args):
    raduza = os.path.abspath(args.raduza) if args.raduza else build_raduza(os.path.abspath(args.build_dir))
    tools = [Tool("raduza", lambda key: [raduza, "-q", "-f", "out-raduza.res", "-r", key], "out-raduza.res")]
    if not args.no_cat:
        tools.append(Tool("cat", lambda key: ["xargs", "-0", "-a", key + ".list", "cat"], "out-cat.bin"))
    if args.baseline:
        # Another build of raduza, timed in turn with this one: the ratio says what a change did.
        baseline = os.path.abspath(args.baseline)
        tools.append(Tool("baseline", lambda key: [baseline, "-q", "-f", "out-baseline.res", "-r", key],
                          "out-baseline.res"))
    llvm_rc = None if args.no_llvm_rc else find_tool("llvm-rc", ["llvm-rc-16", "llvm-rc-15", "llvm-rc-14"])
    if llvm_rc:
        tools.append(Tool("llvm-rc", lambda key: [llvm_rc, "-no-preprocess", "-fo", "out-llvm-rc.res", key + ".rc"],
                          "out-llvm-rc.res"))
    elif not args.no_llvm_rc:
        print("llvm-rc is not installed: it is left out", flush=True)
    windres = find_tool("x86_64-w64-mingw32-windres", ["windres"]) if args.windres else None
    if windres:
        tools.append(Tool("windres", lambda key: [windres, "--preprocessor=cat", "-J", "rc", "-O", "res",
                                                  "-i", key + ".rc", "-o", "out-windres.res"],
                          "out-windres.res", cap=args.windres_cap))
    return tools


# ---------------------------------------------------------------- the benchmark

def measure(corpus, tools, data_dir, runs):
    """One untimed round, which warms the caches and gives the outputs to compare,
    then `runs` timed ones."""
    results = {tool.key: Result() for tool in tools}
    for round_number in range(runs + 1):
        # The tools take turns; the order rotates so none always runs first.
        shift = round_number % len(tools)
        for tool in tools[shift:] + tools[:shift]:
            result = results[tool.key]
            if result.capped:
                continue
            figures = run_once(tool, corpus, data_dir)
            if figures is None:
                result.capped = True
                continue
            if round_number > 0:
                result.seconds.append(figures[0])
                result.peak_kib.append(figures[1])
                result.cpu_seconds.append(figures[2])
        if round_number == 0:
            check_identical(corpus, tools, data_dir)
        else:
            print("  round %d of %d done" % (round_number, runs), flush=True)
    for tool in tools:
        path = os.path.join(data_dir, tool.output)
        if os.path.exists(path):
            os.unlink(path)
    return results


def check_identical(corpus, tools, data_dir):
    mine = os.path.join(data_dir, "out-raduza.res")
    for peer in ("llvm-rc", "baseline"):
        if not any(tool.key == peer for tool in tools):
            continue
        theirs = os.path.join(data_dir, "out-%s.res" % peer)
        if not (os.path.exists(mine) and os.path.exists(theirs)):
            sys.exit("missing output to compare on %s" % corpus.key)
        if not filecmp.cmp(mine, theirs, shallow=False):
            sys.exit("raduza's output differs from %s's on %s" % (peer, corpus.key))
        print("  raduza's output is byte-identical to %s's" % peer, flush=True)


def median(values):
    return statistics.median(values) if values else None


def cell(result, cap):
    if result.capped and not result.seconds:
        return "over %d s" % cap
    peaks = [kib for kib in result.peak_kib if kib is not None]
    memory = "%.1f MiB" % (max(peaks) / 1024) if peaks else "peak n/a"
    return "%.2f s, %s" % (median(result.seconds), memory)


def ratio(mine, theirs):
    """The median of the per-round ratios, with their lowest and highest."""
    if not mine.seconds or len(mine.seconds) != len(theirs.seconds):
        return "-"
    ratios = sorted(a / b for a, b in zip(mine.seconds, theirs.seconds))
    return "%.2f (%.2f-%.2f)" % (median(ratios), ratios[0], ratios[-1])


def median_ratio(mine, theirs):
    if not mine.seconds or not theirs.seconds:
        return "-"
    return "%.2f" % (median(mine.seconds) / median(theirs.seconds))


STRACE_TOTAL = re.compile(rb"^100\.00\s+\S+\s+(?:\S+\s+)?(\d+)\s+(?:\d+\s+)?total", re.M)


def system_calls(tool, corpus, data_dir):
    """System calls of one untimed run of the tool and its children, counted by
    strace -c -f; None when strace is missing or its summary cannot be read."""
    strace = shutil.which("strace")
    if not strace:
        return None
    out_path = os.path.join(data_dir, tool.output)
    with tempfile.NamedTemporaryFile(dir=data_dir, suffix=".strace") as summary:
        with open(out_path if tool.key == "cat" else os.devnull, "wb") as stdout:
            subprocess.run([strace, "-c", "-f", "-o", summary.name] + tool.command(corpus.key), cwd=data_dir,
                           stdout=stdout, stderr=subprocess.DEVNULL, check=True)
        found = STRACE_TOTAL.search(open(summary.name, "rb").read())
    if os.path.exists(out_path):
        os.unlink(out_path)
    return int(found.group(1)) if found else None


def report(measured, tools, args):
    peers = [tool for tool in tools if tool.key != "raduza"]
    header = ["corpus", "raduza"] + [p.key for p in peers] + ["raduza / %s" % p.key for p in peers]
    counted = any(calls for _, _, calls in measured)
    if counted:
        header += ["system calls per file: " + ", ".join(t.key for t in tools if t.key in ("raduza", "cat"))]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for corpus, results, calls in measured:
        row = [corpus.title, cell(results["raduza"], 0)]
        row += [cell(results[p.key], p.cap or 0) for p in peers]
        row += [ratio(results["raduza"], results[p.key]) for p in peers]
        if counted:
            row.append(", ".join("-" if calls.get(k) is None else "%.1f" % calls[k] for k in ("raduza", "cat")
                                 if k in results))
        lines.append("| " + " | ".join(row) + " |")
    print()
    print("Median wall time and peak resident memory of %d runs each; ratios: median of the rounds' (lowest-highest)%s:"
          % (args.runs, ", in a tmpfs" if args.tmpfs else ""))
    print()
    print("\n".join(lines))
    if all(r.cpu_seconds and None not in r.cpu_seconds for _, results, _ in measured for r in results.values()):
        cpu_header = ["corpus"] + [tool.key for tool in tools]
        cpu_lines = ["| " + " | ".join(cpu_header) + " |", "|" + "---|" * len(cpu_header)]
        for corpus, results, _ in measured:
            cpu_lines.append("| " + " | ".join([corpus.title] + ["%.2f s" % median(results[t.key].cpu_seconds)
                                                                 for t in tools]) + " |")
        print()
        print("Median CPU time (user and system), which other load on the machine disturbs less:")
        print()
        print("\n".join(cpu_lines))
    by_key = {corpus.key: results for corpus, results, _ in measured}
    for many, count in (("tiny", "200,000"), ("tiny1m", "1,000,000")):
        if many in by_key and "tiny1k" in by_key:
            print()
            print("%s names cost %s times what 1,000 cost (raduza, medians)." %
                  (count, median_ratio(by_key[many]["raduza"], by_key["tiny1k"]["raduza"])))
    print()
    print("%d cores; load average %.2f %.2f %.2f at the end." % ((os.cpu_count() or 0,) + os.getloadavg()))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpora", default=",".join(c.key for c in CORPORA if c.key not in ON_REQUEST),
                        help="comma-separated subset of: " + ", ".join(c.key for c in CORPORA) +
                             " (default: all but " + ", ".join(sorted(ON_REQUEST)) + ")")
    parser.add_argument("--runs", type=int, default=5, help="runs of each tool on each corpus (default 5)")
    parser.add_argument("--data", help="scratch directory for the corpora and outputs (default build/bench-data, "
                                       "or /dev/shm/raduza-bench-data with --tmpfs)")
    parser.add_argument("--tmpfs", action="store_true",
                        help="corpora and outputs in a tmpfs (/dev/shm): the copy without the disk's writeback")
    parser.add_argument("--no-strace", action="store_true", help="do not count system calls")
    parser.add_argument("--raduza", help="the raduza to time (default: build one in --build-dir)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"),
                        help="where raduza is built when --raduza is not given (default build/bench)")
    parser.add_argument("--baseline", help="another raduza (say, the build before a change) to time in turn with it")
    parser.add_argument("--no-llvm-rc", action="store_true", help="leave llvm-rc out")
    parser.add_argument("--no-cat", action="store_true",
                        help="leave cat out: with --baseline, the two builds then run back to back")
    parser.add_argument("--windres", action="store_true", help="time windres too (quadratic: capped)")
    parser.add_argument("--windres-cap", type=int, default=60, help="seconds before a windres run is stopped")
    args = parser.parse_args()

    keys = [k for k in args.corpora.split(",") if k]
    unknown = [k for k in keys if k not in {c.key for c in CORPORA}]
    if unknown or args.runs < 1:
        parser.error("unknown corpus %s" % ", ".join(unknown) if unknown else "--runs must be at least 1")
    data_dir = os.path.abspath(args.data or ("/dev/shm/raduza-bench-data" if args.tmpfs
                                             else os.path.join(ROOT, "build", "bench-data")))
    os.makedirs(data_dir, exist_ok=True)
    tools = make_tools(args)

    measured = []
    for corpus in [c for c in CORPORA if c.key in keys]:
        prepare(corpus, data_dir)
        count = write_inputs(corpus, data_dir)
        print("%s: %d files" % (corpus.title, count), flush=True)
        results = measure(corpus, tools, data_dir, args.runs)
        calls = {}
        if not args.no_strace:
            for tool in tools:
                if tool.key in ("raduza", "cat"):
                    total = system_calls(tool, corpus, data_dir)
                    calls[tool.key] = None if total is None else total / count
        measured.append((corpus, results, calls))
    report(measured, tools, args)


if __name__ == "__main__":
    main()
