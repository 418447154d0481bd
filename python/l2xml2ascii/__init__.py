"""Level-2 products straight into numpy.

The converter's own conversion (no second parser, no text read back) fills
numpy arrays, one per column of the program's tables, with the values the
program prints:

    import l2xml2ascii
    tables = l2xml2ascii.read("L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRD1.xml")
    orbit = tables["SST_PRD_2"]
    orbit["X"], orbit["gps_time"]          # float64 arrays, metres and seconds
    orbit.schema                           # the columns: name, unit, dtype, format

- ``read(path)``: every product section of one file, as a dict by product name.
- ``iter_blocks(path)``: the same, in blocks, from a conversion on its own thread.
- ``read_many(paths)``: several files at once in threads.
- ``schema(product)``: a product's columns without reading anything.
- ``to_datetime64(seconds, scale)``: ``gps_time`` columns as datetime64.

Failures raise a subclass of ``ConversionError`` named after their kind
(``ParseError``, ``NoProductError``, ...) carrying the program's failure line
and the tables converted before it; a file that cannot be opened raises
``FileNotFoundError``, ``PermissionError`` or ``IsADirectoryError`` as
``open()`` would.  The program's ``MESSAGE:`` lines become warnings of the
category ``ConversionWarning``.  Nothing is printed.
"""
import errno
import os
import stat
import warnings
from concurrent.futures import ThreadPoolExecutor
from typing import NamedTuple

import numpy as np

from . import _core
from ._time import LEAP_SECONDS, to_datetime64

__all__ = [
    "__version__", "read", "iter_blocks", "read_many", "schema", "products", "to_datetime64",
    "LEAP_SECONDS", "Table", "Documents", "Column", "BlockReader", "ConversionWarning",
    "ConversionError", "CannotOpenError", "ReadError", "ParseError", "NoProductError",
    "BadEpochError", "CannotCreateError", "WriteError", "UnderivableNameError",
    "AttributeTooLongError", "OutOfMemoryError",
]

__version__ = _core.__version__  # the converter's

DOCUMENTS_PRODUCT = "SST_PRP_2"


# ---------------------------------------------------------------------------
# Warnings and errors

class ConversionWarning(UserWarning):
    """A ``MESSAGE:`` line of the conversion (text that fits no column, ...)."""


class ConversionError(Exception):
    """A failure of the conversion of one file.

    ``str(error)`` is the program's failure line (``TAIHEN: ...``).
    Attributes: ``path`` (the product file), ``kind`` (the failure's kind),
    ``lines`` (every failure line of the file, in order), ``details``
    (libxml2's own messages about the file, as it wrote them) and ``tables``
    (what ``read`` would have returned: the records converted before the
    failure, which the program keeps in its tables too).
    """

    kind = "failure"

    def __init__(self, message, *, path=None, lines=(), details="", tables=None):
        super().__init__(message)
        self.path = path
        self.lines = list(lines)
        self.details = details
        self.tables = {} if tables is None else tables


class CannotOpenError(ConversionError):
    """The converter could not open a file that the operating system opens."""
    kind = "cannot_open"


class ReadError(ConversionError):
    """Reading or decompressing the file failed (the decoder's reason)."""
    kind = "read_error"


class ParseError(ConversionError):
    """The file is not well-formed XML (or is empty)."""
    kind = "parse_failure"


class NoProductError(ConversionError):
    """The file holds no product section (a header file given as product...)."""
    kind = "no_product"


class BadEpochError(ConversionError):
    """The header's epoch reference is not ``YYYY-MM-DD hh:mm:ss GPS``."""
    kind = "bad_epoch"


class CannotCreateError(ConversionError):
    """An output could not be created."""
    kind = "cannot_create"


class WriteError(ConversionError):
    """An output could not be written."""
    kind = "write_error"


class UnderivableNameError(ConversionError):
    """No output names can be derived from the file's name."""
    kind = "underivable_name"


class AttributeTooLongError(ConversionError):
    """An attribute value too long to read."""
    kind = "attribute_too_long"


class OutOfMemoryError(ConversionError, MemoryError):
    """The conversion ran out of memory."""
    kind = "out_of_memory"


_ERRORS = {cls.kind: cls for cls in (
    CannotOpenError, ReadError, ParseError, NoProductError, BadEpochError, CannotCreateError,
    WriteError, UnderivableNameError, AttributeTooLongError, OutOfMemoryError)}


def _check_openable(path):
    """Raises what ``open(path)`` would raise for a file that cannot be read."""
    mode = os.stat(path).st_mode
    if stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if stat.S_ISREG(mode):  # a pipe is left alone: opening it would meet its writer
        os.close(os.open(path, os.O_RDONLY | getattr(os, "O_CLOEXEC", 0)))


# ---------------------------------------------------------------------------
# Tables

