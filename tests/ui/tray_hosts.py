#!/usr/bin/env python3
"""The real program in real trays: XFCE's panel under Xvfb (X11) and waybar under headless sway
(Wayland), each started 5 s after Quorvel as at a login where the autostart folder wins the race.
The program polls the device simulator on loopback only. A case whose programs (for sway, which
refuses root, a throwaway user) are missing is skipped; when all are, the exit status is 77.
Usage: tray_hosts.py BIN_DIR"""
import importlib.util
import json
import os
import signal
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from _desktops import Desktop, ensure_user, missing, wait_for  # noqa: E402
from _procutil import stop  # noqa: E402

BIN = ""
WAYLAND_USER = os.environ.get("QUORVEL_WAYLAND_USER", "quorvel-tray")
MENU = [("Open Quorvel", "", -1), ("Auto-sync enabled", "checkmark", 1), ("Launch at login", "checkmark", 0),
        ("Settings…", "", -1), ("Quit Quorvel", "", -1)]


def sync_log(desktop):
    with open(f"{desktop.env['XDG_STATE_HOME']}/Quorvel/sync.log") as f:
        return f.read()


class TrayHosts(unittest.TestCase):
    def run_in_tray(self, desktop, bar, panel_shown):
        """Quorvel, then the bar; checks the item and that activating it toggles the panel.
        Returns Quorvel and the bar."""
        quorvel = desktop.start([f"{BIN}/quorvel"], log="quorvel.err")
        time.sleep(5)
        bar = desktop.start(bar, log="bar.log")
        items = wait_for(desktop.registered_items, 40) or []
        self.assertEqual(len(items), 1, f"no icon registered; log:\n{sync_log(desktop)}")
        bus = dbus.bus.BusConnection(desktop.address)
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
        return quorvel, bar

    def test_xfce_panel_on_x11(self):
        if program := missing("Xvfb", "xfwm4", "xfce4-panel", "xdotool"):
            self.skipTest(f"{program} is not installed (packages xvfb, xfwm4, xfce4-panel, xdotool)")
        desktop = Desktop(BIN, prefix="quorvel-tray.")
        self.addCleanup(desktop.close)
        self.assertTrue(desktop.start_x11(), "Xvfb did not start")
        desktop.start(["xfwm4"])

        def panel_shown(_=None):
            return desktop.run(["xdotool", "search", "--onlyvisible", "--name", "^Quorvel$"]).stdout.split()

        desktop.env["QT_LOGGING_RULES"] = "quorvel.ui.debug=true"  # says when the panel is shown
        quorvel, _ = self.run_in_tray(desktop, ["xfce4-panel"], panel_shown)
        # A second start shows the running one's panel and ends at once.
        second = desktop.run([f"{BIN}/quorvel"])
        self.assertEqual((second.returncode, second.stderr), (0, ""))
        with open(f"{desktop.root}/quorvel.err") as f:
            self.assertTrue(wait_for(panel_shown, 10), "a second start showed no panel; its log:\n" + f.read())
        self.assertEqual(stop(quorvel, 15), 0, "SIGTERM, as at a logout, ends it cleanly")
        self.assertIn("] [INFO] Sync starting", sync_log(desktop))
        self.assertNotIn("No system tray found", sync_log(desktop))
        # Without any display it says how to run.
        alone = desktop.run([f"{BIN}/quorvel"], env={k: v for k, v in desktop.env.items()
                                                       if k not in ("DISPLAY", "QT_QPA_PLATFORM")})
        self.assertEqual(alone.returncode, 2)
        self.assertIn("--headless", alone.stderr)

    def test_waybar_on_sway(self):
        if program := missing("sway", "waybar", "swaymsg"):
            self.skipTest(f"{program} is not installed (packages sway, waybar)")
        try:  # sway refuses root: a system user of the tests' own
            desktop = Desktop(BIN, ensure_user(WAYLAND_USER).pw_name if os.geteuid() == 0 else None, "quorvel-tray.")
        except subprocess.CalledProcessError:
            self.skipTest(f"sway refuses root and no user {WAYLAND_USER} could be made to run it as")
        self.addCleanup(desktop.close)
        why = desktop.start_sway()
        if why:
            self.skipTest(why)

        def panel_shown(quorvel):
            stack = [json.loads(desktop.run(["swaymsg", "-r", "-t", "get_tree"]).stdout or "{}")]
            while stack:
                node = stack.pop()
                if node.get("name") == "Quorvel" and node.get("pid") == quorvel.pid:
                    return node
                stack += node.get("nodes", []) + node.get("floating_nodes", [])
            return None

        quorvel, waybar = self.run_in_tray(desktop, desktop.bar, panel_shown)
        desktop.run([f"{BIN}/quorvel"])  # shows the panel, which the compositor must float, not tile
        self.assertEqual(wait_for(lambda: panel_shown(quorvel), 10)["type"], "floating_con")
        if not missing("wtype"):
            # Each wtype is a new virtual keyboard, whose keymap the compositor sends first: a key
            # that overtakes it is lost, so Escape is pressed until the panel goes.
            def escape_closes():
                desktop.run(["wtype", "-k", "Escape"])
                return wait_for(lambda: not panel_shown(quorvel), 1)

            self.assertTrue(wait_for(escape_closes, 10), "Escape left the panel open")
        # The bar restarts: the icon comes back.
        stop(waybar, 5)
        self.assertTrue(wait_for(lambda: not desktop.registered_items(), 10))
        desktop.start(desktop.bar, log="bar2.log")
        self.assertEqual(len(wait_for(desktop.registered_items, 20) or []), 1, "the icon did not come back")
        self.assertIsNone(quorvel.poll())
        self.assertNotIn("No system tray found", sync_log(desktop))


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
