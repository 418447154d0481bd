#!/usr/bin/env python3
"""Times l2xml2ascii against libxml2's own streaming parse.

For every product file it runs, alternating, after one warm-up run of the
converter (which also measures its peak memory):
  - the converter (into a scratch folder),
  - `xmllint --stream --noout` (libxml2's streaming floor),
  - bench's bare reader loop (the converter's libxml2 calls, nothing else),
  - the converter with --progress (its progress lines go to /dev/null),
and prints one table: median wall times, the ratios converter/xmllint and
converter/bare loop, the converter's throughput and its peak resident memory;
a last table gives the cost of showing the progress.

The products named in COMPRESSED are also timed in their gzip and xz forms,
in the same alternation: the converter on each form and the standard tool's
decompression alone (`gzip -dc`, `xz -dc` to /dev/null).  A second table
gives each form's time against the longer of its decompression alone and the
plain conversion, and its peak memory against the plain conversion's.

With --python-path (the folder holding the built package l2xml2ascii) it
also measures the Python module, its runs in the same alternation, each in a
process of its own (bench/python_probe.py; the interpreter's start and the
imports are not counted):
  - the CPU time spent inside read() against the program's CPU time on the
    same file (both user + system),
  - the peak resident memory of reading the 150 MB and the 1.5 GB orbit in
    iter_blocks, beyond the idle interpreter with numpy and the module,
  - read_many() of the two 500 MB orbits with two workers against read() of
    one after the other (wall time),
  - the peer: bench/lxml_orbit.py, lxml's iterparse making the same orbit
    arrays (checked equal once), against read() of the same file (wall time).

The product files are made once with tools/l2gen.py into a cache folder and
reused by later runs.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
GENERATOR = os.path.join(ROOT, "tools", "l2gen.py")

# (generator type, size in MB, file name); the names follow the products'
# naming layout so that the converter can derive its output names.
PRODUCTS = [
    ("egg", 500, "BENCHMRKEGG_NOM_2_500MB.xml"),
    ("egg", 50, "BENCHMRKEGG_NOM_2_50MB.xml"),
    ("pki", 500, "BENCHMRKSST_PSO_2_PKI500MB.xml"),
    ("prd", 500, "BENCHMRKSST_PSO_2_PRD500MB.xml"),
    ("prd", 50, "BENCHMRKSST_PSO_2_PRD50MB.xml"),
    ("pcv", 300, "BENCHMRKSST_PSO_2_PCV300MB.xml"),
    ("prm", 300, "BENCHMRKSST_PSO_2_PRM300MB.xml"),
    ("prp", 50, "BENCHMRKSST_PSO_2_PRP50MB.xml"),
]

# Orbits read only by the Python module's iter_blocks: its memory from the
# small to the large.
BLOCK_PRODUCTS = [
    ("pki", 150, "BENCHMRKSST_PSO_2_PKI150MB.xml"),
    ("pki", 1500, "BENCHMRKSST_PSO_2_PKI1500MB.xml"),
]
# The two files read_many converts at once, and the file of the lxml peer.
MANY = ["BENCHMRKSST_PSO_2_PKI500MB.xml", "BENCHMRKSST_PSO_2_PRD500MB.xml"]
PEER = "BENCHMRKSST_PSO_2_PKI500MB.xml"

# Products also timed compressed, and how each form is made and undone.
COMPRESSED = ["BENCHMRKEGG_NOM_2_500MB.xml", "BENCHMRKSST_PSO_2_PCV300MB.xml"]
FORMS = [
    ("gz", ["gzip", "-6", "-n", "-c"], ["gzip", "-dc"]),
    ("xz", ["xz", "-T2", "-6", "-c"], ["xz", "-dc"]),
]


def compressed_forms(path):
    """The compressed forms of a cached product, made next to it once."""
    forms = []
    for suffix, make, undo in FORMS:
        packed = path + "." + suffix
        if not os.path.exists(packed):
            print("compressing %s" % os.path.basename(packed), flush=True)
            with open(packed + ".part", "wb") as out:
                subprocess.run(make + [path], stdout=out, check=True)
            os.rename(packed + ".part", packed)
        forms.append((suffix, packed, undo))
    return forms


def generate(cache, scale, only, products=PRODUCTS):
    if scale != 1:
        cache = os.path.join(cache, "scale-%g" % scale)
    os.makedirs(cache, exist_ok=True)
    files = []
    for kind, megabytes, name in products:
        size = max(1, int(megabytes * scale))
        path = os.path.join(cache, name)
        if only not in name:
            continue
        if not os.path.exists(path):
            print("generating %s (%d MB)" % (os.path.basename(path), size), flush=True)
            extra = ["--docs", "8"] if kind == "prp" else []
            subprocess.run([sys.executable, GENERATOR, kind, "--size-mb", str(size),
                            "--seed", "7", "--out", path + ".part"] + extra,
                           check=True, stdout=subprocess.DEVNULL)
            os.rename(path + ".part", path)
        files.append(path)
    return files


def timed(argv, cwd):
    """Wall time of one run."""
    start = time.perf_counter()
    status = subprocess.call(argv, cwd=cwd, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit("%s failed with status %d" % (" ".join(argv), status))
    return elapsed


def peak_memory_kib(argv, cwd):
    """Peak resident memory of one run, as GNU time reports it.

    A child forked from this Python process would count Python's own pages
    in its peak; GNU time forks from a small process."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1])


