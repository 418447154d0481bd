"""Blocks from a conversion thread, stopping it early, and conversions side by side."""
import array
import fcntl
import gc
import os
import signal
import termios
import threading
import time

import numpy as np
import pytest

import l2xml2ascii
from conftest import generate


def threads():
    """The live threads of this process, the converter's own included."""
    live = 0
    for task in os.listdir("/proc/self/task"):
        try:
            with open("/proc/self/task/%s/stat" % task) as f:
                live += f.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
        except OSError:
            pass  # gone
    return live


def settles_to(count):
    """Whether the live threads come to `count`: a thread just joined may take
    a moment to leave /proc."""
    for _ in range(1000):
        if threads() == count:
            return True
        time.sleep(0.01)
    return False


def same_tables(a, b):
    return list(a) == list(b) and all(np.array_equal(a[c], b[c], equal_nan=True) for c in a)


@pytest.mark.parametrize("kind, form", [("egg", ""), ("pki", ".zst"), ("pcv", ".bz2")])
def test_blocks_put_together_are_what_read_gives(samples, kind, form):
    whole = l2xml2ascii.read(samples[kind][form])
    (product, table), = whole.items()
    with l2xml2ascii.iter_blocks(samples[kind][form], block_records=64) as blocks:
        parts = list(blocks)
    assert [p.rows for p in parts[:-1]] == [64] * (len(parts) - 1) and 0 < parts[-1].rows <= 64
    assert {(p.product, p.path) for p in parts} == {(product, samples[kind][form])}
    joined = {c: np.concatenate([p[c] for p in parts]) for c in table}
    assert same_tables(joined, table)


def test_documents_come_one_a_block(samples):
    documents = l2xml2ascii.read(samples["prp"][".gz"])["SST_PRP_2"]
    blocks = list(l2xml2ascii.iter_blocks(samples["prp"][".gz"]))
    assert [list(b) for b in blocks] == [[d] for d in documents]
    assert list(l2xml2ascii.iter_blocks(samples["prp"][""], products=["SST_PKI_2"])) == []


@pytest.fixture(scope="module")
def long_orbit(tmp_path_factory):
    return generate("pki", str(tmp_path_factory.mktemp("long")), 40000)


def test_closing_early_stops_the_conversion(long_orbit):
    before = threading.active_count()  # no converter's thread runs now
    with l2xml2ascii.iter_blocks(long_orbit, block_records=100) as blocks:
        first = next(blocks)
        assert settles_to(before + 1)
    assert settles_to(before)
    assert first.rows == 100 and next(blocks, None) is None
    for block in l2xml2ascii.iter_blocks(long_orbit, block_records=100):
        break  # the unnamed reader goes with the loop
    gc.collect()
    assert settles_to(before)
    reader = l2xml2ascii.iter_blocks(long_orbit, block_records=10)
    reader.close()
    reader.close()
    assert list(reader) == [] and settles_to(before)


def test_failures_end_the_blocks(samples, tmp_path):
    with open(samples["pki"][".gz"], "rb") as f:
        packed = f.read()
    cut = tmp_path / "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_CUT1.xml.gz"
    cut.write_bytes(packed[:len(packed) // 2])
    rows = 0
    with pytest.raises(l2xml2ascii.ReadError) as raised:
        for block in l2xml2ascii.iter_blocks(cut, block_records=16):
            rows += block.rows
    assert rows == l2xml2ascii.read_many([cut])[0].tables["SST_PKI_2"].rows
    assert raised.value.tables == {}


def test_two_conversions_at_once_give_what_they_give_alone(samples, long_orbit):
    files = [long_orbit, samples["egg"][".xz"]]
    alone = [l2xml2ascii.read(f) for f in files]
    results = [None, None]
    start = threading.Barrier(2)

    def convert(i):
        start.wait()
        if i == 0:
            results[i] = l2xml2ascii.read(files[i])
        else:
            parts = list(l2xml2ascii.iter_blocks(files[i], block_records=7))
            results[i] = {"EGG_NOM_2": {c: np.concatenate([p[c] for p in parts])
                                        for c in parts[0]}}

    workers = [threading.Thread(target=convert, args=(i,)) for i in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for together, single in zip(results, alone):
        assert list(together) == list(single)
        assert all(same_tables(together[p], single[p]) for p in single)


def test_ctrl_c_stops_a_read(samples, tmp_path):
    """The conversion waits on a pipe; the interrupt is raised, the thread gone."""
    pipe = tmp_path / "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PIPE.xml"
    os.mkfifo(pipe)
    with open(samples["pki"][""], "rb") as f:
        data = f.read()
    heard = threading.Event()

    def interrupt(*_):
        heard.set()
        raise KeyboardInterrupt

    def feed():
        # Read and write: opens at once, and nothing written is ever lost.
        writer = os.open(pipe, os.O_RDWR)
        try:
            os.write(writer, data[:len(data) // 2])
            unread = array.array("i", [1])
            while unread[0]:  # until the conversion has taken it all
                fcntl.ioctl(writer, termios.FIONREAD, unread)
                time.sleep(0.01)
            signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)
            heard.wait(600)  # the pipe stays open until the handler has run
        finally:
            os.close(writer)

    before = threading.active_count()  # no converter's thread runs now
    previous = signal.signal(signal.SIGINT, interrupt)
    feeder = threading.Thread(target=feed)
    try:
        feeder.start()
        with pytest.raises(KeyboardInterrupt):
            l2xml2ascii.read(pipe)
    finally:
        feeder.join()
        signal.signal(signal.SIGINT, previous)
    assert heard.is_set() and settles_to(before)
