"""Every array, printed with its column's format, is the program's table."""
import gzip
import warnings

import numpy as np
import pytest

import l2xml2ascii
from conftest import FORMS, KINDS, program_output, run_program


def printf(fmt, value):
    """One value as C's printf prints it with `fmt` ("%15.6f", "%20.9Lf", "%d")."""
    if fmt.endswith("Lf"):
        # Python's % has no long double: numpy prints its exact digits.
        width, precision = (int(n) for n in fmt[1:-2].split("."))
        text = np.format_float_positional(value, precision=precision, unique=False,
                                          fractional=True, trim="k")
        return text.rjust(width)
    return fmt % value.item()


def table_text(table):
    columns = [(c, table[c.name]) for c in table.schema]
    lines = ("".join(" " * c.blanks_before + printf(c.format, a[i]) for c, a in columns) + "\n"
             for i in range(table.rows))
    return "".join(lines).encode()


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("kind", KINDS)
def test_arrays_print_as_the_programs_table(samples, tmp_path, kind, form):
    product = KINDS[kind][0]
    options = ["--hdr", samples["hdr"]] if kind == "prm" else []
    expected = program_output(samples[kind][form], *options, folder=str(tmp_path))
    header = samples["hdr"] if kind == "prm" else None
    result = l2xml2ascii.read(samples[kind][form], header=header)
    assert list(result) == [product]
    if kind == "prp":
        assert len(result[product]) == KINDS[kind][1]
        assert b"".join(result[product]) == expected
        assert all(doc.startswith(b"%PDF") for doc in result[product])
    else:
        assert result[product].rows > 0
        assert table_text(result[product]) == expected


@pytest.mark.parametrize("kind, old, new", [
    ("egg", b"<XX>0</XX>", b""),            # a flag: -1
    ("egg", b"<YY>", b"<YY_>"),             # a gradient: nan
    ("pcv", b' row="1"', b""),              # an index: -999999
    ("pki", b"<Clock>", b"<Clock_>"),       # the clock: nan
])
def test_missing_values_print_as_the_program_prints_them(samples, tmp_path, kind, old, new):
    with open(samples[kind][""], "rb") as f:
        data = f.read()
    path = tmp_path / ("L2SAMPLE%s_20091101T000000_20091101T235959_GAP1.xml"
                       % ("EGG_NOM_2" if kind == "egg" else "SST_PSO_2"))
    path.write_bytes(data.replace(old, new, 1).replace(old.replace(b"<", b"</"),
                                                       new.replace(b"<", b"</"), 1))
    expected = program_output(str(path), folder=str(tmp_path / "out"))
    assert b"nan" in expected or b" -1 " in expected or b"-999999" in expected
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", l2xml2ascii.ConversionWarning)
        (table,) = l2xml2ascii.read(path).values()
    assert table_text(table) == expected


def test_types_and_names_follow_the_tables(samples, tmp_path):
    assert [c.dtype for c in l2xml2ascii.schema("EGG_NOM_2")[:1]] == [np.dtype(np.longdouble)]
    assert {c.dtype for c in l2xml2ascii.schema("EGG_NOM_2") if c.name.startswith("flag")} == \
        {np.dtype(np.int16)}
    assert [c.dtype for c in l2xml2ascii.schema("SST_PCV_2")] == \
        [np.dtype(np.int32), np.dtype(np.int32), np.dtype(np.float64)]
    assert l2xml2ascii.schema("SST_PRP_2") == ()
    assert set(l2xml2ascii.products()) == {p for p, _ in KINDS.values()}
    for kind, (product, _) in KINDS.items():
        if kind == "prp":
            continue
        _, out, _ = run_program(samples[kind][""], "--column-names", folder=str(tmp_path / kind))
        with open(next((tmp_path / kind).iterdir()), "rb") as f:
            heading = f.readline().decode()
        table = l2xml2ascii.read(samples[kind][""])[product]
        assert heading == "# " + " ".join(c.heading for c in table.schema) + "\n"
        assert [table[c.heading] is table[c.name] for c in table.schema] == [True] * len(table)
        assert all(table[c.name].dtype == c.dtype for c in table.schema)


def test_values_are_the_computed_ones_not_the_printed_ones(samples):
    """Positions in km become metres by the converter's product, not its text."""
    orbit = l2xml2ascii.read(samples["pki"][""])["SST_PKI_2"]
    printed = np.array([float("%.6f" % x) for x in orbit["X"]])
    assert np.all(np.abs(orbit["X"] - printed) <= 5e-7)
    assert np.any(orbit["X"] != printed)


def test_a_table_goes_to_pandas_with_the_same_values(samples):
    """pandas is optional: without it this is skipped, nothing else needs it."""
    pytest.importorskip("pandas")
    orbit = l2xml2ascii.read(samples["pki"][""])["SST_PKI_2"]
    frame = orbit.to_pandas()
    assert list(frame.columns) == [c.name for c in orbit.schema]
    assert np.array_equal(frame["X"].to_numpy(), orbit["X"])


def test_a_file_the_fast_parser_gives_up_on_midway(samples, tmp_path):
    """Its records come once, from the reader, as the program's do."""
    with open(samples["pki"][""], "rb") as f:
        data = f.read()
    start = data.index(b"<Clock>", len(data) // 2) + len(b"<Clock>")
    end = data.index(b"</Clock>", start)
    path = tmp_path / "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_CDAT.xml"
    path.write_bytes(data[:start] + b"<![CDATA[" + data[start:end] + b"]]>" + data[end:])
    table = l2xml2ascii.read(path)["SST_PKI_2"]
    assert table.rows == KINDS["pki"][1]
    assert table_text(table) == program_output(str(path), folder=str(tmp_path / "out"))


def test_a_section_without_records_is_an_empty_table(tmp_path):
    path = tmp_path / "L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_NONE.xml.gz"
    with gzip.open(path, "wb") as f:
        f.write(b"<Data_Block><SST_PSO_2><SST_PKI_2><List_of_SP3c_Records>"
                b"</List_of_SP3c_Records></SST_PKI_2></SST_PSO_2></Data_Block>")
    tables = l2xml2ascii.read(path)
    assert list(tables) == ["SST_PKI_2"] and tables["SST_PKI_2"].rows == 0
    assert tables["SST_PKI_2"]["X"].dtype == np.float64
    assert list(l2xml2ascii.iter_blocks(path)) == []


def test_products_keeps_only_the_named_ones(samples):
    assert l2xml2ascii.read(samples["pki"][""], products=["SST_PRD_2"]) == {}
    assert list(l2xml2ascii.read(samples["pki"][".gz"], products="SST_PKI_2")) == ["SST_PKI_2"]
    with pytest.raises(ValueError):
        l2xml2ascii.read(samples["pki"][""], products=["SST_XXX_2"])
