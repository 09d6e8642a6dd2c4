#!/usr/bin/env python3
"""A small answer from Python: PyZephClient.list_pairs() with the cache off
beside requests.Session().get(url).json() on the same URL, in the same run
(and, for reference, the library's JSON text decoded by json.loads).

    bench/python_small_answer.py [--build DIR] [--calls N] [--rounds R]

The fake service (DIR/tests/fake_service, in a process of its own) answers
its default pair list of two pairs, about 2.5 KB. Both sides reuse their
connection; each round times N calls of each, alternating which goes first,
and the medians of the rounds are printed with the load average. The
library's call should take at most half the time of the plain one.

python3-requests is installed (apt-get, through scripts/packages.sh) when
it is missing.
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def ensure_requests():
    try:
        import requests  # noqa: F401
    except ImportError:
        subprocess.run(
            ["bash", "-c", f'source "{ROOT}/scripts/packages.sh" && ensure_packages python3-requests'],
            check=True,
        )


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def per_call_us(call, calls):
    start = time.perf_counter()
    for _ in range(calls):
        call()
    return (time.perf_counter() - start) * 1e6 / calls


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    ensure_requests()
    import requests

    build = pathlib.Path(args.build)
    sys.path.insert(0, str(build / "python"))
    import zephlar

    service = subprocess.Popen([str(build / "tests" / "fake_service")], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    try:
        base_url = service.stdout.readline().decode().strip()
        if not base_url.startswith("http://127.0.0.1:"):
            sys.exit("fake_service did not start")
        url = base_url + "/api/v1/market/pairs"

        client = zephlar.PyZephClient(zephlar.PyZephConfig(base_url, max_retries=0, cache_ttl=0))
        session = requests.Session()
        # Loopback only: no proxy from the environment.
        session.trust_env = False

        # The method hands back the pairs as JSON text.
        assert len(json.loads(client.list_pairs())) == 2

        def library():
            client.list_pairs()

        def library_decoded():
            json.loads(client.list_pairs())

        def plain():
            answer = session.get(url)
            answer.raise_for_status()
            assert len(answer.json()["pairs"]) == 2

        size = len(session.get(url).content)
        for _ in range(50):  # warm up both connections
            library()
            plain()

        print(f"answer: 2 pairs, {size} bytes; {args.rounds} rounds of {args.calls} calls")
        print(f"load average at the start: {load_average():.1f} on {os.cpu_count()} cores")
        lib_times, plain_times, decoded_times = [], [], []
        for r in range(args.rounds):
            order = [(library, lib_times), (plain, plain_times), (library_decoded, decoded_times)]
            if r % 2:
                order.reverse()
            for call, times in order:
                times.append(per_call_us(call, args.calls))
        lib = statistics.median(lib_times)
        plain_us = statistics.median(plain_times)
        print(f"PyZephClient.list_pairs(), cache off       {lib:8.1f} us/call (rounds: "
              + ", ".join(f"{t:.0f}" for t in lib_times) + ")")
        print(f"requests.Session().get(url).json()         {plain_us:8.1f} us/call (rounds: "
              + ", ".join(f"{t:.0f}" for t in plain_times) + ")")
        decoded = statistics.median(decoded_times)
        print(f"for reference: json.loads(list_pairs())      {decoded:8.1f} us/call")
        print(f"    library / plain = {lib / plain_us:.2f} (target at most 0.5); load average now {load_average():.1f}")
    finally:
        service.terminate()
        try:
            service.wait(timeout=30)
        except subprocess.TimeoutExpired:
            service.kill()
            service.wait()


if __name__ == "__main__":
    main()
