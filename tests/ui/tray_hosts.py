#!/usr/bin/env python3
"""The real program in real trays: XFCE's panel under Xvfb (X11) and waybar under headless sway
(Wayland), each started 5 s after Quorvel as at a login where the autostart folder wins the race.
The program polls the device simulator on loopback only. A case whose programs (for sway, which
refuses root, a throwaway user) are missing is skipped; when all are, the exit status is 77.
Usage: tray_hosts.py BIN_DIR"""
import importlib.util
import json
import os
import pwd
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from _procutil import make_tree, start_simulator, stop, write_loopback_settings  # noqa: E402
from desktop_idle import as_user, ensure_user  # noqa: E402

BIN = ""
WAYLAND_USER = os.environ.get("QUORVEL_WAYLAND_USER", "quorvel-tray")
WATCHER = "org.kde.StatusNotifierWatcher"
MENU = [("Open Quorvel", "", -1), ("Auto-sync enabled", "checkmark", 1), ("Launch at login", "checkmark", 0),
        ("Settings…", "", -1), ("Quit Quorvel", "", -1)]


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not predicate():
        time.sleep(0.2)
    return predicate()


class Desktop:
    """A temporary XDG tree, the simulator, a session bus every user of the test may use, and the
    processes started on it, ended in reverse order by their own ids."""

    def __init__(self, user=None):
        self.user = user
        self.root, self.env = make_tree("quorvel-tray.")
        self.processes = []
        self.sim, port = start_simulator(f"{BIN}/m1620-sim", self.root, self.env, f"{self.root}/sim.log")
        write_loopback_settings(self.env, port)  # before the program starts: never the default address
        if user:
            entry = pwd.getpwnam(user)
            os.chmod(self.root, 0o755)
            for path, dirs, files in os.walk(self.root):
                for name in [""] + dirs + files:
                    os.chown(os.path.join(path, name), entry.pw_uid, entry.pw_gid)
        with open(f"{self.root}/bus.conf", "w") as f:
            f.write(f"""<busconfig><type>session</type><listen>unix:path={self.root}/bus</listen>
<auth>EXTERNAL</auth><standard_session_servicedirs/><policy context="default"><allow user="*"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>""")
        self.start(["dbus-daemon", "--config-file", f"{self.root}/bus.conf", "--nofork"], own=False)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={self.root}/bus"
        wait_for(lambda: os.path.exists(f"{self.root}/bus"), 10)

    def start(self, argv, own=True, log=None):
        out = open(f"{self.root}/{log}", "w") if log else subprocess.DEVNULL
        process = subprocess.Popen(as_user(argv, self.user if own else None), env=self.env, stdout=out,
                                   stderr=subprocess.STDOUT)
        if log:
            out.close()
        self.processes.append(process)
        return process

    def run(self, argv, env=None):
        return subprocess.run(as_user(argv, self.user), env=env or self.env, capture_output=True, text=True,
                              timeout=20)

    def log(self):
        with open(f"{self.env['XDG_STATE_HOME']}/Quorvel/sync.log") as f:
            return f.read()

    def close(self):
        for process in reversed(self.processes):
            stop(process, 5)
        stop(self.sim, 5)
        shutil.rmtree(self.root, ignore_errors=True)


def registered_items(bus):
    try:
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        return [str(i) for i in watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                            dbus_interface="org.freedesktop.DBus.Properties")]
    except dbus.DBusException:  # no watcher (yet)
        return []


