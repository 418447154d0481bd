#!/usr/bin/env python3
"""l2gen.py - generator of sample Level-2 XML products for l2xml2ascii.

Writes realistic, pretty-printed (2-space indented) product XML files of the
six product types that l2xml2ascii converts, and the header file that carries
the epoch reference of the rotation records:

  egg  EGG_NOM_2   gravity gradients, 1 Hz          (type field EGG_NOM_2)
  pcv  SST_PCV_2   covariance matrix elements       (type field SST_PSO_2)
  pki  SST_PKI_2   kinematic orbit, 1 Hz            (type field SST_PSO_2)
  prd  SST_PRD_2   reduced-dynamic orbit, 1 Hz      (type field SST_PSO_2)
  prm  SST_PRM_2   rotation quaternions, 1 Hz       (type field SST_PSO_2)
  prp  SST_PRP_2   embedded PDF documents, base64   (type field SST_PSO_2)
  hdr  header file with Epoch_Information/Reference (extension .HDR)

File names follow the converter's naming layout: positions 0-7 the prefix
"L2SAMPLE", positions 8-16 the nine-character product type field, from 17 the
rest up to the first ".", then the extension, e.g.
  L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.xml
  L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PKI1.xml
  L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRM1.HDR

Output is deterministic for a given seed (random.Random(seed)), and it is
streamed record by record to a buffered file, so files of many gigabytes are
written in constant memory.

Python 3 standard library only.
"""

import argparse
import base64
import datetime
import math
import os
import random
import re
import sys

PREFIX = "L2SAMPLE"
XML_DECL = '<?xml version="1.0" encoding="UTF-8"?>\n'
DEFAULT_EPOCH = "2009-11-01 00:00:00.000000"
GPS_EPOCH = datetime.datetime(1980, 1, 6)
EGG_START_OFFSET = 15        # s from --epoch to the first EGG_NOM_2 GPS_Time
MB = 1000 * 1000             # --size-mb counts decimal megabytes
CHUNK = 1 << 20              # write buffer size

# type key -> (product element, type field in the file name, rest of the name)
PRODUCTS = {
    "egg": ("EGG_NOM_2", "EGG_NOM_2", "0001"),
    "pcv": ("SST_PCV_2", "SST_PSO_2", "PCV1"),
    "pki": ("SST_PKI_2", "SST_PSO_2", "PKI1"),
    "prd": ("SST_PRD_2", "SST_PSO_2", "PRD1"),
    "prm": ("SST_PRM_2", "SST_PSO_2", "PRM1"),
    "prp": ("SST_PRP_2", "SST_PSO_2", "PRP1"),
    "hdr": ("SST_PRM_2", "SST_PSO_2", "PRM1"),
}
ALL_ORDER = ["egg", "pcv", "pki", "prd", "prm", "prp", "hdr"]
COMPONENTS = ("XX", "YY", "ZZ", "XY", "XZ", "YZ")

# Orbit: a low, near-polar, sun-synchronous-like orbit (GOCE-like).
MU = 398600.4418             # km^3/s^2
A_KM = 6633.0                # mean orbit radius, km (~255 km altitude)
INCL = math.radians(96.7)
N_ORB = math.sqrt(MU / A_KM ** 3)   # mean motion, rad/s (period ~ 89.6 min)
OMEGA_E = 7.2921159e-5       # Earth rotation rate, rad/s


# --------------------------------------------------------------------------
# time helpers

class Epoch:
    """A GPS calendar epoch held as whole microseconds since 1980-01-06."""

    def __init__(self, text):
        m = re.fullmatch(r"\s*(\d{4})-(\d{1,2})-(\d{1,2})[ T](\d{1,2}):(\d{1,2}):"
                         r"(\d{1,2})(?:\.(\d{1,6})\d*)?\s*(?:GPS)?\s*", text)
        if not m:
            raise ValueError("epoch must look like 'YYYY-MM-DD hh:mm:ss.ssssss', got %r" % text)
        y, mo, d, h, mi, s = (int(m.group(i)) for i in range(1, 7))
        frac = m.group(7) or ""
        us = int((frac + "000000")[:6])
        dt = datetime.datetime(y, mo, d, h, mi, s, us)
        if dt < GPS_EPOCH:
            raise ValueError("epoch before the GPS epoch 1980-01-06: %r" % text)
        delta = dt - GPS_EPOCH
        self.us = (delta.days * 86400 + delta.seconds) * 1000000 + delta.microseconds
        self.dt = dt

    @property
    def gps_seconds(self):
        return self.us / 1e6

    def reference_text(self):
        d = self.dt
        return "%04d-%02d-%02d %02d:%02d:%02d.%06d GPS" % (
            d.year, d.month, d.day, d.hour, d.minute, d.second, d.microsecond)


