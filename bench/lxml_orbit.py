#!/usr/bin/env python3
"""The orbit arrays of an SST_PKI_2 product with lxml's iterparse, as a new
user would write them: the peer of l2xml2ascii.read() in make bench.

    lxml_orbit.py PRODUCT [--compare]

Gives the same arrays as the converter (epoch in seconds since 1980-01-06
by calendar arithmetic, positions in metres, clock as in the file); prints
the parse time, and with --compare also whether every array equals what
l2xml2ascii.read() gives, bit for bit.
"""
import datetime
import sys
import time

import numpy as np
from lxml import etree

GPS_DAY_ZERO = datetime.date(1980, 1, 6).toordinal()


def read_orbit(path):
    gps_time, x, y, z, clock = [], [], [], [], []
    for _, record in etree.iterparse(path, tag="SP3c_Record"):
        day = record.find("Time_Information/GPS_Time/Start/Gregorian")
        days = datetime.date(int(day.findtext("Year")), int(day.findtext("Month")),
                             int(day.findtext("Day_of_Month"))).toordinal() - GPS_DAY_ZERO
        time_of_day = (float(day.findtext("Hour")) * 3600 + float(day.findtext("Minute")) * 60
                       + float(day.findtext("Second")))
        gps_time.append(days * 86400.0 + time_of_day)
        satellite = record.find("List_of_Satellite_IDs/L15")
        position = satellite.find("Position")
        factor = 1000.0 if position.get("unit") == "km" else 1.0
        x.append(factor * float(position.findtext("X")))
        y.append(factor * float(position.findtext("Y")))
        z.append(factor * float(position.findtext("Z")))
        clock.append(float(satellite.findtext("Clock")))
        # Keep memory flat: drop the record and the ones before it.
        record.clear()
        while record.getprevious() is not None:
            del record.getparent()[0]
    return {"gps_time": np.array(gps_time), "X": np.array(x), "Y": np.array(y),
            "Z": np.array(z), "clock": np.array(clock)}


def main():
    start = time.perf_counter()
    orbit = read_orbit(sys.argv[1])
    print("%.3f s, %d records" % (time.perf_counter() - start, len(orbit["X"])))
    if "--compare" in sys.argv[2:]:
        import l2xml2ascii
        table = l2xml2ascii.read(sys.argv[1])["SST_PKI_2"]
        same = all(np.array_equal(orbit[name], table[name]) for name in orbit)
        print("same arrays as l2xml2ascii.read: %s" % ("yes" if same else "NO"))
        return 0 if same else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