class Column(NamedTuple):
    """One column of a product's table.

    ``name`` as ``--column-names`` shows it (without the unit), ``unit``
    (``""`` when the values are as in the file), ``dtype`` (numpy), ``format``
    (its printf format in the program's table), ``blanks_before`` (blanks
    before it on a table line) and ``unit_in_heading`` (``--column-names``
    shows ``name[unit]``).
    """
    name: str
    unit: str
    dtype: np.dtype
    format: str
    blanks_before: int
    unit_in_heading: bool

    @property
    def heading(self):
        """The column's name as ``--column-names`` shows it: ``X[m]``, ``clock``."""
        if self.unit_in_heading and self.unit:
            return "%s[%s]" % (self.name, self.unit)
        return self.name


def _schema(product):
    return tuple(Column(name, unit, np.dtype(dtype), fmt, blanks, in_heading)
                 for name, unit, dtype, fmt, blanks, in_heading in _core.schema(product))


_SCHEMAS = {}


def schema(product):
    """The column descriptions (``Column``) of a product, e.g. ``schema("SST_PKI_2")``.

    Empty for ``SST_PRP_2``, whose documents are no table.  Raises
    ``ValueError`` for an unknown product.
    """
    if product not in _SCHEMAS:
        _SCHEMAS[product] = _schema(product)
    return _SCHEMAS[product]


def products():
    """The names of the products the converter knows, in its order."""
    return tuple(_core.products())


class Table:
    """One product's records, column by column: ``table["X"]`` is a numpy array.

    Columns keep the table's order (``list(table)`` names them); a column is
    found by its name or by its heading (``"X"`` or ``"X[m]"``).  ``schema``
    describes the columns, ``product`` and ``path`` tell where the values
    come from, ``rows`` is the number of records.
    """

    def __init__(self, product, path, arrays):
        self.product = product
        self.path = path
        self.schema = schema(product)
        self._arrays = dict(zip((c.name for c in self.schema), arrays))
        self._headings = {c.heading: c.name for c in self.schema}

    def __getitem__(self, name):
        try:
            return self._arrays[name]
        except KeyError:
            if name in self._headings:
                return self._arrays[self._headings[name]]
            raise KeyError("%s has no column %r (columns: %s)"
                           % (self.product, name, ", ".join(self._arrays))) from None

    def __contains__(self, name):
        return name in self._arrays or name in self._headings

    def __iter__(self):
        return iter(self._arrays)

    def __len__(self):
        return len(self._arrays)

    def keys(self):
        return self._arrays.keys()

    def values(self):
        return self._arrays.values()

    def items(self):
        return self._arrays.items()

    @property
    def rows(self):
        """The number of records."""
        return len(next(iter(self._arrays.values()))) if self._arrays else 0

    def to_pandas(self):
        """The table as a ``pandas.DataFrame`` (needs pandas), columns by name."""
        import pandas
        return pandas.DataFrame(self._arrays, copy=False)

    def __repr__(self):
        return "<Table %s: %d columns, %d records from %s>" % (
            self.product, len(self), self.rows, self.path)


class Documents(list):
    """The documents of an ``SST_PRP_2`` section, one ``bytes`` each, in order."""

    def __init__(self, product, path, documents):
        super().__init__(documents)
        self.product = product
        self.path = path


def _result(product, arrays, documents, path):
    if product == DOCUMENTS_PRODUCT:
        return Documents(product, path, documents)
    return Table(product, path, arrays)


# ---------------------------------------------------------------------------
# Conversion

def _native(path):
    """A path for the converter: bytes as the operating system takes them."""
    return os.fsencode(path)


def _product_list(products):
    if products is None:
        return None
    if isinstance(products, str):
        products = [products]
    return [str(p) for p in products]


def _prepare(path, header, products):
    path = os.fspath(path)
    header = None if header is None else os.fspath(header)
    _check_openable(path)
    if header is not None:
        _check_openable(header)
    return path, header, _product_list(products)


def _convert(path, header, products):
    path, header, products = _prepare(path, header, products)
    raw = _core.convert(_native(path), None if header is None else _native(header), products)
    return path, header, raw


class _Messages:
    """Sorts a conversion's message lines as they come."""

    def __init__(self, path, header):
        self.path = path
        self.header = header
        self.failures = []   # (kind, line)
        self.details = []

    def take(self, kind, is_failure, line, stacklevel):
        if is_failure:
            self.failures.append((kind, line))
        elif kind == "parser":
            self.details.append(line)
        elif kind == "warning":
            warnings.warn(line.rstrip("\n"), ConversionWarning, stacklevel=stacklevel + 1)

    def error(self, tables):
        """The exception for the failures met, or None."""
        if not self.failures:
            return None
        kind, line = self.failures[0]
        if kind == "cannot_open":
            # Opened by the check, refused by the conversion: ask the system again.
            for name in (self.path, self.header):
                if name is not None:
                    _check_openable(name)
        cls = _ERRORS.get(kind, ConversionError)
        return cls(line.rstrip("\n"), path=self.path,
                   lines=[text.rstrip("\n") for _, text in self.failures],
                   details="".join(self.details), tables=tables)