class TrayHosts(unittest.TestCase):
    def run_in_tray(self, desktop, bar, panel_shown):
        """Quorvel, then the bar; checks the item and that activating it toggles the panel.
        Returns Quorvel, the bar and the bus."""
        quorvel = desktop.start([f"{BIN}/quorvel"], log="quorvel.err")
        time.sleep(5)
        bar = desktop.start(bar, log="bar.log")
        bus = dbus.bus.BusConnection(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
        items = wait_for(lambda: registered_items(bus), 40)
        self.assertEqual(len(items), 1, f"no icon registered; log:\n{desktop.log()}")
        service, _, path = items[0].partition("/")  # "service/path", or the standard path
        item = bus.get_object(service, "/" + path if path else "/StatusNotifierItem")
        props = item.GetAll("org.kde.StatusNotifierItem", dbus_interface="org.freedesktop.DBus.Properties")
        self.assertEqual(str(props["Status"]), "Active")
        self.assertTrue(str(props["ToolTip"][2]).startswith("Quorvel"))
        self.assertTrue(props["IconPixmap"], "the icon is sent as a picture")
        _, (_, _, children) = bus.get_object(service, str(props["Menu"])).GetLayout(
            0, -1, dbus.Array([], signature="s"), dbus_interface="com.canonical.dbusmenu")
        self.assertEqual([(str(p.get("label", "")).replace("_", ""), str(p.get("toggle-type", "")),
                           int(p.get("toggle-state", -1))) for _, p, _ in children if p.get("type") != "separator"],
                         MENU)
        for shown in (True, False):
            item.Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
            self.assertTrue(wait_for(lambda: bool(panel_shown(quorvel)) == shown, 10), f"panel shown: {not shown}")
        return quorvel, bar, bus

    def test_xfce_panel_on_x11(self):
        for program in ("Xvfb", "xfwm4", "xfce4-panel", "xdotool"):
            if not shutil.which(program):
                self.skipTest(f"{program} is not installed (packages xvfb, xfwm4, xfce4-panel, xdotool)")
        desktop = Desktop()
        self.addCleanup(desktop.close)
        display = next(n for n in range(90, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                       and not os.path.exists(f"/tmp/.X{n}-lock"))
        desktop.start(["Xvfb", f":{display}", "-screen", "0", "1280x720x24", "-nolisten", "tcp"])
        self.assertTrue(wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{display}"), 10), "Xvfb did not start")
        desktop.env.update(DISPLAY=f":{display}", QT_QPA_PLATFORM="xcb")
        desktop.env.pop("WAYLAND_DISPLAY", None)
        desktop.start(["xfwm4"])

        def panel_shown(_=None):
            return desktop.run(["xdotool", "search", "--onlyvisible", "--name", "^Quorvel$"]).stdout.split()

        quorvel, _, _ = self.run_in_tray(desktop, ["xfce4-panel"], panel_shown)
        # A second start shows the running one's panel and ends at once.
        second = desktop.run([f"{BIN}/quorvel"])
        self.assertEqual((second.returncode, second.stderr), (0, ""))
        self.assertTrue(wait_for(panel_shown, 10), "a second start showed no panel")
        self.assertEqual(stop(quorvel, 15), 0, "SIGTERM, as at a logout, ends it cleanly")
        self.assertIn("] [INFO] Sync starting", desktop.log())
        self.assertNotIn("No system tray found", desktop.log())
        # Without any display it says how to run.
        alone = desktop.run([f"{BIN}/quorvel"], env={k: v for k, v in desktop.env.items()
                                                       if k not in ("DISPLAY", "QT_QPA_PLATFORM")})
        self.assertEqual(alone.returncode, 2)
        self.assertIn("--headless", alone.stderr)

    def test_waybar_on_sway(self):
        for program in ("sway", "waybar", "swaymsg"):
            if not shutil.which(program):
                self.skipTest(f"{program} is not installed (packages sway, waybar)")
        try:  # sway refuses root: a system user of the tests' own, with no home and no login
            desktop = Desktop(ensure_user(WAYLAND_USER).pw_name if os.geteuid() == 0 else None)
        except subprocess.CalledProcessError:
            self.skipTest(f"sway refuses root and no user {WAYLAND_USER} could be made to run it as")
        self.addCleanup(desktop.close)
        runtime = desktop.env["XDG_RUNTIME_DIR"]
        with open(f"{desktop.root}/sway.conf", "w") as f:
            f.write("output HEADLESS-1 resolution 1280x720\nfocus_follows_mouse yes\n")
        with open(f"{desktop.root}/waybar.json", "w") as f:
            f.write('{"layer": "top", "height": 26, "modules-right": ["tray", "clock"]}\n')
        desktop.env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        desktop.env.pop("DISPLAY", None)
        desktop.start(["sway", "-c", f"{desktop.root}/sway.conf"], log="sway.log")
        sockets = lambda: [n for n in os.listdir(runtime) if n.startswith("wayland-") and not n.endswith(".lock")]
        if not wait_for(sockets, 15):
            with open(f"{desktop.root}/sway.log") as f:
                self.skipTest("sway did not start: " + " / ".join(f.read().strip().splitlines()[-2:]))
        desktop.env.update(WAYLAND_DISPLAY=sockets()[0], QT_QPA_PLATFORM="wayland")
        desktop.env["SWAYSOCK"] = wait_for(
            lambda: next((f"{runtime}/{n}" for n in os.listdir(runtime) if n.startswith("sway-ipc")), None), 10)

        def panel_shown(quorvel):
            stack = [json.loads(desktop.run(["swaymsg", "-r", "-t", "get_tree"]).stdout or "{}")]
            while stack:
                node = stack.pop()
                if node.get("name") == "Quorvel" and node.get("pid") == quorvel.pid:
                    return node
                stack += node.get("nodes", []) + node.get("floating_nodes", [])
            return None

        bar = ["waybar", "-c", f"{desktop.root}/waybar.json"]
        quorvel, waybar, bus = self.run_in_tray(desktop, bar, panel_shown)
        desktop.run([f"{BIN}/quorvel"])  # shows the panel, which the compositor must float, not tile
        self.assertEqual(wait_for(lambda: panel_shown(quorvel), 10)["type"], "floating_con")
        if shutil.which("wtype"):
            # Each wtype is a new virtual keyboard, whose keymap the compositor sends first: a key
            # that overtakes it is lost, so Escape is pressed until the panel goes.
            def escape_closes():
                desktop.run(["wtype", "-k", "Escape"])
                return wait_for(lambda: not panel_shown(quorvel), 1)

            self.assertTrue(wait_for(escape_closes, 10), "Escape left the panel open")
        # The bar restarts: the icon comes back.
        stop(waybar, 5)
        self.assertTrue(wait_for(lambda: not registered_items(bus), 10))
        desktop.start(bar, log="bar2.log")
        self.assertEqual(len(wait_for(lambda: registered_items(bus), 20)), 1, "the icon did not come back")
        self.assertIsNone(quorvel.poll())
        self.assertNotIn("No system tray found", desktop.log())


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
    if importlib.util.find_spec("dbus") is None:
        print("SKIP: python3-dbus is not installed")
        sys.exit(77)
    import dbus
    import dbus.bus
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    result = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]], exit=False).result
    sys.exit(1 if not result.wasSuccessful() else 77 if len(result.skipped) == result.testsRun else 0)
