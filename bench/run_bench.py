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


def generate(cache, scale, only):
    if scale != 1:
        cache = os.path.join(cache, "scale-%g" % scale)
    os.makedirs(cache, exist_ok=True)
    files = []
    for kind, megabytes, name in PRODUCTS:
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
            if args.only not in name:
                continue
            link = os.path.join(scratch, name)
            if not os.path.exists(link):
                os.symlink(path, link)
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
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

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
    print("\nmedians of %d runs after one warm-up; %s" % (args.runs, time.strftime("%Y-%m-%d")))


if __name__ == "__main__":
    main()