class Calendar:
    """Turns microseconds since the GPS epoch into calendar fields, fast."""

    ORD0 = GPS_EPOCH.toordinal()

    def __init__(self):
        self._day = None
        self._ymd = None

    def split(self, us):
        day, rem = divmod(us, 86400000000)
        if day != self._day:
            date = datetime.date.fromordinal(self.ORD0 + day)
            self._day = day
            self._ymd = (date.year, date.month, date.day)
        sec_us = rem % 60000000
        minutes = rem // 60000000
        hour, minute = divmod(minutes, 60)
        y, mo, d = self._ymd
        return y, mo, d, hour, minute, sec_us / 1e6


def stamp(dt):
    return dt.strftime("%Y%m%dT%H%M%S")


def default_name(kind, epoch):
    """Default file name of a product (or header) type for a start epoch."""
    _, field, rest = PRODUCTS[kind]
    start = epoch.dt.replace(microsecond=0)
    stop = start + datetime.timedelta(seconds=86399)
    ext = "HDR" if kind == "hdr" else "xml"
    name = "%s%s_%s_%s_%s.%s" % (PREFIX, field, stamp(start), stamp(stop), rest, ext)
    assert name[8:17] == field and name.index(".") >= 17
    return name


# --------------------------------------------------------------------------
# output

class Sink:
    """Buffered ASCII text output that counts the bytes written."""

    def __init__(self, path):
        self.path = path
        if path == "-":
            self.f = open(sys.stdout.fileno(), "w", encoding="ascii", newline="\n",
                          buffering=CHUNK, closefd=False)
        else:
            self.f = open(path, "w", encoding="ascii", newline="\n", buffering=CHUNK)
        self.n = 0

    def write(self, s):
        self.f.write(s)
        self.n += len(s)

    def close(self):
        self.f.close()


def product_head(sink, product):
    sink.write(XML_DECL)
    sink.write('<Data_Block type="xml">\n')
    if product == "EGG_NOM_2":
        sink.write("  <EGG_NOM_2>\n")
    else:
        sink.write("  <SST_PSO_2>\n    <%s>\n" % product)


def product_tail(sink, product):
    if product == "EGG_NOM_2":
        sink.write("  </EGG_NOM_2>\n")
    else:
        sink.write("    </%s>\n  </SST_PSO_2>\n" % product)
    sink.write("</Data_Block>\n")


def write_list(sink, product, list_name, indent, records, limit, size_bytes):
    """Writes the list element with records from the iterator `records`.

    Stops after `limit` records, or (with size_bytes) once the file has
    about that many bytes. Returns the number of records written.
    """
    pad = " " * indent
    product_head(sink, product)
    sink.write("%s<%s>\n" % (pad, list_name))
    tail = len("%s</%s>\n" % (pad, list_name)) + 40
    count = 0
    if size_bytes is not None:
        target = size_bytes - tail
        for rec in records:
            if sink.n >= target:
                break
            sink.write(rec)
            count += 1
    else:
        for rec in records:
            if count >= limit:
                break
            sink.write(rec)
            count += 1
    sink.write("%s</%s>\n" % (pad, list_name))
    product_tail(sink, product)
    return count


# --------------------------------------------------------------------------
# EGG_NOM_2: gravity gradients

