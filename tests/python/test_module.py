"""The tallow module against the program: the same records for the same lines."""
import json
import subprocess

import pytest

import tallow
from conftest import DEMO_INPUT, DEMO_TABLES, PROGRAM, run_jsonl


def demo_lines():
    return DEMO_INPUT.read_bytes().split(b"\n")[:-1]


def test_group_equals_program_on_demo(demo_tables):
    expected = [json.loads(r) for r in run_jsonl(DEMO_TABLES, DEMO_INPUT)]
    got = [tallow.group(demo_tables, line, line_number=n)
           for n, line in enumerate(demo_lines(), 1)]
    assert got == expected
    # Field order too: the dict follows the record.
    assert list(got[0]) == list(expected[0])


def test_group_and_group_lines_equal_program_on_synthetic_sets(synthetic):
    tables_dir, in_path, lines = synthetic
    tables = tallow.Tables(str(tables_dir))
    expected = [json.loads(r) for r in run_jsonl(tables_dir, in_path)]
    assert any("error" in r for r in expected) and any("groupCode" in r for r in expected)
    for jobs in (1, 3, 0):
        assert tallow.group_lines(tables, lines, jobs=jobs) == expected
    assert [tallow.group(tables, l, line_number=n) for n, l in enumerate(lines, 1)] == expected


def test_bytes_and_str_give_the_same_record(demo_tables):
    line = demo_lines()[0]
    as_str = line.decode("latin-1")
    record = tallow.group(demo_tables, line)
    assert tallow.group(demo_tables, as_str) == record
    # A line ending is not part of the line, as in a file.
    assert tallow.group(demo_tables, line + b"\r\n") == record
    assert tallow.group(demo_tables, as_str + "\n") == record
    # Bytes above 0x7F pass as they are, from bytes and from str alike.
    odd = line[:40] + b"\xe9\xff" + line[42:]
    assert tallow.group(demo_tables, odd) == tallow.group(demo_tables, odd.decode("latin-1"))


@pytest.mark.parametrize("line", ["\u0100" * 200, "D0000001" + "\u20ac" + " " * 190])
def test_str_above_latin1_raises_value_error(demo_tables, line):
    with pytest.raises(ValueError, match="U\\+00FF"):
        tallow.group(demo_tables, line)
    with pytest.raises(ValueError):
        tallow.group_lines(demo_tables, ["x", line])


def test_short_line_gives_the_jsonl_error_record(demo_tables):
    record = tallow.group(demo_tables, b"D0000001", line_number=7)
    assert record == {"line": 7, "caseIdentifier": "D0000001", "caseDate": "", "error":
                      "a line of 8 characters, shorter than 188: written without results"}


def test_bad_table_directory_raises_the_program_message(tmp_path):
    (tmp_path / "DXTAB8").write_bytes(b"not a table")
    with pytest.raises(RuntimeError) as raised:
        tallow.Tables(str(tmp_path))
    done = subprocess.run([str(PROGRAM), "group", "--tables", str(tmp_path), "--in",
                           str(DEMO_INPUT), "--out", "-", "--quiet"],
                          capture_output=True, check=False)
    assert done.returncode == 5
    message = str(raised.value)
    assert message.startswith(f"the tables in {tmp_path} failed to load: ")
    loader_message = message.split(": ", 1)[1]
    assert loader_message and loader_message in done.stderr.decode("utf-8")


def test_digest_equals_tables_id(demo_tables):
    done = subprocess.run([str(PROGRAM), "tables", "id", str(DEMO_TABLES)],
                          capture_output=True, check=True, text=True)
    assert len(demo_tables.digest) == 64
    assert demo_tables.digest in done.stdout


def test_group_file_writes_what_the_program_writes(demo_tables, tmp_path):
    for fmt in ("lines", "jsonl"):
        out = tmp_path / f"demo.{fmt}"
        tallow.group_file(demo_tables, str(DEMO_INPUT), str(out), format=fmt)
        done = subprocess.run([str(PROGRAM), "group", "--tables", str(DEMO_TABLES), "--in",
                               str(DEMO_INPUT), "--out", "-", "--format", fmt, "--quiet"],
                              capture_output=True, check=True)
        assert out.read_bytes() == done.stdout
    with pytest.raises(RuntimeError, match="not found.*exit status 3"):
        tallow.group_file(demo_tables, str(tmp_path / "missing.in"), str(tmp_path / "x.out"))
    with pytest.raises(ValueError):
        tallow.group_file(demo_tables, str(DEMO_INPUT), str(tmp_path / "x.out"), format="xml")


def test_explain_equals_program_trace(demo_tables):
    done = subprocess.run([str(PROGRAM), "explain", "--tables", str(DEMO_TABLES), "--in",
                           str(DEMO_INPUT), "--line", "29", "--format", "json"],
                          capture_output=True, check=True, text=True)
    expected = json.loads(done.stdout.splitlines()[0])
    trace = tallow.explain(demo_tables, demo_lines()[28], line_number=29)
    assert trace == expected
    assert "passes" in trace
    assert "error" in tallow.explain(demo_tables, b"short")


def test_group_frame(demo_tables):
    pandas = pytest.importorskip("pandas")
    lines = [l.decode("latin-1") for l in demo_lines()]
    frame = pandas.DataFrame({"case": lines}, index=range(100, 100 + len(lines)))
    grouped = tallow.group_frame(demo_tables, frame, column="case")
    assert list(grouped.index) == list(frame.index)
    expected = tallow.group_lines(demo_tables, lines)
    assert grouped["groupCode"].tolist() == [r["groupCode"] for r in expected]
    assert grouped["diagnosisLevels"].tolist() == [r["diagnosisLevels"] for r in expected]
