"""Runs the real program under Xvfb and openbox against the demo blog host.

Standard library only: the X tools (xdotool, xwininfo, xprop, ImageMagick's
import/convert) are driven as processes, screenshots are read as PPM.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.parse
import urllib.request


class Failure(Exception):
    """A check that did not hold."""


_START = time.monotonic()


def progress(message):
    """A timestamped line on stdout: ctest shows it when a scenario fails."""
    print(f"[{time.monotonic() - _START:6.1f} s] {message}", flush=True)


def wait_until(what, condition, timeout, interval=0.2):
    """Polls condition until it returns something truthy; fails with what after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            progress(what)
            return result
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def check(condition, message):
    if not condition:
        raise Failure(message)


class Image:
    """An RGB picture read from a binary PPM."""

    def __init__(self, data):
        fields = []
        pos = 0
        # Header: magic, width, height, maxval, separated by whitespace (no comments from convert).
        while len(fields) < 4:
            match = re.compile(rb"\s*(\S+)").match(data, pos)
            fields.append(match.group(1))
            pos = match.end()
        pos += 1
        check(fields[0] == b"P6" and fields[3] == b"255", "screenshot is not an 8-bit PPM")
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.pixels = data[pos : pos + self.width * self.height * 3]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i : i + 3])

    def region(self, x, y, w, h):
        """The raw bytes of a rectangle, for comparing two pictures of the same place."""
        rows = []
        for yy in range(y, y + h):
            i = (yy * self.width + x) * 3
            rows.append(self.pixels[i : i + w * 3])
        return b"".join(rows)

    def count(self, x, y, w, h, predicate):
        return sum(
            1 for yy in range(y, y + h) for xx in range(x, x + w) if predicate(self.pixel(xx, yy))
        )


def near(colour, wanted, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, wanted))


def dark(colour):
    return sum(colour) < 3 * 110


class Geometry:
    def __init__(self, x, y, width, height, viewable, override_redirect=False):
        self.x, self.y, self.width, self.height, self.viewable = x, y, width, height, viewable
        self.override_redirect = override_redirect

    def __repr__(self):
        state = "viewable" if self.viewable else "unmapped"
        return f"{self.width}x{self.height}+{self.x}+{self.y} ({state})"

    def centre(self):
        return self.x + self.width // 2, self.y + self.height // 2


class XSession:
    """Xvfb on a display number it chooses itself, with openbox managing the windows."""

    def __init__(self, workdir):
        self.workdir = workdir
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(workdir, "xvfb.log"), "wb"))
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        check(number.strip().isdigit(), "Xvfb did not report a display number")
        self.display = ":" + number.strip().decode()
        self.openbox = subprocess.Popen(
            ["openbox", "--sm-disable"], env=self.env(),
            stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(workdir, "openbox.log"), "wb"))
        wait_until("openbox to manage the screen", self._wm_running, 20)

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def _wm_running(self):
        out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check_rc=False)
        return "window id" in out

    def run(self, args, check_rc=True):
        done = subprocess.run(args, env=self.env(), capture_output=True, timeout=30)
        if check_rc and done.returncode != 0:
            raise Failure(f"{' '.join(args)} failed: {done.stderr.decode(errors='replace')}")
        return done.stdout.decode(errors="replace")

    def xdotool(self, *args):
        return self.run(["xdotool", *[str(a) for a in args]])

    def search(self, *criteria):
        """Viewable windows matching xdotool search criteria, e.g. ("--name", "^Ormix$")."""
        out = self.run(["xdotool", "search", "--onlyvisible", *criteria], check_rc=False)
        return [int(w) for w in out.split()]

    def geometry(self, window):
        out = self.run(["xwininfo", "-id", str(window)], check_rc=False)
        values = {}
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            match = re.search(re.escape(key) + r":\s+(-?\d+)", out)
            if not match:
                return None
            values[key] = int(match.group(1))
        return Geometry(values["Absolute upper-left X"], values["Absolute upper-left Y"],
                        values["Width"], values["Height"], "IsViewable" in out,
                        re.search(r"Override Redirect State:\s+yes", out) is not None)

    def prop(self, window, name):
        return self.run(["xprop", "-id", str(window), name], check_rc=False)

    def root_prop(self, name):
        return self.run(["xprop", "-root", name], check_rc=False)

    def screenshot(self, path):
        """Saves the whole screen as PNG at path and returns its pixels."""
        self.run(["import", "-window", "root", path])
        data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"],
                              capture_output=True, check=True, timeout=30).stdout
        return Image(data)

    def close(self):
        for proc in (self.openbox, self.xvfb):
            stop(proc)