def _egg_template():
    i = lambda n: " " * n
    t = []
    t.append(i(6) + "<GG_time_Record>\n")
    t.append(i(8) + "<Time_Information>\n")
    t.append(i(10) + "<GPS_Time>%.6f</GPS_Time>\n")
    t.append(i(8) + "</Time_Information>\n")
    for group, fmt in (("Gravity_Gradients", "%.12E"), ("Sigmas", "%.12E"), ("Flags", "%d")):
        t.append(i(8) + "<%s>\n" % group)
        for c in COMPONENTS:
            t.append(i(10) + "<%s>%s</%s>\n" % (c, fmt, c))
        t.append(i(8) + "</%s>\n" % group)
    t.append(i(8) + "<Corrections>\n")
    t.append(i(10) + "<Temporal>\n")
    t.append(i(12) + "<Tidal>\n")
    for tide in ("Direct_Tides", "Solid_Earth", "Ocean_Tides", "Pole_Tides"):
        t.append(i(14) + "<%s>\n" % tide)
        for c in COMPONENTS:
            t.append(i(16) + "<%s>%%.12E</%s>\n" % (c, c))
        t.append(i(14) + "</%s>\n" % tide)
    t.append(i(12) + "</Tidal>\n")
    t.append(i(12) + "<Non-Tidal>\n")
    for c in COMPONENTS:
        t.append(i(14) + "<%s>%%.12E</%s>\n" % (c, c))
    t.append(i(12) + "</Non-Tidal>\n")
    t.append(i(10) + "</Temporal>\n")
    t.append(i(10) + "<Calibration>\n")
    for c in COMPONENTS:
        t.append(i(12) + "<%s>%%.12E</%s>\n" % (c, c))
    t.append(i(10) + "</Calibration>\n")
    t.append(i(8) + "</Corrections>\n")
    t.append(i(8) + "<Quaternions>\n")
    for q in ("Q1", "Q2", "Q3", "Q4"):
        t.append(i(10) + "<%s>%%.16f</%s>\n" % (q, q))
    t.append(i(8) + "</Quaternions>\n")
    t.append(i(6) + "</GG_time_Record>\n")
    return "".join(t)


EGG_TEMPLATE = _egg_template()


def attitude_quaternion(t, phase, wob):
    """Unit quaternion (Q1..Q3 vector part, Q4 scalar part) of a satellite
    that turns once per orbit about its cross-track axis, with a small wobble."""
    half = 0.5 * (N_ORB * t + phase)
    # orbital pitch rotation about y
    ay, aw = math.sin(half), math.cos(half)
    # small wobble about x and z (a few tenths of a degree)
    bx = wob * math.sin(2.1e-3 * t + phase)
    bz = wob * math.cos(1.3e-3 * t)
    # product (0, ay, 0, aw) * (bx, 0, bz, 1), then normalise
    q1 = aw * bx + ay * bz
    q2 = ay
    q3 = aw * bz - ay * bx
    q4 = aw
    n = 1.0 / math.sqrt(q1 * q1 + q2 * q2 + q3 * q3 + q4 * q4)
    return q1 * n, q2 * n, q3 * n, q4 * n


def egg_records(rnd, epoch):
    gps0 = epoch.gps_seconds + EGG_START_OFFSET
    phase = rnd.uniform(0.0, 2.0 * math.pi)
    wob = rnd.uniform(1.5e-3, 4e-3)
    # per-file biases of the gradiometer, E
    bias = [rnd.uniform(-2.0, 2.0) for _ in range(6)]
    gauss = rnd.gauss
    rand = rnd.random
    sig = [rnd.uniform(0.008, 0.015) for _ in range(6)]
    # scales of the corrections (E): direct, solid earth, ocean, pole, non-tidal, calibration
    scales = (3e-3, 8e-4, 6e-5, 4e-6, 2e-4, 1.5e-3)
    tmpl = EGG_TEMPLATE
    k = 0
    while True:
        t = float(k)
        u = N_ORB * t + phase
        c2, s2 = math.cos(2.0 * u), math.sin(2.0 * u)
        c1 = math.cos(u)
        xx = 1.3712e3 + 4.1 * c2 + 0.9 * c1 + bias[0] + gauss(0.0, 0.01)
        yy = 1.3698e3 - 1.7 * c2 + 0.4 * c1 + bias[1] + gauss(0.0, 0.01)
        zz = -(xx + yy) + bias[2] * 1e-3 + gauss(0.0, 0.01)
        xy = 0.35 * s2 + bias[3] * 0.1 + gauss(0.0, 0.01)
        xz = 11.8 * s2 + 2.3 * c1 + bias[4] + gauss(0.0, 0.01)
        yz = -0.62 * c2 + bias[5] * 0.1 + gauss(0.0, 0.01)
        vals = [gps0 + t, xx, yy, zz, xy, xz, yz]
        for s in sig:
            vals.append(s * (1.0 + 0.05 * gauss(0.0, 1.0)))
        for _ in range(6):
            r = rand()
            vals.append(0 if r < 0.92 else 1 if r < 0.96 else 2 if r < 0.985 else 3)
        for j, sc in enumerate(scales):
            ph = 0.7 * j
            for m in range(6):
                vals.append(sc * (math.sin(u * (1 + j % 3) + ph + m) + 0.02 * gauss(0.0, 1.0)))
        vals.extend(attitude_quaternion(t, phase, wob))
        yield tmpl % tuple(vals)
        k += 1


