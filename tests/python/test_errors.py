"""Failures raise what Python expects, warnings warn, and nothing is printed."""
import os
import warnings

import pytest

import l2xml2ascii
from conftest import run_program


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return str(path)


def edited(source, old, new, target):
    with open(source, "rb") as f:
        data = f.read()
    assert old in data
    return write(target, data.replace(old, new, 1))


@pytest.fixture
def broken(samples, tmp_path):
    """{case: (path, header, error class)}: one file for every failure a read meets."""
    with open(samples["pki"][".gz"], "rb") as f:
        packed = f.read()
    name = "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_%s.xml"
    long_value = b"1" * 70000
    return {
        "not xml": (write(tmp_path / (name % "TXT1"), b"plain text\n"), None,
                    l2xml2ascii.ParseError),
        "empty": (write(tmp_path / (name % "EMP1"), b""), None, l2xml2ascii.ParseError),
        "truncated": (write(tmp_path / ((name % "TRU1") + ".gz"), packed[:len(packed) // 2]),
                      None, l2xml2ascii.ReadError),
        "header as product": (samples["hdr"], None, l2xml2ascii.NoProductError),
        "bad epoch": (samples["prm"][""], edited(samples["hdr"], b"2009-11-01 00:00:00.000000 GPS",
                                                 b"yesterday", tmp_path / "BAD.HDR"),
                      l2xml2ascii.BadEpochError),
        "long attribute": (edited(samples["pcv"][""], b'row="1"', b'row="' + long_value + b'"',
                                  tmp_path / (name % "LNG1")), None,
                           l2xml2ascii.AttributeTooLongError),
    }


CASES = ["not xml", "empty", "truncated", "header as product", "bad epoch", "long attribute"]


@pytest.mark.parametrize("case", CASES)
def test_failures_raise_their_kind_with_the_programs_lines(broken, tmp_path, capfd, case):
    path, header, error = broken[case]
    options = ["--hdr", header] if header else []
    status, out, err = run_program(path, *options, folder=str(tmp_path / "out"))
    failure_lines = [line for line in err.splitlines() if line.startswith("TAIHEN: ")]
    assert status == 1 and failure_lines
    capfd.readouterr()
    with pytest.raises(error) as raised:
        l2xml2ascii.read(path, header=header)
    e = raised.value
    assert isinstance(e, l2xml2ascii.ConversionError)
    assert str(e) == failure_lines[0] and e.lines == failure_lines
    assert e.path == path
    assert capfd.readouterr() == ("", "")
    # libxml2's own words, as the program shows them
    parser_lines = [line for line in err.splitlines(True)
                    if not line.startswith(("TAIHEN: ", "MESSAGE: "))]
    assert e.details == "".join(parser_lines)
    # the records converted before the failure, as the program keeps them
    for product, table in e.tables.items():
        with open(next((tmp_path / "out").glob("*%s*" % product)), "rb") as f:
            assert table.rows == len(f.read().splitlines())
    if case == "truncated":
        assert 0 < e.tables["SST_PKI_2"].rows < 300


def test_files_that_cannot_be_opened_raise_as_open_does(samples, tmp_path):
    with pytest.raises(FileNotFoundError):
        l2xml2ascii.read(tmp_path / "missing.xml")
    with pytest.raises(FileNotFoundError):
        l2xml2ascii.read(samples["prm"][""], header=tmp_path / "missing.HDR")
    with pytest.raises(IsADirectoryError):
        l2xml2ascii.read(tmp_path)
    with pytest.raises(IsADirectoryError):
        l2xml2ascii.iter_blocks(samples["prm"][""], header=tmp_path)
    if os.geteuid() != 0:  # root reads anything
        locked = write(tmp_path / "locked.xml", b"")
        os.chmod(locked, 0)
        with pytest.raises(PermissionError):
            l2xml2ascii.read(locked)


def test_messages_become_warnings_in_the_callers_thread(samples, tmp_path, capfd):
    odd = edited(samples["egg"][""], b"<GG_time_Record>", b"<GG_time_Record>stray text",
                 tmp_path / "L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_ODD1.xml")
    _, out, _ = run_program(odd, folder=str(tmp_path / "out"))
    messages = [line for line in out.splitlines() if line.startswith("MESSAGE: ")]
    assert messages
    capfd.readouterr()
    for reading in (lambda: l2xml2ascii.read(odd),
                    lambda: l2xml2ascii.read_many([odd, samples["pki"][""]])[0],
                    lambda: list(l2xml2ascii.iter_blocks(odd))):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert reading()
        assert [str(w.message) for w in caught] == messages
        assert {w.category for w in caught} == {l2xml2ascii.ConversionWarning}
        assert {w.filename for w in caught} == {__file__}
    assert capfd.readouterr() == ("", "")


def test_read_many_gives_each_file_its_result_in_order(samples, broken, tmp_path):
    paths = [samples["pki"][""], tmp_path / "missing.xml", broken["not xml"][0],
             samples["prd"][".xz"], broken["truncated"][0]]
    results = l2xml2ascii.read_many(paths, workers=2)
    assert list(results[0]) == ["SST_PKI_2"] and list(results[3]) == ["SST_PRD_2"]
    assert isinstance(results[1], FileNotFoundError)
    assert isinstance(results[2], l2xml2ascii.ParseError)
    assert isinstance(results[4], l2xml2ascii.ReadError) and results[4].tables
    single = l2xml2ascii.read(samples["prd"][".xz"])["SST_PRD_2"]
    assert all((results[3]["SST_PRD_2"][c] == single[c]).all() for c in single)
    assert l2xml2ascii.read_many([]) == []