def _finish(path, header, raw, stacklevel):
    tables, messages, failures = raw
    sorter = _Messages(path, header)
    for kind, is_failure, line in messages:
        sorter.take(kind, is_failure, line, stacklevel + 1)
    result = {}
    for product, arrays, documents in tables:
        result[product] = _result(product, arrays, documents, path)
    error = sorter.error(result)
    if error is None and failures:
        error = ConversionError("TAIHEN: %s: conversion failed" % path, path=path, tables=result)
    if error is not None:
        raise error
    return result


def read(path, *, header=None, products=None):
    """Converts one product file into arrays: ``{product name: Table}``.

    ``path`` is a product file, plain or compressed (gzip, xz, bzip2, zstd:
    recognised by content); ``header`` the header file holding the epoch
    reference added to ``SST_PRM_2`` times; ``products`` a product name or
    names to keep (default: all).  The result holds one entry per product
    section met: a ``Table`` of numpy arrays in the table's column order, or
    for ``SST_PRP_2`` a ``Documents`` list of ``bytes``.  Floats are
    ``float64`` except the gravity-gradient time (``numpy.longdouble``);
    flags are ``int16``, covariance indices ``int32``.

    The conversion runs without the GIL, on a thread of its own; Ctrl-C
    (``KeyboardInterrupt``) stops it.  Failures raise (see
    ``ConversionError``); ``MESSAGE:`` lines are warned as
    ``ConversionWarning``.
    """
    path, header, raw = _convert(path, header, products)
    return _finish(path, header, raw, stacklevel=2)


def read_many(paths, *, workers=None, header=None, products=None):
    """Converts several files at once, in threads: one result per path, in order.

    Each result is what ``read`` returns for that path, or the exception
    instance it raised: one bad file never stops the others.  ``workers``
    is the number of conversions at a time (default: one per CPU, at most
    one per file); the conversions run without the GIL.  Warnings are
    given in this thread, file by file, in the order of ``paths``.
    """
    paths = list(paths)
    if workers is None:
        workers = min(len(paths), os.cpu_count() or 1)
    workers = max(1, int(workers))

    def convert_one(path):
        try:
            return _convert(path, header, products)
        except Exception as error:  # handed back as that file's result
            return error

    with ThreadPoolExecutor(max_workers=workers) as pool:
        converted = list(pool.map(convert_one, paths))
    results = []
    for one in converted:
        if isinstance(one, Exception):
            results.append(one)
            continue
        try:
            results.append(_finish(*one, stacklevel=2))
        except Exception as error:
            results.append(error)
    return results


class BlockReader:
    """The blocks of one conversion that runs on its own thread.

    Iterating gives ``Table`` blocks of at most ``block_records`` records of
    one product (and for ``SST_PRP_2`` a ``Documents`` list of one document),
    in the order of the file.  At the end a failure of the conversion raises
    as in ``read`` (its ``tables`` is empty: its records were given in the
    blocks before).  ``close()``, leaving a ``with`` block, or dropping the
    reader stops the conversion and frees everything it holds.
    """

    def __init__(self, path, block_records, header, products, queue_blocks):
        path, header, products = _prepare(path, header, products)
        self.path = path
        self._messages = _Messages(path, header)
        self._stream = _core.BlockStream(_native(path),
                                         None if header is None else _native(header),
                                         products, int(block_records), int(queue_blocks))

    def __iter__(self):
        return self

    def __next__(self):
        while self._stream is not None:
            item = self._stream.next()
            if item is None:
                failures = self._stream.outcome()[0]
                self.close()
                error = self._messages.error({})
                if error is None and failures:
                    error = ConversionError("TAIHEN: %s: conversion failed" % self.path,
                                            path=self.path)
                if error is not None:
                    raise error
                break
            what, payload = item
            if what == "message":
                self._messages.take(*payload, stacklevel=2)
                continue
            product, arrays, documents = payload
            return _result(product, arrays, documents, self.path)
        raise StopIteration

    def close(self):
        """Stops the conversion (if it still runs) and waits for its thread."""
        stream, self._stream = getattr(self, "_stream", None), None
        if stream is not None:
            stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        self.close()


def iter_blocks(path, *, block_records=65536, header=None, products=None):
    """Blocks of the tables of one file as they are read (a ``BlockReader``).

    Use it as a context manager, or just loop over it::

        with l2xml2ascii.iter_blocks(path, products="SST_PKI_2") as blocks:
            for block in blocks:
                radius = numpy.hypot(numpy.hypot(block["X"], block["Y"]), block["Z"])

    The conversion runs on a thread of its own; at most two finished blocks
    wait for the loop, so memory stays flat whatever the file's size: about
    four blocks (a block of 65,536 orbit records is 2.6 MB, of gravity-gradient
    records 29 MB; a smaller ``block_records`` needs less).  Leaving the
    ``with`` block (or breaking out of a loop over an unnamed reader) stops
    the conversion, and so does Ctrl-C while the loop waits for a block.
    Arguments as for ``read``.
    """
    if int(block_records) < 1:
        raise ValueError("block_records must be positive")
    return BlockReader(path, block_records, header, products, queue_blocks=2)