def write_egg(sink, rnd, epoch, limit, size_bytes):
    return write_list(sink, "EGG_NOM_2", "List_of_GG_time_Records", 4,
                      egg_records(rnd, epoch), limit, size_bytes)


# --------------------------------------------------------------------------
# SST_PCV_2: covariance matrix elements

def pcv_records(rnd, block, upper):
    """Successive symmetric positive-definite blocks (position / velocity
    covariances, m^2 and m^2/s, m^2/s^2 scale), row-major, 1-based running
    indices across blocks."""
    b = 0
    gauss = rnd.gauss
    while True:
        # covariance = A A^T + D with per-axis scales
        scale = [2.0e-2 if i < 3 else 2.0e-5 for i in range(block)] if block == 6 else \
                [2.0e-2] * block
        a = [[gauss(0.0, 1.0) * scale[i] for _ in range(block)] for i in range(block)]
        cov = [[sum(a[i][k] * a[j][k] for k in range(block)) for j in range(block)]
               for i in range(block)]
        for i in range(block):
            cov[i][i] += (scale[i] * 0.5) ** 2 * (1.0 + rnd.random())
        off = b * block
        for i in range(block):
            for j in range(i if upper else 0, block):
                yield ('        <Covariance_Record row="%d" column="%d">%.15E</Covariance_Record>\n'
                       % (off + i + 1, off + j + 1, cov[i][j]))
        b += 1


def pcv_per_block(block, upper):
    return block * (block + 1) // 2 if upper else block * block


def write_pcv(sink, rnd, limit, size_bytes, block, upper):
    return write_list(sink, "SST_PCV_2", "List_of_Covariance_Records", 6,
                      pcv_records(rnd, block, upper), limit, size_bytes)


# --------------------------------------------------------------------------
# SST_PKI_2 and SST_PRD_2: orbits (SP3c records)

def orbit_state(t, raan0, u0, drad, phr):
    """Earth-fixed position (km) and velocity (km/s) at t seconds."""
    u = u0 + N_ORB * t
    cu, su = math.cos(u), math.sin(u)
    ci, si = math.cos(INCL), math.sin(INCL)
    co, so = math.cos(raan0), math.sin(raan0)
    # radial and along-track unit vectors in the inertial frame
    ex = cu * co - su * ci * so
    ey = cu * so + su * ci * co
    ez = su * si
    fx = -su * co - cu * ci * so
    fy = -su * so + cu * ci * co
    fz = cu * si
    # radius with a small once-per-orbit variation (eccentricity ~ 5e-4)
    r = A_KM + drad * math.cos(N_ORB * t + phr)
    rdot = -drad * N_ORB * math.sin(N_ORB * t + phr)
    vt = r * N_ORB
    xi, yi, zi = r * ex, r * ey, r * ez
    vxi = rdot * ex + vt * fx
    vyi = rdot * ey + vt * fy
    vzi = rdot * ez + vt * fz
    # to the Earth-fixed frame
    th = OMEGA_E * t
    c, s = math.cos(th), math.sin(th)
    x = c * xi + s * yi
    y = -s * xi + c * yi
    vx = c * vxi + s * vyi + OMEGA_E * y
    vy = -s * vxi + c * vyi - OMEGA_E * x
    return x, y, zi, vx, vy, vzi


def _sp3c_template(with_velocity):
    i = lambda n: " " * n
    t = [i(8) + "<SP3c_Record>\n",
         i(10) + "<Time_Information>\n",
         i(12) + "<GPS_Time>\n",
         i(14) + "<Start>\n",
         i(16) + "<Gregorian>\n",
         i(18) + "<Year>%04d</Year>\n",
         i(18) + "<Month>%02d</Month>\n",
         i(18) + "<Day_of_Month>%02d</Day_of_Month>\n",
         i(18) + "<Hour>%02d</Hour>\n",
         i(18) + "<Minute>%02d</Minute>\n",
         i(18) + "<Second>%09.6f</Second>\n",
         i(16) + "</Gregorian>\n",
         i(14) + "</Start>\n",
         i(12) + "</GPS_Time>\n",
         i(10) + "</Time_Information>\n",
         i(10) + "<List_of_Satellite_IDs>\n",
         i(12) + "<L15>\n",
         i(14) + '<Position unit="km">\n',
         i(16) + "<X>%.6f</X>\n",
         i(16) + "<Y>%.6f</Y>\n",
         i(16) + "<Z>%.6f</Z>\n",
         i(14) + "</Position>\n",
         i(14) + "<Clock>%.6f</Clock>\n"]
    if with_velocity:
        t += [i(14) + '<Velocity unit="dm/s">\n',
              i(16) + "<X>%.4f</X>\n",
              i(16) + "<Y>%.4f</Y>\n",
              i(16) + "<Z>%.4f</Z>\n",
              i(14) + "</Velocity>\n",
              i(14) + "<Clock_Change_Rate>%.6f</Clock_Change_Rate>\n"]
    t += [i(12) + "</L15>\n",
          i(10) + "</List_of_Satellite_IDs>\n",
          i(8) + "</SP3c_Record>\n"]
    return "".join(t)


