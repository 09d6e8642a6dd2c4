#!/usr/bin/env python3
"""Allocation-failure torture of the C interface.

Starts the fake service once on loopback, measures how many allocations the
driver's call sequence makes, then runs the driver once for each N of the
chosen spread, each in its own process with a time limit, the N-th
allocation failing. Every run must end by itself with a value or an error
value: a run killed by a signal, a run still going at the time limit, a
broken contract or any other exit fails the torture.

  run_alloc_torture.py --driver build/tests/alloc_torture \
      --service build/tests/fake_service [--step K] [--jobs J]

Prints the figures (runs, N range, outcomes by class) and every failing N
with its outcome; with --backtraces, for the first few failures of each class,
the stack where the allocation failed and the stack of the crash, from a
rerun under gdb.
"""

import argparse
import collections
import os
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

# Driver exit codes (see alloc_torture.c).
EXIT_USUAL = 0
EXIT_ERROR_VALUE = 1
EXIT_BROKEN = 3

PASSING = ("usual", "error value", "not reached")


def start_service(path):
    service = subprocess.Popen([path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    base_url = service.stdout.readline().strip()
    if not base_url.startswith("http://127.0.0.1:"):
        service.kill()
        sys.exit(f"fake service did not start (first line {base_url!r})")
    return service, base_url


def measure(driver, base_url, limit):
    """The largest allocation count of a few unfailed runs of the sequence."""
    counts = []
    for _ in range(3):
        done = subprocess.run([driver, base_url, "0"], capture_output=True, text=True, timeout=limit)
        if done.returncode != EXIT_USUAL:
            sys.exit(f"the unfailed sequence does not run cleanly (exit {done.returncode}):\n"
                     f"{done.stdout}{done.stderr}")
        fields = dict(f.split("=", 1) for f in done.stdout.split() if "=" in f)
        counts.append(int(fields["allocations"]))
    return max(counts), counts


def run_one(driver, base_url, n, limit):
    """Runs the driver failing allocation n; returns (n, class, detail)."""
    proc = subprocess.Popen([driver, base_url, str(n)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return n, "hang", ""
    line = out.strip().splitlines()[-1] if out.strip() else ""
    code = proc.returncode
    if code < 0:
        return n, f"signal {signal.Signals(-code).name}", (line + "\n" + err[-2000:]).strip()
    if code == EXIT_USUAL or code == EXIT_ERROR_VALUE:
        if "failed=no" in line:
            return n, "not reached", line
        return n, "usual" if code == EXIT_USUAL else "error value", line
    if code == EXIT_BROKEN:
        return n, "broken contract", line
    return n, f"exit {code}", (line + "\n" + err[-2000:]).strip()


def stacks_at_failure(driver, base_url, n, outcome, limit, tries=5):
    """Reruns N under gdb: the stack where the allocation fails, then, for a
    crash, the stack of the signal. Runs are not exactly repeatable (threads
    allocate in a different order), so it tries a few times for a run that
    ends the same way."""
    text = ""
    if outcome == "hang":
        # The stack at the failed allocation is what tells a hang's cause;
        # waiting out more than one hang under gdb adds nothing.
        tries, limit = 1, min(limit, 15.0)
    for attempt in range(1, tries + 1):
        command = ["gdb", "-batch", "-nx", "-ex", "set pagination off", "-ex", "break failing_malloc_failing_now",
                   "-ex", "run", "-ex", "bt 30", "-ex", "continue", "-ex", "bt 30", "--args", driver, base_url, str(n)]
        try:
            done = subprocess.run(command, capture_output=True, text=True, timeout=limit + 30)
            text, ended = done.stdout, "finished"
            if "received signal" in text:
                ended = "signal SIG" + text.split("received signal SIG", 1)[1].split(",", 1)[0]
        except subprocess.TimeoutExpired as e:
            text = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
            ended = "hang"
        lines = [line for line in text.splitlines() if line.startswith(("#", "Thread", "Breakpoint 1,"))
                 or "received signal" in line]
        text = f"(gdb run {attempt}: {ended})\n" + "\n".join(lines)
        if ended == outcome:
            break
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--step", type=int, default=1, help="run every K-th N (default 1: every N)")
    parser.add_argument("--first", type=int, default=1, help="first N (default 1)")
    parser.add_argument("--last", type=int, default=0,
                        help="last N (default: the measured sequence length plus 5 %%)")
    parser.add_argument("--jobs", type=int, default=4, help="runs at once (default 4)")
    parser.add_argument("--limit", type=float, default=30.0, help="seconds a run may take (default 30)")
    parser.add_argument("--backtraces", type=int, default=0, metavar="K",
                        help="print stacks of the first K failures of each class, from reruns under gdb")
    args = parser.parse_args()
    if args.step < 1 or args.first < 1 or args.jobs < 1:
        parser.error("--step, --first and --jobs must be positive")

    # A runner stopped from outside still stops its service.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    service, base_url = start_service(args.service)
    try:
        length, counts = measure(args.driver, base_url, args.limit)
        last = args.last or length + max(1, length // 20)
        spread = list(range(args.first, last + 1, args.step))
        print(f"sequence: {length} allocations (unfailed runs: {', '.join(map(str, counts))})", flush=True)
        print(f"running {len(spread)} runs, N from {spread[0]} to {spread[-1]} step {args.step}, "
              f"{args.jobs} at once, {args.limit:g} s limit each", flush=True)

        started = time.monotonic()
        results = []
        lock = threading.Lock()
        stacks_left = collections.defaultdict(lambda: args.backtraces)

        def job(n):
            n, outcome, detail = run_one(args.driver, base_url, n, args.limit)
            if outcome not in PASSING:
                with lock:
                    print(f"  N={n}: {outcome}: {detail.splitlines()[0] if detail else ''}", flush=True)
                    take = stacks_left[outcome] > 0
                    stacks_left[outcome] -= 1
                detail = stacks_at_failure(args.driver, base_url, n, outcome, args.limit) if take else ""
            with lock:
                results.append((n, outcome, detail))

        with ThreadPoolExecutor(max_workers=args.jobs) as pool:
            list(pool.map(job, spread))
        elapsed = time.monotonic() - started
    finally:
        service.terminate()
        service.wait()

    results.sort()
    by_class = collections.Counter(outcome for _, outcome, _ in results)
    failing = [(n, outcome, detail) for n, outcome, detail in results if outcome not in PASSING]

    print()
    print(f"runs            {len(results)}")
    print(f"N range         {spread[0]}..{spread[-1]} step {args.step} (sequence {length} allocations)")
    print(f"time            {elapsed:.0f} s")
    for outcome in ("usual", "error value", "not reached"):
        print(f"{outcome:<16}{by_class.get(outcome, 0)}")
    for outcome, count in sorted(by_class.items()):
        if outcome not in PASSING:
            print(f"{outcome:<16}{count}")

    if failing:
        print()
        print("failing N:")
        groups = collections.defaultdict(list)
        for n, outcome, _ in failing:
            groups[outcome].append(n)
        for outcome, ns in sorted(groups.items()):
            print(f"  {outcome}: {' '.join(map(str, ns))}")
        if args.backtraces:
            for n, outcome, detail in failing:
                if detail.startswith("(gdb"):
                    print(f"\n---- N={n}: {outcome} ----\n{detail}")
        return 1
    print("no signal, no hang, no broken contract")
    return 0


if __name__ == "__main__":
    sys.exit(main())
