"""GPS seconds as datetime64, in GPS time and in UTC."""
import os

import numpy as np
import pytest

from l2xml2ascii import LEAP_SECONDS, to_datetime64

TAI_LIST = "/usr/share/zoneinfo/leap-seconds.list"


def test_gps_and_utc_instants():
    ns = np.datetime64
    # 2009-11-01 00:00:00 UTC is 941068815 s of GPS time (15 leap seconds then).
    assert to_datetime64(941068815.0, "gps") == ns("2009-11-01T00:00:15", "ns")
    assert to_datetime64(941068815.0, "utc") == ns("2009-11-01T00:00:00", "ns")
    assert to_datetime64(0, "utc") == ns("1980-01-06T00:00:00", "ns")
    # around the leap second at the end of 2016: 23:59:59, 23:59:60 (shown as
    # the midnight after it), midnight
    start = 1167264018  # GPS seconds of 2017-01-01 00:00:00 UTC
    assert list(to_datetime64(np.array([start - 2, start - 1, start]), "utc")) == \
        [ns("2016-12-31T23:59:59", "ns"), ns("2017-01-01T00:00:00", "ns"),
         ns("2017-01-01T00:00:00", "ns")]
    # fractions to the nanosecond, near 10^9 s, also from long doubles
    t = np.array([np.longdouble("941068815.123456789")])
    assert to_datetime64(t)[0] == ns("2009-11-01T00:00:15.123456789", "ns")
    assert to_datetime64(941068815.25) == ns("2009-11-01T00:00:15.250", "ns")
    assert np.isnat(to_datetime64(np.array([np.nan]), "utc")).all()


@pytest.mark.skipif(not os.path.exists(TAI_LIST), reason="no IERS list from tzdata")
def test_leap_seconds_agree_with_the_systems_list():
    listed = []
    with open(TAI_LIST) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                seconds_since_1900, tai_minus_utc = (int(x) for x in line.split()[:2])
                day = np.datetime64("1900-01-01") + np.timedelta64(seconds_since_1900 // 86400, "D")
                if tai_minus_utc > 19:  # GPS = TAI - 19 s
                    listed.append((str(day), tai_minus_utc - 19))
    assert listed == list(LEAP_SECONDS)