PKI_TEMPLATE = _sp3c_template(False)
PRD_TEMPLATE = _sp3c_template(True)


def sp3c_records(rnd, epoch, with_velocity):
    raan0 = rnd.uniform(0.0, 2.0 * math.pi)
    u0 = rnd.uniform(0.0, 2.0 * math.pi)
    drad = rnd.uniform(2.0, 4.0)
    phr = rnd.uniform(0.0, 2.0 * math.pi)
    clk0 = rnd.uniform(-400.0, 400.0)        # microseconds
    drift = rnd.uniform(-2.0e-4, 2.0e-4)     # microseconds per second
    gauss = rnd.gauss
    rand = rnd.random
    cal = Calendar()
    us0 = epoch.us
    tmpl = PRD_TEMPLATE if with_velocity else PKI_TEMPLATE
    noise = 0.0 if with_velocity else 2.0e-5   # kinematic orbit noise, km
    k = 0
    while True:
        us = us0 + k * 1000000
        # the receiver's epochs are now and then a microsecond early
        if k and rand() < 0.05:
            us -= 1
        t = (us - us0) / 1e6
        x, y, z, vx, vy, vz = orbit_state(t, raan0, u0, drad, phr)
        clock = clk0 + drift * t + gauss(0.0, 2.0e-4)
        fields = cal.split(us)
        if with_velocity:
            rec = tmpl % (fields + (x, y, z, clock,
                                    vx * 1.0e4, vy * 1.0e4, vz * 1.0e4,
                                    drift * 1.0e4 + gauss(0.0, 1.0e-3)))
        else:
            rec = tmpl % (fields + (x + gauss(0.0, noise), y + gauss(0.0, noise),
                                    z + gauss(0.0, noise), clock))
        yield rec
        k += 1


def write_sp3c(sink, rnd, epoch, limit, size_bytes, product):
    return write_list(sink, product, "List_of_SP3c_Records", 6,
                      sp3c_records(rnd, epoch, product == "SST_PRD_2"), limit, size_bytes)


# --------------------------------------------------------------------------
# SST_PRM_2: rotations

PRM_TEMPLATE = "".join([
    "        <Rotation_Record>\n",
    "          <Time_Information>\n",
    "            <Time_Since_Reference_Epoch>%.6f</Time_Since_Reference_Epoch>\n",
    "          </Time_Information>\n",
    "          <Quaternions>\n",
    "            <Q1>%.16f</Q1>\n",
    "            <Q2>%.16f</Q2>\n",
    "            <Q3>%.16f</Q3>\n",
    "            <Q4>%.16f</Q4>\n",
    "          </Quaternions>\n",
    "        </Rotation_Record>\n",
])


def prm_records(rnd):
    phase = rnd.uniform(0.0, 2.0 * math.pi)
    wob = rnd.uniform(1.0e-3, 3.0e-3)
    k = 0
    while True:
        t = float(k)
        yield PRM_TEMPLATE % ((t,) + attitude_quaternion(t, phase, wob))
        k += 1


def write_prm(sink, rnd, limit, size_bytes):
    return write_list(sink, "SST_PRM_2", "List_of_Rotation_Records", 6,
                      prm_records(rnd), limit, size_bytes)


# --------------------------------------------------------------------------
# SST_PRP_2: embedded PDF documents

