"""`tallow serve` over HTTP against the batch: the same records, each error
status, concurrent clients, stopping, and what it says on standard error."""
import json
import random
import re
import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import DEMO_INPUT, DEMO_TABLES, PROGRAM, Server, batch_records


def renumbered(record, line):
    return dict(record, line=line)


def demo_line():
    return DEMO_INPUT.read_text("latin-1").splitlines()[1]


def test_group_equals_batch_for_every_case(server, synthetic):
    tables, in_path, lines = synthetic
    plain = batch_records(tables, in_path)
    extras = batch_records(tables, in_path, "--flags", "--why")
    assert any("error" in r for r in plain) and any("reason" in r for r in extras)

    status, got = server.json("POST", "/group", in_path.read_bytes(), "text/plain")
    assert status == 200 and got == plain
    # The same lines as JSON strings, CRLF line ends, and the extras asked for.
    body = json.dumps({"lines": lines})
    status, got = server.json("POST", "/group?flags=1&reason=true", body, "application/json")
    assert status == 200 and got == extras
    crlf = in_path.read_bytes().replace(b"\n", b"\r\n")
    status, got = server.json("POST", "/group?reason=1&flags", crlf, "text/plain; charset=latin-1")
    assert status == 200 and got == extras
    status, got = server.json("POST", "/group", json.dumps({"line": lines[7]}), "application/json")
    assert status == 200 and got == [renumbered(plain[7], 1)]
    # A byte above 0x7F: the character of its number in JSON, the byte itself in text.
    odd = "\u00e9" + lines[7][1:]
    as_json = server.json("POST", "/group", json.dumps({"line": odd}), "application/json")
    as_text = server.json("POST", "/group", odd.encode("latin-1"), "text/plain")
    assert as_json == as_text and as_json[1][0]["caseIdentifier"][0] == "\u00e9"


def test_explain_equals_explain_command(server, synthetic):
    tables, in_path, _ = synthetic
    done = subprocess.run([str(PROGRAM), "explain", "--tables", str(tables), "--in", str(in_path),
                           "--format", "json"], capture_output=True, check=False)
    assert done.returncode in (0, 10), done.stderr
    expected = [json.loads(l) for l in done.stdout.decode("utf-8").splitlines()]
    status, got = server.json("POST", "/explain", in_path.read_bytes(), "text/plain")
    assert status == 200 and got == expected
    assert any("passes" in t for t in got)


def test_health_version_and_tables(server, synthetic):
    assert server.json("GET", "/health") == (200, {"status": "ready"})
    version = subprocess.run([str(PROGRAM), "--version"], capture_output=True, text=True).stdout
    status, v = server.json("GET", "/version")
    assert status == 200 and version.split()[-1] == v["version"]
    identity = subprocess.run([str(PROGRAM), "tables", "id", str(synthetic[0])],
                              capture_output=True, text=True, check=True).stdout
    status, t = server.json("GET", "/tables")
    assert status == 200 and t["digest"] == identity.split()[0]
    assert [e["edition"] for e in t["editions"]] == ["8", "9", "0", "1"]
    assert [e["caseDatesFrom"] for e in t["editions"]] == [None, "19990201", "20020101", "20030101"]
    assert all(e["diagnoses"] > 0 and e["drgRules"] > 0 for e in t["editions"])
    status, headers, page = server.request("GET", "/")
    assert status == 200 and headers["Content-Type"].startswith("text/html")
    assert b"<form" in page and b"/group" in page


ERRORS = [
    # (name, method, path, body, content type, status, part of the message)
    ("bad JSON", "POST", "/group", '{"lines": [', "application/json", 400, "not valid JSON"),
    ("JSON of another shape", "POST", "/group", '["x"]', "application/json", 400, '{"line"'),
    ("both members", "POST", "/group", '{"line": "a", "lines": []}', "application/json", 400,
     "one of the two"),
    ("unknown member", "POST", "/group", '{"case": "a"}', "application/json", 400, '"case"'),
    ("a line that is no string", "POST", "/explain", '{"lines": ["a", 3]}', "application/json",
     400, "lines[1] is not a string"),
    ("a character above U+00FF", "POST", "/group", '{"line": "\\u0100"}', "application/json",
     400, "above U+00FF"),
    ("two lines in one string", "POST", "/group", '{"line": "a\\nb"}', "application/json", 400,
     "line feed"),
    ("no content type", "POST", "/group", "x\n", None, 400, "no Content-Type"),
    ("another content type", "POST", "/group", "x\n", "text/csv", 400, "text/csv"),
    ("lines after the end mark", "POST", "/group", "a\n\nb\n", "text/plain", 400,
     "line 2 is empty and ends the input; 1 non-empty line"),
    ("unknown query parameter", "POST", "/group?flag=1", "a\n", "text/plain", 400, "flag"),
    ("a switch that is neither", "POST", "/group?reason=yes", "a\n", "text/plain", 400,
     "reason=yes"),
    ("a query parameter on explain", "POST", "/explain?flags=1", "a\n", "text/plain", 400,
     "/explain takes none"),
    ("unknown path", "GET", "/groups", None, None, 404, "/groups"),
    ("unknown path, POST", "POST", "/", "a\n", "text/plain", 405, "/ takes GET"),
    ("group with GET", "GET", "/group", None, None, 405, "/group takes POST"),
]


