"""The real `tallow serve` on a free loopback port, and a small HTTP client."""
import http.client
import json
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

BINARY_DIR = pathlib.Path(os.environ["TALLOW_BINARY_DIR"])
SOURCE_DIR = pathlib.Path(os.environ["TALLOW_SOURCE_DIR"])
PROGRAM = BINARY_DIR / "src" / "app" / "tallow"
DEMO_TABLES = BINARY_DIR / "data" / "demo" / "tables"
DEMO_INPUT = SOURCE_DIR / "data" / "demo" / "tallow.in"

sys.path.insert(0, str(SOURCE_DIR / "tests" / "python"))
from synthetic_cases import case_lines  # noqa: E402


class Server:
    """One `tallow serve` process; its standard error goes to a file."""

    def __init__(self, tmp_path, tables, *extra):
        self.log_path = tmp_path / f"serve-{time.monotonic_ns()}.log"
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen(
            [str(PROGRAM), "serve", "--tables", str(tables), "--listen", "127.0.0.1:0", *extra],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log)
        self.port = None
        deadline = time.monotonic() + 30
        while self.port is None:
            text = self.log_path.read_text("utf-8", "replace")
            for line in text.splitlines():
                if "listening on http://127.0.0.1:" in line:
                    self.port = int(line.split("127.0.0.1:")[1].split("/")[0])
            if self.port is None:
                assert self.process.poll() is None, text
                assert time.monotonic() < deadline, "the server did not start: " + text
                time.sleep(0.05)

    def request(self, method, path, body=None, content_type=None, timeout=60):
        """(status, headers, body bytes) of one request on a new connection."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        headers = {} if content_type is None else {"Content-Type": content_type}
        if isinstance(body, str):
            body = body.encode("latin-1")
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, dict(response.getheaders()), data

    def json(self, method, path, body=None, content_type=None):
        status, headers, data = self.request(method, path, body, content_type)
        assert headers.get("Content-Type", "").startswith("application/json"), (status, data)
        return status, json.loads(data)

    def stop(self, sig=signal.SIGTERM):
        """Sends the signal; returns the exit status and the log."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        status = self.process.wait(timeout=30)
        self.log.close()
        return status, self.log_path.read_text("utf-8", "replace")


@pytest.fixture(scope="module")
def synthetic(tmp_path_factory):
    """(tables directory, case file, lines) of a synthetic set."""
    root = tmp_path_factory.mktemp("synth")
    tables, sources = root / "tables", root / "sources"
    for out, extra in ((tables, []), (sources, ["--sources"])):
        subprocess.run([str(PROGRAM), "tables", "synth", "--seed", "5", *extra, str(out)],
                       check=True, capture_output=True)
    lines = case_lines(sources, 5, 600)
    in_path = root / "cases.in"
    in_path.write_bytes("".join(line + "\n" for line in lines).encode("latin-1"))
    return tables, in_path, lines


@pytest.fixture(scope="module")
def server(synthetic, tmp_path_factory):
    s = Server(tmp_path_factory.mktemp("server"), synthetic[0], "--jobs", "2")
    yield s
    status, log = s.stop()
    assert status == 0, log


def batch_records(tables, in_path, *extra):
    """What `tallow group --format jsonl` writes, one dict a line."""
    done = subprocess.run(
        [str(PROGRAM), "group", "--tables", str(tables), "--in", str(in_path), "--out", "-",
         "--format", "jsonl", "--quiet", *extra], capture_output=True, check=False)
    assert done.returncode in (0, 10), done.stderr
    return [json.loads(r) for r in done.stdout.decode("utf-8").splitlines()]