def _pdf_escape(s):
    return s.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def make_pdf(lines):
    """A small valid one-page PDF showing the given lines of text."""
    content = ["BT", "/F1 14 Tf", "72 770 Td", "18 TL"]
    for ln in lines:
        content.append("(%s) '" % _pdf_escape(ln))
    content.append("ET")
    stream = ("\n".join(content) + "\n").encode("latin-1")
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        b"/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"endstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        b"<< /Title (%s) /Producer (l2gen.py) >>" % _pdf_escape(lines[0]).encode("latin-1"),
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n" % (len(objs) + 1)
    out += b"0000000000 65535 f \n"
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += (b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n"
            % (len(objs) + 1, len(objs), xref))
    return bytes(out)


def sample_pdf(rnd, k, total, seed, min_bytes=0):
    """A one-page report; with min_bytes, its table runs on until the PDF has
    about that many bytes."""
    lines = ["L2SAMPLE SST_PRP_2 sample document %d%s" % (k + 1, " of %d" % total if total else ""),
             "Generated by tools/l2gen.py with seed %d." % seed,
             "Orbit determination quality report (synthetic data):"]
    size = 900  # the PDF around the lines
    arcs = rnd.randint(3, 6)
    j = 0
    while j < arcs or size < min_bytes:
        line = ("  arc %02d: rms %.3f cm, %d epochs, %.1f%% accepted"
                % (j % 100 + 1, rnd.uniform(1.5, 3.5), rnd.randint(5000, 86400),
                   rnd.uniform(95.0, 99.9)))
        lines.append(line)
        size += len(line) + 4
        j += 1
    return make_pdf(lines)


def b64_lines(data):
    """Base64 of data, wrapped at 76 characters per line, each line ended with LF."""
    return base64.encodebytes(data).decode("ascii")


def write_b64_file(sink, path):
    step = 57 * 4096          # a multiple of 57 bytes keeps the 76-character lines
    with open(path, "rb") as f:
        while True:
            chunk = f.read(step)
            if not chunk:
                break
            sink.write(base64.encodebytes(chunk).decode("ascii"))


