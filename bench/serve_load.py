#!/usr/bin/python3
"""Bounded load on `tallow serve` over loopback: a fixed number of requests
from a few clients, for one-case and 1 000-case bodies; prints requests per
second and the p50 and p99 latency of each.

    bench/serve_load.py BUILD_DIR [--clients 4] [--small 4000] [--large 200]

The server runs on the demo tables with one worker per core, on a free
loopback port, and is stopped at the end."""
import argparse
import http.client
import pathlib
import signal
import subprocess
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def run(port, body, requests, clients):
    latencies = []
    lock = threading.Lock()
    share = [requests // clients + (1 if i < requests % clients else 0) for i in range(clients)]

    def client(count):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        mine = []
        for _ in range(count):
            started = time.perf_counter()
            connection.request("POST", "/group", body=body, headers={"Content-Type": "text/plain"})
            response = connection.getresponse()
            response.read()
            assert response.status == 200, response.status
            mine.append(time.perf_counter() - started)
        connection.close()
        with lock:
            latencies.extend(mine)

    threads = [threading.Thread(target=client, args=(n,)) for n in share]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.perf_counter() - started
    latencies.sort()
    pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
    return requests / elapsed, pick(0.50), pick(0.99)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--small", type=int, default=4000, help="one-case requests")
    parser.add_argument("--large", type=int, default=200, help="1 000-case requests")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    lines = (ROOT / "data" / "demo" / "tallow.in").read_bytes().split(b"\n")[:-1]
    one = lines[1] + b"\n"
    thousand = b"".join(lines[i % len(lines)] + b"\n" for i in range(1000))
    log = open(build / "serve-load.log", "wb")
    server = subprocess.Popen([str(build / "src" / "app" / "tallow"), "serve", "--quiet",
                               "--tables", str(build / "data" / "demo" / "tables"),
                               "--listen", "127.0.0.1:0"], stderr=log)
    try:
        port = None
        deadline = time.monotonic() + 30
        while port is None and time.monotonic() < deadline:
            text = (build / "serve-load.log").read_text()
            if "listening on http://127.0.0.1:" in text:
                port = int(text.split("127.0.0.1:")[1].split("/")[0])
            time.sleep(0.05)
        assert port is not None, "the server did not start"
        print(f"tallow serve on loopback, {args.clients} clients, keep-alive connections")
        print(f"{'request':<12} {'requests':>8} {'req/s':>9} {'p50 ms':>8} {'p99 ms':>8}")
        for name, body, count in (("1 case", one, args.small), ("1000 cases", thousand, args.large)):
            run(port, body, min(count, 20), args.clients)  # warm-up
            rate, p50, p99 = run(port, body, count, args.clients)
            print(f"{name:<12} {count:>8} {rate:>9.0f} {p50:>8.2f} {p99:>8.2f}")
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=30)


if __name__ == "__main__":
    main()
