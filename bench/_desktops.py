"""Real desktops for whole-process runs of the desktop program: a temporary tree with the
simulator on loopback, a private session bus, and Xvfb or headless sway on it. Shared by the
idle benchmark and the tray test."""
import os
import pwd
import re
import shutil
import subprocess
import time

from _procutil import make_tree, start_simulator, stop, tied_to_us, write_loopback_settings


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not predicate():
        time.sleep(0.1)
    return predicate()


def missing(*programs):
    """The first of the programs that is not installed, or None."""
    return next((p for p in programs if not shutil.which(p)), None)


def as_user(argv, user):
    """The command, run as user with every id and group of that user's (sway checks that root
    cannot be regained), keeping the environment, and ended should the caller die."""
    if not user:
        return tied_to_us(argv)
    entry = pwd.getpwnam(user)
    return ["setpriv", "--pdeathsig", "TERM", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}",
            "--clear-groups", "--", *argv]


def ensure_user(name):
    """A system user of our own, with no home and no login, made on first use."""
    try:
        return pwd.getpwnam(name)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name], check=True)
        return pwd.getpwnam(name)


class Desktop:
    """A temporary XDG tree, the simulator, a session bus every user of the run may use, and the
    processes started on it, ended in reverse order by their own ids. With a user, the tree and
    the desktop's programs are that user's."""

    def __init__(self, bindir, user=None, prefix="quorvel-desktop.", **settings):
        self.user = user
        self.root, self.env = make_tree(prefix)
        self.processes = []
        self.sim_log = f"{self.root}/sim.log"
        self.sim, port = start_simulator(f"{bindir}/m1620-sim", self.root, self.env, self.sim_log)
        write_loopback_settings(self.env, port, **settings)  # before the program starts: never the default address
        if user:
            entry = pwd.getpwnam(user)
            os.chmod(self.root, 0o755)
            for path, dirs, files in os.walk(self.root):
                for name in [""] + dirs + files:
                    os.chown(os.path.join(path, name), entry.pw_uid, entry.pw_gid)
        self.address = f"unix:path={self.root}/bus"
        with open(f"{self.root}/bus.conf", "w") as f:
            f.write(f"""<busconfig><type>session</type><listen>{self.address}</listen>
<auth>EXTERNAL</auth><standard_session_servicedirs/><policy context="default"><allow user="*"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>""")
        self.start(["dbus-daemon", "--config-file", f"{self.root}/bus.conf", "--nofork"], own=False)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.address
        wait_for(lambda: os.path.exists(f"{self.root}/bus"), 10)

    def start(self, argv, own=True, log=None):
        """Starts a program of the desktop (own=False: of ours, not the user's)."""
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

    def start_x11(self):
        """Xvfb on a free display number, the environment pointed at it; False if it did not start."""
        display = next(n for n in range(90, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                       and not os.path.exists(f"/tmp/.X{n}-lock"))
        self.start(["Xvfb", f":{display}", "-screen", "0", "1280x720x24", "-nolisten", "tcp"])
        self.env.update(DISPLAY=f":{display}", QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        return wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{display}"), 10)

    def start_sway(self):
        """Headless sway, the environment pointed at it, and self.bar the command of a waybar with
        a tray for it. Returns why sway did not start, or None."""
        runtime = self.env["XDG_RUNTIME_DIR"]
        with open(f"{self.root}/sway.conf", "w") as f:
            f.write("output HEADLESS-1 resolution 1280x720\nfocus_follows_mouse yes\n")
        with open(f"{self.root}/waybar.json", "w") as f:
            f.write('{"layer": "top", "height": 26, "modules-right": ["tray", "clock"]}\n')
        self.bar = ["waybar", "-c", f"{self.root}/waybar.json"]
        self.env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        self.env.pop("DISPLAY", None)
        self.start(["sway", "-c", f"{self.root}/sway.conf"], log="sway.log")
        sockets = lambda: [n for n in os.listdir(runtime) if n.startswith("wayland-") and not n.endswith(".lock")]
        if not wait_for(sockets, 15):
            with open(f"{self.root}/sway.log") as f:
                return "sway did not start: " + " / ".join(f.read().strip().splitlines()[-2:])
        self.env.update(WAYLAND_DISPLAY=sockets()[0], QT_QPA_PLATFORM="wayland")
        self.env["SWAYSOCK"] = wait_for(
            lambda: next((f"{runtime}/{n}" for n in os.listdir(runtime) if n.startswith("sway-ipc")), None), 10)
        return None

    def registered_items(self):
        """The StatusNotifierItems ("service/path") the tray host knows, or None without a host."""
        out = self.run(["gdbus", "call", "--session", "-d", "org.kde.StatusNotifierWatcher", "-o",
                        "/StatusNotifierWatcher", "-m", "org.freedesktop.DBus.Properties.Get",
                        "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"])
        return re.findall(r"'([^']+)'", out.stdout) if out.returncode == 0 else None

    def close(self):
        for process in reversed(self.processes):
            stop(process, 5)
        stop(self.sim, 5)
        shutil.rmtree(self.root, ignore_errors=True)
