"""Paths of the build the tests run against, and the synthetic sets."""
import os
import pathlib
import subprocess

import pytest

from synthetic_cases import case_lines  # noqa: F401 (the tests take it from here)

BINARY_DIR = pathlib.Path(os.environ["TALLOW_BINARY_DIR"])
SOURCE_DIR = pathlib.Path(os.environ["TALLOW_SOURCE_DIR"])
PROGRAM = BINARY_DIR / "src" / "app" / "tallow"
DEMO_TABLES = BINARY_DIR / "data" / "demo" / "tables"
DEMO_INPUT = SOURCE_DIR / "data" / "demo" / "tallow.in"


def run_jsonl(tables, in_path, *extra):
    """The records `tallow group --format jsonl` writes, as text lines."""
    done = subprocess.run(
        [str(PROGRAM), "group", "--tables", str(tables), "--in", str(in_path),
         "--out", "-", "--format", "jsonl", "--quiet", *extra],
        capture_output=True, check=False)
    assert done.returncode in (0, 10), done.stderr
    return done.stdout.decode("utf-8").splitlines()


@pytest.fixture(scope="session")
def demo_tables():
    import tallow
    return tallow.Tables(str(DEMO_TABLES))


@pytest.fixture(scope="session", params=[3, 11])
def synthetic(request, tmp_path_factory):
    """(tables directory, case file, lines) of a synthetic set."""
    seed = request.param
    root = tmp_path_factory.mktemp(f"synth{seed}")
    tables, sources = root / "tables", root / "sources"
    for out, extra in ((tables, []), (sources, ["--sources"])):
        subprocess.run([str(PROGRAM), "tables", "synth", "--seed", str(seed), *extra, str(out)],
                       check=True, capture_output=True)
    lines = case_lines(sources, seed, 400)
    in_path = root / "cases.in"
    in_path.write_bytes("".join(l + "\n" for l in lines).encode("latin-1"))
    return tables, in_path, lines
