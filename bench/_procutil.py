"""Helpers shared by the whole-process benchmarks: a temporary settings and log tree, the
device simulator on loopback, its control API and log, and figures read from /proc."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

# Qt and urllib both honour these; nothing here may go through a proxy, only to loopback.
PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy")


def make_tree(prefix):
    """A temporary HOME and XDG tree (runtime folder 0700) and an environment that points at it.

    The caller removes the returned root folder."""
    root = tempfile.mkdtemp(prefix=prefix)
    folders = {"HOME": "home", "XDG_CONFIG_HOME": "config", "XDG_STATE_HOME": "state",
               "XDG_CACHE_HOME": "cache", "XDG_DATA_HOME": "data", "XDG_RUNTIME_DIR": "runtime"}
    env = dict(os.environ)
    for name in PROXY_VARIABLES:
        env.pop(name, None)
        env.pop(name.upper(), None)
    for variable, folder in folders.items():
        os.makedirs(f"{root}/{folder}", mode=0o700)
        env[variable] = f"{root}/{folder}"
    os.makedirs(f"{root}/config/Quorvel", mode=0o700)
    return root, env


def tied_to_us(argv):
    """The command, made to receive SIGTERM should this script die without ending it (where
    setpriv is available); the pid stays the command's own."""
    setpriv = shutil.which("setpriv")
    return [setpriv, "--pdeathsig", "TERM", "--", *argv] if setpriv else list(argv)


def start_simulator(simulator, root, env, log_path, extra=()):
    """Starts m1620-sim on a free loopback port; returns the process and the port."""
    port_file = f"{root}/port"
    sim = subprocess.Popen(tied_to_us([simulator, "--port", "0", "--port-file", port_file, "--log", log_path,
                                       *extra]), stdout=subprocess.DEVNULL, env=env)
    for _ in range(200):
        if os.path.exists(port_file):
            with open(port_file) as f:
                text = f.read().strip()
            if text:
                return sim, int(text)
        if sim.poll() is not None:
            break
        time.sleep(0.05)
    stop(sim)
    raise RuntimeError(f"{simulator} did not report its port")


def write_loopback_settings(env, port, **extra):
    """Points the engine at the simulator. Written before the engine starts, so it never sees
    the default device address."""
    path = f"{env['XDG_CONFIG_HOME']}/Quorvel/settings.json"
    with open(path, "w") as f:
        json.dump({"customHost": f"127.0.0.1:{port}", "useCustomHost": True,
                   "notifyOnRateChange": False, "notifyOnDisconnect": False, **extra}, f)
    return path


def stop(process, timeout=10):
    """SIGTERM, then wait; SIGKILL if it does not end in time. Returns the exit status
    (negative for a signal), or None if it had to be killed."""
    if process.poll() is not None:
        return process.returncode
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def sim_events(log_path):
    """The simulator's log as (monotonic seconds, words) pairs."""
    events = []
    with open(log_path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2:
                try:
                    events.append((float(parts[0]), parts[1:]))
                except ValueError:
                    pass
    return events


_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def sim_control(port, path, params=None, method="POST"):
    """A request to the simulator's control API (/sim/state, /sim/fault, /sim/reset); returns
    its answer, the simulator's state."""
    query = "?" + urllib.parse.urlencode(params) if params else ""
    data = b"" if method == "POST" else None
    req = urllib.request.Request(f"http://127.0.0.1:{port}{path}{query}", data=data, method=method)
    with _opener.open(req, timeout=5) as reply:
        return json.loads(reply.read() or b"null")


def sim_state(port):
    return sim_control(port, "/sim/state", method="GET")


def cpu_seconds(pid):
    """CPU time of every running thread of a process, in nanosecond resolution."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def process_cpu_seconds(pid):
    """User and system time of a process, threads that have ended included (clock ticks)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_status(pid):
    """VmRSS, VmHWM and RssAnon in KiB and the thread count, from /proc/PID/status."""
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon", "Threads"):
                values[key] = int(rest.split()[0])
    return values


def rss_kib(pid):
    return proc_status(pid).get("VmRSS", 0)


def fd_count(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))
