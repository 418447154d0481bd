#!/usr/bin/env python3
"""One measurement of the Python module, in a process of its own, for make bench.

    python_probe.py read PRODUCT           CPU seconds spent inside read()
    python_probe.py blocks PRODUCT         peak RSS (kB) reading it in iter_blocks
    python_probe.py idle                   peak RSS (kB) of the interpreter with
                                           numpy and the module imported
    python_probe.py many PRODUCT...        wall seconds of read_many(workers=2),
                                           then the CPU seconds it took
    python_probe.py sequential PRODUCT...  wall seconds of read() of each in turn

Prints the number (for many two).  The interpreter's start and the imports are never
counted.
"""
import resource
import sys
import time

import numpy  # noqa: F401  (counted in the idle interpreter, as in every use)

import l2xml2ascii


def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def peak_kib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main():
    what, paths = sys.argv[1], sys.argv[2:]
    if what == "read":
        start = cpu()
        l2xml2ascii.read(paths[0])
        print("%.4f" % (cpu() - start))
    elif what == "blocks":
        rows = 0
        with l2xml2ascii.iter_blocks(paths[0]) as blocks:
            for block in blocks:
                rows += block.rows
        print(peak_kib())
    elif what == "idle":
        print(peak_kib())
    elif what in ("many", "sequential"):
        start, start_cpu = time.perf_counter(), cpu()
        if what == "many":
            results = l2xml2ascii.read_many(paths, workers=2)
        else:
            results = [l2xml2ascii.read(p) for p in paths]
        elapsed, used = time.perf_counter() - start, cpu() - start_cpu
        assert not any(isinstance(r, Exception) for r in results), results
        print("%.4f %.4f" % (elapsed, used))
    else:
        raise SystemExit("unknown measurement " + what)


if __name__ == "__main__":
    main()