@pytest.mark.parametrize("name,method,path,body,ctype,status,message", ERRORS,
                         ids=[e[0] for e in ERRORS])
def test_error_statuses(server, name, method, path, body, ctype, status, message):
    got_status, headers, data = server.request(method, path, body, ctype)
    assert got_status == status, data
    assert headers["Content-Type"].startswith("application/json")
    answer = json.loads(data)
    assert list(answer) == ["error"] and message in answer["error"], answer
    if status == 405:
        assert headers["Allow"] in ("GET, HEAD", "POST")


def test_body_limit(tmp_path):
    s = Server(tmp_path, DEMO_TABLES, "--max-body", "4096", "--quiet")
    try:
        line = demo_line()
        fits = (line + "\n") * (4096 // (len(line) + 1))
        assert s.json("POST", "/group", fits, "text/plain")[0] == 200
        status, answer = s.json("POST", "/group", fits + "x" * (4097 - len(fits)), "text/plain")
        assert status == 413 and "4096" in answer["error"]
        # The server goes on answering after refusing.
        assert s.json("GET", "/health")[0] == 200
    finally:
        status, log = s.stop()
    assert status == 0 and "POST /group" not in log  # --quiet: no request lines


def test_concurrent_clients_get_their_own_answers(server, synthetic):
    tables, in_path, lines = synthetic
    plain = batch_records(tables, in_path)
    extras = batch_records(tables, in_path, "--flags", "--why")
    failures = []

    def client(seed):
        rng = random.Random(seed)
        for _ in range(12):
            picked = rng.sample(range(len(lines)), rng.randint(1, 60))
            with_extras = rng.random() < 0.5
            path = "/group?flags=1&reason=1" if with_extras else "/group"
            source = extras if with_extras else plain
            expected = [renumbered(source[i], n) for n, i in enumerate(picked, 1)]
            if rng.random() < 0.5:
                body, ctype = json.dumps({"lines": [lines[i] for i in picked]}), "application/json"
            else:
                body, ctype = "".join(lines[i] + "\n" for i in picked), "text/plain"
            status, got = server.json("POST", path, body, ctype)
            if status != 200 or got != expected:
                failures.append((seed, picked, status))

    threads = [threading.Thread(target=client, args=(seed,)) for seed in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_log_line_per_request(server):
    server.json("POST", "/group", "x\ny\nz\n", "text/plain")
    server.request("GET", "/nothing-here")
    time.sleep(0.2)
    log = server.log_path.read_text("utf-8")
    assert re.search(r"^tallow serve: POST /group 200 cases=3 us=\d+$", log, re.M), log
    assert re.search(r"^tallow serve: GET /nothing-here 404 cases=0 us=\d+$", log, re.M), log


def test_stop_answers_the_request_in_flight(tmp_path):
    s = Server(tmp_path, DEMO_TABLES, "--jobs", "1")
    line = demo_line()
    body = ((line + "\n") * 2000).encode("latin-1")
    sock = socket.create_connection(("127.0.0.1", s.port), timeout=30)
    sock.sendall(b"POST /group HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
                 b"Connection: close\r\nContent-Length: %d\r\n\r\n" % len(body))
    sock.sendall(body[:1000])
    time.sleep(0.3)  # the server is reading the body
    s.process.send_signal(signal.SIGTERM)
    time.sleep(0.3)
    sock.sendall(body[1000:])
    answer = b""
    while chunk := sock.recv(1 << 16):
        answer += chunk
    sock.close()
    head, _, content = answer.partition(b"\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 200"), head
    assert len(json.loads(content)) == 2000
    status, log = s.stop()
    assert status == 0 and "stopped by SIGTERM" in log, log
    # Nothing listens any more.
    with pytest.raises(OSError):
        socket.create_connection(("127.0.0.1", s.port), timeout=5)


@pytest.mark.parametrize("tables", ["missing", "empty"])
def test_failed_table_load_ends_with_5(tmp_path, tables):
    if tables == "empty":
        (tmp_path / "empty").mkdir()
    done = subprocess.run([str(PROGRAM), "serve", "--tables", str(tmp_path / tables),
                           "--listen", "127.0.0.1:0"], capture_output=True, text=True, timeout=30)
    assert done.returncode == 5, done.stderr
    assert "the server did not start" in done.stderr or "does not exist" in done.stderr
    assert "listening" not in done.stderr


def test_address_in_use_ends_with_12(server):
    done = subprocess.run([str(PROGRAM), "serve", "--tables", str(DEMO_TABLES),
                           "--listen", f"127.0.0.1:{server.port}"],
                          capture_output=True, text=True, timeout=30)
    assert done.returncode == 12 and "cannot listen" in done.stderr, done.stderr