def cpu_seconds(argv, cwd):
    """CPU time (user + system) of one run of a program, from its rusage."""
    process = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit("%s failed with status %d" % (" ".join(argv), process.returncode))
    return usage.ru_utime + usage.ru_stime


def probe(argv, env):
    """One run of a Python measurement: (wall seconds, the numbers it prints)."""
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit("%s failed:\n%s" % (" ".join(argv), done.stderr))
    return elapsed, [float(x) for x in done.stdout.split()]


def python_rows(args, files, scratch):
    """The Python module's measurements, alternating over args.runs runs."""
    env = dict(os.environ, PYTHONPATH=os.path.abspath(args.python_path))
    python = sys.executable
    probe_script = os.path.join(HERE, "python_probe.py")
    peer_script = os.path.join(HERE, "lxml_orbit.py")
    by_name = {os.path.basename(f): f for f in files}
    tables = [f for f in files if "PRP" not in os.path.basename(f)]
    block_files = generate(os.path.abspath(args.cache), args.scale, args.only, BLOCK_PRODUCTS)

    # Each entry: key -> what one run measures, as (wall, value).
    runs = {}
    for path in tables:
        name = os.path.basename(path)
        runs[("program cpu", name)] = (
            lambda name=name: (0.0, [cpu_seconds([os.path.abspath(args.program), "--if", name],
                                                 scratch)]))
        runs[("read cpu", name)] = (
            lambda path=path: probe([python, probe_script, "read", path], env))
    many = [by_name[n] for n in MANY if n in by_name]
    if len(many) == 2:
        runs[("many", "")] = lambda: probe([python, probe_script, "many"] + many, env)
        runs[("sequential", "")] = lambda: probe([python, probe_script, "sequential"] + many,
                                                 env)
    peer = by_name.get(PEER)
    if peer:
        def run_peer():
            start = time.perf_counter()
            done = subprocess.run([python, peer_script, peer], env=env, capture_output=True)
            if done.returncode != 0:
                raise SystemExit("the lxml peer failed: %s" % done.stderr.decode())
            return time.perf_counter() - start, [0.0]
        runs[("peer", "")] = run_peer
        # Once, also as the peer's warm-up: the same arrays?
        same = subprocess.run([python, peer_script, peer, "--compare"], env=env,
                              capture_output=True, text=True).stdout
        same = "yes" if "same arrays as l2xml2ascii.read: yes" in same else "NO"

    results = {key: [] for key in runs}
    for _ in range(args.runs):
        for key, run in runs.items():
            results[key].append(run())
    wall = {key: statistics.median(r[0] for r in values) for key, values in results.items()}
    value = {key: statistics.median(r[1][0] for r in values) for key, values in results.items()}

    print("\nPython module (interpreter %s)" % python)
    print("\n| file | program CPU s | read() CPU s | read/program |")
    print("|---|---|---|---|")
    for path in tables:
        name = os.path.basename(path)
        ours, theirs = value[("read cpu", name)], value[("program cpu", name)]
        print("| %s | %.3f | %.3f | %.2f |" % (name, theirs, ours, ours / theirs))

    idle = statistics.median(probe([python, probe_script, "idle"], env)[1][0] for _ in range(3))
    print("\n| file | MB | iter_blocks peak RSS MB | beyond the idle interpreter MB |")
    print("|---|---|---|---|")
    for path in block_files:
        peak = probe([python, probe_script, "blocks", path], env)[1][0]
        print("| %s | %.0f | %.1f | %.1f |" % (os.path.basename(path), os.path.getsize(path) / 1e6,
                                            peak / 1024.0, (peak - idle) / 1024.0))
    print("| (idle: python, numpy, l2xml2ascii) | | %.1f | |" % (idle / 1024.0))

    if len(many) == 2:
        # CPU time over wall time while read_many runs: the cores it kept busy
        # (2 when both conversions ran side by side all along on free cores).
        cores = statistics.median(r[1][1] / r[1][0] for r in results[("many", "")])
        print("\n| files | sequential read() s | read_many 2 workers s | many/sequential "
              "| CPU/wall in read_many |")
        print("|---|---|---|---|---|")
        print("| %s | %.3f | %.3f | %.2f | %.2f |" % (
            " + ".join(os.path.basename(p) for p in many), value[("sequential", "")],
            value[("many", "")], value[("many", "")] / value[("sequential", "")], cores))
    if peer:
        name = os.path.basename(peer)
        print("\n| file | lxml iterparse s | read() s | lxml/read | same arrays |")
        print("|---|---|---|---|---|")
        print("| %s | %.3f | %.3f | %.1f | %s |" % (
            name, wall[("peer", "")], wall[("read cpu", name)],
            wall[("peer", "")] / wall[("read cpu", name)], same))
    print("(Python: whole processes for the lxml/read walls; CPU, memory and read_many "
          "inside them)")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True, help="the l2xml2ascii to time")
    parser.add_argument("--bare", required=True, help="the bare reader loop")
    parser.add_argument("--baseline", default="",
                        help="another l2xml2ascii (e.g. an earlier build) timed in the same "
                             "alternation on every form, for before/after ratios")
    parser.add_argument("--cache", default=os.path.join(HERE, "cache"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="file sizes relative to the standard set (for a quick run)")
    parser.add_argument("--only", default="",
                        help="time only the files whose name holds this text (e.g. EGG)")
    parser.add_argument("--python-path", default="",
                        help="folder holding the built package l2xml2ascii: measure it too")
    parser.add_argument("--no-program", action="store_true",
                        help="with --python-path: only the Python measurements")
    args = parser.parse_args()

    if not os.access("/usr/bin/time", os.X_OK):
        raise SystemExit("/usr/bin/time not found: install time")
    xmllint = shutil.which("xmllint")
    if xmllint is None:
        raise SystemExit("xmllint not found: install libxml2-utils")
    files = generate(os.path.abspath(args.cache), args.scale, args.only)
    scratch = tempfile.mkdtemp(prefix="l2bench-")
    try:
        rows = []
        packed_rows = []
        baseline_rows = []
        progress_rows = []
        for path in files:
            name = os.path.basename(path)
            link = os.path.join(scratch, name)
            if not os.path.exists(link):
                os.symlink(path, link)
        for path in [] if args.no_program else files:
            name = os.path.basename(path)
            if args.only not in name:
                continue
            commands = {
                "convert": [os.path.abspath(args.program), "--if", name],
                "xmllint": [xmllint, "--stream", "--noout", path],
                "bare": [os.path.abspath(args.bare), path],
                "progress": [os.path.abspath(args.program), "--progress", "--if", name],
            }
            forms = compressed_forms(path) if name in COMPRESSED else []
            for suffix, packed, undo in forms:
                link = os.path.join(scratch, os.path.basename(packed))
                if not os.path.exists(link):
                    os.symlink(packed, link)
                commands["convert." + suffix] = [os.path.abspath(args.program), "--if",
                                                 os.path.basename(packed)]
                commands["undo." + suffix] = undo + [packed]
            if args.baseline:
                for key in [k for k in commands if k.startswith("convert")]:
                    commands["baseline." + key] = ([os.path.abspath(args.baseline)] +
                                                   commands[key][1:])
            times = {key: [] for key in commands}
            peak = peak_memory_kib(commands["convert"], scratch)  # also the warm-up
            if args.baseline:
                peak_memory_kib(commands["baseline.convert"], scratch)
            peaks = {suffix: peak_memory_kib(commands["convert." + suffix], scratch)
                     for suffix, _, _ in forms}
            for _ in range(args.runs):
                for key, argv in commands.items():
                    times[key].append(timed(argv, scratch))
            med = {key: statistics.median(values) for key, values in times.items()}
            for key in [k for k in med if k.startswith("baseline.")]:
                ours = med[key[len("baseline."):]]
                baseline_rows.append((name + key[len("baseline.convert"):], ours, med[key],
                                      ours / med[key]))
            for suffix, packed, undo in forms:
                conv, dec = med["convert." + suffix], med["undo." + suffix]
                packed_rows.append((os.path.basename(packed), os.path.getsize(packed) / 1e6,
                                    conv, " ".join(undo), dec, med["convert"],
                                    conv / max(dec, med["convert"]), conv / med["convert"],
                                    peaks[suffix] / 1024.0, peak / 1024.0))
            progress_rows.append((name, med["convert"], med["progress"],
                                  med["progress"] / med["convert"]))
            size_mb = os.path.getsize(path) / 1e6
            rows.append((name, size_mb, med["convert"], med["xmllint"], med["bare"],
                         med["convert"] / med["xmllint"], med["convert"] / med["bare"],
                         size_mb / med["convert"], peak / 1024.0))
            print("measured %s" % name, file=sys.stderr, flush=True)
        print_program_tables(rows, packed_rows, baseline_rows, progress_rows)
        if args.python_path:
            python_rows(args, files, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("\nmedians of %d runs after one warm-up; %s" % (args.runs, time.strftime("%Y-%m-%d")))


def print_program_tables(rows, packed_rows, baseline_rows, progress_rows):
    if not rows:
        return
    header = ("file", "MB", "convert s", "xmllint s", "bare s", "conv/xmllint",
              "conv/bare", "MB/s", "peak RSS MB")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for r in rows:
        print("| %s | %.0f | %.3f | %.3f | %.3f | %.2f | %.2f | %.0f | %.1f |" % r)
    if packed_rows:
        header = ("file", "MB", "convert s", "tool", "tool s", "plain convert s",
                  "conv/max(tool, plain)", "conv/plain", "peak RSS MB", "plain peak RSS MB")
        print("\n| " + " | ".join(header) + " |")
        print("|" + "|".join("---" for _ in header) + "|")
        for r in packed_rows:
            print("| %s | %.0f | %.3f | %s | %.3f | %.3f | %.2f | %.2f | %.1f | %.1f |" % r)
    if baseline_rows:
        print("\n| file | convert s | baseline convert s | convert/baseline |")
        print("|---|---|---|---|")
        for r in baseline_rows:
            print("| %s | %.3f | %.3f | %.2f |" % r)
    if progress_rows:
        print("\n| file | convert s | convert --progress s | progress/convert |")
        print("|---|---|---|---|")
        for r in progress_rows:
            print("| %s | %.3f | %.3f | %.3f |" % r)


if __name__ == "__main__":
    main()
