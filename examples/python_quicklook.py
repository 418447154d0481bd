#!/usr/bin/env python3
"""Reads an orbit and its documents with the l2xml2ascii Python module.

    python3 examples/python_quicklook.py [OUT-DIR]

Reads the sample reduced-dynamic orbit of this folder into numpy arrays,
prints its radius and speed, plots them against UTC into OUT-DIR/orbit.png
(when matplotlib is installed) and writes the documents of the sample
SST_PRP_2 product as OUT-DIR/document_1.pdf, ...  OUT-DIR defaults to the
current folder.  With the module built but not installed, run it as

    PYTHONPATH=build/python python3 examples/python_quicklook.py /tmp
"""
import os
import sys

import numpy as np

import l2xml2ascii

HERE = os.path.dirname(os.path.abspath(__file__))
ORBIT = os.path.join(HERE, "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRD1.xml")
DOCUMENTS = os.path.join(HERE, "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRP1.xml")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)

    # The orbit: one numpy array per column of the SST_PRD_2 table.
    orbit = l2xml2ascii.read(ORBIT)["SST_PRD_2"]
    for column in orbit.schema:
        print("%-18s %-4s %s" % (column.name, column.unit, column.dtype))
    utc = l2xml2ascii.to_datetime64(orbit["gps_time"], scale="utc")
    radius_km = np.sqrt(orbit["X"] ** 2 + orbit["Y"] ** 2 + orbit["Z"] ** 2) / 1000
    speed = np.sqrt(orbit["VX"] ** 2 + orbit["VY"] ** 2 + orbit["VZ"] ** 2)
    print("%d epochs from %s UTC: radius %.3f-%.3f km, speed %.1f-%.1f m/s"
          % (orbit.rows, utc[0], radius_km.min(), radius_km.max(), speed.min(), speed.max()))

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot")
    else:
        figure, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 5))
        top.plot(utc, radius_km)
        top.set_ylabel("radius (km)")
        bottom.plot(utc, speed)
        bottom.set_ylabel("speed (m/s)")
        bottom.set_xlabel("UTC")
        figure.autofmt_xdate()
        figure.savefig(os.path.join(out, "orbit.png"), dpi=80)
        print("plotted", os.path.join(out, "orbit.png"))

    # The documents: one bytes object each.
    for number, document in enumerate(l2xml2ascii.read(DOCUMENTS)["SST_PRP_2"], 1):
        name = os.path.join(out, "document_%d.pdf" % number)
        with open(name, "wb") as f:
            f.write(document)
        print("wrote %s (%d bytes)" % (name, len(document)))


if __name__ == "__main__":
    main()
