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
import sys
import time

sys.dont_write_bytecode = True
from _desktops import Desktop, ensure_user, missing
from _procutil import cpu_seconds, proc_status, sim_events, stop


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


def messages_sent(log_path, name):
    """What one connection sent, from a dbus-monitor --profile log."""
    with open(log_path) as f:
        rows = [line.split("\t") for line in f]
    return sum(1 for r in rows if len(r) > 3 and r[3] == name and r[0] in ("sig", "mc", "mr", "err"))


def start_desktop(desktop, kind, x11_host):
    """The desktop of this kind with its tray; returns why it could not be had, or None."""
    if kind == "x11":
        host = [["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"]] \
            if x11_host == "trayer" else [["xfwm4"], ["xfce4-panel"]]
        if program := missing("Xvfb", host[-1][0]):
            return f"{program} is not installed"
        if not desktop.start_x11():
            return "Xvfb did not start"
    elif kind == "wayland":
        if program := missing("sway", "waybar"):
            return f"{program} is not installed"
        why = desktop.start_sway()
        if why:
            return why
        host = [desktop.bar]
    else:
        return None
    for argv in host:
        desktop.start(argv)
    time.sleep(2.0)  # the tray host registers
    return None


def measure(label, desktop, argv, seconds, tray):
    app = desktop.start(argv, log=f"{label}.err")
    time.sleep(5.0)  # start-up, first polls, the tray
    if app.poll() is not None:
        with open(f"{desktop.root}/{label}.err") as f:
            why = f.read().strip().splitlines()[-3:]
        return f"{label}: exited at start with status {app.returncode}: {' / '.join(why)}"
    name = None
    if tray:  # the program's own bus name leads to the connection to count
        owner = desktop.run(["gdbus", "call", "--session", "-d", "org.freedesktop.DBus", "-o", "/", "-m",
                             "org.freedesktop.DBus.GetNameOwner", "app.quorvel.Quorvel"]).stdout
        name = owner.strip("()',\n ") or None
        monitor = desktop.start(["dbus-monitor", "--address", desktop.address, "--profile"], own=False,
                                log=f"{label}.dbus")
    cpu0, sw0, w0 = cpu_seconds(app.pid), context_switches(app.pid), time.monotonic()
    time.sleep(seconds)
    cpu1, sw1, w1 = cpu_seconds(app.pid), context_switches(app.pid), time.monotonic()
    status = proc_status(app.pid)
    polls = len([t for t, e in sim_events(desktop.sim_log) if e[:2] == ["request", "status"] and w0 <= t <= w1])
    if tray:
        stop(monitor)
    items = desktop.registered_items() if tray else None
    return {
        "cpu_per_poll_ms": (cpu1 - cpu0) * 1e3 / max(1, polls),
        "polls": polls,
        "wakeups_per_s": (sw1 - sw0) / (w1 - w0),
        "rss_mib": status.get("VmRSS", 0) / 1024,
        "private_mib": private_kib(app.pid) / 1024,
        "threads": status.get("Threads", 0),
        "dbus_sent": messages_sent(f"{desktop.root}/{label}.dbus", name) if name else None,
        "sni_items": None if items is None else len(items),
    }


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
    for label, kind in runs:
        user = ensure_user(args.wayland_user).pw_name if kind == "wayland" and os.geteuid() == 0 else None
        desktop = Desktop(bindir, user, "quorvel-idle.", showRateInMenuBar=True)
        try:
            why = start_desktop(desktop, kind, args.x11_host)
            argv = [f"{bindir}/quorvel-engine", "--headless"] if kind is None else [f"{bindir}/quorvel"]
            results[label] = f"{label}: skipped ({why})" if why else measure(label, desktop, argv, args.seconds,
                                                                             tray=kind is not None)
        finally:
            desktop.close()

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
