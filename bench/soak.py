#!/usr/bin/env python3
"""Soak run: the real `quorvel-engine --headless` against the real `m1620-sim` for many minutes,
both on loopback, in a temporary HOME and XDG tree, on a private session bus.

Every few seconds a seeded random step changes the simulated MADI rate, toggles MADI lock,
makes the simulator misbehave for 1-4 requests, or does nothing. Every 10 s the engine's
memory, open files, threads and CPU time are sampled. At the end it checks that memory and
open files did not grow after the first minute, that every lost connection came back, and
that the engine still follows the MADI rate; then prints the figures and PASS or FAIL
(exit status 1).

As root it runs in a fresh network namespace with only loopback up, and its own mount
namespace in which the system-log socket is a stand-in that counts the engine's lines, so
nothing reaches the machine's journal.

Usage: bench/soak.py [--bin build/bin] [--minutes 20] [--seed N] [--keep]
"""
import argparse
import array
import collections
import datetime
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
from _procutil import (fd_count, make_tree, proc_status, process_cpu_seconds, sim_control, sim_events,
                       sim_state, start_simulator, stop, tied_to_us, write_loopback_settings)

RATES = [44100, 48000, 88200, 96000, 176400, 192000]
FAULTS = ["delay", "hang", "hang-headers", "trickle", "status", "empty", "not-json", "array", "huge",
          "close-mid-body", "garbage", "reset"]
STATUS_CODES = [301, 404, 500, 503]
WARM_UP_S = 60.0
SAMPLE_EVERY_S = 10.0
RSS_GROWTH_LIMIT_KIB = 5 * 1024
# Anonymous memory is the heap and the stacks, without the mapped files that page in and out: a
# leak shows here first.
ANON_GROWTH_LIMIT_KIB = 1024
FINAL_FOLLOW_LIMIT_S = 15.0  # a request hung when the faults were cleared takes 2 s + 3 s
NAMESPACE_MARK = "QUORVEL_SOAK_NAMESPACES"


