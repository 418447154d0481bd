"""GPS seconds as numpy datetime64, in GPS time or in UTC."""
import numpy as np

# GPS time counts seconds since 1980-01-06 00:00:00 without leap seconds.
GPS_EPOCH = np.datetime64("1980-01-06T00:00:00", "ns")

# (first UTC day of the offset, GPS - UTC in seconds from that day on): every
# leap second since the GPS epoch.  Last entry 2017-01-01, 18 s.  Checked on
# 2026-12-08 against the IERS list shipped by tzdata 2025b
# (/usr/share/zoneinfo/leap-seconds.list, valid until 2026-06-28): no leap
# second since 2017-01-01.
LEAP_SECONDS = (
    ("1981-07-01", 1), ("1982-07-01", 2), ("1983-07-01", 3), ("1985-07-01", 4),
    ("1988-01-01", 5), ("1990-01-01", 6), ("1991-01-01", 7), ("1992-07-01", 8),
    ("1993-07-01", 9), ("1994-07-01", 10), ("1996-01-01", 11), ("1997-07-01", 12),
    ("1999-01-01", 13), ("2006-01-01", 14), ("2009-01-01", 15), ("2012-07-01", 16),
    ("2015-07-01", 17), ("2017-01-01", 18),
)

_NS = 1_000_000_000
# GPS seconds at which each offset starts: the UTC midnight plus the offset.
_STARTS = np.array([(np.datetime64(day, "s") - np.datetime64("1980-01-06", "s")).astype(np.int64)
                    + offset for day, offset in LEAP_SECONDS], dtype=np.int64)
_OFFSETS = np.array([0] + [offset for _, offset in LEAP_SECONDS], dtype=np.int64)


def to_datetime64(seconds, scale="gps"):
    """Seconds since 1980-01-06 00:00:00 (a ``gps_time`` column) as ``datetime64[ns]``.

    ``scale="gps"`` gives the instants in GPS time: the seconds counted from
    the GPS epoch, no leap seconds.  ``scale="utc"`` subtracts GPS - UTC at
    each instant, from the leap-second table shipped in
    ``l2xml2ascii.LEAP_SECONDS``: its last entry is 2017-01-01 (GPS - UTC =
    18 s), checked on 2026-12-08 against the IERS list of tzdata 2025b; later
    instants keep 18 s until a new leap second is added to the table.  A
    leap second itself (23:59:60 UTC) shows as the midnight after it.

    Fractions of a second are kept to the nanosecond: the whole seconds and
    the fraction are converted apart, so that a time near 10^9 s keeps what
    its float holds.  ``longdouble`` input keeps its extra digits; NaN gives
    NaT.  A scalar gives a scalar.
    """
    if scale not in ("gps", "utc"):
        raise ValueError("scale must be 'gps' or 'utc', not %r" % (scale,))
    values = np.asarray(seconds)
    if values.dtype.kind in "iu":
        whole = values.astype(np.int64)
        nanoseconds = np.zeros_like(whole)
        missing = np.zeros(whole.shape, dtype=bool)
    else:
        values = values.astype(np.longdouble if values.dtype == np.longdouble else np.float64)
        missing = ~np.isfinite(values)
        clean = np.where(missing, 0, values)
        floor = np.floor(clean)
        # The fraction of a float is exact; rounding it may make a whole second.
        nanoseconds = np.rint((clean - floor) * _NS).astype(np.int64)
        whole = floor.astype(np.int64)
    if scale == "utc":
        whole = whole - _OFFSETS[np.searchsorted(_STARTS, whole, side="right")]
    result = GPS_EPOCH + (whole * _NS + nanoseconds).astype("timedelta64[ns]")
    result = np.where(missing, np.datetime64("NaT", "ns"), result)
    if np.ndim(seconds) == 0:
        return result[()]
    return result
