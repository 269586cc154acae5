#!/usr/bin/env python3
"""What Quorvel costs while nothing happens: the headless engine, and the desktop program
sitting in a real tray on X11 (Xvfb with trayer or xfce4-panel) and on Wayland (headless sway
with waybar), all against the real `m1620-sim` on loopback with a steady device, measured in
one run so that the ratios hold on a busy machine.

For each: CPU per poll, wake-ups a second (context switches of all threads), resident memory
and its private part, threads, and for the desktops the D-Bus messages the program sent while
idle (a tray icon that is re-sent when nothing changed shows here).

Sway refuses to run as root, so as root the Wayland run belongs to a throwaway user (created
once, `--wayland-user`, default "quorvel-bench"). Each desktop is skipped, with the reason,
where its programs are missing.

Usage: bench/desktop_idle.py [--bin build/bin] [--seconds 20] [--x11-host trayer|xfce]
"""
import argparse
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
from _procutil import (cpu_seconds, make_tree, proc_status, sim_events, start_simulator, stop, tied_to_us,
                       write_loopback_settings)


def as_user(argv, user):
    """The command, run as user with every id and group of that user's (sway checks that root
    cannot be regained), keeping the environment, and ended should this script die."""
    if not user:
        return tied_to_us(argv)
    entry = pwd.getpwnam(user)
    return ["setpriv", "--pdeathsig", "TERM", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}",
            "--clear-groups", "--", *argv]


def context_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def private_kib(pid):
    total = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith(("Private_Clean", "Private_Dirty")):
                total += int(line.split()[1])
    return total


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


class Bus:
    """A private session bus; its monitor counts what one connection sends."""

    def __init__(self, env, user=None):
        self.env = env
        self.user = user
        self.daemon = subprocess.Popen(as_user(["dbus-daemon", "--session", "--nofork", "--print-address=1"], user),
                                       stdout=subprocess.PIPE, text=True, env=env)
        self.address = self.daemon.stdout.readline().strip()
        env["DBUS_SESSION_BUS_ADDRESS"] = self.address
        self.monitor = None

    def unique_name_of(self, pid):
        names = subprocess.run(as_user(["gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/",
                                "-m", "org.freedesktop.DBus.ListNames"], self.user), env=self.env,
                               capture_output=True, text=True).stdout
        for name in names.replace("[", " ").replace("]", " ").replace("(", " ").replace(")", " ").split(","):
            name = name.strip().strip("'")
            if not name.startswith(":"):
                continue
            out = subprocess.run(as_user(["gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/", "-m",
                                  "org.freedesktop.DBus.GetConnectionUnixProcessID", name], self.user),
                                 env=self.env, capture_output=True, text=True).stdout
            if out.strip().strip("(),").replace("uint32", "").strip() == str(pid):
                return name
        return None

    def registered_items(self):
        """The StatusNotifierItems the tray host knows, or None without a watcher."""
        out = subprocess.run(as_user(["gdbus", "call", "--session", "-d", "org.kde.StatusNotifierWatcher", "-o",
                                      "/StatusNotifierWatcher", "-m", "org.freedesktop.DBus.Properties.Get",
                                      "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"], self.user),
                             env=self.env, capture_output=True, text=True)
        return out.stdout.count("/StatusNotifierItem") if out.returncode == 0 else None

    def start_counting(self, log_path):
        self.monitor = subprocess.Popen(as_user(["dbus-monitor", "--address", self.address, "--profile"], self.user),
                                        stdout=open(log_path, "w"), env=self.env)

    def sent_by(self, log_path, name):
        stop(self.monitor)
        count = 0
        with open(log_path) as f:
            for line in f:
                fields = line.split("\t")
                if len(fields) > 3 and fields[3] == name and fields[0] in ("sig", "mc", "mr", "err"):
                    count += 1
        return count

    def close(self):
        if self.monitor:
            stop(self.monitor)
        stop(self.daemon)