def write_prp(sink, rnd, docs, size_bytes, pdf_path, seed, docs_given=False):
    """Documents until the file has size_bytes, or `docs` of them; both given:
    `docs` documents that share size_bytes."""
    product_head(sink, "SST_PRP_2")
    sink.write("      <List_of_PDF_Files>\n")
    # Base64 text: 4 characters per 3 bytes, a line break per 57 bytes.
    per_doc = (size_bytes * 57 // 77 // docs) if size_bytes is not None and docs_given and docs else 0
    count = 0
    while True:
        if size_bytes is not None and not per_doc:
            if sink.n >= size_bytes - 80:
                break
        elif count >= docs:
            break
        # The base64 text is not indented, as base64 writers put it.
        sink.write('        <PDF_File encoding="Base64">\n')
        if pdf_path:
            write_b64_file(sink, pdf_path)
        else:
            total = docs if size_bytes is None or per_doc else 0
            sink.write(b64_lines(sample_pdf(rnd, count, total, seed, per_doc)))
        sink.write("</PDF_File>\n")
        count += 1
    sink.write("      </List_of_PDF_Files>\n")
    product_tail(sink, "SST_PRP_2")
    return count


# --------------------------------------------------------------------------
# header file

def write_hdr(sink, epoch, name):
    base = name.rsplit(".", 1)[0] if "." in name else name
    start = epoch.dt.replace(microsecond=0)
    stop = start + datetime.timedelta(seconds=86399)
    iso = lambda d: d.strftime("%Y-%m-%dT%H:%M:%S")
    created = stop + datetime.timedelta(days=2, hours=3, minutes=14, seconds=5)
    sink.write(XML_DECL)
    sink.write("""\
<Earth_Explorer_Header>
  <Fixed_Header>
    <File_Name>%(base)s</File_Name>
    <File_Description>Level 2 precise science orbit: rotation quaternions</File_Description>
    <Notes>Synthetic sample written by tools/l2gen.py</Notes>
    <Mission>L2SAMPLE</Mission>
    <File_Class>TEST</File_Class>
    <File_Type>SST_PSO_2</File_Type>
    <Validity_Period>
      <Validity_Start>UTC=%(start)s</Validity_Start>
      <Validity_Stop>UTC=%(stop)s</Validity_Stop>
    </Validity_Period>
    <File_Version>0001</File_Version>
    <Source>
      <System>L2GEN</System>
      <Creator>l2gen.py</Creator>
      <Creator_Version>1.0</Creator_Version>
      <Creation_Date>UTC=%(created)s</Creation_Date>
    </Source>
  </Fixed_Header>
  <Variable_Header>
    <MPH>
      <Product>%(base)s</Product>
      <Proc_Stage_Code>TEST</Proc_Stage_Code>
      <Ref_Doc>L2SAMPLE-ICD-0001</Ref_Doc>
      <Proc_Center>L2GEN</Proc_Center>
      <Proc_Time>UTC=%(created)s</Proc_Time>
      <Software_Version>L2GEN/1.0</Software_Version>
      <Product_Err>0</Product_Err>
      <Tot_Size unit="bytes">00000000000000000000</Tot_Size>
    </MPH>
    <SPH>
      <SPH_Descriptor>SST_PSO_2 Specific Product Header</SPH_Descriptor>
      <Sensing_Time_Info>
        <First_Time>UTC=%(start)s</First_Time>
        <Last_Time>UTC=%(stop)s</Last_Time>
      </Sensing_Time_Info>
      <SST_PSO_2>
        <SST_PRM_2>
          <Time_Scale>GPS</Time_Scale>
          <Sampling unit="s">1.0</Sampling>
          <Epoch_Information>
            <Reference>%(ref)s</Reference>
          </Epoch_Information>
        </SST_PRM_2>
      </SST_PSO_2>
    </SPH>
  </Variable_Header>
</Earth_Explorer_Header>
""" % {"base": base, "start": iso(start), "stop": iso(stop), "created": iso(created),
       "ref": epoch.reference_text()})


# --------------------------------------------------------------------------
# driver

def generate(kind, out, args, epoch, name_for_hdr):
    """Writes one file of `kind` to `out` (path or "-"); returns the count."""
    rnd = random.Random(args.seed)
    size_bytes = int(args.size_mb * MB) if args.size_mb is not None else None
    sink = Sink(out)
    try:
        if kind == "egg":
            n = write_egg(sink, rnd, epoch, args.records, size_bytes)
        elif kind == "pcv":
            limit = args.records
            if args.blocks is not None:
                limit = args.blocks * pcv_per_block(args.pcv_block, args.pcv_upper)
            n = write_pcv(sink, rnd, limit, size_bytes, args.pcv_block, args.pcv_upper)
        elif kind in ("pki", "prd"):
            n = write_sp3c(sink, rnd, epoch, args.records, size_bytes, PRODUCTS[kind][0])
        elif kind == "prm":
            n = write_prm(sink, rnd, args.records, size_bytes)
        elif kind == "prp":
            docs = args.docs if args.docs is not None else (
                args.records if args.records is not None else 2)
            n = write_prp(sink, rnd, docs, size_bytes, args.pdf, args.seed,
                          docs_given=args.docs is not None)
        elif kind == "hdr":
            write_hdr(sink, epoch, name_for_hdr)
            n = 1
        else:
            raise ValueError(kind)
    finally:
        sink.close()
    return n


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="l2gen.py",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Write sample Level-2 XML product files (and the header file) "
                    "for l2xml2ascii, deterministically from a seed, streaming.",
        epilog="""\
types:
  egg  EGG_NOM_2 gravity gradients       pki  SST_PKI_2 kinematic orbit
  pcv  SST_PCV_2 covariance elements     prd  SST_PRD_2 reduced-dynamic orbit
  prm  SST_PRM_2 rotation quaternions    prp  SST_PRP_2 embedded PDF documents
  hdr  header file with the epoch reference of SST_PRM_2 (extension .HDR)

A record is one GG_time_Record, Covariance_Record, SP3c_Record or
Rotation_Record; for prp it is one PDF_File (--docs, or --records).
Every time written is GPS time, as in the products (no leap seconds, nothing
is UTC), and so is --epoch. Time series are sampled at 1 s: SST_PKI_2 and
SST_PRD_2 epochs from --epoch, SST_PRM_2 times from 0 s after the header's
epoch reference, which is --epoch; EGG GPS_Time, in seconds since 1980-01-06,
starts 15 s after --epoch (941068815.000000 by default: 2009-11-01 00:00:15).
l2xml2ascii writes each output beside its input (or into --out-dir), so the
tables of a generated file land beside it.
Without --out the file gets its default name in the current directory, e.g.
  L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.xml
The path written is printed on standard output (not with --out -).

examples:
  l2gen.py egg --records 86400 --seed 7
  l2gen.py pki --records 100 --seed 1 --epoch "2009-12-31 23:58:30.000000" --out -
  l2gen.py egg --size-mb 2000 --seed 3 --out /tmp/big.xml
  l2gen.py prp --docs 3 --pdf report.pdf --seed 1
  l2gen.py --all examples --records 5 --seed 1 --pcv-block 3
""")
    p.add_argument("type", nargs="?", choices=sorted(PRODUCTS),
                   help="what to write: egg, pcv, pki, prd, prm, prp or hdr")
    p.add_argument("--records", type=int, metavar="N",
                   help="number of records to write")
    p.add_argument("--size-mb", type=float, metavar="M",
                   help="instead of --records: write records until the file has "
                        "about M megabytes (10^6 bytes)")
    p.add_argument("--seed", type=int, default=1, metavar="S",
                   help="seed of the random generator (default 1)")
    p.add_argument("--out", metavar="FILE",
                   help="output file, '-' for standard output (default: the "
                        "type's default name in the current directory)")
    p.add_argument("--all", metavar="DIR",
                   help="write one file of every type (and the header) into DIR "
                        "with their default names and print the names")
    p.add_argument("--epoch", default=DEFAULT_EPOCH, metavar="'YYYY-MM-DD hh:mm:ss.ssssss'",
                   help="start epoch of the time series and the header's epoch "
                        "reference (GPS), default %r" % DEFAULT_EPOCH)
    p.add_argument("--docs", type=int, metavar="K",
                   help="prp: number of PDF documents (default: --records, or 2; "
                        "2 with --all); with --size-mb, that many documents share the size")
    p.add_argument("--pdf", metavar="FILE",
                   help="prp: embed this file's bytes in every document instead "
                        "of a generated one-page PDF")
    p.add_argument("--pcv-block", type=int, choices=(3, 6), default=6,
                   help="pcv: size of the covariance blocks (default 6)")
    p.add_argument("--pcv-upper", action="store_true",
                   help="pcv: write only the upper triangle of each block")
    p.add_argument("--blocks", type=int, metavar="B",
                   help="pcv: instead of --records, write B whole blocks")
    args = p.parse_args(argv)

    if (args.type is None) == (args.all is None):
        p.error("give exactly one of TYPE or --all DIR")
    if args.all is not None and args.out is not None:
        p.error("--out cannot be used with --all")
    if args.size_mb is not None and (args.records is not None or args.blocks is not None):
        p.error("--size-mb and --records/--blocks exclude each other")
    if args.size_mb is not None and args.size_mb <= 0:
        p.error("--size-mb must be positive")
    for opt in ("records", "docs", "blocks"):
        v = getattr(args, opt)
        if v is not None and v < 0:
            p.error("--%s must not be negative" % opt)
    if args.size_mb is None and args.records is None:
        ok = (args.type == "hdr" or (args.type == "prp" and args.docs is not None)
              or (args.type == "pcv" and args.blocks is not None))
        if not ok:
            p.error("give --records N (or --size-mb M)")
    if args.pdf is not None and not os.path.isfile(args.pdf):
        p.error("--pdf: no such file: %s" % args.pdf)
    try:
        args.epoch_obj = Epoch(args.epoch)
    except ValueError as e:
        p.error(str(e))
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    epoch = args.epoch_obj
    if args.pdf:
        size = os.path.getsize(args.pdf)
        if size * 4 // 3 > 9_000_000:
            print("l2gen.py: warning: the base64 text of %s exceeds libxml2's default "
                  "limit of 10,000,000 characters per text node" % args.pdf, file=sys.stderr)
    if args.all is not None:
        os.makedirs(args.all, exist_ok=True)
        hdr_name = default_name("hdr", epoch)
        if args.docs is None:
            args.docs = 2
        if args.size_mb is None and args.blocks is None:
            # whole covariance blocks: at least --records elements
            per = pcv_per_block(args.pcv_block, args.pcv_upper)
            args.blocks = max(1, -(-args.records // per))
        for kind in ALL_ORDER:
            name = default_name(kind, epoch)
            generate(kind, os.path.join(args.all, name), args, epoch, hdr_name)
            print(name)
        return 0
    kind = args.type
    out = args.out if args.out is not None else default_name(kind, epoch)
    name_for_hdr = os.path.basename(out) if out != "-" else default_name("hdr", epoch)
    generate(kind, out, args, epoch, name_for_hdr)
    if out != "-":
        print(out)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # e.g. piped into head: stop quietly
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        sys.exit(1)
