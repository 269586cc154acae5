#!/usr/bin/env python3
"""The real program in real trays: XFCE's panel under Xvfb (X11, a StatusNotifierItem host) and
waybar under headless sway (Wayland). Each starts Quorvel first and the panel 5 s later, as at a
login where the autostart folder wins the race: the icon must be registered, the no-tray window
must never open, the item's properties and menu must read right over D-Bus, and activating the
item must open the panel and activating it again close it. On sway the bar is restarted too, and
the icon must come back. The program polls the device simulator on loopback only.

A case whose programs (or, for sway, which refuses root, a throwaway user) are missing is
skipped with the reason; when every case is skipped the exit status is 77.

Usage: tray_hosts.py BIN_DIR [--shots DIR]   (DIR: keep screenshots of tray and panel)
"""
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
from _procutil import make_tree, start_simulator, stop, tied_to_us, write_loopback_settings  # noqa: E402

BIN = ""
SHOTS = None
WAYLAND_USER = os.environ.get("QUORVEL_WAYLAND_USER", "quorvel-tray")
NO_TRAY = "No system tray found"
WATCHER = "org.kde.StatusNotifierWatcher"


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    return predicate()


class Desktop:
    """A temporary XDG tree, the simulator, a bus that every user of the test may use, and the
    processes started on it, ended in reverse order by their own ids."""

    def __init__(self, user=None):
        self.user = user
        self.root, self.env = make_tree("quorvel-tray.")
        self.processes = []
        self.sim, port = start_simulator(f"{BIN}/m1620-sim", self.root, self.env, f"{self.root}/sim.log")
        # Stored before the program starts: it never sees the default device address.
        write_loopback_settings(self.env, port)
        if user:
            entry = pwd.getpwnam(user)
            os.chmod(self.root, 0o755)
            os.chown(self.root, entry.pw_uid, entry.pw_gid)
            for dirpath, dirnames, filenames in os.walk(self.root):
                for name in dirnames + filenames:
                    os.chown(os.path.join(dirpath, name), entry.pw_uid, entry.pw_gid)
        with open(f"{self.root}/bus.conf", "w") as f:
            f.write(f"""<busconfig><type>session</type><listen>unix:path={self.root}/bus</listen>
<auth>EXTERNAL</auth><standard_session_servicedirs/><policy context="default"><allow user="*"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>""")
        self.bus = self.start(["dbus-daemon", "--config-file", f"{self.root}/bus.conf", "--nofork"], as_user=False)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={self.root}/bus"
        wait_for(lambda: os.path.exists(f"{self.root}/bus"), 10)

    def command(self, argv, as_user=True):
        if self.user and as_user:
            entry = pwd.getpwnam(self.user)
            return ["setpriv", "--pdeathsig", "TERM", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}",
                    "--clear-groups", "--", *argv]
        return tied_to_us(argv)

    def start(self, argv, as_user=True, log=None):
        out = open(f"{self.root}/{log}", "w") if log else subprocess.DEVNULL
        process = subprocess.Popen(self.command(argv, as_user), env=self.env, stdout=out, stderr=subprocess.STDOUT)
        if log:
            out.close()
        self.processes.append(process)
        return process

    def run(self, argv):
        return subprocess.run(self.command(argv), env=self.env, capture_output=True, text=True).stdout

    def start_quorvel(self):
        self.env["QT_LOGGING_RULES"] = "quorvel.ui.debug=true;quorvel.platform.debug=true;qt.qpa.tray*=true"
        return self.start([f"{BIN}/quorvel"], log="quorvel.err")

    def log(self):
        try:
            with open(f"{self.env['XDG_STATE_HOME']}/Quorvel/sync.log") as f:
                return f.read()
        except OSError:
            return ""

    def shot(self, argv, name):
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            done = subprocess.run(self.command(argv + [f"{self.root}/{name}"]), env=self.env, capture_output=True,
                                  text=True)
            if done.returncode:
                print(name, done.stderr.strip())
            if os.path.exists(f"{self.root}/{name}"):
                shutil.copy(f"{self.root}/{name}", f"{SHOTS}/{name}")

    def close(self):
        if os.environ.get("QUORVEL_KEEP_TREE"):
            print("kept", self.root)
            self.root = "/nonexistent"
        for process in reversed(self.processes):
            stop(process, 5)
        stop(self.sim, 5)
        shutil.rmtree(self.root, ignore_errors=True)


class StatusNotifierItem:
    """Quorvel's item as the panel's watcher knows it, read over D-Bus."""

    def __init__(self, bus, entry):
        # "service/path", or a bare service with the standard path.
        service, _, path = entry.partition("/")
        self.bus, self.service, self.path = bus, service, "/" + path if path else "/StatusNotifierItem"

    def properties(self):
        obj = self.bus.get_object(self.service, self.path)
        return obj.GetAll("org.kde.StatusNotifierItem", dbus_interface="org.freedesktop.DBus.Properties")

    def menu(self):
        """The top-level entries: (label, toggle-type, toggle-state, enabled), separators left out."""
        import dbus
        obj = self.bus.get_object(self.service, str(self.properties()["Menu"]))
        _, (_, _, children) = obj.GetLayout(0, -1, dbus.Array([], signature="s"),
                                            dbus_interface="com.canonical.dbusmenu")
        entries = []
        for _, props, _ in children:
            if props.get("type") == "separator":
                continue
            entries.append((str(props.get("label", "")).replace("_", ""), str(props.get("toggle-type", "")),
                            int(props.get("toggle-state", -1)), bool(props.get("enabled", True))))
        return entries

    def activate(self):
        self.bus.get_object(self.service, self.path).Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")


