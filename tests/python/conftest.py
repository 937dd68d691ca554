"""Paths of the build the tests run against, and the synthetic sets."""
import os
import pathlib
import random
import re
import subprocess

import pytest

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


def case_lines(source_dir, seed, count):
    """Case lines over the codes of a table set's sources, with a few
    malformed fields and short lines among them."""
    rng = random.Random(seed)
    dx, px = [], []
    for path in sorted(pathlib.Path(source_dir).glob("*.txt")):
        codes = re.findall(r"^(?:row|entry) (\S+)", path.read_text("latin-1"), re.M)
        (dx if path.name.startswith("DXTAB") else px if path.name.startswith("SGTAB") else []
         ).extend(codes)
    assert dx and px
    lines = []
    for n in range(count):
        year = rng.randint(1998, 2003)
        case_date = f"{year}{rng.randint(1, 12):02d}{rng.randint(1, 28):02d}"
        birth = f"{rng.randint(0, 99):02d}{rng.randint(1, 12):02d}{rng.randint(1, 28):02d}"
        codes = "".join(f"{rng.choice(dx):<5}"[:5] for _ in range(rng.randint(0, 10)))
        procs = "".join(f"{rng.choice(px):<5}"[:5] for _ in range(rng.randint(0, 20)))
        line = (f"S{n:07d}" + birth + rng.choice("0123456789X") + " " * 6 + case_date
                + f"{rng.randint(0, 120):3d}" + rng.choice("12345 ")
                + f"{codes:<50}" + f"{procs:<100}" + " " * 5)
        if n % 17 == 5:
            line = line[:rng.randint(1, 187)]
        lines.append(line)
    return lines


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
