"""Sample products and the program's own tables, shared by the module's tests.

The products are written by tools/l2gen.py under the sample prefix, in every
form the program reads (plain, gzip, xz, bzip2, zstd); the program that the
build made (L2_PROGRAM) converts them for comparison.
"""
import glob
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("L2_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
PROGRAM = os.environ.get("L2_PROGRAM", os.path.join(SOURCE, "build", "l2xml2ascii"))
GENERATOR = os.path.join(SOURCE, "tools", "l2gen.py")

# generator type -> product, record count
KINDS = {"egg": ("EGG_NOM_2", 120), "pcv": ("SST_PCV_2", 7), "pki": ("SST_PKI_2", 300),
         "prd": ("SST_PRD_2", 300), "prm": ("SST_PRM_2", 300), "prp": ("SST_PRP_2", 3)}
FORMS = {"": None, ".gz": ["gzip", "-c"], ".xz": ["xz", "-c"], ".bz2": ["bzip2", "-c"],
         ".zst": ["zstd", "-q", "-c"]}


def generate(kind, folder, records, *extra):
    """Writes one sample product with its default name into `folder`."""
    count = ["--blocks", str(records)] if kind == "pcv" else ["--records", str(records)]
    out = subprocess.run([sys.executable, GENERATOR, kind, "--seed", "5"] + count + list(extra),
                         cwd=folder, check=True, capture_output=True, text=True).stdout
    return os.path.join(folder, out.split()[-1])


def compress(path, form):
    packed = path + form
    with open(packed, "wb") as out:
        subprocess.run(FORMS[form] + [path], stdout=out, check=True)
    return packed


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """{kind: {form: path}} for every product type and form, and "hdr"."""
    folder = str(tmp_path_factory.mktemp("samples"))
    files = {"hdr": generate("hdr", folder, 1)}
    for kind, (_, records) in KINDS.items():
        plain = generate(kind, folder, records)
        files[kind] = {form: plain if not form else compress(plain, form) for form in FORMS}
    return files


def run_program(path, *options, folder):
    """The program on one file, outputs into `folder`: (status, stdout, stderr)."""
    os.makedirs(folder, exist_ok=True)
    done = subprocess.run([PROGRAM, "--out-dir", folder] + list(options) + [path],
                          capture_output=True)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def program_output(path, *options, folder):
    """The bytes of the program's one output for `path`."""
    status, _, err = run_program(path, *options, folder=folder)
    assert status == 0, err
    outputs = glob.glob(os.path.join(folder, "*"))
    assert len(outputs) == 1, outputs
    with open(outputs[0], "rb") as f:
        return f.read()