def stop(proc, timeout=5):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def end_input(proc):
    """Ends a helper that quits when its standard input closes; stops it if it does not."""
    if proc.poll() is None:
        proc.stdin.close()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            stop(proc)


class DemoHost:
    """The demo blog host on a free loopback port, driven through its control channel."""

    def __init__(self, binary, workdir, extra_args=()):
        self.proc = subprocess.Popen(
            [binary, "--port", "0", "--exit-on-stdin-eof", *extra_args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=open(os.path.join(workdir, "demohost.log"), "wb"))
        self.info = {}
        while not {"PORT", "TOKEN", "USER", "PASSWORD"} <= self.info.keys():
            line = self.proc.stdout.readline().decode()
            check(line, "the demo host ended before it printed its port")
            key, _, value = line.strip().partition(" ")
            self.info[key] = value
        self.port = int(self.info["PORT"])
        self.base = f"http://127.0.0.1:{self.port}"

    @property
    def user(self):
        return self.info["USER"]

    @property
    def password(self):
        return self.info["PASSWORD"]

    def control(self, path, **fields):
        """A control request; POST when fields are given. Returns the JSON answer."""
        data = urllib.parse.urlencode(fields).encode() if fields else None
        request = urllib.request.Request(self.base + "/control/" + path, data=data,
                                         headers={"X-Control-Token": self.info["TOKEN"]})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read().decode())

    def post(self, path, **fields):
        answer = self.control(path, **fields) if fields else self._post_empty(path)
        check(answer.get("ok"), f"control request {path} refused: {answer}")
        return answer

    def _post_empty(self, path):
        request = urllib.request.Request(self.base + "/control/" + path, data=b"",
                                         headers={"X-Control-Token": self.info["TOKEN"]})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read().decode())

    def stats(self):
        return self.control("stats")

    def close(self):
        end_input(self.proc)


def proc_status(pid):
    """The fields of /proc/PID/status; empty once the process is gone."""
    try:
        with open(f"/proc/{pid}/status", encoding="utf-8") as f:
            return dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
    except OSError:
        return {}


def alive(pid):
    """Whether a process runs; a zombie waiting for its parent's reaper does not."""
    return proc_status(pid).get("State", "Z")[:1] not in ("Z", "X")


def reader_of(parent):
    """The pid of the page reader a process started, or None."""
    for name in os.listdir("/proc"):
        if name.isdigit():
            status = proc_status(name)
            if (status.get("Name") == "ormix-reader" and status.get("PPid") == str(parent)
                    and alive(name)):
                return int(name)
    return None


class Program:
    """One run of ormix with its own settings folder and a fake web browser."""

    def __init__(self, binary, session, home, workdir, name="ormix", settings=None,
                 extra_env=None, args=()):
        self.home = home
        if settings:
            # Values the user set earlier, as the program's INI file holds them.
            os.makedirs(os.path.dirname(self.settings_file), exist_ok=True)
            with open(self.settings_file, "w", encoding="utf-8") as ini:
                ini.write("[General]\n" + "".join(f"{k}={v}\n" for k, v in settings.items()))
        self.opened_file = os.path.join(home, "opened.txt")
        bindir = os.path.join(home, "bin")
        os.makedirs(bindir, exist_ok=True)
        browser = os.path.join(bindir, "xdg-open")
        with open(browser, "w") as script:
            script.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.opened_file}"\n')
        os.chmod(browser, 0o755)
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = session.env({
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_STATE_HOME": os.path.join(home, "state"),
            "XDG_RUNTIME_DIR": runtime,
            "PATH": bindir + os.pathsep + os.environ.get("PATH", ""),
            **(extra_env or {}),
        })
        self.log = os.path.join(workdir, name + ".log")
        self.proc = subprocess.Popen([binary, *args], env=env, stdout=open(self.log, "ab"),
                                     stderr=subprocess.STDOUT)

    @property
    def settings_file(self):
        return os.path.join(self.home, "config", "Ormix", "Ormix.conf")

    def settings(self):
        values = {}
        if os.path.exists(self.settings_file):
            with open(self.settings_file, encoding="utf-8") as ini:
                for line in ini:
                    key, sep, value = line.strip().partition("=")
                    if sep:
                        values[key] = value
        return values

    def opened(self):
        if not os.path.exists(self.opened_file):
            return []
        with open(self.opened_file, encoding="utf-8") as f:
            return f.read().splitlines()

    def output(self):
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return f.read()

    def running(self):
        return self.proc.poll() is None

    def reader(self):
        """The pid of this run's page reader, or None while it has none."""
        return reader_of(self.proc.pid)

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"ormix did not end within {timeout} s") from None

    def close(self):
        stop(self.proc)


