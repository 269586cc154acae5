#!/usr/bin/env python3
"""Whole-process figures for the sync engine: the real `quorvel --headless` against the real
`m1620-sim`, both on loopback, in a temporary settings and log tree.

Prints follow latency (MADI change at the simulator -> set-rate request at the simulator),
the gaps between polls, CPU time per poll, resident memory and the time from start to the
first request; and, measured in the same run, the CPU per poll of a shell loop that sends
the same status request with curl every 0.5 s, and of the floor: a bare blocking C++ loop
(bench/poll_floor) that sends it on one kept-alive connection, the least any poller costs here.

Usage: bench/engine_bench.py [--bin build/bin] [--changes 20] [--quiet-seconds 15]
"""
import argparse
import os
import random
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
from _procutil import (cpu_seconds, make_tree, rss_kib, sim_control, sim_events, start_simulator, stop,
                       write_loopback_settings)

STATUS_QUERY = '{"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}}'


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def status_times(events, start, end):
    return [t for t, e in events if e[:2] == ["request", "status"] and start <= t <= end]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin"))
    parser.add_argument("--changes", type=int, default=20)
    parser.add_argument("--quiet-seconds", type=float, default=15.0)
    args = parser.parse_args()
    quorvel = os.path.abspath(os.path.join(args.bin, "quorvel"))
    simulator = os.path.abspath(os.path.join(args.bin, "m1620-sim"))
    floor_program = os.path.abspath(os.path.join(args.bin, "poll_floor"))
    for program in (quorvel, simulator):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build first (cmake --build build)")
    if not shutil.which("curl"):
        sys.exit("curl is needed for the baseline")

    root, env = make_tree("quorvel-bench.")
    sim_log = f"{root}/sim.log"
    processes = []
    try:
        sim, port = start_simulator(simulator, root, env, sim_log)
        processes.append(sim)
        # Loopback only: the engine never sees the default device address.
        write_loopback_settings(env, port)

        started = time.monotonic()
        app = subprocess.Popen([quorvel, "--headless"], env=env, stdout=subprocess.DEVNULL)
        processes.append(app)
        time.sleep(2.0)
        first = status_times(sim_events(sim_log), started, float("inf"))
        first_request_ms = (first[0] - started) * 1000 if first else float("nan")

        # Follow latency: a MADI change at a random moment of ordinary polling (the engine has
        # had its 2.5 s settling pause after the previous change).
        rates = [44100, 48000, 88200, 96000, 176400, 192000]
        current = 48000
        latencies = []
        for _ in range(args.changes):
            time.sleep(3.0 + random.random())
            current = random.choice([r for r in rates if r != current])
            sim_control(port, "/sim/state", {"madi": current})
        time.sleep(3.0)
        events = sim_events(sim_log)
        for i, (t, e) in enumerate(events):
            if e[0] == "state" and e[1].startswith("madi="):
                rate = e[1].split("=")[1]
                for t2, e2 in events[i + 1:]:
                    if e2[:3] == ["request", "set-rate", rate]:
                        latencies.append((t2 - t) * 1000)
                        break

        # A quiet window of ordinary polling: gaps, CPU per poll and memory.
        cpu0, w0 = cpu_seconds(app.pid), time.monotonic()
        time.sleep(args.quiet_seconds)
        cpu1, w1 = cpu_seconds(app.pid), time.monotonic()
        rss = rss_kib(app.pid)
        quiet = status_times(sim_events(sim_log), w0, w1)
        gaps = [(b - a) * 1000 for a, b in zip(quiet, quiet[1:])]
        app_cpu_per_poll = (cpu1 - cpu0) / max(1, len(quiet))
        app.send_signal(signal.SIGTERM)
        app.wait(10)
        children_cpu_seconds()  # quorvel's own time is now in the children's account; deltas below exclude it

        # Baseline in the same run: what a user might otherwise script.
        iterations = max(10, int(args.quiet_seconds / 0.5))
        loop = (f"for i in $(seq {iterations}); do curl -s -X POST -H 'Content-Type: application/json' "
                f"-d '{STATUS_QUERY}' http://127.0.0.1:{port}/api/v2/self >/dev/null; sleep 0.5; done")
        b0, bw0 = children_cpu_seconds(), time.monotonic()
        shell = subprocess.Popen(["bash", "-c", loop], env=env)
        processes.append(shell)
        shell.wait()
        b1, bw1 = children_cpu_seconds(), time.monotonic()
        base_polls = len(status_times(sim_events(sim_log), bw0, bw1))
        base_cpu_per_poll = (b1 - b0) / max(1, base_polls)

        floor_cpu_per_poll = float("nan")
        if os.access(floor_program, os.X_OK):
            floor = subprocess.Popen([floor_program, str(port)], env=env)
            processes.append(floor)
            time.sleep(1.0)
            f0, fw0 = cpu_seconds(floor.pid), time.monotonic()
            time.sleep(args.quiet_seconds)
            f1, fw1 = cpu_seconds(floor.pid), time.monotonic()
            floor_cpu_per_poll = (f1 - f0) / max(1, len(status_times(sim_events(sim_log), fw0, fw1)))
            stop(floor, 5)

        def goal(ok):
            return "ok" if ok else "MISSED"

        print(f"follow latency over {len(latencies)} changes: median {statistics.median(latencies):.1f} ms, "
              f"worst {max(latencies):.1f} ms  [goal worst <= 510 ms: {goal(max(latencies) <= 510)}]")
        print(f"gaps between polls ({len(gaps)}): min {min(gaps):.1f} ms, median {statistics.median(gaps):.1f} ms"
              f"  [goal min >= 500 ms: {goal(min(gaps) >= 500)}]")
        print(f"CPU per poll: quorvel {app_cpu_per_poll * 1e3:.3f} ms ({len(quiet)} polls), "
              f"curl loop {base_cpu_per_poll * 1e3:.3f} ms ({base_polls} polls), "
              f"ratio 1/{base_cpu_per_poll / app_cpu_per_poll if app_cpu_per_poll else float('inf'):.0f}"
              f"  [goal <= 1/100: {goal(app_cpu_per_poll * 100 <= base_cpu_per_poll)}]")
        print(f"floor (bench/poll_floor): {floor_cpu_per_poll * 1e3:.3f} ms per poll; quorvel is "
              f"{app_cpu_per_poll / floor_cpu_per_poll:.1f} x the floor, the curl loop "
              f"{base_cpu_per_poll / floor_cpu_per_poll:.0f} x")
        print(f"resident memory headless: {rss / 1024:.1f} MiB  [goal < 20 MB: {goal(rss * 1024 < 20e6)}]")
        print(f"start to first request: {first_request_ms:.1f} ms  [goal <= 150 ms: {goal(first_request_ms <= 150)}]")
    finally:
        for p in processes:
            stop(p, 5)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