def enter_private_namespaces():
    """Re-runs this script in fresh network and mount namespaces (root only), loopback up."""
    if os.environ.get(NAMESPACE_MARK) or not shutil.which("unshare") or not shutil.which("ip"):
        return
    if subprocess.run(["unshare", "--net", "--mount", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        return
    os.environ[NAMESPACE_MARK] = os.readlink("/proc/self/ns/mnt")
    os.environ["QUORVEL_IN_NETNS"] = "1"
    sys.stdout.flush()
    os.execvp("unshare", ["unshare", "--net", "--mount", "--", "bash", "-c",
                          'ip link set lo up && exec "$@"', "soak",
                          sys.executable, os.path.abspath(__file__), *sys.argv[1:]])


def in_private_namespaces():
    mark = os.environ.get(NAMESPACE_MARK)
    return bool(mark) and mark != os.readlink("/proc/self/ns/mnt")


class JournalStandIn:
    """journald's socket inside this mount namespace only: the engine's system-log lines are
    counted here and never reach the machine's journal."""

    def __init__(self):
        # A tmpfs over the journal's folder hides the real socket; mounts here stay in this namespace.
        target = next(d for d in ("/run/systemd/journal", "/run/systemd") if os.path.isdir(d))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=755,size=1m", "soak-journal", target], check=True)
        os.makedirs("/run/systemd/journal", exist_ok=True)
        if os.path.exists("/dev/log"):
            subprocess.run(["mount", "--bind", "/dev/null", "/dev/log"], check=True)
        self.lines = 0
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind("/run/systemd/journal/socket")
        threading.Thread(target=self._drain, daemon=True).start()

    @staticmethod
    def available():
        return in_private_namespaces() and (os.path.isdir("/run/systemd/journal") or os.path.isdir("/run/systemd"))

    def _drain(self):
        fd_room = socket.CMSG_SPACE(16 * array.array("i").itemsize)
        while True:
            try:
                data, ancillary, _, _ = self.socket.recvmsg(1 << 20, fd_room)
            except OSError:
                return
            for level, kind, payload in ancillary:
                if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
                    fds = array.array("i")
                    fds.frombytes(payload[:len(payload) - len(payload) % fds.itemsize])
                    for fd in fds:  # a large entry comes as a memfd
                        with os.fdopen(fd, "rb") as f:
                            data += f.read()
            if b"SYSLOG_IDENTIFIER=quorvel" in data:
                self.lines += 1


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={path}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def start_private_bus(root, env):
    """A session bus of the soak's own, with no service activation, so no notification can
    reach a desktop. Without dbus-daemon the address points at nothing."""
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    path = f"{env['XDG_RUNTIME_DIR']}/bus"
    daemon = shutil.which("dbus-daemon")
    if not daemon:
        env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={path}"
        return None
    with open(f"{root}/bus.conf", "w") as f:
        f.write(BUS_CONFIG.format(path=path))
    command = [daemon, f"--config-file={root}/bus.conf", "--nofork", "--print-address"]
    bus = subprocess.Popen(tied_to_us(command), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    address = bus.stdout.readline().decode().strip()
    bus.stdout.close()
    if not address:
        stop(bus)
        sys.exit("dbus-daemon did not start")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    return bus


def read_engine_log(state_dir):
    """Lines of sync.log and its generations, oldest first, as (time, level, message)."""
    lines = []
    base = f"{state_dir}/Quorvel/sync.log"
    for path in [f"{base}.{i}" for i in range(5, 0, -1)] + [base]:
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                # [yyyy-MM-dd HH:mm:ss] [LEVEL] message
                if len(line) < 23 or line[0] != "[" or line[20:23] != "] [":
                    continue
                stamp = datetime.datetime.strptime(line[1:20], "%Y-%m-%d %H:%M:%S")
                level, _, message = line[23:].partition("] ")
                lines.append((stamp, level, message.rstrip("\n")))
    return lines


def poll_outcomes(events):
    """For each poll that the simulator saw, whether a fault made it fail: True, False, or None
    for a delay so close to the engine's 2 s deadline that either may happen."""
    requests = []
    for i, (t, e) in enumerate(events):
        if e[0] == "request":
            # The simulator logs the fault it applied right after the request.
            fault = next((e2[1:] for _, e2 in events[i + 1:i + 3] if e2[0] == "fault"), None)
            requests.append((t, e[1], fault))
    outcomes = []
    for i, (t, kind, fault) in enumerate(requests):
        if kind != "status":
            continue
        # The client sends a request once more at once when a kept-alive connection closed before
        # any answer; the poll's outcome is that of the second sending.
        if i + 1 < len(requests) and requests[i + 1][1] == kind and requests[i + 1][0] - t < 0.05:
            continue
        if fault and fault[0] == "delay":
            ms = int(fault[1].split("=")[1])
            outcomes.append(None if abs(ms - 2000) <= 100 else ms > 2000)
        else:
            outcomes.append(fault is not None)
    return outcomes


def slope_per_hour(points):
    """Least-squares slope of (seconds, value) points, per hour."""
    if len(points) < 2:
        return 0.0
    mt = statistics.fmean(t for t, _ in points)
    mv = statistics.fmean(v for _, v in points)
    den = sum((t - mt) ** 2 for t, _ in points)
    return sum((t - mt) * (v - mv) for t, v in points) / den * 3600 if den else 0.0


def growing(values):
    """True when even the lowest of the last third exceeds the highest of the first third: a
    steady climb, not the one or two connections that come and go between samples."""
    third = len(values) // 3
    return third > 0 and min(values[-third:]) > max(values[:third])


class Soak:
    def __init__(self, rng):
        self.rng = rng
        self.madi = 48000
        self.sync = True
        self.injected = collections.Counter()  # action kind -> times chosen
        self.samples = []  # dicts, see sample()
        self.port = None
        self.engine = None
        self.sim = None
        self.t0 = None

    def act(self, kind):
        if kind == "rate":
            self.madi = self.rng.choice([r for r in RATES if r != self.madi])
            sim_control(self.port, "/sim/state", {"madi": self.madi})
        elif kind == "sync":
            self.sync = not self.sync
            sim_control(self.port, "/sim/state", {"sync": "true" if self.sync else "false"})
        elif kind in FAULTS:
            params = {"mode": kind, "count": self.rng.randint(1, 4)}
            if kind == "delay":
                params["ms"] = self.rng.randint(100, 2500)
            elif kind == "status":
                params["code"] = self.rng.choice(STATUS_CODES)
            elif kind == "huge":
                params["bytes"] = 2000000
            sim_control(self.port, "/sim/fault", params)
            if kind == "status":
                kind = f"status {params['code']}"
        self.injected[kind] += 1

    def next_action(self, tour):
        # The first minute tries every kind once, so the figures after it start from a process
        # that has been through every path.
        if tour:
            return tour.pop()
        kind = self.rng.choice(["rate", "sync", "fault", "nothing"])
        return self.rng.choice(FAULTS) if kind == "fault" else kind

    def sample(self):
        pid = self.engine.pid
        status = proc_status(pid)
        state = sim_state(self.port)
        entry = {"t": time.monotonic() - self.t0, "rss": status["VmRSS"], "hwm": status["VmHWM"],
                 "anon": status["RssAnon"],
                 "threads": status["Threads"], "fds": fd_count(pid), "cpu": process_cpu_seconds(pid),
                 "polls": state["status_queries"], "requests": state["requests"],
                 "sim_fds": fd_count(self.sim.pid), "sim_rss": proc_status(self.sim.pid)["VmRSS"]}
        self.samples.append(entry)
        return entry


def interrupt(signum, frame):
    """SIGTERM ends the run like Ctrl-C: through the clean-up, which ends what it started."""
    raise KeyboardInterrupt()


def main():
    parser = argparse.ArgumentParser(description="Soak run of quorvel-engine against m1620-sim.")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--bin", default=os.path.join(here, "..", "build", "bin"))
    parser.add_argument("--minutes", type=float, default=20.0)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--keep", action="store_true", help="keep the temporary tree (path printed)")
    args = parser.parse_args()
    engine_path = os.path.abspath(os.path.join(args.bin, "quorvel-engine"))
    simulator = os.path.abspath(os.path.join(args.bin, "m1620-sim"))
    for program in (engine_path, simulator):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build first (cmake --build build --target quorvel-engine m1620-sim)")

    enter_private_namespaces()
    signal.signal(signal.SIGTERM, interrupt)

    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 32)
    rng = random.Random(seed)
    print(f"seed: {seed}  (repeat with --seed {seed})", flush=True)

    root, env = make_tree("quorvel-soak.")
    soak = Soak(rng)
    processes = []  # (name, process), stopped in reverse order
    failures = []
    engine_status = None
    try:
        journal = None
        if JournalStandIn.available():
            try:
                journal = JournalStandIn()
            except (OSError, subprocess.CalledProcessError) as error:
                print(f"no stand-in for the system log ({error}); the engine's lines go to the "
                      "machine's system log, if it has one")
        bus = start_private_bus(root, env)
        if bus:
            processes.append(("dbus-daemon", bus))
        sim_log = f"{root}/sim.log"
        soak.sim, soak.port = start_simulator(simulator, root, env, sim_log)
        processes.append(("m1620-sim", soak.sim))
        settings = write_loopback_settings(env, soak.port)
        # Never start the engine without the loopback host in place.
        if f'"customHost": "127.0.0.1:{soak.port}"' not in open(settings).read():
            sys.exit(f"{settings} does not hold the simulator's address")

        print(f"network: {'own namespace, loopback only' if in_private_namespaces() else 'machine loopback'}; "
              f"session bus: {'private, no activation' if bus else 'none'}; "
              f"system log: {'stand-in socket' if journal else 'the machine’s, if any'}")
        print(f"simulator 127.0.0.1:{soak.port}, run {args.minutes:g} min, load average at start "
              f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}", flush=True)

        engine_out = open(f"{root}/engine.out", "wb")
        soak.t0 = time.monotonic()
        soak.engine = subprocess.Popen(tied_to_us([engine_path, "--headless"]), env=env, stdout=engine_out,
                                       stderr=subprocess.STDOUT)
        processes.append(("quorvel-engine", soak.engine))

        tour = ["rate", "sync"] + FAULTS
        rng.shuffle(tour)
        end = soak.t0 + args.minutes * 60
        next_sample = soak.t0 + 1.0
        next_action = soak.t0 + 2.0
        next_report = soak.t0 + 60.0
        while True:
            now = time.monotonic()
            if now >= end:
                break
            if soak.engine.poll() is not None:
                failures.append(f"the engine ended by itself after {now - soak.t0:.0f} s "
                                f"with status {soak.engine.returncode}")
                break
            if now >= next_sample:
                soak.sample()
                next_sample += SAMPLE_EVERY_S
            if now >= next_action:
                soak.act(soak.next_action(tour))
                next_action = now + rng.uniform(2.5, 5.5)
            if now >= next_report:
                s = soak.samples[-1]
                print(f"[{(now - soak.t0) / 60:.0f} min] polls {s['polls']}, RSS {s['rss']} KiB, "
                      f"fds {s['fds']}, threads {s['threads']}", flush=True)
                next_report += 60.0
            time.sleep(max(0.0, min(next_sample, next_action, next_report, end) - time.monotonic()))

        final = {}
        if not failures:
            # The device behaves again and the input is locked; a last MADI change must be followed.
            sim_control(soak.port, "/sim/fault", {"mode": "none"})
            sim_control(soak.port, "/sim/state", {"sync": "true"})
            state = sim_state(soak.port)
            soak.madi = rng.choice([r for r in RATES if r not in (state["device_rate"], state["madi_rate"])])
            cleared = time.monotonic()
            sim_control(soak.port, "/sim/state", {"madi": soak.madi})
            followed_after = None
            while time.monotonic() - cleared < FINAL_FOLLOW_LIMIT_S:
                state = sim_state(soak.port)
                if state["device_rate"] == state["madi_rate"]:
                    followed_after = time.monotonic() - cleared
                    break
                time.sleep(0.05)
            # And it goes on polling: after the 2.5 s settling pause, every 0.5 s.
            polls_at_follow = state["status_queries"]
            time.sleep(5.0)
            state = sim_state(soak.port)
            final = {"state": state, "followed_after": followed_after,
                     "polls": state["status_queries"] - polls_at_follow}
            soak.sample()
            engine_status = stop(soak.engine, 10)
        else:
            engine_status = soak.engine.returncode
        sim_status = stop(soak.sim, 10)
        if bus:
            stop(bus, 5)
        load_end = os.getloadavg()
        time.sleep(0.2)  # the stand-in's last datagrams

        report(soak, root, env, sim_log, final, engine_status, sim_status, journal, load_end, failures)
    except KeyboardInterrupt:
        failures.append("interrupted")
    except OSError as error:  # the simulator stopped answering its control API, among others
        failures.append(f"soak error: {error}")
    finally:
        for _, process in reversed(processes):
            stop(process, 5)
        if args.keep:
            print(f"kept: {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    if failures:
        print("SOAK FAIL: " + "; ".join(failures))
        sys.exit(1)
    print("SOAK PASS")


def report(soak, root, env, sim_log, final, engine_status, sim_status, journal, load_end, failures):
    def verdict(ok, what):
        if not ok:
            failures.append(what)
        return "ok" if ok else "FAIL"

    samples = soak.samples
    after = [s for s in samples if s["t"] >= WARM_UP_S]
    duration = samples[-1]["t"] if samples else 0.0
    print(f"ran {duration / 60:.1f} min, {len(samples)} samples, load average at end "
          f"{' '.join(f'{x:.2f}' for x in load_end)}")

    # Steps taken, and what the simulator actually applied.
    events = sim_events(sim_log)
    applied = collections.Counter(e[1] for _, e in events if e[0] == "fault")
    faults = {k: v for k, v in soak.injected.items() if k.split()[0] in FAULTS}
    print(f"steps: {sum(soak.injected.values())}; MADI rate changes {soak.injected['rate']}, sync toggles "
          f"{soak.injected['sync']}, faults {sum(faults.values())}, nothing {soak.injected['nothing']}")
    codes = ", ".join(f"{k.split()[1]}: {v}" for k, v in sorted(faults.items()) if k.startswith("status "))
    print("faults injected, by kind (requests they hit): " + ", ".join(
        f"{kind} {sum(v for k, v in faults.items() if k.split()[0] == kind)}"
        + (f" [{codes}]" if kind == "status" and codes else "") + f" ({applied[kind]})" for kind in FAULTS))

    # Memory, files, threads, CPU.
    if len(after) >= 3:
        base, last = after[0], after[-1]
        rss = [s["rss"] for s in after]
        fds = [s["fds"] for s in after]
        threads = [s["threads"] for s in after]
        growth = last["rss"] - base["rss"]
        print(f"RSS after warm-up: start {base['rss']} KiB, end {last['rss']} KiB, max {max(rss)} KiB, "
              f"growth {growth:+d} KiB, slope {slope_per_hour([(s['t'], s['rss']) for s in after]):+.0f} KiB/h, "
              f"VmHWM {last['hwm']} KiB  [limit growth <= {RSS_GROWTH_LIMIT_KIB} KiB: "
              f"{verdict(growth <= RSS_GROWTH_LIMIT_KIB, f'RSS grew {growth} KiB after warm-up')}]")
        anon = last["anon"] - base["anon"]
        print(f"anonymous memory (heap) after warm-up: start {base['anon']} KiB, end {last['anon']} KiB, "
              f"growth {anon:+d} KiB, slope {slope_per_hour([(s['t'], s['anon']) for s in after]):+.0f} KiB/h  "
              f"[limit growth <= {ANON_GROWTH_LIMIT_KIB} KiB: "
              f"{verdict(anon <= ANON_GROWTH_LIMIT_KIB, f'anonymous memory grew {anon} KiB after warm-up')}]")
        print(f"open fds: min {min(fds)}, max {max(fds)}, start {base['fds']}, end {last['fds']}, "
              f"slope {slope_per_hour([(s['t'], s['fds']) for s in after]):+.1f} /h  "
              f"[not growing: {verdict(not growing(fds), 'fd count grew')}]")
        print(f"threads: min {min(threads)}, max {max(threads)}  "
              f"[not growing: {verdict(not growing(threads), 'thread count grew')}]")
        polls = last["polls"] - base["polls"]
        cpu = last["cpu"] - base["cpu"]
        print(f"polls: {samples[-1]['polls']} in all ({samples[-1]['requests']} device requests), "
              f"{polls} after warm-up in {(last['t'] - base['t']) / 60:.1f} min "
              f"({polls / max(1e-9, last['t'] - base['t']):.2f}/s)")
        print(f"CPU per poll after warm-up: {cpu * 1e3 / max(1, polls):.3f} ms ({cpu:.2f} s); whole run "
              f"{samples[-1]['cpu'] * 1e3 / max(1, samples[-1]['polls']):.3f} ms")
        sim_fds = [s["sim_fds"] for s in after]
        print(f"simulator: fds min {min(sim_fds)}, max {max(sim_fds)}; RSS start {base['sim_rss']} KiB, "
              f"end {last['sim_rss']} KiB")
    else:
        print("too short for the figures after the warm-up minute (run at least 1.5 minutes)")

    # The engine's own account of the run.
    lines = read_engine_log(env["XDG_STATE_HOME"])
    messages = [m for _, _, m in lines]
    starting = [m for m in messages if m.startswith("Sync starting")]
    started_here = starting == [f"Sync starting (host: 127.0.0.1:{soak.port})"]
    print(f"engine log: {len(lines)} lines, levels "
          + ", ".join(f"{k} {v}" for k, v in sorted(collections.Counter(lv for _, lv, _ in lines).items()))
          + f"  [started once, on the simulator: "
          f"{verdict(started_here, f'engine did not start once on the simulator: {starting}')}]")
    losses, recovered, unrecovered = [], [], []
    for i, (stamp, _, message) in enumerate(lines):
        if message.startswith("Lost connection: "):
            losses.append(message[len("Lost connection: "):])
            back = next((s for s, _, m in lines[i + 1:] if m.startswith("Connected to ")), None)
            if back is None:
                unrecovered.append(f"{stamp:%H:%M:%S} {message}")
            else:
                recovered.append((back - stamp).total_seconds())
    print(f"connection losses: {len(losses)}, recovered {len(recovered)}"
          + (f" (after {statistics.median(recovered):.0f} s median, {max(recovered):.0f} s worst; log times "
             f"are whole seconds)" if recovered else "")
          + f"  [every loss recovered: {verdict(not unrecovered, f'{len(unrecovered)} losses never recovered')}]")
    for reason, count in collections.Counter(losses).most_common():
        print(f"  {count:4d} × Lost connection: {reason}")
    for line in unrecovered[:5]:
        print(f"  not recovered: {line}")
    # Each loss should have a cause in the simulator's log: a failed poll right after a good one.
    polls = poll_outcomes(events)
    unsure = polls.count(None)
    expected = sum(1 for a, b in zip(polls, polls[1:]) if a is False and b is not False)
    accounted = expected - unsure <= len(losses) <= expected + unsure
    print(f"the simulator's log: {sum(1 for p in polls if p)} of {len(polls)} polls failed, {expected} right "
          f"after a good one" + (f" (± {unsure}: delays within 0.1 s of the 2 s deadline)" if unsure else "")
          + f"; the engine logged {len(losses)} losses"
          + ("" if accounted else "  [NOTE: not accounted for; see the simulator's log with --keep]"))

    # Rate following: what was asked of it and what it did.
    set_ok = sum(m.startswith("Set rate to ") for m in messages)
    set_failed = [m for m in messages if m.startswith("Set rate failed: ")]
    madi_lines = sum(m.startswith("MADI input rate changed: ") for m in messages)
    madi_events = [(t, int(e[1].split("=")[1])) for t, e in events if e[0] == "state" and e[1].startswith("madi=")]
    device = 48000
    follows, superseded, already = [], 0, 0
    for i, (t, rate) in enumerate(madi_events):
        device = next((int(e[1].split("=")[1]) for t2, e in reversed(events)
                       if t2 <= t and e[0] == "state" and e[1].startswith("device=")), 48000)
        if device == rate:
            already += 1
            continue
        until = madi_events[i + 1][0] if i + 1 < len(madi_events) else float("inf")
        done = next((t2 for t2, e in events if t < t2 < until and e[:2] == ["state", f"device={rate}"]), None)
        if done is None:
            superseded += 1
        else:
            follows.append((done - t) * 1000)
    received = sum(1 for _, e in events if e[:2] == ["request", "set-rate"])
    print(f"MADI changes requested: {len(madi_events)}{' (the final one included)' if final else ''}; "
          f"engine logged {madi_lines} "
          f"MADI changes, {set_ok} 'Set rate to', {len(set_failed)} 'Set rate failed'; simulator received "
          f"{received} set-rates")
    if follows:
        print(f"followed {len(follows)} (median {statistics.median(follows):.0f} ms, worst {max(follows):.0f} ms), "
              f"{superseded} superseded by the next change before followed, {already} already at that rate")
    for reason, count in collections.Counter(set_failed).most_common():
        print(f"  {count:4d} × {reason}")

    if final:
        state = final["state"]
        followed = final["followed_after"]
        in_step = state["madi_sync"] and state["device_rate"] == state["madi_rate"]
        ok = in_step and followed is not None and followed <= FINAL_FOLLOW_LIMIT_S
        stuck = f"final state stuck: device {state['device_rate']} Hz, MADI {state['madi_rate']} Hz"
        print(f"final: faults cleared, sync on, MADI set to {soak.madi}: device {state['device_rate']}, "
              f"MADI {state['madi_rate']}"
              + (f", followed after {followed * 1000:.0f} ms" if followed is not None else "")
              + f"; {final['polls']} polls in the 5 s after  [not stuck: {verdict(ok, stuck)}]"
              f"  [still polling: {verdict(final['polls'] >= 3, 'the engine stopped polling')}]")

    if journal is not None:
        print(f"system log (stand-in): {journal.lines} lines, log file {len(lines)} lines  "
              f"[equal: {verdict(journal.lines == len(lines), 'system log and log file differ')}]")
    print(f"engine exit status{' on SIGTERM' if final else ''}: {engine_status}  "
          f"[0: {verdict(engine_status == 0, f'engine exit status {engine_status}')}]; simulator {sim_status}")
    output = open(f"{root}/engine.out", errors="replace").read().splitlines()
    if output:
        print(f"engine output: {len(output)} lines; first distinct:")
        for line in list(dict.fromkeys(output))[:10]:
            print(f"  {line}")


if __name__ == "__main__":
    main()