def start_x11(root, env, host):
    for program in ("Xvfb", "trayer" if host == "trayer" else "xfce4-panel"):
        if not shutil.which(program):
            return None, f"{program} is not installed"
    display = next(n for n in range(90, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                   and not os.path.exists(f"/tmp/.X{n}-lock"))
    xvfb = subprocess.Popen(tied_to_us(["Xvfb", f":{display}", "-screen", "0", "1280x720x24", "-nolisten", "tcp"]),
                            env=env, stderr=subprocess.DEVNULL)
    if not wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{display}"), 10):
        stop(xvfb)
        return None, "Xvfb did not start"
    env["DISPLAY"] = f":{display}"
    env.pop("WAYLAND_DISPLAY", None)
    env["QT_QPA_PLATFORM"] = "xcb"
    processes = [xvfb]
    if host == "trayer":
        processes.append(subprocess.Popen(tied_to_us(["trayer", "--edge", "top", "--align", "right",
                                                      "--widthtype", "request", "--height", "24"]), env=env,
                                          stderr=subprocess.DEVNULL))
    else:
        processes.append(subprocess.Popen(tied_to_us(["xfwm4"]), env=env, stderr=subprocess.DEVNULL))
        processes.append(subprocess.Popen(tied_to_us(["xfce4-panel"]), env=env, stderr=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL))
    time.sleep(2.0)
    return processes, None


def start_wayland(root, env, user):
    for program in ("sway", "waybar"):
        if not shutil.which(program):
            return None, f"{program} is not installed"
    runtime = env["XDG_RUNTIME_DIR"]
    # swaybar_command takes a program without arguments: a script hands waybar its config.
    with open(f"{root}/waybar.json", "w") as f:
        f.write('{"layer": "top", "height": 26, "modules-right": ["tray", "clock"]}\n')
    with open(f"{root}/bar.sh", "w") as f:
        f.write(f"#!/bin/sh\nexec waybar -c {root}/waybar.json \"$@\" 2>{root}/waybar.log\n")
    os.chmod(f"{root}/bar.sh", 0o755)
    with open(f"{root}/sway.conf", "w") as f:
        f.write(f"output HEADLESS-1 resolution 1280x720\nbar swaybar_command {root}/bar.sh\n")
    if user:
        for name in ("waybar.json", "bar.sh", "sway.conf"):
            shutil.chown(f"{root}/{name}", user)
    env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
    env.pop("DISPLAY", None)
    sway = subprocess.Popen(as_user(["sway", "-c", f"{root}/sway.conf"], user), env=env,
                            stdout=open(f"{root}/sway.log", "w"), stderr=subprocess.STDOUT)
    if not wait_for(lambda: any(n.startswith("wayland-") and not n.endswith(".lock") for n in os.listdir(runtime)),
                    10):
        stop(sway)
        with open(f"{root}/sway.log") as f:
            return None, "sway did not start: " + " / ".join(f.read().strip().splitlines()[-2:])
    env["WAYLAND_DISPLAY"] = next(n for n in os.listdir(runtime) if n.startswith("wayland-") and
                                  not n.endswith(".lock"))
    env["QT_QPA_PLATFORM"] = "wayland"
    time.sleep(2.0)  # waybar registers its tray host
    return [sway], None


def measure(label, argv, env, sim_log, seconds, user=None, bus=None, root=None):
    app = subprocess.Popen(as_user(argv, user), env=env, stdout=subprocess.DEVNULL,
                           stderr=open(f"{root}/{label}.err", "w"))
    try:
        time.sleep(5.0)  # start-up, first polls, the tray
        if app.poll() is not None:
            with open(f"{root}/{label}.err") as f:
                why = f.read().strip().splitlines()[-3:]
            return f"{label}: exited at start with status {app.returncode}: {' / '.join(why)}"
        name = bus.unique_name_of(app.pid) if bus else None
        if bus:
            bus.start_counting(f"{root}/{label}.dbus")
        cpu0, sw0, w0 = cpu_seconds(app.pid), context_switches(app.pid), time.monotonic()
        time.sleep(seconds)
        cpu1, sw1, w1 = cpu_seconds(app.pid), context_switches(app.pid), time.monotonic()
        status = proc_status(app.pid)
        private = private_kib(app.pid)
        polls = len([t for t, e in sim_events(sim_log) if e[:2] == ["request", "status"] and w0 <= t <= w1])
        sent = bus.sent_by(f"{root}/{label}.dbus", name) if bus and name else None
        figures = {
            "cpu_per_poll_ms": (cpu1 - cpu0) * 1e3 / max(1, polls),
            "polls": polls,
            "wakeups_per_s": (sw1 - sw0) / (w1 - w0),
            "rss_mib": status.get("VmRSS", 0) / 1024,
            "private_mib": private / 1024,
            "threads": status.get("Threads", 0),
            "dbus_sent": sent,
            "sni_items": bus.registered_items() if bus else None,
        }
        return figures
    finally:
        stop(app, 10)


def ensure_user(name):
    try:
        return pwd.getpwnam(name)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name], check=True)
        return pwd.getpwnam(name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin"))
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--x11-host", choices=("trayer", "xfce"), default="trayer")
    parser.add_argument("--wayland-user", default="quorvel-bench")
    args = parser.parse_args()
    bindir = os.path.abspath(args.bin)
    for program in ("quorvel", "quorvel-engine", "m1620-sim"):
        if not os.access(f"{bindir}/{program}", os.X_OK):
            sys.exit(f"missing {bindir}/{program}: build first (cmake --build build)")

    results = {}
    runs = [("headless", None), (f"x11-{args.x11_host}", "x11"), ("wayland-waybar", "wayland")]
    for label, desktop in runs:
        user = None
        if desktop == "wayland" and os.geteuid() == 0:
            user = args.wayland_user
            ensure_user(user)
        root, env = make_tree("quorvel-idle.")
        processes = []
        bus = None
        try:
            if user:
                shutil.chown(root, user)
                for dirpath, dirnames, filenames in os.walk(root):
                    for entry in dirnames + filenames:
                        shutil.chown(os.path.join(dirpath, entry), user)
            sim_log = f"{root}/sim.log"
            sim, port = start_simulator(f"{bindir}/m1620-sim", root, env, sim_log)
            processes.append(sim)
            # Loopback only: the program never sees the default device address.
            settings = write_loopback_settings(env, port, showRateInMenuBar=True)
            if user:
                shutil.chown(settings, user)
            bus = Bus(env, user)
            if desktop == "x11":
                started, why = start_x11(root, env, args.x11_host)
            elif desktop == "wayland":
                started, why = start_wayland(root, env, user)
            else:
                started, why = [], None
            if started is None:
                results[label] = f"{label}: skipped ({why})"
                continue
            processes.extend(started)
            argv = [f"{bindir}/quorvel-engine", "--headless"] if desktop is None else [f"{bindir}/quorvel"]
            results[label] = measure(label, argv, env, sim_log, args.seconds, user=user,
                                     bus=bus if desktop else None, root=root)
        finally:
            if bus:
                bus.close()
            for p in reversed(processes):
                stop(p, 5)
            shutil.rmtree(root, ignore_errors=True)

    headless = results.get("headless")
    for label, figures in results.items():
        if isinstance(figures, str):
            print(figures)
            continue
        ratio = ""
        if label != "headless" and isinstance(headless, dict) and headless["cpu_per_poll_ms"]:
            r = figures["cpu_per_poll_ms"] / headless["cpu_per_poll_ms"]
            ratio = f" = {r:.2f} x headless [goal <= 1.2: {'ok' if r <= 1.2 else 'MISSED'}]"
        sent = "" if figures["dbus_sent"] is None else f", D-Bus messages sent while idle {figures['dbus_sent']}"
        if figures["sni_items"] is not None:
            sent += f", tray items registered {figures['sni_items']}"
        print(f"{label}: CPU per poll {figures['cpu_per_poll_ms']:.3f} ms ({figures['polls']} polls){ratio}; "
              f"wake-ups {figures['wakeups_per_s']:.1f}/s; resident {figures['rss_mib']:.1f} MiB, "
              f"private {figures['private_mib']:.1f} MiB; {figures['threads']} threads{sent}")


if __name__ == "__main__":
    main()