def registered_items(bus):
    try:
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        return [str(i) for i in watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                            dbus_interface="org.freedesktop.DBus.Properties")]
    except Exception:  # no watcher (yet)
        return []


def session_bus(address):
    import dbus
    return dbus.bus.BusConnection(address)


class TrayHosts(unittest.TestCase):
    def check_item(self, desktop, bus):
        items = wait_for(lambda: registered_items(bus), 40)
        self.assertEqual(len(items), 1, f"no icon registered; log:\n{desktop.log()}")
        item = StatusNotifierItem(bus, items[0])
        props = item.properties()
        self.assertEqual(str(props["Status"]), "Active")
        self.assertTrue(str(props["ToolTip"][2]).startswith("Quorvel"))
        self.assertTrue(props["IconPixmap"], "the icon is sent as a picture")
        self.assertEqual(item.menu(), [
            ("Open Quorvel", "", -1, True),
            ("Auto-sync enabled", "checkmark", 1, True),
            ("Launch at login", "checkmark", 0, True),
            ("Settings…", "", -1, True),
            ("Quit Quorvel", "", -1, True),
        ])
        return item

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

        quorvel = desktop.start_quorvel()
        time.sleep(5)
        desktop.start(["xfce4-panel"], log="panel.log")
        bus = session_bus(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
        item = self.check_item(desktop, bus)
        time.sleep(1)
        desktop.shot(["import", "-window", "root"], "xfce-tray.png")

        def panel_windows():
            return desktop.run(["xdotool", "search", "--onlyvisible", "--name", "^Quorvel$"]).split()

        item.activate()
        self.assertTrue(wait_for(panel_windows, 10), "activating the item opened no panel")
        desktop.shot(["import", "-window", "root"], "xfce-panel.png")
        item.activate()
        self.assertTrue(wait_for(lambda: not panel_windows(), 10), "activating it again left the panel open")
        self.assertIsNone(quorvel.poll())
        self.assertNotIn(NO_TRAY, desktop.log())

    def test_waybar_on_sway(self):
        for program in ("sway", "waybar", "swaymsg"):
            if not shutil.which(program):
                self.skipTest(f"{program} is not installed (packages sway, waybar)")
        user = None
        if os.geteuid() == 0:
            try:
                pwd.getpwnam(WAYLAND_USER)
            except KeyError:
                # Sway refuses root: a system user of the tests' own, with no home and no login.
                made = subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                                       WAYLAND_USER], stderr=subprocess.DEVNULL).returncode == 0
                if not made:
                    self.skipTest(f"sway refuses root and no user {WAYLAND_USER} could be made to run it as")
            user = WAYLAND_USER
        desktop = Desktop(user)
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

        quorvel = desktop.start_quorvel()
        time.sleep(5)
        waybar = desktop.start(["waybar", "-c", f"{desktop.root}/waybar.json"], log="waybar.log")
        bus = session_bus(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
        item = self.check_item(desktop, bus)
        time.sleep(1)
        desktop.shot(["grim"], "waybar-tray.png")

        def panel_window():
            tree = json.loads(desktop.run(["swaymsg", "-r", "-t", "get_tree"]) or "{}")
            stack = [tree]
            while stack:
                node = stack.pop()
                if node.get("name") == "Quorvel" and node.get("pid") == quorvel.pid:
                    return node
                stack += node.get("nodes", []) + node.get("floating_nodes", [])
            return None

        item.activate()
        window = wait_for(panel_window, 10)
        self.assertTrue(window, "activating the item opened no panel")
        self.assertEqual(window["type"], "floating_con", "the panel is tiled, not a small window")
        desktop.shot(["grim"], "waybar-panel.png")
        if shutil.which("wtype"):
            # Each wtype is a new virtual keyboard, whose keymap the compositor sends first: a key
            # that overtakes it is lost, so Escape is pressed until the panel goes.
            def escape_closes():
                desktop.run(["wtype", "-k", "Escape"])
                return wait_for(lambda: not panel_window(), 1)

            self.assertTrue(wait_for(escape_closes, 10), "Escape left the panel open")
            item.activate()
            self.assertTrue(wait_for(panel_window, 10))
        item.activate()
        self.assertTrue(wait_for(lambda: not panel_window(), 10), "activating it again left the panel open")

        # The bar restarts: the icon comes back.
        stop(waybar, 5)
        self.assertTrue(wait_for(lambda: not registered_items(bus), 10))
        desktop.start(["waybar", "-c", f"{desktop.root}/waybar.json"], log="waybar2.log")
        self.assertEqual(len(wait_for(lambda: registered_items(bus), 20)), 1, "the icon did not come back")
        self.assertIsNone(quorvel.poll())
        self.assertNotIn(NO_TRAY, desktop.log())


if __name__ == "__main__":
    args = sys.argv[1:]
    if "--shots" in args:
        SHOTS = os.path.abspath(args[args.index("--shots") + 1])
        del args[args.index("--shots"):args.index("--shots") + 2]
    BIN = os.path.abspath(args[0]) if args else ""
    if importlib.util.find_spec("dbus") is None:
        print("SKIP: python3-dbus is not installed")
        sys.exit(77)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    result = unittest.main(argv=[sys.argv[0], "-v", *args[1:]], exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if len(result.skipped) == result.testsRun else 0)