class PrivateKeyring:
    """A private session bus with an unlocked GNOME Keyring, as a desktop session has."""

    def __init__(self, workdir):
        self.dir = tempfile.mkdtemp(prefix="ormix-keyring-")
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=open(os.path.join(workdir, "dbus.log"), "wb"))
        address = self.bus.stdout.readline().decode().strip()
        check(address, "the private session bus did not start")
        runtime = os.path.join(self.dir, "run")
        os.makedirs(runtime, mode=0o700)
        self.env = {"DBUS_SESSION_BUS_ADDRESS": address}
        keyring_env = dict(os.environ, HOME=self.dir, XDG_DATA_HOME=os.path.join(self.dir, "data"),
                           XDG_RUNTIME_DIR=runtime, **self.env)
        # The keyring's own password on standard input creates and unlocks it.
        subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets",
                        "--daemonize"], input=b"ormix-e2e-keyring", env=keyring_env,
                       capture_output=True, timeout=30, check=True)
        wait_until("the keyring on the private bus", lambda: "boolean true" in subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
             "string:org.freedesktop.secrets"], env=keyring_env, capture_output=True,
            timeout=10).stdout.decode(), 10)
        self.keyring_env = keyring_env

    def lookup(self, key):
        done = subprocess.run(["secret-tool", "lookup", "server", "Ormix", "user", key],
                              env=self.keyring_env, capture_output=True, timeout=20)
        return done.stdout.decode() if done.returncode == 0 else None

    def service_pid(self):
        """The process that answers for the Secret Service on this bus."""
        done = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
             "string:org.freedesktop.secrets"], env=self.keyring_env, capture_output=True,
            timeout=10)
        return int(done.stdout.decode().split()[-1])

    def close(self):
        # The keyring daemon ends with its bus.
        stop(self.bus)
        shutil.rmtree(self.dir, ignore_errors=True)


class NotificationServer:
    """The test's recording notification server on a given session bus."""

    def __init__(self, binary, env, workdir, capabilities):
        self.proc = subprocess.Popen([binary, *capabilities], env=dict(os.environ, **env),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=open(os.path.join(workdir, "recorder.log"), "wb"))
        check(self.proc.stdout.readline().strip() == b"READY",
              "the notification recorder did not start")
        self.received = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.received.append(json.loads(line.decode()))

    def invoke(self, notification_id):
        """What the server sends when the user clicks the notification."""
        self.proc.stdin.write(f"invoke {notification_id}\n".encode())
        self.proc.stdin.flush()

    def close(self):
        end_input(self.proc)


class Artefacts:
    """Screenshots and logs of one scenario; kept only when it fails or ORMIX_E2E_KEEP is set."""

    def __init__(self, root, scenario):
        self.dir = os.path.join(root, scenario)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.home = tempfile.mkdtemp(prefix="ormix-e2e-")
        self.serial = 0

    def path(self, name):
        self.serial += 1
        return os.path.join(self.dir, f"{self.serial:02d}-{name}.png")

    def finish(self, passed):
        shutil.rmtree(self.home, ignore_errors=True)
        if passed and not os.environ.get("ORMIX_E2E_KEEP"):
            shutil.rmtree(self.dir, ignore_errors=True)
